// ITU-T G.711 A-law and mu-law: per-sample converters and the lookup tables built from them.
//
// Code words are kept in their transmitted form: A-law with the even bits inverted
// (exclusive-or 0x55), mu-law complemented. Linear values use the 16-bit scale: A-law
// reconstruction values times 8, mu-law reconstruction values times 4.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int G711_SEGMENTS = 8;
inline constexpr std::array<int16_t, G711_SEGMENTS> alaw_segment_ends = {
    0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
inline constexpr std::array<int16_t, G711_SEGMENTS> ulaw_segment_ends = {
    0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};

// Indexed by the 16-bit two's-complement pattern of a sample read as 0..65535.
extern std::array<uint8_t, 65536> lin_to_alaw_table;
extern std::array<uint8_t, 65536> lin_to_ulaw_table;
// Indexed by the code byte.
extern std::array<int16_t, 256> alaw_to_lin_table;
extern std::array<int16_t, 256> ulaw_to_lin_table;

int g711_segment_search(int value, const int16_t* ends, int count);
uint8_t g711_alaw_encode(int sample);
int16_t g711_alaw_decode(uint8_t code);
uint8_t g711_ulaw_encode(int sample);
int16_t g711_ulaw_decode(uint8_t code);

// Logs "init Conversion table....." and fills the four tables. Called once at start-up,
// before any audio thread exists; the tables are read-only afterwards.
void build_g711_tables();
