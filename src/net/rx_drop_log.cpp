// rx_drop_note, rx_drop_flush: the lines about dropped datagrams, rate-limited.
#include "net/rx_drop_log.h"

#include "log/log.h"

#include <arpa/inet.h>
#include <ctime>

namespace {

void write_first_line(const rx_drop_log& log, in_addr_t sender, long length) {
    if (log.kind == rx_drop_kind::sender) {
        in_addr from{};
        from.s_addr = sender;
        log_printf("audio recevied from unknown device(%s)!\n", inet_ntoa(from));
    } else {
        log_printf("audio datagram of %ld bytes dropped\n", length);
    }
}

void write_summary(const rx_drop_log& log, unsigned long held) {
    if (log.kind == rx_drop_kind::sender) {
        in_addr from{};
        from.s_addr = log.lastSender;
        log_printf("audio from unknown devices: %lu more dropped, the last from %s\n", held,
                   inet_ntoa(from));
    } else {
        log_printf("audio datagrams of wrong length: %lu more dropped, the last of %ld bytes\n",
                   held, log.lastLength);
    }
}

} // namespace

int64_t rx_clock_us() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void rx_drop_note(rx_drop_log& log, in_addr_t sender, long length, int64_t nowUs) {
    if (line_limit_note(log.limit, nowUs) == 1) {
        write_first_line(log, sender, length);
        return;
    }
    log.lastSender = sender;
    log.lastLength = length;
    rx_drop_flush(log, nowUs);
}

void rx_drop_flush(rx_drop_log& log, int64_t nowUs) {
    const unsigned long held = line_limit_take(log.limit, nowUs);
    if (held != 0)
        write_summary(log, held);
}
