// The audio data device: the node created when missing, the open, and the requests.
#include "board_trace.h"

#include "board/audio_dev.h"
#include "board/hw.h"
#include "log/log.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class AudioDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        make_traced_board(b);
        log_to_screen();
    }
    void TearDown() override {
        if (fd_audioDev >= 0)
            hw_close(fd_audioDev);
        fd_audioDev = -1;
    }
    board_dir b;
};

TEST_F(AudioDevice, PresentNodeIsOpenedAsItIs) {
    testing::internal::CaptureStdout();
    fd_audioDev = open_audio_device();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "init Audio Device(/dev/codec_audioBi)....\r\n");
    EXPECT_GE(fd_audioDev, 0);
    EXPECT_TRUE(lines_with(b, "/dev/codec_audioBi mknod").empty());
}

TEST_F(AudioDevice, MissingNodeIsCreatedAsCharacterDevice247) {
    b.remove("/dev/codec_audioBi");
    mode_t old = umask(022);
    testing::internal::CaptureStdout();
    fd_audioDev = open_audio_device();
    std::string out = testing::internal::GetCapturedStdout();
    umask(old);
    EXPECT_EQ(out, "init Audio Device(/dev/codec_audioBi)....\r\n"
                   "make device .../dev/codec_audioBi...\r\n");
    EXPECT_GE(fd_audioDev, 0);
    EXPECT_TRUE(b.exists("/dev/codec_audioBi"));
    EXPECT_EQ(lines_with(b, "/dev/codec_audioBi mknod"),
              (std::vector<std::string>{"/dev/codec_audioBi mknod mode=0x21f8 dev=247:0"}));
    struct stat st {};
    ASSERT_EQ(stat(b.path("/dev/codec_audioBi").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u); // 0770 less the umask
}

TEST_F(AudioDevice, NodeThatCannotBeCreatedIsReported) {
    ASSERT_EQ(std::system(("rm -rf '" + b.path("/dev") + "'").c_str()), 0);
    testing::internal::CaptureStdout();
    fd_audioDev = open_audio_device();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "init Audio Device(/dev/codec_audioBi)....\r\n"
              "make device .../dev/codec_audioBi...\r\n"
              "Error! open /dev/codec_audioBi\r\n");
    EXPECT_EQ(fd_audioDev, -1);
}

TEST_F(AudioDevice, ControlRequestsAreTracedAndFramesAreNot) {
    testing::internal::CaptureStdout();
    fd_audioDev = open_audio_device();
    testing::internal::GetCapturedStdout();
    ASSERT_GE(fd_audioDev, 0);
    audio_control(audio_request::control_d);
    audio_control(audio_request::control_b);
    audio_control(audio_request::control_c);

    uint8_t frame[PCM_FRAME_SIZE] = {};
    EXPECT_EQ(audio_write_frame(frame), 0);
    // Nothing captured yet at the default pace: the read fails with EAGAIN.
    errno = 0;
    EXPECT_EQ(audio_read_frame(frame), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(lines_with(b, "/dev/codec_audioBi"),
              (std::vector<std::string>{"/dev/codec_audioBi 0xd arg=0x0",
                                        "/dev/codec_audioBi 0xb arg=0x0",
                                        "/dev/codec_audioBi 0xc arg=0x0"}));
}

TEST_F(AudioDevice, WriteFrameReturnsZeroEvenWhenTheRequestFails) {
    fd_audioDev = -1;
    uint8_t frame[PCM_FRAME_SIZE] = {};
    EXPECT_EQ(audio_write_frame(frame), 0);
    EXPECT_EQ(audio_read_frame(frame), -1);
}

} // namespace
