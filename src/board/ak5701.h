// The AK5701 ADC: register writes over SPI, the set-up sequence per sample rate, and the
// codec reset pulse that precedes it.
#pragma once

#include <cstdint>

// Byte 0 of a register write: this command ORed with the register address (below 0x20).
inline constexpr uint8_t AK5701_WRITE_COMMAND = 0xA0;
inline constexpr int AK5701_REGISTER_COUNT = 0x20;

enum class ak5701_reg : uint8_t {
    power = 0x10, // power management; 0x07 = all parts on
    setup = 0x11, // fixed set-up, board-dependent last value at 8000 Hz
    input = 0x12, // input selector
    gain = 0x13,  // two bits from INTERCOMM_M_GAIN
    set14 = 0x14,
    rate = 0x15, // sample-rate code
    set16 = 0x16,
    set18 = 0x18,
    set19 = 0x19,
    alc = 0x1C, // bit 7: ALC on
};
inline constexpr uint8_t AK5701_INPUT_DEFAULT = 0x10;
inline constexpr uint8_t AK5701_INPUT_ALT = 0x13;
inline constexpr uint8_t AK5701_ALC_ON = 0x80;
inline constexpr uint8_t AK5701_RATE_8000 = 0x20;
inline constexpr uint8_t AK5701_POWER_ALL = 0x07;

inline constexpr const char* ENV_MIC_GAIN = "INTERCOMM_M_GAIN";
inline constexpr const char* ENV_MIC_ALC = "INTERCOMM_ALC";
inline constexpr int AK5701_ENV_VALUE_SIZE = 32;

// The sample-rate code of register 0x15 for a rate in Hz, or -1 for a rate the chip is not
// set up for here (8000, 16000, 32000, 44100 and 48000 Hz are).
int ak5701_rate_code(int rate);
// Register 0x11 once the 8000 Hz code is in place: 0x17 on FPGA versions above 259 of the
// variant 0x2D52, 0x37 on every other board.
uint8_t ak5701_setup_value_8000();

// The power-up block that starts every set-up: 0x11 = 0x35, 0x14 = 0x23, 0x10 = 0x07,
// 0x16 = 0x04, 0x11 = 0x37, with 100 us waits after all but 0x16.
void ak5701_power_up(int port);

// One register write over SPI port port (0, 1 or 2). Returns 0.
int ak5701_write(int port, uint8_t reg, uint8_t value);
void ak5701_set_gain_alc(int port, int gain, int alc);
void ak5701_select_default(int port);
void ak5701_select_alt(int port);
// The end of every set-up: the input by its selector (1: default), then 0x10 = 0x04, 0x07.
void ak5701_select_and_power(int port, int input);
// The full register sequence for one rate in Hz; input 1 selects the default input.
void init_ak5701(int port, int rate, int input);
// Pulses the codec run bit of the FPGA control register low, on FPGA versions above 257.
void codec_reset();
// codec_reset, init_ak5701, then gain and ALC from the environment store.
void adc_setup(int port, int rate, int input);
