// The audio data device: the node created when missing, the open, and the frame and control
// requests as the driver receives them.
#include "board_trace.h"

#include "board/audio_dev.h"
#include "board/hw.h"
#include "log/log.h"

#include <cerrno>
#include <sys/stat.h>

namespace {

// Opens the device the way main does; what it logged.
std::string open_logged() {
    testing::internal::CaptureStdout();
    fd_audioDev = open_audio_device();
    return testing::internal::GetCapturedStdout();
}

TEST(AudioDevice, MissingNodeIsCreatedAsCharacterDevice247AndAFailedOpenReported) {
    board_dir b;
    make_traced_board(b);
    log_to_screen();
    const std::string init = "init Audio Device(/dev/codec_audioBi)....\r\n";
    const std::string make = "make device .../dev/codec_audioBi...\r\n";
    EXPECT_EQ(open_logged(), init);
    EXPECT_GE(fd_audioDev, 0);
    hw_close(fd_audioDev);
    EXPECT_TRUE(lines_with(b, "/dev/codec_audioBi mknod").empty());

    b.remove("/dev/codec_audioBi");
    mode_t old = umask(022);
    EXPECT_EQ(open_logged(), init + make);
    umask(old);
    EXPECT_GE(fd_audioDev, 0);
    hw_close(fd_audioDev);
    EXPECT_EQ(lines_with(b, "/dev/codec_audioBi mknod"),
              (std::vector<std::string>{"/dev/codec_audioBi mknod mode=0x21f8 dev=247:0"}));
    struct stat st {};
    ASSERT_EQ(stat(b.path("/dev/codec_audioBi").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u); // 0770 less the umask

    ASSERT_EQ(std::system(("rm -rf '" + b.path("/dev") + "'").c_str()), 0);
    EXPECT_EQ(open_logged(), init + make + "Error! open /dev/codec_audioBi\r\n");
    EXPECT_EQ(fd_audioDev, -1);
}

TEST(AudioDevice, FramesAndControlRequestsReachTheDriver) {
    board_dir b;
    make_traced_board(b, "frame_us=5000\nplayback=out.wav\n");
    log_to_screen();
    open_logged();
    ASSERT_GE(fd_audioDev, 0);
    audio_control(audio_request::control_d);
    audio_control(audio_request::control_b);
    audio_control(audio_request::control_c);
    EXPECT_EQ(lines_with(b, "/dev/codec_audioBi"),
              (std::vector<std::string>{"/dev/codec_audioBi 0xd arg=0x0",
                                        "/dev/codec_audioBi 0xb arg=0x0",
                                        "/dev/codec_audioBi 0xc arg=0x0"}));
    // Captured frames come whole, in order: the capture counter in tail bytes 1540..1541.
    pcm_frame f{};
    unsigned counters[2] = {};
    for (unsigned& c : counters) {
        ASSERT_TRUE(wait_for([&] { return audio_read_frame(f) == 0; }));
        c = static_cast<unsigned>(f[PCM_TAIL_OFFSET] << 8 | f[PCM_TAIL_OFFSET + 1]);
    }
    EXPECT_EQ(counters[1], (counters[0] + 1) & 0xFFFF);
    // A played frame reaches the sink whole (muted: the DAC was never set up).
    EXPECT_EQ(audio_write_frame(f), 0);
    EXPECT_EQ(b.read("/sim/out.wav").size(), 44u + 2 * FRAME_SAMPLES);
    hw_close(fd_audioDev);
    // Without a descriptor the requests fail; writing a frame still gives 0.
    fd_audioDev = -1;
    errno = 0;
    EXPECT_EQ(audio_read_frame(f), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(audio_write_frame(f), 0);
}

} // namespace
