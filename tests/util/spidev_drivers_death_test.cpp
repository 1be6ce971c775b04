// The spidev chip drivers end the process when their port cannot be opened, naming the chip,
// and when a transfer fails.
#include "drivers_board.h"

#include "util/ak5701_send.h"
#include "util/gv760x.h"
#include "util/ics307.h"

namespace {

class SpidevDriverDeath : public ::testing::Test {
  protected:
    void SetUp() override {
#if defined(__powerpc__)
        // Under user-mode qemu the binary cannot be executed again (the host kernel does not
        // know it); the child is forked, which is safe as no other thread holds a lock then.
        GTEST_FLAG_SET(death_test_style, "fast");
#else
        // Re-runs the test binary for each death test: safe with the simulator's threads.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
    }
    void use_board(const std::string& conf = "") {
        use_driver_board(b, conf);
    }
    board_dir b;
};

// The open-failure messages end with a line feed, so the system's text starts the next line.
TEST_F(SpidevDriverDeath, Gv760xNamesItsChip) {
    use_board();
    b.remove("/dev/spidev.0");
    const uint16_t cmd = 0x8001;
    uint16_t out = 0;
    EXPECT_DEATH(gv760x_read(cmd, out), "can't open gv760x\n: No such file or directory");
    EXPECT_DEATH(gv760x_write(cmd, cmd), "can't open gv760x\n: No such file or directory");
}

TEST_F(SpidevDriverDeath, Ak5701SendsNameTheirChip) {
    use_board();
    b.remove("/dev/spidev.1");
    b.remove("/dev/spidev.2");
    const uint8_t bytes[2] = {0xB1, 0x35};
    EXPECT_DEATH(ak5701_send_port1(bytes, 2), "can't open ak5701\n: No such file or directory");
    EXPECT_DEATH(ak5701_send_port2(bytes, 2), "can't open ak5701\n: No such file or directory");
}

TEST_F(SpidevDriverDeath, Ics307NamesItsChipOnTheChosenPort) {
    // Variant 0x2D52 with FPGA version 260 programs through port 2; port 1 is there.
    use_board("board_id=0x3632\nvariant=0x2D52\nfpga_version=0x0104\n");
    b.remove("/dev/spidev.2");
    const uint8_t word[3] = {1, 2, 3};
    EXPECT_DEATH(ics307_program(word, sizeof word),
                 "can't open ics307\n: No such file or directory");
}

TEST_F(SpidevDriverDeath, FailedTransfersEndTheProcess) {
    use_board();
    const uint16_t cmd = 0x8001;
    uint16_t out = 0;
    EXPECT_DEATH(
        {
            sim_spidev_fail_transfers(0, true);
            gv760x_read(cmd, out);
        },
        "can't send spi message: Input/output error");
    const uint8_t bytes[2] = {0xB1, 0x35};
    EXPECT_DEATH(
        {
            sim_spidev_fail_transfers(2, true);
            ak5701_send_port2(bytes, 2);
        },
        "can't send spi message: Input/output error");
    EXPECT_DEATH(
        {
            sim_spidev_fail_transfers(1, true);
            ics307_program(bytes, 2);
        },
        "can't send spi message: Input/output error");
    // Nothing to send is no transfer: the port refuses it.
    EXPECT_DEATH(ics307_program(bytes, 0), "can't send spi message");
}

} // namespace
