// First lines of files and commands, path and text probes.
#include "util/file_probe.h"
#include "util_board.h"

#include <cstdlib>
#include <cstring>

namespace {

TEST(CatFirstLine, DropsControlBytesAndStaysWithinTheDestination) {
    util_board b;
    char line[64];
    std::memset(line, 0, sizeof line);
    b.write("/etc/version", "1.0\r\nnext\n");
    EXPECT_EQ(cat_first_line("/etc/version", line, sizeof line), 1);
    EXPECT_STREQ(line, "1.0");

    std::memset(line, 0, sizeof line);
    b.write("/etc/version", "a\tb c\n");
    EXPECT_EQ(cat_first_line("/etc/version", line, sizeof line), 1);
    EXPECT_STREQ(line, "ab c");

    // A line longer than the destination is cut to it, never written past it.
    b.write("/etc/version", std::string(200, 'v') + "\n");
    char small[16];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(cat_first_line("/etc/version", small, 8), 1);
    EXPECT_EQ(std::string(small, 8), std::string(7, 'v') + '\0');
    EXPECT_EQ(small[8], '#');
    // At most 127 bytes of the line are read.
    std::memset(line, 0, sizeof line);
    char big[256] = {};
    EXPECT_EQ(cat_first_line("/etc/version", big, sizeof big), 1);
    EXPECT_EQ(std::strlen(big), 127u);
}

TEST(CatFirstLine, MissingOrEmptyFilesLeaveTheDestinationUntouched) {
    util_board b;
    char line[16];
    std::memset(line, '#', sizeof line);
    testing::internal::CaptureStderr();
    EXPECT_EQ(cat_first_line("/etc/none", line, sizeof line), 0);
    testing::internal::GetCapturedStderr();
    b.write("/etc/empty", "");
    EXPECT_EQ(cat_first_line("/etc/empty", line, sizeof line), 0);
    EXPECT_EQ(std::string(line, sizeof line), std::string(16, '#'));
}

TEST(CatFirstLine, APathWithShellCharactersIsOneArgumentAndRunsNothingElse) {
    util_board b;
    // The name holds no slash of its own: the command it carries takes its path from outside.
    setenv("OBRABI_PWNED", b.path("/tmp/pwned").c_str(), 1);
    const std::string name = "/etc/a'b \"c\" $(touch \"$OBRABI_PWNED\");`touch \"$OBRABI_PWNED\"`";
    b.write(name, "odd\n");
    char line[16] = {};
    EXPECT_EQ(cat_first_line(name.c_str(), line, sizeof line), 1);
    EXPECT_STREQ(line, "odd");
    testing::internal::CaptureStderr();
    EXPECT_EQ(cat_first_line("/etc/x; touch /tmp/pwned", line, sizeof line), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(b.exists("/tmp/pwned"));
    unsetenv("OBRABI_PWNED");
}

TEST(CatFirstLine, APathTooLongForTheCommandLineIsRefused) {
    util_board b;
    std::string path = "/etc/" + std::string(HW_PATH_SIZE, 'p');
    char line[16];
    std::memset(line, '#', sizeof line);
    testing::internal::CaptureStdout();
    EXPECT_EQ(cat_first_line(path.c_str(), line, sizeof line), 0);
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "too long"));
    EXPECT_EQ(line[0], '#');
}

TEST(PathExists, FilesYesMissingNoDirectoriesByTheirFirstEntry) {
    util_board b;
    EXPECT_EQ(path_exists("/etc/version"), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(path_exists("/etc/none"), 0);
    testing::internal::GetCapturedStderr();
    b.write("/data/zz", "");
    EXPECT_EQ(path_exists("/data"), 0);
    // A file whose name has blanks and quotes is still one path to ls.
    b.write("/data/it's a \"file\"", "");
    EXPECT_EQ(path_exists("/data/it's a \"file\""), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(path_exists("/data/x;touch pwned"), 0);
    EXPECT_EQ(path_exists(("/data/$(touch " + b.path("/tmp/pwned") + ")").c_str()), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(b.exists("/tmp/pwned"));
}

TEST(FileFirstLine, CopiesTheLineWithItsLineFeedWithinTheDestination) {
    util_board b;
    char line[64] = {};
    b.write("/etc/version", "1.0\t\r\nnext\n");
    EXPECT_EQ(file_first_line("/etc/version", line, sizeof line), 1);
    EXPECT_STREQ(line, "1.0\t\r\n");

    char small[8];
    std::memset(small, '#', sizeof small);
    b.write("/etc/version", "0123456789\n");
    EXPECT_EQ(file_first_line("/etc/version", small, 5), 1);
    EXPECT_EQ(std::string(small, 6), std::string("0123\0#", 6));

    std::memset(small, '#', sizeof small);
    EXPECT_EQ(file_first_line("/etc/none", small, sizeof small), 0);
    b.write("/etc/empty", "");
    EXPECT_EQ(file_first_line("/etc/empty", small, sizeof small), 0);
    EXPECT_EQ(small[0], '#');
}

TEST(FileContains, SearchesPiecesOfSeventyNineCharacters) {
    util_board b;
    std::string longLine = std::string(77, '.') + "NEEDLE" + std::string(20, '.') + "\n";
    b.write("/tmp/f", "first line\n" + longLine + "pin here\n");
    EXPECT_EQ(file_contains("pin", "/tmp/f"), 1);
    EXPECT_EQ(file_contains("first", "/tmp/f"), 1);
    // "NEEDLE" starts at character 78 and so straddles the first piece's end.
    EXPECT_EQ(file_contains("NEEDLE", "/tmp/f"), 0);
    EXPECT_EQ(file_contains("DLE...", "/tmp/f"), 1);
    EXPECT_EQ(file_contains("absent", "/tmp/f"), 0);
    EXPECT_EQ(file_contains("pin", "/tmp/none"), 0);
}

} // namespace
