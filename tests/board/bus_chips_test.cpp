// The buses and the codec chips as the simulated board's trace shows them: SPI and the mode
// report, GPIO request words, AK5701 and MAX9850 set-ups, I2C records; and their failures.
#include "board_trace.h"

#include "board/ak5701.h"
#include "board/gpio.h"
#include "hw/hw.h"
#include "board/i2c.h"
#include "board/max9850.h"
#include "board/spi.h"
#include "config/env.h"
#include "sim/devices.h"

#include <fcntl.h>

namespace {

// The bytes of a buffer, which a failed comparison shows one by one.
template <std::size_t N> std::vector<int> bytes(const uint8_t (&buffer)[N]) {
    return std::vector<int>(buffer, buffer + N);
}
std::vector<int> bytes(std::initializer_list<int> values) {
    return values;
}

TEST(Spi, WriteSendsAtMostTwoBytesAndTheModeReportAndSetUpGroupLogThePort) {
    board_dir b;
    map_board(b);
    uint8_t buffer[4] = {0xB5, 0x20, 0x77, 0x88};
    EXPECT_EQ(spi_write(1, buffer, 2), 0);
    EXPECT_EQ(spi_write(0, buffer + 2, 1), 0); // nothing beyond the caller's length
    EXPECT_EQ(spi_write(2, buffer, 4), 0);     // no more than the transmit area
#if defined(__powerpc__) // the board's encoding: write direction in bit 31, a 32-byte record
    EXPECT_EQ(static_cast<unsigned long>(spi_request::message_1), 0x80206B00ul);
#endif
    const std::string rest = " speed=0x7a120 bits=0x8 tx=";
    EXPECT_EQ(b.traced("/dev/spidev."),
              (lines{spi_line(1, spi_request::message_1) + " len=0x2" + rest + "b520",
                     spi_line(0, spi_request::message_1) + " len=0x1" + rest + "77",
                     spi_line(2, spi_request::message_1) + " len=0x2" + rest + "b520"}));
    // The mode report names the bits the port holds, and changes nothing.
    const std::pair<uint8_t, const char*> cases[] = {
        {0x00, ""},
        {0x03, "\nSPI MODE : CPHA CPOL "},
        {0x3F, "\nSPI MODE : LOOP CPHA CPOL LSB_FIRST CS_HIGH 3WIRE "},
        {0x24, "\nSPI MODE : LOOP CS_HIGH "},
    };
    for (auto [mode, report] : cases) {
        int fd = hw_open(spi_port_path(1), O_RDWR); // as another program would have set it
        ASSERT_EQ(hw_ioctl(fd, static_cast<unsigned long>(spi_request::wr_mode), &mode), 0);
        hw_close(fd);
        EXPECT_EQ(stdout_of([] { init_spi_mode(1, 5); }),
                  std::string("init_spi_mode:1,5\n") + report + "\n\n");
    }
    EXPECT_EQ(b.traced(spi_line(1, spi_request::wr_mode)).size(), 4u); // only ours
    EXPECT_EQ(b.traced(spi_line(1, spi_request::rd_mode)).size(), 8u); // two per report
    b.remove("/dev/spidev.2");
    const std::string out = stdout_of([] {
        init_spi_mode(2, 0);
        init_spi_mode(7, 0);
        // The set-up group of the board library: set, read back and log each setting.
        int fd = hw_open("/dev/spidev.0", O_RDWR);
        spi_set_speed(fd, 1999);
        hw_close(fd);
        spi_setup_ports();
    });
    const std::string zeros = "spi mode: 0\nbits per word: 0\nmax speed: 0 Hz (0 KHz)\n";
    EXPECT_EQ(out, "init_spi_mode:2,0\ncan't open spidev.2\n\n\ninit_spi_mode:7,0\ncan't open "
                   "spidev.7\n\n\nmax speed: 1999 Hz (1 KHz)\ninit spi port!!!!!\n"
                   "init spi...../dev/spidev.0\n" +
                       zeros + "init spi...../dev/spidev.1\n" + zeros);
    EXPECT_EQ(pthread_mutex_trylock(&spiLock), 0); // free again after every transaction
    pthread_mutex_unlock(&spiLock);
}

TEST(SpiDeathTest, MissingPortOrFailedRequestAborts) {
    board_dir b;
    map_board(b);
    const uint8_t bytes[2] = {0xB5, 0x20};
    EXPECT_DEATH((sim_spidev_fail_transfers(1, true), spi_write(1, bytes, 2)),
                 "can't send spi message: Input/output error");
    EXPECT_DEATH((sim_spidev_fail_settings(0, true), spi_setup_port("/dev/spidev.0", 0, 8, 1)),
                 "can't set spi mode");
    EXPECT_DEATH(spi_write(1, bytes, 0), "can't send spi message"); // no transfer at all
    EXPECT_DEATH(spi_write(3, bytes, 2), "can't open device");
    b.remove("/dev/spidev.1");
    EXPECT_DEATH(spi_write(1, bytes, 2), "can't open device: No such file or directory");
    b.remove("/dev/spidev.0");
    EXPECT_DEATH(spi_setup_port("/dev/spidev.0", 0, 8, 500000), "can't open device");
}

TEST(Gpio, RequestWordsCarryCommandAndLineAndEachCallClosesTheDriverOrReportsItMissing) {
    board_dir b;
    map_board(b);
    for (auto [line, level] : {std::pair{11, 1}, {6, 1}, {0x10006, 0}, {6, 1}})
        gpio_set(line, level); // only the low 16 bits name the line
    EXPECT_EQ(gpio_get(6), 1);
    EXPECT_EQ(gpio_get(7), 0);
    gpio_setup(3, 0x1FF, 2);
    const std::string g = "/dev/codec-gpio1 ";
    const lines expected = {g + "0x200000b arg=0x1",   g + "0x2000006 arg=0x1",
                            g + "0x2000006 arg=0x0",   g + "0x2000006 arg=0x1",
                            g + "0x1000006 value=0x1", g + "0x1000007 value=0x0",
                            g + "0x3 arg=0x2ff0000"};
    EXPECT_EQ(b.traced(g), expected);
    // Without the driver: standard output says so (set and get only), nothing is requested.
    b.remove("/dev/codec-gpio1");
    int level = -1;
    EXPECT_EQ(stdout_of([&] { gpio_set(6, 0), level = gpio_get(6), gpio_setup(6, 1, 1); }),
              "can't open devicecan't open device");
    EXPECT_EQ(level, 0);
    EXPECT_EQ(b.traced(g), expected);
    b.write("/dev/codec-gpio1", "");
    const auto before = open_descriptors();
    for (int i = 0; i < 200; ++i) {
        gpio_set(6, i & 1);
        EXPECT_EQ(gpio_get(6), i & 1);
    }
    EXPECT_LE(open_descriptors(), before);
}

// Register writes as the trace shows them, from "register=value" pairs (hexadecimal) in the
// order sent, each made into its trace line by line_of(register, value).
lines register_writes(const std::string& pairs, std::string (*line_of)(unsigned, unsigned)) {
    lines out;
    for (const std::string& pair : words(pairs))
        out.push_back(line_of(std::stoul(pair.substr(0, 2), nullptr, 16),
                              std::stoul(pair.substr(3), nullptr, 16)));
    return out;
}

lines ak_writes(const std::string& pairs) {
    return register_writes(pairs, ak_write);
}

TEST(Ak5701, SequencePerRateBoardAndInputThenGainAndAlcFromTheStore) {
    // The chip's set-up as the board needs it: power-up; the rate code in register 0x15 and,
    // for 8000, 32000, 44100 and 48000 Hz, the power-up again with the code in place, ending
    // in register 0x11 (0x17 on FPGA versions above 259 of the 0x2D52 board at 8000 Hz, else
    // 0x37); the fixed tail with the input selector in 0x12 (0x10 for input 1, else 0x13);
    // then gain (0x13, two bits) and ALC (0x1C bit 7) from the environment store.
    const std::string up = "11=35 14=23 10=07 16=04 11=37 ";
    const std::string tail = "18=A1 19=A1 13=00 12=10 12=10 10=04 10=07 ";
    // The power-up again with the rate code in 0x15, ending in register 0x11.
    const auto again = [](const std::string& code, const std::string& last) {
        return "15=" + code + " 11=35 14=23 15=" + code + " 10=07 16=04 11=" + last + " ";
    };
    struct ak_case {
        unsigned variant, version;
        int rate, input, port;
        std::string store, writes;
    };
    const std::string tooLong(40, 'x'); // more than the 31 characters the buffer holds
    const ak_case cases[] = {
        {0x2D54, 0x0102, 8000, 1, 1, "INTERCOMM_M_GAIN=2\nINTERCOMM_ALC=ON",
         up + again("20", "37") + tail + "13=02 1C=80"},
        {0x2D52, 260, 8000, 1, 1, "INTERCOMM_M_GAIN=7\nINTERCOMM_ALC=on",
         up + again("20", "17") + tail + "13=03 1C=00"},
        {0x2D52, 0x7FFF, 8000, 1, 1, "INTERCOMM_M_GAIN=-1\nINTERCOMM_ALC=OFF",
         up + again("20", "17") + tail + "13=03 1C=00"},
        {0x2D52, 259, 8000, 1, 1,
         "INTERCOMM_M_GAIN=abc\nINTERCOMM_ALC=", up + again("20", "37") + tail + "13=00 1C=00"},
        {0x2D52, 0x8104, 8000, 1, 1, "OTHER=1", // a negative version is an old one
         up + again("20", "37") + tail + "13=00 1C=80"},
        {0x2D54, 260, 8000, 1, 1, "INTERCOMM_M_GAIN=1" + tooLong + "\nINTERCOMM_ALC=OFF" + tooLong,
         up + again("20", "37") + tail + "13=00 1C=80"},
        {0x2D54, 0x0101, 8000, 2, 1, "",
         up + again("20", "37") + "18=A1 19=A1 13=00 12=10 12=13 10=04 10=07 13=00 1C=80"},
        {0x2D54, 0x0101, 8000, 1, 2, "", up + again("20", "37") + tail + "13=00 1C=80"},
        {0x2D54, 0x0101, 16000, 1, 1, "", up + "15=22 " + tail + "13=00 1C=80"},
        {0x2D54, 0x0101, 22050, 1, 1, "", up + tail + "13=00 1C=80"}, // no code for this rate
        {0x2D54, 0x0101, 32000, 1, 1, "", up + again("2A", "37") + tail + "13=00 1C=80"},
        {0x2D54, 0x0101, 44100, 1, 1, "", up + again("2F", "37") + tail + "13=00 1C=80"},
        {0x2D54, 0x0101, 48000, 1, 1, "", up + again("2B", "37") + tail + "13=00 1C=80"},
    };
    env_init(0);
    for (const ak_case& c : cases) {
        SCOPED_TRACE(&c - cases); // the row
        board_dir b;
        map_board(b, "variant=" + hex_text(c.variant) + "\nfpga_version=" + hex_text(c.version));
        b.write("/usr/local/bin/env.d",
                "#!/bin/sh\ngrep \"^$1=\" \"${0%/*}/../../../sim/env.main\"\n", 0755);
        b.write("/sim/env.main", c.store + "\n");
        const std::string out = stdout_of([&] { adc_setup(c.port, c.rate, c.input); });
        EXPECT_EQ(spi_tx(b, c.port), ak_writes(c.writes));
        const std::string p = std::to_string(c.port);
        EXPECT_TRUE(out.starts_with("init_spi_mode:" + p + ",0\n\n\ninit ADC(" + p + "):AK5701 (" +
                                    std::to_string(c.rate) + "Hz),Port:" + std::to_string(c.input) +
                                    " \nend of Ak5701....\n"))
            << out;
    }
    // The rate codes of register 0x15, and none for a rate the chip is not set up for.
    const std::pair<int, int> codes[] = {{8000, 0x20},  {16000, 0x22}, {32000, 0x2A},
                                         {44100, 0x2F}, {48000, 0x2B}, {22050, -1}};
    for (auto [rate, code] : codes)
        EXPECT_EQ(ak5701_rate_code(rate), code) << rate;
}

TEST(Ak5701, CodecResetPulsesTheRunBitOnlyAboveVersion257) {
    const uintptr_t control = fpga_addr(fpga_reg::control);
    const std::string reg = "/dev/mem reg 0x22=";
    for (const char* version : {"0x0101", "0x8103", "0x0102"}) {
        board_dir b;
        map_board(b, std::string("fpga_version=") + version);
        fpga_write16(control, 0xABCF);
        // Let the watcher see the register as it is before the pulse begins.
        ASSERT_TRUE(wait_for([&] { return b.traced(reg).size() == 1; }));
        codec_reset();
        EXPECT_EQ(fpga_read16(control), 0xABCF); // other bits kept, run bit back on
        const bool pulse = std::string(version) == "0x0102";
        if (pulse) {
            EXPECT_TRUE(wait_for([&] { return b.traced(reg).size() >= 3; }));
        }
        const lines seen =
            pulse ? lines{reg + "0xabcf", reg + "0xabce", reg + "0xabcf"} : lines{reg + "0xabcf"};
        EXPECT_EQ(b.traced(reg), seen) << version;
    }
}

// The MAX9850's writes at 0x20 or 0x22.
template <unsigned addr> std::string dac_write(unsigned reg, unsigned value) {
    return i2c_write_line(addr, reg, value);
}

TEST(Max9850, SetUpPerRateAtTheChosenAddress) {
    // The chip's set-up: enable register 0x05 at 0xFC (all on but the DAC's run bit), volume,
    // general purpose, clock, LRCLK divider 0x8010, digital audio interface, charge pump; then
    // the rate's LRCLK low byte (or, for rate 999, everything off) and 0x05 = 0xFD to run.
    const std::string head = "05=FC ", rest = "03=09 04=00 06=00 08=80 09=10 0A=00 07=49 ";
    const std::tuple<int, int, int, std::string> cases[] = {
        // address (only its low byte counts), rate, with the interrupt register 0x02, writes
        {0x120, 999, 0, head + rest + "05=00 05=FD"},
        {0x20, 16000, 0, head + rest + "09=10 05=FD"},
        {0x20, 44100, 0, head + rest + "09=11 05=FD"},
        {0x20, 32000, 0, head + rest + "09=18 05=FD"},
        {0x20, 8000, 1, head + "02=55 " + rest + "09=60 05=FD"}};
    for (const auto& [addr, rate, withReg02, writes] : cases) {
        board_dir b;
        map_board(b, "fpga_version=0x0101"); // the DAC answers at 0x20
        max9850_setup_writes(addr, rate, withReg02);
        EXPECT_EQ(b.traced("/dev/i2c-sw "), register_writes(writes, dac_write<0x20>)) << rate;
    }
    // A newer FPGA on another board answers at 0x22, where main points init_dac; at the
    // wrong address every write is still made, and fails.
    board_dir b;
    map_board(b, "variant=0x2D52\nfpga_version=0x0300");
    max9850I2cAddr = 0x22;
    EXPECT_EQ(stdout_of([] { init_dac(8000); }), "init MAX9850 4 Intercomm (8000Hz) \n");
    EXPECT_EQ(b.traced("/dev/i2c-sw "),
              register_writes(head + rest + "09=60 05=FD", dac_write<0x22>));
    stdout_of([] { init_max9850(0x20, 8000); });
    lines failed = b.traced("/dev/i2c-sw 0x2 addr=0x20 ");
    ASSERT_EQ(failed.size(), 10u);
    EXPECT_EQ(failed[9], i2c_write_line(0x20, 0x05, 0xFD) + " fail");
}

TEST(I2c, TransfersCopyBackRefuseWhatTheRecordCannotCarryAndReportAMissingDriver) {
    board_dir b;
    map_board(b, "fpga_version=0x0101");
    ASSERT_EQ(i2c_open(), 1);
    uint8_t data[3] = {0x11, 0x22, 0x33};
    EXPECT_EQ(i2c_xfer_write(0x20, 0x03, data, 3), 1);
    uint8_t back[3] = {};
    EXPECT_EQ(i2c_xfer_read(0x20, 0x03, back, 3), 1);
    EXPECT_EQ(bytes(back), bytes({0x11, 0x22, 0x33}));
    uint8_t untouched[2] = {0xAA, 0xBB}; // nobody at 0x30: a failed read leaves it alone
    EXPECT_EQ(i2c_xfer_read(0x30, 0x00, untouched, 2), 0);
    EXPECT_EQ(bytes(untouched), bytes({0xAA, 0xBB}));
    static uint8_t big[300] = {}; // lengths the record cannot carry: nothing is sent
    for (int length : {256, 0, -1}) {
        EXPECT_EQ(i2c_xfer_write(0x20, 0, big, length), 0) << length;
        EXPECT_EQ(i2c_xfer_read(0x20, 0, big, length), 0) << length;
    }
    EXPECT_EQ((i2c_close(), fd_i2cDev), -1);
    uint8_t value[1] = {};
    i2c_read(0x20, 0x04, value, 1);
    EXPECT_EQ(value[0], 0x22);
    const std::string w = "/dev/i2c-sw 0x2 addr=0x20 ", r = "/dev/i2c-sw 0x1 addr=0x";
    EXPECT_EQ(b.traced("/dev/i2c-sw "),
              (lines{w + "reg=0x3 len=0x3 data=112233", r + "20 reg=0x3 len=0x3 data=112233",
                     r + "30 reg=0x0 len=0x2 data= fail", r + "20 reg=0x4 len=0x1 data=22"}));
    b.remove("/dev/i2c-sw"); // every write of the DAC set-up says so and the set-up goes on
    std::string errors;
    stdout_of([&] { errors = stdout_of([] { init_max9850(0x20, 8000); }, true); });
    std::string ten;
    for (int i = 0; i < 10; ++i)
        ten += "/dev/i2c-sw: No such file or directory\n";
    EXPECT_EQ(errors, ten);
    EXPECT_EQ(b.traced("/dev/i2c-sw ").size(), 4u);
}

} // namespace
