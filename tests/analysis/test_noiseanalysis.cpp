// Noise log spectrum: silence floor, low-band attenuation, amplitude scaling, frames at the
// signal ends and argument checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "analysis/noiseanalysis.h"
#include "dsp/simd.h"

namespace brisvane {
namespace {

constexpr double kFs = 16000.0;
constexpr uint32_t kN = 1024;
constexpr double kLn10 = 2.302585092994046;

std::vector<double> noisespec(const std::vector<double>& x, uint32_t centre, memna* ws, uint32_t N = kN) {
  std::vector<double> logspec(N, 0.0);
  EXPECT_EQ(getnoiselogspectrum(x.data(), static_cast<uint32_t>(x.size()), kFs, centre, N, logspec.data(), ws), 0);
  return logspec;
}

// Deterministic broadband test signal.
std::vector<double> testsignal(size_t n) {
  std::vector<double> x(n);
  uint32_t s = 12345u;
  for (size_t i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    x[i] = (static_cast<double>(s >> 8) / 16777216.0 - 0.5) * 0.5 + 0.1 * std::sin(0.05 * static_cast<double>(i));
  }
  return x;
}

TEST(NoiseWorkspace, SizesAndWindow) {
  EXPECT_EQ(naframesize(16000.0), 161u);
  EXPECT_EQ(naframesize(std::nan("")), 0u);
  EXPECT_EQ(memnacreate(161, 128), nullptr);  // FFT shorter than the window
  auto ws = memnacreate(161, kN);
  ASSERT_NE(ws, nullptr);
  // Unit-power Hamming window: ends 0.8566 - 0.7297, centre 0.8566 + 0.7297.
  EXPECT_NEAR(ws->win[0], 0.1269, 1e-12);
  EXPECT_NEAR(ws->win[80], 1.5863, 1e-12);
  EXPECT_EQ(memnadestroy(std::move(ws)), nullptr);
}

TEST(NoiseLogSpectrum, SilenceFloorAndLowBandAttenuation) {
  auto ws = memnacreate(161, kN);
  const std::vector<double> x(4000, 0.0);
  const std::vector<double> logspec = noisespec(x, 2000, ws.get());
  // Floored power L*1.0000000000000002e-10 scaled by 1/(L fs): ln of its square root.
  const double v = 0.5 * std::log(1.0000000000000002e-10 / kFs);
  const double df = kFs / kN;
  EXPECT_NEAR(logspec[0], v - kLn10, 1e-12);
  for (uint32_t k = 1; k < 32; ++k) {
    EXPECT_NEAR(logspec[k], v - kLn10 * (1.0 - k * df / 500.0), 1e-12) << k;
  }
  // Bin 32 is exactly 500 Hz and keeps its value, as does everything above.
  for (uint32_t k = 32; k <= kN / 2; ++k) EXPECT_NEAR(logspec[k], v, 1e-12) << k;
  for (uint32_t k = 1; k < kN / 2; ++k) EXPECT_EQ(logspec[kN - k], logspec[k]) << k;
  // When every bin lies below 500 Hz the ramp runs up to and including N/2.
  std::vector<double> small(8, 0.0);
  ASSERT_EQ(elimlowfrecfromlogspec(small.data(), 8, 1000.0), 0);
  EXPECT_NEAR(small[3], -kLn10 * (1.0 - 375.0 / 500.0), 1e-15);
  EXPECT_EQ(small[4], 0.0);
}

TEST(NoiseLogSpectrum, SinusoidAmplitudeScaling) {
  // A sinusoid of amplitude A on bin 128 (2 kHz) gives |X| = A/2 * sum(w), so the log
  // amplitude density is ln(A/2 * sum(w) / sqrt(L fs)).
  auto ws = memnacreate(161, kN);
  const double A = 0.3;
  std::vector<double> x(4000);
  for (size_t i = 0; i < x.size(); ++i) x[i] = A * std::cos(6.283185307179586 * 2000.0 * static_cast<double>(i) / kFs + 0.7);
  const std::vector<double> logspec = noisespec(x, 2000, ws.get());
  double sw = 0.0;
  for (uint32_t i = 0; i < 161; ++i) sw += ws->win[i];
  EXPECT_NEAR(logspec[128], std::log(A / 2.0 * sw / std::sqrt(161.0 * kFs)), 2e-3);
  for (uint32_t k = 1; k < kN / 2; ++k) EXPECT_LE(logspec[k], logspec[128] + 1e-9) << k;
  // DC and Nyquist repeat their neighbours (DC then lowered by ln 10).
  EXPECT_EQ(logspec[kN / 2], logspec[kN / 2 - 1]);
}

// Direct evaluation: positions outside the signal are 0 (not minus the mean), the mean
// divides by the full window length, magnitudes by a plain DFT, DC/Nyquist from neighbours.
std::vector<double> referencespec(const std::vector<double>& x, int64_t centre, const memna& ws, uint32_t N) {
  const int64_t L = ws.L, h = L / 2, nx = static_cast<int64_t>(x.size());
  double sum = 0.0;
  for (int64_t i = 0; i < L; ++i) {
    const int64_t t = centre + i - h;
    if (t >= 0 && t < nx) sum += x[static_cast<size_t>(t)];
  }
  const double mu = sum / static_cast<double>(L);
  std::vector<double> fr(L, 0.0);
  for (int64_t i = 0; i < L; ++i) {
    const int64_t t = centre + i - h;
    if (t >= 0 && t < nx) fr[i] = (x[static_cast<size_t>(t)] - mu) * ws.win[i];
  }
  std::vector<double> logspec(N);
  for (uint32_t k = 1; k < N / 2; ++k) {
    double re = 0.0, im = 0.0;
    for (int64_t i = 0; i < L; ++i) {
      const double a = 6.283185307179586 * static_cast<double>(k) * static_cast<double>(i) / N;
      re += fr[i] * std::cos(a);
      im -= fr[i] * std::sin(a);
    }
    const double P = std::max(re * re + im * im, static_cast<double>(L) * 1.0000000000000002e-10);
    logspec[k] = logspec[N - k] = 0.5 * std::log(P / (static_cast<double>(L) * kFs));
  }
  logspec[0] = logspec[1];
  logspec[N / 2] = logspec[N / 2 - 1];
  elimlowfrecfromlogspec(logspec.data(), N, kFs);
  return logspec;
}

void expectnear(const std::vector<double>& a, const std::vector<double>& b, double tol) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i], tol) << i;
}

