// G.711 tables against the recommendation's values, and the in-place frame conversion.
#include "codec/frame.h"
#include "codec/g711.h"
#include "codec/g711_law.h"

#include <cmath>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

namespace {

[[maybe_unused]] const bool tablesBuilt = (build_g711_tables(), true);
const auto alaw_of = [](int s) { return lin_to_alaw_table[static_cast<uint16_t>(s)]; };
const auto ulaw_of = [](int s) { return lin_to_ulaw_table[static_cast<uint16_t>(s)]; };
const auto sample_at = [](const pcm_frame& f, std::size_t i) {
    return static_cast<int16_t>((f[4 + 2 * i] << 8) | f[5 + 2 * i]);
};

} // namespace

// Decision values of G.711 tables 1a (A) and 2a (u) on the 16-bit scale (A-law units times 8,
// mu-law units times 4): the first and last sample of segments, the code word transmitted for
// it and that code word's reconstruction value; mu-law clips above its top decision value.
TEST(G711, TablesMatchTheRecommendationAtSegmentBoundariesAndClipping) {
    const struct {
        char law;
        int sample;
        uint8_t code;
        int decoded;
    } points[] = {
        {'A', 0, 0xD5, 8},           {'A', 15, 0xD5, 8},          {'A', 16, 0xD4, 24},
        {'A', 255, 0xDA, 248},       {'A', 256, 0xC5, 264},       {'A', 511, 0xCA, 504},
        {'A', 512, 0xF5, 528},       {'A', 1024, 0xE5, 1056},     {'A', 2048, 0x95, 2112},
        {'A', 4096, 0x85, 4224},     {'A', 8192, 0xB5, 8448},     {'A', 16383, 0xBA, 16128},
        {'A', 16384, 0xA5, 16896},   {'A', 32767, 0xAA, 32256},   {'A', -1, 0x55, -8},
        {'A', -16, 0x55, -8},        {'A', -17, 0x54, -24},       {'A', -257, 0x45, -264},
        {'A', -1000, 0x7A, -1008},   {'A', -32768, 0x2A, -32256}, {'u', 0, 0xFF, 0},
        {'u', 123, 0xF0, 120},       {'u', 124, 0xEF, 132},       {'u', 379, 0xE0, 372},
        {'u', 380, 0xDF, 396},       {'u', 892, 0xCF, 924},       {'u', 1916, 0xBF, 1980},
        {'u', 3964, 0xAF, 4092},     {'u', 8060, 0x9F, 8316},     {'u', 16251, 0x90, 15996},
        {'u', 16252, 0x8F, 16764},   {'u', 31611, 0x81, 31100},   {'u', 31612, 0x80, 32124},
        {'u', 32767, 0x80, 32124},   {'u', -1, 0x7E, -8},         {'u', -31608, 0x01, -31100},
        {'u', -31609, 0x00, -32124}, {'u', -32768, 0x00, -32124}};
    for (const auto& p : points) {
        const bool a = p.law == 'A';
        EXPECT_EQ(a ? alaw_of(p.sample) : ulaw_of(p.sample), p.code) << p.law << p.sample;
        EXPECT_EQ((a ? alaw_to_lin_table : ulaw_to_lin_table)[p.code], p.decoded)
            << p.law << p.sample;
    }
}

// Over every 16-bit sample: a louder sample never gets a quieter code, and the reconstruction
// lies within half the code's decision interval (A-law 16 in segments 0 and 1, doubling
// above; mu-law 8 in segment 0, doubling). Negative mu-law samples may be up to 3 further
// off (the encoder shifts before it negates); above the mu-law clip the top code holds.
TEST(G711, EncodingIsMonotonicAndWithinHalfAStepEverywhere) {
    int lastA = -65536, lastU = -65536;
    for (int s = -32768; s <= 32767; ++s) {
        const uint8_t a = alaw_of(s), u = ulaw_of(s);
        const int ra = alaw_to_lin_table[a], segA = ((a ^ 0x55) >> 4) & 7;
        const int ru = ulaw_to_lin_table[u], segU = ((~u) >> 4) & 7;
        ASSERT_GE(ra, lastA) << s;
        ASSERT_GE(ru, lastU) << s;
        ASSERT_LE(std::abs(ra - s), (segA < 2 ? 16 : 16 << (segA - 1)) / 2) << s;
        if (s > -32633 && s < 32636) {
            ASSERT_LE(std::abs(ru - s), (8 << segU) / 2 + (s < 0 ? 3 : 0)) << s;
        } else {
            ASSERT_EQ(u, s > 0 ? 0x80 : 0x00) << s;
        }
        lastA = ra, lastU = ru;
    }
    for (int b = 0; b < 256; ++b) {
        ASSERT_EQ(alaw_of(alaw_to_lin_table[b]), b) << b;
        ASSERT_EQ(ulaw_of(ulaw_to_lin_table[b]), b == 0x7F ? 0xFF : b) << b; // 0x7F: -0
        ASSERT_EQ(alaw_to_lin_table[b ^ 0x80], -alaw_to_lin_table[b]) << b;
        ASSERT_EQ(ulaw_to_lin_table[b ^ 0x80], -ulaw_to_lin_table[b]) << b;
    }
}

