// Warped cepstral envelope: the all-pass warping, the three per-frame methods and the stream
// driver (FFT length, method codes, unvoiced and invalid frames, signal ends, order 0).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "analysis/ccanalysis.h"
#include "analysis/harmonicanalysis.h"
#include "analysis/noiseanalysis.h"
#include "dsp/windowing.h"
#include "tools/synth/synthspeech.h"

namespace brisvane {
namespace {

constexpr double kFs = 16000.0;
constexpr double kPi = 3.141592653589793;

// One-sided series sum c_n cos(n w): what the all-pass warping preserves.
double onesided(const std::vector<double>& c, double w) {
  double s = 0.0;
  for (size_t n = 0; n < c.size(); ++n) s += c[n] * std::cos(static_cast<double>(n) * w);
  return s;
}

bool allfinite(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double d) { return std::isfinite(d); });
}

// Real cepstrum of a symmetric N-point log spectrum by direct cosine sums, n = 0 .. N/2.
std::vector<double> realcepstrum(const std::vector<double>& S) {
  const size_t N = S.size();
  std::vector<double> ch(N / 2 + 1);
  for (size_t n = 0; n <= N / 2; ++n) {
    double s = 0.0;
    for (size_t k = 0; k < N; ++k) s += S[k] * std::cos(2.0 * kPi * static_cast<double>(k * n) / static_cast<double>(N));
    ch[n] = s / static_cast<double>(N);
  }
  return ch;
}

std::vector<double> warp(const std::vector<double>& c, uint32_t M2, double alpha) {
  std::vector<double> out(M2 + 1, 0.0), work(M2 + 1, 0.0);
  EXPECT_EQ(ccwarp(c.data(), static_cast<uint32_t>(c.size() - 1), out.data(), M2, alpha, work.data()), 0);
  return out;
}

// Deterministic broadband test signal.
std::vector<double> noisesignal(size_t n, uint32_t seed = 777u) {
  std::vector<double> x(n);
  uint32_t s = seed;
  for (size_t i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    x[i] = (static_cast<double>(s >> 8) / 16777216.0 - 0.5) * 0.4;
  }
  return x;
}

std::vector<double> vowel(double f0, double seconds, uint64_t seed = 3) {
  synth::Config cfg;
  cfg.seed = seed;
  synth::Segment seg;
  seg.kind = synth::SegmentKind::Voiced;
  seg.seconds = seconds;
  seg.f0start = seg.f0end = f0;
  cfg.segments = {seg};
  return synth::synthesize(cfg).signal;
}

std::vector<double> ccs(const std::vector<double>& x, const std::vector<double>& f0, uint32_t order, uint8_t method,
                        double alpha = 0.42, uint32_t fftmin = 1024, uint32_t first = 0, int* rc = nullptr) {
  std::vector<double> cc(f0.size() * (order + 1), 123.0);
  const int r = waveform2ccs(x.data(), static_cast<uint32_t>(x.size()), kFs, 80, first,
                             static_cast<uint32_t>(f0.size()), f0.data(), fftmin, order, cc.data(), alpha, method);
  if (rc != nullptr) *rc = r;
  return cc;
}

std::vector<double> frameof(const std::vector<double>& cc, size_t i, uint32_t order) {
  return std::vector<double>(cc.begin() + static_cast<long>(i * (order + 1)),
                             cc.begin() + static_cast<long>((i + 1) * (order + 1)));
}

TEST(Warping, FwarpFixesTheBandEdgesAndStretchesLowFrequencies) {
  for (double a : {-0.6, 0.0, 0.42, 0.9}) {
    SCOPED_TRACE(a);
    EXPECT_EQ(fwarp(0.0, a), 0.0);
    EXPECT_NEAR(fwarp(kPi, a), kPi, 1e-12);
    EXPECT_NEAR(fwarp(1e-7, a) / 1e-7, (1.0 + a) / (1.0 - a), 1e-6);
    for (int i = 1; i <= 100; ++i) EXPECT_GT(fwarp(kPi * i / 100.0, a), fwarp(kPi * (i - 1) / 100.0, a));
  }
}

