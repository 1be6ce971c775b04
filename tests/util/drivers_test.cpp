// The chip and bus drivers of the board library: register writes and their order on the bus,
// records as the drivers receive them, spiLock held around every SPI request, and the
// failures that end the process.
#include "util/ak5701_ext.h"
#include "util/ak5701_send.h"
#include "util/codec_ctl.h"
#include "util/gv760x.h"
#include "util/ics307.h"
#include "util/max9850_ext.h"
#include "util/spi_sw.h"
#include "util_test.h"

#include <cstring>

namespace {

using namespace ut;

// An AK5701 register write as the trace shows it (0xA0 | reg, value); an I2C write likewise.
std::string ak(unsigned reg, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x", (0xA0u | reg) & 0xFFu, value & 0xFFu);
    return text;
}
std::string i2c(unsigned reg, unsigned value) {
    char text[80];
    std::snprintf(text, sizeof text, "/dev/i2c-sw 0x2 addr=0x22 reg=0x%x len=0x1 data=%02x", reg,
                  value);
    return text;
}
lines join(std::initializer_list<lines> parts) {
    lines all;
    for (const lines& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(Ak5701Ext, RegisterSequenceByRateHighBitsFlagInputAndBoard) {
    const char* v54 = "variant=0x2D54\nfpga_version=0x0102\n";
    struct row {
        const char* conf;
        int port, rate, hi, input, flag;
        lines rateWrites;
        unsigned flagged, selected;
    } rows[] = {
        {v54, 1, 32000, 2, 1, 0, {ak(0x15, 0xAA)}, 0x10, 0x10},
        {v54, 1, 48000, 7, 1, 0, {ak(0x15, 0xEB)}, 0x10, 0x10}, // only hi & 3 counts
        {v54, 2, 44100, 1, 1, 0, {ak(0x15, 0x6F)}, 0x10, 0x10},
        {v54, 1, 16000, 0, 1, 0, {ak(0x15, 0x22)}, 0x10, 0x10},
        {v54, 1, 22050, 3, 1, 0, {}, 0x10, 0x10}, // no rate code, no gain write
        {v54, 1, 16000, 0, 1, 1, {ak(0x15, 0x22)}, 0x15, 0x10},
        {v54, 1, 16000, 0, 2, 0, {ak(0x15, 0x22)}, 0x10, 0x13},
        {v54, 1, 16000, 0, 0, -1, {ak(0x15, 0x22)}, 0x15, 0x13},
        // At 8000 Hz the final set-up value depends on the board.
        {"variant=0x2D52\nfpga_version=260\n",
         1,
         8000,
         1,
         1,
         0,
         {ak(0x15, 0x60), ak(0x11, 0x17)},
         0x10,
         0x10},
        {"variant=0x2D52\nfpga_version=259\n",
         1,
         8000,
         1,
         1,
         0,
         {ak(0x15, 0x60), ak(0x11, 0x37)},
         0x10,
         0x10},
        {"variant=0x2D54\nfpga_version=0x0300\n",
         1,
         8000,
         1,
         1,
         0,
         {ak(0x15, 0x60), ak(0x11, 0x37)},
         0x10,
         0x10},
        {"variant=0x2D52\nfpga_version=0x8104\n",
         1,
         8000,
         1,
         1,
         0,
         {ak(0x15, 0x60), ak(0x11, 0x37)},
         0x10,
         0x10},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.conf) + " rate " + std::to_string(r.rate));
        board b(r.conf);
        EXPECT_EQ(out_of([&] { init_ak5701_ext(r.port, r.rate, r.hi, r.input, r.flag); }),
                  "init_spi_mode:" + std::to_string(r.port) + ",0\n\n\n");
        EXPECT_EQ(b.spi_tx(r.port), join({{ak(0x11, 0x35), ak(0x14, 0x23), ak(0x10, 0x07),
                                           ak(0x16, 0x04), ak(0x11, 0x37)},
                                          r.rateWrites,
                                          {ak(0x18, 0xA1), ak(0x19, 0xA1), ak(0x12, r.flagged),
                                           ak(0x12, r.selected), ak(0x10, 0x04), ak(0x10, 0x07)}}));
        EXPECT_TRUE(b.spi_tx(3 - r.port).empty());
        EXPECT_TRUE(b.spi_tx(0).empty());
    }
}

TEST(Ak5701Send, TheCallersBytesOnTheFixedPortAtMostTheTwoByteArea) {
    board b("");
    spi_lock_probe probe;
    const uint8_t bytes[6] = {0xB1, 0x35, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(ak5701_send_port1(bytes, 2), 0);
    EXPECT_EQ(ak5701_send_port2(bytes, 1), 0);
    EXPECT_EQ(ak5701_send_port2(bytes, sizeof bytes), 0);
    EXPECT_EQ(ak5701_send_port1(bytes, 300), 0);
    const std::string at = "speed=0x7a120 bits=0x8 tx=";
    EXPECT_EQ(
        b.traced("/dev/spidev."),
        (lines{spi_line(1, "len=0x2 " + at + "b135"), spi_line(2, "len=0x1 " + at + "b1"),
               spi_line(2, "len=0x2 " + at + "b135"), spi_line(1, "len=0x2 " + at + "b135")}));
    EXPECT_EQ(probe.seen, 4);
    EXPECT_EQ(probe.unlocked, 0);
}

TEST(CodecCtl, RecordsAsBigEndianWordsResultOfTheCloseAndAMissingDriver) {
    board b("");
    const std::string zeros(72, '0'); // bytes 0..35
    EXPECT_EQ(codec_ctl_send(0x01020304u, 0xA0B0C0D0u), 0);
    EXPECT_EQ(codec_ctl_request(0xC0044305ul), 0);
    sim_codec_fail_requests(true); // the request's own failure is not looked at
    EXPECT_EQ(codec_ctl_send(1, 2), 0);
    EXPECT_EQ(codec_ctl_request(3), 0);
    lines got = b.traced("/dev/codec ");
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], "/dev/codec 0x19 len=0x30 data=" + zeros + "01020304a0b0c0d000000002");
    EXPECT_EQ(got[1], "/dev/codec 0xc0044305 len=0x30 data=" + zeros + std::string(24, '0'));
    EXPECT_EQ(got[3].substr(got[3].size() - 5), " fail");

