// The AK5701 set-up of the board library with more options than the bridge's own: the high
// bits of the rate register, and a selector flag for register 0x12.
#pragma once

// Programs the AK5701 on port for rate Hz: the power-up block, the rate code with (hi & 3) in
// bits 7-6 (8000, 16000, 32000, 44100, 48000 Hz; any other rate writes no code), then the
// fixed tail, register 0x12 from flag (0x15 when non-zero, else 0x10) and from input (1: the
// default input, else the alternative). Each write is its own SPI transaction.
void init_ak5701_ext(int port, int rate, int hi, int input, int flag);
