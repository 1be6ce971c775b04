// SPI transport and the codec GPIO lines: the records and request words as the devices
// receive them, the mode report, the set-up group, and the failures that end the process.
#include "board_trace.h"

#include "board/gpio.h"
#include "board/hw.h"
#include "board/spi.h"
#include "log/log.h"
#include "sim/devices.h"

#include <fcntl.h>
#include <filesystem>
#include <iterator>

namespace {

class Spi : public ::testing::Test {
  protected:
    void SetUp() override {
        make_traced_board(b);
        log_to_screen();
    }
    static std::string request(int port, spi_request r) {
        return "/dev/spidev." + std::to_string(port) + " " +
               hex_text(static_cast<unsigned long>(r));
    }
    static void expect_lock_free() {
        EXPECT_EQ(pthread_mutex_trylock(&spiLock), 0);
        pthread_mutex_unlock(&spiLock);
    }
    board_dir b;
};
using SpiDeath = Spi;

TEST(SpiRequests, UseThePlatformEncoding) {
#if defined(__powerpc__)
    // The board's encoding: write direction in bit 31, a 32-byte record.
    EXPECT_EQ(static_cast<unsigned long>(spi_request::message_1), 0x80206B00ul);
    EXPECT_EQ(static_cast<unsigned long>(spi_request::wr_mode), 0x80016B01ul);
    EXPECT_EQ(static_cast<unsigned long>(spi_request::rd_speed), 0x40046B04ul);
#elif defined(__x86_64__)
    EXPECT_EQ(static_cast<unsigned long>(spi_request::message_1), 0x40206B00ul);
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
    const std::string rest = " speed=0x7a120 bits=0x8 tx=";
    EXPECT_EQ(trace_lines(b), (std::vector<std::string>{
                                  request(1, spi_request::message_1) + " len=0x2" + rest + "b520",
                                  request(0, spi_request::message_1) + " len=0x1" + rest + "77",
                                  request(2, spi_request::message_1) + " len=0x2" + rest + "b520",
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
    for (auto [mode, report] : cases) {
        int fd = hw_open(spi_port_path(1), O_RDWR); // as another program would have set it
        ASSERT_GE(fd, 0);
        ASSERT_EQ(hw_ioctl(fd, static_cast<unsigned long>(spi_request::wr_mode), &mode), 0);
        hw_close(fd);
        testing::internal::CaptureStdout();
        init_spi_mode(1, 5);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("init_spi_mode:1,5\n") + report)
            << int(mode);
    }
    EXPECT_EQ(lines_with(b, request(1, spi_request::wr_mode)).size(), 4u); // only ours
    EXPECT_EQ(lines_with(b, request(1, spi_request::rd_mode)).size(), 8u); // two per report
    // A port that cannot be opened is reported, and the lock is given back.
    b.remove("/dev/spidev.2");
    for (int port : {2, 7}) {
        const std::string p = std::to_string(port);
        testing::internal::CaptureStdout();
        init_spi_mode(port, 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "init_spi_mode:" + p + ",0\ncan't open spidev." + p + "\n\n\n");
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

TEST_F(SpiDeath, MissingPortOrFailedTransferAborts) {
    GTEST_FLAG_SET(death_test_style, DEATH_TEST_STYLE);
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

TEST(Gpio, RequestWordsCarryCommandAndLineAndAMissingDriverIsReported) {
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
    const std::string g = "/dev/codec-gpio1 ";
    const std::vector<std::string> expected = {g + "0x200000b arg=0x1",   g + "0x2000006 arg=0x1",
                                               g + "0x2000006 arg=0x0",   g + "0x2000006 arg=0x1",
                                               g + "0x1000006 value=0x1", g + "0x1000007 value=0x0",
                                               g + "0x3 arg=0x2ff0000"};
    EXPECT_EQ(trace_lines(b), expected);
    // Without the driver: standard output says so (set and get only), nothing is requested.
    b.remove("/dev/codec-gpio1");
    testing::internal::CaptureStdout();
    gpio_set(6, 0);
    EXPECT_EQ(gpio_get(6), 0);
    gpio_setup(6, 1, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't open devicecan't open device");
    EXPECT_EQ(trace_lines(b), expected);
    EXPECT_EQ(sim_gpio_line(6), 1);
}

TEST(Gpio, EveryCallClosesTheDriverItOpened) {
    board_dir b;
    b.add_devices();
    auto open_descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    gpio_set(6, 1); // anything opened once for good is open before counting
    EXPECT_EQ(gpio_get(6), 1);
    const auto before = open_descriptors();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 200; ++i) {
        gpio_set(6, i & 1);
        EXPECT_EQ(gpio_get(6), i & 1);
    }
    EXPECT_LE(open_descriptors(), before);
}

} // namespace