TEST(Warping, PreservesTheLogSpectrumOnTheWarpedAxis) {
  std::vector<double> c(11);  // short and decaying: its warped version needs many coefficients
  for (int n = 0; n <= 10; ++n) c[n] = (n == 0 ? 1.0 : 0.0) + 0.8 * std::pow(-0.6, n);
  for (double a : {0.42, -0.3}) {
    SCOPED_TRACE(a);
    const std::vector<double> cw = warp(c, 400, a);
    for (double w = 0.0; w <= kPi; w += 0.05) EXPECT_NEAR(onesided(cw, fwarp(w, a)), onesided(c, w), 1e-10) << w;
    // Warping back with the opposite factor returns the input (and zeros above it).
    const std::vector<double> back = warp(cw, 20, -a);
    for (size_t m = 0; m <= 20; ++m) EXPECT_NEAR(back[m], m <= 10 ? c[m] : 0.0, 1e-10) << m;
  }
}

TEST(Warping, TruncationOrderZeroAndRefusals) {
  std::vector<double> c(60);
  for (size_t n = 0; n < c.size(); ++n) c[n] = std::sin(0.7 * static_cast<double>(n)) / (1.0 + static_cast<double>(n));
  const std::vector<double> full = warp(c, 30, 0.42);
  for (uint32_t M2 : {0u, 1u, 2u, 7u}) {
    const std::vector<double> part = warp(c, M2, 0.42);
    for (uint32_t m = 0; m <= M2; ++m) EXPECT_EQ(part[m], full[m]) << M2 << " " << m;
  }
  // alpha = 0 truncates or zero-extends.
  const std::vector<double> d = {1.0, -0.5, 0.25, 0.125, 2.0};
  EXPECT_EQ(warp(d, 2, 0.0), (std::vector<double>{1.0, -0.5, 0.25}));
  EXPECT_EQ(warp(d, 6, 0.0), (std::vector<double>{1.0, -0.5, 0.25, 0.125, 2.0, 0.0, 0.0}));
  // M2 = 0 writes exactly one value.
  std::vector<double> out(2, 9.0), work(2, 9.0);
  ASSERT_EQ(ccwarp(c.data(), 59, out.data(), 0, 0.42, work.data()), 0);
  EXPECT_EQ(out[1], 9.0);
  EXPECT_EQ(out[0], full[0]);
  // Factors outside the open unit interval are refused, output untouched.
  for (double a : {1.0, -1.0, 1.5, std::nan(""), std::numeric_limits<double>::infinity()}) {
    out.assign(2, 9.0);
    EXPECT_EQ(ccwarp(c.data(), 2, out.data(), 1, a, work.data()), -1) << a;
    EXPECT_EQ(out, std::vector<double>(2, 9.0));
  }
}

TEST(Stream, SizeAndFinalRescaling) {
  EXPECT_EQ(getccssize(200, 39), 8000u);
  EXPECT_EQ(getccssize(0, 39), 0u);
  EXPECT_EQ(getccssize(5, 0), 5u);
  EXPECT_EQ(getccssize(1u << 16, 1u << 16), 0u);  // beyond 32 bits
  EXPECT_EQ(getccssize(1, 0xFFFFFFFFu), 0u);        // order + 1 itself overflows
  std::vector<double> cc = {0, 0, 0, 0, 1.5, -0.25, 0.5, 3.0};
  ASSERT_EQ(htsadapteradhoc(cc.data(), 3, 2), 0);
  EXPECT_EQ(cc, (std::vector<double>{5, 0, 0, 0, 6.5, -0.5, 1.0, 6.0}));
  EXPECT_EQ(htsadapteradhoc(nullptr, 3, 0), 0);
  EXPECT_EQ(htsadapteradhoc(nullptr, 3, 1), -1);
}

TEST(Stream, FftLengthFollowsTheLowestF0AndTheMinimum) {
  // 31 Hz: 1033-sample frame; 31.25 Hz: ceil gives 1024, made odd 1025; minimum 0: the
  // 161-sample noise window decides; other minimums are raised to a power of two.
  const struct { double fs, f0; uint32_t fftmin, n; } cases[] = {
      {kFs, 60.0, 1024, 1024},  {kFs, 31.0, 1024, 2048},  {kFs, 31.25, 1024, 2048},  {kFs, 32.0, 1024, 1024},
      {kFs, 500.0, 1024, 1024}, {kFs, 500.0, 0, 256},     {kFs, 500.0, 1000, 1024},  {kFs, 500.0, 3000, 4096},
      {kFs, 500.0, (1u << 30) + 1, 0}, {kFs, std::nan(""), 1024, 0}, {0.0, 100.0, 1024, 0}};
  for (const auto& c : cases) EXPECT_EQ(ccfftlength(c.fs, c.f0, c.fftmin), c.n) << c.f0 << " " << c.fftmin;
}

