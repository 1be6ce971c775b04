// The MAX9850 set-up of the board library and its sample-rate switch.
#pragma once

// init_max9850 with its own log line ("init MAX9850 (%dHz)") and 0x02 = 0x55 right after the
// first write: eleven writes to device addr (its low byte).
void init_max9850_plain(int addr, int rate);
// Holds the DAC in set-up (0x05 = 0xFC), sets the charge pump for the rate (44100 Hz: 0x07 =
// 0x48; 8000 and 32000 Hz: no write; any other: 0x07 = 0x49) and runs it again (0x05 = 0xFD).
void max9850_set_rate(int addr, int rate);
