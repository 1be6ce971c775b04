// Law-to-law conversion of single code words through the two magnitude maps.
//
// An A-law code word with bit 0x80 set is non-negative; exclusive-or with 0xD5 (0x55 for a
// negative one) removes the even-bit inversion and the sign and leaves the magnitude code.
// A mu-law code word with bit 0x80 set is non-negative too; exclusive-or with 0xFF (0x7F)
// removes the complement and the sign. The way back applies the other law's masks.
#include "codec/g711_law.h"

namespace {

constexpr uint8_t SIGN_BIT = 0x80;
constexpr uint8_t ALAW_POSITIVE_MASK = 0xD5; // even-bit inversion 0x55 with the sign bit
constexpr uint8_t ALAW_NEGATIVE_MASK = 0x55;
constexpr uint8_t ULAW_POSITIVE_MASK = 0xFF; // complement
constexpr uint8_t ULAW_NEGATIVE_MASK = 0x7F;

} // namespace

uint8_t g711_alaw_to_ulaw(uint8_t alaw) {
    if (alaw & SIGN_BIT)
        return ULAW_POSITIVE_MASK ^ alaw_to_ulaw_map[alaw ^ ALAW_POSITIVE_MASK];
    return ULAW_NEGATIVE_MASK ^ alaw_to_ulaw_map[alaw ^ ALAW_NEGATIVE_MASK];
}

uint8_t g711_ulaw_to_alaw(uint8_t ulaw) {
    if (ulaw & SIGN_BIT)
        return static_cast<uint8_t>(ALAW_POSITIVE_MASK ^
                                    (ulaw_to_alaw_map[ulaw ^ ULAW_POSITIVE_MASK] - 1));
    return static_cast<uint8_t>(ALAW_NEGATIVE_MASK ^
                                (ulaw_to_alaw_map[ulaw ^ ULAW_NEGATIVE_MASK] - 1));
}
