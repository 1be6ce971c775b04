// The environment writers (the command lines they run, values handed over byte for byte, the
// length limits), their commit to flash, and the cross-process flash write lock.
#include "config/env.h"
#include "util/env_write.h"
#include "util/flash_lock.h"
#include "util_test.h"

#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace ut;

struct writer {
    int (*call)(const char* key);
    int second;          // 1: the second store's tool
    size_t lineMax;      // characters of plain line
    const char* onLine;  // the value as the plain line holds it, nullptr for none
    const char* arrives; // the value as the tool receives it
};
const writer writers[] = {
    {[](const char* k) { return env_set_bare(k); }, 0, 255, nullptr, nullptr},
    {[](const char* k) { return env_set_hex(k, 0xFFFFFFFFu); }, 0, 255, "ffffffff", "ffffffff"},
    {[](const char* k) { return env_set_int(k, -1); }, 0, 255, "-1", "-1"},
    {[](const char* k) { return env_set_str(k, "it's"); }, 0, 2999, "\"it's\"", "it's"},
    {[](const char* k) { return envfd_set_hex(k, 0x1A2B); }, 1, 255, "1a2b", "1a2b"},
    {[](const char* k) { return envfd_set_int(k, INT32_MIN); }, 1, 255, "-2147483648",
     "-2147483648"},
    {[](const char* k) { return envfd_set_str(k, "it's"); }, 1, 255, "\"it's\"", "it's"},
};

// Every writer at its limit: the line as the board formats it, "TOOL KEY [VALUE]" with the
// board's tool path and a text between double quotes, may take 255 characters (2999 for
// env_set_str). A key one character longer is refused and runs nothing. The quoting that
// hands the words over unaltered is not counted, nor the simulated board's longer path.
TEST(EnvWrite, EachWriterRunsEveryLineThatFitsItsBufferAndNoLongerOne) {
    board b;
    const std::string recorders[] = {b.recorder(ENV_SET_TOOL), b.recorder(ENVFD_SET_TOOL)};
    for (const writer& w : writers) {
        const std::string tool = w.second ? ENVFD_SET_TOOL : ENV_SET_TOOL;
        const size_t fixed = tool.size() + 1 + (w.onLine ? 1 + std::strlen(w.onLine) : 0);
        const std::string fits(w.lineMax - fixed, 'k'), tooLong = fits + "k";
        const std::string& recorder = recorders[w.second];
        SCOPED_TRACE(tool + " " + (w.onLine ? w.onLine : "(no value)"));
        const std::string expected = b.read(recorder) + "argc=" + (w.onLine ? "2" : "1") + "\n" +
                                     fits + "\n" + (w.arrives ? w.arrives + std::string("\n") : "");
        EXPECT_EQ(w.call(fits.c_str()), 1);
        EXPECT_EQ(b.read(recorder), expected);
        EXPECT_TRUE(
            contains(out_of([&] { EXPECT_EQ(w.call(tooLong.c_str()), 0); }),
                     "command line longer than " + std::to_string(w.lineMax) + " bytes, not run"));
        EXPECT_EQ(b.read(recorder), expected);
    }
    // A missing or failing tool is no failure of the writer.
    b.remove(ENV_SET_TOOL);
    b.write(ENVFD_SET_TOOL, "#!/bin/sh\nexit 3\n", 0755);
    for (const writer& w : writers)
        out_of([&] { EXPECT_EQ(w.call("A"), 1); }, true);
}

TEST(EnvWrite, ShellSensitiveKeysAndValuesReachTheToolUnchangedAndRunNothingElse) {
    board b;
    const std::string s = b.recorder(ENV_SET_TOOL), fs = b.recorder(ENVFD_SET_TOOL);
    const std::string pwned = b.path("/tmp/pwned");
    std::string expected;
    for (const std::string& v : std::initializer_list<std::string>{
             "say \"hi\"", "$HOME and ${PATH}", "`touch " + pwned + "`", "$(touch " + pwned + ")",
             std::string("back\\slash\\n"), std::string("it's"), "a; touch " + pwned,
             "'; touch " + pwned + "; echo '", "\"; touch " + pwned + "; echo \"", std::string("*"),
             std::string(" padded  "), std::string()}) {
        EXPECT_EQ(env_set_str("KEY", v.c_str()) + envfd_set_str("KEY", v.c_str()), 2);
        expected += "argc=2\nKEY\n" + v + "\n";
    }
    EXPECT_EQ(b.read(fs), expected);
    const std::string key = "K$(touch " + pwned + ");'\"`x`";
    EXPECT_EQ(sum({env_set_bare(key.c_str()), env_set_int(key.c_str(), 7)}), 2);
    EXPECT_EQ(b.read(s), expected + "argc=1\n" + key + "\nargc=2\n" + key + "\n7\n");
    EXPECT_FALSE(b.exists("/tmp/pwned"));
}

