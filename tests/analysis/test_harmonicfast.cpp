// Fast harmonic routes against the documented ones: the Toeplitz solve, the folded-frame fit,
// the table-driven log spectrum and the fast refinement. They must fail where the documented
// routes fail and agree to rounding on synthetic speech and, when present, the corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/harmonicanalysis.h"
#include "analysis/pitchanalysis.h"
#include "dsp/matvect.h"
#include "dsp/windowing.h"
#include "io/wavm1616io.h"
#include "tools/synth/synthspeech.h"
#include "trackedspeech.h"

namespace brisvane {
namespace {

constexpr double kFs = 16000.0;
constexpr double kTwoPi = 6.283185307179586;

using trackedspeech::kSanitizer;
using trackedspeech::Recording;

// Synthetic utterance plus the corpus recordings (one under the sanitizer).
const std::vector<Recording>& recordings() {
  static const std::vector<Recording> all = trackedspeech::load(static_cast<std::size_t>(-1));
  return all;
}

// Every other voiced frame in the optimised build, a sample of them under the sanitizer.
constexpr uint32_t kStride = kSanitizer ? 7 : 2;

// Three harmonics of f0 (amplitudes 1, 0.5, 0.25) plus an offset, phases set at `centre`.
std::vector<double> threeharmonics(size_t len, double centre, double f0, double offset) {
  std::vector<double> x(len);
  const double om = kTwoPi * f0 / kFs;
  for (size_t i = 0; i < len; ++i) {
    const double tau = static_cast<double>(i) - centre;
    x[i] = offset + std::cos(om * tau + 0.3) + 0.5 * std::cos(2 * om * tau - 1.2) + 0.25 * std::cos(3 * om * tau + 2.5);
  }
  return x;
}

TEST(ToeplitzSolve, MatchesTheExplicitInverseAndItsFailures) {
  // Sizes around the steps where one more block of pairs starts (15 to 17) and beyond; z and
  // the work memory start as NaN, so that a value read before it is written shows. Odd sizes
  // also go through the centre-out solve, with b split into its parts about the centre row, on a
  // well-conditioned row and on a nearly singular one (t(i) = 0.995^i, condition up to about 1e5).
  for (int ill = 0; ill < 2; ++ill) {
    for (uint32_t n : {1u, 2u, 3u, 8u, 15u, 16u, 17u, 31u, 64u, 123u}) {
      std::vector<double> t(n), b(n), z(n, std::nan("")), work(4 * n, std::nan("")), T(n * n), R(n * n);
      for (uint32_t i = 0; i < n; ++i) {
        t[i] = ill ? std::pow(0.995, i) : i == 0 ? 2.0 : 0.9 * std::cos(0.7 * i) / (1.0 + i);
        b[i] = std::sin(1.3 * i + 0.2);
      }
      for (uint32_t i = 0; i < n; ++i)
        for (uint32_t j = 0; j < n; ++j) T[i * n + j] = t[i > j ? i - j : j - i];
      ASSERT_EQ(toeplitzsiminv(n, T.data(), R.data()), 0);
      double growth = 0.0;
      ASSERT_EQ(toeplitzsimsolve(n, t.data(), b.data(), z.data(), work.data(), &growth), 0) << n;
      if (!ill) {
        EXPECT_NEAR(growth, t[0] * R[0], 1e-13) << n;  // t(0) times the inverse's leading element
      }
      std::vector<double> ref(n, 0.0);
      double big = 0.0;
      for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) ref[i] += R[i * n + j] * b[j];
        big = std::max(big, std::fabs(ref[i]));
      }
      const double tol = ill ? 1e-9 * big : 1e-13;
      for (uint32_t i = 0; i < n; ++i) EXPECT_NEAR(z[i], ref[i], tol) << "n " << n << " i " << i;
      if (n % 2 == 0) continue;
      const uint32_t h = n / 2;
      std::vector<double> ys(h + 1), ya(h + 1, std::nan("")), zs(h + 1, std::nan("")), za(h + 1, std::nan(""));
      std::fill(work.begin(), work.end(), std::nan(""));
      for (uint32_t d = 0; d <= h; ++d) {
        ys[d] = 0.5 * (b[h - d] + b[h + d]);
        if (d > 0) ya[d] = 0.5 * (b[h - d] - b[h + d]);  // ya[0] is not read
      }
      double cgrowth = 0.0;
      ASSERT_EQ(toeplitzsimsolvecentred(h, t.data(), ys.data(), ya.data(), zs.data(), za.data(), work.data(), &cgrowth), 0);
      EXPECT_EQ(cgrowth, growth) << n;  // the same predictor recursion, to the bit
      EXPECT_EQ(za[h], 0.0);
      for (uint32_t r = 0; r <= h; ++r) {
        EXPECT_NEAR(zs[r] + za[r], ref[r], tol) << "n " << n << " r " << r;
        EXPECT_NEAR(zs[r] - za[r], ref[n - 1 - r], tol) << "n " << n << " r " << r;
      }
    }
  }
  // Singular leading blocks (c = 1 or -1), a zero leading element, n = 0 and null arrays.
  std::vector<double> z(4), work(12);
  const double same[] = {1.0, 1.0, 0.5}, flip[] = {1.0, -1.0, 0.5}, zero[] = {0.0, 1.0, 0.5}, b[] = {1.0, 2.0, 3.0};
  for (const double* t : {same, flip, zero}) {
    EXPECT_EQ(toeplitzsimsolve(3, t, b, z.data(), work.data()), -1);
    EXPECT_EQ(toeplitzsimsolvecentred(1, t, b, b, z.data(), z.data() + 2, work.data()), -1);
  }
  EXPECT_EQ(toeplitzsimsolve(0, same, b, z.data(), work.data()), -1);
  EXPECT_EQ(toeplitzsimsolve(3, same, nullptr, z.data(), work.data()), -1);
  EXPECT_EQ(toeplitzsimsolve(3, same, b, z.data(), nullptr), -1);
  EXPECT_EQ(toeplitzsimsolvecentred(1, same, b, nullptr, z.data(), z.data() + 2, work.data()), -1);
  EXPECT_EQ(toeplitzsimsolvecentred(1, same, b, b, z.data(), z.data() + 2, nullptr), -1);
}

