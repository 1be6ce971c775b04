// G.711 per-sample converters and the table build.
//
// A-law code layout (before the even-bit inversion):  S EEE MMMM
//   S = 1 for non-negative samples, EEE = segment 0..7, MMMM = four quantisation bits.
// mu-law code layout (before the complement):          S EEE MMMM
//   S = 1 for negative samples; the magnitude is biased by 33 before the segment search.
#include "codec/g711.h"

#include "log/log.h"

namespace {

constexpr int ALAW_EVEN_BITS = 0x55;     // G.711 inverts the even bits of every A-law code
constexpr int ALAW_POSITIVE_MASK = 0xD5; // 0x55 with the sign bit set
constexpr int ULAW_POSITIVE_MASK = 0xFF;
constexpr int ULAW_NEGATIVE_MASK = 0x7F;
constexpr int ULAW_BIAS = 0x84 >> 2; // 33 on the 14-bit scale
constexpr int ULAW_CLIP = 8159;

} // namespace

std::array<uint8_t, 65536> lin_to_alaw_table;
std::array<uint8_t, 65536> lin_to_ulaw_table;
std::array<int16_t, 256> alaw_to_lin_table;
std::array<int16_t, 256> ulaw_to_lin_table;

int g711_segment_search(int value, const int16_t* ends, int count) {
    for (int i = 0; i < count; ++i)
        if (value <= ends[i])
            return i;
    return count;
}

uint8_t g711_alaw_encode(int sample) {
    int magnitude = sample >> 3; // arithmetic: -4096..4095
    int mask = ALAW_POSITIVE_MASK;
    if (magnitude < 0) {
        magnitude = -magnitude - 1; // one's complement: 0..4095
        mask = ALAW_EVEN_BITS;
    }
    int seg = g711_segment_search(magnitude, alaw_segment_ends.data(), G711_SEGMENTS);
    if (seg >= G711_SEGMENTS)
        return static_cast<uint8_t>(0x7F ^ mask);
    int code = seg << 4;
    code |= (seg < 2) ? (magnitude >> 1) & 0x0F : (magnitude >> seg) & 0x0F;
    return static_cast<uint8_t>(code ^ mask);
}

int16_t g711_alaw_decode(uint8_t code) {
    int a = code ^ ALAW_EVEN_BITS;
    int t = (a & 0x0F) << 4;
    int seg = (a >> 4) & 7;
    switch (seg) {
    case 0:
        t += 8;
        break;
    case 1:
        t += 0x108;
        break;
    default:
        t = (t + 0x108) << (seg - 1);
        break;
    }
    return static_cast<int16_t>((a & 0x80) ? t : -t);
}

uint8_t g711_ulaw_encode(int sample) {
    int magnitude = sample >> 2;
    int mask = ULAW_POSITIVE_MASK;
    if (magnitude < 0) {
        magnitude = -magnitude;
        mask = ULAW_NEGATIVE_MASK;
    }
    if (magnitude > ULAW_CLIP)
        magnitude = ULAW_CLIP;
    magnitude += ULAW_BIAS;
    int seg = g711_segment_search(magnitude, ulaw_segment_ends.data(), G711_SEGMENTS);
    if (seg >= G711_SEGMENTS)
        return static_cast<uint8_t>(0x7F ^ mask);
    int code = (seg << 4) | ((magnitude >> (seg + 1)) & 0x0F);
    return static_cast<uint8_t>((code ^ mask) & 0xFF);
}

int16_t g711_ulaw_decode(uint8_t code) {
    int u = ~code & 0xFF;
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u >> 4) & 7;
    return static_cast<int16_t>((u & 0x80) ? 0x84 - t : t - 0x84);
}

void build_g711_tables() {
    log_printf("init Conversion table.....\n");
    for (int i = 0; i < 65536; ++i) {
        int s = static_cast<int16_t>(static_cast<uint16_t>(i));
        lin_to_alaw_table[i] = g711_alaw_encode(s);
        lin_to_ulaw_table[i] = g711_ulaw_encode(s);
    }
    for (int b = 0; b < 256; ++b) {
        ulaw_to_lin_table[b] = g711_ulaw_decode(static_cast<uint8_t>(b));
        alaw_to_lin_table[b] = g711_alaw_decode(static_cast<uint8_t>(b));
    }
}
