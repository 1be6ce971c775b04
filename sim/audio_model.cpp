// The audio data device /dev/codec_audioBi: a capture clock feeding a bounded frame ring,
// and a playback sink.
//
// Capture: while the device is open a clock thread captures one frame every frame_us
// (absolute deadlines, so the pace does not drift) and pushes it into a ring of
// RING_FRAMES; a full ring drops its oldest frame. Each frame carries 768 samples of the
// capture WAV once the codec is brought up (silence before that, without the source
// advancing, and after the source ends unless capture_loop is set). The clock keeps the
// FPGA's ring registers in step: 0x2708 counts captured frames, 0x270A the frames taken out
// (read or dropped), 0x270D holds the number waiting.
//
// A captured frame, as request 0x02 hands it out:
//   bytes 0..3       head 0x00 0x01 0x00 0x00 (channel 1)
//   bytes 4..1539    768 samples, signed 16-bit big-endian
//   bytes 1540..1541 capture counter, big-endian, +1 per captured frame (dropped ones too)
//   bytes 1542..1543 0x00 0x00
// so a far side can count lost, repeated and reordered frames.
//
// Playback: request 0x01 appends the frame's samples to the playback WAV (silence while the
// DAC is not powered up: muted), rewriting the WAV's sizes after every frame.
//
// Measurement logs (board.conf capture_log / playback_log), one line per event with
// CLOCK_REALTIME in microseconds: "cap T N START", "drop T N", "read T N", "play T N MUTED".
// START is the index of the source sample the captured frame begins with, -1 for silence, so
// that a far side can compare what it played with the exact source of every frame.
//
// Live audio (board.conf capture_pipe / playback_pipe, audio_pipe.cpp): a capture pipe takes
// the capture WAV's place and is read at every tick (START then counts the samples read from
// the pipe); a playback pipe gets every played frame.
#include "board/audio_dev.h"
#include "sim/audio_pipe.h"
#include "sim/devices.h"
#include "sim/sim.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <time.h>

namespace {

constexpr int RING_FRAMES = 64;
constexpr uint32_t REG_CAPTURE_INDEX = 0x2708;
constexpr uint32_t REG_READ_INDEX = 0x270A;
constexpr uint32_t REG_PENDING = 0x270D;
constexpr uint8_t CAPTURE_HEAD[FRAME_HEAD_SIZE] = {0x00, 0x01, 0x00, 0x00};
constexpr uint32_t WAV_RATE = 8000;
constexpr size_t WAV_HEADER_SIZE = 44;
constexpr size_t SAMPLE_BYTES = 2 * FRAME_SAMPLES;

using frame_bytes = uint8_t[PCM_FRAME_SIZE];

// --- capture source -------------------------------------------------------------------

struct wav_source {
    FILE* file = nullptr;
    long dataStart = 0;
    uint32_t dataBytes = 0;
    uint32_t position = 0; // bytes of data already taken
    int loop = 0;
};

uint32_t le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Finds the data of a mono 8000 Hz 16-bit PCM WAV; 0 with a note for anything else.
int open_source(wav_source& src, const char* path, int loop) {
    src = wav_source{};
    if (path[0] == '\0')
        return 0;
    FILE* f = std::fopen(path, "rbe");
    uint8_t riff[12];
    if (f == nullptr || std::fread(riff, 1, 12, f) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        std::fprintf(stderr, "sim: capture %s: not a readable WAV file, capturing silence\n", path);
        if (f != nullptr)
            std::fclose(f);
        return 0;
    }
    bool formatOk = false;
    uint8_t chunk[8];
    while (std::fread(chunk, 1, 8, f) == 8) {
        const uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            uint8_t fmt[16];
            if (std::fread(fmt, 1, 16, f) != 16)
                break;
            formatOk = le16(fmt) == 1 && le16(fmt + 2) == 1 && le32(fmt + 4) == WAV_RATE &&
                       le16(fmt + 14) == 16;
            if (std::fseek(f, static_cast<long>(size - 16 + (size & 1)), SEEK_CUR) != 0)
                break;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!formatOk)
                break;
            src.file = f;
            src.dataStart = std::ftell(f);
            src.dataBytes = size & ~1u;
            src.loop = loop;
            return 1;
        } else if (std::fseek(f, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
            break;
        }
    }
    std::fprintf(stderr, "sim: capture %s: not a mono 8000 Hz 16-bit PCM WAV, capturing silence\n",
                 path);
    std::fclose(f);
    return 0;
}

