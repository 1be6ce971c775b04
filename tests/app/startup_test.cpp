// Pieces of the start-up: base name, log target, address validity and the DAC address rule.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <string>

TEST(Startup, NameLogTargetAddressesAndDacAddress) {
    for (auto [path, base] : {std::pair{"/usr/bin/obraBi_to_screen", "obraBi_to_screen"},
                              {"obraBi", "obraBi"},
                              {"./a_to_screen/obraBi", "obraBi"},
                              {"dir/", ""}})
        EXPECT_EQ(std::string(base_name_of(path)), base);
    for (auto [name, screen] : {std::pair{"obraBi_to_screen", 1},
                                {"x_to_screen_y", 1},
                                {"obraBi", 0},
                                {"obraBi_to_Screen", 0}})
        EXPECT_EQ(wants_screen_log(name), screen) << name;
    // What inet_addr accepts, short forms too, but not the all-ones address.
    for (auto [text, valid] : {std::pair{"192.168.1.20", 1},
                               {"0.0.0.0", 1},
                               {"10.1", 1},
                               {"255.255.255.255", 0},
                               {"", 0},
                               {"10.0.0.256", 0},
                               {"host", 0}})
        EXPECT_EQ(is_valid_ipv4(text), valid) << text;
    const int rows[][3] = {{257, 0, 0x20}, {257, 1, 0x20},    {258, 1, 0x20}, {258, 0, 0x22},
                           {256, 1, 0x22}, {-32768, 1, 0x22}, {-1, 0, 0x22}};
    for (auto r : rows)
        EXPECT_EQ(choose_max9850_address(r[0], r[1]), r[2]) << r[0] << " variant " << r[1];
}
