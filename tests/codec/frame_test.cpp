// In-place conversion between pcm_frame and alaw_packet in one 1544-byte buffer.
#include "codec/frame.h"
#include "codec/g711.h"

#include <random>

#include <gtest/gtest.h>

namespace {

class FrameConversion : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::testing::internal::CaptureStdout();
        build_g711_tables();
        ::testing::internal::GetCapturedStdout();
    }
};

void put_sample(pcm_frame& frame, std::size_t i, int value) {
    auto pattern = static_cast<uint16_t>(value);
    frame[PCM_SAMPLES_OFFSET + 2 * i] = static_cast<uint8_t>(pattern >> 8);
    frame[PCM_SAMPLES_OFFSET + 2 * i + 1] = static_cast<uint8_t>(pattern);
}

pcm_frame random_buffer(std::mt19937& rng) {
    pcm_frame buffer;
    for (auto& b : buffer)
        b = static_cast<uint8_t>(rng() >> 24);
    return buffer;
}

// Straightforward out-of-place encoding into a separate packet, through the converter.
alaw_packet reference_encode(const pcm_frame& frame) {
    alaw_packet packet{};
    for (std::size_t k = 0; k < FRAME_HEAD_SIZE; ++k)
        packet[k] = frame[k];
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i) {
        int hi = frame[PCM_SAMPLES_OFFSET + 2 * i];
        int lo = frame[PCM_SAMPLES_OFFSET + 2 * i + 1];
        packet[ALAW_CODES_OFFSET + i] = g711_alaw_encode(static_cast<int16_t>(hi * 256 + lo));
    }
    for (std::size_t k = 0; k < FRAME_TAIL_SIZE; ++k)
        packet[ALAW_TAIL_OFFSET + k] = frame[PCM_TAIL_OFFSET + k];
    return packet;
}

// Straightforward out-of-place decoding; bytes 1542..1543 come from what the buffer held.
pcm_frame reference_decode(const pcm_frame& before) {
    pcm_frame frame{};
    for (std::size_t k = 0; k < FRAME_HEAD_SIZE; ++k)
        frame[k] = before[k];
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i)
        put_sample(frame, i, g711_alaw_decode(before[ALAW_CODES_OFFSET + i]));
    frame[PCM_TAIL_OFFSET] = before[ALAW_TAIL_OFFSET];
    frame[PCM_TAIL_OFFSET + 1] = before[ALAW_TAIL_OFFSET + 1];
    frame[PCM_TAIL_OFFSET + 2] = before[PCM_TAIL_OFFSET + 2];
    frame[PCM_TAIL_OFFSET + 3] = before[PCM_TAIL_OFFSET + 3];
    return frame;
}

} // namespace

TEST_F(FrameConversion, LayoutSizes) {
    EXPECT_EQ(sizeof(pcm_frame), 1544u);
    EXPECT_EQ(sizeof(alaw_packet), 776u);
    EXPECT_EQ(FRAME_SAMPLES, 768u);
    EXPECT_EQ(PCM_TAIL_OFFSET, 1540u);
    EXPECT_EQ(ALAW_TAIL_OFFSET, 772u);
}

TEST_F(FrameConversion, SilenceEncodesToD5AndD5DecodesToPlusEight) {
    pcm_frame buffer{};
    buffer[0] = 0x11, buffer[1] = 0x22, buffer[2] = 0x33, buffer[3] = 0x44;
    buffer[1540] = 0xA0, buffer[1541] = 0xA1, buffer[1542] = 0xA2, buffer[1543] = 0xA3;
    ASSERT_EQ(alaw_encode_frame(buffer), 776u);
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(buffer[1], 0x22);
    EXPECT_EQ(buffer[2], 0x33);
    EXPECT_EQ(buffer[3], 0x44);
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i)
        ASSERT_EQ(buffer[4 + i], 0xD5) << i;
    EXPECT_EQ(buffer[772], 0xA0);
    EXPECT_EQ(buffer[773], 0xA1);
    EXPECT_EQ(buffer[774], 0xA2);
    EXPECT_EQ(buffer[775], 0xA3);

    ASSERT_EQ(alaw_decode_frame(buffer), 1544u);
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(buffer[3], 0x44);
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i) {
        ASSERT_EQ(buffer[4 + 2 * i], 0x00) << i;
        ASSERT_EQ(buffer[5 + 2 * i], 0x08) << i;
    }
    EXPECT_EQ(buffer[1540], 0xA0);
    EXPECT_EQ(buffer[1541], 0xA1);
    EXPECT_EQ(buffer[1542], 0xA2); // never written by decoding
    EXPECT_EQ(buffer[1543], 0xA3);
}

