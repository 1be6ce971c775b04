// The A-law digital milliwatt: a known 1 kHz sequence at 0 dBm0, decoded through a frame.
#include "codec/frame.h"
#include "codec/g711.h"

#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

namespace {

constexpr uint8_t MILLIWATT[8] = {0x34, 0x21, 0x21, 0x34, 0xB4, 0xA1, 0xA1, 0xB4};
constexpr int PERIOD = 8; // 1 kHz at 8000 samples a second
// cos(2 pi n / 8) for one period. Written out rather than computed: the PowerPC C library's
// sin and cos use an instruction the test emulator does not know.
constexpr double COS_EIGHTH[PERIOD] = {1,  std::numbers::sqrt2 / 2,  0, -std::numbers::sqrt2 / 2,
                                       -1, -std::numbers::sqrt2 / 2, 0, std::numbers::sqrt2 / 2};

int sample_at(const pcm_frame& frame, std::size_t i) {
    return static_cast<int16_t>((frame[PCM_SAMPLES_OFFSET + 2 * i] << 8) |
                                frame[PCM_SAMPLES_OFFSET + 2 * i + 1]);
}

} // namespace

TEST(AlawMilliwatt, DecodesToAOneKilohertzSineAtZeroDbm0) {
    ::testing::internal::CaptureStdout();
    build_g711_tables();
    ::testing::internal::GetCapturedStdout();

    pcm_frame frame{};
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i)
        frame[ALAW_CODES_OFFSET + i] = MILLIWATT[i % PERIOD];
    ASSERT_EQ(alaw_decode_frame(frame), PCM_FRAME_SIZE);

    // Level: A-law overload (4096 units, 32768 on this scale) lies at +3.14 dBm0, so 0 dBm0
    // is a sine whose RMS is 3.14 dB below that of a full-scale sine.
    double energy = 0;
    double re = 0;
    double im = 0;
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i) {
        double x = sample_at(frame, i);
        energy += x * x;
        re += x * COS_EIGHTH[i % PERIOD];
        im += x * COS_EIGHTH[(i + PERIOD - 2) % PERIOD]; // sin(t) = cos(t - pi / 2)
    }
    double rms = std::sqrt(energy / FRAME_SAMPLES);
    double fullScaleRms = 32768.0 / std::sqrt(2.0);
    EXPECT_NEAR(20 * std::log10(rms / fullScaleRms), -3.14, 0.1);

    // Shape: nearly all of the energy is in the 1 kHz component.
    double fundamental = 2 * (re * re + im * im) / FRAME_SAMPLES;
    EXPECT_GT(fundamental / energy, 0.999);

    // Symmetric about zero, and periodic over the whole frame.
    long sum = 0;
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i) {
        sum += sample_at(frame, i);
        if (i >= PERIOD) {
            ASSERT_EQ(sample_at(frame, i), sample_at(frame, i - PERIOD)) << i;
        }
    }
    EXPECT_EQ(sum, 0);
}