// Fills count bytes of little-endian samples from the source; silence past its end.
void take_source(wav_source& src, uint8_t* out, size_t count) {
    std::memset(out, 0, count);
    size_t done = 0;
    while (done < count && src.file != nullptr && src.dataBytes > 0) {
        if (src.position >= src.dataBytes) {
            if (!src.loop)
                return;
            src.position = 0;
        }
        size_t want = count - done;
        if (want > src.dataBytes - src.position)
            want = src.dataBytes - src.position;
        if (std::fseek(src.file, src.dataStart + static_cast<long>(src.position), SEEK_SET) != 0)
            return;
        const size_t got = std::fread(out + done, 1, want, src.file);
        if (got == 0)
            return;
        done += got;
        src.position += static_cast<uint32_t>(got);
    }
}

// --- device state ---------------------------------------------------------------------

// The clock thread and what stops it are plain POSIX objects that nothing tears down at exit:
// a process that ends with exit() while the device is open ends as it does on the board,
// the clock running on until the process is gone. (A joinable std::thread destroyed by
// exit() would end the process with std::terminate instead.)
std::mutex openMutex; // open count, start and stop of the clock
int openCount = 0;
pthread_t clockThread;
bool clockRunning = false;

struct clock_start {
    unsigned frameUs;
    wav_source src;
};
clock_start clockStart; // handed to the clock thread, written before it starts

std::mutex ringMutex; // ring, counters, FPGA ring registers, capture log
pthread_cond_t stopSignal = PTHREAD_COND_INITIALIZER; // waited on with ringMutex
bool stopping = false;
frame_bytes ring[RING_FRAMES];
int ringHead = 0;
int ringCount = 0;
uint16_t captureCounter = 0; // counter of the next captured frame
uint16_t capturedTotal = 0;  // register 0x2708
uint16_t takenTotal = 0;     // register 0x270A
FILE* captureLog = nullptr;
capture_pipe micPipe; // used by the clock thread only while it runs

std::atomic<bool> failReads{false}; // test hooks
std::atomic<bool> failWrites{false};

std::mutex playMutex; // playback sink and its log
FILE* playbackFile = nullptr;
uint32_t playbackBytes = 0;
FILE* playbackLog = nullptr;
playback_pipe speakerPipe;

long long realtime_us() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void log_event(FILE* log, const char* what, unsigned counter) {
    if (log == nullptr)
        return;
    std::fprintf(log, "%s %lld %u\n", what, realtime_us(), counter);
    std::fflush(log);
}

FILE* open_log(const char* path) {
    if (path[0] == '\0')
        return nullptr;
    FILE* f = std::fopen(path, "ae");
    if (f == nullptr)
        std::fprintf(stderr, "sim: log %s cannot be written: %s\n", path, std::strerror(errno));
    return f;
}

void publish_ring_registers() {
    sim_fpga_set16(REG_CAPTURE_INDEX, capturedTotal);
    sim_fpga_set16(REG_READ_INDEX, takenTotal);
    sim_fpga_set8(REG_PENDING, static_cast<uint8_t>(ringCount));
}

// The source sample that the next frame taken from src begins with, or -1 for silence.
long next_source_sample(const wav_source& src) {
    if (src.file == nullptr || src.dataBytes < 2)
        return -1;
    if (src.position >= src.dataBytes)
        return src.loop ? 0 : -1;
    return static_cast<long>(src.position / 2);
}

