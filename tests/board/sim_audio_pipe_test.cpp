// Live audio pipes of the simulated board: stream alignment across partial frames and
// writers, no wait for a missing writer or reader, whole frames only to a late or slow reader.
#include "sim/audio_pipe.h"

#include "support/board_dir.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

using stream_frame = uint8_t[PIPE_FRAME_BYTES];

// Byte j of stream frame k: a pattern in which every frame and every byte offset differ.
uint8_t stream_byte(int k, size_t j) {
    return static_cast<uint8_t>(j * 7 + static_cast<size_t>(k) * 31 + (j >> 8));
}
std::string stream_bytes(int k) {
    std::string s(PIPE_FRAME_BYTES, '\0');
    for (size_t j = 0; j < PIPE_FRAME_BYTES; ++j)
        s[j] = static_cast<char>(stream_byte(k, j));
    return s;
}
bool is_frame(const stream_frame& f, int k) {
    for (size_t j = 0; j < PIPE_FRAME_BYTES; ++j)
        if (f[j] != stream_byte(k, j))
            return false;
    return true;
}
bool is_silence(const stream_frame& f) {
    for (uint8_t v : f)
        if (v != 0)
            return false;
    return true;
}
void put(int fd, const std::string& bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

class SimAudioPipe : public ::testing::Test {
  protected:
    std::string fifo(const char* name) { return b.path(std::string("/sim/") + name); }
    board_dir b;
};

TEST_F(SimAudioPipe, CaptureKeepsTheStreamAlignedAcrossPartialFramesAndWriters) {
    capture_pipe mic;
    const std::string path = fifo("mic.fifo");
    ASSERT_EQ(open_capture_pipe(mic, path.c_str()), 1); // made, and no writer waited for
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    stream_frame f;
    EXPECT_EQ(read_capture_pipe(mic, f), -1); // no writer: silence, nothing counted short
    EXPECT_TRUE(is_silence(f));
    EXPECT_EQ(mic.shortTicks, 0u);

    const std::string s0 = stream_bytes(0), s1 = stream_bytes(1), s2 = stream_bytes(2);
    int w = open(path.c_str(), O_WRONLY);
    ASSERT_GE(w, 0);
    // Ticks with the bytes written before each: a partial frame waits, an odd split is kept.
    struct tick {
        std::string written;
        long start; // -1: silence
        int frame;
    };
    const tick ticks[] = {
        {"", -1, 0},
        {s0.substr(0, 1000), -1, 0},
        {s0.substr(1000) + s1.substr(0, 1), 0, 0},
        {s1.substr(1, 700), -1, 0},
        {s1.substr(701) + s2, 768, 1},
        {"", 1536, 2},
        {"", -1, 0},
    };
    for (const tick& t : ticks) {
        put(w, t.written);
        const long start = read_capture_pipe(mic, f);
        EXPECT_EQ(start, t.start) << t.written.size();
        EXPECT_TRUE(t.start < 0 ? is_silence(f) : is_frame(f, t.frame)) << t.start;
    }
    EXPECT_EQ(mic.frames, 3u);
    EXPECT_EQ(mic.shortTicks, 4u);

    // A writer that ends inside a frame: its partial frame goes, the next writer's first
    // frame arrives whole.
    put(w, s0.substr(0, 101));
    close(w);
    EXPECT_EQ(read_capture_pipe(mic, f), -1);
    EXPECT_EQ(mic.partialBytesDropped, 101u);
    w = open(path.c_str(), O_WRONLY);
    ASSERT_GE(w, 0);
    put(w, s1);
    EXPECT_EQ(read_capture_pipe(mic, f), (3 * 1536 + 101) / 2);
    EXPECT_TRUE(is_frame(f, 1));

    // A writer that runs ahead is held back after a few frames, not seconds of them.
    ASSERT_EQ(fcntl(w, F_SETFL, O_NONBLOCK), 0);
    size_t accepted = 0;
    while (write(w, s2.data(), s2.size()) == static_cast<ssize_t>(s2.size()))
        accepted += s2.size();
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_LE(accepted, static_cast<size_t>(PIPE_BUFFER_BYTES));
    close(w);
    close_capture_pipe(mic);
}

TEST_F(SimAudioPipe, SomethingElseAtThePathIsLeftAlone) {
    b.write("/sim/mic.raw", "not a pipe");
    capture_pipe mic;
    testing::internal::CaptureStderr();
    EXPECT_EQ(open_capture_pipe(mic, fifo("mic.raw").c_str()), 0);
    stream_frame f;
    EXPECT_EQ(read_capture_pipe(mic, f), -1);
    EXPECT_TRUE(is_silence(f));
    playback_pipe speaker;
    EXPECT_EQ(open_playback_pipe(speaker, fifo("mic.raw").c_str()), 0);
    write_playback_pipe(speaker, f);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("mic.raw: not a named pipe"),
              std::string::npos);
    EXPECT_EQ(b.read("/sim/mic.raw"), "not a pipe");
}

TEST_F(SimAudioPipe, PlaybackDropsWithoutWaitingAndALateReaderGetsWholeFrames) {
    playback_pipe speaker;
    const std::string path = fifo("speaker.fifo");
    ASSERT_EQ(open_playback_pipe(speaker, path.c_str()), 1);
    stream_frame frames[3];
    for (int k = 0; k < 3; ++k)
        for (size_t j = 0; j < PIPE_FRAME_BYTES; ++j)
            frames[k][j] = stream_byte(k, j);
    testing::internal::CaptureStderr();
    write_playback_pipe(speaker, frames[0]); // no reader: dropped, nothing waits
    EXPECT_EQ(speaker.dropped, 1u);

    int r = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(r, 0);
    // A reader that does not read: frames go in whole until the pipe is full, then drop.
    int written = 0;
    for (int i = 0; i < 64; ++i)
        write_playback_pipe(speaker, frames[i % 3]);
    written = static_cast<int>(speaker.frames);
    EXPECT_GT(written, 0);
    EXPECT_LE(written * PIPE_FRAME_BYTES, static_cast<size_t>(PIPE_BUFFER_BYTES));
    EXPECT_EQ(speaker.dropped, 1u + 64u - static_cast<unsigned>(written));
    std::vector<uint8_t> got(PIPE_BUFFER_BYTES * 2);
    ssize_t n = read(r, got.data(), got.size());
    ASSERT_EQ(n, static_cast<ssize_t>(written * PIPE_FRAME_BYTES));
    for (int i = 0; i < written; ++i)
        EXPECT_TRUE(is_frame(*reinterpret_cast<stream_frame*>(&got[i * PIPE_FRAME_BYTES]), i % 3))
            << i;

    // The reader leaves: the bridge is not ended by SIGPIPE, and a new reader is served.
    close(r);
    write_playback_pipe(speaker, frames[1]);
    EXPECT_EQ(speaker.fd, -1);
    r = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(r, 0);
    write_playback_pipe(speaker, frames[2]);
    n = read(r, got.data(), got.size());
    ASSERT_EQ(n, static_cast<ssize_t>(PIPE_FRAME_BYTES));
    EXPECT_TRUE(is_frame(*reinterpret_cast<stream_frame*>(got.data()), 2));
    close(r);
    close_playback_pipe(speaker);
    const std::string notes = testing::internal::GetCapturedStderr();
    EXPECT_NE(notes.find("reader attached; 0 frames written, 1 dropped"), std::string::npos)
        << notes;
    EXPECT_NE(notes.find("reader gone"), std::string::npos) << notes;
}

} // namespace
