// Maximum voiced frequency: frame geometry, peak scoring, peak list, split costs,
// candidates, the whole estimator on known signals, and the warping of the track.
#include "analysis/fvanalysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "dsp/dft.h"
#include "dsp/simd.h"
#include "tools/synth/synthspeech.h"

namespace brisvane {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kFs = 16000.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Deterministic uniform noise in [-1, 1).
struct Lcg {
  uint64_t s = 12345;
  double next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(s >> 11) * 0x1.0p-52 - 1.0;
  }
};

std::vector<double> noise(std::size_t n, double amp) {
  Lcg rng;
  std::vector<double> x(n);
  for (double& v : x) v = amp * rng.next();
  return x;
}

double power(const std::vector<double>& X, uint32_t b) {
  return X[2 * b] * X[2 * b] + X[2 * b + 1] * X[2 * b + 1];
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Zero-phase spectrum of the frame sample(j), j = -Hh..Hh, under the analysis window
// 1 + cos(pi j / Hh), as the estimator computes it.
template <class Fn>
std::vector<double> framespectrum(const fvframe& fr, Fn sample) {
  std::vector<double> X(2 * static_cast<std::size_t>(fr.N), 0.0);
  for (int j = -static_cast<int>(fr.Hh); j <= static_cast<int>(fr.Hh); ++j) {
    const double w = 1.0 + std::cos(kPi * j / fr.Hh);
    const std::size_t i = j >= 0 ? j : fr.N + j;
    X[2 * i] = w * sample(j);
  }
  fftc(static_cast<int32_t>(fr.N), X.data());
  return X;
}

// Bin of largest power within +-2 bins of the bin nearest to f.
uint32_t peakbin(const std::vector<double>& X, const fvframe& fr, double f) {
  const uint32_t c = static_cast<uint32_t>(std::lround(f / fr.df));
  uint32_t best = c;
  double bp = -1.0;
  for (uint32_t b = c - 2; b <= c + 2; ++b) {
    if (power(X, b) > bp) bp = power(X, b), best = b;
  }
  return best;
}

TEST(FvFrame, GeometryRefusalsAndTransitionWeight) {
  fvframe fr;
  ASSERT_EQ(fvframesetup(100.0, kFs, &fr), 0);
  EXPECT_EQ((std::vector<double>{double(fr.W), double(fr.Hh), double(fr.N), fr.df, double(fr.g),
                                 double(fr.bfirst), double(fr.blast)}),
            (std::vector<double>{481, 240, 2048, 7.8125, 6, 11, 1018}));

  // The lowest f0 analysed bounds the transform at 16384 points at 16 kHz.
  ASSERT_EQ(fvframesetup(kFvMinF0, kFs, &fr), 0);
  EXPECT_EQ(fr.W, 2401u);
  EXPECT_EQ(fr.N, 16384u);
  // 6000 and above: no peak fits between 0.9 f0 and the top of the search range.
  for (double F : {0.0, -100.0, 19.99, kNaN, kInf, -kInf, 6000.0, 1e300}) {
    EXPECT_EQ(fvframesetup(F, kFs, &fr), -1) << F;
  }
  for (double fs : {0.0, kNaN}) EXPECT_EQ(fvframesetup(100.0, fs, &fr), -1);
  EXPECT_EQ(fvframesetup(100.0, kFs, nullptr), -1);

  EXPECT_NEAR(fvtransitionweight(kFs, 80), 3.515625e-10, 1e-24);
  // Halving the frame shift doubles the cost per frame of a given change.
  EXPECT_NEAR(fvtransitionweight(kFs, 40), 2 * 3.515625e-10, 2e-24);
}

TEST(FvScore, SinusoidsScoreNearOneNoiseLowBadArgumentsZero) {
  fvframe fr;
  ASSERT_EQ(fvframesetup(100.0, kFs, &fr), 0);
  // On a bin, a quarter and half a bin off, with various phases; below and above fs/4.
  for (double f : {93.0, 1000.0, 1001.953125, 1003.90625, 2345.6, 5000.0, 6503.9, 7000.0}) {
    for (double phase : {0.0, 0.7, 2.0, -1.3}) {
      const auto X =
          framespectrum(fr, [&](int j) { return 0.3 * std::cos(2 * kPi * f * j / kFs + phase); });
      const double s = slm(X.data(), fr.N, kFs, f, fr.W, peakbin(X, fr, f), fr.g);
      EXPECT_GT(s, 0.999) << f << " " << phase;
      EXPECT_LE(s, 1.0 + 1e-12);
    }
  }
  // Close to fs/2 the mirror image at fs - f shares the neighbourhood of a short frame; the
  // model includes it in phase, so a cosine-phase sinusoid there still scores 1.
  ASSERT_EQ(fvframesetup(300.0, kFs, &fr), 0);
  for (double f : {7900.0, 7950.0}) {
    const auto X = framespectrum(fr, [&](int j) { return 0.3 * std::cos(2 * kPi * f * j / kFs); });
    EXPECT_GT(slm(X.data(), fr.N, kFs, f, fr.W, peakbin(X, fr, f), fr.g), 0.999) << f;
  }

  ASSERT_EQ(fvframesetup(100.0, kFs, &fr), 0);
  const std::vector<double> x = noise(fr.W, 1.0);
  const auto X = framespectrum(fr, [&](int j) { return x[j + fr.Hh]; });
  std::vector<double> scores;
  for (uint32_t b = fr.bfirst; b <= fr.blast; ++b) {
    if (power(X, b) > power(X, b - 1) && power(X, b) > power(X, b + 1)) {
      scores.push_back(slm(X.data(), fr.N, kFs, b * fr.df, fr.W, b, fr.g));
    }
  }
  ASSERT_GT(scores.size(), 50u);
  // A noise peak resembles a main lobe a little (about 0.9), but stays nearer the noise
  // target 0.85 than the voiced 1.
  EXPECT_LT(median(scores), 0.925);

  // Neighbourhood outside the spectrum, no spectrum, or no energy: 0, never NaN.
  EXPECT_EQ(slm(X.data(), fr.N, kFs, 100.0, fr.W, 3, 6), 0.0);
  EXPECT_EQ(slm(X.data(), fr.N, kFs, 100.0, fr.W, fr.N - 6, 6), 0.0);
  EXPECT_EQ(slm(nullptr, fr.N, kFs, 100.0, fr.W, 100, 6), 0.0);
  const std::vector<double> zeros(2 * fr.N, 0.0);
  EXPECT_EQ(slm(zeros.data(), fr.N, kFs, 1000.0, fr.W, 128, 6), 0.0);
}

TEST(FvPeaks, EveryMaximumSetsTheThresholdAndTheFirstIsAlwaysAccepted) {
  // Deep floor with isolated symmetric maxima (vertex = centre value, offset 0).
  std::vector<double> P(40, -60.0);
  P[5] = -10.0;   // first: accepted although below the initial threshold 0
  P[10] = -14.0;  // below -10 - 12.5 dB: skipped, but sets the threshold to -14 - 12.5 dB
  P[15] = -15.0;  // above that: accepted (would be rejected against the first maximum)
  P[20] = -25.0;  // below -15 - 12.5 dB: skipped
  P[25] = -27.0;  // above -25 - 12.5 dB: accepted
  P[29] = P[30] = -5.0;  // plateau: no strict maximum
  P[33] = -3.0;   // asymmetric: vertex pulled toward the larger neighbour
  P[34] = -20.0;
  P[35] = -4.0;   // maximum at the last bin searched: uses the bin beyond it
  P[36] = -50.0;
  P[2] = 0.0;     // maximum left of the search range: ignored
  uint32_t bins[20];
  double freq[20];
  const double df = 10.0;
  const uint32_t K = fvpeaklist(P.data(), 4, 35, df, bins, freq);
  EXPECT_EQ(std::vector<uint32_t>(bins, bins + K), (std::vector<uint32_t>{5, 15, 25, 33, 35}));
  EXPECT_EQ(std::vector<double>(freq, freq + 2), (std::vector<double>{50.0, 150.0}));
  EXPECT_GT(freq[3], 330.0);
  EXPECT_LT(freq[3], 335.0);
  EXPECT_EQ(fvpeaklist(P.data(), 0, 35, df, bins, freq), 0u);
  EXPECT_EQ(fvpeaklist(P.data(), 12, 11, df, bins, freq), 0u);
}

// Split cost at i: mean squared distance of the scores from 1 below i and from 0.85 from i on.
TEST(FvSplit, WorkedCostsAndFlooredScores) {
  // Two sinusoid-like peaks then noise: the split at index 2 costs nothing. Scores at or
  // below 0.85 (and NaN) enter as 0.85.
  const double s[] = {1.0, 1.0, 0.6, kNaN, 0.85};
  const double want[] = {0.009, 0.0045, 0.0, 0.0045, 0.009};
  double E[5];
  ASSERT_EQ(fvsplitcosts(s, 5, E), 0);
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(E[i], want[i], 1e-15) << i;
  const double one = 0.9;
  ASSERT_EQ(fvsplitcosts(&one, 1, E), 0);
  EXPECT_NEAR(E[0], 0.0025, 1e-15);
  EXPECT_EQ(fvsplitcosts(nullptr, 3, E), -1);
}

TEST(FvSplit, CandidateRules) {
  const auto cands = [](std::vector<double> E) {
    std::vector<uint32_t> idx(E.size());
    idx.resize(fvcandidates(E.data(), static_cast<uint32_t>(E.size()), idx.data()));
    return idx;
  };
  using V = std::vector<uint32_t>;
  EXPECT_EQ(cands({0.3}), V{0});
  EXPECT_EQ(cands({1, 2, 3}), V{0});           // only the first rises
  EXPECT_EQ(cands({3, 2, 1}), V{2});           // no minimum: the last index
  EXPECT_EQ(cands({1, 2, 0, 5}), (V{0, 2}));   // first index and an interior minimum
  EXPECT_EQ(cands({2, 1, 3, 0.5, 4}), (V{1, 3}));
  EXPECT_EQ(cands({1, 1, 1}), V{2});           // ties are not minima
  EXPECT_EQ(cands({2, 1, 1, 3}), V{3});
  EXPECT_EQ(cands({}), V{});
  // The two-pass form gives the same costs and candidates: every length up to 40, scores
  // below, at and above the floor, NaN, and runs of equal scores (equal costs, no minima).
  Lcg rng;
  for (uint32_t K = 1; K <= 40; ++K) {
    std::vector<double> s(K), E(K), E2(K);
    for (double& v : s) {
      const double r = 0.5 * (rng.next() + 1.0);  // uniform in [0, 1)
      v = r < 0.2 ? 0.85 : r < 0.25 ? kNaN : r < 0.5 ? 0.99 : 0.85 + 0.3 * rng.next();
    }
    ASSERT_EQ(fvsplitcosts(s.data(), K, E.data()), 0);
    const V want = cands(E);
    V idx(K);
    idx.resize(fvsplitcandidatesfast(s.data(), K, E2.data(), idx.data()));
    EXPECT_EQ(idx, want) << K;
    EXPECT_EQ(E2, E) << K;
  }
  double one = 0.5, E[1];
  uint32_t idx[1];
  EXPECT_EQ(fvsplitcandidatesfast(&one, 0, E, idx), 0u);
  EXPECT_EQ(fvsplitcandidatesfast(nullptr, 1, E, idx), 0u);
}

TEST(FvPath, FindsTheCheapestPathOfRandomTrellises) {
  Lcg rng;
  const double lambda = 1e-7;  // transitions weigh about as much as split costs here
  for (int trial = 0; trial < 200; ++trial) {
    const uint32_t n = 1 + trial % 5;
    std::vector<uint32_t> count(n);
    std::vector<double> freq, cost;
    for (uint32_t k = 0; k < n; ++k) {
      count[k] = 1 + static_cast<uint32_t>((rng.next() + 1.0) * 2.0);
      for (uint32_t i = 0; i < count[k]; ++i) {
        freq.push_back(4000.0 + 4000.0 * rng.next());
        cost.push_back(0.02 * (rng.next() + 1.0));
      }
    }
    // Exhaustive search over every path; the first cheapest one in enumeration order.
    std::vector<uint32_t> pick(n, 0);
    std::vector<double> path(n), want, fv(n);
    double best = kInf;
    for (uint32_t k = 0; k < n;) {
      double c = 0.0;
      for (std::size_t j = 0, from = 0; j < n; from += count[j++]) {
        path[j] = freq[from + pick[j]];
        c += cost[from + pick[j]] + (j ? lambda * std::pow(path[j] - path[j - 1], 2) : 0.0);
      }
      if (c < best) best = c, want = path;
      for (k = 0; k < n && ++pick[k] == count[k];) pick[k++] = 0;
    }
    ASSERT_EQ(fvpathsearch(n, count.data(), freq.data(), cost.data(), lambda, fv.data()), 0);
    EXPECT_EQ(fv, want) << "trial " << trial;
    ASSERT_EQ(fvpathsearchfast(n, count.data(), freq.data(), cost.data(), lambda, fv.data()), 0);
    EXPECT_EQ(fv, want) << "fast, trial " << trial;
  }
  // Long trellises with up to 40 candidates a frame and many equal totals (coarse frequencies
  // and costs): the vector search keeps the documented choice, first among equals included.
  for (int trial = 0; trial < 20; ++trial) {
    const uint32_t n = 60;
    std::vector<uint32_t> count(n);
    std::vector<double> freq, cost;
    for (uint32_t k = 0; k < n; ++k) {
      count[k] = 1 + static_cast<uint32_t>((rng.next() + 1.0) * 20.0) % 40;
      for (uint32_t i = 0; i < count[k]; ++i) {
        freq.push_back(500.0 * std::floor(8.0 + 6.0 * rng.next()));
        cost.push_back(0.001 * std::floor(3.0 * (rng.next() + 1.0)));
      }
    }
    std::vector<double> ref(n), fast(n);
    ASSERT_EQ(fvpathsearch(n, count.data(), freq.data(), cost.data(), lambda, ref.data()), 0);
    ASSERT_EQ(fvpathsearchfast(n, count.data(), freq.data(), cost.data(), lambda, fast.data()), 0);
    EXPECT_EQ(fast, ref) << "long trial " << trial;
  }
}

TEST(FvPath, SmoothsJumpsAndBreaksTiesTowardTheFirst) {
  const double lambda = fvtransitionweight(kFs, 80);
  const struct { uint32_t count[2]; double freq[3], cost[3], want[2]; } cases[] = {
      // Frame 0 alone would choose 5000 Hz, but the jump to 1000 Hz costs more
      // (16e6 * 3.5e-10 = 5.6e-3) than the 1e-3 it saves.
      {{2, 1}, {1000.0, 5000.0, 1000.0}, {0.001, 0.0, 0.0}, {1000.0, 1000.0}},
      // Equal totals: the first predecessor, and the first candidate of the last frame.
      {{2, 1}, {2500.0, 1500.0, 2000.0}, {0.0, 0.0, 0.004}, {2500.0, 2000.0}},
      {{1, 2}, {1000.0, 900.0, 1100.0}, {0.0, 0.002, 0.002}, {1000.0, 900.0}},
  };
  double fv[2];
  for (const auto& c : cases) {
    ASSERT_EQ(fvpathsearch(2, c.count, c.freq, c.cost, lambda, fv), 0);
    EXPECT_EQ(std::vector<double>(fv, fv + 2), std::vector<double>(c.want, c.want + 2));
  }
  const uint32_t bad[] = {1, 0};
  fv[0] = fv[1] = -1.0;
  EXPECT_EQ(fvpathsearch(2, bad, cases[1].freq, cases[1].cost, 0.0, fv), -1);
  EXPECT_EQ(fvpathsearchfast(2, bad, cases[1].freq, cases[1].cost, 0.0, fv), -1);
  EXPECT_EQ(fv[0], -1.0);
}

// Runs the estimator over a whole track.
std::vector<double> estimate(const std::vector<double>& x, std::vector<double> f0, uint32_t S = 80,
                             uint32_t offset = 0) {
  std::vector<double> fv(f0.size(), -1.0);
  EXPECT_EQ(getfvoicing(x.data(), static_cast<uint32_t>(x.size()), kFs, S, offset,
                        static_cast<uint32_t>(f0.size()), f0.data(), fv.data()),
            0);
  return fv;
}

TEST(FvTrack, UnvoicedSilentAndUnusableFramesGiveZero) {
  const std::vector<double> x = noise(4000, 0.5);
  using V = std::vector<double>;
  EXPECT_EQ(estimate(x, V(50, 0.0)), V(50, 0.0));
  // Non-finite, negative, too low and too high f0 values count as unvoiced.
  EXPECT_EQ(estimate(x, {kNaN, kInf, -kInf, -120.0, 5.0, 1e300, 7000.0}), V(7, 0.0));
  // Digital silence in voiced frames, and voiced frames entirely past the signal's end.
  EXPECT_EQ(estimate(V(4000, 0.0), V(50, 120.0)), V(50, 0.0));
  EXPECT_EQ(estimate(x, V(5, 120.0), 80, 4000000000u), V(5, 0.0));
  EXPECT_EQ(estimate({}, {150.0}), std::vector<double>{0.0});
}

TEST(FvTrack, EdgesAliasingAndGarbageSamplesStaySafe) {
  synth::Result r = synth::synthesize(synth::steadyvowel(110.0, 0.3));
  const uint32_t len = static_cast<uint32_t>(r.signal.size());
  const uint32_t n = static_cast<uint32_t>(r.f0.size());
  std::vector<double> f0(n, 110.0);
  const std::vector<double> ref = estimate(r.signal, f0);
  // Samples past len (here NaN) never enter the frames near the end.
  std::vector<double> padded = r.signal;
  padded.resize(len + 1000, kNaN);
  std::vector<double> fv(n);
  ASSERT_EQ(getfvoicing(padded.data(), len, kFs, 80, 0, n, f0.data(), fv.data()), 0);
  EXPECT_EQ(fv, ref);
  // The track may be overwritten by its own result.
  ASSERT_EQ(getfvoicing(r.signal.data(), len, kFs, 80, 0, n, f0.data(), f0.data()), 0);
  EXPECT_EQ(f0, ref);
  // Non-finite samples, and a zero frame shift (every frame on one centre, so any change
  // of the boundary costs infinitely much), still give a valid track.
  r.signal[500] = kNaN;
  r.signal[1500] = kInf;
  r.signal[2500] = -kInf;
  fv = estimate(r.signal, std::vector<double>(n, 110.0));
  const std::vector<double> still = estimate(r.signal, std::vector<double>(20, 110.0), 0, 1000);
  fv.insert(fv.end(), still.begin(), still.end());
  fv.insert(fv.end(), ref.begin(), ref.end());
  for (double v : fv) {
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_GE(v, 0.0);
    EXPECT_LE(v, kFs / 2);
  }

  // Invalid arguments, for both estimators: -1 with the output untouched.
  for (auto est : {getfvoicing, getfvoicingfast}) {
    std::vector<double> out(4, -7.0);
    EXPECT_EQ(est(padded.data(), len, kFs, 80, 0, 4, nullptr, out.data()), -1);
    EXPECT_EQ(est(nullptr, len, kFs, 80, 0, 4, ref.data(), out.data()), -1);
    EXPECT_EQ(est(padded.data(), len, 0.0, 80, 0, 4, ref.data(), out.data()), -1);
    EXPECT_EQ(est(padded.data(), len, kNaN, 80, 0, 4, ref.data(), out.data()), -1);
    EXPECT_EQ(out, std::vector<double>(4, -7.0));
    EXPECT_EQ(est(padded.data(), len, kFs, 80, 0, 4, ref.data(), nullptr), -1);
    EXPECT_EQ(est(padded.data(), len, kFs, 80, 0, 0, nullptr, nullptr), 0);
  }
}

TEST(FvTrack, EstimateFollowsAKnownVoicedCutoff) {
  // Harmonics up to 4 kHz and noise above, 150 Hz, given the true f0 track. The boundary
  // proposed is the lowest noise-like peak, so estimates lie somewhat above the cut-off.
  synth::Config cfg = synth::steadyvowel(150.0, 1.0);
  cfg.voicedcutoff = 4000.0;
  const synth::Result r = synth::synthesize(cfg);
  const std::vector<double> fv = estimate(r.signal, r.f0);
  std::vector<double> err;
  for (std::size_t k = 0; k < fv.size(); ++k) {
    if (r.stable[k] != 0) err.push_back(std::fabs(fv[k] - 4000.0));
  }
  ASSERT_GT(err.size(), 100u);
  EXPECT_LT(median(err), 500.0);
  std::sort(err.begin(), err.end());
  EXPECT_LT(err[err.size() * 9 / 10], 1200.0);

  // The same voice fully harmonic puts the boundary high, pure noise puts it low.
  cfg.voicedcutoff = 0.0;
  const synth::Result h = synth::synthesize(cfg);
  const std::vector<double> fh = estimate(h.signal, h.f0);
  const std::vector<double> fn = estimate(noise(h.signal.size(), 0.3), h.f0);
  std::vector<double> hs, ns;
  for (std::size_t k = 0; k < fh.size(); ++k) {
    if (h.stable[k] != 0) hs.push_back(fh[k]), ns.push_back(fn[k]);
  }
  EXPECT_GT(median(hs), 6000.0);
  EXPECT_LT(median(ns), 1500.0);
}

// The power-spectrum peak search gives exactly the peaks of the log-spectrum search: on
// noise, on spectra with plateaus, exact zeros, subnormal powers and powers so close that
// their logarithms are equal although the powers are not. The vector-log search gives
// exactly the peaks of the log-spectrum search on its own logarithms.
TEST(FvFast, PowerPeakListEqualsTheLogPeakList) {
  Lcg rng;
  for (int trial = 0; trial < 4; ++trial) {
    std::vector<double> q(600);
    for (double& v : q) v = std::exp(8.0 * rng.next());
    if (trial >= 1) {
      for (std::size_t i = 40; i < 600; i += 7) q[i + 1] = q[i];  // plateaus
      for (std::size_t i = 60; i < 600; i += 11) q[i] = DBL_MIN;   // floored zeros
      for (std::size_t i = 65; i < 600; i += 23) q[i] = 3e-310;    // below the normal range
    }
    if (trial >= 2) {
      // Neighbours one unit apart in the last place: ln may not tell them apart.
      for (std::size_t i = 30; i + 1 < 600; i += 5) q[i + 1] = std::nextafter(q[i], 0.0);
    }
    if (trial == 3) {
      // Strict maxima of the powers whose logarithms (about 20.7) all round alike: no peak.
      for (std::size_t i = 0; i < 600; ++i) q[i] = (i % 3 == 1) ? std::nextafter(1e9, 2e9) : 1e9;
      ASSERT_EQ(std::log(q[1]), std::log(q[0]));
    }
    std::vector<double> P(600);
    for (std::size_t i = 0; i < 600; ++i) P[i] = std::log(q[i]);
    std::vector<uint32_t> b1(300), b2(300);  // compared whole: unused tails stay 0
    std::vector<double> f1(300), f2(300);
    const uint32_t K1 = fvpeaklist(P.data(), 3, 590, 7.8125, b1.data(), f1.data());
    const uint32_t K2 = fvpeaklistpower(q.data(), 3, 590, 7.8125, b2.data(), f2.data());
    ASSERT_EQ(K1, K2) << trial;
    EXPECT_EQ(b1, b2) << trial;
    EXPECT_EQ(f1, f2) << trial;
    EXPECT_EQ(K1 > 20u, trial < 3) << trial;
    EXPECT_EQ(K1 == 0u, trial == 3) << trial;
    // Also scaled by 2^-900 and 2^900 (normal powers only), so that the logarithms' exponents
    // span most of the double range, negative ones included.
    for (double scale : {1.0, 0x1p-900, 0x1p900}) {
      std::vector<double> qs(q);
      for (double& v : qs) {
        if (v >= DBL_MIN) v *= scale;
      }
      for (std::size_t i = 0; i < 600; ++i) {
        P[i] = qs[i] >= DBL_MIN ? lognormal<v4d, v4i>(splat4(qs[i]))[0] : std::log(qs[i]);
      }
      std::vector<uint32_t> b3(300), b4(300);
      std::vector<double> f3(300), f4(300);
      const uint32_t K3 = fvpeaklist(P.data(), 3, 590, 7.8125, b4.data(), f4.data());
      ASSERT_EQ(fvpeaklistpowerfast(qs.data(), 3, 590, 7.8125, b3.data(), f3.data()), K3)
          << trial << " " << scale;
      EXPECT_EQ(b4, b3) << trial << " " << scale;
      EXPECT_EQ(f4, f3) << trial << " " << scale;
    }
  }
  uint32_t bins[4];
  double freq[4];
  const std::vector<double> q(40, 1.0);
  EXPECT_EQ(fvpeaklistpower(q.data(), 0, 35, 1.0, bins, freq), 0u);
  EXPECT_EQ(fvpeaklistpower(q.data(), 12, 11, 1.0, bins, freq), 0u);
  EXPECT_EQ(fvpeaklistpower(nullptr, 4, 35, 1.0, bins, freq), 0u);
  EXPECT_EQ(fvpeaklistpowerfast(q.data(), 0, 35, 1.0, bins, freq), 0u);
  EXPECT_EQ(fvpeaklistpowerfast(q.data(), 12, 11, 1.0, bins, freq), 0u);
  EXPECT_EQ(fvpeaklistpowerfast(q.data(), 4, 35, 1.0, bins, nullptr), 0u);
}

// Scores by angle addition agree with slm on and between bins (a kernel angle of exactly 0
// included), below and above fs/4, on noise peaks and sinusoids; the same refusals.
TEST(FvFast, ScoresAgreeWithTheDocumentedScore) {
  for (double F : {100.0, 61.0, 233.0}) {
    fvframe fr;
    ASSERT_EQ(fvframesetup(F, kFs, &fr), 0);
    std::vector<double> cosd(2 * fr.g + 1), sind(2 * fr.g + 1);
    ASSERT_EQ(fvslmtable(fr.N, fr.W, fr.g, cosd.data(), sind.data()), 0);
    const std::vector<double> nz = noise(fr.W, 0.01);
    const double f1 = 40 * fr.df;        // on a bin: theta1 = 0 at the centre bin
    const double f2 = 6000.3 + F / 7.0;  // above fs/4, between bins
    const auto X = framespectrum(fr, [&](int j) {
      return std::cos(2 * kPi * f1 * j / kFs) + 0.5 * std::cos(2 * kPi * f2 * j / kFs + 1.0) +
             nz[j + fr.Hh];
    });
    std::vector<double> re(fr.N / 2 + 1), im(fr.N / 2 + 1);
    for (uint32_t i = 0; i <= fr.N / 2; ++i) {
      re[i] = X[2 * i];
      im[i] = X[2 * i + 1];
    }
    const auto fast = [&](double f, uint32_t b) {
      return slmfast(re.data(), im.data(), fr.N, kFs, f, fr.W, b, fr.g, cosd.data(), sind.data());
    };
    ASSERT_GT(fr.blast - fr.bfirst, 300u);
    for (uint32_t b = fr.bfirst; b <= fr.blast; ++b) {
      for (double f : {b * fr.df, (b + 0.3) * fr.df, (b - 0.45) * fr.df}) {
        ASSERT_NEAR(fast(f, b), slm(X.data(), fr.N, kFs, f, fr.W, b, fr.g), 1e-13)
            << "F " << F << " bin " << b << " f " << f;
      }
    }
    const uint32_t b1 = static_cast<uint32_t>(f1 / fr.df);
    EXPECT_GT(fast(f1, b1), 0.999);
    EXPECT_EQ(fast(f1, fr.g - 1), 0.0);
    EXPECT_EQ(fast(f1, fr.N - fr.g), 0.0);
    EXPECT_EQ(slmfast(re.data(), im.data(), fr.N, kFs, f1, fr.W, b1, fr.g, nullptr, sind.data()),
              0.0);
  }
  EXPECT_EQ(fvslmtable(0, 481, 6, nullptr, nullptr), -1);
}

// The whole fast estimator picks the same candidate in every frame as the documented one:
// both transform lengths (f0 above and below 93.75 Hz), mixed excitation, silence, unvoiced
// frames, the signal's edges and other frame grids.
TEST(FvFast, SameTrackAsTheDocumentedEstimator) {
  synth::Config cfg;
  cfg.segments = {{synth::SegmentKind::Voiced, 0.5, 150.0, 170.0, 0.01, 0.5},
                  {synth::SegmentKind::Silence, 0.1, 0.0, 0.0, 0.0, 0.0},
                  {synth::SegmentKind::Voiced, 0.5, 80.0, 70.0, 0.02, 0.4},
                  {synth::SegmentKind::Unvoiced, 0.2, 0.0, 0.0, 0.0, 0.3}};
  cfg.voicedcutoff = 3500.0;
  const synth::Result r = synth::synthesize(cfg);
  const uint32_t len = static_cast<uint32_t>(r.signal.size());
  for (uint32_t S : {80u, 37u}) {
    for (uint32_t offset : {0u, 5u}) {
      const uint32_t n = (len - 1 - offset) / S + 1;
      // Truth f0 on the 80-sample grid, resampled to this grid (frames past it unvoiced).
      std::vector<double> f0(n, 0.0);
      for (uint32_t k = 0; k < n; ++k) {
        const std::size_t t = (offset + static_cast<std::size_t>(k) * S) / 80;
        if (t < r.f0.size()) f0[k] = r.f0[t];
      }
      std::vector<double> ref(n, -1.0), fast(n, -2.0);
      ASSERT_EQ(getfvoicing(r.signal.data(), len, kFs, S, offset, n, f0.data(), ref.data()), 0);
      ASSERT_EQ(getfvoicingfast(r.signal.data(), len, kFs, S, offset, n, f0.data(), fast.data()),
                0);
      int voiced = 0;
      for (uint32_t k = 0; k < n; ++k) {
        ASSERT_EQ(ref[k] == 0.0, fast[k] == 0.0) << k;
        ASSERT_NEAR(fast[k], ref[k], 1e-9 * ref[k]) << "frame " << k << " S " << S;
        voiced += ref[k] > 0.0;
      }
      EXPECT_GT(voiced, static_cast<int>(n / 3));
    }
  }
  // f0 gliding from 96 Hz down to 19.2 Hz (frames below 20 Hz unvoiced) over 1000 frames:
  // about 900 different window lengths, more than are kept at once, so the windows are made
  // frame by frame; still the documented track.
  const uint32_t n = 1000;
  std::vector<double> x = noise(6000, 0.05), f0(n), ref(n), fast(n);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] += std::sin(2 * kPi * 700.0 * i / kFs);
  for (uint32_t k = 0; k < n; ++k) f0[k] = 48000.0 / (2.0 * (250 + k) + 1.0);
  ASSERT_EQ(getfvoicing(x.data(), 6000, kFs, 5, 500, n, f0.data(), ref.data()), 0);
  ASSERT_EQ(getfvoicingfast(x.data(), 6000, kFs, 5, 500, n, f0.data(), fast.data()), 0);
  for (uint32_t k = 0; k < n; ++k) {
    ASSERT_EQ(ref[k] == 0.0, fast[k] == 0.0) << k;
    ASSERT_NEAR(fast[k], ref[k], 1e-9 * ref[k]) << "glide frame " << k;
  }
  EXPECT_GT(std::count(ref.begin(), ref.end(), 0.0), 0);
  EXPECT_LT(std::count(ref.begin(), ref.end(), 0.0), 100);
  // f0 jumping from frame to frame (windows and transform lengths shrinking and growing), the
  // last frames centred near and beyond the signal's end: no frame keeps samples of the one
  // before.
  const uint32_t nj = 120;
  std::vector<double> fj(nj), refj(nj), fastj(nj);
  const double jumps[] = {65.0, 240.0, 90.0, 400.0, 130.0, 70.0, 310.0};
  for (uint32_t k = 0; k < nj; ++k) fj[k] = jumps[k % 7];
  ASSERT_EQ(getfvoicing(x.data(), 6000, kFs, 53, 0, nj, fj.data(), refj.data()), 0);
  ASSERT_EQ(getfvoicingfast(x.data(), 6000, kFs, 53, 0, nj, fj.data(), fastj.data()), 0);
  for (uint32_t k = 0; k < nj; ++k) {
    ASSERT_EQ(refj[k] == 0.0, fastj[k] == 0.0) << k;
    ASSERT_NEAR(fastj[k], refj[k], 1e-9 * refj[k]) << "jump frame " << k;
  }
}

TEST(FvWarp, ClampsEndsAndStretchesLowFrequencies) {
  // alpha 0 leaves everything as it is; otherwise clamped to [0, fs/2], NaN stays NaN.
  for (double alpha : {0.0, 0.42}) {
    std::vector<double> v = {-50.0, 0.0, 4000.0, 8000.0, 9000.0, kNaN};
    ASSERT_EQ(fvoicingwarp(6, v.data(), kFs, alpha), 0);
    const double lo = alpha == 0.0 ? -50.0 : 0.0, hi = alpha == 0.0 ? 9000.0 : 8000.0;
    EXPECT_EQ((std::vector<double>{v[0], v[1], v[3], v[4]}), (std::vector<double>{lo, 0, 8000, hi}));
    EXPECT_NEAR(v[2], alpha == 0.0 ? 4000.0 : 6024.3, 1.0);  // atan2(0.8236, -0.84) * 8000 / pi
    EXPECT_TRUE(std::isnan(v[5]));
  }
  double v[3] = {};
  EXPECT_EQ(fvoicingwarp(3, nullptr, kFs, 0.42), -1);
  EXPECT_EQ(fvoicingwarp(3, v, -1.0, 0.42), -1);
}

}  // namespace
}  // namespace brisvane
