// AK5701 set-up: the register sequences per rate and board, gain and ALC from the
// environment store, and the codec reset pulse, read back from the SPI trace.
#include "board_trace.h"

#include "board/ak5701.h"
#include "board/fpga.h"
#include "config/env.h"
#include "log/log.h"
#include "sim/devices.h"

#include <thread>

namespace {

using writes = std::vector<std::string>;

writes block_p() {
    return {ak_write(0x11, 0x35), ak_write(0x14, 0x23), ak_write(0x10, 0x07), ak_write(0x16, 0x04),
            ak_write(0x11, 0x37)};
}

writes block_r(unsigned code, unsigned last) {
    return {ak_write(0x11, 0x35), ak_write(0x14, 0x23), ak_write(0x15, code),
            ak_write(0x10, 0x07), ak_write(0x16, 0x04), ak_write(0x11, last)};
}

writes block_f(unsigned input) {
    return {ak_write(0x18, 0xA1),  ak_write(0x19, 0xA1), ak_write(0x13, 0x00), ak_write(0x12, 0x10),
            ak_write(0x12, input), ak_write(0x10, 0x04), ak_write(0x10, 0x07)};
}

writes join(std::initializer_list<writes> parts) {
    writes all;
    for (const writes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The whole 8000 Hz sequence: step 12 writes c8.
writes sequence_8000(unsigned c8, unsigned input = 0x10) {
    return join({block_p(), {ak_write(0x15, 0x20)}, block_r(0x20, c8), block_f(input)});
}

std::string board_conf(unsigned variant, unsigned version) {
    char text[96];
    std::snprintf(text, sizeof text, "variant=0x%x\nfpga_version=0x%x\n", variant, version);
    return text;
}

class Ak5701 : public ::testing::Test {
  protected:
    void use_board(unsigned variant, unsigned version) {
        make_traced_board(b, board_conf(variant, version));
        log_to_screen();
        map_fpga_banks();
    }
    board_dir b;
};

TEST_F(Ak5701, Rate8000WritesTheNineteenStepsAndLogsAroundThem) {
    use_board(0x2D54, 0x0102);
    testing::internal::CaptureStdout();
    init_ak5701(1, 8000, 1);
    std::string out = testing::internal::GetCapturedStdout();

    writes got = spi_tx(b, 1);
    ASSERT_EQ(got.size(), 19u);
    EXPECT_EQ(got, sequence_8000(0x37));
    EXPECT_NE(out.find("init_spi_mode:1,0\n"), std::string::npos);
    EXPECT_NE(out.find("init ADC(1):AK5701 (8000Hz),Port:1 \n"), std::string::npos);
    EXPECT_NE(out.find("end of Ak5701....\n"), std::string::npos);
    EXPECT_LT(out.find("init ADC"), out.find("end of Ak5701"));
    // Every transfer is the two bytes at 500 kHz, 8 bits per word.
    for (const std::string& l : lines_with(b, "/dev/spidev.1 ")) {
        if (l.find(" tx=") != std::string::npos) {
            EXPECT_NE(l.find(" len=0x2 speed=0x7a120 bits=0x8 "), std::string::npos) << l;
        }
    }
    // The chip holds what was written last: rate code and everything powered.
    EXPECT_EQ(sim_ak5701_reg(1, 0x15), 0x20);
    EXPECT_EQ(sim_ak5701_reg(1, 0x10), 0x07);
    EXPECT_EQ(sim_ak5701_reg(1, 0x12), 0x10);
    EXPECT_TRUE(spi_tx(b, 0).empty());
    EXPECT_TRUE(spi_tx(b, 2).empty());
}

TEST_F(Ak5701, Step12DependsOnVariantAndVersion) {
    struct board_case {
        unsigned variant;
        unsigned version;
        unsigned c8;
    };
    const board_case cases[] = {
        {0x2D52, 260, 0x17},    {0x2D52, 0x7FFF, 0x17}, {0x2D52, 259, 0x37},
        {0x2D52, 0x8104, 0x37}, {0x2D54, 260, 0x37},    {0x2D54, 0x0102, 0x37},
    };
    for (const board_case& c : cases) {
        board_dir one;
        make_traced_board(one, board_conf(c.variant, c.version));
        log_to_screen();
        map_fpga_banks();
        testing::internal::CaptureStdout();
        init_ak5701(1, 8000, 1);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(spi_tx(one, 1), sequence_8000(c.c8))
            << "variant " << std::hex << c.variant << " version " << c.version;
    }
}

TEST_F(Ak5701, OtherRatesAndInputSelector) {
    use_board(0x2D54, 0x0102);
    testing::internal::CaptureStdout();
    init_ak5701(1, 16000, 1);
    EXPECT_EQ(spi_tx(b, 1), join({block_p(), {ak_write(0x15, 0x22)}, block_f(0x10)}));

    b.remove("/sim/trace.log");
    b.configure("trace=trace.log\n");
    init_ak5701(1, 22050, 1);
    EXPECT_EQ(spi_tx(b, 1), join({block_p(), block_f(0x10)}));

    b.remove("/sim/trace.log");
    b.configure("trace=trace.log\n");
    init_ak5701(1, 48000, 1);
    EXPECT_EQ(spi_tx(b, 1),
              join({block_p(), {ak_write(0x15, 0x2B)}, block_r(0x2B, 0x37), block_f(0x10)}));

    b.remove("/sim/trace.log");
    b.configure("trace=trace.log\n");
    init_ak5701(1, 8000, 2);
    EXPECT_EQ(spi_tx(b, 1), sequence_8000(0x37, 0x13));
    EXPECT_EQ(sim_ak5701_reg(1, 0x12), 0x13);

    b.remove("/sim/trace.log");
    b.configure("trace=trace.log\n");
    init_ak5701(2, 8000, 1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(spi_tx(b, 2), sequence_8000(0x37));
    EXPECT_TRUE(spi_tx(b, 1).empty());
    EXPECT_NE(out.find("init ADC(2):AK5701 (8000Hz),Port:1 \n"), std::string::npos);
}

TEST_F(Ak5701, GainAndAlcFollowTheEnvironmentStore) {
    struct env_case {
        const char* store;
        const char* gain;
        const char* alc;
    };
    const std::string tooLong(40, 'x');
    const env_case cases[] = {
        {"INTERCOMM_M_GAIN=2\nINTERCOMM_ALC=ON\n", "02", "80"},
        {"INTERCOMM_M_GAIN=7\nINTERCOMM_ALC=on\n", "03", "00"},
        {"INTERCOMM_M_GAIN=-1\nINTERCOMM_ALC=OFF\n", "03", "00"},
        {"INTERCOMM_M_GAIN=abc\nINTERCOMM_ALC=\n", "00", "00"},
        {"OTHER=1\n", "00", "80"},
    };
    // Version 257: no reset pulse, so each run is quick.
    use_board(0x2D54, 0x0101);
    env_init(0);
    testing::internal::CaptureStdout();
    for (const env_case& c : cases) {
        write_env_store(b, c.store);
        b.remove("/sim/trace.log");
        b.configure("trace=trace.log\nvariant=0x2D54\nfpga_version=0x0101\n");
        adc_setup(1, 8000, 1);
        writes got = spi_tx(b, 1);
        ASSERT_EQ(got.size(), 21u) << c.store;
        EXPECT_EQ(writes(got.begin(), got.begin() + 19), sequence_8000(0x37)) << c.store;
        EXPECT_EQ(got[19], std::string("b3") + c.gain) << c.store;
        EXPECT_EQ(got[20], std::string("bc") + c.alc) << c.store;
    }
    // A value longer than the 31 characters the buffer holds is refused: the defaults apply.
    write_env_store(b, "INTERCOMM_M_GAIN=1" + tooLong + "\nINTERCOMM_ALC=ON" + tooLong + "\n");
    b.remove("/sim/trace.log");
    b.configure("trace=trace.log\nvariant=0x2D54\nfpga_version=0x0101\n");
    adc_setup(1, 8000, 1);
    testing::internal::GetCapturedStdout();
    writes got = spi_tx(b, 1);
    ASSERT_EQ(got.size(), 21u);
    EXPECT_EQ(got[19], "b300");
    EXPECT_EQ(got[20], "bc80");
}

TEST_F(Ak5701, CodecResetPulsesOnlyAboveVersion257) {
    const uintptr_t control = fpga_addr(fpga_reg::control);
    for (unsigned version : {0x0101u, 0x8103u}) {
        board_dir one;
        make_traced_board(one, board_conf(0x2D54, version));
        map_fpga_banks();
        fpga_write16(control, 0xABCE);
        codec_reset();
        EXPECT_EQ(fpga_read16(control), 0xABCE) << std::hex << version;
    }
    use_board(0x2D54, 0x0102);
    fpga_write16(control, 0xABCF);
    // Let the watcher see the register as it is before the pulse begins.
    ASSERT_TRUE(wait_for([&] { return lines_with(b, "/dev/mem reg 0x22=").size() == 1; }));
    codec_reset();
    EXPECT_EQ(fpga_read16(control), 0xABCF); // other bits kept, run bit back on
    ASSERT_TRUE(wait_for([&] { return lines_with(b, "/dev/mem reg 0x22=").size() >= 3; }));
    writes seen = lines_with(b, "/dev/mem reg 0x22=");
    EXPECT_EQ(seen, (writes{"/dev/mem reg 0x22=0xabcf", "/dev/mem reg 0x22=0xabce",
                            "/dev/mem reg 0x22=0xabcf"}));
}

} // namespace