TEST(NoiseLogSpectrum, FramesAtTheSignalEndsReadZeros) {
  auto ws = memnacreate(161, 256);
  const std::vector<double> x = testsignal(1000);
  for (uint32_t centre : {0u, 40u, 500u, 960u, 999u, 1050u}) {
    SCOPED_TRACE(centre);
    expectnear(noisespec(x, centre, ws.get(), 256), referencespec(x, centre, *ws, 256), 1e-9);
  }
  // Entirely beyond the end (also at the largest centre): digital silence.
  const std::vector<double> silence = noisespec(std::vector<double>(10, 0.0), 5000, ws.get(), 256);
  EXPECT_EQ(noisespec(x, 1000 + 80, ws.get(), 256), silence);
  EXPECT_NE(noisespec(x, 1000 + 79, ws.get(), 256), silence);
  EXPECT_EQ(noisespec(x, std::numeric_limits<uint32_t>::max(), ws.get(), 256), silence);
  EXPECT_EQ(noisespec(std::vector<double>(), 0, ws.get(), 256), silence);
}

TEST(NoiseLogSpectrum, RefusesLengthsTheWorkspaceCannotServe) {
  auto ws = memnacreate(161, kN);
  const std::vector<double> x = testsignal(1000);
  std::vector<double> logspec(4096, 7.0);
  for (uint32_t N : {0u, 128u, 1000u, 2048u}) {
    EXPECT_EQ(getnoiselogspectrum(x.data(), 1000, kFs, 500, N, logspec.data(), ws.get()), -1) << N;
  }
  EXPECT_EQ(getnoiselogspectrum(nullptr, 1000, kFs, 500, kN, logspec.data(), ws.get()), -1);
  for (double v : logspec) ASSERT_EQ(v, 7.0);
  // A smaller power of two that still holds the window is served.
  EXPECT_EQ(getnoiselogspectrum(x.data(), 1000, kFs, 500, 256, logspec.data(), ws.get()), 0);
}

