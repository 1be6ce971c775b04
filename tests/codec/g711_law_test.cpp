// Direct conversion of code words between A-law and mu-law.
#include "codec/g711.h"
#include "codec/g711_law.h"

#include <cmath>

#include <gtest/gtest.h>

namespace {

// Factor from a decoded A-law value to the decoded mu-law value of the same level, both on
// the decoders' 16-bit scale (A-law units times 8, mu-law units times 4). The load
// capacities fix the levels: +3.14 dBm0 at 4096 A-law units, +3.17 dBm0 at 8159 mu-law
// units. The result, 0.99252, is just below the 1 that the 16-bit scale alone suggests.
double alaw_to_ulaw_scale() {
    return 8159.0 / 4096.0 * std::pow(10.0, -0.03 / 20.0) * 4 / 8;
}

} // namespace

TEST(G711Law, MapsBeginAndEndAsPublished) {
    const uint8_t a2uBegin[] = {1, 3, 5, 7, 9, 11, 13, 15, 16, 17};
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(alaw_to_ulaw_map[k], a2uBegin[k]) << k;
    EXPECT_EQ(alaw_to_ulaw_map[126], 126);
    EXPECT_EQ(alaw_to_ulaw_map[127], 127);
    const uint8_t u2aBegin[] = {1, 1, 2, 2, 3, 3, 4, 4};
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(ulaw_to_alaw_map[k], u2aBegin[k]) << k;
    EXPECT_EQ(ulaw_to_alaw_map[127], 128);
}

TEST(G711Law, KnownCodeWords) {
    EXPECT_EQ(g711_alaw_to_ulaw(0xD5), 0xFE); // +8 -> +8
    EXPECT_EQ(g711_alaw_to_ulaw(0x55), 0x7E); // -8 -> -8
    EXPECT_EQ(g711_alaw_to_ulaw(0xAA), 0x80); // positive full scale
    EXPECT_EQ(g711_alaw_to_ulaw(0x2A), 0x00);
    EXPECT_EQ(g711_ulaw_to_alaw(0xFF), 0xD5); // both zeros go to the smallest A-law step
    EXPECT_EQ(g711_ulaw_to_alaw(0x7F), 0x55);
    EXPECT_EQ(g711_ulaw_to_alaw(0x80), 0xAA);
    EXPECT_EQ(g711_ulaw_to_alaw(0x00), 0x2A);
}

// The sign passes through unchanged: converting the code of -x gives the code of -x.
TEST(G711Law, SignIsSymmetric) {
    for (int b = 0; b < 256; ++b) {
        auto code = static_cast<uint8_t>(b);
        ASSERT_EQ(g711_alaw_to_ulaw(code ^ 0x80), g711_alaw_to_ulaw(code) ^ 0x80) << b;
        ASSERT_EQ(g711_ulaw_to_alaw(code ^ 0x80), g711_ulaw_to_alaw(code) ^ 0x80) << b;
        ASSERT_EQ(g711_alaw_to_ulaw(code) & 0x80, code & 0x80) << b;
        ASSERT_EQ(g711_ulaw_to_alaw(code) & 0x80, code & 0x80) << b;
    }
}

// The defining property: decode in one law, bring the value to the other law's level and
// encode it there. Exact for every code word, both signs handled by the test above.
// Truncating toward zero is exact here: the encoders' decision values are whole numbers.
TEST(G711Law, EqualsDecodeThenEncodeAtEqualLevel) {
    const double scale = alaw_to_ulaw_scale();
    for (int k = 0; k < 128; ++k) {
        auto alaw = static_cast<uint8_t>(k ^ 0xD5);
        double asUlaw = g711_alaw_decode(alaw) * scale;
        ASSERT_EQ(g711_alaw_to_ulaw(alaw), g711_ulaw_encode(static_cast<int>(asUlaw))) << k;

        auto ulaw = static_cast<uint8_t>(k ^ 0xFF);
        double asAlaw = g711_ulaw_decode(ulaw) / scale;
        ASSERT_EQ(g711_ulaw_to_alaw(ulaw), g711_alaw_encode(static_cast<int>(asAlaw))) << k;
    }
}

