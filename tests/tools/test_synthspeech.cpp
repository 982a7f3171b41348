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

// Amplitude of the sinusoid at f Hz in x[n0 .. n0+len), by correlation; exact for a
// periodic signal when len spans whole periods.
double sineamplitude(const std::vector<double>& x, size_t n0, size_t len, double f, double fs) {
  double re = 0.0, im = 0.0;
  for (size_t n = 0; n < len; ++n) {
    const double ph = 2.0 * kPi * f * static_cast<double>(n0 + n) / fs;
    re += x[n0 + n] * std::cos(ph);
    im += x[n0 + n] * std::sin(ph);
  }
  return 2.0 * std::hypot(re, im) / static_cast<double>(len);
}

std::vector<unsigned char> readbytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le32(const std::vector<unsigned char>& b, size_t i) {
  return b[i] | (b[i + 1] << 8) | (b[i + 2] << 16) | (static_cast<uint32_t>(b[i + 3]) << 24);
}
int16_t le16(const std::vector<unsigned char>& b, size_t i) {
  return static_cast<int16_t>(static_cast<uint16_t>(b[i] | (b[i + 1] << 8)));
}

TEST(SynthDeterminism, SameConfigSameSamplesAndSeedsAreIndependentStreams) {
  Config c = demoutterance();
  c.noisesnr_db = 30.0;
  c.voicedcutoff = 5000.0;
  const Result a = synthesize(c), b = synthesize(c);
  EXPECT_EQ(a.signal, b.signal);
  EXPECT_EQ(a.f0, b.f0);
  c.seed = 2;
  EXPECT_NE(synthesize(c).signal, a.signal);

  // Changing the noise level must not change the jitter pattern (separate streams).
  Config q = demoutterance();
  const Result r1 = synthesize(q);
  q.noisesnr_db = 20.0;
  EXPECT_EQ(synthesize(q).f0, r1.f0);
}

TEST(SynthTruth, FrameCountFollowsTheFrameGrid) {
  for (double samples : {1.0, 79.0, 80.0, 81.0, 160.0, 161.0, 1000.0}) {
    Config c;
    c.segments = {voiced(samples / c.fs, 150, 150)};
    const Result r = synthesize(c);
    ASSERT_EQ(r.signal.size(), static_cast<size_t>(samples));
    const size_t frames = (static_cast<size_t>(samples) - 1) / 80 + 1;
    EXPECT_EQ(r.f0.size(), frames);
    EXPECT_EQ(r.fv.size(), frames);
    EXPECT_EQ(r.stable.size(), frames);
  }
  Config empty;
  const Result e = synthesize(empty);
  EXPECT_TRUE(e.signal.empty());
  EXPECT_TRUE(e.f0.empty());
}

TEST(SynthTruth, ZeroOutsideVoicingAndContourInsideIt) {
  Config c;
  c.segments = {silence(0.1), voiced(0.5, 100, 180), unvoiced(0.2), voiced(0.5, 220, 150, 0.01),
                silence(0.1)};
  const Result r = synthesize(c);
  const double starts[] = {0.1, 0.8}, f0a[] = {100, 220}, f0b[] = {180, 150};
  size_t stable = 0;
  for (size_t k = 0; k < r.f0.size(); ++k) {
    const double t = static_cast<double>(k) * 80.0 / c.fs;
    const int seg = (t >= 0.1 && t < 0.6) ? 0 : (t >= 0.8 && t < 1.3) ? 1 : -1;
    if (seg < 0) {
      EXPECT_EQ(r.f0[k], 0.0) << k;
      EXPECT_EQ(r.fv[k], 0.0) << k;
      EXPECT_EQ(r.stable[k], 0) << k;
      continue;
    }
    EXPECT_EQ(r.fv[k], 8000.0);
    const double want = f0a[seg] + (f0b[seg] - f0a[seg]) * (t - starts[seg]) / 0.5;
    // Unjittered glide: within half a period of glide; 1 % jitter: within 5 sd.
    const double tol = seg == 0 ? 0.01 : 0.05;
    EXPECT_NEAR(r.f0[k] / want, 1.0, tol) << k;
    stable += r.stable[k];
    if (r.stable[k]) {  // whole 30 ms neighbourhood inside the unfaded segment
      EXPECT_GE(t - 0.015, starts[seg] + 0.005 - 1e-9);
      EXPECT_LE(t + 0.015, starts[seg] + 0.5 - 0.005);
    }
  }
  EXPECT_GE(stable, 2u * 85u);  // (500 - 2 * 20) ms / 5 ms per segment, minus rounding
  // Silence is exact zero without additive noise.
  for (size_t n = 0; n < 1600; ++n) ASSERT_EQ(r.signal[n], 0.0);
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
  // Each frame's truth is the reciprocal of the pulse interval around its centre.
  for (size_t k = 0; k < r.f0.size(); ++k) {
    const double centre = static_cast<double>(k) * 80.0;
    auto it = std::upper_bound(r.pulses.begin(), r.pulses.end(), centre);
    if (it == r.pulses.begin() || it == r.pulses.end()) continue;
    EXPECT_NEAR(r.f0[k], c.fs / (*it - *(it - 1)), 1e-9) << k;
  }
}

