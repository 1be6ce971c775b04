// Live audio for the simulated audio device through named pipes: a microphone stream that the
// capture clock reads (board.conf capture_pipe) and a speaker stream that playback writes
// (playback_pipe), so that a PC's sound tools (arecord/aplay, sox, pw-cat) take part in a call.
//
// Both streams are raw signed 16-bit little-endian mono samples at 8000 Hz, what
// `arecord -f S16_LE -r 8000 -c 1 -t raw` writes and `aplay` with the same options reads.
// Neither side ever blocks the device: the capture pipe is read without waiting at each frame
// tick, and a played frame that the speaker pipe cannot take at once is dropped and counted.
#pragma once

#include "hw/hw.h"
#include "codec/frame.h"

#include <cstddef>
#include <cstdint>

// One frame of stream bytes: 768 samples of 2 bytes.
inline constexpr std::size_t PIPE_FRAME_BYTES = FRAME_SAMPLES * PCM_SAMPLE_SIZE;
// Kernel buffer of each pipe, about 8 frames: it bounds the delay through the pipe when the
// PC's sound clock runs a little faster than the board's frame clock.
inline constexpr int PIPE_BUFFER_BYTES = 16384;

struct capture_pipe {
    int fd = -1;
    char path[HW_PATH_SIZE] = {};               // empty: no capture pipe configured
    uint8_t pending[PIPE_FRAME_BYTES] = {};     // the frame being gathered from the stream
    std::size_t have = 0;                       // bytes of it gathered so far
    int writer = 0;                             // a writer held the pipe open at the last look
    unsigned long long bytesRead = 0;           // stream bytes read since the pipe was opened
    unsigned long long frames = 0;              // whole frames taken
    unsigned long long shortTicks = 0;          // ticks without a whole frame, a writer attached
    unsigned long long partialBytesDropped = 0; // left by writers that ended inside a frame
};

struct playback_pipe {
    int fd = -1;
    char path[HW_PATH_SIZE] = {}; // empty: no playback pipe configured
    int reader = 0;               // a reader held the pipe open at the last frame
    unsigned long long frames = 0;
    unsigned long long dropped = 0; // no reader, or the reader had not taken enough yet
};

// Opens the capture pipe at path (created as a FIFO when missing) without waiting for a writer.
// An empty path configures no pipe. 1, or 0 with a message on standard error (the pipe then
// yields silence).
int open_capture_pipe(capture_pipe& pipe, const char* path);
// One frame tick: reads what the pipe holds, up to the rest of the frame being gathered. A whole
// frame goes to out (768 little-endian samples) and the result is the index of its first sample
// in the stream read since the pipe was opened; otherwise out is silence, the result -1, and the
// bytes gathered wait for the next tick, so the stream stays aligned. A writer that ends inside
// a frame leaves that partial frame dropped, so that the next writer starts on a frame boundary.
long read_capture_pipe(capture_pipe& pipe, uint8_t (&out)[PIPE_FRAME_BYTES]);
void close_capture_pipe(capture_pipe& pipe);

// Remembers the playback pipe at path (created as a FIFO when missing); it is opened whenever
// a reader is there. An empty path configures no pipe. 1, or 0 with a message.
int open_playback_pipe(playback_pipe& pipe, const char* path);
// Hands one frame (768 little-endian samples) to the reader, whole or not at all; without a
// reader, or when the reader has not made room for a whole frame, the frame is dropped and
// counted. A reader that attaches later gets the frames from then on.
void write_playback_pipe(playback_pipe& pipe, const uint8_t (&samples)[PIPE_FRAME_BYTES]);
void close_playback_pipe(playback_pipe& pipe);
