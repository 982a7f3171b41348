// Harmonic analysis: sizes, basis matrices, the harmonic fit, pitch refinement and the
// harmonic log spectrum against a direct evaluation of the interpolation kernel.
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
  int k;
  double amp;
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

const std::vector<Partial> kThree = {{1, 1.0, 0.3}, {2, 0.5, -1.2}, {3, 0.25, 2.5}};

TEST(HarmonicSizes, FrameLengthsHarmonicCountsAndWorkspace) {
  const struct { double f0; uint32_t n; } frames[] = {
      {200, 161}, {100, 321}, {60, 535}, {30, 1067}, {75, 427}, {0, 0}, {kNaN, 0}};
  for (const auto& f : frames) EXPECT_EQ(haframesize(kFs, f.f0), f.n) << f.f0;
  const struct { double fmax, f0; int k; } harms[] = {
      {kFs, 100, 79},  {1000, 100, 9}, {1000, 110, 9}, {1000, 400, 2}, {1000, 600, 1}, {1000, 1000, 0},
      {kFs, 8000, 0},  {kFs, 0, 0},    {kFs, -100, 0}, {kFs, kNaN, 0}, {kNaN, 100, 0},
      {kFs, 1e-300, std::numeric_limits<int>::max()}};
  for (const auto& h : harms) EXPECT_EQ(hanoharms(kFs, h.fmax, h.f0), h.k) << h.fmax << " " << h.f0;

  auto ws = memhacreate(kFs, kFs, 500);  // layout of the single block
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

TEST(HarmonicBasis, RowsRampRowsAndSlopeWeight) {
  const uint32_t N = 161, L = N / 2;
  std::vector<double> w(N);
  winhamming(w.data(), N, 1);
  for (uint32_t n : {1u, 7u}) {
    const uint32_t B = 2 * n + 1;
    const double om = kTwoPi * 237.0 / kFs;
    std::vector<double> E(2 * B * N, -1.0);
    ASSERT_EQ(hamatrixcreate1(E.data(), N, n, 237.0, kFs, w.data()), 0);
    for (uint32_t r = 0; r < B; ++r) {
      EXPECT_EQ(E[2 * (r * N + L)], w[L]);
      EXPECT_EQ(E[2 * (r * N + L) + 1], 0.0);
      for (uint32_t t = 0; t < N; ++t) {
        const double re = E[2 * (r * N + t)], im = E[2 * (r * N + t) + 1];
        EXPECT_EQ(re, E[2 * ((B - 1 - r) * N + t)]);  // row 2n - r is the conjugate of row r
        EXPECT_EQ(im, -E[2 * ((B - 1 - r) * N + t) + 1]);
        const double ph = (static_cast<double>(n) - r) * om * (static_cast<double>(t) - L);
        ASSERT_NEAR(re, w[t] * std::cos(ph), 1e-12) << "r=" << r << " t=" << t;
        ASSERT_NEAR(im, w[t] * std::sin(ph), 1e-12) << "r=" << r << " t=" << t;
      }
    }
  }
  std::vector<double> E(2 * 3 * 161);
  EXPECT_EQ(hamatrixcreate1(E.data(), 160, 1, 100, kFs, w.data()), -1);  // even length
  EXPECT_EQ(hamatrixcreate1(E.data(), 161, 0, 100, kFs, w.data()), -1);

  // Slope weight: the ramp g*tau/fs has a w^2-weighted mean square of about 1.
  for (uint32_t M : {161u, 321u}) {
    std::vector<double> v(M);
    winhamming(v.data(), M, 0);
    const uint32_t C = M / 2;
    const double g = haweightslope(v.data(), C, kFs);
    EXPECT_NEAR(g, M == 161 ? 654.1 : 327.0, 0.06);
    double num = 0.0, den = 0.0;
    for (uint32_t t = 0; t < M; ++t) {
      const double r = g * (static_cast<double>(t) - C) / kFs;
      num += v[t] * v[t] * r * r;
      den += v[t] * v[t];
    }
    EXPECT_NEAR(num / den, 1.0, 0.01);
    // Ramp rows (second half) are the plain rows times the ramp: spot-check row 1, sample 0.
    std::vector<double> D(4 * 7 * M);
    ASSERT_EQ(hamatrixcreate2(D.data(), M, 3, 130.0, kFs, v.data(), g), 0);
    EXPECT_NEAR(D[2 * (8 * M)], -g * C / kFs * D[2 * M], 1e-12);
    EXPECT_NEAR(D[2 * (8 * M) + 1], -g * C / kFs * D[2 * M + 1], 1e-12);
  }
  EXPECT_EQ(haweightslope(nullptr, 80, kFs), 0.0);
}

TEST(HarmonicFit, WorkedExample) {
  const auto x = harmonicsignal(4000, 2000, 100, kThree, 0.2);
  auto ws = memhacreate(kFs, kFs, 60);
  double amp[5], pha[5];
  ASSERT_EQ(getharmonics(x.data(), 4000, kFs, 2000, 100, 5, amp, pha, ws.get(), 1), 0);
  const double ea[5] = {1.0, 0.5, 0.25, 0.0, 0.0}, ep[3] = {0.3, -1.2, 2.5};
  for (int k = 0; k < 5; ++k) EXPECT_NEAR(amp[k], ea[k], 1e-12) << k;
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(pha[k], ep[k], 1e-12) << k;
  EXPECT_NEAR(ws->coef[2 * 5], 0.2, 1e-12);  // constant term
  EXPECT_EQ(ws->coef[2 * 5 + 1], 0.0);
  EXPECT_EQ(ws->coef[2 * 4], ws->coef[2 * 6]);  // element n-k is the conjugate of n+k
  EXPECT_EQ(ws->coef[2 * 4 + 1], -ws->coef[2 * 6 + 1]);
}

// Random harmonic signals fit back exactly; a noisy frame's residual is orthogonal to every row.
TEST(HarmonicFit, RandomHarmonicSignalsAndResidual) {
  std::mt19937 rng(20240611u);
  std::uniform_real_distribution<double> uf0(60.0, 400.0), ua(0.05, 1.0), uph(-3.0, 3.0);
  auto ws = memhacreate(kFs, kFs, 60);
  for (int trial = 0; trial < 12; ++trial) {
    const double f0 = uf0(rng);
    const uint32_t n = static_cast<uint32_t>(std::min(hanoharms(kFs, kFs, f0), 40));
    std::vector<Partial> parts;
    for (uint32_t k = 1; k <= n; ++k) parts.push_back({static_cast<int>(k), ua(rng), uph(rng)});
    const auto x = harmonicsignal(3000, 1400, f0, parts, 0.1);
    std::vector<double> amp(n), pha(n);
    ASSERT_EQ(getharmonics(x.data(), 3000, kFs, 1400, f0, n, amp.data(), pha.data(), ws.get(), 1), 0);
    for (uint32_t k = 0; k < n; ++k) {
      EXPECT_NEAR(amp[k], parts[k].amp, 1e-8) << "f0=" << f0 << " k=" << k + 1;
      EXPECT_NEAR(std::remainder(pha[k] - parts[k].phase, kTwoPi), 0.0, 1e-7) << "f0=" << f0 << " k=" << k + 1;
    }
    std::vector<double> y = x;
    for (double& v : y) v += 0.3 * (ua(rng) - 0.5);
    ASSERT_EQ(getharmonics(y.data(), 3000, kFs, 1400, f0, n, nullptr, nullptr, ws.get(), 1), 0);
    const uint32_t N = haframesize(kFs, std::min(f0, 200.0));
    for (uint32_t r = 0; r < 2 * n + 1; ++r) {
      double pr = 0.0, pi = 0.0;
      for (uint32_t t = 0; t < N; ++t) {
        pr += ws->basis[2 * (r * N + t)] * ws->frame[t];
        pi += ws->basis[2 * (r * N + t) + 1] * ws->frame[t];
      }
      ASSERT_NEAR(pr, 0.0, 1e-9) << "f0=" << f0 << " row " << r;
      ASSERT_NEAR(pi, 0.0, 1e-9) << "f0=" << f0 << " row " << r;
    }
  }
}

// Frames past either signal end fit bit for bit like an explicitly zero-padded signal.
TEST(HarmonicFit, FramesAtTheSignalEndsAreZeroPadded) {
  const double f0 = 100.0;
  const uint32_t L = haframesize(kFs, f0) / 2;
  const auto x = harmonicsignal(600, 0, f0, {{1, 0.7, 0.4}, {3, 0.2, -2.0}}, 0.05);
  std::vector<double> padded(L, 0.0);
  padded.insert(padded.end(), x.begin(), x.end());
  padded.insert(padded.end(), L, 0.0);
  auto ws = memhacreate(kFs, kFs, 60);
  std::vector<double> a(10), p(10), ra(10), rp(10);
  for (uint32_t centre : {0u, 5u, 599u, 597u}) {
    ASSERT_EQ(getharmonics(x.data(), 600, kFs, centre, f0, 10, a.data(), p.data(), ws.get(), 1), 0);
    ASSERT_EQ(getharmonics(padded.data(), static_cast<uint32_t>(padded.size()), kFs, centre + L, f0, 10, ra.data(),
                           rp.data(), ws.get(), 1), 0);
    EXPECT_EQ(a, ra) << centre;
    EXPECT_EQ(p, rp) << centre;
  }
}

TEST(HarmonicFit, RefusedCallsLeaveOutputsUntouched) {
  auto ws = memhacreate(kFs, kFs, 100);  // frames up to 321 samples, K = 79
  const auto x = harmonicsignal(2000, 1000, 150, {{1, 1.0, 0.0}});
  const std::vector<double> zero(2000, 0.0);
  // silent frame, bad f0s, n = 0, centre outside, no workspace, unknown solver, frame longer
  // than nws, 2n+1 > M rows.
  const struct { const double* s; uint32_t centre; double f0; uint32_t n; memha* w; int method; } cases[] = {
      {zero.data(), 1000, 150, 3, ws.get(), 1}, {x.data(), 1000, 0.0, 3, ws.get(), 1},
      {x.data(), 1000, -150, 3, ws.get(), 1},   {x.data(), 1000, kNaN, 3, ws.get(), 1},
      {x.data(), 1000, 150, 0, ws.get(), 1},    {x.data(), 2000, 150, 3, ws.get(), 1},
      {x.data(), 1000, 150, 3, nullptr, 1},     {x.data(), 1000, 150, 3, ws.get(), 0},
      {x.data(), 1000, 90, 3, ws.get(), 1},     {x.data(), 1000, 150, 81, ws.get(), 1},
      {x.data(), 1000, 100, 81, ws.get(), 1}};
  for (const auto& c : cases) {
    double amp[3] = {7, 7, 7}, pha[3] = {7, 7, 7};
    EXPECT_EQ(getharmonics(c.s, 2000, kFs, c.centre, c.f0, c.n, amp, pha, c.w, c.method), -1) << c.f0 << " " << c.n;
    EXPECT_TRUE(amp[0] == 7 && pha[0] == 7);
  }
  EXPECT_EQ(getharmonics(x.data(), 2000, kFs, 1000, 100, 79, nullptr, nullptr, ws.get(), 1), 0);  // n = K
  EXPECT_EQ(solvelsc(ws.get(), 161, 4), -1);  // even row count
  EXPECT_EQ(solvelsc(ws.get(), 323, 3), -1);  // longer than the workspace's frames
}

// Tracked at 100 Hz, true f0 103 Hz: the steps of both readings; the chain ends when a step
// changes f0 by less than 0.1 %.
TEST(HarmonicRefinement, WorkedExampleAndStepCounts) {
  const auto x = harmonicsignal(4000, 2000, 103, kThree);
  auto ws = memhacreate(kFs, 1000, 30);
  auto step = [&](uint32_t remaining, int8_t method) {
    return harefinepitch(x.data(), 4000, kFs, 2000, 100.0, 1000.0, ws.get(), remaining, method);
  };
  const struct { uint32_t rem; int8_t method; double want, tol; } steps[] = {
      {0, 0, 102.52, 0.005}, {1, 0, 102.95, 0.005}, {2, 0, 103.00, 0.01},  {0, 2, 102.07, 0.005},
      {1, 2, 102.73, 0.005}, {2, 2, 102.92, 0.005}, {3, 2, 102.98, 0.005}};
  for (const auto& s : steps) EXPECT_NEAR(step(s.rem, s.method), s.want, s.tol) << s.rem << " " << int(s.method);
  EXPECT_EQ(step(3, 0), step(2, 0));  // third step converged: no fourth
  EXPECT_EQ(step(50, 0), step(2, 0));
  EXPECT_EQ(step(2, 1), step(2, 0));  // method 1 reads like 0
  EXPECT_EQ(step(4, 2), step(3, 2));
  EXPECT_NE(step(2, 2), step(3, 2));
  // At the true f0 the first step already converges.
  const auto y = harmonicsignal(4000, 2000, 120, {{1, 1.0, 0.3}, {2, 0.5, -1.2}, {4, 0.3, 1.0}});
  const double v = harefinepitch(y.data(), 4000, kFs, 2000, 120.0, 1000.0, ws.get(), 0, 0);
  EXPECT_NEAR(v, 120.0, 0.12);
  EXPECT_EQ(harefinepitch(y.data(), 4000, kFs, 2000, 120.0, 1000.0, ws.get(), 5, 0), v);
}

TEST(HarmonicRefinement, StepOutcomesAndCapacity) {
  auto ws = memhacreate(kFs, 1000, 30);
  auto refine = [&](const std::vector<double>& s, double f0, uint32_t rem, int8_t method, memha* w) {
    return harefinepitch(s.data(), 4000, kFs, 2000, f0, 1000, w, rem, method);
  };
  const auto x = harmonicsignal(4000, 2000, 103, {{1, 1.0, 0.3}, {2, 0.5, -1.2}});
  EXPECT_EQ(refine(x, 0.0, 2, 0, ws.get()), 0.0);
  EXPECT_EQ(refine(x, 1000.0, 2, 0, ws.get()), 1000.0);
  EXPECT_EQ(refine(x, -50.0, 2, 0, ws.get()), -50.0);
  EXPECT_EQ(refine(std::vector<double>(4000, 0.0), 100.0, 2, 0, ws.get()), 0.0);
  // A fundamental alone between 500 and 1000 Hz decides the step.
  EXPECT_NEAR(refine(harmonicsignal(4000, 2000, 610, {{1, 1.0, 0.3}}), 600.0, 5, 0, ws.get()), 610.0, 0.5);
  // 60 Hz tracked at 100 Hz: the centre reading moves f0 by over 20 %, so the step is
  // rejected; the frame-averaged reading stays within 20 %.
  const auto tone = harmonicsignal(4000, 2000, 60, {{1, 1.0, 0.3}});
  EXPECT_EQ(refine(tone, 100.0, 3, 2, ws.get()), 100.0);
  EXPECT_LT(refine(tone, 100.0, 0, 0, ws.get()), 81.0);
  std::vector<double> bad = x;  // a NaN in the frame: the step keeps its starting f0
  bad[2003] = kNaN;
  EXPECT_EQ(refine(bad, 100.0, 3, 0, ws.get()), 100.0);

  // A step beyond the workspace keeps its f0: the chain stops at the last step that fits.
  const auto z = harmonicsignal(4000, 2000, 86, kThree);
  auto small = memhacreate(kFs, 1000, 50);  // M = 42: h = 9 (100 Hz) fits, h = 11 (90 Hz) not
  auto big = memhacreate(kFs, 1000, 20);
  const double one = refine(z, 100.0, 0, 0, big.get());
  ASSERT_LT(one, 90.9);
  EXPECT_EQ(refine(z, 100.0, 0, 0, small.get()), one);
  EXPECT_EQ(refine(z, 100.0, 3, 0, small.get()), one);
  EXPECT_NEAR(refine(z, 100.0, 5, 0, big.get()), 86.0, 0.1);
  EXPECT_EQ(refine(z, 40.0, 3, 0, small.get()), 40.0);
}

TEST(HarmonicRefinement, TrackPassClampsAndSkips) {
  std::vector<double> sig = harmonicsignal(8000, 4000, 103, kThree);
  std::fill(sig.begin(), sig.begin() + 1500, 0.0);  // frames 0..~14 lie in silence
  std::vector<double> start(100, 100.0);
  start[60] = 0.0;
  start[61] = kNaN;
  auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](double u, double v) { return u == v || (std::isnan(u) && std::isnan(v)); });
  };
  auto run = [&](double f0min, double f0max, int32_t it) {
    std::vector<double> t = start;
    refinepitch(sig.data(), 8000, kFs, 80, 0, 100, f0min, f0max, it, 0, t.data());
    return t;
  };
  for (double f0min : {0.0, kNaN, -60.0}) EXPECT_TRUE(same(run(f0min, 500, 3), start)) << f0min;
  EXPECT_TRUE(same(run(60, 500, 0), start));
  EXPECT_TRUE(same(run(60, 500, -2), start));

  const auto t3 = run(60, 500, 3);
  auto ws = memhacreate(kFs, 1000, 30);
  EXPECT_EQ(t3[50], harefinepitch(sig.data(), 8000, kFs, 50 * 80, 100.0, 1000, ws.get(), 2, 0));
  EXPECT_NEAR(t3[50], 103.0, 0.05);
  EXPECT_EQ(t3[0], 0.0);  // all-zero frame: now unvoiced
  EXPECT_EQ(t3[60], 0.0);
  EXPECT_TRUE(std::isnan(t3[61]));
  const double f0min = 103.0 / 0.95;  // refined 103 Hz clamped to F0MIN and to F0MAX = 101
  const auto lo = run(f0min, 500, 3);
  EXPECT_EQ(lo[50], f0min);
  EXPECT_EQ(lo[0], 0.0);  // 0 is not raised to F0MIN
  EXPECT_EQ(run(60, 101, 3)[50], 101.0);
}

