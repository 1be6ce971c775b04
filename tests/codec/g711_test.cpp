// G.711 converters and tables against the recommendation's values, the law-to-law maps and
// the in-place frame conversion.
#include "codec/frame.h"
#include "codec/g711.h"
#include "codec/g711_law.h"

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace {

class G711 : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::testing::internal::CaptureStdout();
        build_g711_tables();
        buildLog = ::testing::internal::GetCapturedStdout();
    }
    static std::string buildLog;
};
std::string G711::buildLog;

int sample_at(const pcm_frame& f, std::size_t i) {
    return static_cast<int16_t>((f[PCM_SAMPLES_OFFSET + 2 * i] << 8) |
                                f[PCM_SAMPLES_OFFSET + 2 * i + 1]);
}

struct point {
    int sample;
    uint8_t code;
    int decoded;
};

// Decision values of G.711 tables 1a and 2a on the 16-bit scale (A-law units times 8, mu-law
// units times 4): the first and last sample of each segment, the code word transmitted for
// it and that code word's reconstruction value.
const point ALAW_POINTS[] = {
    {0, 0xD5, 8},         {15, 0xD5, 8},        {16, 0xD4, 24},       {255, 0xDA, 248},
    {256, 0xC5, 264},     {511, 0xCA, 504},     {512, 0xF5, 528},     {1024, 0xE5, 1056},
    {2048, 0x95, 2112},   {4096, 0x85, 4224},   {8192, 0xB5, 8448},   {16383, 0xBA, 16128},
    {16384, 0xA5, 16896}, {32767, 0xAA, 32256}, {-1, 0x55, -8},       {-16, 0x55, -8},
    {-17, 0x54, -24},     {-257, 0x45, -264},   {-1000, 0x7A, -1008}, {-32768, 0x2A, -32256}};
const point ULAW_POINTS[] = {
    {0, 0xFF, 0},           {123, 0xF0, 120},      {124, 0xEF, 132},     {379, 0xE0, 372},
    {380, 0xDF, 396},       {892, 0xCF, 924},      {1916, 0xBF, 1980},   {3964, 0xAF, 4092},
    {8060, 0x9F, 8316},     {16251, 0x90, 15996},  {16252, 0x8F, 16764}, {31611, 0x81, 31100},
    {31612, 0x80, 32124},   {32767, 0x80, 32124},  {-1, 0x7E, -8},       {-31608, 0x01, -31100},
    {-31609, 0x00, -32124}, {-32768, 0x00, -32124}};

} // namespace

TEST_F(G711, EncodeAndDecodeMatchTheRecommendationAtSegmentBoundaries) {
    EXPECT_EQ(buildLog, "init Conversion table.....\n");
    for (const point& p : ALAW_POINTS) {
        SCOPED_TRACE("A-law " + std::to_string(p.sample));
        EXPECT_EQ(g711_alaw_encode(p.sample), p.code);
        EXPECT_EQ(lin_to_alaw_table[static_cast<uint16_t>(p.sample)], p.code);
        EXPECT_EQ(g711_alaw_decode(p.code), p.decoded);
        EXPECT_EQ(alaw_to_lin_table[p.code], p.decoded);
    }
    for (const point& p : ULAW_POINTS) {
        SCOPED_TRACE("mu-law " + std::to_string(p.sample));
        EXPECT_EQ(g711_ulaw_encode(p.sample), p.code);
        EXPECT_EQ(lin_to_ulaw_table[static_cast<uint16_t>(p.sample)], p.code);
        EXPECT_EQ(g711_ulaw_decode(p.code), p.decoded);
        EXPECT_EQ(ulaw_to_lin_table[p.code], p.decoded);
    }
    EXPECT_EQ(ulaw_to_lin_table[0x7F], 0); // the negative zero
}

