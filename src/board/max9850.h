// The MAX9850 DAC behind the board's I2C driver.
#pragma once

#include <cstdint>

inline constexpr int MAX9850_ADDR_DEFAULT = 0x22;
inline constexpr int MAX9850_ADDR_ALT = 0x20;

enum class max9850_reg : uint8_t {
    reg02 = 0x02, // 0x55 from the plain set-up of the board library
    volume = 0x03,
    general = 0x04,
    enable = 0x05, // 0xFC during set-up, 0xFD when running, 0x00 off
    clock = 0x06,
    charge_pump = 0x07,
    lrclk_msb = 0x08,
    lrclk_lsb = 0x09, // rate dependent
    digital_audio = 0x0A,
};
inline constexpr uint8_t MAX9850_ENABLE_SETUP = 0xFC;
inline constexpr uint8_t MAX9850_ENABLE_RUN = 0xFD;
// The rate that switches the DAC off in place of a clock setting.
inline constexpr int MAX9850_RATE_OFF = 999;

// The DAC's device address on the bus; main chooses it before the DAC is set up.
extern int max9850I2cAddr;

// One register write as a complete I2C transaction; the outcome is not reported.
void max9850_write(int addr, uint8_t reg, uint8_t value);
// The set-up sequence for device addr (its low byte) and rate in Hz: ten writes.
void init_max9850(int addr, int rate);
// The set-up's writes without its log line: the first (0x05 = 0xFC); 0x02 = 0x55 when
// withReg02 is 1 (the plain set-up of the board library); the seven other fixed writes; the
// rate step (8000: 0x09 = 0x60, 32000: 0x09 = 0x18, 44100: 0x09 = 0x11, 999: 0x05 = 0x00,
// any other: 0x09 = 0x10); 0x05 = 0xFD. For device addr (its low byte).
void max9850_setup_writes(int addr, int rate, int withReg02);
// init_max9850 at max9850I2cAddr.
void init_dac(int rate);
