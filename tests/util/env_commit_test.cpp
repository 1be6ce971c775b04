// env_commit: env.u run with its output discarded, one commit at a time within a process.
#include "log/log.h"
#include "util/env_write.h"
#include "util_board.h"

#include <thread>
#include <unistd.h>

namespace {

// Polls until the file exists; generous bound, no timing asserted.
bool wait_for(const util_board& b, const std::string& logical) {
    for (int i = 0; i < 60000 && !b.exists(logical); ++i)
        usleep(1000);
    return b.exists(logical);
}

int count_lines(const std::string& text) {
    int n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

TEST(EnvCommit, RunsTheToolAtOnceWithItsOutputDiscardedAndLogsNothing) {
    util_board b;
    b.write(ENV_COMMIT_TOOL,
            "#!/bin/sh\necho out; echo err >&2; printf 'argc=%s\\n' \"$#\" >> '" +
                b.path("/tmp/commits") + "'\n",
            0755);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(env_commit(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(b.read("/tmp/commits"), "argc=0\n");
}

TEST(EnvCommit, TheBoardsToolRecordsTheCommitAndAMissingToolIsNoFailure) {
    util_board b;
    EXPECT_EQ(env_commit(), 0);
    EXPECT_EQ(count_lines(b.read("/sim/env.commits")), 1);
    b.remove(ENV_COMMIT_TOOL);
    EXPECT_EQ(env_commit(), 0);
}

TEST(EnvCommit, ASecondThreadWaitsWhileACommitRunsLoggingEachAttempt) {
    util_board b;
    // The tool marks its start and holds until it is released.
    b.write(ENV_COMMIT_TOOL,
            "#!/bin/sh\n"
            "echo run >> '" +
                b.path("/tmp/commits") +
                "'\n"
                ": > '" +
                b.path("/tmp/started") +
                "'\n"
                "while [ ! -f '" +
                b.path("/tmp/release") + "' ]; do sleep 0.05; done\n",
            0755);
    log_to_file();
    log_reset_line_start();
    ASSERT_EQ(log_set_path("/tmp/commit.log"), 1);

    std::thread first([] { env_commit(); });
    EXPECT_TRUE(wait_for(b, "/tmp/started"));
    std::thread second([] { env_commit(); });
    // The second commit cannot start while the first holds the lock: it logs and retries.
    for (int i = 0; i < 60000 && !contains(b.read("/tmp/commit.log"), "fail"); ++i)
        usleep(1000);
    EXPECT_EQ(count_lines(b.read("/tmp/commits")), 1);
    b.write("/tmp/release", "");
    first.join();
    second.join();
    log_to_screen();

    EXPECT_EQ(count_lines(b.read("/tmp/commits")), 2);
    std::string log = b.read("/tmp/commit.log");
    EXPECT_TRUE(contains(log, "] fail to pthread_mutex_trylock for flash\n")) << log;
}

} // namespace