// Over every 16-bit sample: a louder sample never gets a quieter code, and the reconstruction
// lies within half the code's decision interval (A-law 16 in segments 0 and 1, doubling
// above; mu-law 8 in segment 0, doubling). Negative mu-law samples may be up to 3 further
// off (the encoder shifts before it negates); above the mu-law clip the top code holds.
TEST_F(G711, EncodingIsMonotonicAndWithinHalfAStepEverywhere) {
    int lastA = -65536, lastU = -65536;
    for (int s = -32768; s <= 32767; ++s) {
        const uint8_t a = lin_to_alaw_table[static_cast<uint16_t>(s)];
        const int ra = alaw_to_lin_table[a], segA = ((a ^ 0x55) >> 4) & 7;
        ASSERT_GE(ra, lastA) << s;
        ASSERT_LE(std::abs(ra - s), (segA < 2 ? 16 : 16 << (segA - 1)) / 2) << s;
        lastA = ra;
        const uint8_t u = lin_to_ulaw_table[static_cast<uint16_t>(s)];
        const int ru = ulaw_to_lin_table[u], segU = ((~u) >> 4) & 7;
        ASSERT_GE(ru, lastU) << s;
        if (s > -32633 && s < 32636) {
            ASSERT_LE(std::abs(ru - s), (8 << segU) / 2 + (s < 0 ? 3 : 0)) << s;
        } else {
            ASSERT_EQ(u, s > 0 ? 0x80 : 0x00) << s;
        }
        lastU = ru;
    }
    for (int b = 0; b < 256; ++b) {
        const auto code = static_cast<uint8_t>(b);
        ASSERT_EQ(lin_to_alaw_table[static_cast<uint16_t>(alaw_to_lin_table[b])], b) << b;
        ASSERT_EQ(alaw_to_lin_table[b ^ 0x80], -alaw_to_lin_table[b]) << b;
        ASSERT_EQ(ulaw_to_lin_table[b ^ 0x80], -ulaw_to_lin_table[b]) << b;
        if (b != 0x7F) { // the negative zero decodes to 0, which encodes to 0xFF
            ASSERT_EQ(lin_to_ulaw_table[static_cast<uint16_t>(ulaw_to_lin_table[b])], b) << b;
        }
        ASSERT_EQ(g711_alaw_decode(code), alaw_to_lin_table[b]) << b;
        ASSERT_EQ(g711_ulaw_decode(code), ulaw_to_lin_table[b]) << b;
    }
}

// The A-law digital milliwatt decodes to a 1 kHz sine at 0 dBm0, which lies 3.14 dB below
// a full-scale sine (A-law overload, 4096 units, is +3.14 dBm0).
TEST_F(G711, AlawMilliwattDecodesToZeroDbm0ThroughAFrame) {
    constexpr uint8_t MILLIWATT[8] = {0x34, 0x21, 0x21, 0x34, 0xB4, 0xA1, 0xA1, 0xB4};
    pcm_frame frame{};
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i)
        frame[ALAW_CODES_OFFSET + i] = MILLIWATT[i % 8];
    ASSERT_EQ(alaw_decode_frame(frame), PCM_FRAME_SIZE);
    double energy = 0;
    long sum = 0;
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i) {
        energy += double(sample_at(frame, i)) * sample_at(frame, i);
        sum += sample_at(frame, i);
        ASSERT_EQ(sample_at(frame, i), -sample_at(frame, (i + 4) % FRAME_SAMPLES)) << i;
    }
    EXPECT_NEAR(20 * std::log10(std::sqrt(energy / FRAME_SAMPLES) / (32768 / std::sqrt(2.0))),
                -3.14, 0.1);
    EXPECT_EQ(sum, 0);
}

