// Cost of one harmonic fit and of the harmonic pitch refinement on synthetic vowels (glottal
// pulse train through four formants, 16 kHz): getharmonics with every harmonic below 8 kHz
// at 60, 120 and 250 Hz, and harefinepitch from an f0 4 % off the true one, one step
// (F0ITREF 1) and up to three steps (F0ITREF 3), both frequency readings.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "analysis/harmonicanalysis.h"
#include "tools/synth/synthspeech.h"

namespace {

constexpr double kFs = 16000.0;
constexpr uint32_t kCentre = 4000;  // frame centre, well inside the steady vowel

std::vector<double> vowel(double f0) {
  brisvane::synth::Config cfg;
  cfg.fs = kFs;
  cfg.segments = {{brisvane::synth::SegmentKind::Voiced, 0.5, f0, f0, 0.0, 0.5}};
  return brisvane::synth::synthesize(cfg).signal;
}

// One fit per iteration by Fit (getharmonics or getharmonicsfast) with every harmonic below
// 8 kHz.
template <int (*Fit)(const double*, uint32_t, double, uint32_t, double, uint32_t, double*, double*, brisvane::memha*,
                     int)>
void runfit(benchmark::State& state) {
  const double f0 = static_cast<double>(state.range(0));
  const std::vector<double> x = vowel(f0);
  const uint32_t n = static_cast<uint32_t>(brisvane::hanoharms(kFs, kFs, f0));
  auto ws = brisvane::memhacreate(kFs, kFs, 60.0);
  std::vector<double> amp(n), pha(n);
  for (auto _ : state) {
    const int rc = Fit(x.data(), static_cast<uint32_t>(x.size()), kFs, kCentre, f0, n, amp.data(), pha.data(),
                       ws.get(), 1);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(amp.data());
  }
  state.counters["harmonics"] = n;
  state.counters["frame"] = brisvane::haframesize(kFs, f0 < 200.0 ? f0 : 200.0);
  state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

void BM_getharmonics(benchmark::State& state) { runfit<brisvane::getharmonics>(state); }
// The same fit by the fast route.
void BM_getharmonicsfast(benchmark::State& state) { runfit<brisvane::getharmonicsfast>(state); }

// The fast fit and its log spectrum on 1024 bins, as the cepstral analysis takes them per voiced
// frame (the difference from BM_getharmonicsfast is the spreading of the log amplitudes).
void BM_harmoniclogspectrumfast(benchmark::State& state) {
  const double f0 = static_cast<double>(state.range(0));
  const std::vector<double> x = vowel(f0);
  constexpr uint32_t kN = 1024;
  auto ws = brisvane::memhacreate(kFs, kFs, 60.0);
  std::vector<double> spec(kN), tables(3 * (kN / 2 + 1));
  for (auto _ : state) {
    const int rc = brisvane::getharmoniclogspectrumfast(x.data(), static_cast<uint32_t>(x.size()), kFs, kCentre,
                                                        f0, kN, spec.data(), ws.get(), 1, tables.data());
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(spec.data());
  }
}

// Arguments: F0ITREF, F0MREF. True f0 120 Hz, tracked at 115 Hz.
void BM_harefinepitch(benchmark::State& state) {
  const uint32_t iterations = static_cast<uint32_t>(state.range(0));
  const int8_t method = static_cast<int8_t>(state.range(1));
  const std::vector<double> x = vowel(120.0);
  auto ws = brisvane::memhacreate(kFs, 1000.0, 30.0);
  double f = 0.0;
  for (auto _ : state) {
    f = brisvane::harefinepitch(x.data(), static_cast<uint32_t>(x.size()), kFs, kCentre, 115.0, 1000.0, ws.get(),
                                iterations - 1, method);
    benchmark::DoNotOptimize(f);
  }
  state.counters["f0_out"] = f;
  state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

BENCHMARK(BM_getharmonics)->Arg(60)->Arg(120)->Arg(250)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_getharmonicsfast)->Arg(60)->Arg(120)->Arg(250)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_harmoniclogspectrumfast)->Arg(60)->Arg(120)->Arg(250)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_harefinepitch)
    ->Args({1, 0})
    ->Args({3, 0})
    ->Args({1, 2})
    ->Args({3, 2})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
