// Codec GPIO lines: the request words and arguments as the driver receives them.
#include "board_trace.h"

#include "board/gpio.h"
#include "sim/devices.h"

namespace {

TEST(Gpio, RequestWordsCarryCommandAndLine) {
    board_dir b;
    make_traced_board(b);
    gpio_set(11, 1);
    gpio_set(6, 1);
    gpio_set(0x10006, 0); // only the low 16 bits name the line
    EXPECT_EQ(sim_gpio_line(11), 1);
    EXPECT_EQ(sim_gpio_line(6), 0);
    gpio_set(6, 1);
    EXPECT_EQ(gpio_get(6), 1);
    EXPECT_EQ(gpio_get(7), 0);
    gpio_setup(3, 0x1FF, 2);
    EXPECT_EQ(trace_lines(b), (std::vector<std::string>{
                                  "/dev/codec-gpio1 0x200000b arg=0x1",
                                  "/dev/codec-gpio1 0x2000006 arg=0x1",
                                  "/dev/codec-gpio1 0x2000006 arg=0x0",
                                  "/dev/codec-gpio1 0x2000006 arg=0x1",
                                  "/dev/codec-gpio1 0x1000006 value=0x1",
                                  "/dev/codec-gpio1 0x1000007 value=0x0",
                                  "/dev/codec-gpio1 0x3 arg=0x2ff0000",
                              }));
    static_assert(gpio_request(gpio_command::drive, 11) == 0x0200000Bul);
    static_assert(gpio_request(gpio_command::read, 0x10006) == 0x01000006ul);
    static_assert(gpio_setup_word(0x1FF, 2) == 0x02FF0000ul);
}

TEST(Gpio, MissingDriverIsReportedOnStandardOutputOnly) {
    board_dir b;
    make_traced_board(b);
    b.remove("/dev/codec-gpio1");
    testing::internal::CaptureStdout();
    gpio_set(6, 1);
    EXPECT_EQ(gpio_get(6), 0);
    gpio_setup(6, 1, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't open devicecan't open device");
    EXPECT_TRUE(lines_with(b, "/dev/codec-gpio1").empty());
    EXPECT_EQ(sim_gpio_line(6), 0);
}

} // namespace
