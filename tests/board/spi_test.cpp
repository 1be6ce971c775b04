// SPI transport: the transfer record as the port receives it, the mode report, the per-port
// set-up group, and the failures that end the process.
#include "board_trace.h"

#include "board/spi.h"
#include "log/log.h"
#include "sim/devices.h"

#include <fcntl.h>

#include "board/hw.h"

namespace {

class Spi : public ::testing::Test {
  protected:
    void SetUp() override {
        make_traced_board(b);
        log_to_screen();
    }
    // Sets the port's mode on the simulated board, as another program would have.
    void set_mode(int port, uint8_t mode) {
        int fd = hw_open(spi_port_path(port), O_RDWR);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(hw_ioctl(fd, static_cast<unsigned long>(spi_request::wr_mode), &mode), 0);
        hw_close(fd);
    }
    board_dir b;
};

TEST(SpiRequests, UseThePlatformEncoding) {
    EXPECT_EQ(static_cast<unsigned long>(spi_request::message_1), SPI_IOC_MESSAGE(1));
#if defined(__powerpc__)
    // The board's encoding: write direction in bit 31, a 32-byte record.
    EXPECT_EQ(static_cast<unsigned long>(spi_request::message_1), 0x80206B00ul);
    EXPECT_EQ(static_cast<unsigned long>(spi_request::wr_mode), 0x80016B01ul);
    EXPECT_EQ(static_cast<unsigned long>(spi_request::rd_mode), 0x40016B01ul);
    EXPECT_EQ(static_cast<unsigned long>(spi_request::wr_bits), 0x80016B03ul);
    EXPECT_EQ(static_cast<unsigned long>(spi_request::rd_bits), 0x40016B03ul);
    EXPECT_EQ(static_cast<unsigned long>(spi_request::wr_speed), 0x80046B04ul);
    EXPECT_EQ(static_cast<unsigned long>(spi_request::rd_speed), 0x40046B04ul);
#elif defined(__x86_64__)
    EXPECT_EQ(static_cast<unsigned long>(spi_request::message_1), 0x40206B00ul);
#endif
    EXPECT_EQ(sizeof(spi_ioc_transfer), 32u);
}

TEST_F(Spi, WriteSendsTheCallersBytesAndLeavesThemAlone) {
    uint8_t buffer[4] = {0xB5, 0x20, 0x77, 0x88};
    EXPECT_EQ(spi_write(1, buffer, 2), 0);
    EXPECT_EQ(buffer[0], 0xB5);
    EXPECT_EQ(buffer[1], 0x20);
    // One byte is one byte: nothing beyond the caller's length is read or sent.
    EXPECT_EQ(spi_write(0, buffer + 2, 1), 0);
    // A longer length sends no more than the two-byte transmit area.
    EXPECT_EQ(spi_write(2, buffer, 4), 0);
    std::vector<std::string> lines = trace_lines(b);
    const std::string req = [] {
        char t[16];
        std::snprintf(t, sizeof t, "0x%lx", static_cast<unsigned long>(SPI_IOC_MESSAGE(1)));
        return std::string(t);
    }();
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "/dev/spidev.1 " + req + " len=0x2 speed=0x7a120 bits=0x8 tx=b520",
                         "/dev/spidev.0 " + req + " len=0x1 speed=0x7a120 bits=0x8 tx=77",
                         "/dev/spidev.2 " + req + " len=0x2 speed=0x7a120 bits=0x8 tx=b520",
                     }));
    EXPECT_EQ(sim_ak5701_reg(1, 0x15), 0x20);
    EXPECT_EQ(sim_ak5701_reg(2, 0x15), 0x20);
    // The lock is free again after each transaction.
    EXPECT_EQ(pthread_mutex_trylock(&spiLock), 0);
    pthread_mutex_unlock(&spiLock);
}