TEST(Stream, OneVeryLowF0RaisesTheFftLengthOfEveryFrame) {
  const std::vector<double> x = noisesignal(2000);
  const std::vector<double> track(20, 0.0);
  std::vector<double> low = track;
  low[10] = 31.0;
  const uint32_t order = 24;
  const std::vector<double> withlow = ccs(x, low, order, 0), at2048 = ccs(x, track, order, 0, 0.42, 2048),
                            at1024 = ccs(x, track, order, 0, 0.42, 1024);
  for (size_t i : {0u, 5u, 19u}) {
    EXPECT_EQ(frameof(withlow, i, order), frameof(at2048, i, order)) << i;
    EXPECT_NE(frameof(withlow, i, order), frameof(at1024, i, order)) << i;
  }
}

TEST(Stream, UnvoicedFrameIsTheHalfScaledRealCepstrumWarped) {
  // Independent cepstrum of the noise log spectrum by direct cosine sums.
  const std::vector<double> x = noisesignal(3000);
  const uint32_t N = 1024, centre = 1600, order = 20;
  auto na = memnacreate(161, N);
  std::vector<double> S(N);
  ASSERT_EQ(getnoiselogspectrum(x.data(), 3000, kFs, centre, N, S.data(), na.get()), 0);
  std::vector<double> ch = realcepstrum(S);
  ch[0] *= 0.5;
  ch[N / 2] *= 0.5;
  const std::vector<double> track(21, 0.0);  // frame 20 is centred on sample 1600
  const std::vector<double> plain = frameof(ccs(x, track, order, 0, 0.0), 20, order);
  EXPECT_NEAR(plain[0], 2.0 * ch[0], 1e-9);
  for (uint32_t m = 1; m <= order; ++m) EXPECT_NEAR(plain[m], ch[m], 1e-9) << m;
  std::vector<double> cw = warp(ch, order, 0.42);
  cw[0] *= 2.0;
  const std::vector<double> warped = frameof(ccs(x, track, order, 0, 0.42), 20, order);
  for (uint32_t m = 0; m <= order; ++m) EXPECT_NEAR(warped[m], cw[m], 1e-9) << m;
}

// Unvoiced frames (0 or an invalid value) do not depend on the method; codes above 2 select
// the harmonic mel-cepstrum.
TEST(Stream, MethodCodesAndUnvoicedFrames) {
  const std::vector<double> x = vowel(140.0, 0.1);
  const uint32_t order = 12;
  std::vector<double> track(20, 140.0);
  for (size_t i : {0, 3, 5, 7, 9, 19}) track[i] = 0.0;
  std::vector<double> bad = track;
  bad[3] = std::nan("");
  bad[5] = -120.0;
  bad[7] = std::numeric_limits<double>::infinity();
  bad[9] = 1e-300;
  std::vector<double> m[3];
  for (uint8_t method : {0, 1, 2}) {
    m[method] = ccs(x, track, order, method);
    EXPECT_EQ(ccs(x, bad, order, method), m[method]) << int(method);
  }
  for (size_t i = 0; i < track.size(); ++i) {
    if (track[i] != 0.0) continue;
    EXPECT_EQ(frameof(m[0], i, order), frameof(m[1], i, order)) << i;
    EXPECT_EQ(frameof(m[0], i, order), frameof(m[2], i, order)) << i;
  }
  EXPECT_NE(frameof(m[0], 12, order), frameof(m[1], 12, order));
  EXPECT_NE(frameof(m[0], 12, order), frameof(m[2], 12, order));
  for (int code : {3, 4, 5, 9, 64, 127, 128, 129, 200, 254, 255})
    ASSERT_EQ(ccs(x, track, order, static_cast<uint8_t>(code)), m[0]) << code;
}

