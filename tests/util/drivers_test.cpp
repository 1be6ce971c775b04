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

namespace {

using namespace ut;

std::string board_conf(unsigned variant, unsigned version) {
    char text[64];
    std::snprintf(text, sizeof text, "variant=0x%x\nfpga_version=%u\n", variant, version);
    return text;
}

TEST(Ak5701Ext, RegisterSequenceByRateHighBitsFlagInputAndBoard) {
    struct row {
        unsigned variant, version;
        int port, rate, hi, input, flag;
        const char* rateWrites; // between the power-up block and the fixed tail
        const char* reg12;      // from the flag, then from the input
    } rows[] = {
        {0x2D54, 0x102, 1, 32000, 2, 1, 0, "b5aa ", "b210 b210 "},
        {0x2D54, 0x102, 1, 48000, 7, 1, 0, "b5eb ", "b210 b210 "}, // only hi & 3 counts
        {0x2D54, 0x102, 2, 44100, 1, 1, 0, "b56f ", "b210 b210 "},
        {0x2D54, 0x102, 1, 22050, 3, 1, 0, "", "b210 b210 "}, // no rate code, no gain write
        {0x2D54, 0x102, 1, 16000, 0, 1, 1, "b522 ", "b215 b210 "},
        {0x2D54, 0x102, 1, 16000, 0, 2, 0, "b522 ", "b210 b213 "},
        {0x2D54, 0x102, 1, 16000, 0, 0, -1, "b522 ", "b215 b213 "},
        // At 8000 Hz the final set-up value depends on the board.
        {0x2D52, 260, 1, 8000, 1, 1, 0, "b560 b117 ", "b210 b210 "},
        {0x2D52, 259, 1, 8000, 1, 1, 0, "b560 b137 ", "b210 b210 "},
        {0x2D54, 0x300, 1, 8000, 1, 1, 0, "b560 b137 ", "b210 b210 "},
        {0x2D52, 0x8104, 1, 8000, 1, 1, 0, "b560 b137 ", "b210 b210 "},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(board_conf(r.variant, r.version) + "rate " + std::to_string(r.rate));
        board b(board_conf(r.variant, r.version).c_str());
        EXPECT_EQ(out_of([&] { init_ak5701_ext(r.port, r.rate, r.hi, r.input, r.flag); }),
                  "init_spi_mode:" + std::to_string(r.port) + ",0\n\n\n");
        EXPECT_EQ(b.spi_tx(r.port), std::string("b135 b423 b007 b604 b137 ") + r.rateWrites +
                                        "b8a1 b9a1 " + r.reg12 + "b004 b007 ");
        EXPECT_EQ(b.spi_tx(3 - r.port) + b.spi_tx(0), "");
    }
}

TEST(Ak5701Send, TheCallersBytesOnTheFixedPortAtMostTheTwoByteArea) {
    board b("");
    const uint8_t bytes[6] = {0xB1, 0x35, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(sum({ak5701_send_port1(bytes, 2), ak5701_send_port2(bytes, 1)}), 0);
    EXPECT_EQ(sum({ak5701_send_port2(bytes, sizeof bytes), ak5701_send_port1(bytes, 300)}), 0);
    const std::string at = "speed=0x7a120 bits=0x8 tx=";
    EXPECT_EQ(b.traced("/dev/spidev."),
              spi_line(1, "len=0x2 " + at + "b135") + spi_line(2, "len=0x1 " + at + "b1") +
                  spi_line(2, "len=0x2 " + at + "b135") + spi_line(1, "len=0x2 " + at + "b135"));
    EXPECT_EQ(spi_seen * 10 + spi_unlocked, 40);
}

TEST(CodecCtl, RecordsAsBigEndianWordsResultOfTheCloseAndAMissingDriver) {
    board b("");
    const std::string head = " len=0x30 data=" + std::string(72, '0'); // bytes 0..35 zero
    EXPECT_EQ(codec_ctl_send(0x01020304u, 0xA0B0C0D0u), 0);
    EXPECT_EQ(codec_ctl_request(0xC0044305ul), 0);
    sim_codec_fail_requests(true); // the request's own failure is not looked at
    EXPECT_EQ(sum({codec_ctl_send(1, 2), codec_ctl_request(3)}), 0);
    const std::string zeros(24, '0');
    EXPECT_EQ(b.traced("/dev/codec "),
              "/dev/codec 0x19" + head + "01020304a0b0c0d000000002\n/dev/codec 0xc0044305" + head +
                  zeros + "\n/dev/codec 0x19" + head + "000000010000000200000002 fail\n" +
                  "/dev/codec 0x3" + head + zeros + " fail\n");
    const std::string before = b.traced("/dev/codec ");
    b.remove("/dev/codec");
    EXPECT_EQ(out_of([] { EXPECT_EQ(codec_ctl_send(5, 7) + codec_ctl_request(0x19), -2); }),
              "Error! open /dev/codec\r\nError! open /dev/codec\r\n");
    EXPECT_EQ(b.traced("/dev/codec "), before); // no request without the driver
}

TEST(Max9850, PlainSetUpAndRateSwitchWrites) {
    struct row {
        bool plain; // init_max9850_plain, else max9850_set_rate
        int addr, rate;
        const char* step; // "RRVV" writes: the rate step of the set-up, the charge pump
    } rows[] = {
        {true, 0x22, 8000, "0960"},    {true, 0x122, 44100, "0911"}, // only the low byte counts
        {true, 0x22, 32000, "0918"},   {true, 0x22, 16000, "0910"},  {true, 0x22, 999, "0500"},
        {false, 0x22, 8000, ""},       {false, 0x22, 32000, ""},     {false, 0x22, 44100, "0748 "},
        {false, 0x22, 48000, "0749 "},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.plain) + " " + std::to_string(r.rate));
        board b(board_conf(0x2D52, 0x300).c_str()); // its MAX9850 answers at 0x22
        const std::string log = "init MAX9850 (" + std::to_string(r.rate) + "Hz) \n";
        EXPECT_EQ(out_of([&] {
                      r.plain ? init_max9850_plain(r.addr, r.rate)
                              : max9850_set_rate(r.addr, r.rate);
                  }),
                  r.plain ? log : "");
        const std::string writes = r.plain ? "05fc 0255 0309 0400 0600 0880 0910 0a00 0749 " +
                                                 std::string(r.step) + " 05fd "
                                           : "05fc " + std::string(r.step) + "05fd ";
        std::string expected;
        for (std::size_t at = 0; at + 4 < writes.size(); at += 5)
            expected += "/dev/i2c-sw 0x2 addr=0x22 reg=0x" +
                        writes.substr(at + (writes[at] == '0'), 2 - (writes[at] == '0')) +
                        " len=0x1 data=" + writes.substr(at + 2, 2) + "\n";
        EXPECT_EQ(b.traced("/dev/i2c-sw "), expected);
    }
}

