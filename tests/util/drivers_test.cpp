// The board library's chip and bus drivers: register writes in bus order, records as drivers
// receive them, spiLock held around every SPI request, and the failures that end the process.
#include "util/ak5701_ext.h"
#include "util/ak5701_send.h"
#include "util/codec_ctl.h"
#include "util/gv760x.h"
#include "util/ics307.h"
#include "util/max9850_ext.h"
#include "util/spi_sw.h"
#include "util_test.h"

#include <regex>

namespace {

using namespace ut;

std::string board_conf(unsigned variant, unsigned version) {
    return "variant=" + std::to_string(variant) + "\nfpga_version=" + std::to_string(version);
}

// The waits of the code under test while a board and port are watched, each after the last
// SPI write made before it: "b9a1:10000 " is 10 ms after register 0x19 was written.
const board* watched = nullptr;
int watchedPort = 0;
std::string waits;

} // namespace

extern "C" int usleep(useconds_t us) {
    if (watched != nullptr) {
        const lines tx = spi_tx(*watched, watchedPort);
        waits += (tx.empty() ? "" : tx.back()) + ":" + std::to_string(us) + " ";
    }
    timespec t{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    return nanosleep(&t, nullptr);
}

namespace {

TEST(Ak5701Ext, RegisterSequenceByRateHighBitsFlagInputAndBoard) {
    // Board, port, rate, hi, input, flag; the writes between the power-up block and the fixed
    // tail, and those of register 0x12 (from the flag, then from the input).
    const std::tuple<unsigned, unsigned, int, int, int, int, int, const char*, const char*> rows[] =
        {
            {0x2D54, 0x102, 1, 48000, 7, 1, 0, "b5eb ", "b210 b210 "}, // only hi & 3 counts
            {0x2D54, 0x102, 2, 44100, 1, 1, 0, "b56f ", "b210 b210 "},
            {0x2D54, 0x102, 1, 22050, 3, 1, 0, "", "b210 b210 "}, // no rate code, no gain write
            {0x2D54, 0x102, 1, 16000, 0, 1, 1, "b522 ", "b215 b210 "},
            {0x2D54, 0x102, 1, 16000, 0, 2, 0, "b522 ", "b210 b213 "},
            {0x2D54, 0x102, 1, 16000, 0, 0, -1, "b522 ", "b215 b213 "},
            // At 8000 Hz the set-up value of the board follows the rate code.
            {0x2D52, 260, 1, 8000, 1, 1, 0, "b560 b117 ", "b210 b210 "},
            {0x2D52, 259, 2, 8000, 1, 1, 0, "b560 b137 ", "b210 b210 "},
        };
    for (const auto& [variant, version, port, rate, hi, input, flag, rateWrites, reg12] : rows) {
        SCOPED_TRACE(board_conf(variant, version) + " rate " + std::to_string(rate));
        board b(board_conf(variant, version).c_str());
        std::tie(watched, watchedPort, waits) = std::make_tuple(&b, port, "");
        EXPECT_EQ(stdout_of([&] { init_ak5701_ext(port, rate, hi, input, flag); }),
                  "init_spi_mode:" + std::to_string(port) + ",0\n\n\n");
        watched = nullptr;
        EXPECT_EQ(spi_tx(b, port), words(std::string("b135 b423 b007 b604 b137 ") + rateWrites +
                                         "b8a1 b9a1 " + reg12 + "b004 b007"));
        // The power-up's 100 us steps, 10 ms to settle after each rate write (after the
        // power-up when there is none) and after register 0x19.
        std::string settle = "b135:100 b423:100 b007:100 b137:100 ";
        for (const std::string& w : words(*rateWrites != 0 ? rateWrites : "b137"))
            settle += w + ":10000 ";
        EXPECT_EQ(waits, settle + "b9a1:10000 ");
    }
}

TEST(Ak5701Send, TheCallersBytesOnTheFixedPortAtMostTheTwoByteArea) {
    board b("");
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
    EXPECT_EQ(spi_seen, 4);
    EXPECT_EQ(spi_unlocked, 0); // every request under spiLock
}

TEST(CodecCtl, RecordsAsBigEndianWordsResultOfTheCloseAndAMissingDriver) {
    board b("");
    sim_codec_fail_requests(true); // the request's own failure is not looked at
    EXPECT_EQ(codec_ctl_send(0x01020304u, 0xA0B0C0D0u), 0);
    EXPECT_EQ(codec_ctl_request(0xC0044305ul), 0);
    const std::string head = " len=0x30 data=" + std::string(72, '0'), zeros(24, '0');
    const lines sent = b.traced("/dev/codec ");
    EXPECT_EQ(sent, (lines{"/dev/codec 0x19" + head + "01020304a0b0c0d000000002 fail",
                           "/dev/codec 0xc0044305" + head + zeros + " fail"}));
    b.remove("/dev/codec");
    EXPECT_EQ(stdout_of([] {
                  EXPECT_EQ(codec_ctl_send(5, 7), -1);
                  EXPECT_EQ(codec_ctl_request(0x19), -1);
              }),
              "Error! open /dev/codec\r\nError! open /dev/codec\r\n");
    EXPECT_EQ(b.traced("/dev/codec "), sent); // no request without the driver
}

TEST(Max9850, PlainSetUpAndRateSwitchWrites) {
    // init_max9850_plain or max9850_set_rate, address, rate; "RRVV" writes: the rate step of
    // the set-up, or the charge pump between the set-up hold and the run.
    const std::tuple<bool, int, int, const char*> rows[] = {
        {true, 0x22, 8000, "0960"},    {true, 0x122, 44100, "0911"}, // only the low byte counts
        {true, 0x22, 999, "0500"},     {false, 0x22, 8000, ""},       {false, 0x22, 32000, ""},
        {false, 0x22, 44100, "0748 "}, {false, 0x22, 48000, "0749 "},
    };
    for (const auto& [plain, addr, rate, step] : rows) {
        SCOPED_TRACE(std::to_string(plain) + " " + std::to_string(rate));
        board b(board_conf(0x2D52, 0x300).c_str()); // its MAX9850 answers at 0x22
        EXPECT_EQ(stdout_of([&] {
                      plain ? init_max9850_plain(addr, rate) : max9850_set_rate(addr, rate);
                  }),
                  plain ? "init MAX9850 (" + std::to_string(rate) + "Hz) \n" : "");
        const std::string writes =
            plain ? "05fc 0255 0309 0400 0600 0880 0910 0a00 0749 " + std::string(step) + " 05fd "
                  : "05fc " + std::string(step) + "05fd ";
        lines expected;
        for (const std::string& w : words(writes)) {
            const bool lead = w[0] == '0'; // the register as the trace writes it: no leading 0
            expected.push_back("/dev/i2c-sw 0x2 addr=0x22 reg=0x" + w.substr(lead, 2 - lead) +
                               " len=0x1 data=" + w.substr(2));
        }
        EXPECT_EQ(b.traced("/dev/i2c-sw "), expected);
    }
}

TEST(Gv760x, WordsGoOutMostSignificantByteFirstAndReadsTakeBytesTwoAndThree) {
    board b("");
    const uint16_t write = 0x1234, value = 0xABCD, read = 0x9234, low = 0x8001;
    uint16_t out = 0x5555, outLow = 0;
    sim_gv760x_set_reg(0x001, 0x00FF);
    // The read flag is the caller's, sent as given.
    EXPECT_EQ(gv760x_write(write, value), 0);
    EXPECT_EQ(gv760x_read(read, out), 0);
    EXPECT_EQ(gv760x_read(low, outLow), 0);
    EXPECT_EQ(out, 0xABCD);
    EXPECT_EQ(outLow, 0x00FF);
    const std::string at = "len=0x4 speed=0x3d0900 bits=0x8 rx=";
    EXPECT_EQ(b.traced("/dev/spidev."), (lines{spi_line(0, at + "00000000 tx=1234abcd"),
                                               spi_line(0, at + "0000abcd tx=92340000"),
                                               spi_line(0, at + "000000ff tx=80010000")}));
    EXPECT_EQ(spi_seen, 3);
    EXPECT_EQ(spi_unlocked, 0); // every request under spiLock
}

TEST(Ics307, PortAndMarkerFollowTheBoardAndTheWordIsSentWhole) {
    const uint8_t word[17] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x10,
                              0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0xF0};
    const std::tuple<const char*, const char*, int> rows[] = {
        {"board_id=0x3634\nvariant=0x2D52\nfpga_version=0x0104\n", "....3\n", 1},
        {"board_id=0x3632\nvariant=0x2D52\nfpga_version=0x0104\n", "....1\n", 2},
        {"board_id=0x3632\nvariant=0x2D52\nfpga_version=0x0103\n", "....2\n", 1},
        {"board_id=0x3632\nvariant=0x2D54\nfpga_version=0x0104\n", "....2\n", 1},
        {"board_id=0x3632\nvariant=0x2D52\nfpga_version=0x8104\n", "....2\n", 1}, // negative: old
        {"", "....2\n", 1}, // its mode setting fails, which is not noticed
    };
    for (const auto& [conf, marker, port] : rows) {
        SCOPED_TRACE(conf);
        board b(conf);
        sim_spidev_fail_settings(1, conf[0] == '\0');
        EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ics307_program(word, sizeof word), 0); }), marker);
        EXPECT_EQ(b.traced("/dev/spidev."),
                  (lines{spi_line(port, conf[0] ? "mode=0x0" : "fail", spi_request::wr_mode),
                         spi_line(port, "len=0x11 speed=0x7a120 bits=0x8 tx=0123456789abcdef10"
                                        "32547698badcfef0")}));
        EXPECT_EQ(spi_seen, 1);
        EXPECT_EQ(spi_unlocked, 0); // every request under spiLock
    }
}

