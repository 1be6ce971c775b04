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
// error, after one line saying why (once, until the log is written again), or to the last path
// accepted. A backup that cannot be written: the log is emptied all the same, so that it stays
// bounded.
TEST_F(Logger, UnwritableLogOrBackupOrTooLongAPathLosesNoMessage) {
    const std::string longest = "/tmp/" + std::string(246, 'p'); // 251 characters
    const std::string why = "log /no/such/dir/log cannot be written (No such file or directory), "
                            "messages go to standard error\n";
    EXPECT_EQ(log_set_path(longest.c_str()), 1);
    const std::string err = stdout_of(
        [&] {
            EXPECT_EQ(log_set_path((longest + "q").c_str()), 0);
            log_printf("still here\n");
            ASSERT_EQ(log_set_path("/no/such/dir/log"), 1);
            log_printf("kept %d\n", 7);
            log_printf("and %d\n", 8);
        },
        true);
    const std::string refused =
        "log path longer than 251 characters refused: /tmp/" + std::string(55, 'p') + "...\n";
    EXPECT_EQ(err, refused + why + "kept 7\nand 8\n");
    EXPECT_TRUE(contains(board.read(longest), "] still here\n"));
    ASSERT_EQ(log_set_path("/tmp/.print_obraBi"), 1);
    EXPECT_EQ(stdout_of([] { log_printf("written\n"); }, true), "");
    ASSERT_EQ(log_set_path("/no/such/dir/log"), 1);
    EXPECT_EQ(stdout_of([] { log_printf("again\n"); }, true), why + "again\n");
    ASSERT_EQ(log_set_path("/tmp/.print_obraBi"), 1);
    ASSERT_EQ(mkdir(board.path("/tmp/.print_obraBi.bak").c_str(), 0755), 0);
    fill(8193);
    EXPECT_EQ(stdout_of([] { log_printf("after\n"); }, true),
              "log backup /tmp/.print_obraBi.bak cannot be written (a directory in the way cannot "
              "be removed: Is a directory), log emptied\n");
    EXPECT_TRUE(log_is(STAMP + "after\n")) << log();
}

// A symbolic link, a FIFO or a hard link planted at the log or at its backup: the file a link
// names stays as it was, nothing waits for a reader, and the messages go on into a fresh
// regular file in its place (the backup's at the next rotation).
TEST_F(Logger, LinksAndFifosAtTheLogOrBackupAreReplacedNeverFollowed) {
    const std::string victim = "a root file elsewhere\n";
    board.write("/etc/victim", victim);
    const std::string target = board.path("/etc/victim");
    for (const auto& p : plants) {
        for (const char* at : {"/tmp/.print_obraBi", "/tmp/.print_obraBi.bak"}) {
            const std::string row = std::string(p.name) + " at " + at;
            board.remove("/tmp/.print_obraBi");
            board.remove("/tmp/.print_obraBi.bak");
            const bool atBackup = std::string(at).ends_with(".bak");
            if (atBackup)
                fill(8193);
            ASSERT_EQ(p.plant(target, board.path(at)), 0) << row;
            log_reset_line_start();
            const std::string err = stdout_of([] { log_printf("message\n"); }, true);
            EXPECT_EQ(err, "") << row;
            EXPECT_EQ(board.read("/etc/victim"), victim) << row;
            struct stat st {};
            ASSERT_EQ(lstat(board.path(at).c_str(), &st), 0) << row;
            EXPECT_TRUE(S_ISREG(st.st_mode)) << row;
            EXPECT_EQ(st.st_nlink, 1u) << row;
            EXPECT_TRUE(log_is(STAMP + "message\n")) << row << ": " << log();
            if (atBackup) {
                EXPECT_EQ(board.read("/tmp/.print_obraBi.bak"), std::string(8193, 'x')) << row;
            }
        }
    }
}

} // namespace
