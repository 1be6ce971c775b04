// Waiting whole seconds, and resolving a host name.
#include "util/resolve_host.h"
#include "util/wait.h"
#include "util_board.h"

#include <cstring>
#include <sys/time.h>

namespace {

double wall_now() {
    timeval t{};
    gettimeofday(&t, nullptr);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

TEST(WaitSeconds, ReturnsOnlyOnceTheWholeSecondsHavePassed) {
    double start = wall_now();
    EXPECT_EQ(wait_seconds(2), 0);
    EXPECT_GE(wall_now() - start, 2.0);
    EXPECT_EQ(wait_seconds(0), 0);
    EXPECT_EQ(wait_seconds(-3), 0);
    EXPECT_EQ(sleep_seconds(0), 0u);
}

TEST(ResolveHost, NumericAddressesOfBothFamilies) {
    char text[64];
    std::memset(text, '#', sizeof text);
    testing::internal::CaptureStdout();
    EXPECT_EQ(resolve_host("127.0.0.1", text, sizeof text), 0);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_STREQ(text, "127.0.0.1");
    EXPECT_TRUE(contains(log, "IPv4 address: 127.0.0.1 (")) << log;

    testing::internal::CaptureStdout();
    EXPECT_EQ(resolve_host("::1", text, sizeof text), 0);
    log = testing::internal::GetCapturedStdout();
    EXPECT_STREQ(text, "::1");
    EXPECT_TRUE(contains(log, "IPv6 address: ::1 (")) << log;
}

TEST(ResolveHost, FailuresAndTooSmallDestinations) {
    char text[8];
    std::memset(text, '#', sizeof text);
    testing::internal::CaptureStderr();
    EXPECT_EQ(resolve_host("", text, sizeof text), -1);
    EXPECT_TRUE(contains(testing::internal::GetCapturedStderr(), "getaddrinfo: "));
    testing::internal::CaptureStdout();
    EXPECT_EQ(resolve_host("10.200.200.200", text, sizeof text), -1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::string(text, sizeof text), std::string(8, '#'));
}

} // namespace
