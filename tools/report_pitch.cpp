// Accuracy of the f0 trackers on synthetic speech with known f0, per condition, for the plain
// tracker and the one on the 2x upsampled signal (16 kHz, 5 ms frames, 60..500 Hz):
//   GPE    gross pitch errors: voiced frames (truth and estimate) off by more than 20 %
//   cents  mean and RMS deviation of the remaining voiced frames, in cents
//   V->U   truly voiced frames tracked as unvoiced, % of truly voiced frames
//   U->V   truly unvoiced or silent frames tracked as voiced, % of those frames
// Truth is the generator's f0 at each frame centre, so frames straddling a voicing boundary
// count against the tracker whichever way it decides.
// Usage: report_pitch
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/pitchanalysis.h"
#include "dsp/windowing.h"
#include "tools/synth/synthspeech.h"

namespace {

using brisvane::synth::Config;
using brisvane::synth::Segment;
using brisvane::synth::SegmentKind;

struct Condition {
  std::string name;
  Config cfg;
};

struct Scores {
  double gpe = 0.0, meancents = 0.0, rmscents = 0.0, vu = 0.0, uv = 0.0;
  int voiced = 0, unvoiced = 0;
};

Segment silence(double s) { return {SegmentKind::Silence, s, 0.0, 0.0, 0.0, 0.0}; }
Segment noise(double s) { return {SegmentKind::Unvoiced, s, 0.0, 0.0, 0.0, 0.15}; }
Segment vowel(double s, double f0a, double f0b, double jitter) {
  return {SegmentKind::Voiced, s, f0a, f0b, jitter, 0.5};
}

// Silence, a long voiced stretch, a fricative-like noise, a second voiced stretch, silence.
Config utterance(double f0a, double f0b, double jitter, double snrdb, uint64_t seed) {
  Config c;
  c.segments = {silence(0.15), vowel(1.0, f0a, f0b, jitter), noise(0.15),
                vowel(0.5, f0b, f0a, jitter), silence(0.15)};
  c.noisesnr_db = snrdb;
  c.seed = seed;
  return c;
}

std::vector<Condition> conditions() {
  std::vector<Condition> cs;
  for (double f0 : {70.0, 100.0, 150.0, 250.0, 400.0}) {
    cs.push_back({"steady " + std::to_string(static_cast<int>(f0)) + " Hz",
                  utterance(f0, f0, 0.0, 1e9, 1)});
  }
  cs.push_back({"glide 70-400 Hz", utterance(70.0, 400.0, 0.0, 1e9, 2)});
  cs.push_back({"glide 400-70 Hz", utterance(400.0, 70.0, 0.0, 1e9, 3)});
  cs.push_back({"glide 90-250 Hz", utterance(90.0, 250.0, 0.0, 1e9, 4)});
  cs.push_back({"jitter 2% 120 Hz", utterance(120.0, 120.0, 0.02, 1e9, 5)});
  cs.push_back({"jitter 2% 220 Hz", utterance(220.0, 220.0, 0.02, 1e9, 6)});
  cs.push_back({"jitter 5% 150 Hz", utterance(150.0, 150.0, 0.05, 1e9, 7)});
  for (double snr : {30.0, 20.0, 10.0, 5.0}) {
    cs.push_back({"noise " + std::to_string(static_cast<int>(snr)) + " dB 100-200 Hz",
                  utterance(100.0, 200.0, 0.01, snr, 8)});
  }
  return cs;
}

Scores score(const std::vector<double>& truth, const std::vector<double>& est) {
  Scores s;
  int gross = 0, fine = 0, vu = 0, uv = 0;
  double sum = 0.0, sumsq = 0.0;
  for (size_t k = 0; k < truth.size() && k < est.size(); ++k) {
    if (truth[k] > 0.0) {
      ++s.voiced;
      if (est[k] <= 0.0) {
        ++vu;
      } else if (std::fabs(est[k] - truth[k]) > 0.2 * truth[k]) {
        ++gross;
      } else {
        const double c = 1200.0 * std::log2(est[k] / truth[k]);
        sum += c;
        sumsq += c * c;
        ++fine;
      }
    } else {
      ++s.unvoiced;
      if (est[k] > 0.0) ++uv;
    }
  }
  const int both = gross + fine;
  s.gpe = both > 0 ? 100.0 * gross / both : 0.0;
  s.meancents = fine > 0 ? sum / fine : 0.0;
  s.rmscents = fine > 0 ? std::sqrt(sumsq / fine) : 0.0;
  s.vu = s.voiced > 0 ? 100.0 * vu / s.voiced : 0.0;
  s.uv = s.unvoiced > 0 ? 100.0 * uv / s.unvoiced : 0.0;
  return s;
}

void printrow(const std::string& name, const char* tracker, const Scores& s) {
  std::printf("%-26s %-6s %6.2f %8.2f %8.2f %7.2f %7.2f %6d %6d\n", name.c_str(), tracker, s.gpe,
              s.meancents, s.rmscents, s.vu, s.uv, s.voiced, s.unvoiced);
}

}  // namespace

int main() {
  std::printf("%-26s %-6s %6s %8s %8s %7s %7s %6s %6s\n", "condition", "track", "GPE%",
              "mean_c", "rms_c", "V->U%", "U->V%", "nV", "nU");
  Scores total[2];
  int count = 0;
  for (const Condition& c : conditions()) {
    const brisvane::synth::Result r = brisvane::synth::synthesize(c.cfg);
    const uint32_t len = static_cast<uint32_t>(r.signal.size());
    if (len == 0) continue;
    const uint32_t n = brisvane::getnumframes(len, c.cfg.shift, 0);
    std::vector<double> truth(r.f0.begin(), r.f0.end());
    truth.resize(n, 0.0);
    std::vector<double> est(n);
    for (int hr = 0; hr < 2; ++hr) {
      if (hr == 0) {
        brisvane::getpitch(r.signal.data(), len, c.cfg.fs, c.cfg.shift, 0, n, 60.0, 500.0,
                           est.data());
      } else {
        brisvane::getpitchhighres(r.signal.data(), len, c.cfg.fs, c.cfg.shift, 0, n, 60.0,
                                  500.0, est.data());
      }
      const Scores s = score(truth, est);
      printrow(c.name, hr == 0 ? "plain" : "hires", s);
      total[hr].gpe += s.gpe;
      total[hr].meancents += s.meancents;
      total[hr].rmscents += s.rmscents;
      total[hr].vu += s.vu;
      total[hr].uv += s.uv;
    }
    ++count;
  }
  if (count > 0) {
    for (int hr = 0; hr < 2; ++hr) {
      Scores m = total[hr];
      m.gpe /= count, m.meancents /= count, m.rmscents /= count, m.vu /= count, m.uv /= count;
      printrow("mean over conditions", hr == 0 ? "plain" : "hires", m);
    }
  }
  return 0;
}
