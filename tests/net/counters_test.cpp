// Counters on demand: SIGUSR1 held back through start-up and taken by the receive loop only,
// and the one line that answers it.
#include "net/counters.h"
#include "net/rx_path.h"

#include <csignal>
#include <pthread.h>
#include <gtest/gtest.h>
#include <string>

namespace {

bool usr1_blocked_here() {
    sigset_t now;
    pthread_sigmask(SIG_SETMASK, nullptr, &now);
    return sigismember(&now, SIGUSR1) == 1;
}

void* report_mask(void* blocked) {
    *static_cast<bool*>(blocked) = usr1_blocked_here();
    return nullptr;
}

TEST(Counters, RequestIsHeldThroughStartUpAndTakenByTheLoopOnly) {
    counters_request_init();
    // During start-up, or parked: the signal neither ends the process nor is lost.
    ASSERT_EQ(raise(SIGUSR1), 0);
    EXPECT_EQ(counters_requested(), 0);
    // Threads started later (the transmit thread) never take it.
    pthread_t t;
    bool blocked = false;
    ASSERT_EQ(pthread_create(&t, nullptr, report_mask, &blocked), 0);
    pthread_join(t, nullptr);
    EXPECT_TRUE(blocked);

    counters_request_accept();
    EXPECT_FALSE(usr1_blocked_here());
    EXPECT_EQ(counters_requested(), 1); // the request held back arrives with the loop
    EXPECT_EQ(counters_requested(), 0); // and is answered once
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(raise(SIGUSR1), 0);
        EXPECT_EQ(counters_requested(), 1);
    }
    EXPECT_EQ(counters_requested(), 0);
}

TEST(Counters, LineCarriesEveryCountInItsPlace) {
    txCounters.captured.store(4000000000ul);
    txCounters.sent.store(3999999990ul);
    txCounters.sendFailures.store(10);
    rx_state rx;
    rx.received = 17;
    rx.played = 9;
    rx.droppedSender = 5;
    rx.droppedLength = 3;
    testing::internal::CaptureStdout();
    log_counters(rx);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "counters: captured 4000000000 sent 3999999990 send_failures 10 received 17 "
              "played 9 dropped_sender 5 dropped_length 3\n");
}

} // namespace