// Direct evaluation: every source k = 0 .. K+4 adds v_k * kernel(theta) to each bin within
// four harmonic spacings; the part below 0 Hz folds onto the positive bins.
std::vector<double> referencelogspectrum(const std::vector<double>& Lk, double f0, uint32_t N) {
  const size_t K = Lk.size() - 1;
  const uint32_t H = N / 2;
  std::vector<double> spec(N, 0.0);
  auto kernel = [](double th) {
    return std::fabs(th) < 1e-9 ? 1.0 : 0.5 * (1.0 + std::cos(th / 4.0)) * std::sin(th) / th;
  };
  double m = Lk[1];
  for (size_t k = 0; k <= K + 4; ++k) {
    double v = m;
    if (k <= K) m = std::min(m, v = Lk[k]);
    const double fk = k * f0;
    for (uint32_t j = 0; j <= H; ++j) {
      const double f = j * kFs / N;
      if (f > fk - 4 * f0 && f < fk + 4 * f0) spec[j] += v * kernel(kPi * (f - fk) / f0);
      if (k >= 1 && j >= 1 && -f > fk - 4 * f0) spec[j] += v * kernel(kPi * (-f - fk) / f0);  // image at -fk
    }
  }
  for (uint32_t j = 1; j < H; ++j) spec[N - j] = spec[j];
  return spec;
}

