// Fast harmonic fits against the documented ones: the Levinson solve of a symmetric Toeplitz
// system, the folded-frame fit (getharmonicsfast), the table-driven harmonic log spectrum and
// the fast pitch refinement. The fast routes must fail exactly where the documented ones fail
// and agree with them to rounding on synthetic speech and, when present, on the corpus.
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

namespace brisvane {
namespace {

constexpr double kFs = 16000.0;
constexpr double kTwoPi = 6.283185307179586;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizer = true;
#else
constexpr bool kSanitizer = false;
#endif
#else
constexpr bool kSanitizer = false;
#endif

struct Recording {
  std::string name;
  std::vector<double> x;
  std::vector<double> f0;  // plain pitch track, 5 ms frames
};

// Synthetic utterance plus the corpus recordings (one under the sanitizer), each with the
// pitch track of the plain tracker.
const std::vector<Recording>& recordings() {
  static const std::vector<Recording> all = [] {
    std::vector<Recording> out;
    auto add = [&](std::string name, std::vector<double> x) {
      Recording r;
      r.name = std::move(name);
      r.x = std::move(x);
      const uint32_t len = static_cast<uint32_t>(r.x.size());
      r.f0.assign(getnumframes(len, 80, 0), 0.0);
      getpitch(r.x.data(), len, kFs, 80, 0, static_cast<uint32_t>(r.f0.size()), 60.0, 500.0, r.f0.data());
      out.push_back(std::move(r));
    };
    add("synthetic", synth::synthesize(synth::demoutterance()).signal);
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(BRISVANE_CORPUS_DIR, ec)) {
      if (e.path().extension() == ".wav") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    if (kSanitizer && files.size() > 1) files.resize(1);
    for (const auto& f : files) {
      std::vector<double> x;
      if (wavreadm1616(f.string().c_str(), x) > 0) add(f.filename().string(), std::move(x));
    }
    return out;
  }();
  return all;
}

// Frame stride of the comparisons: every voiced frame in the optimised build, a sample of
// them under the sanitizer.
constexpr uint32_t kStride = kSanitizer ? 7 : 2;

TEST(ToeplitzSolve, MatchesTheExplicitInverseAndItsFailures) {
  // Symmetric positive definite Toeplitz systems of several sizes, decaying first rows.
  for (uint32_t n : {1u, 2u, 3u, 8u, 31u, 64u}) {
    std::vector<double> t(n), b(n), z(n), work(3 * n), T(n * n), R(n * n);
    for (uint32_t i = 0; i < n; ++i) {
      t[i] = i == 0 ? 2.0 : 0.9 * std::cos(0.7 * i) / (1.0 + i);
      b[i] = std::sin(1.3 * i + 0.2);
    }
    for (uint32_t i = 0; i < n; ++i)
      for (uint32_t j = 0; j < n; ++j) T[i * n + j] = t[i > j ? i - j : j - i];
    ASSERT_EQ(toeplitzsiminv(n, T.data(), R.data()), 0);
    ASSERT_EQ(toeplitzsimsolve(n, t.data(), b.data(), z.data(), work.data()), 0) << n;
    for (uint32_t i = 0; i < n; ++i) {
      double s = 0.0;
      for (uint32_t j = 0; j < n; ++j) s += R[i * n + j] * b[j];
      EXPECT_NEAR(z[i], s, 1e-13) << "n " << n << " i " << i;
    }
  }
  // Exactly singular leading blocks (c = 1 or -1) and a zero leading element fail as the
  // explicit inverse does; null arrays and n = 0 are refused.
  std::vector<double> z(3), work(9);
  const double same[] = {1.0, 1.0, 0.5};
  const double flip[] = {1.0, -1.0, 0.5};
  const double zero[] = {0.0, 1.0, 0.5};
  const double b[] = {1.0, 2.0, 3.0};
  EXPECT_EQ(toeplitzsimsolve(3, same, b, z.data(), work.data()), -1);
  EXPECT_EQ(toeplitzsimsolve(3, flip, b, z.data(), work.data()), -1);
  EXPECT_EQ(toeplitzsimsolve(3, zero, b, z.data(), work.data()), -1);
  EXPECT_EQ(toeplitzsimsolve(0, same, b, z.data(), work.data()), -1);
  EXPECT_EQ(toeplitzsimsolve(3, same, nullptr, z.data(), work.data()), -1);
  EXPECT_EQ(toeplitzsimsolve(3, same, b, z.data(), nullptr), -1);
}

// The worked example of the harmonic fit: constant, three harmonics, two empty ones.
TEST(HarmonicsFast, RecoversAmplitudesPhasesAndTheConstant) {
  const double om = kTwoPi * 100.0 / kFs;
  std::vector<double> x(4000);
  const int64_t c = 2000;
  for (size_t i = 0; i < x.size(); ++i) {
    const double tau = static_cast<double>(static_cast<int64_t>(i) - c);
    x[i] = 0.2 + std::cos(om * tau + 0.3) + 0.5 * std::cos(2 * om * tau - 1.2) + 0.25 * std::cos(3 * om * tau + 2.5);
  }
  auto ws = memhacreate(kFs, kFs, 60.0);
  std::vector<double> amp(5), pha(5);
  ASSERT_EQ(getharmonicsfast(x.data(), 4000, kFs, 2000, 100.0, 5, amp.data(), pha.data(), ws.get(), 1), 0);
  const double want[] = {1.0, 0.5, 0.25, 0.0, 0.0};
  for (int k = 0; k < 5; ++k) EXPECT_NEAR(amp[k], want[k], 1e-12) << k;
  EXPECT_NEAR(pha[0], 0.3, 1e-12);
  EXPECT_NEAR(pha[1], -1.2, 1e-12);
  EXPECT_NEAR(pha[2], 2.5, 1e-12);
  EXPECT_NEAR(ws->coef[2 * 5], 0.2, 1e-12);
  EXPECT_EQ(ws->coef[2 * 5 + 1], 0.0);
}

TEST(HarmonicsFast, FailsWhereTheDocumentedFitFails) {
  std::vector<double> x(2000, 0.0);
  auto ws = memhacreate(kFs, kFs, 100.0);
  std::vector<double> amp(3, -7.0);
  // All-zero frame, f0 0 / negative / NaN, n = 0, centre outside, other method, a frame or
  // harmonic count beyond the workspace.
  EXPECT_EQ(getharmonicsfast(x.data(), 2000, kFs, 1000, 150.0, 3, amp.data(), nullptr, ws.get(), 1), -1);
  x[1000] = 0.5;
  EXPECT_EQ(getharmonicsfast(x.data(), 2000, kFs, 1000, 0.0, 3, amp.data(), nullptr, ws.get(), 1), -1);
  EXPECT_EQ(getharmonicsfast(x.data(), 2000, kFs, 1000, -5.0, 3, amp.data(), nullptr, ws.get(), 1), -1);
  EXPECT_EQ(getharmonicsfast(x.data(), 2000, kFs, 1000, std::nan(""), 3, amp.data(), nullptr, ws.get(), 1), -1);
  EXPECT_EQ(getharmonicsfast(x.data(), 2000, kFs, 1000, 150.0, 0, amp.data(), nullptr, ws.get(), 1), -1);
  EXPECT_EQ(getharmonicsfast(x.data(), 2000, kFs, 2000, 150.0, 3, amp.data(), nullptr, ws.get(), 1), -1);
  EXPECT_EQ(getharmonicsfast(x.data(), 2000, kFs, 1000, 150.0, 3, amp.data(), nullptr, ws.get(), 0), -1);
  EXPECT_EQ(getharmonicsfast(x.data(), 2000, kFs, 1000, 60.0, 3, amp.data(), nullptr, ws.get(), 1), -1);
  EXPECT_EQ(getharmonicsfast(x.data(), 2000, kFs, 1000, 150.0, ws->K + 2, amp.data(), nullptr, ws.get(), 1), -1);
  EXPECT_EQ(getharmonicsfast(x.data(), 2000, kFs, 1000, 150.0, 3, amp.data(), nullptr, nullptr, 1), -1);
  EXPECT_EQ(amp[0], -7.0);
  // A single non-zero sample at the far edge of the frame is enough, as documented.
  EXPECT_EQ(getharmonicsfast(x.data(), 2000, kFs, 1000 + 50, 150.0, 3, amp.data(), nullptr, ws.get(), 1), 0);
  EXPECT_EQ(getharmonics(x.data(), 2000, kFs, 1000 + 50, 150.0, 3, amp.data(), nullptr, ws.get(), 1), 0);
}

// Every voiced frame: the same outcome; coefficients equal to rounding relative to the
// frame's largest coefficient. The bound allows for frames whose highest harmonic lies a few
// hertz below fs/2, where the harmonic and its mirror image make the system ill-conditioned
// and both routes lose digits.
TEST(HarmonicsFast, AgreesWithTheDocumentedFitOnSpeech) {
  for (const Recording& r : recordings()) {
    auto ref = memhacreate(kFs, kFs, 60.0);
    auto fast = memhacreate(kFs, kFs, 60.0);
    const uint32_t len = static_cast<uint32_t>(r.x.size());
    double worst = 0.0;
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
    }
    EXPECT_LT(worst, 1e-9) << r.name;
  }
}

// Spectra equal to 1e-7: at a bin within a few 1e-6 rad of a harmonic the documented kernel's
// sin(theta)/theta comes from a recurrence with an absolute error of about 1e-14, i.e. a
// relative error up to 1e-8 of the weight, times log amplitudes of up to about -10.
TEST(HarmonicLogSpectrumFast, AgreesWithTheDocumentedSpectrum) {
  for (const Recording& r : recordings()) {
    auto ref = memhacreate(kFs, kFs, 60.0);
    auto fast = memhacreate(kFs, kFs, 60.0);
    const uint32_t len = static_cast<uint32_t>(r.x.size());
    for (uint32_t N : {512u, 1024u}) {
      std::vector<double> s1(N), s2(N), tables(3 * (N / 2 + 1));
      for (uint32_t i = 0; i < r.f0.size(); i += 3 * kStride) {
        if (!(r.f0[i] > 0.0)) continue;
        const uint32_t centre = std::min(i * 80, len - 1);
        const int e1 = getharmoniclogspectrum(r.x.data(), len, kFs, centre, r.f0[i], N, s1.data(), ref.get(), 1);
        const int e2 = getharmoniclogspectrumfast(r.x.data(), len, kFs, centre, r.f0[i], N, s2.data(), fast.get(), 1,
                                                  tables.data());
        ASSERT_EQ(e1, e2);
        if (e1 != 0) continue;
        for (uint32_t j = 0; j < N; ++j) ASSERT_NEAR(s2[j], s1[j], 1e-7) << r.name << " frame " << i << " bin " << j;
      }
    }
  }
}

// Harmonics on bins (f0 a multiple of the bin spacing): each bin at a harmonic holds its log
// amplitude, as in the documented kernel (weight 1 there, 0 from every other source).
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
  ASSERT_EQ(getharmoniclogspectrum(x.data(), 6000, kFs, 3000, f0, 1024, s1.data(), ref.get(), 1), 0);
  ASSERT_EQ(getharmoniclogspectrumfast(x.data(), 6000, kFs, 3000, f0, 1024, s2.data(), fast.get(), 1, tables.data()), 0);
  for (int k = 1; k <= 20; ++k) {
    const double want = std::log(0.1 / k / (2.0 * std::sqrt(f0)));
    EXPECT_NEAR(s2[8 * k], want, 1e-9) << k;
    EXPECT_NEAR(s2[8 * k], s1[8 * k], 1e-11) << k;
  }
  // K = 0 (f0 at fs/2), a silent frame and a missing table fail with spec untouched.
  std::vector<double> zero(6000, 0.0), spec(1024, 3.0);
  EXPECT_EQ(getharmoniclogspectrumfast(x.data(), 6000, kFs, 3000, 8000.0, 1024, spec.data(), fast.get(), 1, tables.data()), -1);
  EXPECT_EQ(getharmoniclogspectrumfast(zero.data(), 6000, kFs, 3000, f0, 1024, spec.data(), fast.get(), 1, tables.data()), -1);
  EXPECT_EQ(getharmoniclogspectrumfast(x.data(), 6000, kFs, 3000, f0, 1024, spec.data(), fast.get(), 1, nullptr), -1);
  EXPECT_EQ(spec[5], 3.0);
}