TEST(HarmonicsFast, WorkedExampleAndRefusals) {
  const std::vector<double> x = threeharmonics(4000, 2000, 100.0, 0.2);
  auto ws = memhacreate(kFs, kFs, 60.0);
  std::vector<double> amp(5), pha(5);
  ASSERT_EQ(getharmonicsfast(x.data(), 4000, kFs, 2000, 100.0, 5, amp.data(), pha.data(), ws.get(), 1), 0);
  const double want[] = {1.0, 0.5, 0.25, 0.0, 0.0}, wantp[] = {0.3, -1.2, 2.5};
  for (int k = 0; k < 5; ++k) EXPECT_NEAR(amp[k], want[k], 1e-12) << k;
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(pha[k], wantp[k], 1e-12) << k;
  EXPECT_NEAR(ws->coef[2 * 5], 0.2, 1e-12);
  EXPECT_EQ(ws->coef[2 * 5 + 1], 0.0);
  // Harmonic counts whose n + 1 angles fill one to nine and thirteen or fourteen vectors of four
  // (every split of the projections into blocks, some with padded lanes), on frames of both
  // half-length parities: the same three harmonics, the rest 0.
  for (double f0 : {100.0, 99.5}) {  // half-lengths 160 and 161
    const std::vector<double> y = threeharmonics(4000, 2000, f0, 0.0);
    for (uint32_t n : {3u, 7u, 11u, 15u, 19u, 22u, 27u, 31u, 35u, 50u, 55u}) {
      std::vector<double> a(n);
      ASSERT_EQ(getharmonicsfast(y.data(), 4000, kFs, 2000, f0, n, a.data(), nullptr, ws.get(), 1), 0);
      for (uint32_t k = 0; k < n; ++k) EXPECT_NEAR(a[k], k < 3 ? want[k] : 0.0, 1e-11) << f0 << " Hz, " << n;
    }
  }

  // The workspace keeps the window halves of the last few frame lengths: six lengths in turn,
  // twice (every kept half is replaced before it comes back), give the same bits as a fresh
  // workspace for each fit.
  for (int pass = 0; pass < 2; ++pass) {
    for (double f0 : {100.0, 99.5, 120.0, 87.0, 150.0, 99.0}) {
      std::vector<double> a(7), b(7);
      auto fresh = memhacreate(kFs, kFs, 60.0);
      ASSERT_EQ(getharmonicsfast(x.data(), 4000, kFs, 2000, f0, 7, a.data(), nullptr, ws.get(), 1), 0);
      ASSERT_EQ(getharmonicsfast(x.data(), 4000, kFs, 2000, f0, 7, b.data(), nullptr, fresh.get(), 1), 0);
      for (int k = 0; k < 7; ++k) EXPECT_EQ(a[k], b[k]) << f0 << " Hz, pass " << pass << ", " << k;
    }
  }

  // All-zero frame, bad f0s, n = 0, centre outside, other method, frame or harmonic count
  // beyond the workspace, no workspace.
  std::vector<double> z(2000, 0.0), one(2000, 0.0);
  one[1000] = 0.5;
  auto wn = memhacreate(kFs, kFs, 100.0);
  const struct { const double* s; uint32_t centre; double f0; uint32_t n; memha* w; int method; } cases[] = {
      {z.data(), 1000, 150.0, 3, wn.get(), 1},     {one.data(), 1000, 0.0, 3, wn.get(), 1},
      {one.data(), 1000, -5.0, 3, wn.get(), 1},    {one.data(), 1000, std::nan(""), 3, wn.get(), 1},
      {one.data(), 1000, 150.0, 0, wn.get(), 1},   {one.data(), 2000, 150.0, 3, wn.get(), 1},
      {one.data(), 1000, 150.0, 3, wn.get(), 0},   {one.data(), 1000, 60.0, 3, wn.get(), 1},
      {one.data(), 1000, 150.0, wn->K + 2, wn.get(), 1}, {one.data(), 1000, 150.0, 3, nullptr, 1}};
  for (const auto& c : cases) {
    std::vector<double> a(wn->K + 2, -7.0);
    EXPECT_EQ(getharmonicsfast(c.s, 2000, kFs, c.centre, c.f0, c.n, a.data(), nullptr, c.w, c.method), -1) << c.f0;
    EXPECT_EQ(a[0], -7.0);
  }
  // A single non-zero sample at the far edge of the frame is enough, as documented (on either
  // side of the centre).
  EXPECT_EQ(getharmonicsfast(one.data(), 2000, kFs, 1050, 150.0, 3, amp.data(), nullptr, wn.get(), 1), 0);
  EXPECT_EQ(getharmonicsfast(one.data(), 2000, kFs, 950, 150.0, 3, amp.data(), nullptr, wn.get(), 1), 0);
  EXPECT_EQ(getharmonics(one.data(), 2000, kFs, 1050, 150.0, 3, amp.data(), nullptr, wn.get(), 1), 0);
}