TEST(SynthSignal, AutocorrelationPeakOfSteadyVowelIsTheF0Period) {
  for (double f0 : {70.0, 118.0, 150.0, 237.0, 410.0}) {
    const Result r = synthesize(steadyvowel(f0, 0.5));
    const size_t n0 = 2000, len = 2048;
    auto ac = [&](size_t lag) {
      double s = 0.0;
      for (size_t n = n0; n < n0 + len; ++n) s += r.signal[n] * r.signal[n + lag];
      return s;
    };
    // First local maximum within 10 % of the largest one over 60 ... 500 Hz (lags at
    // multiples of a fractional period can reach slightly higher than the period itself).
    std::vector<double> v(268, 0.0);
    for (size_t lag = 31; lag <= 267; ++lag) v[lag] = ac(lag);
    const double top = *std::max_element(v.begin() + 32, v.begin() + 267);
    size_t best = 32;
    while (!(v[best] >= 0.9 * top && v[best] >= v[best - 1] && v[best] >= v[best + 1])) ++best;
    const double a = v[best - 1], b = v[best], d = v[best + 1];
    const double lag = static_cast<double>(best) + 0.5 * (a - d) / (a - 2.0 * b + d);
    EXPECT_NEAR(16000.0 / lag, f0, 0.005 * f0) << f0;
  }
}

TEST(SynthSignal, SegmentsArePeakScaledAndFadedWithoutClicks) {
  Config c;
  c.segments = {silence(0.05), voiced(0.3, 130, 130, 0.0, 0.4), unvoiced(0.2), silence(0.05)};
  const Result r = synthesize(c);
  const size_t v0 = 800, v1 = 5600, u1 = 8800;
  auto peak = [&](size_t a, size_t b) {
    double p = 0.0;
    for (size_t n = a; n < b; ++n) p = std::max(p, std::fabs(r.signal[n]));
    return p;
  };
  EXPECT_NEAR(peak(v0, v1), 0.4, 1e-12);
  EXPECT_NEAR(peak(v1, u1), 0.2, 1e-12);
  for (size_t edge : {v0, v1 - 1, v1, u1 - 1}) EXPECT_LT(std::fabs(r.signal[edge]), 0.01) << edge;
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

TEST(SynthSpectrum, HarmonicAmplitudesFollowEnvelopeUpToAConstant) {
  // 120 Hz: pulses fall between samples, so this also checks the band-limited pulse shape.
  for (double f0 : {200.0, 120.0}) {
    const Config c = steadyvowel(f0, 1.0);
    const Result r = synthesize(c);
    const size_t len = 4000;  // 50 and 30 whole periods
    double lo = 1e300, hi = -1e300;
    for (double f = f0; f < 7400.0; f += f0) {
      const double d = std::log(sineamplitude(r.signal, 6000, len, f, c.fs)) - envelopelog(c, f);
      lo = std::min(lo, d), hi = std::max(hi, d);
    }
    EXPECT_LT(hi - lo, 0.01) << f0;  // 0.09 dB
  }
}

TEST(SynthSpectrum, EnvelopePeaksAtTheFormants) {
  const Config c = steadyvowel(100, 0.1);
  std::vector<double> peaks;
  for (double f = 2.0; f < 7999.0; f += 1.0) {
    const double v = envelopelog(c, f);
    if (v > envelopelog(c, f - 1.0) && v >= envelopelog(c, f + 1.0)) peaks.push_back(f);
  }
  ASSERT_EQ(peaks.size(), c.formants.size());
  for (size_t i = 0; i < peaks.size(); ++i) EXPECT_NEAR(peaks[i], c.formants[i].freq, 0.05 * c.formants[i].freq);
  EXPECT_TRUE(std::isfinite(envelopelog(c, 0.0)));
  EXPECT_TRUE(std::isfinite(envelopelog(c, 8000.0)));
}

TEST(SynthSpectrum, MixedExcitationNoiseContinuesTheHarmonicLevel) {
  Config c = steadyvowel(200, 2.0);
  c.voicedcutoff = 4000.0;
  const Result r = synthesize(c);
  for (double fv : r.fv) EXPECT_EQ(fv, 4000.0);
  // Welch estimate of the power spectrum, whitened by the envelope: mean levels in a band
  // just below and just above the cut-off must agree; below it the power sits on the
  // harmonics, above it between them as well.
  const size_t L = 400;  // 25 ms, 5 harmonic spacings per 1000 Hz at 40 Hz bins
  std::vector<double> psd(L / 2, 0.0);
  for (size_t n0 = 1000; n0 + L < r.signal.size() - 1000; n0 += L / 2) {
    for (size_t k = 1; k < L / 2; ++k) {
      double re = 0.0, im = 0.0;
      for (size_t n = 0; n < L; ++n) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * n / L);
        re += w * r.signal[n0 + n] * std::cos(2.0 * kPi * k * n / L);
        im += w * r.signal[n0 + n] * std::sin(2.0 * kPi * k * n / L);
      }
      psd[k] += (re * re + im * im) / std::exp(2.0 * envelopelog(c, k * c.fs / L));
    }
  }
  auto band = [&](double f1, double f2) {
    double s = 0.0;
    int m = 0;
    for (size_t k = 1; k < L / 2; ++k) {
      const double f = k * c.fs / L;
      if (f >= f1 && f < f2) s += psd[k], ++m;
    }
    return s / m;
  };
  EXPECT_NEAR(10.0 * std::log10(band(2500, 3500) / band(4500, 5500)), 0.0, 1.0);
  // Between harmonics (odd multiples of 100 Hz) below the cut-off there is almost nothing.
  EXPECT_LT(psd[static_cast<size_t>(3100.0 * L / c.fs)], 0.01 * psd[static_cast<size_t>(3000.0 * L / c.fs)]);
  EXPECT_GT(psd[static_cast<size_t>(5100.0 * L / c.fs)], 0.2 * psd[static_cast<size_t>(5000.0 * L / c.fs)]);
}