// The worked refinement example: a 103 Hz voice tracked at 100 Hz; the fast steps follow the
// documented ones (about 102.52, 102.95, 103.00 Hz for the window-averaged estimate).
TEST(RefineFast, FollowsTheDocumentedSteps) {
  std::vector<double> x(8000);
  const double om = kTwoPi * 103.0 / kFs;
  for (size_t i = 0; i < x.size(); ++i) {
    const double tau = static_cast<double>(i) - 4000.0;
    x[i] = std::cos(om * tau + 0.3) + 0.5 * std::cos(2 * om * tau - 1.2) + 0.25 * std::cos(3 * om * tau + 2.5);
  }
  auto ref = memhacreate(kFs, 1000.0, 30.0);
  auto fast = memhacreate(kFs, 1000.0, 30.0);
  for (int8_t method : {int8_t{0}, int8_t{2}}) {
    for (uint32_t remaining = 0; remaining < 5; ++remaining) {
      const double a = harefinepitch(x.data(), 8000, kFs, 4000, 100.0, 1000.0, ref.get(), remaining, method);
      const double b = harefinepitchfast(x.data(), 8000, kFs, 4000, 100.0, 1000.0, fast.get(), remaining, method);
      EXPECT_NEAR(b, a, 1e-9 * a) << int(method) << " " << remaining;
    }
  }
  EXPECT_NEAR(harefinepitchfast(x.data(), 8000, kFs, 4000, 100.0, 1000.0, fast.get(), 0, 0), 102.52, 0.01);
  EXPECT_NEAR(harefinepitchfast(x.data(), 8000, kFs, 4000, 100.0, 1000.0, fast.get(), 3, 0), 103.00, 0.01);
  // Unvoiced, at or above fmax, silent frame, and a step beyond the workspace's reach.
  std::vector<double> zero(8000, 0.0);
  EXPECT_EQ(harefinepitchfast(x.data(), 8000, kFs, 4000, 0.0, 1000.0, fast.get(), 2, 0), 0.0);
  EXPECT_EQ(harefinepitchfast(x.data(), 8000, kFs, 4000, 1000.0, 1000.0, fast.get(), 2, 0), 1000.0);
  EXPECT_EQ(harefinepitchfast(zero.data(), 8000, kFs, 4000, 100.0, 1000.0, fast.get(), 2, 0), 0.0);
  auto small = memhacreate(kFs, 1000.0, 100.0);
  EXPECT_EQ(harefinepitchfast(x.data(), 8000, kFs, 4000, 40.0, 1000.0, small.get(), 3, 0), 40.0);
}

// Whole tracks for each refinement setting: the same voicing and values equal to rounding.
TEST(RefineFast, AgreesWithTheDocumentedPassOnSpeech) {
  for (const Recording& r : recordings()) {
    const uint32_t len = static_cast<uint32_t>(r.x.size());
    for (int32_t iterations : {1, 3}) {
      for (int8_t method : {int8_t{0}, int8_t{2}}) {
        std::vector<double> a(r.f0), b(r.f0);
        refinepitch(r.x.data(), len, kFs, 80, 0, static_cast<uint32_t>(a.size()), 60.0, 500.0, iterations, method,
                    a.data());
        refinepitchfast(r.x.data(), len, kFs, 80, 0, static_cast<uint32_t>(b.size()), 60.0, 500.0, iterations,
                        method, b.data());
        for (size_t i = 0; i < a.size(); ++i) {
          ASSERT_EQ(a[i] > 0.0, b[i] > 0.0) << r.name << " frame " << i;
          ASSERT_NEAR(b[i], a[i], 1e-9 * a[i]) << r.name << " frame " << i << " it " << iterations;
        }
      }
    }
    if (kSanitizer) break;
  }
}

}  // namespace
}  // namespace brisvane