// Same outcome on every voiced frame. Fit coefficients equal to rounding relative to the
// frame's largest (a top harmonic a few hertz below fs/2 and its image make the system
// ill-conditioned for both routes). Spectra equal to 1e-7: near a harmonic the documented
// kernel's sin(theta)/theta has a relative error up to 1e-8, times log amplitudes to about -10.
TEST(HarmonicsFast, FitAndLogSpectrumAgreeWithTheDocumentedOnesOnSpeech) {
  for (const Recording& r : recordings()) {
    auto ref = memhacreate(kFs, kFs, 60.0);
    auto fast = memhacreate(kFs, kFs, 60.0);
    const uint32_t len = static_cast<uint32_t>(r.x.size());
    double worst = 0.0;
    std::vector<double> s1(1024), s2(1024), tables(3 * 513);
    for (uint32_t i = 0; i < r.f0.size(); i += kStride) {
      if (!(r.f0[i] > 0.0)) continue;
      const uint32_t n = static_cast<uint32_t>(hanoharms(kFs, kFs, r.f0[i]));
      std::vector<double> a1(n), a2(n), p1(n), p2(n);
      const uint32_t centre = std::min(i * 80, len - 1);
      const int e1 = getharmonics(r.x.data(), len, kFs, centre, r.f0[i], n, a1.data(), p1.data(), ref.get(), 1);
      const int e2 = getharmonicsfast(r.x.data(), len, kFs, centre, r.f0[i], n, a2.data(), p2.data(), fast.get(), 1);
      ASSERT_EQ(e1, e2) << r.name << " frame " << i;
      if (e1 != 0) continue;
      double top = 0.0;
      for (uint32_t k = 0; k < 2 * (2 * n + 1); ++k) top = std::max(top, std::fabs(ref->coef[k]));
      for (uint32_t k = 0; k < 2 * (2 * n + 1); ++k)
        worst = std::max(worst, std::fabs(ref->coef[k] - fast->coef[k]) / top);
      for (uint32_t k = 0; k < n; ++k) EXPECT_NEAR(a2[k], a1[k], 1e-9 * top) << r.name << " frame " << i;
      if (i % (3 * kStride) != 0) continue;
      const uint32_t N = (i / (3 * kStride)) % 2 ? 512 : 1024;
      ASSERT_EQ(getharmoniclogspectrum(r.x.data(), len, kFs, centre, r.f0[i], N, s1.data(), ref.get(), 1),
                getharmoniclogspectrumfast(r.x.data(), len, kFs, centre, r.f0[i], N, s2.data(), fast.get(), 1,
                                           tables.data()));
      for (uint32_t j = 0; j <= N / 2; ++j)
        ASSERT_NEAR(s2[j], s1[j], 1e-7) << r.name << " frame " << i << " bin " << j;
    }
    EXPECT_LT(worst, 1e-9) << r.name;
  }
}

