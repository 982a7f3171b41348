// Harmonic analysis: frame and workspace sizes, basis matrices, the harmonic fit (worked
// example, random harmonic signals, signal ends, refusals), the pitch refinement (worked
// example with its step counts, clamping, capacity) and the harmonic log spectrum against a
// direct evaluation of the interpolation kernel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "analysis/harmonicanalysis.h"
#include "dsp/windowing.h"

namespace brisvane {
namespace {

constexpr double kFs = 16000.0;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Partial {
  int k;         // harmonic number
  double amp;    // amplitude
  double phase;  // cosine phase at sample `centre`
};

// offset + sum of amp cos(k w (i - centre) + phase), w = 2 pi f0/fs.
std::vector<double> harmonicsignal(size_t len, size_t centre, double f0, const std::vector<Partial>& parts,
                                   double offset = 0.0) {
  std::vector<double> x(len, offset);
  const double w = kTwoPi * f0 / kFs;
  for (size_t i = 0; i < len; ++i) {
    const double tau = static_cast<double>(i) - static_cast<double>(centre);
    for (const Partial& p : parts) x[i] += p.amp * std::cos(p.k * w * tau + p.phase);
  }
  return x;
}

double wrapphase(double a) { return std::remainder(a, kTwoPi); }

TEST(HarmonicSizes, FrameLengthsAndHarmonicCounts) {
  EXPECT_EQ(haframesize(kFs, 200), 161u);
  EXPECT_EQ(haframesize(kFs, 100), 321u);
  EXPECT_EQ(haframesize(kFs, 60), 535u);
  EXPECT_EQ(haframesize(kFs, 30), 1067u);
  EXPECT_EQ(haframesize(kFs, 75), 427u);  // 426.67 -> 427, already odd
  EXPECT_EQ(haframesize(kFs, 0), 0u);
  EXPECT_EQ(haframesize(kFs, kNaN), 0u);

  EXPECT_EQ(hanoharms(kFs, kFs, 100), 79);   // 8000 Hz itself is not counted
  EXPECT_EQ(hanoharms(kFs, 1000, 100), 9);
  EXPECT_EQ(hanoharms(kFs, 1000, 110), 9);
  EXPECT_EQ(hanoharms(kFs, 1000, 400), 2);
  EXPECT_EQ(hanoharms(kFs, 1000, 600), 1);
  EXPECT_EQ(hanoharms(kFs, 1000, 1000), 0);  // f0 at fmax
  EXPECT_EQ(hanoharms(kFs, kFs, 8000), 0);   // f0 at fs/2
  EXPECT_EQ(hanoharms(kFs, kFs, 0), 0);
  EXPECT_EQ(hanoharms(kFs, kFs, -100), 0);
  EXPECT_EQ(hanoharms(kFs, kFs, kNaN), 0);
  EXPECT_EQ(hanoharms(kFs, kNaN, 100), 0);
  EXPECT_EQ(hanoharms(kFs, kFs, 1e-300), std::numeric_limits<int>::max());
}

TEST(HarmonicSizes, WorkspaceLayout) {
  auto ws = memhacreate(kFs, kFs, 500);
  ASSERT_NE(ws, nullptr);
  EXPECT_EQ(ws->nws, 161u);
  EXPECT_EQ(ws->K, 15u);
  EXPECT_EQ(ws->M, 34u);
  EXPECT_EQ(ws->block.size(), 13582u);
  EXPECT_EQ(ws->win, ws->block.data());
  EXPECT_EQ(ws->frame, ws->win + 161);
  EXPECT_EQ(ws->basis, ws->frame + 161);
  EXPECT_EQ(ws->gram, ws->basis + 2 * 34 * 161);
  EXPECT_EQ(ws->inv, ws->gram + 34 * 34);
  EXPECT_EQ(ws->proj, ws->gram);
  EXPECT_EQ(ws->coef - ws->gram, 578);
  EXPECT_EQ(ws->inv + 34 * 34, ws->block.data() + ws->block.size());
  EXPECT_EQ(memhadestroy(std::move(ws)), nullptr);

  auto wr = memhacreate(kFs, 1000, 30);  // refinement workspace for F0MIN = 60
  ASSERT_NE(wr, nullptr);
  EXPECT_EQ(wr->nws, 1067u);
  EXPECT_EQ(wr->K, 33u);
  EXPECT_EQ(wr->M, 70u);
  EXPECT_EQ(wr->block.size(), 161314u);

  EXPECT_EQ(memhacreate(kFs, kFs, 0), nullptr);
  EXPECT_EQ(memhacreate(kFs, kFs, kNaN), nullptr);
  EXPECT_EQ(memhacreate(0, kFs, 100), nullptr);
  EXPECT_EQ(memhacreate(kFs, kFs, 1e-9), nullptr);  // absurd size refused, not attempted
}

TEST(HarmonicBasis, StructureAndValues) {
  const uint32_t N = 161;
  const uint32_t L = N / 2;
  std::vector<double> w(N);
  winhamming(w.data(), N, 1);
  for (uint32_t n : {1u, 7u}) {
    const uint32_t B = 2 * n + 1;
    const double f0 = 237.0;
    const double om = kTwoPi * f0 / kFs;
    std::vector<double> E(2 * B * N, -1.0);
    ASSERT_EQ(hamatrixcreate1(E.data(), N, n, f0, kFs, w.data()), 0);
    for (uint32_t r = 0; r < B; ++r) {
      const double h = static_cast<double>(n) - r;
      EXPECT_EQ(E[2 * (r * N + L)], w[L]);  // centre column w[L] + 0j
      EXPECT_EQ(E[2 * (r * N + L) + 1], 0.0);
      for (uint32_t t = 0; t < N; ++t) {
        const double re = E[2 * (r * N + t)];
        const double im = E[2 * (r * N + t) + 1];
        // Row 2n - r is exactly the conjugate of row r.
        EXPECT_EQ(re, E[2 * ((B - 1 - r) * N + t)]);
        EXPECT_EQ(im, -E[2 * ((B - 1 - r) * N + t) + 1]);
        const double ph = h * om * (static_cast<double>(t) - L);
        ASSERT_NEAR(re, w[t] * std::cos(ph), 1e-12) << "r=" << r << " t=" << t;
        ASSERT_NEAR(im, w[t] * std::sin(ph), 1e-12) << "r=" << r << " t=" << t;
      }
    }
  }
  std::vector<double> E(2 * 3 * 160);
  EXPECT_EQ(hamatrixcreate1(E.data(), 160, 1, 100, kFs, w.data()), -1);  // even length
  EXPECT_EQ(hamatrixcreate1(E.data(), 161, 0, 100, kFs, w.data()), -1);
}

TEST(HarmonicBasis, RampRowsAndSlopeWeight) {
  // Slope weight for the plain Hamming window and its meaning: the ramp g*tau/fs has a
  // window-weighted (w^2) mean square of about 1.
  for (uint32_t N : {161u, 321u}) {
    std::vector<double> w(N);
    winhamming(w.data(), N, 0);
    const uint32_t L = N / 2;
    const double g = haweightslope(w.data(), L, kFs);
    EXPECT_NEAR(g, N == 161 ? 654.1 : 327.0, 0.06);
    double num = 0.0;
    double den = 0.0;
    for (uint32_t t = 0; t < N; ++t) {
      const double r = g * (static_cast<double>(t) - L) / kFs;
      num += w[t] * w[t] * r * r;
      den += w[t] * w[t];
    }
    EXPECT_NEAR(num / den, 1.0, 0.01);

    const uint32_t h = 3;
    const uint32_t B = 2 * h + 1;
    std::vector<double> E(4 * B * N);
    ASSERT_EQ(hamatrixcreate2(E.data(), N, h, 130.0, kFs, w.data(), g), 0);
    for (uint32_t r = 0; r < B; ++r) {
      for (uint32_t t = 0; t < N; ++t) {
        const double ramp = g * (static_cast<double>(t) - L) / kFs;
        const double* e = &E[2 * (r * N + t)];
        const double* d = &E[2 * ((B + r) * N + t)];
        ASSERT_NEAR(d[0], ramp * e[0], 1e-12);
        ASSERT_NEAR(d[1], ramp * e[1], 1e-12);
      }
      EXPECT_EQ(E[2 * ((B + r) * N + L)], 0.0);
    }
  }
  EXPECT_EQ(haweightslope(nullptr, 80, kFs), 0.0);
}

TEST(HarmonicFit, WorkedExample) {
  const size_t len = 4000;
  const size_t c = 2000;
  const auto x = harmonicsignal(len, c, 100, {{1, 1.0, 0.3}, {2, 0.5, -1.2}, {3, 0.25, 2.5}}, 0.2);
  auto ws = memhacreate(kFs, kFs, 60);
  double amp[5];
  double pha[5];
  ASSERT_EQ(getharmonics(x.data(), len, kFs, c, 100, 5, amp, pha, ws.get(), 1), 0);
  const double ea[5] = {1.0, 0.5, 0.25, 0.0, 0.0};
  for (int k = 0; k < 5; ++k) EXPECT_NEAR(amp[k], ea[k], 1e-12) << k;
  EXPECT_NEAR(pha[0], 0.3, 1e-12);
  EXPECT_NEAR(pha[1], -1.2, 1e-12);
  EXPECT_NEAR(pha[2], 2.5, 1e-12);
  EXPECT_NEAR(ws->coef[2 * 5], 0.2, 1e-12);  // constant term
  EXPECT_EQ(ws->coef[2 * 5 + 1], 0.0);
  EXPECT_EQ(ws->coef[2 * 4], ws->coef[2 * 6]);  // element n-k is the conjugate of n+k
  EXPECT_EQ(ws->coef[2 * 4 + 1], -ws->coef[2 * 6 + 1]);
}

// Random harmonic signals are fitted back to their amplitudes and phases, and the residual
// left in the frame is orthogonal to every basis row (the normal equations hold).
TEST(HarmonicFit, RandomHarmonicSignalsAndResidual) {
  std::mt19937 rng(20240611u);
  std::uniform_real_distribution<double> uf0(60.0, 400.0);
  std::uniform_real_distribution<double> ua(0.05, 1.0);
  std::uniform_real_distribution<double> uph(-3.0, 3.0);
  auto ws = memhacreate(kFs, kFs, 60);
  const size_t len = 3000;
  const size_t c = 1400;
  for (int trial = 0; trial < 12; ++trial) {
    const double f0 = uf0(rng);
    const uint32_t n = static_cast<uint32_t>(std::min(hanoharms(kFs, kFs, f0), 40));
    std::vector<Partial> parts;
    for (uint32_t k = 1; k <= n; ++k) parts.push_back({static_cast<int>(k), ua(rng), uph(rng)});
    const auto x = harmonicsignal(len, c, f0, parts, 0.1);
    std::vector<double> amp(n), pha(n);
    ASSERT_EQ(getharmonics(x.data(), len, kFs, c, f0, n, amp.data(), pha.data(), ws.get(), 1), 0);
    for (uint32_t k = 0; k < n; ++k) {
      EXPECT_NEAR(amp[k], parts[k].amp, 1e-8) << "f0=" << f0 << " k=" << k + 1;
      EXPECT_NEAR(wrapphase(pha[k] - parts[k].phase), 0.0, 1e-7) << "f0=" << f0 << " k=" << k + 1;
    }
    // Residual of a noisy frame: orthogonal to all rows, and smaller than the frame.
    std::vector<double> y = x;
    for (double& v : y) v += 0.3 * (ua(rng) - 0.5);
    ASSERT_EQ(getharmonics(y.data(), len, kFs, c, f0, n, nullptr, nullptr, ws.get(), 1), 0);
    const uint32_t N = haframesize(kFs, std::min(f0, 200.0));
    double energy = 0.0;
    for (uint32_t t = 0; t < N; ++t) energy += ws->frame[t] * ws->frame[t];
    EXPECT_GT(energy, 0.0);
    for (uint32_t r = 0; r < 2 * n + 1; ++r) {
      double pr = 0.0;
      double pi = 0.0;
      for (uint32_t t = 0; t < N; ++t) {
        pr += ws->basis[2 * (r * N + t)] * ws->frame[t];
        pi += ws->basis[2 * (r * N + t) + 1] * ws->frame[t];
      }
      ASSERT_NEAR(pr, 0.0, 1e-9) << "f0=" << f0 << " row " << r;
      ASSERT_NEAR(pi, 0.0, 1e-9) << "f0=" << f0 << " row " << r;
    }
  }
}

// A frame reaching beyond either end of the signal is fitted as if the signal went on
// with zeros: identical, bit for bit, to the same signal padded explicitly.
TEST(HarmonicFit, FramesAtTheSignalEndsAreZeroPadded) {
  const double f0 = 100.0;
  const uint32_t L = haframesize(kFs, f0) / 2;
  const auto x = harmonicsignal(600, 0, f0, {{1, 0.7, 0.4}, {3, 0.2, -2.0}}, 0.05);
  std::vector<double> padded(L, 0.0);
  padded.insert(padded.end(), x.begin(), x.end());
  padded.insert(padded.end(), L, 0.0);
  auto ws = memhacreate(kFs, kFs, 60);
  const uint32_t n = 10;
  std::vector<double> a(n), p(n), ra(n), rp(n);
  const uint32_t len = static_cast<uint32_t>(x.size());
  for (uint32_t centre : {0u, 5u, len - 1, len - 3}) {
    ASSERT_EQ(getharmonics(x.data(), len, kFs, centre, f0, n, a.data(), p.data(), ws.get(), 1), 0);
    ASSERT_EQ(getharmonics(padded.data(), static_cast<uint32_t>(padded.size()), kFs, centre + L, f0, n,
                           ra.data(), rp.data(), ws.get(), 1),
              0);
    EXPECT_EQ(a, ra) << centre;
    EXPECT_EQ(p, rp) << centre;
  }
}

TEST(HarmonicFit, RefusedCallsLeaveOutputsUntouched) {
  auto ws = memhacreate(kFs, kFs, 100);  // frames up to 321 samples, K = 79
  const auto x = harmonicsignal(2000, 1000, 150, {{1, 1.0, 0.0}});
  std::vector<double> zero(2000, 0.0);
  double amp[3] = {7, 7, 7};
  double pha[3] = {7, 7, 7};
  auto refused = [&](const double* s, uint32_t len, uint32_t centre, double f0, uint32_t n, memha* w,
                     int method) {
    return getharmonics(s, len, kFs, centre, f0, n, amp, pha, w, method) == -1 && amp[0] == 7 && pha[0] == 7;
  };
  EXPECT_TRUE(refused(zero.data(), 2000, 1000, 150, 3, ws.get(), 1));    // silent frame
  EXPECT_TRUE(refused(x.data(), 2000, 1000, 0.0, 3, ws.get(), 1));
  EXPECT_TRUE(refused(x.data(), 2000, 1000, -150, 3, ws.get(), 1));
  EXPECT_TRUE(refused(x.data(), 2000, 1000, kNaN, 3, ws.get(), 1));
  EXPECT_TRUE(refused(x.data(), 2000, 1000, 150, 0, ws.get(), 1));
  EXPECT_TRUE(refused(x.data(), 2000, 2000, 150, 3, ws.get(), 1));      // centre outside
  EXPECT_TRUE(refused(x.data(), 2000, 1000, 150, 3, nullptr, 1));
  EXPECT_TRUE(refused(x.data(), 2000, 1000, 150, 3, ws.get(), 0));      // unknown solver
  EXPECT_TRUE(refused(x.data(), 2000, 1000, 90, 3, ws.get(), 1));       // frame longer than nws
  EXPECT_TRUE(refused(x.data(), 2000, 1000, 150, 81, ws.get(), 1));     // 2n+1 > M rows
  EXPECT_TRUE(refused(x.data(), 2000, 1000, 100, 81, ws.get(), 1));
  EXPECT_EQ(getharmonics(x.data(), 2000, kFs, 1000, 100, 79, nullptr, nullptr, ws.get(), 1), 0);  // n = K
  EXPECT_EQ(solvelsc(ws.get(), 161, 4), -1);  // even row count
  EXPECT_EQ(solvelsc(ws.get(), 323, 3), -1);  // longer than the workspace's frames
}

// Tracked at 100 Hz, true f0 103 Hz: successive steps of both frequency readings, and the
// chain ending when a step changes f0 by less than 0.1 %.
TEST(HarmonicRefinement, WorkedExampleAndStepCounts) {
  const size_t len = 4000;
  const uint32_t c = 2000;
  const auto x = harmonicsignal(len, c, 103, {{1, 1.0, 0.3}, {2, 0.5, -1.2}, {3, 0.25, 2.5}});
  auto ws = memhacreate(kFs, 1000, 30);
  auto step = [&](uint32_t remaining, int8_t method) {
    return harefinepitch(x.data(), len, kFs, c, 100.0, 1000.0, ws.get(), remaining, method);
  };
  EXPECT_NEAR(step(0, 0), 102.52, 0.005);
  EXPECT_NEAR(step(1, 0), 102.95, 0.005);
  EXPECT_NEAR(step(2, 0), 103.00, 0.01);
  EXPECT_EQ(step(3, 0), step(2, 0));  // third step converged: no fourth
  EXPECT_EQ(step(50, 0), step(2, 0));
  EXPECT_EQ(step(2, 1), step(2, 0));  // method 1 reads like 0
  EXPECT_NEAR(step(0, 2), 102.07, 0.005);
  EXPECT_NEAR(step(1, 2), 102.73, 0.005);
  EXPECT_NEAR(step(2, 2), 102.92, 0.005);
  EXPECT_NEAR(step(3, 2), 102.98, 0.005);
  EXPECT_EQ(step(4, 2), step(3, 2));
  EXPECT_NE(step(2, 2), step(3, 2));

  // At the true f0 the first step already converges.
  const auto y = harmonicsignal(len, c, 120, {{1, 1.0, 0.3}, {2, 0.5, -1.2}, {4, 0.3, 1.0}});
  const double v = harefinepitch(y.data(), len, kFs, c, 120.0, 1000.0, ws.get(), 0, 0);
  EXPECT_NEAR(v, 120.0, 0.12);
  EXPECT_EQ(harefinepitch(y.data(), len, kFs, c, 120.0, 1000.0, ws.get(), 5, 0), v);
}

TEST(HarmonicRefinement, StepOutcomes) {
  const size_t len = 4000;
  const uint32_t c = 2000;
  auto ws = memhacreate(kFs, 1000, 30);
  const auto x = harmonicsignal(len, c, 103, {{1, 1.0, 0.3}, {2, 0.5, -1.2}});
  std::vector<double> zero(len, 0.0);
  EXPECT_EQ(harefinepitch(x.data(), len, kFs, c, 0.0, 1000, ws.get(), 2, 0), 0.0);
  EXPECT_EQ(harefinepitch(x.data(), len, kFs, c, 1000.0, 1000, ws.get(), 2, 0), 1000.0);
  EXPECT_EQ(harefinepitch(x.data(), len, kFs, c, -50.0, 1000, ws.get(), 2, 0), -50.0);
  EXPECT_EQ(harefinepitch(zero.data(), len, kFs, c, 100.0, 1000, ws.get(), 2, 0), 0.0);
  // A fundamental alone between 500 and 1000 Hz decides the step.
  const auto hi = harmonicsignal(len, c, 610, {{1, 1.0, 0.3}});
  EXPECT_NEAR(harefinepitch(hi.data(), len, kFs, c, 600.0, 1000, ws.get(), 5, 0), 610.0, 0.5);
  // A 60 Hz tone tracked at 100 Hz: the centre reading moves f0 by more than 20 %, so the
  // step is rejected and the chain ends; the frame-averaged reading stays within 20 %.
  const auto tone = harmonicsignal(len, c, 60, {{1, 1.0, 0.3}});
  EXPECT_EQ(harefinepitch(tone.data(), len, kFs, c, 100.0, 1000, ws.get(), 3, 2), 100.0);
  EXPECT_LT(harefinepitch(tone.data(), len, kFs, c, 100.0, 1000, ws.get(), 0, 0), 81.0);
  // A NaN in the frame gives no usable estimate: the step keeps its starting f0.
  std::vector<double> bad = x;
  bad[c + 3] = kNaN;
  EXPECT_EQ(harefinepitch(bad.data(), len, kFs, c, 100.0, 1000, ws.get(), 3, 0), 100.0);
}

// A step whose frame or harmonic count exceeds the workspace keeps its starting f0, so a
// chain stops at the last step the workspace can hold.
TEST(HarmonicRefinement, CapacityStopsTheChain) {
  const size_t len = 4000;
  const uint32_t c = 2000;
  const auto x = harmonicsignal(len, c, 86, {{1, 1.0, 0.3}, {2, 0.5, -1.2}, {3, 0.25, 2.5}});
  auto small = memhacreate(kFs, 1000, 50);  // M = 42: steps at 100 Hz (h = 9) fit, at 90 Hz (h = 11) not
  auto big = memhacreate(kFs, 1000, 20);
  const double one = harefinepitch(x.data(), len, kFs, c, 100.0, 1000, big.get(), 0, 0);
  ASSERT_LT(one, 90.9);  // the next step would need h = 11
  EXPECT_EQ(harefinepitch(x.data(), len, kFs, c, 100.0, 1000, small.get(), 0, 0), one);
  EXPECT_EQ(harefinepitch(x.data(), len, kFs, c, 100.0, 1000, small.get(), 3, 0), one);
  EXPECT_NEAR(harefinepitch(x.data(), len, kFs, c, 100.0, 1000, big.get(), 5, 0), 86.0, 0.1);
  EXPECT_EQ(harefinepitch(x.data(), len, kFs, c, 40.0, 1000, small.get(), 3, 0), 40.0);
}

TEST(HarmonicRefinement, TrackPassClampsAndSkips) {
  const uint32_t shift = 80;
  const auto x = harmonicsignal(8000, 4000, 103, {{1, 1.0, 0.3}, {2, 0.5, -1.2}, {3, 0.25, 2.5}});
  std::vector<double> sig = x;
  std::fill(sig.begin(), sig.begin() + 1500, 0.0);  // frames 0..~14 lie in silence
  const uint32_t F = 100;
  std::vector<double> track(F, 100.0);
  track[60] = 0.0;
  track[61] = kNaN;
  const std::vector<double> start = track;

  // Tracks compared with NaN equal to NaN.
  auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](double u, double v) { return u == v || (std::isnan(u) && std::isnan(v)); });
  };
  auto run = [&](double f0min, double f0max, int32_t it, int8_t method) {
    std::vector<double> t = start;
    refinepitch(sig.data(), 8000, kFs, shift, 0, F, f0min, f0max, it, method, t.data());
    return t;
  };
  EXPECT_TRUE(same(run(60, 500, 0, 0), start));
  EXPECT_TRUE(same(run(0, 500, 3, 0), start));
  EXPECT_TRUE(same(run(kNaN, 500, 3, 0), start));
  EXPECT_TRUE(same(run(-60, 500, 3, 0), start));
  EXPECT_TRUE(same(run(60, 500, -2, 0), start));

  const auto t3 = run(60, 500, 3, 0);
  auto ws = memhacreate(kFs, 1000, 30);
  EXPECT_EQ(t3[50], harefinepitch(sig.data(), 8000, kFs, 50 * shift, 100.0, 1000, ws.get(), 2, 0));
  EXPECT_NEAR(t3[50], 103.0, 0.05);
  EXPECT_EQ(t3[0], 0.0);  // all-zero frame: now unvoiced
  EXPECT_EQ(t3[60], 0.0);
  EXPECT_TRUE(std::isnan(t3[61]));

  // Refined 103 Hz against F0MIN = 103/0.95 and against F0MAX = 101.
  const double f0min = 103.0 / 0.95;
  const auto lo = run(f0min, 500, 3, 0);
  EXPECT_EQ(lo[50], f0min);
  EXPECT_EQ(lo[0], 0.0);  // 0 is not raised to F0MIN
  EXPECT_EQ(run(60, 101, 3, 0)[50], 101.0);
}

