// Rate limit of repeated log lines: the first line of a kind in full, then at most one summary
// an interval while more of that kind come, so that a flood or a flapping link can never push
// the start-up lines out of the log and its backup.
#pragma once

#include <cstdint>

// Shortest time between two lines of one kind: a minute, in microseconds.
inline constexpr int64_t LINE_LIMIT_INTERVAL_US = 60000000;

struct line_limit {
    bool anyLine = false;   // a line of this kind has been written
    int64_t lastLineUs = 0; // when the last line of this kind was written
    unsigned long held = 0; // events since that line, not reported yet
};

// One event at nowUs (a monotonic clock). 1: the caller writes its full line now (the first
// of its kind, or the first after a quiet interval); 0: it is held for a summary.
int line_limit_note(line_limit& limit, int64_t nowUs);

// The number of events held, once an interval has passed since the last line; the caller then
// writes their summary, which counts as a line. 0 when nothing is held or it is too early.
unsigned long line_limit_take(line_limit& limit, int64_t nowUs);

// "s" after a count of more or less than one ("2 more times"), "" after one.
inline const char* line_limit_plural(unsigned long n) {
    return n == 1 ? "" : "s";
}