TEST(HarmonicLogSpectrum, MatchesDirectKernelSums) {
  auto ws = memhacreate(kFs, kFs, 60);
  const uint32_t N = 1024;
  // 125 Hz lies on the bin grid, 100 Hz puts every fifth harmonic on a bin; at 5000 and
  // 6000 Hz the folded kernel reaches past N/2 (past N at 6000 Hz).
  for (double f0 : {125.0, 100.0, 173.3, 61.7, 5000.0, 6000.0}) {
    const int K = hanoharms(kFs, kFs, f0);
    std::vector<Partial> parts;
    for (int k = 1; k <= K; ++k) {
      const double f = k * f0;
      parts.push_back({k, 0.3 * std::exp(-f / 2500.0) * (1.0 + 0.8 * std::exp(-std::pow((f - 700) / 200, 2))),
                       0.37 * k * k});
    }
    const auto x = harmonicsignal(6000, 3000, f0, parts);
    std::vector<double> spec(N, 99.0);
    ASSERT_EQ(getharmoniclogspectrum(x.data(), 6000, kFs, 3000, f0, N, spec.data(), ws.get(), 1), 0);
    std::vector<double> Lk(K + 1);  // log amplitudes of the fit left in the workspace
    for (int k = 1; k <= K; ++k) {
      const double re = ws->coef[2 * (K + k)], im = ws->coef[2 * (K + k) + 1];
      Lk[k] = 0.5 * std::log((re * re + im * im) / f0);
    }
    Lk[0] = Lk[1];
    const auto ref = referencelogspectrum(Lk, f0, N);
    for (uint32_t j = 0; j < N; ++j) ASSERT_NEAR(spec[j], ref[j], 1e-9) << "f0=" << f0 << " bin " << j;
    EXPECT_NEAR(Lk[1], std::log(parts[0].amp / (2 * std::sqrt(f0))), 1e-9);
    if (f0 == 125.0) {
      for (int k = 1; k <= K; ++k) EXPECT_NEAR(spec[8 * k], Lk[k], 1e-12) << k;
      EXPECT_NEAR(spec[0], Lk[1], 1e-12);
    }
  }
}

