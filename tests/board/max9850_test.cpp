// I2C transport and the MAX9850 set-up: the write transactions as the driver receives them,
// the record's bounds, reads, and a missing driver.
#include "board_trace.h"

#include "board/i2c.h"
#include "board/max9850.h"
#include "log/log.h"
#include "sim/devices.h"

namespace {

using lines = std::vector<std::string>;

// The ten writes of init_max9850 at device addr, with the given step 9.
lines dac_sequence(unsigned addr, unsigned reg9, unsigned value9) {
    return {i2c_write_line(addr, 0x05, 0xFC),   i2c_write_line(addr, 0x03, 0x09),
            i2c_write_line(addr, 0x04, 0x00),   i2c_write_line(addr, 0x06, 0x00),
            i2c_write_line(addr, 0x08, 0x80),   i2c_write_line(addr, 0x09, 0x10),
            i2c_write_line(addr, 0x0A, 0x00),   i2c_write_line(addr, 0x07, 0x49),
            i2c_write_line(addr, reg9, value9), i2c_write_line(addr, 0x05, 0xFD)};
}

class Max9850 : public ::testing::Test {
  protected:
    void use_board(const std::string& conf) {
        make_traced_board(b, conf);
        log_to_screen();
    }
    board_dir b;
};

TEST_F(Max9850, InitDacAt8000WritesTenRegistersAtTheChosenAddress) {
    // Version 0x0300 on a board other than the variant: the DAC answers at 0x22.
    use_board("variant=0x2D52\nfpga_version=0x0300\n");
    ASSERT_EQ(sim_max9850_addr(), 0x22);
    max9850I2cAddr = 0x22;
    testing::internal::CaptureStdout();
    init_dac(8000);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "init MAX9850 4 Intercomm (8000Hz) \n");
    EXPECT_EQ(lines_with(b, "/dev/i2c-sw "), dac_sequence(0x22, 0x09, 0x60));
    EXPECT_EQ(sim_max9850_reg(0x05), 0xFD);
    EXPECT_EQ(sim_max9850_reg(0x09), 0x60);
    EXPECT_EQ(sim_playback_enabled(), 1);
    EXPECT_EQ(fd_i2cDev, -1);
}

TEST_F(Max9850, RateStepAndAddress) {
    use_board("fpga_version=0x0101\n"); // version 257: 0x20
    ASSERT_EQ(sim_max9850_addr(), 0x20);
    testing::internal::CaptureStdout();
    init_max9850(0x120, 999); // only the low byte of the address counts
    EXPECT_EQ(lines_with(b, "/dev/i2c-sw "), dac_sequence(0x20, 0x05, 0x00));

    b.remove("/sim/trace.log");
    b.configure("trace=trace.log\nfpga_version=0x0101\n");
    init_max9850(0x20, 16000);
    EXPECT_EQ(lines_with(b, "/dev/i2c-sw "), dac_sequence(0x20, 0x09, 0x10));

    b.remove("/sim/trace.log");
    b.configure("trace=trace.log\nfpga_version=0x0101\n");
    init_max9850(0x20, 44100);
    EXPECT_EQ(lines_with(b, "/dev/i2c-sw "), dac_sequence(0x20, 0x09, 0x11));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("init MAX9850 4 Intercomm (999Hz) \n"), std::string::npos);
    EXPECT_NE(out.find("init MAX9850 4 Intercomm (16000Hz) \n"), std::string::npos);
}

TEST_F(Max9850, WrongAddressFailsQuietlyAndLeavesTheDacOff) {
    use_board("variant=0x2D54\nfpga_version=0x0102\n"); // the DAC is at 0x20 here
    testing::internal::CaptureStdout();
    init_max9850(0x22, 8000);
    testing::internal::GetCapturedStdout();
    lines got = lines_with(b, "/dev/i2c-sw ");
    ASSERT_EQ(got.size(), 10u);
    for (const std::string& l : got)
        EXPECT_NE(l.find("addr=0x22 "), std::string::npos) << l;
    EXPECT_EQ(sim_max9850_reg(0x05), 0x00);
    EXPECT_EQ(sim_playback_enabled(), 0);
}

TEST_F(Max9850, MissingDriverGivesTenPerrorLinesAndReturns) {
    use_board("");
    b.remove("/dev/i2c-sw");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    init_max9850(0x20, 8000);
    std::string err = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    std::string one = "/dev/i2c-sw: No such file or directory\n";
    std::string ten;
    for (int i = 0; i < 10; ++i)
        ten += one;
    EXPECT_EQ(err, ten);
    EXPECT_TRUE(lines_with(b, "/dev/i2c-sw ").empty());
}

TEST_F(Max9850, TransfersCopyBackReadAndRefuseOversizedRecords) {
    use_board("fpga_version=0x0101\n");
    ASSERT_EQ(i2c_open(), 1);
    uint8_t data[3] = {0x11, 0x22, 0x33};
    EXPECT_EQ(i2c_xfer_write(0x20, 0x03, data, 3), 1);
    EXPECT_EQ(data[0], 0x11);
    EXPECT_EQ(data[2], 0x33);
    uint8_t back[3] = {};
    EXPECT_EQ(i2c_xfer_read(0x20, 0x03, back, 3), 1);
    EXPECT_EQ(back[0], 0x11);
    EXPECT_EQ(back[1], 0x22);
    EXPECT_EQ(back[2], 0x33);

    // Nobody at 0x30: a failed read leaves the buffer alone.
    uint8_t untouched[2] = {0xAA, 0xBB};
    EXPECT_EQ(i2c_xfer_read(0x30, 0x00, untouched, 2), 0);
    EXPECT_EQ(untouched[0], 0xAA);
    EXPECT_EQ(untouched[1], 0xBB);
    EXPECT_EQ(i2c_xfer_write(0x30, 0x00, untouched, 2), 0);

    // Lengths the record cannot carry are refused before anything is sent.
    static uint8_t big[300] = {};
    const size_t before = lines_with(b, "/dev/i2c-sw ").size();
    EXPECT_EQ(i2c_xfer_write(0x20, 0x00, big, 256), 0);
    EXPECT_EQ(i2c_xfer_write(0x20, 0x00, big, 0), 0);
    EXPECT_EQ(i2c_xfer_write(0x20, 0x00, big, -1), 0);
    EXPECT_EQ(i2c_xfer_read(0x20, 0x00, big, 256), 0);
    EXPECT_EQ(lines_with(b, "/dev/i2c-sw ").size(), before);
    i2c_close();
    EXPECT_EQ(fd_i2cDev, -1);

    lines got = lines_with(b, "/dev/i2c-sw ");
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(got[0], "/dev/i2c-sw 0x2 addr=0x20 reg=0x3 len=0x3 data=112233");
    EXPECT_EQ(got[1], "/dev/i2c-sw 0x1 addr=0x20 reg=0x3 len=0x3 data=112233");
    EXPECT_EQ(got[2], "/dev/i2c-sw 0x1 addr=0x30 reg=0x0 len=0x2 data= fail");

    uint8_t value[1] = {};
    i2c_read(0x20, 0x04, value, 1);
    EXPECT_EQ(value[0], 0x22);
    EXPECT_EQ(sizeof(sw_bus_msg), 4u + SW_BUS_DATA_MAX);
}

} // namespace
