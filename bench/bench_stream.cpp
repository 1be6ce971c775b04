// Cost of the stream statistics that the receive loop keeps: one stream_note per played
// datagram and one stream_tick per wake-up of the loop.
//
// The stream is a counting one with the faults a poor network brings, cycled through a table
// of 1024 arrivals made up front: about 1% of the frames lost, a duplicate and a swapped pair
// now and then, and up to 15 ms of arrival jitter, so that every path of the accounting runs.
#include "net/stream_stats.h"

#include <array>
#include <random>

#include <benchmark/benchmark.h>

namespace {

struct arrival {
    uint16_t counter;
    int64_t atUs;
};

std::array<arrival, 1024> poor_stream() {
    std::mt19937 rng(18);
    std::array<arrival, 1024> out{};
    uint16_t counter = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned dice = rng() % 100;
        counter = static_cast<uint16_t>(counter + (dice == 0 ? 2 : 1)); // 1% lost
        uint16_t sent = counter;
        if (dice == 1 && i > 0)
            sent = out[i - 1].counter; // again
        if (dice == 2 && i > 0) {
            sent = out[i - 1].counter; // swapped with the one before
            out[i - 1].counter = counter;
        }
        out[i] = {sent,
                  static_cast<int64_t>(i) * STREAM_FRAME_US + static_cast<int64_t>(rng() % 15000)};
    }
    return out;
}

void BM_stream_note(benchmark::State& state) {
    const auto stream = poor_stream();
    stream_stats s;
    size_t i = 0;
    int64_t laps = 0; // each lap of the table later than the last, so the stream never stops
    for (auto _ : state) {
        const arrival& a = stream[i];
        benchmark::DoNotOptimize(stream_note(s, a.counter, laps + a.atUs, 0x0100007F));
        if (++i == stream.size())
            i = 0, laps += static_cast<int64_t>(stream.size()) * STREAM_FRAME_US;
    }
    benchmark::DoNotOptimize(s.lost);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_stream_note);

void BM_stream_tick(benchmark::State& state) {
    stream_stats s;
    stream_note(s, 1, 0, 0x0100007F);
    int64_t now = STREAM_STOP_US / 2; // the stream plays on
    for (auto _ : state) {
        benchmark::DoNotOptimize(now);
        benchmark::DoNotOptimize(stream_tick(s, now));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_stream_tick);

} // namespace

BENCHMARK_MAIN();