// One harmonic's log amplitude 1, all others 0: the spectrum is non-zero exactly on that
// source's bins.
TEST(HarmonicLogSpectrum, BinsTouchedPerSource) {
  auto ws = memhacreate(kFs, kFs, 60);
  const double f0 = 100.0;
  const int K = hanoharms(kFs, kFs, f0);
  auto range = [](uint32_t a, uint32_t b) {
    std::vector<uint32_t> v;
    for (uint32_t j = a; j <= b; ++j) v.push_back(j);
    return v;
  };
  auto touched = [&](int hot) {
    std::vector<Partial> parts;
    for (int k = 1; k <= K; ++k) parts.push_back({k, 2 * std::sqrt(f0) * (k == hot ? std::exp(1.0) : 1.0), 0.1 * k});
    const auto x = harmonicsignal(4000, 2000, f0, parts);
    std::vector<double> spec(1024);
    EXPECT_EQ(getharmoniclogspectrum(x.data(), 4000, kFs, 2000, f0, 1024, spec.data(), ws.get(), 1), 0);
    std::vector<uint32_t> bins;
    for (uint32_t j = 0; j <= 512; ++j) {
      if (std::fabs(spec[j]) > 1e-7) bins.push_back(j);
      else EXPECT_LT(std::fabs(spec[j]), 1e-9) << j;
    }
    return bins;
  };
  EXPECT_EQ(touched(10), range(39, 89));
  // Harmonic 1 also feeds the 0 Hz source; its kernel folds onto bins 19..1 and covers 0..31
  // (bin 32, at 500 Hz, is the end of the kernel).
  EXPECT_EQ(touched(1), range(0, 31));
}

TEST(HarmonicLogSpectrum, FailuresLeaveTheSpectrumUntouched) {
  auto ws = memhacreate(kFs, kFs, 60);
  const auto x = harmonicsignal(4000, 2000, 150, {{1, 1.0, 0.0}});
  const std::vector<double> zero(4000, 0.0);
  std::vector<double> spec(512, 5.0);
  EXPECT_EQ(getharmoniclogspectrum(x.data(), 4000, kFs, 2000, 8000, 512, spec.data(), ws.get(), 1), -1);  // K = 0
  EXPECT_EQ(getharmoniclogspectrum(zero.data(), 4000, kFs, 2000, 150, 512, spec.data(), ws.get(), 1), -1);
  EXPECT_EQ(getharmoniclogspectrum(x.data(), 4000, kFs, 2000, 150, 1, spec.data(), ws.get(), 1), -1);
  EXPECT_EQ(getharmoniclogspectrum(x.data(), 4000, kFs, 2000, 150, 512, nullptr, ws.get(), 1), -1);
  EXPECT_EQ(spec, std::vector<double>(512, 5.0));
}

}  // namespace
}  // namespace brisvane