    b.remove("/dev/codec");
    EXPECT_EQ(out_of([] {
                  EXPECT_EQ(codec_ctl_send(5, 7), -1);
                  EXPECT_EQ(codec_ctl_request(0x19), -1);
              }),
              "Error! open /dev/codec\r\nError! open /dev/codec\r\n");
    EXPECT_EQ(b.traced("/dev/codec ").size(), 4u);
}

TEST(Max9850, PlainSetUpAndRateSwitchWrites) {
    const char* at22 = "variant=0x2D52\nfpga_version=0x0300\n"; // the MAX9850 answers at 0x22
    auto plain = [](unsigned reg9, unsigned value9) {
        return lines{i2c(0x05, 0xFC), i2c(0x02, 0x55),   i2c(0x03, 0x09), i2c(0x04, 0x00),
                     i2c(0x06, 0x00), i2c(0x08, 0x80),   i2c(0x09, 0x10), i2c(0x0A, 0x00),
                     i2c(0x07, 0x49), i2c(reg9, value9), i2c(0x05, 0xFD)};
    };
    const lines bare = {i2c(0x05, 0xFC), i2c(0x05, 0xFD)};
    struct row {
        std::function<void()> call;
        std::string log;
        lines sent;
    } rows[] = {
        {[] { init_max9850_plain(0x22, 8000); }, "init MAX9850 (8000Hz) \n", plain(0x09, 0x60)},
        // Only the low byte of the address counts.
        {[] { init_max9850_plain(0x122, 44100); }, "init MAX9850 (44100Hz) \n", plain(0x09, 0x11)},
        {[] { init_max9850_plain(0x22, 32000); }, "init MAX9850 (32000Hz) \n", plain(0x09, 0x18)},
        {[] { init_max9850_plain(0x22, 16000); }, "init MAX9850 (16000Hz) \n", plain(0x09, 0x10)},
        {[] { init_max9850_plain(0x22, 999); }, "init MAX9850 (999Hz) \n", plain(0x05, 0x00)},
        {[] { max9850_set_rate(0x22, 8000); }, "", bare},
        {[] { max9850_set_rate(0x22, 32000); }, "", bare},
        {[] { max9850_set_rate(0x22, 44100); }, "", {bare[0], i2c(0x07, 0x48), bare[1]}},
        {[] { max9850_set_rate(0x22, 48000); }, "", {bare[0], i2c(0x07, 0x49), bare[1]}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.log + r.sent.back());
        board b(at22);
        EXPECT_EQ(out_of(r.call), r.log);
        EXPECT_EQ(b.traced("/dev/i2c-sw "), r.sent);
    }
}

