// Register access to the GV760x on spidev port 0: one 4-byte transfer per call.
#pragma once

#include <cstdint>

inline constexpr int GV760X_SPI_PORT = 0;
inline constexpr uint32_t GV760X_SPEED_HZ = 4000000;
// Bytes 0-1: the command word; bytes 2-3: the value, each most significant byte first.
inline constexpr uint32_t GV760X_TRANSFER_LENGTH = 4;

// Sends the command word exactly as given (the caller's word carries the chip's read flag)
// with zero filler, and stores received bytes 2-3, most significant first, in out. Ends the
// process when the port cannot be opened or the transfer fails. Returns 0.
int gv760x_read(const uint16_t& cmd, uint16_t& out);
// Sends the command word and the value. Ends the process on failure as gv760x_read. Returns 0.
int gv760x_write(const uint16_t& cmd, const uint16_t& value);
