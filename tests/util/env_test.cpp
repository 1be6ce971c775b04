// The environment writers (the command lines they run, values handed over byte for byte, the
// length limits), their commit to flash, and the cross-process flash write lock.
#include "util/env_write.h"
#include "util/flash_lock.h"
#include "util_test.h"

#include <thread>

namespace {

using namespace ut;

// Every writer at its limit: the line as the board formats it, "TOOL KEY [VALUE]" with the
// board's tool path and a text between double quotes, may take 255 characters (2999 for
// env_set_str). A key one character longer is refused and runs nothing. The quoting that
// hands the words over unaltered is not counted, nor the simulated board's longer path.
TEST(EnvWrite, EachWriterRunsEveryLineThatFitsItsBufferAndNoLongerOne) {
    // The writer on a key, 1 for the second store's tool, the characters of plain line, the
    // value as the plain line holds it (nullptr for none) and as the tool receives it.
    using writer = int (*)(const char*);
    const std::tuple<writer, int, size_t, const char*, const char*> writers[] = {
        {[](const char* k) { return env_set_bare(k); }, 0, 255, nullptr, nullptr},
        {[](const char* k) { return env_set_hex(k, 0xFFFFFFFFu); }, 0, 255, "ffffffff", "ffffffff"},
        {[](const char* k) { return env_set_int(k, -1); }, 0, 255, "-1", "-1"},
        {[](const char* k) { return env_set_str(k, "it's"); }, 0, 2999, "\"it's\"", "it's"},
        {[](const char* k) { return envfd_set_hex(k, 0x1A2B); }, 1, 255, "1a2b", "1a2b"},
        {[](const char* k) { return envfd_set_int(k, INT32_MIN); }, 1, 255, "-2147483648",
         "-2147483648"},
        {[](const char* k) { return envfd_set_str(k, "it's"); }, 1, 255, "\"it's\"", "it's"},
    };
    board b;
    const std::string recorders[] = {b.recorder(ENV_SET_TOOL), b.recorder(ENVFD_SET_TOOL)};
    for (const auto& [call, second, lineMax, onLine, arrives] : writers) {
        const std::string tool = second ? ENVFD_SET_TOOL : ENV_SET_TOOL;
        const size_t fixed = tool.size() + 1 + (onLine ? 1 + std::strlen(onLine) : 0);
        const std::string fits(lineMax - fixed, 'k'), tooLong = fits + "k";
        SCOPED_TRACE(tool + " " + (onLine ? onLine : "(no value)"));
        const std::string expected = b.read(recorders[second]) + "argc=" + (onLine ? "2" : "1") +
                                     "\n" + fits + "\n" +
                                     (arrives ? arrives + std::string("\n") : "");
        EXPECT_EQ(call(fits.c_str()), 1);
        EXPECT_EQ(b.read(recorders[second]), expected);
        EXPECT_TRUE(
            contains(stdout_of([&] { EXPECT_EQ(call(tooLong.c_str()), 0); }),
                     ": command line longer than " + std::to_string(lineMax) + " bytes, not run"));
        EXPECT_EQ(b.read(recorders[second]), expected);
    }
    // A missing or failing tool is no failure of the writer.
    b.remove(ENV_SET_TOOL);
    b.write(ENVFD_SET_TOOL, "#!/bin/sh\nexit 3\n", 0755);
    for (const auto& w : writers)
        stdout_of([&] { EXPECT_EQ(std::get<0>(w)("A"), 1); }, true);
}

TEST(EnvWrite, ShellSensitiveKeysAndValuesReachTheToolUnchangedAndRunNothingElse) {
    board b;
    const std::string s = b.recorder(ENV_SET_TOOL), fs = b.recorder(ENVFD_SET_TOOL);
    const std::string pwned = b.path("/tmp/pwned"), key = "K$(touch " + pwned + ");'\"`x`";
    std::string expected;
    for (const std::string& v : std::initializer_list<std::string>{
             "say \"hi\"", "$HOME and ${PATH}", "`touch " + pwned + "`", "$(touch " + pwned + ")",
             "back\\slash\\n", "it's", "a; touch " + pwned, "'; touch " + pwned + "; echo '",
             "\"; touch " + pwned + "; echo \"", "*", " padded  ", ""}) {
        EXPECT_EQ(env_set_str("KEY", v.c_str()) + envfd_set_str("KEY", v.c_str()), 2);
        expected += "argc=2\nKEY\n" + v + "\n";
    }
    EXPECT_EQ(b.read(fs), expected);
    EXPECT_EQ(sum({env_set_bare(key.c_str()), env_set_int(key.c_str(), 7)}), 2);
    EXPECT_EQ(b.read(s), expected + "argc=1\n" + key + "\nargc=2\n" + key + "\n7\n");
    EXPECT_FALSE(b.exists("/tmp/pwned"));
}

TEST(EnvCommit, RunsTheToolWithItsOutputDiscardedOneCommitAtATime) {
    board b;
    // The tool prints, records its run and holds until it is released.
    b.write(ENV_COMMIT_TOOL,
            "#!/bin/sh\necho out; echo err >&2; echo \"argc=$#\" >> '" + b.path("/tmp/commits") +
                "'\nwhile [ ! -f '" + b.path("/tmp/release") + "' ]; do sleep 0.05; done\n",
            0755);
    b.write("/tmp/release", "");
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(stdout_of([] { EXPECT_EQ(env_commit(), 0); }, true), ""); }),
              "");
    b.remove("/tmp/release");
    log_to_file();
    log_reset_line_start();
    ASSERT_EQ(log_set_path("/tmp/commit.log"), 1);
    std::thread first(env_commit);
    ASSERT_TRUE(wait_for([&] { return b.read("/tmp/commits").size() >= 14; })); // its run begun
    std::thread second(env_commit);
    // The second commit cannot start while the first runs: it logs and tries again.
    EXPECT_TRUE(wait_for([&] { return contains(b.read("/tmp/commit.log"), "flash\n"); }));
    EXPECT_EQ(b.read("/tmp/commits"), "argc=0\nargc=0\n");
    b.write("/tmp/release", "");
    first.join(), second.join();
    log_to_screen();
    EXPECT_EQ(b.read("/tmp/commits"), "argc=0\nargc=0\nargc=0\n");
    EXPECT_TRUE(contains(b.read("/tmp/commit.log"), "] fail to pthread_mutex_trylock for flash\n"));
    b.remove(ENV_COMMIT_TOOL); // a missing tool is no failure either
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(env_commit(), 0); }, true), "");
}

