// Starting commands: every child gets an empty signal mask, default signal actions and no
// descriptor of the process beyond the standard ones, through each way a command starts.
#include "shell/shell.h"

#include "hw/hw.h"
#include "support/board_dir.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>

namespace {

// The signal sets of /proc/self/status ("SigBlk", "SigIgn") of a status text.
unsigned long long signal_set(const std::string& status, const std::string& name) {
    const std::size_t at = status.find("\n" + name + ":\t");
    return at == std::string::npos
               ? ~0ULL
               : std::strtoull(status.c_str() + at + name.size() + 3, nullptr, 16);
}

bool in_set(unsigned long long set, int sig) {
    return ((set >> (sig - 1)) & 1) != 0;
}

std::string read_stream(FILE* f) {
    std::string text;
    char piece[512];
    std::size_t n = 0;
    while ((n = std::fread(piece, 1, sizeof piece, f)) > 0)
        text.append(piece, n);
    return text;
}

// One way to start a command: runs it and gives its standard output.
struct runner {
    const char* name;
    std::string (*run)(const board_dir& b, const std::string& command);
};

// The output of a stream of one of the popen kinds, closed by its own pclose.
std::string read_and_close(FILE* f, int (*close_stream)(FILE*)) {
    if (f == nullptr)
        return "<not started>";
    std::string text = read_stream(f);
    close_stream(f);
    return text;
}

std::string through_popen(const board_dir&, const std::string& command) {
    return read_and_close(shell_popen(command.c_str(), "r"), shell_pclose);
}

std::string through_run_shell(const board_dir& b, const std::string& command) {
    run_shell((command + " > '" + b.path("/tmp/out") + "'").c_str());
    return b.read("/tmp/out");
}

std::string through_spawn(const board_dir&, const std::string& command) {
    int output = -1;
    const pid_t child = shell_spawn(command.c_str(), &output);
    if (child < 0)
        return "<not started>";
    FILE* f = fdopen(output, "r");
    std::string text = read_stream(f);
    std::fclose(f);
    shell_wait(child);
    return text;
}

// The seam of the simulated board: the tool runs with the board's bin folder on its path.
std::string through_hw_popen(const board_dir&, const std::string& command) {
    return read_and_close(hw_popen(command.c_str(), "r"), hw_pclose);
}

std::string through_hw_system(const board_dir& b, const std::string& command) {
    hw_system((command + " > '" + b.path("/tmp/out") + "'").c_str());
    return b.read("/tmp/out");
}

const runner runners[] = {{"shell_popen", through_popen},
                          {"run_shell", through_run_shell},
                          {"shell_spawn", through_spawn},
                          {"hw_popen", through_hw_popen},
                          {"hw_system", through_hw_system}};

// Blocked and ignored in the starting thread for the length of a test.
class Spawn : public ::testing::Test {
  protected:
    void SetUp() override {
        sigset_t held;
        sigemptyset(&held);
        for (int sig : blocked)
            sigaddset(&held, sig);
        ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &held, &before), 0);
        for (int i = 0; i < 2; ++i)
            oldActions[i] = std::signal(ignored[i], SIG_IGN);
    }
    void TearDown() override {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        for (int i = 0; i < 2; ++i)
            std::signal(ignored[i], oldActions[i]);
    }

    static constexpr int blocked[] = {SIGUSR1, SIGTERM};
    static constexpr int ignored[] = {SIGUSR2, SIGPIPE};
    sigset_t before{};
    void (*oldActions[2])(int) = {};
    board_dir board;
};

// "exec": the status is the shell's own, as it was started, not that of a child it forks.
TEST_F(Spawn, ChildStartsWithAnEmptySignalMaskAndDefaultActions) {
    for (const runner& r : runners) {
        const std::string status = r.run(board, "exec cat /proc/self/status");
        const unsigned long long blockedSet = signal_set(status, "SigBlk");
        const unsigned long long ignoredSet = signal_set(status, "SigIgn");
        EXPECT_EQ(blockedSet, 0ULL) << r.name << "\n" << status;
        for (int sig : blocked)
            EXPECT_FALSE(in_set(blockedSet, sig)) << r.name << " blocks " << sig;
        for (int sig : ignored)
            EXPECT_FALSE(in_set(ignoredSet, sig)) << r.name << " ignores " << sig;
    }
}

// A close-on-exec descriptor stays behind; one without the flag is seen, which shows that the
// listing can tell. (The listing holds the descriptor that ls reads it through, too.)
TEST_F(Spawn, ChildInheritsNoCloseOnExecDescriptorAndThePipeIsCloseOnExec) {
    const int quiet = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(quiet, 0);
    ASSERT_EQ(dup3(quiet, 57, O_CLOEXEC), 57);
    ASSERT_EQ(dup2(quiet, 58), 58); // inherited
    for (const runner& r : runners) {
        const lines fds = words(r.run(board, "exec ls /proc/self/fd"));
        for (const char* fd : {"0", "1", "2", "58"})
            EXPECT_NE(std::find(fds.begin(), fds.end(), fd), fds.end()) << r.name << " " << fd;
        EXPECT_EQ(std::find(fds.begin(), fds.end(), "57"), fds.end()) << r.name;
    }
    close(57);
    close(58);
    close(quiet);
    FILE* f = shell_popen("true", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fcntl(fileno(f), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    EXPECT_EQ(shell_pclose(f), 0);
    int output = -1;
    const pid_t child = shell_spawn("true", &output);
    ASSERT_GT(child, 0);
    EXPECT_EQ(fcntl(output, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    close(output);
    EXPECT_EQ(shell_wait(child), 0);
}

// The stream ends with the command's output; closing it gives the command's raw status. At
// most SHELL_STREAMS are open at once, and a stream that is not one of them is refused.
TEST_F(Spawn, PopenReadsTheOutputAndPcloseGivesTheStatus) {
    FILE* f = shell_popen("printf 'a\\nb'; exit 3", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(read_stream(f), "a\nb");
    EXPECT_EQ(shell_pclose(f), 3 << 8);
    FILE* open[SHELL_STREAMS] = {};
    for (FILE*& s : open) {
        s = shell_popen("true", "r"); // no output: closing unread raises no SIGPIPE
        EXPECT_NE(s, nullptr);
    }
    EXPECT_EQ(shell_popen("true", "r"), nullptr);
    EXPECT_EQ(errno, EMFILE);
    EXPECT_EQ(shell_pclose(open[3]), 0);
    open[3] = shell_popen("echo z", "r");
    ASSERT_NE(open[3], nullptr);
    EXPECT_EQ(read_stream(open[3]), "z\n");
    for (FILE* s : open)
        EXPECT_EQ(shell_pclose(s), 0);
    FILE* plain = std::fopen("/dev/null", "re");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(shell_pclose(plain), -1);
    std::fclose(plain);
    EXPECT_EQ(shell_pclose(nullptr), -1);
    EXPECT_EQ(hw_popen("true", "w"), nullptr); // the tools are only read
}

} // namespace