// Harmonics on bins keep their log amplitudes (kernel weight 1 there, 0 from other sources).
TEST(HarmonicLogSpectrumFast, HarmonicsOnBinsKeepTheirValues) {
  const double f0 = 125.0;  // 8 bins of 15.625 Hz
  std::vector<double> x(6000);
  for (size_t i = 0; i < x.size(); ++i) {
    double s = 0.0;
    for (int k = 1; k <= 20; ++k) s += std::cos(kTwoPi * f0 * k * static_cast<double>(i) / kFs + 0.1 * k) / k;
    x[i] = 0.1 * s;
  }
  auto ref = memhacreate(kFs, kFs, 100.0);
  auto fast = memhacreate(kFs, kFs, 100.0);
  std::vector<double> s1(1024), s2(1024), tables(3 * 513);
  auto fastspec = [&](const std::vector<double>& s, double f, double* out, double* tab) {
    return getharmoniclogspectrumfast(s.data(), 6000, kFs, 3000, f, 1024, out, fast.get(), 1, tab);
  };
  ASSERT_EQ(getharmoniclogspectrum(x.data(), 6000, kFs, 3000, f0, 1024, s1.data(), ref.get(), 1), 0);
  ASSERT_EQ(fastspec(x, f0, s2.data(), tables.data()), 0);
  for (int k = 1; k <= 20; ++k) {
    EXPECT_NEAR(s2[8 * k], std::log(0.1 / k / (2.0 * std::sqrt(f0))), 1e-9) << k;
    EXPECT_NEAR(s2[8 * k], s1[8 * k], 1e-11) << k;
  }
  // K = 0 (f0 at fs/2), a silent frame and a missing table fail with spec untouched.
  std::vector<double> spec(1024, 3.0);
  EXPECT_EQ(fastspec(x, 8000.0, spec.data(), tables.data()), -1);
  EXPECT_EQ(fastspec(std::vector<double>(6000, 0.0), f0, spec.data(), tables.data()), -1);
  EXPECT_EQ(fastspec(x, f0, spec.data(), nullptr), -1);
  EXPECT_EQ(spec[5], 3.0);
}

// 103 Hz tracked at 100 Hz: the fast steps follow the documented ones (about 102.52 after
// one step, 103.00 at convergence, frame-averaged reading).
TEST(RefineFast, FollowsTheDocumentedSteps) {
  const std::vector<double> x = threeharmonics(8000, 4000, 103.0, 0.0);
  auto ref = memhacreate(kFs, 1000.0, 30.0);
  auto fast = memhacreate(kFs, 1000.0, 30.0);
  auto step = [&](const std::vector<double>& s, double f0, uint32_t rem, int8_t method, memha* w) {
    return harefinepitchfast(s.data(), 8000, kFs, 4000, f0, 1000.0, w, rem, method);
  };
  for (int8_t method : {int8_t{0}, int8_t{2}})
    for (uint32_t rem = 0; rem < 5; ++rem) {
      const double a = harefinepitch(x.data(), 8000, kFs, 4000, 100.0, 1000.0, ref.get(), rem, method);
      EXPECT_NEAR(step(x, 100.0, rem, method, fast.get()), a, 1e-9 * a) << int(method) << " " << rem;
    }
  EXPECT_NEAR(step(x, 100.0, 0, 0, fast.get()), 102.52, 0.01);
  EXPECT_NEAR(step(x, 100.0, 3, 0, fast.get()), 103.00, 0.01);
  // Unvoiced, at fmax, silent frame, and a step beyond the workspace's reach.
  EXPECT_EQ(step(x, 0.0, 2, 0, fast.get()), 0.0);
  EXPECT_EQ(step(x, 1000.0, 2, 0, fast.get()), 1000.0);
  EXPECT_EQ(step(std::vector<double>(8000, 0.0), 100.0, 2, 0, fast.get()), 0.0);
  auto small = memhacreate(kFs, 1000.0, 100.0);
  EXPECT_EQ(step(x, 40.0, 3, 0, small.get()), 40.0);
}