// Runs body in a child process and gives its exit status (or -1 when it did not exit).
int in_child(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FlashLock, HeldUntilUnlockAcrossProcessesAndTakenOnceItGoesAway) {
    board b;
    const std::string file = b.path(FLASH_LOCK_FILE);
    // Another process, started without standard input: whether it sees the lock, whether it
    // gets it (on descriptor 0 when the lock is free) and, at 100, whether it complained.
    auto other = [&] {
        return in_child([&] {
            std::freopen(b.path("/tmp/err").c_str(), "w", stderr);
            close(0);
            const int got = flash_file_lock();
            return fd_is_write_locked(open(file.c_str(), O_RDWR)) * 10 + got +
                   100 * (std::ftell(stderr) != 0);
        });
    };
    const mode_t mask = umask(022);
    ASSERT_EQ(flash_file_lock(), 1);
    umask(mask);
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms::owner_all);
    EXPECT_EQ(other(), 10);
    EXPECT_EQ(flash_file_unlock(), 1);
    EXPECT_EQ(other(), 1);
    EXPECT_EQ(flash_file_unlock(), 1); // without a held lock too
    // A lock that another process drops between the attempts is taken.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    if (holder == 0) {
        char c = static_cast<char>('0' + fd_set_write_lock(open(file.c_str(), O_RDWR)));
        (void)!write(ready[1], &c, 1);
        usleep(400000);
        _exit(0); // the lock goes with the process
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1) * 100 + c, 100 + '1');
    EXPECT_EQ(flash_file_lock(), 1);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(flash_file_unlock(), 1);
    // The process's own locks are not reported; a bad descriptor gives 0.
    const int fd = open(file.c_str(), O_RDWR);
    EXPECT_EQ(sum({fd_set_write_lock(fd) * 100, fd_is_write_locked(fd) * 10, fd_clear_lock(fd)}),
              101);
    EXPECT_EQ(fd_set_write_lock(-1) + fd_clear_lock(-1) + fd_is_write_locked(-1), 0);
    for (int d : {fd, ready[0], ready[1]})
        close(d);
    ASSERT_EQ(std::system(("rm -rf '" + b.path("/var") + "'").c_str()), 0);
    EXPECT_TRUE(
        contains(stdout_of([] { EXPECT_EQ(flash_file_lock() + flash_file_unlock(), 0); }, true),
                 "/var/writeFlash: "));
}

} // namespace
