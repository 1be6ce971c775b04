// Pieces of the start-up: address validity and the DAC address rule.
#include "app/startup.h"

#include <cstdio>

#include <gtest/gtest.h>

TEST(Startup, AddressValidityAndDacAddress) {
    // What inet_addr accepts, short forms too, but not the all-ones address.
    const std::pair<const char*, int> addresses[] = {
        {"192.168.1.20", 1}, {"0.0.0.0", 1}, {"10.1", 1}, {"255.255.255.255", 0}, {"", 0},
        {"10.0.0.256", 0},   {"host", 0}};
    for (auto [text, valid] : addresses)
        EXPECT_EQ(is_valid_ipv4(text), valid) << text;
    // What inet_addr reads as the address, without what it ignores after a blank.
    const std::pair<const char*, const char*> values[] = {{"10.0.0.5", "10.0.0.5"},
                                                          {"10.0.0.5  ", "10.0.0.5"},
                                                          {"10.0.0.5 # peer", "10.0.0.5"},
                                                          {" 10.0.0.5", " 10.0.0.5"},
                                                          {"   ", ""}};
    for (auto [value, address] : values) {
        char text[PARAM_TEXT_SIZE] = {};
        std::snprintf(text, sizeof text, "%s", value);
        drop_after_address(text);
        EXPECT_STREQ(text, address) << "'" << value << "'";
    }
    const int dac[][3] = {{257, 0, 0x20}, {257, 1, 0x20},    {258, 1, 0x20}, {258, 0, 0x22},
                          {256, 1, 0x22}, {-32768, 1, 0x22}, {-1, 0, 0x22}};
    for (auto r : dac)
        EXPECT_EQ(choose_max9850_address(r[0], r[1]), r[2]) << r[0] << " variant " << r[1];
}
