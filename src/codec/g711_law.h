// Direct conversion of a code word between the two G.711 laws, without a linear sample.
//
// Both maps are indexed by a magnitude code 0..127 (the code word with its sign bit cleared,
// counted from the smallest magnitude upward) and hold the correspondence of G.711's
// conversion tables between the laws: alaw_to_ulaw_map gives the mu-law magnitude code,
// ulaw_to_alaw_map the A-law magnitude code plus one (A-law magnitudes counted 1..128).
//
// The correspondence is that of equal signal level: a code word of one law maps to the code
// word of the other law whose decision interval holds its reconstruction value. The laws
// are scaled to each other by their load capacities, +3.14 dBm0 at 4096 A-law units and
// +3.17 dBm0 at 8159 mu-law units, so one mu-law unit is 4096 / 8159 * 10^(0.03 / 20)
// = 0.50376 A-law units, not exactly the 0.5 of the 16-bit scale our linear tables use.
// Below mu-law magnitude code 16 the A-law steps are twice as coarse, so two mu-law codes
// share one A-law code there; elsewhere a mu-law -> A-law -> mu-law round trip is exact.
#pragma once

#include <array>
#include <cstdint>

inline constexpr std::array<uint8_t, 128> alaw_to_ulaw_map = {
    1,   3,   5,   7,   9,   11,  13,  15,  16,  17,  18,  19,  20,  21,  22,  23,  //
    24,  25,  26,  27,  28,  29,  30,  31,  32,  32,  33,  33,  34,  34,  35,  35,  //
    36,  37,  38,  39,  40,  41,  42,  43,  44,  45,  46,  47,  48,  48,  49,  49,  //
    50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,  63,  64,  64,  //
    65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,  78,  79,  80,  //
    80,  81,  82,  83,  84,  85,  86,  87,  88,  89,  90,  91,  92,  93,  94,  95,  //
    96,  97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, //
    112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127};

inline constexpr std::array<uint8_t, 128> ulaw_to_alaw_map = {
    1,   1,   2,   2,   3,   3,   4,   4,   5,   5,   6,   6,   7,   7,   8,   8,   //
    9,   10,  11,  12,  13,  14,  15,  16,  17,  18,  19,  20,  21,  22,  23,  24,  //
    25,  27,  29,  31,  33,  34,  35,  36,  37,  38,  39,  40,  41,  42,  43,  44,  //
    46,  48,  49,  50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,  //
    64,  65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,  78,  79,  //
    81,  82,  83,  84,  85,  86,  87,  88,  89,  90,  91,  92,  93,  94,  95,  96,  //
    97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, //
    113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128};

// A-law code word (transmitted form) to the mu-law code word of the same level.
uint8_t g711_alaw_to_ulaw(uint8_t alaw);
// mu-law code word (transmitted form) to the A-law code word of the same level.
uint8_t g711_ulaw_to_alaw(uint8_t ulaw);
