// stream_note, stream_tick: losses, duplicates, late frames, jitter and stops of the stream.
#include "net/stream_stats.h"

namespace {

// Signed distance from one 16-bit counter to the next, across the wrap.
int step_between(uint16_t from, uint16_t to) {
    return static_cast<int16_t>(static_cast<uint16_t>(to - from));
}

void add_jitter(stream_stats& s, int64_t d) {
    if (d < 0)
        d = -d;
    s.jitterX16Us += d - ((s.jitterX16Us + 8) >> 4);
}

// The window starts afresh at this counter: the next datagram is compared with it, and
// nothing before it is counted.
void restart_window(stream_stats& s, uint16_t counter) {
    s.haveReference = true;
    s.highest = counter;
    s.seen = 1;
    s.tracked = 0;
}

// A fresh reference: the window, and the runs that decide whether the tail counts.
void take_reference(stream_stats& s, uint16_t counter) {
    restart_window(s, counter);
    s.countRun = 0;
    s.oddRun = 0;
    s.oddRunDuplicated = 0;
}

void account_by_time(stream_stats& s, int64_t spacingUs) {
    int64_t periods = (spacingUs + STREAM_FRAME_US / 2) / STREAM_FRAME_US;
    if (periods < 1)
        periods = 1;
    s.lost += static_cast<unsigned long>(periods - 1);
    add_jitter(s, spacingUs - periods * STREAM_FRAME_US);
}

// A counter that is neither a small step forward nor inside the window behind.
bool plausible_step(int step) {
    return (step >= 1 && step <= STREAM_WINDOW) || (step < 0 && step > -STREAM_WINDOW);
}

void count_duplicate(stream_stats& s, bool plausible) {
    ++s.duplicated;
    if (!plausible)
        ++s.oddRunDuplicated;
}

void account_by_counter(stream_stats& s, uint16_t counter, int step, bool plausible,
                        int64_t spacingUs) {
    const int ahead = step_between(s.highest, counter);
    // Far outside the window the sender has jumped (restarted, or another counter): counting
    // the thousands of values in between as lost would say nothing about the network, so the
    // window starts afresh there instead. The odd run goes on: a tail that keeps jumping is
    // no counter.
    if (ahead > STREAM_WINDOW || ahead <= -STREAM_WINDOW) {
        restart_window(s, counter);
        return;
    }
    if (ahead > 0) {
        s.lost += static_cast<unsigned long>(ahead - 1);
        s.seen = (ahead >= 64 ? 0 : s.seen << ahead) | 1;
        s.tracked = s.tracked + ahead < STREAM_WINDOW ? s.tracked + ahead : STREAM_WINDOW - 1;
        s.highest = counter;
    } else if (ahead == 0) {
        count_duplicate(s, plausible);
    } else {
        const int behind = -ahead;
        const uint64_t bit = uint64_t{1} << behind;
        if ((s.seen & bit) != 0) {
            count_duplicate(s, plausible);
        } else {
            s.seen |= bit;
            ++s.reordered;
            // Only a counter passed over since the reference was counted lost.
            if (behind <= s.tracked && s.lost > 0)
                --s.lost;
        }
    }
    add_jitter(s, spacingUs - step * STREAM_FRAME_US);
}

void account(stream_stats& s, uint16_t counter, int64_t spacingUs) {
    const int step = step_between(s.lastCounter, counter);
    if (!s.counting) {
        s.countRun = step == 1 ? s.countRun + 1 : 0;
        if (s.countRun < STREAM_COUNTING_RUN) {
            account_by_time(s, spacingUs);
            return;
        }
        // The tail counts: the window starts with the run that showed it.
        s.counting = true;
        s.oddRun = 0;
        s.oddRunDuplicated = 0;
        s.highest = counter;
        s.seen = (uint64_t{1} << (STREAM_COUNTING_RUN + 1)) - 1;
        s.tracked = 0; // no loss was counted in the run: none to take back
        add_jitter(s, spacingUs - STREAM_FRAME_US);
        return;
    }
    const bool plausible = plausible_step(step);
    if (plausible) {
        s.oddRun = 0;
        s.oddRunDuplicated = 0;
    } else if (++s.oddRun >= STREAM_ODD_RUN) {
        // A constant tail would look like duplicates for ever: the duplicates the run counted
        // are taken back, and time decides from here on.
        s.counting = false;
        s.countRun = 0;
        s.duplicated -= s.oddRunDuplicated;
        s.oddRun = 0;
        s.oddRunDuplicated = 0;
        account_by_time(s, spacingUs);
        return;
    }
    account_by_counter(s, counter, step, plausible, spacingUs);
}

} // namespace

stream_event stream_note(stream_stats& s, uint16_t counter, int64_t nowUs, in_addr_t sender) {
    stream_event event = stream_event::none;
    if (!s.everPlayed) {
        event = stream_event::started;
    } else if (!s.playing) {
        event = stream_event::resumed;
        s.silenceUs = nowUs - s.lastArrivalUs;
    }
    if (s.everPlayed && sender != s.sender) {
        // Another sender (any sender is played when IN_SRC is empty): its counter and its
        // driver are its own.
        s.haveReference = false;
        s.counting = false;
    }
    if (s.haveReference)
        account(s, counter, nowUs - s.lastArrivalUs);
    else
        take_reference(s, counter);
    s.everPlayed = true;
    s.playing = true;
    s.sender = sender;
    s.lastArrivalUs = nowUs;
    s.lastCounter = counter;
    return event;
}

stream_event stream_tick(stream_stats& s, int64_t nowUs) {
    if (!s.playing || nowUs - s.lastArrivalUs < STREAM_STOP_US)
        return stream_event::none;
    s.playing = false;
    s.haveReference = false;
    ++s.stops;
    return stream_event::stopped;
}

double stream_jitter_ms(const stream_stats& s) {
    return static_cast<double>(s.jitterX16Us) / 16.0 / 1000.0;
}