TEST(Stream, FramesBeyondTheSignalReadSilence) {
  const std::vector<double> x = noisesignal(800);
  const std::vector<double> silent(800, 0.0);
  const uint32_t order = 10;
  const std::vector<double> track = {0.0, 100.0, 0.0};
  const std::vector<double> ref = frameof(ccs(silent, {0.0}, order, 0, 0.42, 1024, 4000), 0, order);
  for (uint8_t method : {0, 1, 2}) {
    // Far past the end, and with centres that would wrap a 32-bit index.
    for (uint32_t first : {5000u, 0xFFFFFFFFu - 100u}) {
      const std::vector<double> cc = ccs(x, track, order, method, 0.42, 1024, first);
      EXPECT_EQ(frameof(cc, 0, order), ref) << int(method) << " " << first;
      EXPECT_EQ(frameof(cc, 2, order), ref) << int(method) << " " << first;
      EXPECT_TRUE(allfinite(cc));
    }
  }
}

TEST(Stream, RefusalsAndEmptyStreams) {
  const std::vector<double> n = noisesignal(1000);
  double cc = 9.0;
  const double f0 = 100.0;
  // No frames: success, nothing written. Refused arguments leave the stream untouched.
  EXPECT_EQ(waveform2ccs(n.data(), 1000, kFs, 80, 0, 0, &f0, 1024, 39, &cc, 0.42, 0), 0);
  EXPECT_EQ(waveform2ccs(nullptr, 0, kFs, 80, 0, 0, nullptr, 1024, 39, nullptr, 0.42, 1), 0);
  EXPECT_EQ(waveform2ccs(n.data(), 1000, kFs, 80, 0, 1, nullptr, 1024, 39, &cc, 0.42, 0), -1);
  EXPECT_EQ(waveform2ccs(n.data(), 1000, std::nan(""), 80, 0, 1, &f0, 1024, 39, &cc, 0.42, 0), -1);
  EXPECT_EQ(cc, 9.0);
  // An invalid warping factor gives -1 and all-zero coefficients, per stream and per frame.
  const std::vector<double> x = vowel(150.0, 0.1);
  std::vector<double> track(20, 150.0);
  track[0] = 0.0;
  for (double a : {1.0, -1.0, 2.0, std::nan("")})
    for (uint8_t method : {0, 1, 2}) {
      int rc = 0;
      const std::vector<double> out = ccs(x, track, 8, method, a, 1024, 0, &rc);
      EXPECT_EQ(rc, -1);
      EXPECT_EQ(out, std::vector<double>(out.size(), 0.0)) << a << " " << int(method);
    }
  auto ws = memcccreate(kFs, 150.0, 161, 1024);
  std::vector<double> logspec(1024), second(1024), c(9, 4.0);
  EXPECT_EQ(getharmmgc(x.data(), 1600, kFs, 800, 150.0, 1024, logspec.data(), second.data(), 8, c.data(), 1.0, ws.get()), -1);
  EXPECT_EQ(c, std::vector<double>(9, 0.0));
}

