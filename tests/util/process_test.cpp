// Shell runners, process and link probes, and the stop-and-restart of the board.
#include "util/process.h"
#include "util_board.h"

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(RunShell, GivesTheRawWaitStatus) {
    EXPECT_EQ(run_shell(nullptr), 1);
    EXPECT_EQ(run_shell("true"), 0);
    EXPECT_EQ(run_shell("exit 1"), 0x100);
    EXPECT_EQ(run_shell("exit 3"), 0x300);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_shell("obrabi-no-such-command-here"), 127 * 256);
    testing::internal::GetCapturedStderr();
    int status = run_shell("kill -9 $$");
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

TEST(RunPopen, WaitsForTheCommandAndRefusesOneLongerThan127Characters) {
    util_board b;
    const std::string ran = b.path("/tmp/ran");
    EXPECT_EQ(run_popen(("sleep 0.2; touch '" + ran + "'").c_str()), 1);
    EXPECT_TRUE(b.exists("/tmp/ran"));

    // Padded with blanks to exactly 127 and 128 characters.
    std::string cmd = "touch '" + b.path("/tmp/at127") + "'";
    ASSERT_LT(cmd.size(), 127u);
    cmd += std::string(127 - cmd.size(), ' ');
    EXPECT_EQ(run_popen(cmd.c_str()), 1);
    EXPECT_TRUE(b.exists("/tmp/at127"));
    cmd = "touch '" + b.path("/tmp/at128") + "'";
    cmd += std::string(128 - cmd.size(), ' ');
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_popen(cmd.c_str()), 0);
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "not run"));
    EXPECT_FALSE(b.exists("/tmp/at128"));
}

TEST(PidofValue, TheProcessIdOfARunningProcessOrZero) {
    util_board b;
    // A process of a name no other process has: a copy of sleep, started and ended here.
    std::string name = "obrsl" + std::to_string(getpid() % 100000);
    std::string exe = b.path("/tmp/" + name);
    ASSERT_EQ(std::system(("cp \"$(command -v sleep)\" '" + exe + "'").c_str()), 0);
    EXPECT_EQ(pidof_value(name.c_str()), 0);
    pid_t child = fork();
    if (child == 0) {
        execl(exe.c_str(), name.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    int found = 0;
    for (int i = 0; i < 600 && found == 0; ++i) {
        found = pidof_value(name.c_str());
        if (found == 0)
            usleep(10000);
    }
    EXPECT_EQ(found, child);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(pidof_value(name.c_str()), 0);

    EXPECT_EQ(pidof_value(("x; touch '" + b.path("/tmp/pwned") + "'").c_str()), 0);
    EXPECT_EQ(pidof_value(("$(touch '" + b.path("/tmp/pwned") + "')").c_str()), 0);
    EXPECT_FALSE(b.exists("/tmp/pwned"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(pidof_value(std::string(200, 'n').c_str()), 0);
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "too long"));
}

// ifconfig stand-in: lists ppp0 when R/sim/ppp0 exists, fails like ifconfig otherwise.
struct ppp_board : util_board {
    ppp_board() {
        write("/bin/ifconfig",
              "#!/bin/sh\n"
              "if [ \"$1\" = ppp0 ] && [ -f '" +
                  path("/sim/ppp0") +
                  "' ]; then\n"
                  "  echo 'ppp0      Link encap:Point-to-Point Protocol'\n"
                  "  echo '          inet addr:10.0.0.2'\n"
                  "else\n"
                  "  echo \"ifconfig: $1: error fetching interface information\" >&2; exit 1\n"
                  "fi\n",
              0755);
        const char* old = std::getenv("PATH");
        oldPath = old ? old : "/usr/bin:/bin";
        setenv("PATH", (path("/bin") + ":" + oldPath).c_str(), 1);
    }
    ~ppp_board() { setenv("PATH", oldPath.c_str(), 1); }
    std::string oldPath;
};

TEST(Ppp0LinkUp, FollowsTheInterfaceListingAndLeavesNoScratchFile) {
    ppp_board b;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ppp0_link_up(), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(b.exists(PPP0_SCRATCH_FILE));

    b.write("/sim/ppp0", "");
    EXPECT_EQ(ppp0_link_up(), 1);
    EXPECT_FALSE(b.exists(PPP0_SCRATCH_FILE));
}

TEST(StopAndReboot, RecordsTheStopsAndTheRestartAndRunsNothing) {
    util_board b;
    b.configure("trace=trace.log\n");
    // Were the stops carried out, this process of the name "obra" would end.
    std::string exe = b.path("/tmp/obra");
    ASSERT_EQ(std::system(("cp \"$(command -v sleep)\" '" + exe + "'").c_str()), 0);
    pid_t child = fork();
    if (child == 0) {
        execl(exe.c_str(), "obra", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    EXPECT_EQ(stop_and_reboot(), 0);
    EXPECT_EQ(b.read("/sim/trace.log"),
              "killall name=zuvo\nkillall name=obra\nreboot how=0x1234567\n");
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0); // still running
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
}

} // namespace
