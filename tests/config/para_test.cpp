// The parameter file reader: key matching, control bytes, line limits, bounded copies.
#include "config/para.h"

#include "support/board_dir.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ParaTest : public ::testing::Test {
  protected:
    // Looks key up in a file holding content; the value, or "<none>" when not found.
    std::string lookup(const std::string& content, const char* key) {
        board.write("/var/obraBi_para", content);
        char value[256] = {};
        if (para_get("/var/obraBi_para", key, value, sizeof value) != 1)
            return "<none>";
        return value;
    }

    board_dir board;
};

TEST_F(ParaTest, KeyMustStartTheLineAndBeFollowedByEquals) {
    EXPECT_EQ(lookup("OUT_DEST =1.2.3.4\n", "OUT_DEST"), "<none>");
    EXPECT_EQ(lookup(" OUT_DEST=1.2.3.4\n", "OUT_DEST"), "<none>");
    EXPECT_EQ(lookup("IN_SRCX=1.2.3.4\n", "IN_SRC"), "<none>");
    EXPECT_EQ(lookup("in_src=1.2.3.4\n", "IN_SRC"), "<none>");
    EXPECT_EQ(lookup("# c\n\nIN_SRCX=9\nIN_SRC=1.2.3.4\n", "IN_SRC"), "1.2.3.4");
    EXPECT_EQ(lookup("IN_SRC=\n", "IN_SRC"), "");
}

TEST_F(ParaTest, ControlBytesAreDroppedAndBlanksKept) {
    EXPECT_EQ(lookup("WAIT=on\r\n", "WAIT"), "on");
    EXPECT_EQ(lookup("WAIT=o\tn\n", "WAIT"), "on");
    EXPECT_EQ(lookup("WAIT=on  \n", "WAIT"), "on  ");
    EXPECT_EQ(lookup("WAIT= on\x0b\x0c\x01\n", "WAIT"), " on");
    EXPECT_EQ(lookup("WAIT=\x0e\xff\n", "WAIT"), "\x0e\xff");
}

TEST_F(ParaTest, FirstOfRepeatedKeysWins) {
    EXPECT_EQ(lookup("OUT_DEST=1.1.1.1\nOUT_DEST=2.2.2.2\n", "OUT_DEST"), "1.1.1.1");
}

TEST_F(ParaTest, LongLineIsReadAsTwoLines) {
    std::string first = "OUT_DEST=" + std::string(246, 'a'); // 255 characters
    std::string line = first + "IN_SRC=5.6.7.8" + std::string(30, 'b') + "\n";
    ASSERT_EQ(line.size(), 300u);
    EXPECT_EQ(lookup(line, "OUT_DEST"), std::string(246, 'a'));
    EXPECT_EQ(lookup(line, "IN_SRC"), "5.6.7.8" + std::string(30, 'b'));
    std::string other = "X=" + std::string(253, 'a') + "WAIT=on\n";
    EXPECT_EQ(lookup(other, "WAIT"), "on");
    std::string notAtStart = "X=" + std::string(254, 'a') + "WAIT=on\n";
    EXPECT_EQ(lookup(notAtStart, "WAIT"), "<none>");
}

TEST_F(ParaTest, EmptyOrKeylessFileGivesZeroWithoutMessage) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(lookup("", "WAIT"), "<none>");
    EXPECT_EQ(lookup("OTHER=1\n", "WAIT"), "<none>");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(ParaTest, MissingFileIsReportedAndLeavesTheDestinationAlone) {
    char value[16] = "untouched";
    testing::internal::CaptureStdout();
    EXPECT_EQ(para_get("/var/obraBi_para", "WAIT", value, sizeof value), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't open /var/obraBi_para!!!\n");
    EXPECT_STREQ(value, "untouched");
}

// A FIFO without a writer, a directory and a character device that never ends: each reads
// as a file without keys, at once and without a message (an open or a read that waited or
// went on for ever would hang the test here).
TEST_F(ParaTest, FileThatIsNotRegularReadsAsAFileWithoutKeys) {
    const std::string p = board.path("/var/obraBi_para");
    const struct {
        const char* kind;
        int (*make)(const char* path);
    } nodes[] = {
        {"fifo", [](const char* path) { return mkfifo(path, 0644); }},
        {"directory", [](const char* path) { return mkdir(path, 0755); }},
        {"character device", [](const char* path) { return symlink("/dev/zero", path); }},
    };
    for (const auto& node : nodes) {
        SCOPED_TRACE(node.kind);
        unlink(p.c_str());
        rmdir(p.c_str());
        ASSERT_EQ(node.make(p.c_str()), 0);
        char value[16] = "untouched";
        testing::internal::CaptureStdout();
        EXPECT_EQ(para_get("/var/obraBi_para", "WAIT", value, sizeof value), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_STREQ(value, "untouched");
    }
}

TEST_F(ParaTest, ValueIsBoundedByTheDestination) {
    board.write("/var/obraBi_para", "OUT_DEST=192.168.100.200\n");
    char guard[24];
    std::memset(guard, '#', sizeof guard);
    char* dest = guard + 8; // 8 bytes of room, 8 guard bytes on each side
    std::memset(dest, 0, 8);
    EXPECT_EQ(para_get("/var/obraBi_para", "OUT_DEST", dest, 8), 1);
    EXPECT_EQ(std::string(dest), "192.168");
    EXPECT_EQ(std::string(guard + 16, 8), std::string(8, '#'));
    EXPECT_EQ(std::string(guard, 8), std::string(8, '#'));
}

TEST(CopyPrintable, SkipsBytesUpToThirteenAndWritesNoTerminator) {
    char out[16];
    std::memset(out, '#', sizeof out);
    copy_printable(out, "abc def", 7);
    EXPECT_EQ(std::string(out, 8), "abc def#");
    std::memset(out, '#', sizeof out);
    copy_printable(out, "\r\n\t\x01\x0d", 5);
    EXPECT_EQ(out[0], '#');
    copy_printable(out, "xyz", 0);
    EXPECT_EQ(out[0], '#');
    copy_printable(out, "a\0b\x0e", 4);
    EXPECT_EQ(std::string(out, 4), "ab\x0e#");
}

} // namespace
