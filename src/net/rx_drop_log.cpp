// rx_drop_note, rx_drop_flush: the rate limit of the lines about dropped datagrams.
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

void write_summary(const rx_drop_log& log) {
    if (log.kind == rx_drop_kind::sender) {
        in_addr from{};
        from.s_addr = log.lastSender;
        log_printf("audio from unknown devices: %lu more dropped, the last from %s\n", log.held,
                   inet_ntoa(from));
    } else {
        log_printf("audio datagrams of wrong length: %lu more dropped, the last of %ld bytes\n",
                   log.held, log.lastLength);
    }
}

bool minute_passed(const rx_drop_log& log, int64_t nowMs) {
    return nowMs - log.lastLineMs >= RX_DROP_SUMMARY_MS;
}

} // namespace

int64_t rx_clock_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void rx_drop_note(rx_drop_log& log, in_addr_t sender, long length, int64_t nowMs) {
    if (!log.anyLine || (log.held == 0 && minute_passed(log, nowMs))) {
        write_first_line(log, sender, length);
        log.anyLine = true;
        log.lastLineMs = nowMs;
        return;
    }
    ++log.held;
    log.lastSender = sender;
    log.lastLength = length;
    rx_drop_flush(log, nowMs);
}

void rx_drop_flush(rx_drop_log& log, int64_t nowMs) {
    if (log.held == 0 || !minute_passed(log, nowMs))
        return;
    write_summary(log);
    log.held = 0;
    log.lastLineMs = nowMs;
}
