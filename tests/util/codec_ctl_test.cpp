// Requests on /dev/codec: the 48-byte record as the driver receives it, the result, and a
// missing driver.
#include "drivers_board.h"

#include "util/codec_ctl.h"

namespace {

const std::string zeroWords(72, '0'); // bytes 0..35

class CodecCtl : public ::testing::Test {
  protected:
    void SetUp() override { use_driver_board(b); }
    board_dir b;
};

TEST_F(CodecCtl, SendPassesBothValuesAndTwoAsBigEndianWords) {
    EXPECT_EQ(codec_ctl_send(5, 7), 0);
    // Distinct bytes in every position show the order of each word.
    EXPECT_EQ(codec_ctl_send(0x01020304u, 0xA0B0C0D0u), 0);
    EXPECT_EQ(lines_with(b, "/dev/codec "),
              (std::vector<std::string>{
                  "/dev/codec 0x19 len=0x30 data=" + zeroWords + "000000050000000700000002",
                  "/dev/codec 0x19 len=0x30 data=" + zeroWords + "01020304a0b0c0d000000002",
              }));
}

TEST_F(CodecCtl, RequestPassesTheCallersNumberWithAnAllZeroRecord) {
    EXPECT_EQ(codec_ctl_request(0x1A), 0);
    EXPECT_EQ(codec_ctl_request(0xC0044305ul), 0);
    const std::string zeros(96, '0');
    EXPECT_EQ(lines_with(b, "/dev/codec "),
              (std::vector<std::string>{"/dev/codec 0x1a len=0x30 data=" + zeros,
                                        "/dev/codec 0xc0044305 len=0x30 data=" + zeros}));
}

TEST_F(CodecCtl, ResultIsTheCloseEvenWhenTheRequestFails) {
    sim_codec_fail_requests(true);
    EXPECT_EQ(codec_ctl_send(1, 2), 0);
    EXPECT_EQ(codec_ctl_request(3), 0);
    std::vector<std::string> got = lines_with(b, "/dev/codec ");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].substr(got[0].size() - 5), " fail");
    EXPECT_EQ(got[1].substr(got[1].size() - 5), " fail");
}

TEST_F(CodecCtl, MissingDriverIsLoggedAndGivesMinusOne) {
    b.remove("/dev/codec");
    testing::internal::CaptureStdout();
    EXPECT_EQ(codec_ctl_send(5, 7), -1);
    EXPECT_EQ(codec_ctl_request(0x19), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error! open /dev/codec\r\nError! open /dev/codec\r\n");
    EXPECT_TRUE(lines_with(b, "/dev/codec ").empty());
}

} // namespace