TEST(SynthConfig, InvalidConfigurationsAreRejected) {
  auto bad = [](auto edit) {
    Config c = steadyvowel(120, 0.2);
    edit(c);
    return c;
  };
  const Config cases[] = {
      bad([](Config& c) { c.segments[0].f0start = 8000; }),
      bad([](Config& c) { c.segments[0].f0end = 0; }),
      bad([](Config& c) { c.segments[0].f0start = NAN; }),
      bad([](Config& c) { c.segments[0].level = 1.0; }),
      bad([](Config& c) { c.segments[0].seconds = -0.1; }),
      bad([](Config& c) { c.segments[0].jitter = 0.5; }),
      bad([](Config& c) { c.formants.push_back({8000, 100}); }),
      bad([](Config& c) { c.formants[0].bandwidth = 0; }),
      bad([](Config& c) { c.shift = 0; }),
      bad([](Config& c) { c.fs = 0; }),
      bad([](Config& c) { c.noisesnr_db = NAN; }),
      bad([](Config& c) { c.voicedcutoff = 9000; }),
      bad([](Config& c) { c.segments[0].seconds = 7200; }),
  };
  for (const Config& c : cases) EXPECT_THROW(synthesize(c), std::invalid_argument);
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
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
  EXPECT_EQ(le32(b, 4), 36 + 2 * x.size());
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(le32(b, 16), 16u);
  EXPECT_EQ(le16(b, 20), 1);
  EXPECT_EQ(le16(b, 22), 1);
  EXPECT_EQ(le32(b, 24), 16000u);
  EXPECT_EQ(le32(b, 28), 32000u);
  EXPECT_EQ(le16(b, 32), 2);
  EXPECT_EQ(le16(b, 34), 16);
  EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
  EXPECT_EQ(le32(b, 40), 2 * x.size());
  for (size_t n = 0; n < r.signal.size(); ++n)
    ASSERT_LE(std::fabs(le16(b, 44 + 2 * n) / 32768.0 - x[n]), 0.5 / 32768 + 1e-15) << n;
  for (size_t i = 0; i < edge.size(); ++i) EXPECT_EQ(le16(b, 44 + 2 * (r.signal.size() + i)), edgeq[i]) << i;

  EXPECT_FALSE(writewav16(std::string(BRISVANE_BINARY_DIR) + "/no/such/dir/x.wav", x, 16000.0));
  EXPECT_FALSE(writewav16(path, x, 0.0));
  EXPECT_FALSE(writewav16(path, x, NAN));
}

TEST(SynthWav, BundledSampleIsTheDemoUtterance) {
  const std::string dir = BRISVANE_SOURCE_DIR;
  const std::vector<unsigned char> b = readbytes(dir + "/data/sample.wav");
  const Result r = synthesize(demoutterance());
  ASSERT_EQ(b.size(), 44 + 2 * r.signal.size());
  // Identical on this platform; another mathematics library may move a rare sample by one
  // quantisation step.
  size_t differ = 0;
  for (size_t n = 0; n < r.signal.size(); ++n) {
    const double q = std::clamp(std::round(r.signal[n] * 32768.0), -32768.0, 32767.0);
    const double d = std::fabs(le16(b, 44 + 2 * n) - q);
    ASSERT_LE(d, 1.0) << n;
    differ += d > 0.0;
  }
  EXPECT_LE(differ, r.signal.size() / 1000);

  std::ifstream truth(dir + "/data/sample.f0.txt");
  std::vector<double> f0{std::istream_iterator<double>(truth), std::istream_iterator<double>()};
  ASSERT_EQ(f0.size(), r.f0.size());
  for (size_t k = 0; k < f0.size(); ++k) EXPECT_NEAR(f0[k], r.f0[k], 1e-5) << k;
}

}  // namespace
}  // namespace brisvane::synth
