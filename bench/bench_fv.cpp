// Speed of the maximum voiced frequency estimator on the speech corpus: time per voiced
// frame and real-time factor (seconds of speech analysed per second of processing) of
// getfvoicing and getfvoicingfast at the command defaults (16 kHz, 5 ms frames). The f0
// track comes from the plain pitch tracker (60..500 Hz), computed once outside the timing;
// a second run uses a constant 120 Hz track (every frame voiced) as an upper bound of the
// work.
// The corpus folder is BRISVANE_CORPUS_DIR (environment first, then the build's default);
// without recordings the benchmarks report a skip.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/fvanalysis.h"
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

std::vector<double> trackedf0(const std::vector<double>& x, uint32_t n) {
  std::vector<double> f0(n, 0.0);
  brisvane::getpitch(x.data(), static_cast<uint32_t>(x.size()), kFs, kShift, 0, n, 60.0, 500.0,
                     f0.data());
  return f0;
}

void runfv(benchmark::State& state, bool constant, bool fast = false) {
  const std::vector<double>& x = corpussignal();
  if (x.empty()) {
    state.SkipWithError("no corpus recordings found (set BRISVANE_CORPUS_DIR)");
    for (auto _ : state) {
    }
    return;
  }
  const uint32_t len = static_cast<uint32_t>(x.size());
  const uint32_t n = brisvane::getnumframes(len, kShift, 0);
  const std::vector<double> f0 = constant ? std::vector<double>(n, 120.0) : trackedf0(x, n);
  const double voiced =
      static_cast<double>(std::count_if(f0.begin(), f0.end(), [](double v) { return v > 0.0; }));
  std::vector<double> fv(n);
  for (auto _ : state) {
    (fast ? brisvane::getfvoicingfast : brisvane::getfvoicing)(x.data(), len, kFs, kShift, 0, n,
                                                               f0.data(), fv.data());
    benchmark::DoNotOptimize(fv.data());
    benchmark::ClobberMemory();
  }
  const double iters = static_cast<double>(state.iterations());
  state.counters["voiced_frames"] = voiced;
  state.counters["us_per_voiced_frame"] = benchmark::Counter(
      iters * voiced * 1e-6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["realtime_factor"] =
      benchmark::Counter(iters * static_cast<double>(len) / kFs, benchmark::Counter::kIsRate);
  state.counters["speech_s"] = static_cast<double>(len) / kFs;
}

void BM_getfvoicing_trackedf0(benchmark::State& state) { runfv(state, false); }
void BM_getfvoicing_allvoiced120(benchmark::State& state) { runfv(state, true); }
void BM_getfvoicingfast_trackedf0(benchmark::State& state) { runfv(state, false, true); }

BENCHMARK(BM_getfvoicing_trackedf0)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_getfvoicing_allvoiced120)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_getfvoicingfast_trackedf0)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
