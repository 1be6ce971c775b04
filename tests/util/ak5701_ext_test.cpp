// The optional AK5701 set-up: its register sequences by rate, high bits, flag, input and
// board, read back from the SPI trace.
#include "drivers_board.h"

#include "util/ak5701_ext.h"

namespace {

using writes = std::vector<std::string>;

writes power_up() {
    return {ak_write(0x11, 0x35), ak_write(0x14, 0x23), ak_write(0x10, 0x07), ak_write(0x16, 0x04),
            ak_write(0x11, 0x37)};
}

// Steps 9 to 14: register 0x12 from the flag, then from the input selector.
writes tail(unsigned flagged, unsigned selected) {
    return {ak_write(0x18, 0xA1),     ak_write(0x19, 0xA1), ak_write(0x12, flagged),
            ak_write(0x12, selected), ak_write(0x10, 0x04), ak_write(0x10, 0x07)};
}

writes join(std::initializer_list<writes> parts) {
    writes all;
    for (const writes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::string board_conf(unsigned variant, unsigned version) {
    char text[96];
    std::snprintf(text, sizeof text, "variant=0x%x\nfpga_version=0x%x\n", variant, version);
    return text;
}

// The AK5701 writes of one init_ak5701_ext run on a fresh board, and what it logged.
struct run {
    writes sent;
    std::string log;
};
run ext_run(const std::string& conf, int port, int rate, int hi, int input, int flag) {
    board_dir b;
    use_driver_board(b, conf);
    testing::internal::CaptureStdout();
    init_ak5701_ext(port, rate, hi, input, flag);
    run r{spi_tx(b, port), testing::internal::GetCapturedStdout()};
    for (int other = 0; other < 3; ++other)
        if (other != port) {
            EXPECT_TRUE(spi_tx(b, other).empty()) << "port " << other;
        }
    return r;
}

TEST(Ak5701Ext, HighBitsGoIntoBits7And6OfTheRateCode) {
    const std::string conf = board_conf(0x2D54, 0x0102);
    run r = ext_run(conf, 1, 32000, 2, 1, 0);
    EXPECT_EQ(r.sent, join({power_up(), {ak_write(0x15, 0xAA)}, tail(0x10, 0x10)}));
    // Only the set-up's mode report is logged.
    EXPECT_EQ(r.log, "init_spi_mode:1,0\n\n\n");

    EXPECT_EQ(ext_run(conf, 1, 48000, 7, 1, 0).sent,
              join({power_up(), {ak_write(0x15, 0xEB)}, tail(0x10, 0x10)}));
    EXPECT_EQ(ext_run(conf, 2, 44100, 1, 1, 0).sent,
              join({power_up(), {ak_write(0x15, 0x6F)}, tail(0x10, 0x10)}));
    EXPECT_EQ(ext_run(conf, 1, 16000, 0, 1, 0).sent,
              join({power_up(), {ak_write(0x15, 0x22)}, tail(0x10, 0x10)}));
}

TEST(Ak5701Ext, RateOutsideTheTableWritesNoRateCode) {
    const writes sent = ext_run(board_conf(0x2D54, 0x0102), 1, 22050, 3, 1, 0).sent;
    EXPECT_EQ(sent, join({power_up(), tail(0x10, 0x10)}));
    // No gain write either, unlike the bridge's set-up.
    for (const std::string& w : sent)
        EXPECT_NE(w.substr(0, 2), "b3") << w;
}

TEST(Ak5701Ext, FlagAndInputSetRegister12InTurn) {
    const std::string conf = board_conf(0x2D54, 0x0102);
    EXPECT_EQ(ext_run(conf, 1, 16000, 0, 1, 1).sent,
              join({power_up(), {ak_write(0x15, 0x22)}, tail(0x15, 0x10)}));
    EXPECT_EQ(ext_run(conf, 1, 16000, 0, 2, 0).sent,
              join({power_up(), {ak_write(0x15, 0x22)}, tail(0x10, 0x13)}));
    EXPECT_EQ(ext_run(conf, 1, 16000, 0, 0, -1).sent,
              join({power_up(), {ak_write(0x15, 0x22)}, tail(0x15, 0x13)}));
}

TEST(Ak5701Ext, At8000TheFinalSetupValueDependsOnTheBoard) {
    struct board_case {
        unsigned variant;
        unsigned version;
        unsigned last;
    };
    const board_case cases[] = {
        {0x2D52, 260, 0x17},
        {0x2D52, 259, 0x37},
        {0x2D54, 0x0300, 0x37},
        {0x2D52, 0x8104, 0x37},
    };
    for (const board_case& c : cases) {
        EXPECT_EQ(
            ext_run(board_conf(c.variant, c.version), 1, 8000, 1, 1, 0).sent,
            join({power_up(), {ak_write(0x15, 0x60), ak_write(0x11, c.last)}, tail(0x10, 0x10)}))
            << std::hex << c.variant << " " << c.version;
    }
}

} // namespace
