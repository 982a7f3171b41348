// Synthetic speech generator: determinism, truth tracks, spectral truth, WAV output.
#include "tools/synth/synthspeech.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace brisvane::synth {
namespace {

constexpr double kPi = 3.141592653589793;

Segment voiced(double sec, double a, double b, double jitter = 0.0, double level = 0.5) {
  return Segment{SegmentKind::Voiced, sec, a, b, jitter, level};
}
Segment silence(double sec) { return Segment{SegmentKind::Silence, sec, 0, 0, 0, 0}; }
Segment unvoiced(double sec) { return Segment{SegmentKind::Unvoiced, sec, 0, 0, 0, 0.2}; }

// Power of x[n0 .. n0+len) at f Hz (DFT, optionally Hann-windowed).
double power(const std::vector<double>& x, size_t n0, size_t len, double f, double fs, bool hann) {
  double re = 0.0, im = 0.0;
  for (size_t n = 0; n < len; ++n) {
    const double w = hann ? 0.5 - 0.5 * std::cos(2.0 * kPi * n / len) : 1.0;
    const double ph = 2.0 * kPi * f * static_cast<double>(n0 + n) / fs;
    re += w * x[n0 + n] * std::cos(ph);
    im += w * x[n0 + n] * std::sin(ph);
  }
  return re * re + im * im;
}

std::vector<unsigned char> readbytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Sample n of a canonical 44-byte-header 16-bit WAV.
int16_t sample(const std::vector<unsigned char>& b, size_t n) {
  return static_cast<int16_t>(static_cast<uint16_t>(b[44 + 2 * n] | (b[45 + 2 * n] << 8)));
}

TEST(SynthDeterminism, SameConfigSameSamplesAndIndependentRandomStreams) {
  Config c = demoutterance();
  c.noisesnr_db = 30.0;
  c.voicedcutoff = 5000.0;
  const Result a = synthesize(c);
  EXPECT_EQ(synthesize(c).signal, a.signal);
  c.seed = 2;
  EXPECT_NE(synthesize(c).signal, a.signal);
  // The noise level must not change the jitter pattern.
  c.noisesnr_db = 1e9;
  const Result clean = synthesize(c);
  c.noisesnr_db = 10.0;
  EXPECT_EQ(synthesize(c).f0, clean.f0);
}

TEST(SynthTruth, FrameCountFollowsTheFrameGrid) {
  const size_t cases[][2] = {{0, 0}, {1, 1}, {79, 1}, {80, 1}, {81, 2}, {160, 2}, {161, 3}};
  for (const auto& [samples, frames] : cases) {
    Config c;
    c.segments = {voiced(samples / c.fs, 150, 150)};
    const Result r = synthesize(c);
    ASSERT_EQ(r.signal.size(), samples);
    EXPECT_TRUE(r.f0.size() == frames && r.fv.size() == frames && r.stable.size() == frames) << samples;
  }
}

TEST(SynthTruth, ContourLevelsAndFadesOfEachSegment) {
  Config c;
  c.segments = {silence(0.1), voiced(0.5, 100, 180, 0.0, 0.4), unvoiced(0.2), voiced(0.5, 220, 150, 0.01), silence(0.1)};
  const Result r = synthesize(c);
  const double starts[] = {0.1, 0.8}, f0a[] = {100, 220}, f0b[] = {180, 150};
  size_t stable = 0;
  for (size_t k = 0; k < r.f0.size(); ++k) {
    const double t = static_cast<double>(k) * 80.0 / c.fs;
    const int seg = (t >= 0.1 && t < 0.6) ? 0 : (t >= 0.8 && t < 1.3) ? 1 : -1;
    if (seg < 0) {
      EXPECT_TRUE(r.f0[k] == 0.0 && r.fv[k] == 0.0 && r.stable[k] == 0) << k;
      continue;
    }
    EXPECT_EQ(r.fv[k], 8000.0);
    // Plain glide: within half a period's worth of glide; 1 % jitter: within 5 sd.
    const double want = f0a[seg] + (f0b[seg] - f0a[seg]) * (t - starts[seg]) / 0.5;
    EXPECT_NEAR(r.f0[k] / want, 1.0, seg == 0 ? 0.01 : 0.05) << k;
    stable += r.stable[k];
    if (r.stable[k]) {  // whole 30 ms neighbourhood inside the unfaded segment
      EXPECT_TRUE(t - 0.015 >= starts[seg] + 0.005 - 1e-9 && t + 0.015 <= starts[seg] + 0.5 - 0.005) << k;
    }
  }
  EXPECT_GE(stable, 2u * 85u);  // (500 - 2 * 20) ms / 5 ms per segment, minus rounding

  auto peak = [&](size_t a, size_t b) {
    double p = 0.0;
    for (size_t n = a; n < b; ++n) p = std::max(p, std::fabs(r.signal[n]));
    return p;
  };
  EXPECT_EQ(peak(0, 1600), 0.0);  // silence is exact zero
  EXPECT_NEAR(peak(1600, 9600), 0.4, 1e-12);
  EXPECT_NEAR(peak(9600, 12800), 0.2, 1e-12);
  for (size_t edge : {1600, 9599, 9600, 12799, 12800, 20799}) {  // faded, no clicks
    EXPECT_LT(std::fabs(r.signal[edge]), 0.01) << edge;
  }
}

TEST(SynthTruth, JitterHasTheConfiguredSpreadAndTruthIsTheActualPeriod) {
  Config c;
  c.segments = {voiced(2.0, 125, 125, 0.02)};
  const Result r = synthesize(c);
  double s = 0.0, s2 = 0.0;
  for (size_t i = 0; i + 1 < r.pulses.size(); ++i) {
    const double d = (r.pulses[i + 1] - r.pulses[i]) / 128.0 - 1.0;
    s += d;
    s2 += d * d;
  }
  const double m = static_cast<double>(r.pulses.size() - 1);
  EXPECT_NEAR(s / m, 0.0, 0.004);
  EXPECT_NEAR(std::sqrt(s2 / m - (s / m) * (s / m)), 0.02, 0.003);
  for (size_t k = 0; k < r.f0.size(); ++k) {
    auto it = std::upper_bound(r.pulses.begin(), r.pulses.end(), k * 80.0);
    if (it != r.pulses.begin() && it != r.pulses.end()) {
      EXPECT_NEAR(r.f0[k], c.fs / (*it - *(it - 1)), 1e-9);
    }
  }
}

TEST(SynthSignal, AdditiveNoiseHasTheConfiguredSnr) {
  Config c;
  c.segments = {silence(0.5), voiced(1.0, 140, 140)};
  const Result clean = synthesize(c);
  c.noisesnr_db = 20.0;
  const Result noisy = synthesize(c);
  double pv = 0.0, pn = 0.0;
  for (size_t n = 8000; n < 24000; ++n) pv += clean.signal[n] * clean.signal[n];
  for (size_t n = 0; n < 8000; ++n) pn += noisy.signal[n] * noisy.signal[n];
  EXPECT_NEAR(10.0 * std::log10((pv / 16000.0) / (pn / 8000.0)), 20.0, 0.3);
}

TEST(SynthSpectrum, EnvelopeIsTheVoicedFilterChainAndPeaksAtTheFormants) {
  // Harmonic amplitudes over whole periods equal the envelope up to one constant (which
  // also pins the signal's f0); at 120 Hz the pulses fall between samples, which also
  // checks the band-limited pulse.
  for (double f0 : {200.0, 120.0}) {
    const Config c = steadyvowel(f0, 1.0);
    const Result r = synthesize(c);
    double lo = 1e300, hi = -1e300;
    for (double f = f0; f < 7400.0; f += f0) {
      const double d = 0.5 * std::log(power(r.signal, 6000, 4000, f, c.fs, false)) - envelopelog(c, f);
      lo = std::min(lo, d), hi = std::max(hi, d);
    }
    EXPECT_LT(hi - lo, 0.01) << f0;  // 0.09 dB
  }
  const Config c;
  std::vector<double> peaks;
  for (double f = 2.0; f < 7999.0; f += 1.0) {
    const double v = envelopelog(c, f);
    if (v > envelopelog(c, f - 1.0) && v >= envelopelog(c, f + 1.0)) peaks.push_back(f);
  }
  ASSERT_EQ(peaks.size(), c.formants.size());
  for (size_t i = 0; i < peaks.size(); ++i) EXPECT_NEAR(peaks[i], c.formants[i].freq, 0.05 * c.formants[i].freq);
  EXPECT_TRUE(std::isfinite(envelopelog(c, 0.0)) && std::isfinite(envelopelog(c, 8000.0)));
}

TEST(SynthSpectrum, MixedExcitationNoiseContinuesTheHarmonicLevel) {
  Config c = steadyvowel(200, 2.0);
  c.voicedcutoff = 4000.0;
  const Result r = synthesize(c);
  for (double fv : r.fv) EXPECT_EQ(fv, 4000.0);
  // Welch spectrum whitened by the envelope: equal mean level just below and just above
  // the cut-off; below it the power sits on the harmonics only, above it everywhere.
  std::vector<double> psd(200, 0.0);  // 25 ms frames, 40 Hz bins
  for (size_t n0 = 1000; n0 + 1400 < r.signal.size(); n0 += 200)
    for (size_t k = 50; k < 150; ++k) psd[k] += power(r.signal, n0, 400, k * 40.0, c.fs, true) / std::exp(2.0 * envelopelog(c, k * 40.0));
  double below = 0.0, above = 0.0;
  for (size_t k = 0; k < 25; ++k) below += psd[63 + k], above += psd[113 + k];  // 2520-3480, 4520-5480 Hz
  EXPECT_NEAR(10.0 * std::log10(below / above), 0.0, 1.0);
  EXPECT_LT(psd[78], 0.01 * psd[75]);   // 3100 Hz, between harmonics, vs the 3000 Hz harmonic
  EXPECT_GT(psd[128], 0.2 * psd[125]);  // 5100 Hz vs 5000 Hz
}

TEST(SynthConfig, InvalidConfigurationsAreRejected) {
  using Edit = void (*)(Config&);
  const Edit edits[] = {
      [](Config& c) { c.segments[0].f0start = 8000; },  [](Config& c) { c.segments[0].f0end = 0; },
      [](Config& c) { c.segments[0].level = 1.0; },     [](Config& c) { c.segments[0].seconds = -0.1; },
      [](Config& c) { c.segments[0].jitter = 0.5; },    [](Config& c) { c.formants.push_back({8000, 100}); },
      [](Config& c) { c.formants[0].bandwidth = 0; },   [](Config& c) { c.shift = 0; },
      [](Config& c) { c.noisesnr_db = NAN; },           [](Config& c) { c.voicedcutoff = 9000; },
      [](Config& c) { c.segments[0].seconds = 7200; },
  };
  for (Edit e : edits) {
    Config c = steadyvowel(120, 0.2);
    e(c);
    EXPECT_THROW(synthesize(c), std::invalid_argument);
  }
  Config c;
  c.formants[1].freq = -5;
  EXPECT_THROW(envelopelog(c, 100), std::invalid_argument);
}

TEST(SynthWav, CanonicalHeaderRoundTripRoundingAndClipping) {
  const std::string path = std::string(BRISVANE_BINARY_DIR) + "/test_synthspeech_rt.wav";
  const Result r = synthesize(demoutterance());
  std::vector<double> x = r.signal;
  const std::vector<double> edge = {1.0, -1.0, -1.5, 2.0, NAN, 0.5 / 32768, -0.5 / 32768, 32766.5 / 32768};
  const std::vector<int16_t> edgeq = {32767, -32768, -32768, 32767, 0, 1, -1, 32767};
  x.insert(x.end(), edge.begin(), edge.end());
  ASSERT_TRUE(writewav16(path, x, 16000.0));
  const std::vector<unsigned char> b = readbytes(path);
  std::remove(path.c_str());
  ASSERT_EQ(b.size(), 44 + 2 * x.size());
  const uint32_t data = static_cast<uint32_t>(2 * x.size()), riff = data + 36;
  auto at = [](uint32_t v, int bits) { return static_cast<unsigned char>(v >> bits); };
  const std::vector<unsigned char> header = {
      'R', 'I', 'F', 'F', at(riff, 0), at(riff, 8), at(riff, 16), at(riff, 24),
      'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,  // PCM, mono
      0x80, 0x3e, 0, 0, 0, 0x7d, 0, 0, 2, 0, 16, 0,                       // 16000 Hz, 32000 B/s, 16 bits
      'd', 'a', 't', 'a', at(data, 0), at(data, 8), at(data, 16), at(data, 24)};
  EXPECT_EQ(std::vector<unsigned char>(b.begin(), b.begin() + 44), header);
  for (size_t n = 0; n < r.signal.size(); ++n)
    ASSERT_LE(std::fabs(sample(b, n) / 32768.0 - x[n]), 0.5 / 32768 + 1e-15) << n;
  for (size_t i = 0; i < edge.size(); ++i) EXPECT_EQ(sample(b, r.signal.size() + i), edgeq[i]) << i;

  EXPECT_FALSE(writewav16(std::string(BRISVANE_BINARY_DIR) + "/no/such/dir/x.wav", x, 16000.0));
  EXPECT_FALSE(writewav16(path, x, 0.0));
  EXPECT_FALSE(writewav16(path, x, NAN));
}

TEST(SynthWav, BundledSampleIsTheDemoUtterance) {
  const std::string dir = BRISVANE_SOURCE_DIR;
  const std::vector<unsigned char> b = readbytes(dir + "/data/sample.wav");
  const Result r = synthesize(demoutterance());
  ASSERT_EQ(b.size(), 44 + 2 * r.signal.size());
  // Identical here; another mathematics library may move a rare sample by one step.
  size_t differ = 0;
  for (size_t n = 0; n < r.signal.size(); ++n) {
    const double d = std::fabs(sample(b, n) - std::clamp(std::round(r.signal[n] * 32768.0), -32768.0, 32767.0));
    ASSERT_LE(d, 1.0) << n;
    differ += d > 0.0;
  }
  EXPECT_LE(differ, r.signal.size() / 1000);
  std::ifstream truth(dir + "/data/sample.f0.txt");
  const std::vector<double> f0{std::istream_iterator<double>(truth), std::istream_iterator<double>()};
  ASSERT_EQ(f0.size(), r.f0.size());
  for (size_t k = 0; k < f0.size(); ++k) EXPECT_NEAR(f0[k], r.f0[k], 1e-5) << k;
}

}  // namespace
}  // namespace brisvane::synth
