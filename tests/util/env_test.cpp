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
        EXPECT_EQ(env_set_str("KEY", v.c_str()), 1) << v;
        EXPECT_EQ(envfd_set_str("KEY", v.c_str()), 1) << v;
        expected += "argc=2\nKEY\n" + v + "\n";
    }
    EXPECT_EQ(b.read(fs), expected);
    EXPECT_EQ(env_set_bare(key.c_str()), 1);
    EXPECT_EQ(env_set_int(key.c_str(), 7), 1);
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

// What another process finds of the flash lock: whether it sees the lock held, whether it
// gets it, whether it complained on standard error; -1 each when it told nothing.
struct other_process_view {
    int seesLock = -1, getsLock = -1, complained = -1;
};

// Runs body in a child process, which fills the view; the view comes back through a pipe.
other_process_view in_child(const std::function<void(other_process_view&)>& body) {
    int out[2];
    other_process_view view;
    if (pipe(out) != 0)
        return view;
    pid_t pid = fork();
    if (pid == 0) {
        body(view);
        (void)!write(out[1], &view, sizeof view);
        _exit(0);
    }
    close(out[1]);
    if (read(out[0], &view, sizeof view) != static_cast<ssize_t>(sizeof view))
        view = other_process_view{};
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return view;
}

TEST(FlashLock, HeldUntilUnlockAcrossProcessesAndTakenOnceItGoesAway) {
    board b;
    const std::string file = b.path(FLASH_LOCK_FILE);
    // Another process, started without standard input (the lock is then taken on descriptor
    // 0 when it is free).
    auto other = [&] {
        return in_child([&](other_process_view& view) {
            std::freopen(b.path("/tmp/err").c_str(), "w", stderr);
            close(0);
            view.getsLock = flash_file_lock();
            view.seesLock = fd_is_write_locked(open(file.c_str(), O_RDWR));
            view.complained = std::ftell(stderr) != 0;
        });
    };
    const mode_t mask = umask(022);
    ASSERT_EQ(flash_file_lock(), 1);
    umask(mask);
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms::owner_all);
    const other_process_view whileHeld = other();
    EXPECT_EQ(whileHeld.seesLock, 1);
    EXPECT_EQ(whileHeld.getsLock, 0);
    EXPECT_EQ(whileHeld.complained, 0);
    EXPECT_EQ(flash_file_unlock(), 1);
    const other_process_view whenFree = other();
    EXPECT_EQ(whenFree.seesLock, 0);
    EXPECT_EQ(whenFree.getsLock, 1);
    EXPECT_EQ(whenFree.complained, 0);
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
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, '1'); // the holder has its lock
    EXPECT_EQ(flash_file_lock(), 1);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(flash_file_unlock(), 1);
    // The process's own locks are not reported; a bad descriptor gives 0.
    const int fd = open(file.c_str(), O_RDWR);
    EXPECT_EQ(fd_set_write_lock(fd), 1);
    EXPECT_EQ(fd_is_write_locked(fd), 0);
    EXPECT_EQ(fd_clear_lock(fd), 1);
    EXPECT_EQ(fd_set_write_lock(-1), 0);
    EXPECT_EQ(fd_clear_lock(-1), 0);
    EXPECT_EQ(fd_is_write_locked(-1), 0);
    for (int d : {fd, ready[0], ready[1]})
        close(d);
    ASSERT_EQ(std::system(("rm -rf '" + b.path("/var") + "'").c_str()), 0);
    const std::string complaint = stdout_of(
        [] {
            EXPECT_EQ(flash_file_lock(), 0);
            EXPECT_EQ(flash_file_unlock(), 0);
        },
        true);
    EXPECT_TRUE(contains(complaint, "/var/writeFlash: ")) << complaint;
}

} // namespace