void capture_one(wav_source& src) {
    uint8_t samples[SAMPLE_BYTES];
    long start = -1;
    if (micPipe.path[0] != '\0') {
        // The stream moves on with every tick; a codec that does not run hears none of it.
        start = read_capture_pipe(micPipe, samples);
        if (sim_capture_enabled() != 1) {
            std::memset(samples, 0, sizeof samples);
            start = -1;
        }
    } else if (sim_capture_enabled() == 1) {
        start = next_source_sample(src);
        take_source(src, samples, sizeof samples);
    } else {
        std::memset(samples, 0, sizeof samples);
    }

    std::lock_guard<std::mutex> hold(ringMutex);
    if (ringCount == RING_FRAMES) {
        const uint8_t* old = ring[ringHead];
        log_event(captureLog, "drop",
                  static_cast<unsigned>(old[PCM_TAIL_OFFSET] << 8 | old[PCM_TAIL_OFFSET + 1]));
        ringHead = (ringHead + 1) % RING_FRAMES;
        --ringCount;
        ++takenTotal;
    }
    uint8_t* f = ring[(ringHead + ringCount) % RING_FRAMES];
    std::memcpy(f, CAPTURE_HEAD, sizeof CAPTURE_HEAD);
    for (size_t i = 0; i < FRAME_SAMPLES; ++i) {
        // WAV samples are little-endian, the device's big-endian.
        f[PCM_SAMPLES_OFFSET + 2 * i] = samples[2 * i + 1];
        f[PCM_SAMPLES_OFFSET + 2 * i + 1] = samples[2 * i];
    }
    f[PCM_TAIL_OFFSET] = static_cast<uint8_t>(captureCounter >> 8);
    f[PCM_TAIL_OFFSET + 1] = static_cast<uint8_t>(captureCounter);
    f[PCM_TAIL_OFFSET + 2] = 0;
    f[PCM_TAIL_OFFSET + 3] = 0;
    ++ringCount;
    ++capturedTotal;
    if (captureLog != nullptr) {
        std::fprintf(captureLog, "cap %lld %u %ld\n", realtime_us(), captureCounter, start);
        std::fflush(captureLog);
    }
    ++captureCounter;
    publish_ring_registers();
}

// Waits until the absolute monotonic deadline or a stop; true when stopped.
bool wait_stop_until(const timespec& deadline) {
    std::lock_guard<std::mutex> hold(ringMutex);
    while (!stopping)
        if (pthread_cond_clockwait(&stopSignal, ringMutex.native_handle(), CLOCK_MONOTONIC,
                                   &deadline) == ETIMEDOUT)
            return stopping;
    return true;
}

void* capture_clock(void*) {
    pthread_setname_np(pthread_self(), "sim-clock");
    const long frameNs = static_cast<long>(clockStart.frameUs) * 1000;
    wav_source src = clockStart.src;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    for (;;) {
        deadline.tv_sec += frameNs / 1000000000;
        deadline.tv_nsec += frameNs % 1000000000;
        if (deadline.tv_nsec >= 1000000000) {
            deadline.tv_nsec -= 1000000000;
            ++deadline.tv_sec;
        }
        if (wait_stop_until(deadline))
            break;
        capture_one(src);
    }
    if (src.file != nullptr)
        std::fclose(src.file);
    return nullptr;
}