TEST(Gv760x, WordsGoOutMostSignificantByteFirstAndReadsTakeBytesTwoAndThree) {
    board b("");
    spi_lock_probe probe;
    const uint16_t write = 0x1234, value = 0xABCD, read = 0x9234, low = 0x8001;
    sim_gv760x_set_reg(0x001, 0x00FF);
    uint16_t out = 0x5555;
    EXPECT_EQ(gv760x_write(write, value), 0);
    EXPECT_EQ(sim_gv760x_reg(0x234), 0xABCD);
    EXPECT_EQ(gv760x_read(read, out), 0); // the read flag is the caller's, sent as given
    EXPECT_EQ(out, 0xABCD);
    EXPECT_EQ(gv760x_read(low, out), 0);
    EXPECT_EQ(out, 0x00FF);
    const std::string at = "len=0x4 speed=0x3d0900 bits=0x8 rx=";
    EXPECT_EQ(b.traced("/dev/spidev."), (lines{spi_line(0, at + "00000000 tx=1234abcd"),
                                               spi_line(0, at + "0000abcd tx=92340000"),
                                               spi_line(0, at + "000000ff tx=80010000")}));
    EXPECT_EQ(probe.seen, 3);
    EXPECT_EQ(probe.unlocked, 0);
}

TEST(Ics307, PortAndMarkerFollowTheBoardAndTheWordIsSentWhole) {
    const uint8_t word[17] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x10,
                              0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0xF0};
    struct row {
        const char* conf;
        const char* marker;
        int port;
    } rows[] = {
        {"board_id=0x3634\nvariant=0x2D52\nfpga_version=0x0104\n", "....3\n", 1},
        {"board_id=0x3632\nvariant=0x2D52\nfpga_version=0x0104\n", "....1\n", 2},
        {"board_id=0x3632\nvariant=0x2D52\nfpga_version=0x0103\n", "....2\n", 1},
        {"board_id=0x3632\nvariant=0x2D54\nfpga_version=0x0104\n", "....2\n", 1},
        {"board_id=0x3632\nvariant=0x2D52\nfpga_version=0x8104\n", "....2\n", 1}, // negative: old
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.conf);
        board b(r.conf);
        spi_lock_probe probe;
        EXPECT_EQ(out_of([&] { EXPECT_EQ(ics307_program(word, sizeof word), 0); }), r.marker);
        const std::string mode =
            "/dev/spidev." + std::to_string(r.port) + " " + request_text(spi_request::wr_mode);
        EXPECT_EQ(b.traced("/dev/spidev."),
                  (lines{mode + " mode=0x0",
                         spi_line(r.port, "len=0x11 speed=0x7a120 bits=0x8 tx=0123456789abcdef10"
                                          "32547698badcfef0")}));
        EXPECT_EQ(probe.unlocked, 0);
    }
    // A failed mode setting is not noticed.
    board b("");
    sim_spidev_fail_settings(1, true);
    EXPECT_EQ(out_of([&] { ics307_program(word, 3); }), "....2\n");
    EXPECT_EQ(b.traced("/dev/spidev."),
              (lines{"/dev/spidev.1 " + request_text(spi_request::wr_mode) + " fail",
                     spi_line(1, "len=0x3 speed=0x7a120 bits=0x8 tx=012345")}));
}

class SpiSw : public ::testing::Test {
  protected:
    void TearDown() override {
        if (fd_spiSwDev >= 0)
            spisw_close();
    }
    board b{""};
    spi_lock_probe probe;
};

TEST_F(SpiSw, WritesAndReadsThroughOneKeptDescriptorUnderTheLock) {
    ASSERT_EQ(spisw_open(), 1);
    const int fd = fd_spiSwDev;
    uint8_t data[3] = {0x11, 0x22, 0x33}, one[1] = {0x44}, back[3] = {}, other[1] = {0xEE};
    EXPECT_EQ(spisw_write(0x03, 0x10, data, 3), 1);
    EXPECT_EQ(data[0], 0x00); // the record as the driver left it: the registers held nothing
    EXPECT_EQ(spisw_write(0x03, 0x11, one, 1), 1);
    EXPECT_EQ(one[0], 0x22);
    EXPECT_EQ(spisw_read(0x03, 0x10, back, 3), 1);
    EXPECT_EQ(std::string(back, back + 3), "\x11\x44\x33");
    EXPECT_EQ(spisw_read(0x04, 0x10, other, 1), 1); // another device has its own registers
    EXPECT_EQ(other[0], 0x00);
    EXPECT_EQ(fd_spiSwDev, fd);
    EXPECT_EQ(b.traced("/dev/spi-sw "),
              (lines{"/dev/spi-sw 0x2 dev=0x3 reg=0x10 len=0x3 data=112233",
                     "/dev/spi-sw 0x2 dev=0x3 reg=0x11 len=0x1 data=44",
                     "/dev/spi-sw 0x1 dev=0x3 reg=0x10 len=0x3 data=114433",
                     "/dev/spi-sw 0x1 dev=0x4 reg=0x10 len=0x1 data=00"}));
    EXPECT_EQ(probe.seen, 4);
    EXPECT_EQ(probe.unlocked, 0);
    EXPECT_EQ(spisw_close(), 0);
    EXPECT_EQ(fd_spiSwDev, -1);
}