// Direct evaluation of the harmonic log spectrum from the log amplitudes: every source
// k = 0 .. K+4 adds v_k * kernel(theta) to each bin within four harmonic spacings, with the
// part below 0 Hz folded onto the positive bins.
std::vector<double> referencelogspectrum(const std::vector<double>& Lk, double f0, uint32_t N) {
  const size_t K = Lk.size() - 1;
  const double df = kFs / N;
  const uint32_t H = N / 2;
  std::vector<double> spec(N, 0.0);
  auto kernel = [](double th) {
    return std::fabs(th) < 1e-9 ? 1.0 : 0.5 * (1.0 + std::cos(th / 4.0)) * std::sin(th) / th;
  };
  double m = Lk[1];
  for (size_t k = 0; k <= K + 4; ++k) {
    double v = m;
    if (k <= K) {
      v = Lk[k];
      m = std::min(m, v);
    }
    const double fk = k * f0;
    for (uint32_t j = 0; j <= H; ++j) {
      const double f = j * df;
      if (f > fk - 4 * f0 && f < fk + 4 * f0) spec[j] += v * kernel(kPi * (f - fk) / f0);
      // Image of source k at -fk (source 0 is its own image).
      if (k >= 1 && j >= 1 && -f > fk - 4 * f0) spec[j] += v * kernel(kPi * (-f - fk) / f0);
    }
  }
  for (uint32_t j = 1; j < H; ++j) spec[N - j] = spec[j];
  return spec;
}

