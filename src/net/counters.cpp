// The counters line on SIGUSR1: the handler notes the request, the receive loop writes it.
#include "net/counters.h"

#include "log/log.h"
#include "net/rx_path.h"

#include <csignal>
#include <pthread.h>

tx_counters txCounters;

namespace {

volatile sig_atomic_t countersRequest = 0;

void note_request(int) {
    countersRequest = 1;
}

sigset_t request_signal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    return set;
}

} // namespace

void counters_request_init() {
    struct sigaction action {};
    action.sa_handler = note_request;
    sigemptyset(&action.sa_mask);
    // A device write or a log write of the receive loop that the signal interrupts goes on
    // where it was; poll never restarts whatever the flag, so the loop still wakes at once.
    action.sa_flags = SA_RESTART;
    (void)sigaction(SIGUSR1, &action, nullptr);
    const sigset_t held = request_signal();
    (void)pthread_sigmask(SIG_BLOCK, &held, nullptr);
}

void counters_request_accept() {
    const sigset_t taken = request_signal();
    (void)pthread_sigmask(SIG_UNBLOCK, &taken, nullptr);
}

int counters_requested() {
    if (countersRequest == 0)
        return 0;
    countersRequest = 0;
    return 1;
}

void log_counters(const rx_state& rx) {
    log_printf(COUNTERS_FORMAT, txCounters.captured.load(std::memory_order_relaxed),
               txCounters.sent.load(std::memory_order_relaxed),
               txCounters.sendFailures.load(std::memory_order_relaxed), rx.received, rx.played,
               rx.droppedSender, rx.droppedLength,
               txCounters.readFailures.load(std::memory_order_relaxed), rx.writeFailures,
               rx.stream.lost, rx.stream.duplicated, rx.stream.reordered,
               stream_jitter_ms(rx.stream), rx.stream.stops);
}