// Encoding fills the first 776 bytes in place (head kept, code i at 4 + i from the big-endian
// sample at 4 + 2i, the frame's tail at 772..775) and leaves the rest; decoding writes
// big-endian samples, moves 772..773 to 1540..1541 and never writes 1542..1543. Random bytes
// make every code and sample distinct, so any wrong order of the in-place loops shows.
TEST(G711, FrameConversionInPlaceKeepsLayoutAndByteOrder) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        pcm_frame buf;
        for (auto& b : buf)
            b = static_cast<uint8_t>(rng() >> 24);
        const pcm_frame pcm = buf;
        ASSERT_EQ(alaw_encode_frame(buf), ALAW_PACKET_SIZE);
        for (std::size_t k = 0; k < PCM_FRAME_SIZE; ++k) {
            const uint8_t want = k < 4 || k >= 776 ? pcm[k]
                                 : k < 772         ? alaw_of(sample_at(pcm, k - 4))
                                                   : pcm[k + 768];
            ASSERT_EQ(buf[k], want) << round << " byte " << k;
        }
        const pcm_frame packet = buf;
        ASSERT_EQ(alaw_decode_frame(buf), PCM_FRAME_SIZE);
        for (std::size_t k = 0; k < PCM_FRAME_SIZE; ++k) {
            const int want = k < 4 || k >= 1542 ? packet[k]
                             : k >= 1540        ? packet[k - 768]
                                                : alaw_to_lin_table[packet[k / 2 + 2]];
            ASSERT_EQ(k < 4 || k >= 1540 ? buf[k] : sample_at(buf, k / 2 - 2), want) << k;
        }
    }
}

// Law to law: decode in one law, bring the value to the other law's level (load capacities
// +3.14 dBm0 at 4096 A-law units, +3.17 dBm0 at 8159 mu-law units) and encode it there. Exact
// for every positive code word; the sign passes through unchanged.
TEST(G711, LawToLawConversionIsDecodeThenEncodeAtEqualLevel) {
    const double scale = 8159.0 / 4096.0 * std::pow(10.0, -0.03 / 20.0) * 4 / 8;
    for (int k = 0; k < 128; ++k) {
        auto alaw = static_cast<uint8_t>(k ^ 0xD5);
        double asUlaw = g711_alaw_decode(alaw) * scale;
        ASSERT_EQ(g711_alaw_to_ulaw(alaw), g711_ulaw_encode(static_cast<int>(asUlaw))) << k;
        auto ulaw = static_cast<uint8_t>(k ^ 0xFF);
        double asAlaw = g711_ulaw_decode(ulaw) / scale;
        ASSERT_EQ(g711_ulaw_to_alaw(ulaw), g711_alaw_encode(static_cast<int>(asAlaw))) << k;
        const auto code = static_cast<uint8_t>(k); // and the sign passes through
        ASSERT_EQ(g711_alaw_to_ulaw(code), g711_alaw_to_ulaw(code ^ 0x80) ^ 0x80) << k;
        ASSERT_EQ(g711_ulaw_to_alaw(code), g711_ulaw_to_alaw(code ^ 0x80) ^ 0x80) << k;
    }
    EXPECT_EQ(g711_alaw_to_ulaw(0x2A), 0x00); // negative full scale
    EXPECT_EQ(g711_ulaw_to_alaw(0x7F), 0x55); // negative zero to the smallest A-law step
}