void write_wav_header() {
    uint8_t h[WAV_HEADER_SIZE];
    std::memcpy(h, "RIFF", 4);
    put_le32(h + 4, 36 + playbackBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put_le32(h + 16, 16);
    put_le16(h + 20, 1); // PCM
    put_le16(h + 22, 1); // mono
    put_le32(h + 24, WAV_RATE);
    put_le32(h + 28, WAV_RATE * 2);
    put_le16(h + 32, 2);
    put_le16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put_le32(h + 40, playbackBytes);
    std::fseek(playbackFile, 0, SEEK_SET);
    std::fwrite(h, 1, sizeof h, playbackFile);
}

void start_device() {
    const sim_board_conf& c = sim_conf();
    wav_source src;
    open_source(src, c.capture, c.captureLoop);
    open_capture_pipe(micPipe, c.capturePipe);
    {
        std::lock_guard<std::mutex> hold(ringMutex);
        stopping = false;
        ringHead = 0;
        ringCount = 0;
        captureCounter = 0;
        capturedTotal = 0;
        takenTotal = 0;
        captureLog = open_log(c.captureLog);
        publish_ring_registers();
    }
    {
        std::lock_guard<std::mutex> hold(playMutex);
        playbackBytes = 0;
        playbackLog = open_log(c.playbackLog);
        playbackFile = c.playback[0] != '\0' ? std::fopen(c.playback, "w+be") : nullptr;
        if (c.playback[0] != '\0' && playbackFile == nullptr)
            std::fprintf(stderr, "sim: playback %s cannot be written: %s\n", c.playback,
                         std::strerror(errno));
        if (playbackFile != nullptr) {
            write_wav_header();
            std::fflush(playbackFile);
        }
        open_playback_pipe(speakerPipe, c.playbackPipe);
    }
    clockStart = clock_start{c.frameUs, src};
    clockRunning = pthread_create(&clockThread, nullptr, capture_clock, nullptr) == 0;
    if (!clockRunning) {
        std::fprintf(stderr, "sim: the capture clock cannot be started\n");
        if (src.file != nullptr)
            std::fclose(src.file);
    }
}

void stop_device() {
    {
        std::lock_guard<std::mutex> hold(ringMutex);
        stopping = true;
    }
    pthread_cond_broadcast(&stopSignal);
    if (clockRunning)
        pthread_join(clockThread, nullptr);
    clockRunning = false;
    {
        std::lock_guard<std::mutex> hold(ringMutex);
        if (captureLog != nullptr)
            std::fclose(captureLog);
        captureLog = nullptr;
    }
    close_capture_pipe(micPipe);
    std::lock_guard<std::mutex> hold(playMutex);
    close_playback_pipe(speakerPipe);
    if (playbackFile != nullptr)
        std::fclose(playbackFile);
    if (playbackLog != nullptr)
        std::fclose(playbackLog);
    playbackFile = nullptr;
    playbackLog = nullptr;
}

void audio_opened(int) {
    std::lock_guard<std::mutex> hold(openMutex);
    if (openCount++ == 0)
        start_device();
}

void audio_closed(int) {
    std::lock_guard<std::mutex> hold(openMutex);
    if (openCount > 0 && --openCount == 0)
        stop_device();
}

int read_frame(uint8_t* out) {
    if (failReads.load()) {
        errno = EIO;
        return -1;
    }
    std::lock_guard<std::mutex> hold(ringMutex);
    if (ringCount == 0) {
        errno = EAGAIN;
        return -1;
    }
    const uint8_t* f = ring[ringHead];
    std::memcpy(out, f, PCM_FRAME_SIZE);
    ringHead = (ringHead + 1) % RING_FRAMES;
    --ringCount;
    ++takenTotal;
    log_event(captureLog, "read",
              static_cast<unsigned>(f[PCM_TAIL_OFFSET] << 8 | f[PCM_TAIL_OFFSET + 1]));
    publish_ring_registers();
    return 0;
}

int play_frame(const uint8_t* in) {
    if (failWrites.load()) {
        errno = EIO;
        return -1;
    }
    const int muted = sim_playback_enabled() == 1 ? 0 : 1;
    uint8_t samples[SAMPLE_BYTES] = {};
    if (!muted)
        for (size_t i = 0; i < FRAME_SAMPLES; ++i) {
            samples[2 * i] = in[PCM_SAMPLES_OFFSET + 2 * i + 1];
            samples[2 * i + 1] = in[PCM_SAMPLES_OFFSET + 2 * i];
        }
    const unsigned counter =
        static_cast<unsigned>(in[PCM_TAIL_OFFSET] << 8 | in[PCM_TAIL_OFFSET + 1]);
    std::lock_guard<std::mutex> hold(playMutex);
    if (playbackFile != nullptr) {
        std::fseek(playbackFile, static_cast<long>(WAV_HEADER_SIZE + playbackBytes), SEEK_SET);
        if (std::fwrite(samples, 1, sizeof samples, playbackFile) == sizeof samples)
            playbackBytes += static_cast<uint32_t>(sizeof samples);
        write_wav_header();
        std::fflush(playbackFile);
    }
    write_playback_pipe(speakerPipe, samples);
    if (playbackLog != nullptr) {
        std::fprintf(playbackLog, "play %lld %u %d\n", realtime_us(), counter, muted);
        std::fflush(playbackLog);
    }
    return 0;
}

int audio_ioctl(int, unsigned long request, unsigned long arg) {
    auto* frame = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(arg));
    switch (static_cast<audio_request>(request)) {
    case audio_request::read_frame:
    case audio_request::write_frame:
        // Frame requests come at the frame rate and are left out of the trace.
        if (frame == nullptr) {
            errno = EFAULT;
            return -1;
        }
        return request == static_cast<unsigned long>(audio_request::read_frame) ? read_frame(frame)
                                                                                : play_frame(frame);
    case audio_request::control_b:
    case audio_request::control_c:
    case audio_request::control_d:
        sim_trace(AUDIO_DEVICE_PATH, request, "arg=0x%lx", arg);
        return 0;
    }
    sim_trace(AUDIO_DEVICE_PATH, request, "arg=0x%lx", arg);
    errno = ENOTTY;
    return -1;
}

} // namespace

void sim_audio_fail_reads(bool fail) {
    failReads.store(fail);
}

void sim_audio_fail_writes(bool fail) {
    failWrites.store(fail);
}

void sim_audio_reset() {
    failReads.store(false);
    failWrites.store(false);
}

const sim_device sim_dev_audio = {AUDIO_DEVICE_PATH, audio_ioctl, audio_opened, audio_closed};