TEST(Gv760x, WordsGoOutMostSignificantByteFirstAndReadsTakeBytesTwoAndThree) {
    board b("");
    const uint16_t write = 0x1234, value = 0xABCD, read = 0x9234, low = 0x8001;
    sim_gv760x_set_reg(0x001, 0x00FF);
    uint16_t out = 0x5555, outLow = 0;
    EXPECT_EQ(gv760x_write(write, value), 0);
    EXPECT_EQ(sum({gv760x_read(read, out), gv760x_read(low, outLow)}),
              0); // read flag sent as given
    EXPECT_EQ(out, 0xABCD);
    EXPECT_EQ(outLow, 0x00FF);
    const std::string at = "len=0x4 speed=0x3d0900 bits=0x8 rx=";
    EXPECT_EQ(b.traced("/dev/spidev."), spi_line(0, at + "00000000 tx=1234abcd") +
                                            spi_line(0, at + "0000abcd tx=92340000") +
                                            spi_line(0, at + "000000ff tx=80010000"));
    EXPECT_EQ(spi_seen * 10 + spi_unlocked, 30);
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
        {"", "....2\n", 1}, // its mode setting fails, which is not noticed
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.conf);
        board b(r.conf);
        sim_spidev_fail_settings(1, r.conf[0] == '\0');
        EXPECT_EQ(out_of([&] { EXPECT_EQ(ics307_program(word, sizeof word), 0); }), r.marker);
        EXPECT_EQ(b.traced("/dev/spidev."),
                  spi_line(r.port, r.conf[0] ? "mode=0x0" : "fail", spi_request::wr_mode) +
                      spi_line(r.port, "len=0x11 speed=0x7a120 bits=0x8 tx=0123456789abcdef10"
                                       "32547698badcfef0"));
        EXPECT_EQ(spi_seen * 10 + spi_unlocked, 10);
    }
}

