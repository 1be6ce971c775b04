// SPI transport and the codec GPIO lines: the records and request words as the devices
// receive them, the mode report, the set-up group, and the failures that end the process.
#include "board_trace.h"

#include "board/gpio.h"
#include "board/hw.h"
#include "board/spi.h"
#include "log/log.h"
#include "sim/devices.h"

#include <dirent.h>
#include <fcntl.h>

namespace {

class Spi : public ::testing::Test {
  protected:
    void SetUp() override {
        make_traced_board(b);
        log_to_screen();
    }
    std::string port_line(int port, spi_request r) {
        return "/dev/spidev." + std::to_string(port) + " " +
               hex_text(static_cast<unsigned long>(r));
    }
    static void expect_lock_free() {
        EXPECT_EQ(pthread_mutex_trylock(&spiLock), 0);
        pthread_mutex_unlock(&spiLock);
    }
    board_dir b;
};

TEST(SpiRequests, UseThePlatformEncoding) {
    const unsigned long message = static_cast<unsigned long>(spi_request::message_1);
#if defined(__powerpc__)
    // The board's encoding: write direction in bit 31, a 32-byte record.
    EXPECT_EQ(message, 0x80206B00ul);
    EXPECT_EQ(static_cast<unsigned long>(spi_request::wr_mode), 0x80016B01ul);
    EXPECT_EQ(static_cast<unsigned long>(spi_request::rd_speed), 0x40046B04ul);
#elif defined(__x86_64__)
    EXPECT_EQ(message, 0x40206B00ul);
#endif
    EXPECT_EQ(sizeof(spi_ioc_transfer), 32u);
}

TEST_F(Spi, WriteSendsAtMostTwoOfTheCallersBytes) {
    uint8_t buffer[4] = {0xB5, 0x20, 0x77, 0x88};
    EXPECT_EQ(spi_write(1, buffer, 2), 0);
    EXPECT_EQ(spi_write(0, buffer + 2, 1), 0); // nothing beyond the caller's length
    EXPECT_EQ(spi_write(2, buffer, 4), 0);     // no more than the transmit area
    EXPECT_EQ(buffer[0], 0xB5);
    EXPECT_EQ(buffer[1], 0x20);
    const std::string m = " " + hex_text(static_cast<unsigned long>(spi_request::message_1));
    EXPECT_EQ(trace_lines(b), (std::vector<std::string>{
                                  "/dev/spidev.1" + m + " len=0x2 speed=0x7a120 bits=0x8 tx=b520",
                                  "/dev/spidev.0" + m + " len=0x1 speed=0x7a120 bits=0x8 tx=77",
                                  "/dev/spidev.2" + m + " len=0x2 speed=0x7a120 bits=0x8 tx=b520",
                              }));
    EXPECT_EQ(sim_ak5701_reg(1, 0x15), 0x20);
    expect_lock_free();
}

TEST_F(Spi, ModeReportNamesTheSetBitsAndChangesNothing) {
    const std::pair<uint8_t, const char*> cases[] = {
        {0x00, "\n\n"},
        {0x03, "\nSPI MODE : CPHA CPOL \n\n"},
        {0x3F, "\nSPI MODE : LOOP CPHA CPOL LSB_FIRST CS_HIGH 3WIRE \n\n"},
        {0x24, "\nSPI MODE : LOOP CS_HIGH \n\n"},
    };
    for (const auto& [mode, report] : cases) {
        SCOPED_TRACE(int(mode));
        int fd = hw_open(spi_port_path(1), O_RDWR); // as another program would have
        ASSERT_GE(fd, 0);
        uint8_t m = mode;
        ASSERT_EQ(hw_ioctl(fd, static_cast<unsigned long>(spi_request::wr_mode), &m), 0);
        hw_close(fd);
        testing::internal::CaptureStdout();
        init_spi_mode(1, 5);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("init_spi_mode:1,5\n") + report);
    }
    EXPECT_EQ(lines_with(b, port_line(1, spi_request::wr_mode)).size(), 4u); // only ours
    EXPECT_EQ(lines_with(b, port_line(1, spi_request::rd_mode)).size(), 8u); // two per report
}

TEST_F(Spi, ModeReportOnAMissingPortSaysSoAndReturns) {
    b.remove("/dev/spidev.2");
    for (int port : {2, 7}) {
        testing::internal::CaptureStdout();
        init_spi_mode(port, 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "init_spi_mode:" + std::to_string(port) +
                                                              ",0\ncan't open spidev." +
                                                              std::to_string(port) + "\n\n\n");
    }
    expect_lock_free();
}

TEST_F(Spi, SetUpGroupSetsReadsBackAndLogs) {
    int fd = hw_open("/dev/spidev.0", O_RDWR);
    ASSERT_GE(fd, 0);
    testing::internal::CaptureStdout();
    spi_set_mode(fd, 3);
    spi_set_bits(fd, 8);
    spi_set_speed(fd, 1999);
    hw_close(fd);
    spi_setup_ports();
    const std::string zeros = "spi mode: 0\nbits per word: 0\nmax speed: 0 Hz (0 KHz)\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "spi mode: 3\nbits per word: 8\nmax speed: 1999 Hz (1 KHz)\ninit spi port!!!!!\n"
              "init spi...../dev/spidev.0\n" +
                  zeros + "init spi...../dev/spidev.1\n" + zeros);
}

class SpiDeath : public Spi {
  protected:
    void SetUp() override {
#if defined(__powerpc__)
        // Under user-mode qemu the binary cannot be executed again; the child is forked.
        GTEST_FLAG_SET(death_test_style, "fast");
#else
        GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
        Spi::SetUp();
    }
};

TEST_F(SpiDeath, MissingPortOrFailedTransferAborts) {
    const uint8_t bytes[2] = {0xB5, 0x20};
    EXPECT_DEATH(
        {
            sim_spidev_fail_transfers(1, true);
            spi_write(1, bytes, 2);
        },
        "can't send spi message: Input/output error");
    // A zero length is no transfer at all and is refused by the port.
    EXPECT_DEATH(spi_write(1, bytes, 0), "can't send spi message");
    EXPECT_DEATH(spi_write(3, bytes, 2), "can't open device");
    b.remove("/dev/spidev.1");
    EXPECT_DEATH(spi_write(1, bytes, 2), "can't open device: No such file or directory");
    b.remove("/dev/spidev.0");
    EXPECT_DEATH(spi_setup_port("/dev/spidev.0", 0, 8, 500000), "can't open device");
}

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
}

// Entries of /proc/self/fd, the listing's own descriptor included.
int open_descriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    int count = 0;
    while (readdir(dir) != nullptr)
        ++count;
    closedir(dir);
    return count;
}

TEST(Gpio, EveryCallClosesTheDriverItOpened) {
    board_dir b;
    b.add_devices();
    gpio_set(6, 1); // anything opened once for good is open before counting
    EXPECT_EQ(gpio_get(6), 1);
    const int before = open_descriptors();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 200; ++i) {
        gpio_set(6, i & 1);
        EXPECT_EQ(gpio_get(6), i & 1);
    }
    EXPECT_LE(open_descriptors(), before);
}

} // namespace
