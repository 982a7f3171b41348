// Speed of the f0 trackers on the speech corpus: frames per second and real-time factor
// (seconds of speech analysed per second of processing), for the plain tracker and the one on
// the 2x upsampled signal, each in its documented and its fast form. Command defaults: 16 kHz, 5 ms frames, 60..500 Hz.
// The corpus folder is BRISVANE_CORPUS_DIR (environment first, then the build's default);
// without recordings the benchmarks report a skip.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/pitchanalysis.h"
#include "dsp/windowing.h"
#include "bench/benchcorpus.h"

namespace {

constexpr double kFs = 16000.0;
constexpr uint32_t kShift = 80;

// All corpus recordings, one after the other (sorted by file name).
const std::vector<double>& corpussignal() {
  static const std::vector<double> all = benchcorpus::concatenated();
  return all;
}

template <int (*Tracker)(const double*, uint32_t, double, uint32_t, uint32_t, uint32_t, double,
                         double, double*)>
void runtracker(benchmark::State& state) {
  const std::vector<double>& x = corpussignal();
  if (x.empty()) {
    state.SkipWithError("no corpus recordings found (set BRISVANE_CORPUS_DIR)");
    for (auto _ : state) {
    }
    return;
  }
  const uint32_t len = static_cast<uint32_t>(x.size());
  const uint32_t n = brisvane::getnumframes(len, kShift, 0);
  std::vector<double> f0(n);
  for (auto _ : state) {
    Tracker(x.data(), len, kFs, kShift, 0, n, 60.0, 500.0, f0.data());
    benchmark::DoNotOptimize(f0.data());
    benchmark::ClobberMemory();
  }
  const double iters = static_cast<double>(state.iterations());
  state.counters["frames_per_s"] =
      benchmark::Counter(iters * n, benchmark::Counter::kIsRate);
  state.counters["realtime_factor"] =
      benchmark::Counter(iters * static_cast<double>(len) / kFs, benchmark::Counter::kIsRate);
  state.counters["speech_s"] = static_cast<double>(len) / kFs;
}

void BM_getpitch(benchmark::State& state) { runtracker<brisvane::getpitch>(state); }
void BM_getpitchhighres(benchmark::State& state) { runtracker<brisvane::getpitchhighres>(state); }
void BM_getpitchfast(benchmark::State& state) { runtracker<brisvane::getpitchfast>(state); }
void BM_getpitchhighresfast(benchmark::State& state) {
  runtracker<brisvane::getpitchhighresfast>(state);
}

BENCHMARK(BM_getpitch)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_getpitchhighres)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_getpitchfast)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_getpitchhighresfast)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
