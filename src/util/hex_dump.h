// Bytes to the log as "%02X " pieces, sixteen to a line, each piece its own log_printf.
#pragma once

#include <cstdint>

// ">>\n", then "\n" before every byte whose index is a multiple of 16, then "\n".
void hex_dump_marked(const uint8_t* bytes, int count);
// "\n", then "\n" after every byte whose index leaves 15 divided by 16, then "\n".
void hex_dump(const uint8_t* bytes, int count);