// Encoding fills the first 776 bytes in place (head kept, code i at 4 + i, the frame's tail
// at 772..775) and leaves the rest; decoding restores big-endian samples, moves 772..773 to
// 1540..1541 and never writes 1542..1543. Random bytes make every code and sample distinct.
TEST_F(G711, FrameConversionInPlaceKeepsLayoutAndByteOrder) {
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        pcm_frame buf;
        for (auto& b : buf)
            b = static_cast<uint8_t>(rng() >> 24);
        buf[4] = 0x7F, buf[5] = 0xFF, buf[6] = 0x80, buf[7] = 0x00; // +32767, -32768
        const pcm_frame pcm = buf;
        ASSERT_EQ(alaw_encode_frame(buf), ALAW_PACKET_SIZE);
        EXPECT_EQ(buf[4], 0xAA);
        EXPECT_EQ(buf[5], 0x2A);
        for (std::size_t k = 0; k < PCM_FRAME_SIZE; ++k) {
            uint8_t want = pcm[k]; // head, and what lies beyond the packet
            if (k >= ALAW_CODES_OFFSET && k < ALAW_TAIL_OFFSET)
                want =
                    lin_to_alaw_table[static_cast<uint16_t>(sample_at(pcm, k - ALAW_CODES_OFFSET))];
            else if (k >= ALAW_TAIL_OFFSET && k < ALAW_PACKET_SIZE)
                want = pcm[PCM_TAIL_OFFSET + k - ALAW_TAIL_OFFSET];
            ASSERT_EQ(buf[k], want) << k;
        }
        const pcm_frame packet = buf;
        ASSERT_EQ(alaw_decode_frame(buf), PCM_FRAME_SIZE);
        EXPECT_EQ(buf[4], 0x7E); // +32256 big-endian
        EXPECT_EQ(buf[5], 0x00);
        EXPECT_EQ(buf[6], 0x82); // -32256
        for (std::size_t k = 0; k < FRAME_HEAD_SIZE; ++k)
            ASSERT_EQ(buf[k], packet[k]) << k;
        for (std::size_t i = 0; i < FRAME_SAMPLES; ++i)
            ASSERT_EQ(sample_at(buf, i), alaw_to_lin_table[packet[ALAW_CODES_OFFSET + i]]) << i;
        EXPECT_EQ(buf[1540], packet[772]);
        EXPECT_EQ(buf[1541], packet[773]);
        EXPECT_EQ(buf[1542], packet[1542]);
        EXPECT_EQ(buf[1543], packet[1543]);
    }
}

// The law-to-law conversion is that of equal level: decode, scale by the load capacities
// (+3.14 dBm0 at 4096 A-law units, +3.17 dBm0 at 8159 mu-law units) and encode in the other
// law, exact for every code word (truncation is exact: the decision values are whole).
TEST_F(G711, LawConversionEqualsDecodeScaleEncode) {
    const double scale = 8159.0 / 4096.0 * std::pow(10.0, -0.03 / 20.0) * 4 / 8;
    for (int k = 0; k < 128; ++k) {
        const auto alaw = static_cast<uint8_t>(k ^ 0xD5), ulaw = static_cast<uint8_t>(k ^ 0xFF);
        ASSERT_EQ(g711_alaw_to_ulaw(alaw),
                  g711_ulaw_encode(static_cast<int>(g711_alaw_decode(alaw) * scale)))
            << k;
        ASSERT_EQ(g711_ulaw_to_alaw(ulaw),
                  g711_alaw_encode(static_cast<int>(g711_ulaw_decode(ulaw) / scale)))
            << k;
        // The sign passes through unchanged: the code of -x converts to the code of -x.
        ASSERT_EQ(g711_alaw_to_ulaw(alaw ^ 0x80), g711_alaw_to_ulaw(alaw) ^ 0x80) << k;
        ASSERT_EQ(g711_ulaw_to_alaw(ulaw ^ 0x80), g711_ulaw_to_alaw(ulaw) ^ 0x80) << k;
    }
    EXPECT_EQ(g711_alaw_to_ulaw(0xD5), 0xFE); // +8 -> +8
    EXPECT_EQ(g711_alaw_to_ulaw(0x2A), 0x00); // full scale
    EXPECT_EQ(g711_ulaw_to_alaw(0xFF), 0xD5); // both zeros go to the smallest A-law step
    EXPECT_EQ(g711_ulaw_to_alaw(0x7F), 0x55);
    EXPECT_EQ(g711_ulaw_to_alaw(0x80), 0xAA);
}
