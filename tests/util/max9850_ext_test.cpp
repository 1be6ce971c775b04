// The plain MAX9850 set-up and the rate switch: the I2C writes as the driver receives them.
#include "drivers_board.h"

#include "board/max9850.h"
#include "util/max9850_ext.h"

namespace {

using lines = std::vector<std::string>;

// A board whose MAX9850 answers at 0x22.
constexpr const char* BOARD_22 = "variant=0x2D52\nfpga_version=0x0300\n";

lines plain_sequence(unsigned addr, unsigned reg9, unsigned value9) {
    return {i2c_write_line(addr, 0x05, 0xFC), i2c_write_line(addr, 0x02, 0x55),
            i2c_write_line(addr, 0x03, 0x09), i2c_write_line(addr, 0x04, 0x00),
            i2c_write_line(addr, 0x06, 0x00), i2c_write_line(addr, 0x08, 0x80),
            i2c_write_line(addr, 0x09, 0x10), i2c_write_line(addr, 0x0A, 0x00),
            i2c_write_line(addr, 0x07, 0x49), i2c_write_line(addr, reg9, value9),
            i2c_write_line(addr, 0x05, 0xFD)};
}

struct run {
    lines sent;
    std::string log;
};

template <typename F> run on_board(const std::string& conf, F&& body) {
    board_dir b;
    use_driver_board(b, conf);
    testing::internal::CaptureStdout();
    body();
    return {lines_with(b, "/dev/i2c-sw "), testing::internal::GetCapturedStdout()};
}

TEST(Max9850Plain, ElevenWritesWithRegister2Second) {
    run r = on_board(BOARD_22, [] { init_max9850_plain(0x22, 8000); });
    EXPECT_EQ(r.sent, plain_sequence(0x22, 0x09, 0x60));
    EXPECT_EQ(r.log, "init MAX9850 (8000Hz) \n");

    // Only the low byte of the address counts; the rate step as in the bridge's set-up.
    EXPECT_EQ(on_board(BOARD_22, [] { init_max9850_plain(0x122, 44100); }).sent,
              plain_sequence(0x22, 0x09, 0x11));
    EXPECT_EQ(on_board(BOARD_22, [] { init_max9850_plain(0x22, 32000); }).sent,
              plain_sequence(0x22, 0x09, 0x18));
    EXPECT_EQ(on_board(BOARD_22, [] { init_max9850_plain(0x22, 16000); }).sent,
              plain_sequence(0x22, 0x09, 0x10));
    run off = on_board(BOARD_22, [] { init_max9850_plain(0x22, 999); });
    EXPECT_EQ(off.sent, plain_sequence(0x22, 0x05, 0x00));
    EXPECT_EQ(off.log, "init MAX9850 (999Hz) \n");
}

TEST(Max9850Plain, LeavesTheDacRunningWithRegister2Set) {
    board_dir b;
    use_driver_board(b, BOARD_22);
    testing::internal::CaptureStdout();
    init_max9850_plain(0x22, 8000);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(sim_max9850_reg(0x02), 0x55);
    EXPECT_EQ(sim_max9850_reg(0x09), 0x60);
    EXPECT_EQ(sim_playback_enabled(), 1);
}

TEST(Max9850SetRate, ChargePumpBetweenSetupAndRun) {
    const lines bare = {i2c_write_line(0x22, 0x05, 0xFC), i2c_write_line(0x22, 0x05, 0xFD)};
    run at8000 = on_board(BOARD_22, [] { max9850_set_rate(0x22, 8000); });
    EXPECT_EQ(at8000.sent, bare);
    EXPECT_EQ(at8000.log, "");
    EXPECT_EQ(on_board(BOARD_22, [] { max9850_set_rate(0x22, 32000); }).sent, bare);
    EXPECT_EQ(on_board(BOARD_22, [] { max9850_set_rate(0x22, 44100); }).sent,
              (lines{i2c_write_line(0x22, 0x05, 0xFC), i2c_write_line(0x22, 0x07, 0x48),
                     i2c_write_line(0x22, 0x05, 0xFD)}));
    EXPECT_EQ(on_board(BOARD_22, [] { max9850_set_rate(0x22, 48000); }).sent,
              (lines{i2c_write_line(0x22, 0x05, 0xFC), i2c_write_line(0x22, 0x07, 0x49),
                     i2c_write_line(0x22, 0x05, 0xFD)}));
}

} // namespace
