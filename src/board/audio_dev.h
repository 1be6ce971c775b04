// The board's audio data device: one character device that hands out captured frames and
// takes frames for playback. Both audio threads share its one descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/frame.h"

inline constexpr const char* AUDIO_DEVICE_PATH = "/dev/codec_audioBi";
inline constexpr unsigned AUDIO_DEVICE_MAJOR = 247;
inline constexpr unsigned AUDIO_DEVICE_MINOR = 0;
// S_IFCHR | 0770: a character device for owner and group.
inline constexpr unsigned AUDIO_DEVICE_NODE_MODE = 0x21F8;

// Plain request numbers of the driver (not encoded with direction or size).
enum class audio_request : unsigned long {
    write_frame = 0x01, // argument: a whole frame to play
    read_frame = 0x02,  // argument: a frame buffer to fill with the next captured frame
    control_b = 0x0B,   // control requests, argument 0
    control_c = 0x0C,
    control_d = 0x0D,
};

// The one open descriptor of the device, set once by main; -1 until then.
extern int fd_audioDev;

// Creates the node when it is missing, opens it; the descriptor, or -1 after a message.
int open_audio_device();
// Reads one captured frame into frame; the request's result unchanged.
int audio_read_frame(std::span<uint8_t, PCM_FRAME_SIZE> frame);
// Hands one frame to the driver for playback; always 0, whatever the request gave.
int audio_write_frame(std::span<const uint8_t, PCM_FRAME_SIZE> frame);
// The same request, for callers that count failed playback: the request's result unchanged.
int audio_play_frame(std::span<const uint8_t, PCM_FRAME_SIZE> frame);
// One argument-less control request on fd_audioDev; its result is of no interest to callers.
int audio_control(audio_request request);
