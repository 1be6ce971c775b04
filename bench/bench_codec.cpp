// Cost of the G.711 frame conversions and of the table build.
//
// Each conversion is timed on a fresh buffer, as the audio paths get one from the device or
// the network for every frame: every iteration first copies the source frame in and then
// converts it in place. BM_frame_copy times that copy alone, so the conversion itself costs
// the difference. The source samples are random over the whole 16-bit range, which spreads
// the lookups over all of lin_to_alaw_table; real audio touches less of it.
#include "codec/frame.h"
#include "codec/g711.h"
#include "log/log.h"

#include <cstring>
#include <random>

#include <benchmark/benchmark.h>

namespace {

pcm_frame random_frame(uint32_t seed) {
    std::mt19937 rng(seed);
    pcm_frame frame;
    for (auto& b : frame)
        b = static_cast<uint8_t>(rng() >> 24);
    return frame;
}

// The table build logs one line each time; keep it out of the benchmark's output.
void quiet_tables() {
    log_set_path("/dev/null");
    log_to_file();
    build_g711_tables();
}

void per_frame_counters(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * FRAME_SAMPLES));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * PCM_FRAME_SIZE));
    state.counters["per_sample"] = benchmark::Counter(
        FRAME_SAMPLES, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_frame_copy(benchmark::State& state) {
    const pcm_frame source = random_frame(1);
    pcm_frame buffer{};
    for (auto _ : state) {
        std::memcpy(buffer.data(), source.data(), PCM_FRAME_SIZE);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    per_frame_counters(state);
}
BENCHMARK(BM_frame_copy);

void BM_alaw_encode_frame(benchmark::State& state) {
    quiet_tables();
    const pcm_frame source = random_frame(1);
    pcm_frame buffer{};
    for (auto _ : state) {
        std::memcpy(buffer.data(), source.data(), PCM_FRAME_SIZE);
        benchmark::DoNotOptimize(alaw_encode_frame(buffer));
        benchmark::ClobberMemory();
    }
    per_frame_counters(state);
}
BENCHMARK(BM_alaw_encode_frame);

void BM_alaw_decode_frame(benchmark::State& state) {
    quiet_tables();
    const pcm_frame source = random_frame(2); // any byte is an A-law code
    pcm_frame buffer{};
    for (auto _ : state) {
        std::memcpy(buffer.data(), source.data(), PCM_FRAME_SIZE);
        benchmark::DoNotOptimize(alaw_decode_frame(buffer));
        benchmark::ClobberMemory();
    }
    per_frame_counters(state);
}
BENCHMARK(BM_alaw_decode_frame);

void BM_build_g711_tables(benchmark::State& state) {
    log_set_path("/dev/null");
    log_to_file();
    for (auto _ : state) {
        build_g711_tables();
        benchmark::ClobberMemory();
    }
    log_to_screen();
}
BENCHMARK(BM_build_g711_tables)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
