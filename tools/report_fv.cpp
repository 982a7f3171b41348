// Accuracy of the maximum voiced frequency estimator on synthetic speech with a known
// voiced cut-off: mixed excitation whose harmonics stop at the cut-off and whose noise
// starts there, through the default formant cascade (16 kHz, 5 ms frames). The estimator
// is given the true f0 track, so pitch errors do not enter. Scored on the stable voiced
// frames (whole +-15 ms neighbourhood inside one unfaded voiced stretch):
//   median, mean   absolute error of the estimate against the cut-off, Hz
//   bias           mean signed error (estimate - truth), Hz
//   zero           frames estimated as 0 (no peak found or a 0 Hz boundary), %
// Each condition is 1 s of steady voicing between silences; a second block adds 1 % jitter
// and a glide to see how much a less stationary voice costs.
// Usage: report_fv
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "analysis/fvanalysis.h"
#include "tools/synth/synthspeech.h"

namespace {

using brisvane::synth::Config;
using brisvane::synth::Segment;
using brisvane::synth::SegmentKind;

constexpr double kFs = 16000.0;
constexpr uint32_t kShift = 80;

struct Scores {
  double median = 0.0, mean = 0.0, bias = 0.0, zero = 0.0;
  int frames = 0;
};

Config mixedvowel(double f0a, double f0b, double jitter, double cutoff, uint64_t seed) {
  Config c;
  c.fs = kFs;
  c.shift = kShift;
  c.segments = {Segment{SegmentKind::Silence, 0.1, 0.0, 0.0, 0.0, 0.0},
                Segment{SegmentKind::Voiced, 1.0, f0a, f0b, jitter, 0.5},
                Segment{SegmentKind::Silence, 0.1, 0.0, 0.0, 0.0, 0.0}};
  c.voicedcutoff = cutoff;
  c.seed = seed;
  return c;
}

Scores score(const Config& cfg) {
  const brisvane::synth::Result r = brisvane::synth::synthesize(cfg);
  const uint32_t n = static_cast<uint32_t>(r.f0.size());
  std::vector<double> fv(n, 0.0);
  brisvane::getfvoicing(r.signal.data(), static_cast<uint32_t>(r.signal.size()), cfg.fs,
                        cfg.shift, 0, n, r.f0.data(), fv.data());
  std::vector<double> err;
  Scores s;
  int zeros = 0;
  for (uint32_t k = 0; k < n; ++k) {
    if (r.stable[k] == 0) continue;
    const double e = fv[k] - r.fv[k];
    err.push_back(std::fabs(e));
    s.bias += e;
    if (fv[k] == 0.0) ++zeros;
  }
  s.frames = static_cast<int>(err.size());
  if (err.empty()) return s;
  for (double e : err) s.mean += e;
  s.mean /= static_cast<double>(err.size());
  s.bias /= static_cast<double>(err.size());
  s.zero = 100.0 * zeros / static_cast<double>(err.size());
  std::sort(err.begin(), err.end());
  const std::size_t h = err.size() / 2;
  s.median = err.size() % 2 == 1 ? err[h] : 0.5 * (err[h - 1] + err[h]);
  return s;
}

void printrow(const char* label, double cutoff, const Scores& s) {
  std::printf("%-18s %7.0f %7d %9.1f %9.1f %9.1f %7.1f\n", label, cutoff, s.frames, s.median,
              s.mean, s.bias, s.zero);
}

void header() {
  std::printf("%-18s %7s %7s %9s %9s %9s %7s\n", "voice", "cutoff", "frames", "median", "mean",
              "bias", "zero%");
}

}  // namespace

int main() {
  std::printf("Maximum voiced frequency against the true voiced cut-off (errors in Hz)\n\n");
  header();
  for (double f0 : {100.0, 150.0, 220.0}) {
    for (int khz = 1; khz <= 7; ++khz) {
      char label[32];
      std::snprintf(label, sizeof label, "steady %.0f Hz", f0);
      const double cutoff = 1000.0 * khz;
      printrow(label, cutoff, score(mixedvowel(f0, f0, 0.0, cutoff, 1 + khz)));
    }
  }
  std::printf("\n");
  header();
  for (int khz = 1; khz <= 7; ++khz) {
    const double cutoff = 1000.0 * khz;
    printrow("jitter 1% 130 Hz", cutoff, score(mixedvowel(130.0, 130.0, 0.01, cutoff, 11 + khz)));
    printrow("glide 100-200 Hz", cutoff, score(mixedvowel(100.0, 200.0, 0.0, cutoff, 21 + khz)));
  }
  return 0;
}
