// The /dev/spi-sw transport: records as the driver receives them, the kept descriptor,
// failures that leave spiLock free, and lengths beyond the driver's record.
#include "drivers_board.h"

#include "util/spi_sw.h"

#include <cstring>

namespace {

class SpiSw : public ::testing::Test {
  protected:
    void SetUp() override {
        use_driver_board(b);
        spi_lock_probe::install();
    }
    void TearDown() override {
        if (fd_spiSwDev >= 0)
            spisw_close();
    }
    board_dir b;
};

TEST_F(SpiSw, WritesAndReadsThroughOneKeptDescriptor) {
    ASSERT_EQ(spisw_open(), 1);
    const int fd = fd_spiSwDev;
    ASSERT_GE(fd, 0);

    uint8_t data[3] = {0x11, 0x22, 0x33};
    EXPECT_EQ(spisw_write(0x03, 0x10, data, 3), 1);
    // The driver leaves what the registers held before in the record: here nothing yet.
    EXPECT_EQ(data[0], 0x00);
    EXPECT_EQ(data[2], 0x00);
    uint8_t one[1] = {0x44};
    EXPECT_EQ(spisw_write(0x03, 0x11, one, 1), 1);
    EXPECT_EQ(one[0], 0x22);

    uint8_t back[3] = {};
    EXPECT_EQ(spisw_read(0x03, 0x10, back, 3), 1);
    EXPECT_EQ(back[0], 0x11);
    EXPECT_EQ(back[1], 0x44);
    EXPECT_EQ(back[2], 0x33);
    // Another device byte has its own registers.
    uint8_t other[1] = {0xEE};
    EXPECT_EQ(spisw_read(0x04, 0x10, other, 1), 1);
    EXPECT_EQ(other[0], 0x00);
    EXPECT_EQ(fd_spiSwDev, fd);

    EXPECT_EQ(lines_with(b, "/dev/spi-sw "),
              (std::vector<std::string>{
                  "/dev/spi-sw 0x2 dev=0x3 reg=0x10 len=0x3 data=112233",
                  "/dev/spi-sw 0x2 dev=0x3 reg=0x11 len=0x1 data=44",
                  "/dev/spi-sw 0x1 dev=0x3 reg=0x10 len=0x3 data=114433",
                  "/dev/spi-sw 0x1 dev=0x4 reg=0x10 len=0x1 data=00",
              }));
    EXPECT_EQ(spi_lock_probe::seen, 4);
    EXPECT_EQ(spi_lock_probe::unlocked, 0);
    EXPECT_EQ(spisw_close(), 0);
    EXPECT_EQ(fd_spiSwDev, -1);
}

TEST_F(SpiSw, OpenFailureIsReportedWithTheDriversName) {
    b.remove("/dev/spi-sw");
    testing::internal::CaptureStderr();
    EXPECT_EQ(spisw_open(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "/dev/spi_sw: No such file or directory\n");
    EXPECT_LT(fd_spiSwDev, 0);
    // Requests without a descriptor fail like any failed request.
    uint8_t data[1] = {0x5A};
    EXPECT_EQ(spisw_write(1, 2, data, 1), 0);
    EXPECT_EQ(data[0], 0x5A);
}

TEST_F(SpiSw, FailedRequestGivesZeroAndLeavesBufferAndLockAlone) {
    ASSERT_EQ(spisw_open(), 1);
    uint8_t data[2] = {0xA1, 0xA2};
    ASSERT_EQ(spisw_write(0x07, 0x00, data, 2), 1);

    sim_spisw_fail_requests(true);
    uint8_t w[2] = {0xB1, 0xB2};
    EXPECT_EQ(spisw_write(0x07, 0x00, w, 2), 0);
    EXPECT_EQ(w[0], 0xB1);
    EXPECT_EQ(w[1], 0xB2);
    uint8_t r[2] = {0xC1, 0xC2};
    EXPECT_EQ(spisw_read(0x07, 0x00, r, 2), 0);
    EXPECT_EQ(r[0], 0xC1);
    EXPECT_EQ(r[1], 0xC2);
    EXPECT_EQ(sim_spisw_reg(0x07, 0x00), 0xA1);

    // The lock is free: the next SPI transactions of any driver proceed.
    ASSERT_EQ(pthread_mutex_trylock(&spiLock), 0);
    pthread_mutex_unlock(&spiLock);
    const uint8_t bytes[2] = {0xB5, 0x22};
    EXPECT_EQ(spi_write(1, bytes, 2), 0);
    EXPECT_EQ(sim_ak5701_reg(1, 0x15), 0x22);
    sim_spisw_fail_requests(false);
    EXPECT_EQ(spisw_read(0x07, 0x00, r, 2), 1);
    EXPECT_EQ(r[0], 0xA1);
    EXPECT_EQ(r[1], 0xA2);
    EXPECT_EQ(spi_lock_probe::unlocked, 0);
}

TEST_F(SpiSw, LengthsBeyondTheRecordAreRefusedBeforeAnythingIsSent) {
    ASSERT_EQ(spisw_open(), 1);
    uint8_t data[64];
    for (int i = 0; i < 64; ++i)
        data[i] = static_cast<uint8_t>(i + 1);
    uint8_t copy[64];
    std::memcpy(copy, data, sizeof data);

    EXPECT_EQ(spisw_write(1, 0, data, 45), 0);
    EXPECT_EQ(spisw_read(1, 0, data, 45), 0);
    EXPECT_EQ(spisw_write(1, 0, data, 255), 0);
    EXPECT_EQ(spisw_write(1, 0, data, 0), 0);
    EXPECT_EQ(spisw_read(1, 0, data, -1), 0);
    EXPECT_EQ(spisw_write(1, 0, nullptr, 4), 0);
    EXPECT_EQ(std::memcmp(data, copy, sizeof data), 0);
    EXPECT_TRUE(lines_with(b, "/dev/spi-sw ").empty());

    // The full 44 bytes fit.
    EXPECT_EQ(spisw_write(1, 0, data, 44), 1);
    uint8_t back[44] = {};
    EXPECT_EQ(spisw_read(1, 0, back, 44), 1);
    EXPECT_EQ(std::memcmp(back, copy, sizeof back), 0);
    std::vector<std::string> got = lines_with(b, "/dev/spi-sw ");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].rfind("/dev/spi-sw 0x2 dev=0x1 reg=0x0 len=0x2c data=0102", 0), 0u);
}

} // namespace
