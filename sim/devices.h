// The device models of the simulated board, one per device node under R/dev, and what the
// models ask of each other (the audio device hears only a correctly brought-up codec).
#pragma once

#include "sim/sim.h"

#include <cstdint>

extern const sim_device sim_dev_mem;
extern const sim_device sim_dev_audio;
extern const sim_device sim_dev_spidev0;
extern const sim_device sim_dev_spidev1;
extern const sim_device sim_dev_spidev2;
extern const sim_device sim_dev_i2c;
extern const sim_device sim_dev_gpio;
extern const sim_device sim_dev_codec;
extern const sim_device sim_dev_spisw;

// Puts every chip model back into its power-on state (all registers and lines 0).
void sim_reset_chips();
void sim_spidev_reset();
void sim_i2c_reset();
void sim_gpio_reset();
void sim_codec_reset();
void sim_spisw_reset();

// AK5701 behind spidev port 0..2: register value, -1 for a bad port or register.
int sim_ak5701_reg(int port, int reg);
// Test hook: every transfer on the port fails (EIO) while set.
void sim_spidev_fail_transfers(int port, bool fail);
// Test hook: every setting request (mode, bits, speed) on the port fails (EIO) while set.
void sim_spidev_fail_settings(int port, bool fail);
// Test hook: called with the device path on every spidev transfer and every /dev/spi-sw
// request, on the thread that issued it, before the model acts on it (tests look at the
// process's locks there). nullptr for none; a board reset removes it.
using sim_spi_hook = void (*)(const char* device);
void sim_set_spi_request_hook(sim_spi_hook hook);
// Called by the models.
void sim_spi_request_seen(const char* device);
// GV760x behind spidev port 0: register value (bits 11-0 of the command word), -1 outside.
int sim_gv760x_reg(int reg);
void sim_gv760x_set_reg(int reg, uint16_t value);

// /dev/codec_audioBi: test hooks, frame reads (request 0x02) or frame writes (request 0x01)
// fail (EIO) while set. A failed read takes no frame out of the ring; a failed write plays
// nothing. A board reset clears both.
void sim_audio_fail_reads(bool fail);
void sim_audio_fail_writes(bool fail);
void sim_audio_reset();

// /dev/codec: test hook, every request fails (EIO) while set.
void sim_codec_fail_requests(bool fail);

// /dev/spi-sw: register reg of device byte dev, -1 outside the register files.
int sim_spisw_reg(int dev, int reg);
// Test hook: every request fails (EIO) while set.
void sim_spisw_fail_requests(bool fail);

// The MAX9850's address on this board, from board.conf's FPGA version and variant.
int sim_max9850_addr();
// MAX9850 register value, -1 for a register outside the chip.
int sim_max9850_reg(int reg);

// State of a GPIO line as last driven (0 until then).
int sim_gpio_line(int line);

// The bring-up as the audio device sees it:
// capture carries the source once port 1's AK5701 has rate code 0x20 in register 0x15 and
// power register 0x10 at 0x07, and the codec runs (FPGA versions above 257: control register
// 0x22 bit 0; otherwise GPIO line 11 on the variant board 0x2D54, line 6 on the others).
int sim_capture_enabled();
// Playback reaches the sink once the MAX9850 at the board's address holds 0xFD in register
// 0x05 (its last write there).
int sim_playback_enabled();

// Watches FPGA control register 0x22 and traces each change of its bit 0.
void sim_fpga_watch_start();
