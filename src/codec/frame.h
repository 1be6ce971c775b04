// The two audio buffers of the system and the in-place conversion between them.
//
// pcm_frame, 1544 bytes, as the audio data device delivers and accepts it:
//   0      4 bytes   head, carried unchanged
//   4      768 x 2   samples, signed 16-bit big-endian, sample i at 4 + 2i, 5 + 2i
//   1540   4 bytes   tail
// alaw_packet, 776 bytes, the payload of one UDP datagram:
//   0      4 bytes   head (bytes 0, 2, 3 set by the transmit path, byte 1 from the frame)
//   4      768       A-law code words, code i at 4 + i
//   772    4 bytes   the frame's tail; a receiver uses only 772..773
// Every multi-byte field is big-endian whatever the host. Each audio path owns one
// pcm_frame and converts it in place; the packet is the first 776 bytes of that buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t FRAME_SAMPLES = 768;
inline constexpr std::size_t FRAME_HEAD_SIZE = 4;
inline constexpr std::size_t FRAME_TAIL_SIZE = 4;
inline constexpr std::size_t PCM_SAMPLE_SIZE = 2;

inline constexpr std::size_t PCM_SAMPLES_OFFSET = FRAME_HEAD_SIZE;
inline constexpr std::size_t PCM_TAIL_OFFSET = PCM_SAMPLES_OFFSET + FRAME_SAMPLES * PCM_SAMPLE_SIZE;
inline constexpr std::size_t PCM_FRAME_SIZE = PCM_TAIL_OFFSET + FRAME_TAIL_SIZE;

inline constexpr std::size_t ALAW_CODES_OFFSET = FRAME_HEAD_SIZE;
inline constexpr std::size_t ALAW_TAIL_OFFSET = ALAW_CODES_OFFSET + FRAME_SAMPLES;
inline constexpr std::size_t ALAW_PACKET_SIZE = ALAW_TAIL_OFFSET + FRAME_TAIL_SIZE;
// The part of the packet tail that a receiver carries into its frame's tail.
inline constexpr std::size_t ALAW_TAIL_USED = 2;

static_assert(PCM_FRAME_SIZE == 1544 && PCM_TAIL_OFFSET == 1540);
static_assert(ALAW_PACKET_SIZE == 776 && ALAW_TAIL_OFFSET == 772);

using pcm_frame = std::array<uint8_t, PCM_FRAME_SIZE>;
using alaw_packet = std::array<uint8_t, ALAW_PACKET_SIZE>;

// Encodes the frame in the buffer into an alaw_packet in its first 776 bytes, through
// lin_to_alaw_table: code words at 4.., the frame's tail at 772..775, head untouched.
// Bytes 776..1543 keep what they held. Returns 776.
uint32_t alaw_encode_frame(std::span<uint8_t, PCM_FRAME_SIZE> buffer);

// Decodes the alaw_packet in the first 776 bytes of the buffer into a pcm_frame, through
// alaw_to_lin_table: head untouched, packet bytes 772..773 become frame bytes 1540..1541,
// bytes 1542..1543 are not written. Returns 1544.
uint32_t alaw_decode_frame(std::span<uint8_t, PCM_FRAME_SIZE> buffer);