TEST(Stream, OrderZeroWorksForEveryMethod) {
  const std::vector<double> x = vowel(180.0, 0.15);
  std::vector<double> track(30, 180.0);
  for (size_t i = 0; i < 5; ++i) track[i] = 0.0;
  for (uint8_t method : {0, 1, 2}) {
    int rc = -1;
    const std::vector<double> c0 = ccs(x, track, 0, method, 0.42, 1024, 0, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(allfinite(c0));
    const std::vector<double> c39 = ccs(x, track, 39, method);
    // The warped c0 does not depend on the output order; the regularized fit does.
    for (size_t i = 0; i < track.size(); ++i) {
      if (method != 1 || track[i] == 0.0) {
        EXPECT_EQ(c0[i], c39[i * 40]) << int(method) << " " << i;
      }
    }
  }
}

// Scratch sizing: order 80 at a lowest f0 of 500 Hz needs more solve scratch than the
// harmonic block; order 600 with a 256-point transform needs a warping buffer longer than it.
TEST(Stream, HighOrdersFitTheirScratch) {
  const std::vector<double> x = vowel(500.0, 0.2);
  int rc = -1;
  const std::vector<double> cc = ccs(x, std::vector<double>(40, 500.0), 80, 1, 0.42, 1024, 0, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(allfinite(cc));
  auto ws = memcccreate(kFs, 500.0, 161, 1024);  // made without the method's scratch: grows it
  std::vector<double> logspec(1024), second(1024), c(81);
  EXPECT_EQ(getharmrdc(x.data(), 3200, kFs, 1600, 500.0, 1024, logspec.data(), second.data(), 80, c.data(), 0.42, ws.get()), 0);
  EXPECT_EQ(c, frameof(cc, 20, 80));

  const std::vector<double> y = vowel(300.0, 0.1);
  std::vector<double> track(20, 300.0);
  for (size_t i = 0; i < track.size(); i += 3) track[i] = 0.0;
  for (uint8_t method : {0, 1, 2}) {
    const std::vector<double> big = ccs(y, track, 600, method, 0.42, 16, 0, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(allfinite(big));
  }
}

TEST(Efficient, CepstrumIsCutAtTwoThirdsOfThePeriod) {
  const std::vector<double> x = vowel(100.0, 0.2);
  const uint32_t N = 1024, order = 39, centre = 1600;
  auto ws = memcccreate(kFs, 100.0, 161, N);
  std::vector<double> S(N), second(N);
  ASSERT_EQ(getstraightlogspectrum(x.data(), 3200, kFs, centre, 100.0, N, S.data(), second.data(), ws->na.get()), 0);
  std::vector<double> ch = realcepstrum(S);
  ch[0] *= 0.5;
  // floor(16000 / 150) = 106: c^[0..106] enter the warping, c^[106] at full weight.
  const std::vector<double> cut(ch.begin(), ch.begin() + 107);
  std::vector<double> expect = warp(cut, order, 0.42);
  expect[0] *= 2.0;
  std::vector<double> c(order + 1);
  ASSERT_EQ(getstrmgc(x.data(), 3200, kFs, centre, 100.0, N, S.data(), second.data(), order, c.data(), 0.42, ws.get()), 0);
  for (uint32_t m = 0; m <= order; ++m) EXPECT_NEAR(c[m], expect[m], 1e-9) << m;
  // One more coefficient would change the result.
  const std::vector<double> other = warp(std::vector<double>(ch.begin(), ch.begin() + 108), order, 0.42);
  double diff = 0.0;
  for (uint32_t m = 1; m <= order; ++m) diff = std::max(diff, std::fabs(other[m] - c[m]));
  EXPECT_GT(diff, 1e-6);
}

TEST(Efficient, SilenceSitsOnThePowerFloor) {
  const std::vector<double> x(4000, 0.0);
  auto na = memnacreate(161, 1024);
  std::vector<double> S(1024), second(1024);
  for (uint32_t centre : {0u, 2000u, 3999u}) {
    ASSERT_EQ(getstraightlogspectrum(x.data(), 4000, kFs, centre, 100.0, 1024, S.data(), second.data(), na.get()), 0);
    const double v = 0.5 * std::log(1.0000000000000002e-10 / (321.0 * 100.0));
    for (double s : S) ASSERT_NEAR(s, v, 1e-12);
  }
}

TEST(Efficient, FundamentalLevelFillsTheBandBelowIt) {
  // A pure fundamental of amplitude A: with its amplitude added as an offset and the two
  // windows' powers summed, the band from 0 Hz to f0 sits at the harmonic log amplitude
  // ln(A / (2 sqrt(f0))), and the spectrum falls away above the fundamental.
  const double f0 = 125.0, A = 0.5;
  std::vector<double> x(4000);
  for (size_t i = 0; i < x.size(); ++i) x[i] = A * std::cos(2.0 * kPi * f0 * static_cast<double>(i) / kFs + 0.3);
  auto na = memnacreate(161, 1024);
  std::vector<double> S(1024), second(1024);
  ASSERT_EQ(getstraightlogspectrum(x.data(), 4000, kFs, 2000, f0, 1024, S.data(), second.data(), na.get()), 0);
  const double level = std::log(A / (2.0 * std::sqrt(f0)));
  for (size_t k = 0; k <= 8; ++k) EXPECT_NEAR(S[k], level, 0.1) << k;  // 125 Hz is bin 8
  EXPECT_LT(S[16], level - 1.0);
  for (size_t k = 1; k < 512; ++k) EXPECT_EQ(S[1024 - k], S[k]);
}

TEST(DiscreteCepstrum, SolvesTheRegularizedNormalEquations) {
  // More harmonics than coefficients, and fewer (the penalty keeps the system regular).
  for (uint32_t K : {30u, 3u}) {
    const uint32_t P = 10, P1 = P + 1;
    std::vector<double> M(K * P1 + 2 * P1 * P1);
    ASSERT_EQ(matccharmonic(P, K, 7000.0 / (K + 0.5), kFs, 0.42, M.data()), 0);
    std::vector<double> y(K);
    for (uint32_t k = 0; k < K; ++k) y[k] = -3.0 + std::sin(0.9 * k) - 0.05 * k;
    std::vector<double> c(P1);
    ASSERT_EQ(solvelsr(M.data(), y.data(), c.data(), K, P1), 0) << K;
    // At the minimum of |y - Mc|^2 + sum d_i c_i^2 the gradient M^T (Mc - y) + D c vanishes.
    for (uint32_t i = 0; i < P1; ++i) {
      double g = static_cast<double>(i * i) * 0.015791367 * c[i];
      for (uint32_t k = 0; k < K; ++k) {
        double fit = 0.0;
        for (uint32_t j = 0; j < P1; ++j) fit += M[k * P1 + j] * c[j];
        g += M[k * P1 + i] * (fit - y[k]);
      }
      EXPECT_NEAR(g, 0.0, 1e-9) << K << " " << i;
    }
  }
  std::vector<double> M(4 + 2);  // order 0: the unpenalized c0 is the mean log amplitude
  const std::vector<double> y = {1.0, 2.0, 4.0, 5.0};
  ASSERT_EQ(matccharmonic(0, 4, 100.0, kFs, 0.42, M.data()), 0);
  double c0 = 0.0;
  ASSERT_EQ(solvelsr(M.data(), y.data(), &c0, 4, 1), 0);
  EXPECT_DOUBLE_EQ(c0, 3.0);
  // No harmonic at all: c0 is unconstrained, the system singular, c untouched.
  c0 = 9.0;
  EXPECT_EQ(solvelsr(M.data(), y.data(), &c0, 0, 1), -1);
  EXPECT_EQ(c0, 9.0);
  // A NaN pivot is refused too instead of using a partial inverse.
  std::vector<double> bad(3 * 2 + 2 * 4, 1.0);
  bad[2] = std::nan("");
  double c2[2] = {9.0, 9.0};
  EXPECT_EQ(solvelsr(bad.data(), y.data(), c2, 3, 2), -1);
  EXPECT_EQ(c2[0], 9.0);
}

// RMS distance in dB between the true envelope of the synthetic vowel and the envelope of
// frame i's warped cepstrum, 100 Hz .. 7 kHz, with the mean log difference removed.
double envelopedistance(const std::vector<double>& c, double alpha) {
  synth::Config cfg;
  std::vector<double> d;
  double mean = 0.0;
  for (double f = 100.0; f <= 7000.0; f += 25.0) {
    d.push_back(2.0 * onesided(c, fwarp(2.0 * kPi * f / kFs, alpha)) - c[0] - synth::envelopelog(cfg, f));
    mean += d.back();
  }
  mean /= static_cast<double>(d.size());
  double ss = 0.0;
  for (double v : d) ss += (v - mean) * (v - mean);
  return 20.0 / std::log(10.0) * std::sqrt(ss / static_cast<double>(d.size()));
}

TEST(Accuracy, SteadyVowelEnvelopeIsRecovered) {
  for (double f0 : {110.0, 220.0}) {
    const std::vector<double> x = vowel(f0, 0.3);
    const std::vector<double> track(50, f0);
    for (uint8_t method : {0, 1, 2}) {
      const std::vector<double> cc = ccs(x, track, 39, method);
      double worst = 0.0;
      for (size_t i = 10; i < 40; ++i) worst = std::max(worst, envelopedistance(frameof(cc, i, 39), 0.42));
      EXPECT_LT(worst, 2.5) << f0 << " Hz, method " << int(method);
    }
  }
}

}  // namespace
}  // namespace brisvane