// Through the 16-bit tables alone the laws are 0.03 dB apart. Where the reconstruction
// values coincide (A-law segment 0 and the odd mu-law codes of segment 0) decode-then-encode
// is exactly the conversion. Elsewhere it may land one step off, and only in the direction
// of that offset: at equal level an A-law value is a slightly smaller mu-law value (one
// mu-law step lower at most), a mu-law value a slightly larger A-law value.
TEST(G711Law, DecodeThenEncodeOnTheCommonScaleIsAtMostOneStepOff) {
    ::testing::internal::CaptureStdout();
    build_g711_tables();
    ::testing::internal::GetCapturedStdout();
    for (int k = 0; k < 8; ++k) {
        auto alaw = static_cast<uint8_t>(k ^ 0xD5);
        auto ulaw = static_cast<uint8_t>((2 * k + 1) ^ 0xFF);
        EXPECT_EQ(g711_alaw_decode(alaw), g711_ulaw_decode(ulaw)) << k;
        EXPECT_EQ(g711_alaw_to_ulaw(alaw), ulaw) << k;
        EXPECT_EQ(g711_alaw_to_ulaw(alaw), g711_ulaw_encode(g711_alaw_decode(alaw))) << k;
        EXPECT_EQ(g711_ulaw_to_alaw(ulaw), alaw) << k;
        EXPECT_EQ(g711_ulaw_to_alaw(ulaw), g711_alaw_encode(g711_ulaw_decode(ulaw))) << k;
    }
    int differ = 0;
    for (int k = 0; k < 128; ++k) {
        auto alaw = static_cast<uint8_t>(k ^ 0xD5);
        int direct = g711_alaw_to_ulaw(alaw) ^ 0xFF;
        int viaTables = lin_to_ulaw_table[static_cast<uint16_t>(alaw_to_lin_table[alaw])] ^ 0xFF;
        ASSERT_TRUE(direct == viaTables || direct == viaTables - 1) << k;
        differ += direct != viaTables;

        auto ulaw = static_cast<uint8_t>(k ^ 0xFF);
        int directA = g711_ulaw_to_alaw(ulaw) ^ 0xD5;
        int viaTablesA = lin_to_alaw_table[static_cast<uint16_t>(ulaw_to_lin_table[ulaw])] ^ 0xD5;
        ASSERT_TRUE(directA == viaTablesA || directA == viaTablesA + 1) << k;
        differ += directA != viaTablesA;
    }
    EXPECT_LT(differ, 64); // a few dozen of the 256, around the segment ends
}

// A-law is at least as fine as mu-law above mu-law segment 0, so a mu-law code word taken
// to A-law and back is unchanged there; in segment 0 two mu-law codes share one A-law code.
TEST(G711Law, UlawRoundTripThroughAlaw) {
    for (int k = 0; k < 128; ++k) {
        auto ulaw = static_cast<uint8_t>(k ^ 0xFF);
        auto back = g711_alaw_to_ulaw(g711_ulaw_to_alaw(ulaw));
        if (k >= 16 || k % 2 == 1) {
            ASSERT_EQ(back, ulaw) << k;
        } else {
            ASSERT_EQ(back, ulaw ^ 1) << k; // the odd neighbour, one step up
        }
    }
}

// Both maps are non-decreasing and cover their ranges without gaps wider than one code.
TEST(G711Law, MapsAreMonotonic) {
    for (int k = 1; k < 128; ++k) {
        ASSERT_GE(alaw_to_ulaw_map[k], alaw_to_ulaw_map[k - 1]) << k;
        ASSERT_LE(alaw_to_ulaw_map[k] - alaw_to_ulaw_map[k - 1], 2) << k;
        ASSERT_GE(ulaw_to_alaw_map[k], ulaw_to_alaw_map[k - 1]) << k;
        ASSERT_LE(ulaw_to_alaw_map[k] - ulaw_to_alaw_map[k - 1], 2) << k;
    }
}
