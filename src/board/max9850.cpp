// MAX9850 DAC set-up over I2C. Every step is written whatever the previous ones gave.
#include "board/max9850.h"

#include "board/i2c.h"
#include "log/log.h"

int max9850I2cAddr = MAX9850_ADDR_DEFAULT;

namespace {

struct reg_value {
    max9850_reg reg;
    uint8_t value;
};

// Steps 1 to 8 of the set-up, before the rate step.
constexpr reg_value fixedSteps[] = {
    {max9850_reg::enable, MAX9850_ENABLE_SETUP},
    {max9850_reg::volume, 0x09},
    {max9850_reg::general, 0x00},
    {max9850_reg::clock, 0x00},
    {max9850_reg::lrclk_msb, 0x80},
    {max9850_reg::lrclk_lsb, 0x10},
    {max9850_reg::digital_audio, 0x00},
    {max9850_reg::charge_pump, 0x49},
};

// Step 9: the clock divider for the rate, or the DAC off for MAX9850_RATE_OFF.
reg_value rate_step(int rate) {
    switch (rate) {
    case 8000:
        return {max9850_reg::lrclk_lsb, 0x60};
    case 32000:
        return {max9850_reg::lrclk_lsb, 0x18};
    case 44100:
        return {max9850_reg::lrclk_lsb, 0x11};
    case MAX9850_RATE_OFF:
        return {max9850_reg::enable, 0x00};
    default:
        return {max9850_reg::lrclk_lsb, 0x10};
    }
}

void write_step(int addr, reg_value step) {
    max9850_write(addr, static_cast<uint8_t>(step.reg), step.value);
}

} // namespace

void max9850_write(int addr, uint8_t reg, uint8_t value) {
    uint8_t data[1] = {value};
    i2c_write(addr, reg, data, 1);
}

void max9850_setup_writes(int addr, int rate, int withReg02) {
    const int device = addr & 0xFF;
    bool first = true;
    for (const reg_value& step : fixedSteps) {
        write_step(device, step);
        if (first && withReg02 == 1)
            write_step(device, {max9850_reg::reg02, 0x55});
        first = false;
    }
    write_step(device, rate_step(rate));
    write_step(device, {max9850_reg::enable, MAX9850_ENABLE_RUN});
}

void init_max9850(int addr, int rate) {
    log_printf("init MAX9850 4 Intercomm (%dHz) \n", rate);
    max9850_setup_writes(addr, rate, 0);
}

void init_dac(int rate) {
    init_max9850(max9850I2cAddr, rate);
}