// Big-endian on the wire whatever the host: the bytes are the same on either.
TEST_F(FrameConversion, FullScaleAlternationIsBigEndianBothWays) {
    pcm_frame buffer{};
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i)
        put_sample(buffer, i, i % 2 == 0 ? 32767 : -32768);
    EXPECT_EQ(buffer[4], 0x7F);
    EXPECT_EQ(buffer[5], 0xFF);
    EXPECT_EQ(buffer[6], 0x80);
    EXPECT_EQ(buffer[7], 0x00);
    alaw_encode_frame(buffer);
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i)
        ASSERT_EQ(buffer[4 + i], i % 2 == 0 ? 0xAA : 0x2A) << i;
    alaw_decode_frame(buffer);
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i) {
        ASSERT_EQ(buffer[4 + 2 * i], i % 2 == 0 ? 0x7E : 0x82) << i; // +32256, -32256
        ASSERT_EQ(buffer[5 + 2 * i], 0x00) << i;
    }
}

TEST_F(FrameConversion, InPlaceEncodingAgreesWithOutOfPlaceReference) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const pcm_frame before = random_buffer(rng);
        pcm_frame buffer = before;
        const alaw_packet expected = reference_encode(before);
        ASSERT_EQ(alaw_encode_frame(buffer), ALAW_PACKET_SIZE);
        for (std::size_t k = 0; k < ALAW_PACKET_SIZE; ++k)
            ASSERT_EQ(buffer[k], expected[k]) << "round " << round << " byte " << k;
        for (std::size_t k = ALAW_PACKET_SIZE; k < PCM_FRAME_SIZE; ++k)
            ASSERT_EQ(buffer[k], before[k]) << "round " << round << " byte " << k;
    }
}

TEST_F(FrameConversion, InPlaceDecodingAgreesWithOutOfPlaceReference) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        const pcm_frame before = random_buffer(rng); // packet, then leftovers
        pcm_frame buffer = before;
        const pcm_frame expected = reference_decode(before);
        ASSERT_EQ(alaw_decode_frame(buffer), PCM_FRAME_SIZE);
        for (std::size_t k = 0; k < PCM_FRAME_SIZE; ++k)
            ASSERT_EQ(buffer[k], expected[k]) << "round " << round << " byte " << k;
    }
}

// A frame carried across the network comes back as the quantised frame: every sample is
// replaced by the reconstruction of its code, head and the used part of the tail survive.
TEST_F(FrameConversion, EncodeThenDecodeGivesTheQuantisedFrame) {
    std::mt19937 rng(3);
    const pcm_frame before = random_buffer(rng);
    pcm_frame buffer = before;
    alaw_encode_frame(buffer);
    alaw_decode_frame(buffer);
    for (std::size_t k = 0; k < FRAME_HEAD_SIZE; ++k)
        EXPECT_EQ(buffer[k], before[k]);
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i) {
        int s = static_cast<int16_t>((before[4 + 2 * i] << 8) | before[5 + 2 * i]);
        int r = static_cast<int16_t>((buffer[4 + 2 * i] << 8) | buffer[5 + 2 * i]);
        ASSERT_EQ(r, g711_alaw_decode(g711_alaw_encode(s))) << i;
    }
    EXPECT_EQ(buffer[1540], before[1540]);
    EXPECT_EQ(buffer[1541], before[1541]);
    EXPECT_EQ(buffer[1542], before[1542]);
    EXPECT_EQ(buffer[1543], before[1543]);
}