TEST(Ics307, MarkerEndsItsLineInTheLogFile) {
    board b("");
    log_to_file();
    ASSERT_EQ(log_set_path("/tmp/.print_obraBi"), 1);
    log_reset_line_start();
    const uint8_t word[2] = {0x12, 0x34};
    EXPECT_EQ(ics307_program(word, sizeof word), 0);
    log_printf("next\n");
    log_to_screen();
    const std::string stamp = R"(\[\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\] )";
    const std::string log = b.read("/tmp/.print_obraBi");
    EXPECT_TRUE(std::regex_match(log, std::regex(stamp + "\\.\\.\\.\\.2\n" + stamp + "next\n")))
        << log;
}

TEST(SpiSw, RequestsThroughOneKeptDescriptorUnderTheLockFailuresLeaveBuffersAlone) {
    board b("");
    b.remove("/dev/spi-sw");
    uint8_t data[44] = {0x11, 0x22, 0x33}, one[1] = {0x44}, back[44] = {}, other[1] = {0xEE};
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(spisw_open(), 0); }, true),
              "/dev/spi_sw: No such file or directory\n");
    EXPECT_EQ(spisw_write(1, 2, data, 1), 0);
    b.write("/dev/spi-sw", "");
    ASSERT_EQ(spisw_open(), 1);
    const int fd = fd_spiSwDev;
    // The driver leaves in a written record what the registers held: here nothing yet.
    EXPECT_EQ(spisw_write(3, 0x10, data, 3), 1);
    EXPECT_EQ(spisw_write(3, 0x11, one, 1), 1);
    EXPECT_EQ(spisw_read(3, 0x10, back, 3), 1);
    EXPECT_EQ(spisw_read(4, 0x10, other, 1), 1);
    EXPECT_EQ(std::string(data, data + 3), std::string("\0\0\0", 3));
    EXPECT_EQ(one[0], 0x22); // register 0x11 as the first write left it
    EXPECT_EQ(std::string(back, back + 3), "\x11\x44\x33");
    EXPECT_EQ(other[0], 0x00); // another device: its own registers
    EXPECT_EQ(fd_spiSwDev, fd);
    const lines sent = b.traced("/dev/spi-sw ");
    EXPECT_EQ(sent, (lines{"/dev/spi-sw 0x2 dev=0x3 reg=0x10 len=0x3 data=112233",
                           "/dev/spi-sw 0x2 dev=0x3 reg=0x11 len=0x1 data=44",
                           "/dev/spi-sw 0x1 dev=0x3 reg=0x10 len=0x3 data=114433",
                           "/dev/spi-sw 0x1 dev=0x4 reg=0x10 len=0x1 data=00"}));
    // Lengths outside 1..44 and no buffer are refused before anything is sent.
    for (int length : {45, 255, 0, -1}) {
        EXPECT_EQ(spisw_write(1, 0, data, length), 0) << length;
        EXPECT_EQ(spisw_read(1, 0, data, length), 0) << length;
    }
    EXPECT_EQ(spisw_write(1, 0, nullptr, 4), 0);
    EXPECT_EQ(spisw_read(1, 0, nullptr, 4), 0);
    EXPECT_EQ(b.traced("/dev/spi-sw "), sent);
    data[43] = 0x5A;
    EXPECT_EQ(spisw_write(1, 0, data, 44), 1);
    EXPECT_EQ(spisw_read(1, 0, back, 44), 1);
    EXPECT_EQ(back[43], 0x5A);
    sim_spisw_fail_requests(true);
    EXPECT_EQ(spisw_write(1, 0, one, 1), 0);
    EXPECT_EQ(spisw_read(1, 0, other, 1), 0);
    EXPECT_EQ(one[0], 0x22); // failed requests leave the records as they were
    EXPECT_EQ(other[0], 0x00);
    EXPECT_EQ(spi_unlocked, 0);
    EXPECT_EQ(pthread_mutex_trylock(&spiLock), 0); // the lock is free
    pthread_mutex_unlock(&spiLock);
    EXPECT_EQ(spisw_close(), 0);
    EXPECT_EQ(fd_spiSwDev, -1);
}