TEST_F(SpiSw, FailuresLeaveBuffersAndTheLockAlone) {
    b.remove("/dev/spi-sw");
    uint8_t data[2] = {0x5A, 0xA5};
    EXPECT_EQ(out_of([] { EXPECT_EQ(spisw_open(), 0); }, true),
              "/dev/spi_sw: No such file or directory\n");
    EXPECT_EQ(spisw_write(1, 2, data, 1), 0);
    b.write("/dev/spi-sw", "");
    ASSERT_EQ(spisw_open(), 1);
    sim_spisw_fail_requests(true);
    EXPECT_EQ(spisw_write(0x07, 0x00, data, 2), 0);
    EXPECT_EQ(spisw_read(0x07, 0x00, data, 2), 0);
    EXPECT_EQ(std::string(data, data + 2), "\x5A\xA5");
    ASSERT_EQ(pthread_mutex_trylock(&spiLock), 0);
    pthread_mutex_unlock(&spiLock);
    EXPECT_EQ(probe.unlocked, 0);
}

TEST_F(SpiSw, LengthsBeyondTheRecordAreRefusedBeforeAnythingIsSent) {
    ASSERT_EQ(spisw_open(), 1);
    uint8_t data[64], back[44] = {};
    for (int i = 0; i < 64; ++i)
        data[i] = static_cast<uint8_t>(i + 1);
    for (int length : {45, 255, 0, -1}) {
        EXPECT_EQ(spisw_write(1, 0, data, length), 0) << length;
        EXPECT_EQ(spisw_read(1, 0, data, length), 0) << length;
    }
    EXPECT_EQ(spisw_write(1, 0, nullptr, 4), 0);
    EXPECT_EQ(spisw_read(1, 0, nullptr, 4), 0);
    EXPECT_EQ(data[0], 1);
    EXPECT_TRUE(b.traced("/dev/spi-sw ").empty());
    EXPECT_EQ(spisw_write(1, 0, data, 44), 1); // the full 44 bytes fit
    EXPECT_EQ(spisw_read(1, 0, back, 44), 1);
    EXPECT_EQ(back[43], 44);
    EXPECT_EQ(b.traced("/dev/spi-sw ").size(), 2u);
}

// The open-failure messages end with a line feed, so the system's text starts the next line.
TEST(SpidevDriverDeath, OpenAndTransferFailuresEndTheProcessNamingTheChip) {
#if defined(__powerpc__)
    // Under user-mode qemu the binary cannot be executed again (the host kernel does not know
    // it); the child is forked, which is safe as no other thread holds a lock then.
    GTEST_FLAG_SET(death_test_style, "fast");
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // safe with the simulator's threads
#endif
    const uint16_t cmd = 0x8001;
    uint16_t out = 0;
    const uint8_t bytes[2] = {0xB1, 0x35};
    struct row {
        int port; // its node removed, or its transfers failed
        std::function<void()> call;
        const char* chip;
    } rows[] = {
        {0, [&] { gv760x_read(cmd, out); }, "gv760x"},
        {0, [&] { gv760x_write(cmd, cmd); }, "gv760x"},
        {1, [&] { ak5701_send_port1(bytes, 2); }, "ak5701"},
        {2, [&] { ak5701_send_port2(bytes, 2); }, "ak5701"},
        {2, [&] { ics307_program(bytes, 2); }, "ics307"}, // variant 0x2D52, version 260: port 2
    };
    board b("board_id=0x3632\nvariant=0x2D52\nfpga_version=0x0104\n");
    for (const row& r : rows) {
        SCOPED_TRACE(r.chip);
        const std::string node = "/dev/spidev." + std::to_string(r.port);
        b.remove(node);
        EXPECT_DEATH(r.call(),
                     std::string("can't open ") + r.chip + "\n: No such file or directory");
        b.write(node, "");
        sim_spidev_fail_transfers(r.port, true);
        EXPECT_DEATH(r.call(), "can't send spi message: Input/output error");
        sim_spidev_fail_transfers(r.port, false);
    }
    EXPECT_DEATH(ics307_program(bytes, 0), "can't send spi message"); // nothing to send: refused
}

} // namespace
