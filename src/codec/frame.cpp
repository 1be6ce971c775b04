// In-place conversion between a pcm_frame and an alaw_packet in one 1544-byte buffer.
//
// Encoding runs upward: code i lands at byte 4 + i, at or before the first byte of sample i
// (4 + 2i), which has been read already, and never on a sample still to be read. The tail
// is copied after the loop, since bytes 772..775 hold samples 384 and 385 until then.
// Decoding runs downward: sample i lands at bytes 4 + 2i, 5 + 2i, at or after code i and
// beyond every lower code still to be read. Packet bytes 772..773 are saved into the frame
// tail first, since sample 384 overwrites them.
#include "codec/frame.h"

#include "codec/g711.h"

// The orders above rely on the packet's codes starting where the frame's samples start.
static_assert(ALAW_CODES_OFFSET == PCM_SAMPLES_OFFSET);
static_assert(ALAW_TAIL_OFFSET + FRAME_TAIL_SIZE <= PCM_TAIL_OFFSET);

uint32_t alaw_encode_frame(std::span<uint8_t, PCM_FRAME_SIZE> buffer) {
    uint8_t* const bytes = buffer.data();
    for (std::size_t i = 0; i < FRAME_SAMPLES; ++i) {
        const uint8_t* sample = bytes + PCM_SAMPLES_OFFSET + PCM_SAMPLE_SIZE * i;
        const unsigned pattern = (static_cast<unsigned>(sample[0]) << 8) | sample[1];
        bytes[ALAW_CODES_OFFSET + i] = lin_to_alaw_table[pattern];
    }
    for (std::size_t k = 0; k < FRAME_TAIL_SIZE; ++k)
        bytes[ALAW_TAIL_OFFSET + k] = bytes[PCM_TAIL_OFFSET + k];
    return ALAW_PACKET_SIZE;
}

uint32_t alaw_decode_frame(std::span<uint8_t, PCM_FRAME_SIZE> buffer) {
    uint8_t* const bytes = buffer.data();
    for (std::size_t k = 0; k < ALAW_TAIL_USED; ++k)
        bytes[PCM_TAIL_OFFSET + k] = bytes[ALAW_TAIL_OFFSET + k];
    for (std::size_t i = FRAME_SAMPLES; i-- > 0;) {
        const auto pattern = static_cast<uint16_t>(alaw_to_lin_table[bytes[ALAW_CODES_OFFSET + i]]);
        uint8_t* sample = bytes + PCM_SAMPLES_OFFSET + PCM_SAMPLE_SIZE * i;
        sample[0] = static_cast<uint8_t>(pattern >> 8);
        sample[1] = static_cast<uint8_t>(pattern & 0xFF);
    }
    return PCM_FRAME_SIZE;
}
