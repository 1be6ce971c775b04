// The MAX9850 DAC behind the board's I2C driver.
#pragma once

inline constexpr int MAX9850_ADDR_DEFAULT = 0x22;
inline constexpr int MAX9850_ADDR_ALT = 0x20;

// The DAC's device address on the bus; main chooses it before the DAC is set up.
extern int max9850I2cAddr;