// Whole tracks for each refinement setting: the same voicing and values equal to rounding.
TEST(RefineFast, AgreesWithTheDocumentedPassOnSpeech) {
  for (const Recording& r : recordings()) {
    const uint32_t len = static_cast<uint32_t>(r.x.size()), F = static_cast<uint32_t>(r.f0.size());
    for (int32_t iterations : {1, 3})
      for (int8_t method : {int8_t{0}, int8_t{2}}) {
        std::vector<double> a(r.f0), b(r.f0);
        refinepitch(r.x.data(), len, kFs, 80, 0, F, 60.0, 500.0, iterations, method, a.data());
        refinepitchfast(r.x.data(), len, kFs, 80, 0, F, 60.0, 500.0, iterations, method, b.data());
        for (size_t i = 0; i < a.size(); ++i) {
          ASSERT_EQ(a[i] > 0.0, b[i] > 0.0) << r.name << " frame " << i;
          ASSERT_NEAR(b[i], a[i], 1e-9 * a[i]) << r.name << " frame " << i << " it " << iterations;
        }
      }
    if (kSanitizer) break;
  }
}

// ---- Harmonic log spectrum over transform lengths and pitches ----

// Lengths from 2 to 4096 points (2048: the longest whose kernel phases are tabulated on the
// stack) and pitches from 55 Hz to near fs/2, some with harmonics on
// bins (125 Hz at 1024 and 4096 points) or a hair beside them, others with a kernel wider than
// the whole half spectrum or only a bin or two per harmonic: the fast spectrum agrees with the
// documented one on every bin, the mirror included.
TEST(HarmonicLogSpectrumFast, AgreesWithTheDocumentedOneAcrossLengthsAndPitches) {
  auto ref = memhacreate(kFs, kFs, 50.0);
  auto fast = memhacreate(kFs, kFs, 50.0);
  for (double f0 : {55.0, 101.3, 125.0, 125.0 + 1e-9, 333.3, 2999.0, 7000.0}) {
    std::vector<double> x(6000);
    for (size_t i = 0; i < x.size(); ++i)
      for (int k = 1; k * f0 < kFs / 2; ++k)
        x[i] += 0.1 / k * std::cos(kTwoPi * f0 * k * static_cast<double>(i) / kFs + 0.7 * k);
    for (uint32_t N : {2u, 4u, 8u, 16u, 64u, 1024u, 2048u, 4096u}) {
      std::vector<double> s1(N, 7.0), s2(N, 7.0), tables(3 * (N / 2 + 1));
      ASSERT_EQ(getharmoniclogspectrum(x.data(), 6000, kFs, 3000, f0, N, s1.data(), ref.get(), 1), 0);
      ASSERT_EQ(getharmoniclogspectrumfast(x.data(), 6000, kFs, 3000, f0, N, s2.data(), fast.get(), 1,
                                           tables.data()),
                0);
      for (uint32_t j = 0; j <= N / 2; ++j)
        ASSERT_NEAR(s2[j], s1[j], 1e-7) << f0 << " Hz, N " << N << " bin " << j;
      // The mirror half is the caller's: left as it was.
      for (uint32_t j = N / 2 + 1; j < N; ++j) ASSERT_EQ(s2[j], 7.0) << f0 << " Hz, N " << N << " bin " << j;
    }
  }
}

}  // namespace
}  // namespace brisvane
