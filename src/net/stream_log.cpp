// stream_log_event, stream_log_flush: the started, stopped and resumed lines, rate-limited.
#include "net/stream_log.h"

#include "log/log.h"

#include <arpa/inet.h>

namespace {

const char* sender_text(const stream_stats& s) {
    in_addr from{};
    from.s_addr = s.sender;
    return inet_ntoa(from);
}

const char* state_text(const stream_stats& s) {
    return s.playing ? "playing" : "stopped";
}

} // namespace

void stream_log_event(stream_log& log, const stream_stats& s, stream_event event, int64_t nowUs) {
    switch (event) {
    case stream_event::none:
        return;
    case stream_event::started:
        log_printf("audio from %s started\n", sender_text(s));
        return;
    case stream_event::stopped:
        if (line_limit_note(log.stops, nowUs) == 1)
            log_printf("audio from %s stopped\n", sender_text(s));
        break;
    case stream_event::resumed:
        if (line_limit_note(log.resumes, nowUs) == 1)
            log_printf("audio from %s resumed after %.1f s\n", sender_text(s),
                       static_cast<double>(s.silenceUs) / 1e6);
        break;
    }
    stream_log_flush(log, s, nowUs);
}

void stream_log_flush(stream_log& log, const stream_stats& s, int64_t nowUs) {
    if (const unsigned long held = line_limit_take(log.stops, nowUs); held != 0)
        log_printf("audio from %s stopped %lu more time%s, now %s\n", sender_text(s), held,
                   line_limit_plural(held), state_text(s));
    if (const unsigned long held = line_limit_take(log.resumes, nowUs); held != 0)
        log_printf("audio from %s resumed %lu more time%s, now %s\n", sender_text(s), held,
                   line_limit_plural(held), state_text(s));
}
