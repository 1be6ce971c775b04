// The logger: time prefixes, rotation into one backup, message limits and screen mode.
#include "log/log.h"

#include "support/board_dir.h"

#include <regex>
#include <string>
#include <sys/stat.h>

namespace {

const std::string STAMP = R"(\[\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\] )";

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        log_to_file();
        ASSERT_EQ(log_set_path("/tmp/.print_obraBi"), 1);
        log_reset_line_start();
    }
    void TearDown() override { log_to_screen(); }

    std::string log() const { return board.read("/tmp/.print_obraBi"); }
    std::string bak() const { return board.read("/tmp/.print_obraBi.bak"); }
    void fill_log(size_t bytes) const {
        board.write("/tmp/.print_obraBi", std::string(bytes, 'x'));
    }

    board_dir board;
};

TEST_F(LoggerTest, PrefixesEveryLineStartAndContinuesUnterminatedFormats) {
    log_printf("a");
    log_printf("b%d\n", 1);
    log_printf("c\r");
    log_printf("d%s", "\n"); // the format, not the text, decides: no line end here
    log_printf("e\n");
    log_printf("%s", "");
    EXPECT_TRUE(std::regex_match(
        log(), std::regex("^" + STAMP + "ab1\n" + STAMP + "c\r" + STAMP + "d\ne\n" + STAMP + "$")))
        << log();
}

TEST_F(LoggerTest, ValuesAreWrittenUnchangedAndLongMessagesCut) {
    log_printf("%s\n", "10.0.0.1%n%s%%");
    std::string big(5000, 'a');
    log_printf("%s", big.c_str());
    std::string text = log();
    EXPECT_NE(text.find("10.0.0.1%n%s%%\n"), std::string::npos) << text;
    size_t start = text.find('a');
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(text.size() - start, 4094u);
}

TEST_F(LoggerTest, LogOfExactlyTheThresholdIsAppendedTo) {
    fill_log(8192);
    log_printf("next\n");
    EXPECT_FALSE(board.exists("/tmp/.print_obraBi.bak"));
    std::string text = log();
    EXPECT_EQ(text.substr(0, 8192), std::string(8192, 'x'));
    EXPECT_TRUE(std::regex_match(text.substr(8192), std::regex(STAMP + "next\n")));
}

TEST_F(LoggerTest, LogAboveTheThresholdIsRotatedFirst) {
    fill_log(8193);
    log_printf("fresh\n");
    EXPECT_EQ(bak(), std::string(8193, 'x'));
    EXPECT_TRUE(std::regex_match(log(), std::regex(STAMP + "fresh\n"))) << log();
}

TEST_F(LoggerTest, RotationInTheMiddleOfALineGivesNoPrefix) {
    log_printf("start ");
    fill_log(9000);
    log_printf("end\n");
    EXPECT_EQ(log(), "end\n");
}

TEST_F(LoggerTest, TwoRotationsKeepOnlyTheSecondLogAsBackup) {
    fill_log(8193);
    log_printf("first\n");
    std::string second(8200, 'y');
    board.write("/tmp/.print_obraBi", second);
    log_printf("second\n");
    EXPECT_EQ(bak(), second);
    EXPECT_TRUE(std::regex_match(log(), std::regex(STAMP + "second\n")));
}

TEST_F(LoggerTest, LogRemovedFromOutsideIsCreatedAgain) {
    log_printf("one\n");
    board.remove("/tmp/.print_obraBi");
    log_printf("two\n");
    EXPECT_TRUE(std::regex_match(log(), std::regex(STAMP + "two\n")));
}

TEST_F(LoggerTest, UnwritableLogOrBackupNeitherCrashesNorLosesTheMessage) {
    ASSERT_EQ(log_set_path("/no/such/dir/log"), 1);
    testing::internal::CaptureStderr();
    log_printf("kept %d\n", 7);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("kept 7\n"), std::string::npos);

    // A backup that cannot be written: the log is still bounded and takes the message.
    ASSERT_EQ(log_set_path("/tmp/.print_obraBi"), 1);
    ASSERT_EQ(mkdir(board.path("/tmp/.print_obraBi.bak").c_str(), 0755), 0);
    fill_log(8193);
    testing::internal::CaptureStderr();
    log_printf("after\n");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot be written"), std::string::npos);
    EXPECT_EQ(log().find('x'), std::string::npos);
    EXPECT_NE(log().find("after\n"), std::string::npos);
}

TEST_F(LoggerTest, PathLongerThan251CharactersIsRefused) {
    std::string longest = "/tmp/" + std::string(246, 'p');
    ASSERT_EQ(longest.size(), 251u);
    EXPECT_EQ(log_set_path(longest.c_str()), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(log_set_path((longest + "q").c_str()), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("refused"), std::string::npos);
    log_printf("still here\n"); // goes to the last accepted path
    EXPECT_NE(board.read(longest).find("still here\n"), std::string::npos);
}

TEST_F(LoggerTest, ScreenModeWritesPlainTextAndNoFile) {
    log_to_screen();
    testing::internal::CaptureStdout();
    log_printf("screen %s\n", "50%");
    log_printf("more");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "screen 50%\nmore");
    EXPECT_FALSE(board.exists("/tmp/.print_obraBi"));
}

TEST(TextRoutines, TrimLineEndRemovesOnlyLineEndsAndBlanks) {
    char a[] = "value \r\n \n";
    trim_line_end(a);
    EXPECT_STREQ(a, "value");
    char b[] = " \r\n  ";
    trim_line_end(b);
    EXPECT_STREQ(b, "");
    char c[] = "tab\t";
    trim_line_end(c);
    EXPECT_STREQ(c, "tab\t");
    char d[] = " lead";
    trim_line_end(d);
    EXPECT_STREQ(d, " lead");
}

TEST(TextRoutines, FileSizeIsStatSizeOrMinusOne) {
    board_dir board;
    board.write("/tmp/f", std::string(1234, 'z'));
    EXPECT_EQ(file_size(board.path("/tmp/f").c_str()), 1234);
    board.write("/tmp/empty", "");
    EXPECT_EQ(file_size(board.path("/tmp/empty").c_str()), 0);
    EXPECT_EQ(file_size(board.path("/tmp/none").c_str()), -1);
}

} // namespace
