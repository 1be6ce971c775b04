// The logger: time prefixes, rotation into one backup, message limits and failures.
#include "log/log.h"

#include "support/board_dir.h"

#include <regex>
#include <string>
#include <sys/stat.h>

namespace {

const std::string STAMP = R"(\[\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\] )";

class Logger : public ::testing::Test {
  protected:
    void SetUp() override {
        log_to_file();
        ASSERT_EQ(log_set_path("/tmp/.print_obraBi"), 1);
        log_reset_line_start();
    }
    void TearDown() override { log_to_screen(); }
    bool log_is(const std::string& re) const { return std::regex_match(log(), std::regex(re)); }
    std::string log() const { return board.read("/tmp/.print_obraBi"); }
    void fill(size_t n, char c = 'x') const {
        board.write("/tmp/.print_obraBi", std::string(n, c));
    }

    board_dir board;
};

TEST_F(Logger, PrefixesEveryLineStartWritesValuesUnchangedAndCutsLongMessages) {
    log_printf("a");
    log_printf("b%d\n", 1);
    log_printf("c\r");
    log_printf("d%s", "\n"); // the format, not the text, decides: no line end here
    log_printf("%s\n", "10.0.0.1%n%s%%");
    EXPECT_TRUE(log_is(STAMP + "ab1\n" + STAMP + "c\r" + STAMP + "d\n10.0.0.1%n%s%%\n")) << log();
    board.remove("/tmp/.print_obraBi"); // removed from outside: created again
    log_printf("%s", std::string(5000, 'a').c_str());
    EXPECT_TRUE(log_is(STAMP + std::string(4094, 'a'))) << log().size();
}

// Above 8192 bytes the log is copied to the backup (replacing the last one) and emptied
// before the message; at 8192 exactly it is appended to. A rotation in the middle of a line
// gives no prefix. Every rotation closes the files it opened.
TEST_F(Logger, LogAboveTheLimitIsRotatedIntoOneBackup) {
    fill(8192);
    log_printf("next\n");
    EXPECT_FALSE(board.exists("/tmp/.print_obraBi.bak"));
    EXPECT_TRUE(log_is(std::string(8192, 'x') + STAMP + "next\n"));
    fill(8193);
    log_printf("fresh\n");
    EXPECT_EQ(board.read("/tmp/.print_obraBi.bak"), std::string(8193, 'x'));
    EXPECT_TRUE(log_is(STAMP + "fresh\n")) << log();
    log_printf("start ");
    fill(9000, 'y');
    log_printf("end\n");
    EXPECT_EQ(board.read("/tmp/.print_obraBi.bak"), std::string(9000, 'y'));
    EXPECT_EQ(log(), "end\n");
    const long before = open_descriptors();
    for (int i = 0; i < 20; ++i, fill(8193))
        log_printf("rotated %d\n", i);
    EXPECT_EQ(open_descriptors(), before);
}

// A log that cannot be written, or a path too long to take: the message goes to standard
// error, or to the last path accepted. A backup that cannot be written: the log is emptied
// all the same, so that it stays bounded.
TEST_F(Logger, UnwritableLogOrBackupOrTooLongAPathLosesNoMessage) {
    const std::string longest = "/tmp/" + std::string(246, 'p'); // 251 characters
    EXPECT_EQ(log_set_path(longest.c_str()), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(log_set_path((longest + "q").c_str()), 0);
    log_printf("still here\n");
    ASSERT_EQ(log_set_path("/no/such/dir/log"), 1);
    log_printf("kept %d\n", 7);
    EXPECT_TRUE(std::regex_match(testing::internal::GetCapturedStderr(),
                                 std::regex("log path longer than 251 characters refused: "
                                            "/tmp/p{55}\\.\\.\\.\nkept 7\n")));
    EXPECT_TRUE(contains(board.read(longest), "] still here\n"));
    ASSERT_EQ(log_set_path("/tmp/.print_obraBi"), 1);
    ASSERT_EQ(mkdir(board.path("/tmp/.print_obraBi.bak").c_str(), 0755), 0);
    fill(8193);
    testing::internal::CaptureStderr();
    log_printf("after\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "log backup /tmp/.print_obraBi.bak cannot be written, log emptied\n");
    EXPECT_TRUE(log_is(STAMP + "after\n")) << log();
}

} // namespace