// Log amplitudes L[0..K] of the fit left in the workspace.
std::vector<double> fittedlogamps(const memha* ws, size_t K, double f0) {
  std::vector<double> Lk(K + 1);
  for (size_t k = 1; k <= K; ++k) {
    const double re = ws->coef[2 * (K + k)];
    const double im = ws->coef[2 * (K + k) + 1];
    Lk[k] = 0.5 * std::log((re * re + im * im) / f0);
  }
  Lk[0] = Lk[1];
  return Lk;
}

std::vector<Partial> envelopepartials(double f0, int K) {
  std::vector<Partial> parts;
  for (int k = 1; k <= K; ++k) {
    const double f = k * f0;
    parts.push_back({k, 0.3 * std::exp(-f / 2500.0) * (1.0 + 0.8 * std::exp(-std::pow((f - 700) / 200, 2))),
                     0.37 * k * k});
  }
  return parts;
}

TEST(HarmonicLogSpectrum, MatchesDirectKernelSums) {
  auto ws = memhacreate(kFs, kFs, 60);
  const uint32_t N = 1024;
  // 125 Hz lies on the bin grid (df = 15.625 Hz), 100 Hz puts every fifth harmonic on a bin,
  // 5000 and 6000 Hz have a single harmonic whose kernel folded below 0 Hz reaches past N/2
  // (past N itself at 6000 Hz); those bins are only filled by the mirror.
  for (double f0 : {125.0, 100.0, 173.3, 61.7, 5000.0, 6000.0}) {
    const int K = hanoharms(kFs, kFs, f0);
    const auto x = harmonicsignal(6000, 3000, f0, envelopepartials(f0, K));
    std::vector<double> spec(N, 99.0);
    ASSERT_EQ(getharmoniclogspectrum(x.data(), 6000, kFs, 3000, f0, N, spec.data(), ws.get(), 1), 0);
    const auto Lk = fittedlogamps(ws.get(), static_cast<size_t>(K), f0);
    const auto ref = referencelogspectrum(Lk, f0, N);
    for (uint32_t j = 0; j < N; ++j) ASSERT_NEAR(spec[j], ref[j], 1e-9) << "f0=" << f0 << " bin " << j;
    EXPECT_NEAR(Lk[1], std::log(envelopepartials(f0, 1)[0].amp / (2 * std::sqrt(f0))), 1e-9);
    if (f0 == 125.0) {
      for (int k = 1; k <= K; ++k) EXPECT_NEAR(spec[8 * k], Lk[k], 1e-12) << k;
      EXPECT_NEAR(spec[0], Lk[1], 1e-12);
    }
  }
}

