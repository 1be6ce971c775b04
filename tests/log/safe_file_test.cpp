// safe_open: what each way of opening does with each thing that can stand at a fixed path.
#include "log/safe_file.h"

#include "support/board_dir.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const std::string VICTIM = "a file elsewhere, not to be touched\n";

// What is planted at the path before it is opened.
enum class planted { nothing, own_file, symlink, dangling_link, fifo, hard_link, stranger, folder };

struct plant_row {
    planted what;
    const char* name;
    const char* refusal; // how safe_open names it, nullptr for what it takes as it is
};

const plant_row plants[] = {
    {planted::nothing, "nothing", nullptr},
    {planted::own_file, "own file", nullptr},
    {planted::symlink, "symbolic link", "a symbolic link"},
    {planted::dangling_link, "dangling link", "a symbolic link"},
    {planted::fifo, "FIFO", "a FIFO"},
    {planted::hard_link, "hard link", "a file with another hard link"},
    {planted::stranger, "another user's file", "a file of another user"},
    {planted::folder, "directory", "a directory"},
};

// What each mode makes of it: the descriptor reads "old\n" (kept), reads nothing (fresh or
// emptied), or there is none (refused: the reason, and what was there stays).
enum class outcome { kept, empty, refused };

struct mode_row {
    safe_mode mode;
    const char* name;
    outcome ownFile; // with the own file at the path
    outcome other;   // with anything else the mode does not refuse outright
};

const mode_row modes[] = {
    {safe_mode::read, "read", outcome::kept, outcome::refused},
    {safe_mode::append, "append", outcome::kept, outcome::empty},
    {safe_mode::rewrite, "rewrite", outcome::empty, outcome::empty},
    {safe_mode::fresh, "fresh", outcome::empty, outcome::empty},
};

class SafeOpen : public ::testing::Test {
  protected:
    void SetUp() override {
        board.write("/etc/victim", VICTIM);
        oldMask = umask(027);
    }
    void TearDown() override { umask(oldMask); }

    std::string path() const { return board.path("/tmp/fixed"); }

    // Plants what; false when it cannot be planted here (another user's file needs root).
    bool plant(planted what) const {
        const std::string p = path(), victim = board.path("/etc/victim");
        switch (what) {
        case planted::nothing:
            return true;
        case planted::own_file:
            board.write("/tmp/fixed", "old\n");
            return true;
        case planted::symlink:
            return symlink(victim.c_str(), p.c_str()) == 0;
        case planted::dangling_link:
            return symlink(board.path("/etc/made").c_str(), p.c_str()) == 0;
        case planted::fifo:
            return mkfifo(p.c_str(), 0666) == 0;
        case planted::hard_link:
            return link(victim.c_str(), p.c_str()) == 0;
        case planted::stranger:
            board.write("/tmp/fixed", "old\n", 0666);
            return geteuid() == 0 && chown(p.c_str(), 65534, 65534) == 0;
        case planted::folder:
            return mkdir(p.c_str(), 0755) == 0;
        }
        return false;
    }

    mode_t mode_at_path() const {
        struct stat st {};
        return lstat(path().c_str(), &st) == 0 ? st.st_mode : 0;
    }

    board_dir board;
    mode_t oldMask = 0;
};

TEST_F(SafeOpen, TakesOnlyOwnRegularFilesAndReplacesAnythingElseExceptToRead) {
    for (const mode_row& m : modes) {
        for (const plant_row& p : plants) {
            const std::string row = std::string(m.name) + " over " + p.name;
            std::filesystem::remove_all(path());
            if (!plant(p.what)) {
                ASSERT_EQ(p.what, planted::stranger) << row;
                continue; // not root: no file of another user can be made
            }
            const mode_t before = mode_at_path();
            // Nothing is expected where the mode needs a file and there is none, or a folder
            // (which cannot be removed) stands in the way; the rest follows the table.
            outcome expected = p.what == planted::own_file ? m.ownFile : m.other;
            if (p.what == planted::folder ||
                (p.what == planted::nothing && m.mode == safe_mode::read))
                expected = outcome::refused;
            if (p.what == planted::nothing && m.mode != safe_mode::read)
                expected = outcome::empty;
            char why[SAFE_WHY_SIZE] = "untouched";
            const int fd = safe_open(path().c_str(), m.mode, why, sizeof why);
            if (expected == outcome::refused) {
                EXPECT_EQ(fd, -1) << row;
                const std::string reason =
                    p.refusal == nullptr ? "No such file or directory"
                    : m.mode == safe_mode::read
                        ? std::string(p.refusal) + ", not read"
                        : std::string(p.refusal) + " in the way cannot be removed: Is a directory";
                EXPECT_EQ(std::string(why), reason) << row;
                EXPECT_EQ(mode_at_path(), before) << row << ": what was there is left";
            } else {
                ASSERT_GE(fd, 0) << row << ": " << why;
                EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC) << row;
                struct stat st {};
                ASSERT_EQ(fstat(fd, &st), 0) << row;
                EXPECT_EQ(st.st_size, expected == outcome::kept ? 4 : 0) << row; // "old\n"
                EXPECT_TRUE(S_ISREG(st.st_mode)) << row;
                EXPECT_EQ(st.st_nlink, 1u) << row;
                EXPECT_EQ(st.st_uid, geteuid()) << row;
                const bool created = p.what != planted::own_file || m.mode == safe_mode::fresh;
                if (created) {
                    EXPECT_EQ(st.st_mode & 0777, 0640u) << row << ": 0666 less the umask";
                }
                if (m.mode != safe_mode::read) {
                    EXPECT_EQ(write(fd, "new\n", 4), 4) << row;
                    EXPECT_EQ(board.read("/tmp/fixed"),
                              expected == outcome::kept ? "old\nnew\n" : "new\n")
                        << row;
                }
                close(fd);
            }
            EXPECT_EQ(board.read("/etc/victim"), VICTIM) << row;
            EXPECT_FALSE(board.exists("/etc/made")) << row << ": a dangling link's target made";
        }
    }
}

// A FIFO is neither waited on nor written: opened for writing it fails at once without a
// reader and is found out by its type with one.
TEST_F(SafeOpen, FifoWithAReaderIsReplacedToo) {
    ASSERT_TRUE(plant(planted::fifo));
    const int reader = open(path().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    char why[SAFE_WHY_SIZE] = {};
    const int fd = safe_open(path().c_str(), safe_mode::rewrite, why, sizeof why);
    ASSERT_GE(fd, 0) << why;
    EXPECT_TRUE(S_ISREG(mode_at_path()));
    EXPECT_EQ(write(fd, "x", 1), 1);
    char got[4] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 0); // the old FIFO got nothing
    close(fd);
    close(reader);
}

TEST_F(SafeOpen, SizeOnlyOfAFileThatWouldBeTakenAsItIs) {
    for (const plant_row& p : plants) {
        std::filesystem::remove_all(path());
        if (!plant(p.what))
            continue; // another user's file, not root
        const long long expected =
            p.what == planted::own_file ? 4 : -1; // "old\n"; links are never followed
        EXPECT_EQ(safe_file_size(path().c_str()), expected) << p.name;
    }
}

TEST(WriteWhole, WritesEverythingOrSaysItFailed) {
    board_dir b;
    const int fd = open(b.path("/tmp/w").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const std::string big(200000, 'w');
    EXPECT_EQ(write_whole(fd, big.data(), big.size()), 1);
    close(fd);
    EXPECT_EQ(b.read("/tmp/w"), big);
    EXPECT_EQ(write_whole(fd, "x", 1), 0); // closed
}

} // namespace
