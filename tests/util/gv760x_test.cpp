// GV760x register access: the 4-byte transfer on spidev port 0, byte order both ways, and the
// value read back from the chip.
#include "drivers_board.h"

#include "util/gv760x.h"

namespace {

class Gv760x : public ::testing::Test {
  protected:
    void SetUp() override {
        use_driver_board(b);
        spi_lock_probe::install();
    }
    board_dir b;
};

TEST_F(Gv760x, CommandAndValueGoOutMostSignificantByteFirst) {
    const uint16_t cmd = 0x1234; // read flag (bit 15) clear: a write of register 0x234
    const uint16_t value = 0xABCD;
    EXPECT_EQ(gv760x_write(cmd, value), 0);
    EXPECT_EQ(lines_with(b, "/dev/spidev."),
              (std::vector<std::string>{
                  spi_message_line(0, "len=0x4 speed=0x3d0900 bits=0x8 rx=00000000 tx=1234abcd")}));
    EXPECT_EQ(sim_gv760x_reg(0x234), 0xABCD);
    EXPECT_EQ(cmd, 0x1234);
}

TEST_F(Gv760x, ReadSendsTheCommandWithZeroFillerAndTakesReplyBytesTwoAndThree) {
    sim_gv760x_set_reg(0x234, 0xABCD);
    sim_gv760x_set_reg(0x001, 0x00FF);
    // The caller's word carries the chip's read flag; it is sent exactly as given.
    const uint16_t cmd = 0x9234;
    uint16_t out = 0x5555;
    EXPECT_EQ(gv760x_read(cmd, out), 0);
    EXPECT_EQ(out, 0xABCD);
    const uint16_t low = 0x8001;
    EXPECT_EQ(gv760x_read(low, out), 0);
    EXPECT_EQ(out, 0x00FF);
    EXPECT_EQ(lines_with(b, "/dev/spidev."),
              (std::vector<std::string>{
                  spi_message_line(0, "len=0x4 speed=0x3d0900 bits=0x8 rx=0000abcd tx=92340000"),
                  spi_message_line(0, "len=0x4 speed=0x3d0900 bits=0x8 rx=000000ff tx=80010000"),
              }));
    // A read leaves the register as it was.
    EXPECT_EQ(sim_gv760x_reg(0x234), 0xABCD);
}

TEST_F(Gv760x, WrittenValueReadsBackUnderTheLock) {
    const uint16_t writeCmd = 0x0C0F;
    const uint16_t readCmd = 0x8C0F;
    const uint16_t value = 0x8001;
    uint16_t out = 0;
    EXPECT_EQ(gv760x_write(writeCmd, value), 0);
    EXPECT_EQ(gv760x_read(readCmd, out), 0);
    EXPECT_EQ(out, 0x8001);
    EXPECT_EQ(spi_lock_probe::seen, 2);
    EXPECT_EQ(spi_lock_probe::unlocked, 0);
    EXPECT_EQ(pthread_mutex_trylock(&spiLock), 0);
    pthread_mutex_unlock(&spiLock);
    // Only port 0 is used, and the AK5701 there saw nothing.
    EXPECT_TRUE(spi_tx(b, 1).empty());
    EXPECT_TRUE(spi_tx(b, 2).empty());
    EXPECT_EQ(sim_ak5701_reg(0, 0x0C), 0);
}

} // namespace
