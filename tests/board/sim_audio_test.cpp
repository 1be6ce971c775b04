// The simulated board's audio device: capture clock, ring, FPGA ring registers, the
// bring-up gates, the playback WAV and the measurement logs.
#include "board_trace.h"

#include "board/ak5701.h"
#include "board/audio_dev.h"
#include "board/fpga.h"
#include "board/gpio.h"
#include "board/hw.h"
#include "board/max9850.h"
#include "log/log.h"
#include "sim/devices.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace {

using frame = std::array<uint8_t, PCM_FRAME_SIZE>;

int16_t source_sample(int i) {
    return static_cast<int16_t>(i * 13 - 9000);
}

std::string le16(unsigned v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string le32(unsigned v) {
    return le16(v & 0xFFFF) + le16(v >> 16);
}

// A mono 8000 Hz 16-bit WAV of count samples source_sample(0..count-1).
std::string wav_of(int count) {
    std::string data;
    for (int i = 0; i < count; ++i)
        data += le16(static_cast<uint16_t>(source_sample(i)));
    return "RIFF" + le32(36 + static_cast<unsigned>(data.size())) + "WAVEfmt " + le32(16) +
           le16(1) + le16(1) + le32(8000) + le32(16000) + le16(2) + le16(16) + "data" +
           le32(static_cast<unsigned>(data.size())) + data;
}

int16_t sample_at(const frame& f, size_t i) {
    return static_cast<int16_t>(f[PCM_SAMPLES_OFFSET + 2 * i] << 8 |
                                f[PCM_SAMPLES_OFFSET + 2 * i + 1]);
}
unsigned counter_of(const frame& f) {
    return static_cast<unsigned>(f[PCM_TAIL_OFFSET] << 8 | f[PCM_TAIL_OFFSET + 1]);
}
// " N\n": how a log line ends with the counter N. Appended piece by piece: GCC 12 at -O3
// warns falsely (-Wrestrict) on a literal prepended to a temporary std::string.
std::string line_end(unsigned n) {
    std::string end = " ";
    end += std::to_string(n);
    end += '\n';
    return end;
}
bool silent(const frame& f) {
    for (size_t i = 0; i < FRAME_SAMPLES; ++i)
        if (sample_at(f, i) != 0)
            return false;
    return true;
}

class SimAudio : public ::testing::Test {
  protected:
    void use_board(const std::string& conf) {
        make_traced_board(b, conf);
        log_to_screen();
        map_fpga_banks();
    }
    void open_device() {
        fd = hw_open(AUDIO_DEVICE_PATH, O_RDWR);
        ASSERT_GE(fd, 0);
    }
    // The next captured frame, waiting for the clock; false when none comes.
    bool next_frame(frame& f) {
        return wait_for([&] {
            return hw_ioctl(fd, static_cast<unsigned long>(audio_request::read_frame), f.data()) ==
                   0;
        });
    }
    // The ADC programmed for 8000 Hz, quietly.
    void program_adc() {
        testing::internal::CaptureStdout();
        init_ak5701(1, 8000, 1);
        testing::internal::GetCapturedStdout();
    }
    void TearDown() override {
        if (fd >= 0)
            hw_close(fd);
    }
    board_dir b;
    int fd = -1;
};

TEST_F(SimAudio, GateFollowsTheBoardsBringUpRule) {
    struct board_case {
        const char* conf;
        int line;      // GPIO line that runs the codec, or -1 for the control bit
        int wrongLine; // a line that does not
    };
    const board_case cases[] = {
        {"variant=0x2D54\nfpga_version=0x0101\n", 11, 6},
        {"variant=0x2D52\nfpga_version=0x0101\n", 6, 11},
        {"variant=0x2D54\nfpga_version=0xFFFF\n", 11, 6}, // negative version: GPIO
        {"variant=0x2D54\nfpga_version=0x0102\n", -1, 11},
        {"variant=0x2D52\nfpga_version=0x0300\n", -1, 6},
    };
    for (const board_case& c : cases) {
        board_dir one;
        make_traced_board(one, c.conf);
        log_to_screen();
        map_fpga_banks();
        gpio_set(c.wrongLine, 1);
        fpga_write16(fpga_addr(fpga_reg::control), c.line < 0 ? 0 : FPGA_CONTROL_CODEC_RUN);
        program_adc();
        EXPECT_EQ(sim_capture_enabled(), 0) << c.conf;
        if (c.line >= 0)
            gpio_set(c.line, 1);
        else
            fpga_write16(fpga_addr(fpga_reg::control), FPGA_CONTROL_CODEC_RUN);
        EXPECT_EQ(sim_capture_enabled(), 1) << c.conf;
        // An ADC left at another rate, or powered down, hears nothing.
        ak5701_write(1, 0x15, 0x22);
        EXPECT_EQ(sim_capture_enabled(), 0) << c.conf;
        ak5701_write(1, 0x15, 0x20);
        ak5701_write(1, 0x10, 0x04);
        EXPECT_EQ(sim_capture_enabled(), 0) << c.conf;
        ak5701_write(1, 0x10, 0x07);
        EXPECT_EQ(sim_capture_enabled(), 1) << c.conf;
    }
}

TEST_F(SimAudio, CaptureCarriesTheSourceOnlyAfterBringUp) {
    use_board("variant=0x2D54\nfpga_version=0x0101\nframe_us=5000\ncapture=mic.wav\n");
    b.write("/sim/mic.wav", wav_of(2000));
    b.configure("trace=trace.log\nvariant=0x2D54\nfpga_version=0x0101\nframe_us=5000\n"
                "capture=mic.wav\n");
    open_device();
    frame f{};
    ASSERT_TRUE(next_frame(f));
    EXPECT_TRUE(silent(f));
    EXPECT_EQ(f[0], 0x00);
    EXPECT_EQ(f[1], 0x01);
    const unsigned first = counter_of(f);

    program_adc();
    gpio_set(11, 1);
    // Frames captured before the codec ran are silent; the source starts at its beginning.
    unsigned last = first;
    do {
        ASSERT_TRUE(next_frame(f));
        EXPECT_EQ(counter_of(f), static_cast<uint16_t>(last + 1)) << "frames in order, none lost";
        last = counter_of(f);
    } while (silent(f));
    for (size_t i = 0; i < FRAME_SAMPLES; ++i)
        ASSERT_EQ(sample_at(f, i), source_sample(static_cast<int>(i))) << i;
    ASSERT_TRUE(next_frame(f));
    EXPECT_EQ(sample_at(f, 0), source_sample(768));
    EXPECT_EQ(sample_at(f, 767), source_sample(1535));
    ASSERT_TRUE(next_frame(f));
    EXPECT_EQ(sample_at(f, 463), source_sample(1999));
    EXPECT_EQ(sample_at(f, 464), 0); // the source has ended
    ASSERT_TRUE(next_frame(f));
    EXPECT_TRUE(silent(f));

    // Drained: the ring registers agree once the clock stands still.
    while (hw_ioctl(fd, static_cast<unsigned long>(audio_request::read_frame), f.data()) == 0) {
    }
    hw_close(fd);
    fd = -1;
    const uint16_t captured = fpga_read16(fpga_addr(fpga_reg::ring_first));
    const uint16_t taken = fpga_read16(fpga_addr(fpga_reg::ring_second));
    const uint8_t pending = fpga_read8(fpga_addr(fpga_reg::pending));
    EXPECT_EQ(static_cast<uint16_t>(captured - taken), pending);
    EXPECT_LE(pending, 1);
    EXPECT_GT(captured, last);
}

TEST_F(SimAudio, LoopedSourceWrapsAndTheLogTellsEachEvent) {
    use_board("");
    b.write("/sim/mic.wav", wav_of(1000));
    b.configure("trace=trace.log\nvariant=0x2D54\nfpga_version=0x0102\nframe_us=5000\n"
                "capture=mic.wav\ncapture_loop=1\ncapture_log=cap.log\n");
    map_fpga_banks();
    program_adc();
    fpga_write16(fpga_addr(fpga_reg::control), FPGA_CONTROL_CODEC_RUN);
    open_device();
    frame f{};
    ASSERT_TRUE(next_frame(f));
    const unsigned c0 = counter_of(f);
    EXPECT_EQ(sample_at(f, 0), source_sample(0));
    ASSERT_TRUE(next_frame(f));
    EXPECT_EQ(sample_at(f, 231), source_sample(999));
    EXPECT_EQ(sample_at(f, 232), source_sample(0));
    EXPECT_EQ(sample_at(f, 767), source_sample(535));
    hw_close(fd);
    fd = -1;

    std::istringstream log(b.read("/sim/cap.log"));
    std::string line;
    int caps = 0;
    int reads = 0;
    const long long now = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    while (std::getline(log, line)) {
        std::istringstream fields(line);
        std::string kind;
        long long us = 0;
        unsigned n = 0;
        long start = -2;
        fields >> kind >> us >> n;
        EXPECT_TRUE(kind == "cap" || kind == "read") << kind;
        if (kind == "cap") {
            ++caps;
            // Each captured frame names the source sample it begins with.
            ASSERT_TRUE(fields >> start) << line;
            if (n >= c0) {
                EXPECT_EQ(start, static_cast<long>((n - c0) * 768 % 1000)) << line;
            }
        }
        if (kind == "read") {
            EXPECT_EQ(n, c0 + static_cast<unsigned>(reads++));
        }
        // Wall-clock time, comparable between processes (not a duration check).
        EXPECT_LT(std::llabs(now - us), 3600LL * 1000000) << us;
    }
    EXPECT_GE(caps, 2);
    EXPECT_EQ(reads, 2);
}

TEST_F(SimAudio, FullRingDropsItsOldestFrame) {
    use_board("");
    b.configure("trace=trace.log\nframe_us=300\ncapture_log=cap.log\n");
    map_fpga_banks();
    open_device();
    ASSERT_TRUE(wait_for([&] { return fpga_read8(fpga_addr(fpga_reg::pending)) == 64; }));
    ASSERT_TRUE(
        wait_for([&] { return b.read("/sim/cap.log").find("drop ") != std::string::npos; }));
    frame f{};
    ASSERT_EQ(hw_ioctl(fd, static_cast<unsigned long>(audio_request::read_frame), f.data()), 0);
    const unsigned c = counter_of(f);
    hw_close(fd);
    fd = -1;

    // The frame handed out is the oldest kept: the one before it was dropped, it was not.
    const std::string log = b.read("/sim/cap.log");
    const std::string readLine = line_end(c);
    std::size_t readAt = log.find("read ");
    ASSERT_NE(readAt, std::string::npos);
    EXPECT_EQ(log.compare(log.find('\n', readAt) - readLine.size() + 1, readLine.size(), readLine),
              0);
    const std::string before = log.substr(0, readAt);
    EXPECT_NE(before.find(line_end(c - 1)), std::string::npos);
    std::istringstream in(before);
    std::string kind;
    long long us = 0;
    unsigned n = 0;
    while (in >> kind >> us >> n)
        if (kind == "drop") {
            EXPECT_LT(n, c);
        }
    EXPECT_GE(c, 1u); // at least one frame was dropped before it
}

TEST_F(SimAudio, PlaybackIsAValidWavAfterEveryFrameAndMutedUntilTheDacRuns) {
    use_board("");
    b.configure("trace=trace.log\nvariant=0x2D54\nfpga_version=0x0102\nplayback=out.wav\n"
                "playback_log=play.log\n");
    open_device();
    EXPECT_EQ(b.read("/sim/out.wav").size(), 44u);

    frame f{};
    for (size_t i = 0; i < FRAME_SAMPLES; ++i) {
        f[PCM_SAMPLES_OFFSET + 2 * i] = static_cast<uint8_t>(0x80 | (i >> 8));
        f[PCM_SAMPLES_OFFSET + 2 * i + 1] = static_cast<uint8_t>(i);
    }
    f[PCM_TAIL_OFFSET] = 0x01;
    f[PCM_TAIL_OFFSET + 1] = 0x07;
    auto play = [&] {
        return hw_ioctl(fd, static_cast<unsigned long>(audio_request::write_frame), f.data());
    };
    auto check_wav = [&](size_t frames) {
        const std::string w = b.read("/sim/out.wav");
        const unsigned data = static_cast<unsigned>(frames * 2 * FRAME_SAMPLES);
        ASSERT_EQ(w.size(), 44u + data);
        EXPECT_EQ(w.substr(0, 4), "RIFF");
        EXPECT_EQ(w.substr(4, 4), le32(36 + data));
        EXPECT_EQ(w.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(w.substr(20, 16),
                  le16(1) + le16(1) + le32(8000) + le32(16000) + le16(2) + le16(16));
        EXPECT_EQ(w.substr(36, 8), "data" + le32(data));
    };
    EXPECT_EQ(play(), 0);
    check_wav(1);
    EXPECT_EQ(b.read("/sim/out.wav").substr(44), std::string(1536, '\0')); // muted

    // The DAC at the wrong address stays off.
    testing::internal::CaptureStdout();
    init_max9850(0x22, 8000);
    f[PCM_TAIL_OFFSET + 1] = 0x08;
    EXPECT_EQ(play(), 0);
    init_max9850(0x20, 8000);
    testing::internal::GetCapturedStdout();
    f[PCM_TAIL_OFFSET + 1] = 0x09;
    EXPECT_EQ(play(), 0);
    check_wav(3);
    const std::string w = b.read("/sim/out.wav");
    EXPECT_EQ(w.substr(44 + 1536, 1536), std::string(1536, '\0'));
    // Little-endian in the WAV: sample 1 is 0x8001.
    EXPECT_EQ(static_cast<uint8_t>(w[44 + 3072 + 2]), 0x01);
    EXPECT_EQ(static_cast<uint8_t>(w[44 + 3072 + 3]), 0x80);

    std::istringstream log(b.read("/sim/play.log"));
    std::vector<std::pair<unsigned, int>> events;
    std::string kind;
    long long us = 0;
    unsigned n = 0;
    int muted = 0;
    while (log >> kind >> us >> n >> muted) {
        EXPECT_EQ(kind, "play");
        events.emplace_back(n, muted);
    }
    EXPECT_EQ(events, (std::vector<std::pair<unsigned, int>>{{0x107, 1}, {0x108, 1}, {0x109, 0}}));
}

} // namespace
