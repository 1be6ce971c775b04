// Linked into every unit test program. Code under test ends the process on some failures,
// with status 0 for configuration and device faults: a test that reaches one of those by
// mistake would end the program early with status 0, and the tests after it would pass
// unrun. An exit before the last test has finished ends the program with status 1 instead.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

std::atomic<bool> finished{false};

class finish_listener : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest&) override { finished = true; }
};

void refuse_early_exit() {
    // The child of a death test is meant to exit.
    if (finished || testing::internal::InDeathTestChild())
        return;
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "test program exited before its tests were done, in %s.%s\n",
                 test != nullptr ? test->test_suite_name() : "?",
                 test != nullptr ? test->name() : "?");
    _exit(1);
}

const bool installed = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new finish_listener);
    return std::atexit(refuse_early_exit) == 0;
}();

} // namespace
