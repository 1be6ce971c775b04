// Pieces of the start-up: base name, log target, address validity and the DAC address rule.
#include "app/startup.h"

#include <gtest/gtest.h>

namespace {

TEST(Startup, BaseNameIsTheTextAfterTheLastSlash) {
    EXPECT_STREQ(base_name_of("/usr/bin/obraBi_to_screen"), "obraBi_to_screen");
    EXPECT_STREQ(base_name_of("obraBi"), "obraBi");
    EXPECT_STREQ(base_name_of("./a_to_screen/obraBi"), "obraBi");
    EXPECT_STREQ(base_name_of("dir/"), "");
}

TEST(Startup, ScreenLogWhenTheBaseNameHoldsToScreenAnywhere) {
    EXPECT_EQ(wants_screen_log("obraBi_to_screen"), 1);
    EXPECT_EQ(wants_screen_log("x_to_screen_y"), 1);
    EXPECT_EQ(wants_screen_log("obraBi"), 0);
    EXPECT_EQ(wants_screen_log("obraBi_to_Screen"), 0);
}

TEST(Startup, AddressIsValidWhenInetAddrAcceptsIt) {
    EXPECT_EQ(is_valid_ipv4("192.168.1.20"), 1);
    EXPECT_EQ(is_valid_ipv4("239.1.2.3"), 1);
    EXPECT_EQ(is_valid_ipv4("0.0.0.0"), 1);
    EXPECT_EQ(is_valid_ipv4("10.1"), 1); // the classic short forms are accepted
    EXPECT_EQ(is_valid_ipv4("255.255.255.255"), 0);
    EXPECT_EQ(is_valid_ipv4(""), 0);
    EXPECT_EQ(is_valid_ipv4("10.0.0.256"), 0);
    EXPECT_EQ(is_valid_ipv4("host"), 0);
}

TEST(Startup, Max9850AddressFollowsVersionAndBoard) {
    struct {
        int version;
        int variant;
        int addr;
    } rows[] = {{257, 0, 0x20}, {257, 1, 0x20}, {258, 1, 0x20},    {258, 0, 0x22},
                {256, 1, 0x22}, {255, 1, 0x22}, {-32768, 1, 0x22}, {-1, 0, 0x22}};
    for (auto r : rows)
        EXPECT_EQ(choose_max9850_address(r.version, r.variant), r.addr)
            << r.version << " variant " << r.variant;
}

} // namespace
