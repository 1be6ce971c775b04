// The log lines of the stream's state: started, stopped, resumed. The first stop line and the
// first resume line in full, then at most one of each a minute (log/line_limit.h); the ones
// held back are summed up with the state the stream is in when the summary is written:
//
//   audio from %s stopped N more time(s), now playing|stopped
//   audio from %s resumed N more time(s), now playing|stopped
#pragma once

#include "log/line_limit.h"
#include "net/stream_stats.h"

#include <cstdint>

struct stream_log {
    line_limit stops{};
    line_limit resumes{};
};

// Writes the line of the event that stream_note or stream_tick gave at nowUs, or holds it.
void stream_log_event(stream_log& log, const stream_stats& s, stream_event event, int64_t nowUs);

// Writes the summaries of what is held, once a minute has passed since the last line of each.
void stream_log_flush(stream_log& log, const stream_stats& s, int64_t nowUs);
