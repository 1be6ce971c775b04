// The G.711 converters and the four lookup tables built from them.
#include "codec/g711.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace {

class G711Tables : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::testing::internal::CaptureStdout();
        build_g711_tables();
        buildLog = ::testing::internal::GetCapturedStdout();
    }
    static std::string buildLog;
};
std::string G711Tables::buildLog;

uint8_t alaw_of(int sample) {
    return lin_to_alaw_table[static_cast<uint16_t>(sample)];
}
uint8_t ulaw_of(int sample) {
    return lin_to_ulaw_table[static_cast<uint16_t>(sample)];
}

// Width, on the 16-bit scale, of the decision interval of an A-law code: 16 in segments 0
// and 1, doubling with every segment above.
int alaw_step(uint8_t code) {
    int seg = ((code ^ 0x55) >> 4) & 7;
    return seg < 2 ? 16 : 16 << (seg - 1);
}

// Width of the decision interval of a mu-law code: 8 in segment 0, doubling upward.
int ulaw_step(uint8_t code) {
    int seg = ((~code) >> 4) & 7;
    return 8 << seg;
}

} // namespace

TEST_F(G711Tables, BuildLogsOneLine) {
    EXPECT_EQ(buildLog, "init Conversion table.....\n");
}

TEST_F(G711Tables, SegmentSearchReturnsFirstEndNotBelowValue) {
    EXPECT_EQ(g711_segment_search(-5, alaw_segment_ends.data(), 8), 0);
    EXPECT_EQ(g711_segment_search(31, alaw_segment_ends.data(), 8), 0);
    EXPECT_EQ(g711_segment_search(32, alaw_segment_ends.data(), 8), 1);
    EXPECT_EQ(g711_segment_search(4095, alaw_segment_ends.data(), 8), 7);
    EXPECT_EQ(g711_segment_search(4096, alaw_segment_ends.data(), 8), 8);
    EXPECT_EQ(g711_segment_search(8191, ulaw_segment_ends.data(), 8), 7);
    EXPECT_EQ(g711_segment_search(8192, ulaw_segment_ends.data(), 8), 8);
}

TEST_F(G711Tables, AlawEncodeKnownSamples) {
    EXPECT_EQ(alaw_of(0), 0xD5);
    EXPECT_EQ(alaw_of(7), 0xD5);
    EXPECT_EQ(alaw_of(15), 0xD5);
    EXPECT_EQ(alaw_of(16), 0xD4); // the next step up
    EXPECT_EQ(alaw_of(-1), 0x55);
    EXPECT_EQ(alaw_of(-8), 0x55);
    EXPECT_EQ(alaw_of(-16), 0x55);
    EXPECT_EQ(alaw_of(-17), 0x54);
    EXPECT_EQ(alaw_of(1000), 0xFA);
    EXPECT_EQ(alaw_of(-1000), 0x7A);
    EXPECT_EQ(alaw_of(32767), 0xAA);
    EXPECT_EQ(alaw_of(-32768), 0x2A);
}

TEST_F(G711Tables, AlawDecodeKnownCodes) {
    EXPECT_EQ(alaw_to_lin_table[0xD5], 8);
    EXPECT_EQ(alaw_to_lin_table[0x55], -8);
    EXPECT_EQ(alaw_to_lin_table[0xAA], 32256);
    EXPECT_EQ(alaw_to_lin_table[0x2A], -32256);
    EXPECT_EQ(alaw_to_lin_table[0x80], 5504);
    EXPECT_EQ(alaw_to_lin_table[0x00], -5504);
}

TEST_F(G711Tables, UlawEncodeKnownSamplesAndClipping) {
    EXPECT_EQ(ulaw_of(0), 0xFF);
    EXPECT_EQ(ulaw_of(-1), 0x7E);
    EXPECT_EQ(ulaw_of(31611), 0x81); // the top code begins one sample higher
    EXPECT_EQ(ulaw_of(31612), 0x80);
    EXPECT_EQ(ulaw_of(32635), 0x80);
    EXPECT_EQ(ulaw_of(-31608), 0x01);
    EXPECT_EQ(ulaw_of(-31609), 0x00);
    for (int s = 32636; s <= 32767; ++s)
        ASSERT_EQ(ulaw_of(s), 0x80) << s;
    for (int s = -32768; s <= -32633; ++s)
        ASSERT_EQ(ulaw_of(s), 0x00) << s;
}