TEST(EnvWrite, TheBoardsWritersSetTheStoresItsReadersRead) {
    board b;
    const std::string odd = "a \"b\" $HOME `c` \\d 'e'; f";
    auto get = [](const char* k) {
        char value[ENV_VALUE_SIZE] = {};
        return env_get_direct(k, value, sizeof value) == 1 ? std::string(value) : "(none)";
    };
    EXPECT_EQ(env_set_str("NAME", odd.c_str()) + env_set_hex("TOS", 0xB8), 2);
    EXPECT_EQ(env_set_int("GAIN", -3), 1);
    EXPECT_EQ(get("NAME") + get("TOS") + get("GAIN"), odd + "b8-3");
    EXPECT_EQ(env_set_int("GAIN", 2) + envfd_set_str("label", odd.c_str()), 2);
    EXPECT_EQ(get("GAIN"), "2"); // a second write replaces the first
    EXPECT_EQ(env_set_bare("GAIN") + envfd_set_hex("serial", 0xABC), 2);
    EXPECT_EQ(get("GAIN") + get("label"), "(none)(none)"); // removed; the other store's
    char value[ENV_VALUE_SIZE] = {};
    EXPECT_EQ(envfd_get_direct("label", value, sizeof value), 1);
    EXPECT_EQ(value, odd);
    EXPECT_TRUE(contains(b.read("/sim/env.second"), "serial=abc\n"));
}

TEST(EnvCommit, RunsTheToolWithItsOutputDiscardedOneCommitAtATime) {
    board b;
    // The tool prints, marks its start and holds until it is released.
    b.write(ENV_COMMIT_TOOL,
            "#!/bin/sh\necho out; echo err >&2; echo \"argc=$#\" >> '" + b.path("/tmp/commits") +
                "'\n: > '" + b.path("/tmp/started") + "'\nwhile [ ! -f '" + b.path("/tmp/release") +
                "' ]; do sleep 0.05; done\n",
            0755);
    b.write("/tmp/release", "");
    EXPECT_EQ(out_of([] { EXPECT_EQ(out_of([] { EXPECT_EQ(env_commit(), 0); }, true), ""); }), "");
    EXPECT_EQ(b.read("/tmp/commits"), "argc=0\n");
    b.remove("/tmp/release");
    b.remove("/tmp/started");
    log_to_file();
    log_reset_line_start();
    ASSERT_EQ(log_set_path("/tmp/commit.log"), 1);
    std::thread first([] { env_commit(); });
    for (int i = 0; i < 60000 && !b.exists("/tmp/started"); ++i)
        usleep(1000);
    std::thread second([] { env_commit(); });
    // The second commit cannot start while the first runs: it logs and tries again.
    for (int i = 0; i < 60000 && !contains(b.read("/tmp/commit.log"), "flash\n"); ++i)
        usleep(1000);
    EXPECT_EQ(b.read("/tmp/commits"), "argc=0\nargc=0\n");
    b.write("/tmp/release", "");
    first.join();
    second.join();
    log_to_screen();
    EXPECT_EQ(b.read("/tmp/commits"), "argc=0\nargc=0\nargc=0\n");
    EXPECT_TRUE(contains(b.read("/tmp/commit.log"), "] fail to pthread_mutex_trylock for flash\n"));
    b.remove(ENV_COMMIT_TOOL); // a missing tool is no failure either
    EXPECT_EQ(out_of([] { EXPECT_EQ(env_commit(), 0); }, true), "");
}

// Runs body in a child process and gives its exit status (or -1 when it did not exit).
template <typename Body> int in_child(Body body) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status)
                                                                           : -1;
}

TEST(FlashLock, HeldUntilUnlockAcrossProcessesAndTakenOnceItGoesAway) {
    board b;
    const std::string file = b.path(FLASH_LOCK_FILE);
    auto other = [&] { // another process: whether it sees the lock, and whether it gets it
        return in_child([&] {
            int fd = open(file.c_str(), O_RDWR);
            return fd_is_write_locked(fd) * 10 + flash_file_lock();
        });
    };
    const mode_t mask = umask(022);
    ASSERT_EQ(flash_file_lock(), 1);
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0); // created on first use
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(other(), 10);
    EXPECT_EQ(flash_file_unlock(), 1);
    EXPECT_EQ(other(), 1);
    EXPECT_EQ(flash_file_unlock(), 1); // without a held lock too
    // A lock that another process drops between attempts is taken.
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
    ASSERT_EQ(c, '1');
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
        contains(out_of([] { EXPECT_EQ(flash_file_lock() + flash_file_unlock(), 0); }, true),
                 "/var/writeFlash: "));
}

} // namespace
