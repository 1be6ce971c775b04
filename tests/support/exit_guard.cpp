// Linked into every unit test program: how death tests run, and a guard. Code under test ends
// the process on some faults, with status 0 for configuration and device faults, and a test
// that reached one by mistake would pass the tests after it unrun: an exit before the tests are
// done ends with status 1 instead.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

std::atomic<bool> finished{false};

// How death tests run, as the build chose; set up in a death test's own run too.
struct death_test_setup : testing::Environment {
    void SetUp() override { GTEST_FLAG_SET(death_test_style, OBRABI_DEATH_TEST_STYLE); }
};

struct finish_listener : testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest&) override { finished = true; }
};

void refuse_early_exit() {
    if (finished || testing::internal::InDeathTestChild()) // a death test's child may exit
        return;
    const testing::TestInfo* t = testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "test program exited before its tests were done, in %s.%s\n",
                 t ? t->test_suite_name() : "?", t ? t->name() : "?");
    _exit(1);
}

const bool installed = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new finish_listener);
    testing::AddGlobalTestEnvironment(new death_test_setup);
    return std::atexit(refuse_early_exit) == 0;
}();

} // namespace
