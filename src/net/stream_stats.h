// Statistics of the played stream, derived from what every datagram already carries: frames
// lost, duplicated and reordered, the interarrival jitter and the stops of the stream.
//
// Counter mode: when packet bytes 772..773 count (the sender's frame counter, big-endian, one
// more per frame, 65535 followed by 0), a window of the STREAM_WINDOW counters behind the
// highest one received tells the faults apart:
//   - a step forward of d from the highest counter counts d - 1 lost;
//   - a counter inside the window not received yet arrives late: it takes one loss back and
//     counts as reordered;
//   - a counter received before counts as duplicated.
// Counters are compared by 16-bit modular differences, so the wrap from 65535 to 0 is a step
// of one like any other.
// Time mode: when the tail does not count (a board driver may keep something else there),
// losses come from arrival times against the frame period: a gap of n periods, rounded, is
// n - 1 lost frames. Nothing tells a duplicate or a late frame then: both stay 0.
// The tail counts once STREAM_COUNTING_RUN datagrams in a row advanced it by exactly one, and
// no longer once STREAM_ODD_RUN datagrams in a row made no plausible counting step.
//
// Jitter: the interarrival jitter of RFC 3550 (section 6.4.1, appendix A.8) over consecutive
// played datagrams, D = arrival spacing - sender spacing, J += (|D| - J) / 16, kept in integer
// form scaled by 16 as in A.8. The sender spacing is the counter difference (signed, modular)
// times the frame period in counter mode, and the whole number of periods nearest to the
// arrival spacing (at least one) in time mode, so that a lost frame counts as loss and not as
// jitter.
//
// Stops: STREAM_STOP_US without a played datagram stops the stream. The next datagram starts
// afresh: it is the new reference, and neither the silence nor a counter jump across it counts
// as loss or jitter.
//
// Plain state of fixed size and pure functions: every time comes from the caller, in
// microseconds of a monotonic clock, so tests run on times of their own.
#pragma once

#include <cstdint>
#include <netinet/in.h>

inline constexpr int64_t STREAM_FRAME_US = 96000;  // 768 samples at 8000 Hz
inline constexpr int64_t STREAM_STOP_US = 1000000; // silence that stops the stream
inline constexpr int STREAM_WINDOW = 64;           // counters behind the highest, told apart
inline constexpr int STREAM_COUNTING_RUN = 3;      // steps of one in a row: the tail counts
inline constexpr int STREAM_ODD_RUN = 5;           // implausible steps in a row: it does not

enum class stream_event { none, started, stopped, resumed };

struct stream_stats {
    // Counts since start, for the counters line.
    unsigned long lost = 0;
    unsigned long duplicated = 0;
    unsigned long reordered = 0;
    unsigned long stops = 0;
    int64_t jitterX16Us = 0; // interarrival jitter in microseconds, times 16

    // The stream.
    bool everPlayed = false;
    bool playing = false;       // a datagram within the last STREAM_STOP_US
    bool haveReference = false; // a datagram to compare the next one with
    in_addr_t sender = 0;       // of the last played datagram
    int64_t lastArrivalUs = 0;  // of the last played datagram
    int64_t silenceUs = 0;      // the silence that the last resume ended
    uint16_t lastCounter = 0;   // tail of the last played datagram

    // Whether the tail counts.
    bool counting = false;
    int countRun = 0;                   // steps of one in a row, in time mode
    int oddRun = 0;                     // implausible steps in a row, in counter mode
    unsigned long oddRunDuplicated = 0; // duplicates counted during that run

    // Counter mode: bit i of seen is set once counter highest - i has been received; the
    // window covers the tracked counters below highest that came after the reference.
    uint16_t highest = 0;
    uint64_t seen = 0;
    int tracked = 0;
};

// One played datagram: the tail counter (packet bytes 772..773), its arrival time and sender.
// Result: started for the first datagram of all, resumed for the first after a stop (silenceUs
// then holds the silence), otherwise none.
stream_event stream_note(stream_stats& s, uint16_t counter, int64_t nowUs, in_addr_t sender);

// A wake-up of the receive loop at nowUs. Result: stopped when the stream has now been silent
// for STREAM_STOP_US (counted in stops), otherwise none.
stream_event stream_tick(stream_stats& s, int64_t nowUs);

// The jitter in milliseconds.
double stream_jitter_ms(const stream_stats& s);