// Bins reached by one source: all log amplitudes 0 except one harmonic; the spectrum is
// non-zero exactly on that source's bins.
TEST(HarmonicLogSpectrum, BinsTouchedPerSource) {
  auto ws = memhacreate(kFs, kFs, 60);
  const uint32_t N = 1024;
  const double f0 = 100.0;
  const int K = hanoharms(kFs, kFs, f0);
  auto touched = [&](int hot) {
    std::vector<Partial> parts;
    for (int k = 1; k <= K; ++k) parts.push_back({k, 2 * std::sqrt(f0) * (k == hot ? std::exp(1.0) : 1.0), 0.1 * k});
    const auto x = harmonicsignal(4000, 2000, f0, parts);
    std::vector<double> spec(N);
    EXPECT_EQ(getharmoniclogspectrum(x.data(), 4000, kFs, 2000, f0, N, spec.data(), ws.get(), 1), 0);
    std::vector<uint32_t> bins;
    for (uint32_t j = 0; j <= N / 2; ++j) {
      if (std::fabs(spec[j]) > 1e-7) bins.push_back(j);
      else EXPECT_LT(std::fabs(spec[j]), 1e-9) << j;
    }
    return bins;
  };
  const auto b10 = touched(10);
  ASSERT_FALSE(b10.empty());
  EXPECT_EQ(b10.front(), 39u);
  EXPECT_EQ(b10.back(), 89u);
  EXPECT_EQ(b10.size(), 51u);
  // Harmonic 1 also feeds the 0 Hz source; its kernel folds onto bins 19..1 and covers 0..31
  // (bin 32, at 500 Hz, is the end of the kernel).
  const auto b1 = touched(1);
  ASSERT_FALSE(b1.empty());
  EXPECT_EQ(b1.front(), 0u);
  EXPECT_EQ(b1.back(), 31u);
  EXPECT_EQ(b1.size(), 32u);
}

TEST(HarmonicLogSpectrum, FailuresLeaveTheSpectrumUntouched) {
  auto ws = memhacreate(kFs, kFs, 60);
  const auto x = harmonicsignal(4000, 2000, 150, {{1, 1.0, 0.0}});
  std::vector<double> zero(4000, 0.0);
  std::vector<double> spec(512, 5.0);
  const std::vector<double> orig = spec;
  EXPECT_EQ(getharmoniclogspectrum(x.data(), 4000, kFs, 2000, 8000, 512, spec.data(), ws.get(), 1), -1);  // K = 0
  EXPECT_EQ(getharmoniclogspectrum(zero.data(), 4000, kFs, 2000, 150, 512, spec.data(), ws.get(), 1), -1);
  EXPECT_EQ(getharmoniclogspectrum(x.data(), 4000, kFs, 2000, 150, 1, spec.data(), ws.get(), 1), -1);
  EXPECT_EQ(getharmoniclogspectrum(x.data(), 4000, kFs, 2000, 150, 512, nullptr, ws.get(), 1), -1);
  EXPECT_EQ(spec, orig);
}

}  // namespace
}  // namespace brisvane