// The open-failure messages end with a line feed, so the system's text starts the next line.
TEST(SpidevDriverDeath, OpenAndTransferFailuresEndTheProcessNamingTheChip) {
    const uint16_t cmd = 0x8001;
    uint16_t out = 0;
    const uint8_t bytes[2] = {0xB1, 0x35};
    // The port whose node is removed, or whose transfers fail; on this board ICS307 uses 2.
    const std::tuple<int, std::function<void()>, const char*> rows[] = {
        {0, [&] { gv760x_read(cmd, out); }, "gv760x"},
        {1, [&] { ak5701_send_port1(bytes, 2); }, "ak5701"},
        {2, [&] { ak5701_send_port2(bytes, 2); }, "ak5701"},
        {2, [&] { ics307_program(bytes, 2); }, "ics307"},
    };
    board b("board_id=0x3632\nvariant=0x2D52\nfpga_version=0x0104\n");
    for (const auto& [port, call, chip] : rows) {
        const std::string node = "/dev/spidev." + std::to_string(port);
        b.remove(node);
        EXPECT_DEATH(call(), std::string("can't open ") + chip + "\n: No such file or directory");
        b.write(node, "");
        sim_spidev_fail_transfers(port, true);
        EXPECT_DEATH(call(), "can't send spi message: Input/output error") << chip;
        sim_spidev_fail_transfers(port, false);
    }
    EXPECT_DEATH(ics307_program(bytes, 0), "can't send spi message"); // nothing to send: refused
}

} // namespace
