// What the two audio paths have done since start, and the operator's way to ask for it:
// SIGUSR1 makes the receive loop write one line,
//
//   counters: captured C sent S send_failures F received R played P dropped_sender DS
//   dropped_length DL read_failures RF write_failures WF lost L duplicated D reordered O
//   jitter_ms J stops N
//
// (one line, fields in this order, each a decimal count since start):
//   captured        frames the transmit thread read from the audio device
//   sent            of those, datagrams the network took whole (776 bytes)
//   send_failures   of those, datagrams that sendto refused or cut short
//   received        datagrams of any length and sender taken from the receive socket
//   played          of those, frames handed to the audio device (whole packets from IN_SRC)
//   dropped_sender  of those, datagrams from a sender other than IN_SRC
//   dropped_length  of those, datagrams from IN_SRC that were not exactly 776 bytes
//   read_failures   frame reads of the transmit thread that the audio device refused
//   write_failures  of the played frames, those the audio device refused
//   lost, duplicated, reordered, jitter_ms (one decimal), stops: the statistics of the
//                   played stream (net/stream_stats.h)
// so that captured = sent + send_failures and received = played + dropped_sender +
// dropped_length. Counts are unsigned long: they wrap after 2^32 on the 32-bit board (years at
// the frame rate).
#pragma once

#include <atomic>

struct rx_state;

// Written only by the transmit thread, with relaxed order: no lock on the audio path, and a
// reader on another thread sees each count whole.
struct tx_counters {
    std::atomic<unsigned long> captured{0};
    std::atomic<unsigned long> sent{0};
    std::atomic<unsigned long> sendFailures{0};
    std::atomic<unsigned long> readFailures{0};
};
static_assert(std::atomic<unsigned long>::is_always_lock_free);

extern tx_counters txCounters;

inline constexpr const char* COUNTERS_FORMAT =
    "counters: captured %lu sent %lu send_failures %lu received %lu played %lu "
    "dropped_sender %lu dropped_length %lu read_failures %lu write_failures %lu lost %lu "
    "duplicated %lu reordered %lu jitter_ms %.1f stops %lu\n";

// One more on a count of the transmit thread (its only writer).
inline void count_one(std::atomic<unsigned long>& counter) {
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// Installs the SIGUSR1 handler, which only notes the request, and holds the signal back on
// this thread and on every thread started from it later. Called first in start-up, so that a
// SIGUSR1 during start-up or in a parked process never ends the bridge (the default action)
// and never cuts short a wait of the start-up.
void counters_request_init();
// Lets the calling thread (the receive loop) take SIGUSR1: a request held back until now is
// delivered at once, and one that comes while the loop waits in poll wakes it.
void counters_request_accept();
// 1 once after each request (the request is then cleared), otherwise 0.
int counters_requested();

// Writes the counters line.
void log_counters(const rx_state& rx);
