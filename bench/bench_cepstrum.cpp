// Speed of the cepstral envelope analysis (16 kHz, order 39, alpha 0.42, FFT 1024).
//  - BM_frame/<method>/<voiced>: one per-frame method on one frame of a synthetic 150 Hz vowel
//    (voiced = 1) or of the same signal analysed as unvoiced (voiced = 0), with a workspace made
//    for a lowest f0 of 60 Hz; the time per iteration is the time per frame.
//  - BM_waveform2ccs/<method>/<fast>: the whole stream of every corpus recording, one call per
//    file as the command does (fast = 1: waveform2ccsfast, 0: the documented waveform2ccs), with the f0 track of the plain pitch tracker (60..500 Hz) computed once
//    outside the timing. realtime_factor = seconds of speech analysed per second of processing.
// The corpus folder is BRISVANE_CORPUS_DIR (environment first, then the build's default);
// without recordings the corpus benchmarks report a skip.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/ccanalysis.h"
#include "analysis/pitchanalysis.h"
#include "dsp/windowing.h"
#include "bench/benchcorpus.h"
#include "tools/synth/synthspeech.h"

namespace {

constexpr double kFs = 16000.0;
constexpr uint32_t kShift = 80;
constexpr uint32_t kOrder = 39;
constexpr double kAlpha = 0.42;
constexpr uint32_t kN = 1024;

using framemethod = int (*)(const double*, uint32_t, double, uint32_t, double, uint32_t, double*, double*, uint32_t,
                            double*, double, brisvane::memcc*);

void BM_frame(benchmark::State& state) {
  const framemethod methods[] = {brisvane::getharmmgc, brisvane::getharmrdc, brisvane::getstrmgc};
  const framemethod run = methods[state.range(0)];
  const double f0 = state.range(1) != 0 ? 150.0 : 0.0;
  const std::vector<double> x = brisvane::synth::synthesize(brisvane::synth::steadyvowel(150.0, 0.5)).signal;
  auto ws = brisvane::memcccreate(kFs, 60.0, brisvane::naframesize(kFs), kN);
  std::vector<double> spectrum(kN), second(kN), c(kOrder + 1);
  const uint32_t len = static_cast<uint32_t>(x.size());
  // The first call sizes the method's scratch, as waveform2ccs does before its frame loop.
  run(x.data(), len, kFs, 4000, f0, kN, spectrum.data(), second.data(), kOrder, c.data(), kAlpha, ws.get());
  for (auto _ : state) {
    run(x.data(), len, kFs, 4000, f0, kN, spectrum.data(), second.data(), kOrder, c.data(), kAlpha, ws.get());
    benchmark::DoNotOptimize(c.data());
    benchmark::ClobberMemory();
  }
}

struct Recording {
  std::vector<double> x;
  std::vector<double> f0;
};

const std::vector<Recording>& corpus() {
  static const std::vector<Recording> all = [] {
    std::vector<Recording> out;
    for (auto& x : benchcorpus::recordings()) {
      Recording r;
      r.x = std::move(x);
      const uint32_t len = static_cast<uint32_t>(r.x.size());
      const uint32_t n = brisvane::getnumframes(len, kShift, 0);
      r.f0.assign(n, 0.0);
      brisvane::getpitch(r.x.data(), len, kFs, kShift, 0, n, 60.0, 500.0, r.f0.data());
      out.push_back(std::move(r));
    }
    return out;
  }();
  return all;
}

void BM_waveform2ccs(benchmark::State& state) {
  const std::vector<Recording>& recs = corpus();
  if (recs.empty()) {
    state.SkipWithError("no corpus recordings found (set BRISVANE_CORPUS_DIR)");
    for (auto _ : state) {
    }
    return;
  }
  const uint8_t method = static_cast<uint8_t>(state.range(0));
  const auto run = state.range(1) != 0 ? brisvane::waveform2ccsfast : brisvane::waveform2ccs;
  double seconds = 0.0, frames = 0.0, voiced = 0.0;
  std::vector<std::vector<double>> cc;
  for (const Recording& r : recs) {
    seconds += static_cast<double>(r.x.size()) / kFs;
    frames += static_cast<double>(r.f0.size());
    voiced += static_cast<double>(std::count_if(r.f0.begin(), r.f0.end(), [](double v) { return v > 0.0; }));
    cc.emplace_back(r.f0.size() * (kOrder + 1));
  }
  for (auto _ : state) {
    for (size_t i = 0; i < recs.size(); ++i) {
      const Recording& r = recs[i];
      run(r.x.data(), static_cast<uint32_t>(r.x.size()), kFs, kShift, 0, static_cast<uint32_t>(r.f0.size()),
          r.f0.data(), kN, kOrder, cc[i].data(), kAlpha, method);
      benchmark::DoNotOptimize(cc[i].data());
    }
    benchmark::ClobberMemory();
  }
  const double iters = static_cast<double>(state.iterations());
  state.counters["speech_s"] = seconds;
  state.counters["voiced_pct"] = 100.0 * voiced / frames;
  state.counters["us_per_frame"] =
      benchmark::Counter(iters * frames * 1e-6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["realtime_factor"] = benchmark::Counter(iters * seconds, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_frame)
    ->ArgNames({"method", "voiced"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_waveform2ccs)
    ->ArgNames({"method", "fast"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