TEST_F(G711Tables, UlawDecodeKnownCodes) {
    EXPECT_EQ(ulaw_to_lin_table[0xFF], 0);
    EXPECT_EQ(ulaw_to_lin_table[0x7F], 0);
    EXPECT_EQ(ulaw_to_lin_table[0x80], 32124);
    EXPECT_EQ(ulaw_to_lin_table[0x00], -32124);
}

TEST_F(G711Tables, TablesEqualTheConvertersForEveryInput) {
    for (int i = 0; i < 65536; ++i) {
        int s = static_cast<int16_t>(static_cast<uint16_t>(i));
        ASSERT_EQ(lin_to_alaw_table[i], g711_alaw_encode(s)) << i;
        ASSERT_EQ(lin_to_ulaw_table[i], g711_ulaw_encode(s)) << i;
    }
    for (int b = 0; b < 256; ++b) {
        ASSERT_EQ(alaw_to_lin_table[b], g711_alaw_decode(static_cast<uint8_t>(b))) << b;
        ASSERT_EQ(ulaw_to_lin_table[b], g711_ulaw_decode(static_cast<uint8_t>(b))) << b;
    }
}

TEST_F(G711Tables, EveryAlawCodeSurvivesDecodeThenEncode) {
    for (int b = 0; b < 256; ++b)
        ASSERT_EQ(alaw_of(alaw_to_lin_table[b]), b) << b;
}

TEST_F(G711Tables, EveryUlawCodeButNegativeZeroSurvivesDecodeThenEncode) {
    for (int b = 0; b < 256; ++b) {
        if (b == 0x7F)
            continue;
        ASSERT_EQ(ulaw_of(ulaw_to_lin_table[b]), b) << b;
    }
    // 0x7F, the negative zero, decodes to 0, which encodes to the positive zero 0xFF.
    EXPECT_EQ(ulaw_of(ulaw_to_lin_table[0x7F]), 0xFF);
}

// Over the whole 16-bit range, a louder sample never gets a quieter code, and the
// reconstruction lies within half the code's decision interval of the sample. For mu-law
// this holds below the clip (checked above), and negative samples may be up to 3 further
// off: the encoder shifts before it negates, which rounds their magnitude up to a multiple
// of 4.
TEST_F(G711Tables, EncodingIsMonotonicAndWithinHalfAStep) {
    int lastAlaw = -32768 * 2;
    int lastUlaw = -32768 * 2;
    for (int s = -32768; s <= 32767; ++s) {
        uint8_t a = alaw_of(s);
        int ra = alaw_to_lin_table[a];
        ASSERT_GE(ra, lastAlaw) << s;
        ASSERT_LE(std::abs(ra - s), alaw_step(a) / 2) << s;
        lastAlaw = ra;

        uint8_t u = ulaw_of(s);
        int ru = ulaw_to_lin_table[u];
        ASSERT_GE(ru, lastUlaw) << s;
        if (s > -32633 && s < 32636) {
            ASSERT_LE(std::abs(ru - s), ulaw_step(u) / 2 + (s < 0 ? 3 : 0)) << s;
        }
        lastUlaw = ru;
    }
}

// Decoding preserves the order of the magnitude codes: within each sign, a larger magnitude
// code gives a strictly larger magnitude.
TEST_F(G711Tables, DecodingIsStrictlyMonotonicInTheMagnitudeCode) {
    for (int k = 1; k < 128; ++k) {
        auto aPos = [](int m) { return alaw_to_lin_table[static_cast<uint8_t>(m ^ 0xD5)]; };
        auto aNeg = [](int m) { return alaw_to_lin_table[static_cast<uint8_t>(m ^ 0x55)]; };
        auto uPos = [](int m) { return ulaw_to_lin_table[static_cast<uint8_t>(m ^ 0xFF)]; };
        auto uNeg = [](int m) { return ulaw_to_lin_table[static_cast<uint8_t>(m ^ 0x7F)]; };
        ASSERT_GT(aPos(k), aPos(k - 1)) << k;
        ASSERT_LT(aNeg(k), aNeg(k - 1)) << k;
        ASSERT_EQ(aNeg(k), -aPos(k)) << k;
        ASSERT_GT(uPos(k), uPos(k - 1)) << k;
        ASSERT_LT(uNeg(k), uNeg(k - 1)) << k;
        ASSERT_EQ(uNeg(k), -uPos(k)) << k;
    }
}
