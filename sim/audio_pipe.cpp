// Live audio through named pipes for the simulated audio device (see audio_pipe.h).
//
// Capture: the pipe is opened for reading without waiting, so the frame clock never stalls,
// whether a writer is there or not. Each tick reads at most the rest of one frame; a frame
// not yet complete is captured as silence and its bytes wait for the next tick. A writer
// that runs ahead (a file fed in) is held back by the pipe's small kernel buffer instead.
//
// Playback: the pipe is opened for writing only while a reader holds it open (a non-blocking
// open fails with ENXIO otherwise). A frame is written whole or not at all: frames are
// smaller than PIPE_BUF, so a non-blocking write either fits entirely or fails with EAGAIN.
// A reader that leaves makes the next write fail with EPIPE; SIGPIPE is held off around the
// write so that the bridge is not ended by it.
#include "sim/audio_pipe.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static_assert(PIPE_FRAME_BYTES <= PIPE_BUF, "a played frame must reach the reader whole");

namespace {

// The FIFO at path, made when missing. 1, or 0 with a message naming the key.
int ensure_fifo(const char* key, const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) {
        if (errno != ENOENT || mkfifo(path, 0666) != 0) {
            std::fprintf(stderr, "sim: %s %s cannot be made: %s\n", key, path,
                         std::strerror(errno));
            return 0;
        }
        return 1;
    }
    if (!S_ISFIFO(st.st_mode)) {
        std::fprintf(stderr, "sim: %s %s: not a named pipe\n", key, path);
        return 0;
    }
    return 1;
}

// A descriptor of the FIFO opened with flags, checked to be one; -1 otherwise.
int open_fifo(const char* path, int flags) {
    const int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode))) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    if (fd >= 0)
        (void)fcntl(fd, F_SETPIPE_SZ, PIPE_BUFFER_BYTES); // the default buffer only delays more
    return fd;
}

void copy_path(char (&out)[HW_PATH_SIZE], const char* path) {
    std::snprintf(out, sizeof out, "%s", path);
}

void note_writer(capture_pipe& pipe, int present) {
    if (present == pipe.writer)
        return;
    pipe.writer = present;
    if (present) {
        std::fprintf(stderr, "sim: capture_pipe %s: writer attached\n", pipe.path);
        return;
    }
    // The next writer starts a new stream: half a frame of the last one would misalign it.
    const std::size_t partial = pipe.have;
    pipe.partialBytesDropped += partial;
    pipe.have = 0;
    std::fprintf(stderr,
                 "sim: capture_pipe %s: writer gone; %llu frames taken, %llu ticks short of a "
                 "frame, %zu bytes of a partial frame dropped\n",
                 pipe.path, pipe.frames, pipe.shortTicks, partial);
}

void note_reader(playback_pipe& pipe, int present) {
    if (present == pipe.reader)
        return;
    pipe.reader = present;
    std::fprintf(stderr, "sim: playback_pipe %s: reader %s; %llu frames written, %llu dropped\n",
                 pipe.path, present ? "attached" : "gone", pipe.frames, pipe.dropped);
}

// Opens the playback pipe when a reader holds it open; 1 when it is open.
int attach_reader(playback_pipe& pipe) {
    if (pipe.fd < 0)
        pipe.fd = open_fifo(pipe.path, O_WRONLY);
    note_reader(pipe, pipe.fd >= 0 ? 1 : 0);
    return pipe.fd >= 0 ? 1 : 0;
}

// write() with SIGPIPE held off for this thread: a reader that has left gives EPIPE only.
ssize_t write_without_sigpipe(int fd, const void* data, std::size_t size) {
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    const ssize_t n = write(fd, data, size);
    const int error = errno;
    if (n < 0 && error == EPIPE && !alreadyPending) {
        const timespec none{};
        while (sigtimedwait(&pipeSignal, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return n;
}

} // namespace

int open_capture_pipe(capture_pipe& pipe, const char* path) {
    pipe = capture_pipe{};
    if (path[0] == '\0')
        return 1;
    copy_path(pipe.path, path);
    if (ensure_fifo("capture_pipe", path) != 1)
        return 0;
    pipe.fd = open_fifo(path, O_RDONLY);
    if (pipe.fd < 0) {
        std::fprintf(stderr, "sim: capture_pipe %s cannot be opened: %s\n", path,
                     std::strerror(errno));
        return 0;
    }
    return 1;
}

long read_capture_pipe(capture_pipe& pipe, uint8_t (&out)[PIPE_FRAME_BYTES]) {
    std::memset(out, 0, sizeof out);
    if (pipe.fd < 0)
        return -1;
    while (pipe.have < PIPE_FRAME_BYTES) {
        const ssize_t n = read(pipe.fd, pipe.pending + pipe.have, PIPE_FRAME_BYTES - pipe.have);
        if (n > 0) {
            pipe.have += static_cast<std::size_t>(n);
            pipe.bytesRead += static_cast<unsigned long long>(n);
            note_writer(pipe, 1);
            continue;
        }
        if (n == 0) { // no writer holds the pipe open, and it is empty
            note_writer(pipe, 0);
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            note_writer(pipe, 1);
        break;
    }
    if (pipe.have < PIPE_FRAME_BYTES) {
        if (pipe.writer)
            ++pipe.shortTicks;
        return -1;
    }
    std::memcpy(out, pipe.pending, sizeof out);
    pipe.have = 0;
    ++pipe.frames;
    // The stream index wraps on 32-bit systems after days; it only names frames in logs.
    return static_cast<long>(((pipe.bytesRead - PIPE_FRAME_BYTES) / PCM_SAMPLE_SIZE) & LONG_MAX);
}

void close_capture_pipe(capture_pipe& pipe) {
    if (pipe.fd >= 0)
        close(pipe.fd);
    pipe.fd = -1;
}

int open_playback_pipe(playback_pipe& pipe, const char* path) {
    pipe = playback_pipe{};
    if (path[0] == '\0')
        return 1;
    if (ensure_fifo("playback_pipe", path) != 1)
        return 0; // the path stays empty: nothing is written anywhere
    copy_path(pipe.path, path);
    pipe.fd = open_fifo(path, O_WRONLY);
    if (pipe.fd < 0 && errno != ENXIO) {
        std::fprintf(stderr, "sim: playback_pipe %s cannot be opened: %s\n", path,
                     std::strerror(errno));
        pipe.path[0] = '\0';
        return 0;
    }
    note_reader(pipe, pipe.fd >= 0 ? 1 : 0);
    return 1;
}

void write_playback_pipe(playback_pipe& pipe, const uint8_t (&samples)[PIPE_FRAME_BYTES]) {
    if (pipe.path[0] == '\0')
        return;
    if (attach_reader(pipe) != 1) {
        ++pipe.dropped;
        return;
    }
    const ssize_t n = write_without_sigpipe(pipe.fd, samples, sizeof samples);
    if (n == static_cast<ssize_t>(sizeof samples)) {
        ++pipe.frames;
        return;
    }
    ++pipe.dropped;
    if (n < 0 && errno == EAGAIN)
        return; // the reader has not taken enough yet
    close(pipe.fd);
    pipe.fd = -1;
    note_reader(pipe, 0);
}

void close_playback_pipe(playback_pipe& pipe) {
    if (pipe.fd >= 0)
        close(pipe.fd);
    pipe.fd = -1;
}
