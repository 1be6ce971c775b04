// AK5701 ADC set-up over SPI. Nothing is read back from the chip.
#include "board/ak5701.h"

#include "board/fpga.h"
#include "board/spi.h"
#include "config/env.h"
#include "log/log.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Rate code (register 0x15) and the repeated block that follows it, per sample rate.
struct rate_setting {
    int rate;
    uint8_t code;
    bool blockR;
    uint8_t lastValue; // register 0x11 at the end of the block (8000 Hz: board-dependent)
    unsigned waitUs;
};
constexpr rate_setting rateSettings[] = {
    {8000, AK5701_RATE_8000, true, 0x37, 100},
    {16000, 0x22, false, 0, 0},
    {32000, 0x2A, true, 0x37, 100},
    {44100, 0x2F, true, 0x37, 100},
    {48000, 0x2B, true, 0x37, 200},
};

void write_reg(int port, ak5701_reg reg, uint8_t value) {
    ak5701_write(port, static_cast<uint8_t>(reg), value);
}

void write_wait(int port, ak5701_reg reg, uint8_t value, unsigned waitUs) {
    write_reg(port, reg, value);
    usleep(waitUs);
}

// Block R: the power-up with the rate code in place.
void block_r(int port, uint8_t code, uint8_t lastValue, unsigned waitUs) {
    write_wait(port, ak5701_reg::setup, 0x35, waitUs);
    write_wait(port, ak5701_reg::set14, 0x23, waitUs);
    write_wait(port, ak5701_reg::rate, code, waitUs);
    write_wait(port, ak5701_reg::power, 0x07, waitUs);
    write_reg(port, ak5701_reg::set16, 0x04);
    write_wait(port, ak5701_reg::setup, lastValue, waitUs);
}

} // namespace

int ak5701_rate_code(int rate) {
    for (const rate_setting& s : rateSettings)
        if (s.rate == rate)
            return s.code;
    return -1;
}

uint8_t ak5701_setup_value_8000() {
    return fpga_version() > 259 && board_variant_is_r() == 1 ? 0x17 : 0x37;
}

int ak5701_write(int port, uint8_t reg, uint8_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(AK5701_WRITE_COMMAND | reg), value};
    spi_write(port, bytes, sizeof bytes);
    return 0;
}

void ak5701_set_gain_alc(int port, int gain, int alc) {
    write_reg(port, ak5701_reg::gain, static_cast<uint8_t>(gain & 3));
    write_reg(port, ak5701_reg::alc, alc != 0 ? AK5701_ALC_ON : 0x00);
}

void ak5701_select_default(int port) {
    write_reg(port, ak5701_reg::input, AK5701_INPUT_DEFAULT);
}
void ak5701_select_alt(int port) {
    write_reg(port, ak5701_reg::input, AK5701_INPUT_ALT);
}

void ak5701_power_up(int port) {
    write_wait(port, ak5701_reg::setup, 0x35, 100);
    write_wait(port, ak5701_reg::set14, 0x23, 100);
    write_wait(port, ak5701_reg::power, 0x07, 100);
    write_reg(port, ak5701_reg::set16, 0x04);
    write_wait(port, ak5701_reg::setup, 0x37, 100);
}

void init_ak5701(int port, int rate, int input) {
    init_spi_mode(port, 0);
    log_printf("init ADC(%d):AK5701 (%dHz),Port:%d \n", port, rate, input);

    ak5701_power_up(port); // block P, every rate

    for (const rate_setting& s : rateSettings) {
        if (s.rate != rate)
            continue;
        write_reg(port, ak5701_reg::rate, s.code);
        if (s.blockR)
            block_r(port, s.code, s.rate == 8000 ? ak5701_setup_value_8000() : s.lastValue,
                    s.waitUs);
    }

    // Block F, every rate.
    write_reg(port, ak5701_reg::set18, 0xA1);
    write_reg(port, ak5701_reg::set19, 0xA1);
    write_reg(port, ak5701_reg::gain, 0x00);
    write_reg(port, ak5701_reg::input, AK5701_INPUT_DEFAULT);
    ak5701_select_and_power(port, input);
    log_printf("end of Ak5701....\n");
}

void ak5701_select_and_power(int port, int input) {
    if (input == 1)
        ak5701_select_default(port);
    else
        ak5701_select_alt(port);
    write_reg(port, ak5701_reg::power, 0x04);
    write_reg(port, ak5701_reg::power, AK5701_POWER_ALL);
}

void codec_reset() {
    if (fpga_version() <= 257)
        return;
    const uintptr_t control = fpga_addr(fpga_reg::control);
    const unsigned v = fpga_read16(control) & 0xFFFEu;
    fpga_write16(control, v);
    usleep(100000);
    fpga_write16(control, v | FPGA_CONTROL_CODEC_RUN);
    usleep(300000);
}

void adc_setup(int port, int rate, int input) {
    codec_reset();
    init_ak5701(port, rate, input);

    // A value that does not fit the buffer is refused by the reader: the default applies.
    char value[AK5701_ENV_VALUE_SIZE];
    std::memset(value, 0, sizeof value);
    const int gain = env_get(ENV_MIC_GAIN, value, sizeof value) == 1 ? std::atoi(value) : 0;
    std::memset(value, 0, sizeof value);
    int alc = 1;
    if (env_get(ENV_MIC_ALC, value, sizeof value) == 1)
        alc = std::strcmp(value, "ON") == 0 ? 1 : 0;
    ak5701_set_gain_alc(port, gain, alc);
}