// The vector logarithm of the noise spectrum against the library's, in every binade of the
// positive normal doubles: at 2^e, one ulp below it, and either side of 2^e sqrt(2)/2 where
// the reduction changes its exponent; four-lane and two-lane forms give the same bits.
TEST(VectorLog, WithinOneUlpInEveryBinade) {
  const double rt = 0.70710678118654752440;
  for (int e = -1022; e <= 1024; ++e) {
    const double p = (e == 1024) ? std::numeric_limits<double>::max() : std::ldexp(1.0, e);
    const double r = std::ldexp(rt, e);
    const bool low = e == -1022;  // below 2^-1022 lies outside the normal range
    const double x[4] = {p, low ? 1.5 : std::nextafter(p, 0.0), low ? 0.75 : std::nextafter(r, 0.0),
                         low ? 1.25 : std::nextafter(r, 2.0 * r)};
    const v4d a = lognormal<v4d, v4i>(v4d{x[0], x[1], x[2], x[3]});
    const v2d b = lognormal<v2d, v2i>(v2d{x[0], x[1]});
    const v2d c = lognormal<v2d, v2i>(v2d{x[2], x[3]});
    const double two[4] = {b[0], b[1], c[0], c[1]};
    for (int l = 0; l < 4; ++l) {
      const double ref = std::log(x[l]);
      EXPECT_LE(std::fabs(a[l] - ref), std::fabs(std::nextafter(ref, 2.0 * ref) - ref)) << x[l];
      EXPECT_EQ(a[l], two[l]) << x[l];
    }
  }
}


}  // namespace
}  // namespace brisvane

// The in-place filter must equal the direct zero-phase convolution, summed over the taps in
// increasing order, bit for bit, including signals shorter than half the filter.
TEST(LowPassFilter, InPlaceFilteringEqualsDirectConvolution) {
  const uint32_t L = 100, M = L / 2;
  std::vector<double> h(L + 1);
  ASSERT_EQ(brisvane::getlpwinfilter(L, 6400.0, 32000.0, h.data()), 0);
  EXPECT_DOUBLE_EQ(h[0], h[L]);
  for (uint32_t n : {1u, 5u, 51u, 300u}) {
    std::vector<double> x(n);
    uint64_t state = 12345 + n;
    for (double& v : x) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      v = static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
    }
    std::vector<double> expected(n);
    for (uint32_t i = 0; i < n; ++i) {
      double sum = 0.0;
      for (uint32_t j = 0; j <= L; ++j) {
        const int64_t k = static_cast<int64_t>(i) - M + j;
        sum += h[j] * ((k >= 0 && k < static_cast<int64_t>(n)) ? x[static_cast<size_t>(k)] : 0.0);
      }
      expected[i] = sum;
    }
    ASSERT_EQ(brisvane::winfiltersignal(x.data(), n, L, h.data()), 0);
    for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(x[i], expected[i]) << "n " << n << " i " << i;
  }
  // An odd order leaves no tap undefined.
  std::vector<double> odd(8, -7.0);
  brisvane::getlpwinfilter(7, 4000.0, 16000.0, odd.data());
  EXPECT_EQ(odd[7], 0.0);
}
