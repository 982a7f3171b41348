// Fast cepstral stream against the documented one: the matrices replacing the inverse FFT and
// warping, and waveform2ccsfast on synthetic speech and, when present, the corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/ccanalysis.h"
#include "analysis/noiseanalysis.h"
#include "analysis/pitchanalysis.h"
#include "dsp/dft.h"
#include "dsp/windowing.h"
#include "io/wavm1616io.h"
#include "tools/synth/synthspeech.h"
#include "trackedspeech.h"

namespace brisvane {
namespace {

constexpr double kFs = 16000.0;

using trackedspeech::Recording;

// The documented spectral path, spelled out with the public kernels.
std::vector<double> spectralpath(std::vector<double> S, uint32_t order, double alpha) {
  const uint32_t N = static_cast<uint32_t>(S.size());
  std::vector<double> im(N, 0.0), c(order + 1), work(order + 1);
  for (double& v : S) v = v * (1.0 / N);
  ifftr(static_cast<int32_t>(N), S.data(), im.data());
  S[N / 2] *= 0.5;
  S[0] *= 0.5;
  EXPECT_EQ(ccwarp(S.data(), N / 2, c.data(), order, alpha, work.data()), 0);
  c[0] = c[0] * 2.0;
  return c;
}

TEST(CepstrumMatrix, ReproducesTheWarpingAndTheSpectralPath) {
  for (uint32_t N : {2u, 8u, 64u, 1024u}) {
    for (uint32_t order : {0u, 1u, 7u, 39u}) {
      for (double alpha : {0.0, 0.42, -0.3}) {
        const uint32_t H = N / 2;
        std::vector<double> W((H + 1) * (order + 1)), A(W.size());
        ASSERT_EQ(logspec2ccmatrix(N, order, alpha, W.data(), A.data()), 0);
        // Row n of W is the warping of the unit cepstrum at n.
        for (uint32_t n = 0; n <= H; n += std::max(1u, H / 4)) {
          std::vector<double> e(H + 1, 0.0), out(order + 1), work(order + 1);
          e[n] = 1.0;
          ASSERT_EQ(ccwarp(e.data(), H, out.data(), order, alpha, work.data()), 0);
          for (uint32_t m = 0; m <= order; ++m) EXPECT_NEAR(W[n * (order + 1) + m], out[m], 1e-13);
        }
        // A applied to a symmetric log spectrum gives the spectral path's coefficients.
        std::vector<double> S(N);
        for (uint32_t k = 0; k <= H; ++k) S[k] = -3.0 + std::sin(0.37 * k) + 0.2 * std::cos(2.1 * k);
        for (uint32_t k = 1; k < H; ++k) S[N - k] = S[k];
        const std::vector<double> want = spectralpath(S, order, alpha);
        for (uint32_t m = 0; m <= order; ++m) {
          double s = 0.0;
          for (uint32_t k = 0; k <= H; ++k) s += S[k] * A[k * (order + 1) + m];
          EXPECT_NEAR(s, want[m], 1e-12) << "N " << N << " order " << order << " alpha " << alpha << " m " << m;
        }
      }
    }
  }
  std::vector<double> W(10), A(10);
  EXPECT_EQ(logspec2ccmatrix(6, 1, 0.42, W.data(), A.data()), -1);
  EXPECT_EQ(logspec2ccmatrix(1, 1, 0.42, W.data(), A.data()), -1);
  EXPECT_EQ(logspec2ccmatrix(8, 1, 1.0, W.data(), A.data()), -1);
  EXPECT_EQ(logspec2ccmatrix(8, 1, std::nan(""), W.data(), A.data()), -1);
  EXPECT_EQ(logspec2ccmatrix(8, 1, 0.42, nullptr, A.data()), -1);
}

// The real-input noise spectrum equals the documented one on bins 0 .. N/2: broadband and
// silent frames, frames at both signal ends and past the end, several lengths.
TEST(NoiseSpectrumFast, AgreesWithTheDocumentedSpectrum) {
  std::vector<double> x(5000);
  uint32_t r = 12345u;
  for (double& v : x) {
    r = r * 1664525u + 1013904223u;
    v = (static_cast<double>(r >> 8) / 16777216.0 - 0.5) * 0.3;
  }
  for (size_t i = 2000; i < 2600; ++i) x[i] = 0.0;  // digital silence
  auto ws = memnacreate(naframesize(kFs), 2048);
  for (uint32_t N : {256u, 512u, 2048u}) {
    ASSERT_EQ(memnafastprepare(ws.get(), N), 0);
    std::vector<double> a(N), b(N);
    for (uint32_t centre : {0u, 37u, 2300u, 2500u, 4990u, 4999u, 7000u}) {
      ASSERT_EQ(getnoiselogspectrum(x.data(), 5000, kFs, centre, N, a.data(), ws.get()), 0);
      ASSERT_EQ(getnoiselogspectrumfast(x.data(), 5000, kFs, centre, N, b.data(), ws.get()), 0);
      for (uint32_t k = 0; k <= N / 2; ++k) EXPECT_NEAR(b[k], a[k], 1e-12) << N << " " << centre << " " << k;
    }
  }
  // Powers beyond the double range (infinite log amplitudes) in every bin or in some bins
  // only (the finite ones must keep their values), and far below the floor.
  for (const double gain : {1e160, 1e154, 1e-200}) {
    std::vector<double> y(x);
    for (double& v : y) v *= gain;
    std::vector<double> a(512), b(512);
    ASSERT_EQ(memnafastprepare(ws.get(), 512), 0);
    ASSERT_EQ(getnoiselogspectrum(y.data(), 5000, kFs, 1000, 512, a.data(), ws.get()), 0);
    ASSERT_EQ(getnoiselogspectrumfast(y.data(), 5000, kFs, 1000, 512, b.data(), ws.get()), 0);
    for (uint32_t k = 0; k <= 256; ++k) {
      if (std::isinf(a[k])) {
        EXPECT_EQ(b[k], a[k]) << gain << " " << k;
      } else {
        EXPECT_NEAR(b[k], a[k], 1e-12) << gain << " " << k;
      }
    }
  }
  ASSERT_EQ(memnafastprepare(ws.get(), 2048), 0);
  // Tables for another length, a length beyond the workspace or not a power of two, null output.
  std::vector<double> out(1024, 4.0);
  EXPECT_EQ(getnoiselogspectrumfast(x.data(), 5000, kFs, 100, 1024, out.data(), ws.get()), -1);
  EXPECT_EQ(memnafastprepare(ws.get(), 4096), -1);
  EXPECT_EQ(memnafastprepare(ws.get(), 1000), -1);
  EXPECT_EQ(getnoiselogspectrumfast(x.data(), 5000, kFs, 100, 2048, nullptr, ws.get()), -1);
  EXPECT_EQ(out[3], 4.0);
}

// The regularised fit without the cosine matrix equals matccharmonic + solvelsr, with fewer
// and with more harmonics than coefficients, warped and unwarped.
TEST(RegularisedFitFast, AgreesWithTheMatrixForm) {
  for (uint32_t K : {1u, 7u, 40u, 79u}) {
    for (uint32_t P : {0u, 5u, 39u}) {
      for (double alpha : {0.0, 0.42}) {
        const double f0 = 7999.0 / (K + 1);
        std::vector<double> y(K), c1(P + 1, 9.0), c2(P + 1, 9.0);
        for (uint32_t k = 0; k < K; ++k) y[k] = -4.0 + std::sin(0.3 * k) - 0.01 * k;
        std::vector<double> M(static_cast<size_t>(K) * (P + 1) + 2 * (P + 1) * (P + 1));
        std::vector<double> work((P + 1) * (P + 1) + 15 * (P + 1));
        ASSERT_EQ(matccharmonic(P, K, f0, kFs, alpha, M.data()), 0);
        ASSERT_EQ(solvelsr(M.data(), y.data(), c1.data(), K, P + 1), 0);
        ASSERT_EQ(solvelsrfast(P, K, f0, kFs, alpha, y.data(), c2.data(), work.data()), 0);
        for (uint32_t m = 0; m <= P; ++m) EXPECT_NEAR(c2[m], c1[m], 1e-10 * (1.0 + std::fabs(c1[m]))) << K << " " << P;
      }
    }
  }
  std::vector<double> y(3, 1.0), c(3), work(64);
  EXPECT_EQ(solvelsrfast(2, 3, 100.0, kFs, 0.42, nullptr, c.data(), work.data()), -1);
  EXPECT_EQ(solvelsrfast(2, 3, 100.0, kFs, 0.42, y.data(), c.data(), nullptr), -1);
  // No harmonics: R is the penalty alone, singular in c0, refused like the documented solve.
  std::vector<double> M(2 * 9);
  EXPECT_EQ(solvelsr(M.data(), y.data(), c.data(), 0, 3), -1);
  EXPECT_EQ(solvelsrfast(2, 0, 100.0, kFs, 0.42, y.data(), c.data(), work.data()), -1);
}

const std::vector<Recording>& recordings() {
  static const std::vector<Recording> all = trackedspeech::load(24000);
  return all;
}

// Every method and a few settings: same return value, every coefficient equal to 1e-9, float32
// images identical but for at most one value in a thousand one unit apart. Values further apart
// occur only for coefficients far smaller than the frame's others.
TEST(CepstralStreamFast, AgreesWithTheDocumentedStream) {
  struct Setting {
    uint8_t method;
    uint32_t order;
    double alpha;
    uint32_t fftmin;
    size_t recordings;  // how many of the recordings (the documented stream is slow)
  };
  const Setting settings[] = {{0, 39, 0.42, 1024, 99}, {1, 39, 0.42, 1024, 99}, {2, 39, 0.42, 1024, 99},
                              {0, 24, 0.0, 512, 3},    {1, 12, -0.2, 2048, 3},  {2, 59, 0.55, 512, 3}};
  for (const Setting& s : settings) {
    uint64_t values = 0, lastbit = 0, further = 0;  // float32 images one unit apart / further
    const size_t count = std::min(s.recordings, recordings().size());
    for (size_t ri = 0; ri < count; ++ri) {
      const Recording& r = recordings()[ri];
      const uint32_t len = static_cast<uint32_t>(r.x.size());
      const uint32_t F = static_cast<uint32_t>(r.f0.size());
      std::vector<double> ref(static_cast<size_t>(F) * (s.order + 1), 7.0), fast(ref);
      const int e1 = waveform2ccs(r.x.data(), len, kFs, 80, 0, F, r.f0.data(), s.fftmin, s.order, ref.data(),
                                  s.alpha, s.method);
      const int e2 = waveform2ccsfast(r.x.data(), len, kFs, 80, 0, F, r.f0.data(), s.fftmin, s.order, fast.data(),
                                      s.alpha, s.method);
      ASSERT_EQ(e1, e2);
      for (size_t i = 0; i < ref.size(); ++i) {
        ASSERT_NEAR(fast[i], ref[i], 1e-9) << r.name << " method " << int(s.method) << " frame "
                                           << i / (s.order + 1) << " m " << i % (s.order + 1);
      }
      for (size_t i = 0; i < ref.size(); ++i) {
        ++values;
        const float fa = static_cast<float>(ref[i]), fb = static_cast<float>(fast[i]);
        if (fa != fb) ++(std::nextafter(fa, fb) == fb ? lastbit : further);
      }
    }
    EXPECT_LE(lastbit + further, values / 1000) << int(s.method);
    EXPECT_LE(further, values / 10000 + 2) << int(s.method);
  }
}

// Invalid alpha: every coefficient 0 and -1, as documented; frames = 0 still succeeds.
TEST(CepstralStreamFast, RefusesWhatTheDocumentedStreamRefuses) {
  std::vector<double> x(4000, 0.01), f0(10, 120.0), cc(10 * 40, 5.0);
  EXPECT_EQ(waveform2ccsfast(x.data(), 4000, kFs, 80, 0, 10, f0.data(), 1024, 39, cc.data(), 1.0, 0), -1);
  for (double v : cc) ASSERT_EQ(v, 0.0);
  EXPECT_EQ(waveform2ccsfast(x.data(), 4000, kFs, 80, 0, 0, f0.data(), 1024, 39, cc.data(), 0.42, 0), 0);
  EXPECT_EQ(waveform2ccsfast(x.data(), 4000, std::nan(""), 80, 0, 10, f0.data(), 1024, 39, cc.data(), 0.42, 0), -1);
  EXPECT_EQ(waveform2ccsfast(x.data(), 4000, kFs, 80, 0, 10, nullptr, 1024, 39, cc.data(), 0.42, 0), -1);
}

// ---- Pitch-adaptive spectrum by transform tables, and its logarithm four bins at a time ----

// The fast pitch-adaptive log spectrum, with and without the transform tables, equals the
// documented one on bins 0 .. N/2: a voiced stretch, digital silence (every bin on the power
// floor), a frame reaching past the end, and f0 values giving odd and even window lengths.
// A very loud frame (amplitude 1e153, powers near the largest double) stays finite wherever
// the documented spectrum is, and is infinite where it is; there only bins within 10 nepers of the frame's peak are
// compared, the rest lying at the transforms' rounding noise.
TEST(StraightSpectrumFast, AgreesWithTheDocumentedSpectrum) {
  const uint32_t N = 1024, len = 6000;
  std::vector<double> x(len);
  for (uint32_t i = 0; i < len; ++i) x[i] = 0.3 * std::sin(0.05 * i) + 0.1 * std::sin(0.31 * i + 1.0);
  for (uint32_t i = 2000; i < 3000; ++i) x[i] = 0.0;
  std::vector<double> loud(len, 0.0);
  for (uint32_t i = 0; i < len; ++i) loud[i] = (i % 7 < 3 ? 1e153 : -1e153);
  auto ws = memnacreate(naframesize(kFs), N);
  ASSERT_EQ(memnafastprepare(ws.get(), N), 0);
  fftplan plan;
  ASSERT_EQ(fftplancreate(N, &plan), 0);
  for (const std::vector<double>* sig : {&x, &loud}) {
    for (double f0 : {71.3, 130.0, 242.0}) {
      for (uint32_t centre : {0u, 700u, 2500u, 5990u}) {
        std::vector<double> a(N), a2(N), b(N), b2(N), c(N), c2(N);
        ASSERT_EQ(getstraightlogspectrum(sig->data(), len, kFs, centre, f0, N, a.data(), a2.data(), ws.get()), 0);
        ASSERT_EQ(getstraightlogspectrumfast(sig->data(), len, kFs, centre, f0, N, b.data(), b2.data(), ws.get()), 0);
        ASSERT_EQ(getstraightlogspectrumfast(sig->data(), len, kFs, centre, f0, N, c.data(), c2.data(), ws.get(),
                                             nullptr, &plan),
                  0);
        const double peak = *std::max_element(a.begin(), a.begin() + N / 2 + 1);
        for (uint32_t k = 0; k <= N / 2; ++k) {
          if (std::isinf(a[k])) {  // power beyond the largest double: infinite either way
            EXPECT_EQ(b[k], a[k]) << f0 << " " << centre << " " << k;
            EXPECT_EQ(c[k], a[k]) << f0 << " " << centre << " " << k;
            continue;
          }
          ASSERT_TRUE(std::isfinite(b[k]) && std::isfinite(c[k])) << f0 << " " << centre << " " << k;
          if (sig == &loud && a[k] < peak - 10.0) continue;
          const double tol = 1e-9 * (1.0 + std::fabs(a[k]));
          EXPECT_NEAR(b[k], a[k], tol) << f0 << " " << centre << " " << k;
          EXPECT_NEAR(c[k], a[k], tol) << f0 << " " << centre << " " << k;
        }
      }
    }
  }
  // Tables of another length are not used: the result stays that of the untabled route.
  fftplan other;
  ASSERT_EQ(fftplancreate(N / 2, &other), 0);
  std::vector<double> a(N), a2(N), b(N), b2(N);
  ASSERT_EQ(getstraightlogspectrumfast(x.data(), len, kFs, 700, 130.0, N, a.data(), a2.data(), ws.get()), 0);
  ASSERT_EQ(getstraightlogspectrumfast(x.data(), len, kFs, 700, 130.0, N, b.data(), b2.data(), ws.get(), nullptr,
                                       &other),
            0);
  for (uint32_t k = 0; k <= N / 2; ++k) ASSERT_EQ(b[k], a[k]) << k;
}

}  // namespace
}  // namespace brisvane