TEST(SpiSw, RequestsThroughOneKeptDescriptorUnderTheLockFailuresLeaveBuffersAlone) {
    board b("");
    b.remove("/dev/spi-sw");
    uint8_t data[44] = {0x11, 0x22, 0x33}, one[1] = {0x44}, back[44] = {}, other[1] = {0xEE};
    EXPECT_EQ(out_of([] { EXPECT_EQ(spisw_open(), 0); }, true),
              "/dev/spi_sw: No such file or directory\n");
    EXPECT_EQ(spisw_write(1, 2, data, 1), 0);
    b.write("/dev/spi-sw", "");
    ASSERT_EQ(spisw_open(), 1);
    const int fd = fd_spiSwDev;
    EXPECT_EQ(spisw_write(0x03, 0x10, data, 3), 1);
    EXPECT_EQ(data[0], 0x00); // the record as the driver left it: the registers held nothing
    EXPECT_EQ(spisw_write(0x03, 0x11, one, 1), 1);
    EXPECT_EQ(one[0], 0x22);
    EXPECT_EQ(spisw_read(0x03, 0x10, back, 3), 1);
    EXPECT_EQ(std::string(back, back + 3), "\x11\x44\x33");
    EXPECT_EQ(spisw_read(0x04, 0x10, other, 1), 1); // another device has its own registers
    EXPECT_EQ(other[0], 0x00);
    EXPECT_EQ(fd_spiSwDev, fd);
    EXPECT_EQ(b.traced("/dev/spi-sw "), "/dev/spi-sw 0x2 dev=0x3 reg=0x10 len=0x3 data=112233\n"
                                        "/dev/spi-sw 0x2 dev=0x3 reg=0x11 len=0x1 data=44\n"
                                        "/dev/spi-sw 0x1 dev=0x3 reg=0x10 len=0x3 data=114433\n"
                                        "/dev/spi-sw 0x1 dev=0x4 reg=0x10 len=0x1 data=00\n");
    // Lengths outside 1..44 and no buffer are refused before anything is sent.
    const std::string sent = b.traced("/dev/spi-sw ");
    for (int length : {45, 255, 0, -1})
        EXPECT_EQ(spisw_write(1, 0, data, length) + spisw_read(1, 0, data, length), 0) << length;
    EXPECT_EQ(spisw_write(1, 0, nullptr, 4) + spisw_read(1, 0, nullptr, 4), 0);
    EXPECT_EQ(b.traced("/dev/spi-sw "), sent);
    data[43] = 0x5A;
    EXPECT_EQ(sum({spisw_write(1, 0, data, 44), spisw_read(1, 0, back, 44)}), 2);
    EXPECT_EQ(back[43], 0x5A);
    sim_spisw_fail_requests(true);
    EXPECT_EQ(sum({spisw_write(1, 0, one, 1), spisw_read(1, 0, other, 1)}), 0);
    EXPECT_EQ(one[0] * 256 + other[0], 0x2200);
    ASSERT_EQ(pthread_mutex_trylock(&spiLock), 0);
    pthread_mutex_unlock(&spiLock);
    EXPECT_EQ(spi_unlocked, 0);
    EXPECT_EQ(spisw_close(), 0);
    EXPECT_EQ(fd_spiSwDev, -1);
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