TEST_F(Spi, ModeReportNamesTheSetBits) {
    struct mode_case {
        uint8_t mode;
        const char* report;
    };
    const mode_case cases[] = {
        {0x00, "\n\n"},
        {0x03, "\nSPI MODE : CPHA CPOL \n\n"},
        {0x3F, "\nSPI MODE : LOOP CPHA CPOL LSB_FIRST CS_HIGH 3WIRE \n\n"},
        {0x24, "\nSPI MODE : LOOP CS_HIGH \n\n"},
    };
    for (const mode_case& c : cases) {
        set_mode(1, c.mode);
        testing::internal::CaptureStdout();
        init_spi_mode(1, 5);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("init_spi_mode:1,5\n") + c.report)
            << int(c.mode);
    }
    // The mode is only reported, never changed.
    EXPECT_EQ(lines_with(
                  b, "/dev/spidev.1 " +
                         [] {
                             char t[16];
                             std::snprintf(t, sizeof t, "0x%lx",
                                           static_cast<unsigned long>(spi_request::wr_mode));
                             return std::string(t);
                         }())
                  .size(),
              4u);
    // Two readings per report.
    EXPECT_EQ(lines_with(
                  b, "/dev/spidev.1 " +
                         [] {
                             char t[16];
                             std::snprintf(t, sizeof t, "0x%lx",
                                           static_cast<unsigned long>(spi_request::rd_mode));
                             return std::string(t);
                         }())
                  .size(),
              8u);
}

TEST_F(Spi, ModeReportOnAMissingPortSaysSoAndReturns) {
    b.remove("/dev/spidev.2");
    testing::internal::CaptureStdout();
    init_spi_mode(2, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "init_spi_mode:2,0\ncan't open spidev.2\n\n\n");
    testing::internal::CaptureStdout();
    init_spi_mode(7, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "init_spi_mode:7,0\ncan't open spidev.7\n\n\n");
    EXPECT_EQ(pthread_mutex_trylock(&spiLock), 0);
    pthread_mutex_unlock(&spiLock);
}

TEST_F(Spi, SetUpGroupSetsReadsBackAndLogs) {
    int fd = hw_open("/dev/spidev.0", O_RDWR);
    ASSERT_GE(fd, 0);
    testing::internal::CaptureStdout();
    spi_set_mode(fd, 3);
    spi_set_bits(fd, 8);
    spi_set_speed(fd, 500000);
    spi_set_speed(fd, 1999);
    hw_close(fd);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "spi mode: 3\nbits per word: 8\nmax speed: 500000 Hz (500 KHz)\n"
              "max speed: 1999 Hz (1 KHz)\n");

    testing::internal::CaptureStdout();
    spi_setup_ports();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "init spi port!!!!!\n"
              "init spi...../dev/spidev.0\nspi mode: 0\nbits per word: 0\n"
              "max speed: 0 Hz (0 KHz)\n"
              "init spi...../dev/spidev.1\nspi mode: 0\nbits per word: 0\n"
              "max speed: 0 Hz (0 KHz)\n");
}

class SpiDeath : public Spi {
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
        Spi::SetUp();
    }
};

TEST_F(SpiDeath, WriteToAMissingPortAborts) {
    b.remove("/dev/spidev.1");
    const uint8_t bytes[2] = {0xB5, 0x20};
    EXPECT_DEATH(spi_write(1, bytes, 2), "can't open device: No such file or directory");
    EXPECT_DEATH(spi_write(3, bytes, 2), "can't open device");
}

TEST_F(SpiDeath, FailedTransferAborts) {
    const uint8_t bytes[2] = {0xB5, 0x20};
    EXPECT_DEATH(
        {
            sim_spidev_fail_transfers(1, true);
            spi_write(1, bytes, 2);
        },
        "can't send spi message: Input/output error");
    // A zero length is no transfer at all and is refused by the port.
    EXPECT_DEATH(spi_write(1, bytes, 0), "can't send spi message");
}

TEST_F(SpiDeath, SetUpOfAMissingPortAborts) {
    b.remove("/dev/spidev.0");
    EXPECT_DEATH(spi_setup_port("/dev/spidev.0", 0, 8, 500000), "can't open device");
}

} // namespace
