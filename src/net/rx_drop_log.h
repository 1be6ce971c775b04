// Lines about dropped datagrams: the first of each kind in full, then at most one summary a
// minute while drops go on (log/line_limit.h), so that a flood can never push the start-up out
// of the log.
#pragma once

#include "log/line_limit.h"

#include <cstdint>
#include <netinet/in.h>

enum class rx_drop_kind { sender, length };

struct rx_drop_log {
    rx_drop_kind kind = rx_drop_kind::sender;
    line_limit limit{};
    in_addr_t lastSender = 0; // sender of the last datagram held
    long lastLength = 0;      // length of the last datagram held
};

// Monotonic clock in microseconds, the time base of the receive loop.
int64_t rx_clock_us();

// Notes one dropped datagram (its sender, its length) at nowUs. The first drop of a kind, and
// the first after a quiet minute, writes the full line; later ones are held and reported in a
// summary once a minute has passed since the last line.
void rx_drop_note(rx_drop_log& log, in_addr_t sender, long length, int64_t nowUs);

// Writes the summary of what is held once a minute has passed since the last line, so that
// a count is reported after the drops have stopped too.
void rx_drop_flush(rx_drop_log& log, int64_t nowUs);
