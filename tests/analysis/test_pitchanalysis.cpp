// Pitch tracker: derived settings, candidate rules on constructed autocorrelations, the path
// search on constructed records, degenerate signals and arguments, the 2x upsampler and the
// log-f0 conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "analysis/noiseanalysis.h"
#include "analysis/pitchanalysis.h"
#include "io/fdoubleio.h"

namespace brisvane {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Pulse train of period T0 samples through a decaying two-pole resonance (a crude vowel).
std::vector<double> pulsetrain(size_t len, double fs, double f0, double amp) {
  std::vector<double> e(len, 0.0);
  for (double t = 0.0; t < static_cast<double>(len); t += fs / f0) e[static_cast<size_t>(t)] = 1.0;
  std::vector<double> y(len, 0.0);
  const double r = 0.97, a1 = 2.0 * r * std::cos(6.283185307179586 * 700.0 / fs), a2 = -r * r;
  for (size_t i = 0; i < len; ++i) {
    y[i] = e[i] + (i >= 1 ? a1 * y[i - 1] : 0.0) + (i >= 2 ? a2 * y[i - 2] : 0.0);
  }
  double peak = 0.0;
  for (double v : y) peak = std::max(peak, std::fabs(v));
  for (double& v : y) v *= amp / peak;
  return y;
}

// W, H, N, P, lags (nominal and used), mean and peak half-widths, 100 * R.
std::vector<int64_t> settingsof(double fs, uint32_t S, double f0min, double f0max) {
  pitchsettings st;
  EXPECT_EQ(getpitchsettings(fs, S, f0min, f0max, &st), 0);
  return {st.W, st.H, st.N, st.P, st.lmin, st.lmax, st.lagfirst, st.laglast,
          st.meanhalf, st.peakhalf, static_cast<int64_t>(100 * st.R)};
}

TEST(PitchSettings, DerivedSettingsCorrectionsAndClamps) {
  using V = std::vector<int64_t>;
  EXPECT_EQ(settingsof(16000, 80, 60, 500),
            (V{801, 400, 1024, 135, 32, 266, 32, 266, 270, 135, 200}));
  // Upsampled by 2: lengths about double, the time-step factor stays; a 10 ms shift gives R = 1.
  EXPECT_EQ(settingsof(32000, 160, 60, 500),
            (V{1601, 800, 2048, 267, 64, 533, 64, 533, 534, 267, 200}));
  EXPECT_EQ(settingsof(16000, 160, 60, 500).back(), 100);
  // f0min not above 0 (or NaN) -> 60 Hz; then f0max not above f0min (or NaN) -> 500 Hz.
  pitchsettings st;
  for (double bad : {0.0, -5.0, kNaN}) {
    ASSERT_EQ(getpitchsettings(16000.0, 80, bad, bad, &st), 0);
    EXPECT_EQ(st.f0min, 60.0);
    EXPECT_EQ(st.f0max, 500.0);
  }
  // f0min above 500 Hz with f0max not above it: f0max becomes 500, the lag range is empty.
  ASSERT_EQ(getpitchsettings(16000.0, 80, 600.0, 550.0, &st), 0);
  EXPECT_EQ(st.f0max, 500.0);
  EXPECT_GT(st.lagfirst, st.laglast);
  // Far above fs/7 the spans are kept inside the window.
  for (double f0min : {2000.0, 2500.0, 4000.0, 7000.0, 16000.0, 1e300, kInf}) {
    ASSERT_EQ(getpitchsettings(16000.0, 80, f0min, kInf, &st), 0);
    EXPECT_GE(st.lagfirst, 1);
    EXPECT_LE(st.laglast + 1, static_cast<int64_t>(st.H) - 1);
    EXPECT_LE(st.meanhalf, st.H);
    EXPECT_LE(st.peakhalf, st.H);
  }
  // A vanishing f0min cannot ask for an unbounded window.
  ASSERT_EQ(getpitchsettings(16000.0, 80, 1e-300, 500.0, &st), 0);
  EXPECT_LE(st.N, 1u << 20);
  for (double fs : {0.0, kNaN, kInf}) EXPECT_EQ(getpitchsettings(fs, 80, 60.0, 500.0, &st), -1);
  EXPECT_EQ(getpitchsettings(16000.0, 0, 60.0, 500.0, &st), -1);
}

// Candidate search on a constructed normalised autocorrelation (fs 16000, f0min 60, lags 32..266).
struct Candidates {
  std::vector<double> rho = std::vector<double>(400, 0.0);
  double freq[kPitchSlots] = {};
  double strength[kPitchSlots] = {};
  Candidates(std::initializer_list<std::pair<int, double>> peaks = {}) {
    for (const auto& [l, h] : peaks) rho[l] = h;
  }
  void run() {
    freq[5] = 0.0;
    strength[5] = 1.5;
    pitchcandidates(rho.data(), 32, 266, 16000.0, 60.0, freq, strength);
    // The fast search (four lags per test, the last three one by one) fills the same slots.
    double ffreq[kPitchSlots] = {};
    double fstrength[kPitchSlots] = {};
    pitchcandidatesfast(rho.data(), 32, 266, 16000.0, 60.0, ffreq, fstrength);
    EXPECT_EQ(std::memcmp(freq, ffreq, 5 * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(strength, fstrength, 5 * sizeof(double)), 0);
  }
  int count() const {
    int c = 0;
    for (int j = 0; j < 5; ++j) c += freq[j] != 0.0;
    return c;
  }
};

TEST(PitchCandidates, PeakShapeRules) {
  // Symmetric peak: exact lag, strength is the height (ranking term removed again).
  Candidates c{{99, 0.5}, {100, 0.8}, {101, 0.5}};
  c.run();
  ASSERT_EQ(c.count(), 1);
  EXPECT_DOUBLE_EQ(c.freq[0], 160.0);
  EXPECT_NEAR(c.strength[0], 0.8, 1e-12);
  EXPECT_EQ(c.strength[5], 1.5);  // the unvoiced slot is not touched

  // Plateau and threshold: neither two equal values nor a peak of exactly 0.225 count.
  c = Candidates{{100, 0.7}, {101, 0.7}, {150, 0.225}, {200, 0.2251}};
  c.run();
  ASSERT_EQ(c.count(), 1);
  EXPECT_DOUBLE_EQ(c.freq[0], 80.0);

  // A height above 1 enters as its reciprocal.
  c = Candidates{{79, 0.6}, {80, 1.25}, {81, 0.6}};
  c.run();
  EXPECT_DOUBLE_EQ(c.freq[0], 200.0);
  EXPECT_NEAR(c.strength[0], 0.8, 1e-12);

  // Vertices beyond the range ends are pulled back with the raw height; inside ones are kept.
  c = Candidates{{31, 0.7}, {32, 0.8}, {33, 0.1}, {265, 0.7}, {266, 0.8}, {267, 0.1}};
  c.run();
  ASSERT_EQ(c.count(), 2);
  EXPECT_DOUBLE_EQ(c.freq[0], 500.0);
  EXPECT_NEAR(c.strength[0], 0.8, 1e-12);
  EXPECT_NEAR(c.freq[1], 16000.0 / 265.625, 1e-9);
  EXPECT_GT(c.strength[1], 0.8);
  c = Candidates{{31, 0.1}, {32, 0.8}, {33, 0.7}, {265, 0.1}, {266, 0.8}, {267, 0.7}};
  c.run();
  ASSERT_EQ(c.count(), 2);
  EXPECT_GT(c.freq[0], 16000.0 / 32.5);
  EXPECT_LT(c.freq[0], 500.0);
  EXPECT_DOUBLE_EQ(c.freq[1], 16000.0 / 266.0);
  EXPECT_NEAR(c.strength[1], 0.8, 1e-12);
}

// Ranking strength of a symmetric peak of height h at lag l (fs 16000, f0min 60).
double rankof(double h, int l) {
  return h + (0.01 * std::log(60.0 * (l / 16000.0))) / (-std::log(2.0));
}

TEST(PitchCandidates, FiveSlotsKeepTheStrongest) {
  // Six equal heights: the octave preference drops the longest lag.
  Candidates c{{40, 0.9}, {60, 0.9}, {80, 0.9}, {100, 0.9}, {120, 0.9}, {140, 0.9}};
  c.run();
  ASSERT_EQ(c.count(), 5);
  for (int j = 0; j < 5; ++j) EXPECT_DOUBLE_EQ(c.freq[j], 16000.0 / (40 + 20 * j));

  // Slots 1 and 3 tie as weakest; a newcomer of equal ranking replaces slot 1 only, a
  // slightly weaker one is dropped.
  const double target = rankof(0.5, 60);
  auto tieheight = [&](int l) {  // height at lag l whose ranking equals target exactly
    double h = target - rankof(0.0, l);
    for (int it = 0; it < 64 && rankof(h, l) != target; ++it) {
      h = std::nextafter(h, rankof(h, l) < target ? 1.0 : 0.0);
    }
    return h;
  };
  const double h3 = tieheight(100), h5 = tieheight(200);
  ASSERT_EQ(rankof(h3, 100), target);
  ASSERT_EQ(rankof(h5, 200), target);
  c = Candidates{{40, 0.9}, {60, 0.5}, {80, 0.9}, {100, h3}, {120, 0.9}, {200, h5}};
  Candidates d = c;
  c.run();
  EXPECT_DOUBLE_EQ(c.freq[1], 80.0);  // 16000/200
  EXPECT_DOUBLE_EQ(c.freq[3], 160.0);
  while (rankof(d.rho[200], 200) >= target) d.rho[200] = std::nextafter(d.rho[200], 0.0);
  d.run();
  EXPECT_DOUBLE_EQ(d.freq[1], 16000.0 / 60.0);
  EXPECT_DOUBLE_EQ(d.freq[3], 160.0);
}

TEST(PitchPath, SingleFrameTakesTheStrongest) {
  const double freq[6] = {200.0, 100.0, 0, 0, 0, 0};
  const int32_t back[6] = {-1, -1, -1, -1, -1, -1};
  // Unvoiced strength 0.5 or 2.45; equal voiced strengths go to the lower slot.
  const struct { double c0, c1, c5, want; } cases[] = {
      {0.7, 0.9, 0.5, 100.0}, {0.7, 0.9, 2.45, 0.0}, {0.9, 0.9, 0.5, 200.0}};
  for (const auto& k : cases) {
    double cost[6] = {k.c0, k.c1, 0, 0, 0, k.c5};
    double out = -1.0;
    pitchpathstart(cost);
    pitchbacktrack(freq, back, cost, 1, &out);
    EXPECT_EQ(out, k.want) << k.c0 << " " << k.c5;
  }
}

TEST(PitchPath, OctaveAndVoicingCostsScaleWithTimeStep) {
  const double prevfreq[6] = {100.0, 0, 0, 0, 0, 0};
  const double prevcost[6] = {-0.9, 0, 0, 0, 0, -0.5};
  const double freq[6] = {200.0, 0, 0, 0, 0, 0};
  // R = 1: octave jump 0.35, voicing change 0.14; R = 2: 0.7 and 0.28 flip both predecessors.
  const struct { double R, cost0; int back0; double cost5; } cases[] = {
      {1.0, -1.35, 0, -1.36}, {2.0, -1.02, 5, -1.22}};
  for (const auto& k : cases) {
    double cost[6] = {0.8, 0, 0, 0, 0, 0.6};
    int32_t back[6] = {-1, -1, -1, -1, -1, -1};
    pitchpathstep(prevfreq, prevcost, freq, cost, back, k.R);
    EXPECT_NEAR(cost[0], k.cost0, 1e-12) << k.R;
    EXPECT_EQ(back[0], k.back0) << k.R;
    EXPECT_NEAR(cost[5], k.cost5, 1e-12) << k.R;
    EXPECT_EQ(back[5], 0) << k.R;
    EXPECT_EQ(back[1], -1);  // empty slots take no part
  }
  // Equal totals from an octave above and below: the lower previous slot wins.
  const double pf[2][6] = {{400.0, 100.0, 0, 0, 0, 0}, {100.0, 400.0, 0, 0, 0, 0}};
  for (const auto& p : pf) {
    const double pc[6] = {-0.8, -0.8, 0, 0, 0, 0.0};
    double cost[6] = {0.8, 0, 0, 0, 0, 0.5};
    int32_t back[6] = {-1, -1, -1, -1, -1, -1};
    pitchpathstep(p, pc, freq, cost, back, 2.0);
    EXPECT_EQ(back[0], 0);
    EXPECT_NEAR(cost[0], -0.9, 1e-12);
  }
}

TEST(PitchPath, BacktrackingFollowsTheCheapestPath) {
  // Frame 0 slightly prefers 200 Hz, but the following frames hold 100 Hz firmly: with R = 2
  // the octave jump (0.7) makes 100-100-100 the best path. Frame 3 has no voiced candidate.
  const uint32_t n = 4;
  double freq[n][6] = {{100.0, 200.0}, {100.0}, {100.0}, {}};
  double strength[n][6] = {{0.6, 0.62, 0, 0, 0, 0.45}, {0.9, 0, 0, 0, 0, 0.45},
                           {0.9, 0, 0, 0, 0, 0.45}, {0, 0, 0, 0, 0, 2.45}};
  int32_t back[n][6];
  for (auto& b : back) std::fill(b, b + 6, -1);
  pitchpathstart(strength[0]);
  for (uint32_t k = 1; k < n; ++k) {
    pitchpathstep(freq[k - 1], strength[k - 1], freq[k], strength[k], back[k], 2.0);
  }
  double out[n + 1];
  out[n] = 12345.0;
  pitchbacktrack(&freq[0][0], &back[0][0], strength[n - 1], n, out);
  EXPECT_EQ(std::vector<double>(out, out + n + 1),
            (std::vector<double>{100.0, 100.0, 100.0, 0.0, 12345.0}));
}

using Tracker = int (*)(const double*, uint32_t, double, uint32_t, uint32_t, uint32_t, double,
                        double, double*);
const Tracker kPlainTrackers[] = {getpitch, getpitchfast};

TEST(GetPitch, SilenceAndDegenerateSignals) {
  std::vector<double> x(16000, 0.0), f0(200);
  for (Tracker track : kPlainTrackers) {
    // n = 0: nothing touched, not even a null output.
    EXPECT_EQ(track(nullptr, 0, 16000.0, 80, 0, 0, 60.0, 500.0, nullptr), 0);
    // All-zero signal: no global peak, every frame unvoiced; nothing written past n.
    std::vector<double> out(51, -7.0);
    EXPECT_EQ(track(x.data(), 4000, 16000.0, 80, 0, 50, 60.0, 500.0, out.data()), 0);
    EXPECT_EQ(out, [] { std::vector<double> w(51, 0.0); w[50] = -7.0; return w; }());
  }
  // Voiced stretch between silences: silent frames stay unvoiced, the middle is voiced.
  const std::vector<double> v = pulsetrain(8000, 16000.0, 125.0, 0.5);
  std::copy(v.begin(), v.end(), x.begin() + 4000);
  ASSERT_EQ(getpitch(x.data(), 16000, 16000.0, 80, 0, 200, 60.0, 500.0, f0.data()), 0);
  for (uint32_t k = 0; k < 200; ++k) {
    if (k < 40 || k >= 160) { EXPECT_EQ(f0[k], 0.0) << k; }
    if (k >= 60 && k < 140) { EXPECT_NEAR(f0[k], 125.0, 1.25) << k; }
  }
  // Empty lag range (f0min above 500 Hz, f0max below it): unvoiced although periodic.
  for (Tracker track : kPlainTrackers) {
    ASSERT_EQ(track(x.data(), 16000, 16000.0, 80, 0, 200, 600.0, 550.0, f0.data()), 0);
    for (double f : f0) EXPECT_EQ(f, 0.0);
  }
  // Non-finite samples: a valid track (unvoiced around them), no failure.
  x[8000] = kNaN;
  x[9000] = kInf;
  ASSERT_EQ(getpitch(x.data(), 16000, 16000.0, 80, 0, 200, 60.0, 500.0, f0.data()), 0);
  for (double f : f0) EXPECT_TRUE(f == 0.0 || (f >= 60.0 && f <= 500.0)) << f;
}

TEST(GetPitch, ArgumentsOutsideTheUsualRangeStayInBounds) {
  const std::vector<double> x = pulsetrain(3200, 16000.0, 200.0, 0.5);
  std::vector<double> f0(40);
  // Frames centred far beyond the signal, also beyond 32 bits of sample position.
  ASSERT_EQ(getpitch(x.data(), 3200, 16000.0, 80, 4000000000u, 40, 60.0, 500.0, f0.data()), 0);
  for (double f : f0) EXPECT_EQ(f, 0.0);
  ASSERT_EQ(getpitch(x.data(), 3200, 16000.0, 2000000000u, 0, 40, 60.0, 500.0, f0.data()), 0);
  for (size_t k = 1; k < f0.size(); ++k) EXPECT_EQ(f0[k], 0.0);

  // Search ranges that would push the spans out of the window.
  for (double f0min : {2000.0, 3000.0, 7000.0, 16000.0, 1e300, kInf, kNaN, -1.0}) {
    for (double f0max : {f0min * 2.0, 20000.0, kInf, kNaN}) {
      ASSERT_EQ(getpitch(x.data(), 3200, 16000.0, 80, 0, 40, f0min, f0max, f0.data()), 0);
      for (double f : f0) EXPECT_TRUE(f == 0.0 || std::isfinite(f));
    }
  }
  // A very low f0min is raised so the window stays bounded; the short signal is still tracked.
  ASSERT_EQ(getpitch(x.data(), 3200, 16000.0, 80, 0, 1, 1e-300, 500.0, f0.data()), 0);

  // Invalid arguments: -1 and an all-unvoiced track.
  for (Tracker track : kPlainTrackers) {
    f0.assign(40, 1.0);
    EXPECT_EQ(track(x.data(), 3200, 0.0, 80, 0, 40, 60.0, 500.0, f0.data()), -1);
    EXPECT_EQ(f0, std::vector<double>(40, 0.0));
    EXPECT_EQ(track(x.data(), 3200, 16000.0, 0, 0, 40, 60.0, 500.0, f0.data()), -1);
    EXPECT_EQ(track(nullptr, 3200, 16000.0, 80, 0, 40, 60.0, 500.0, f0.data()), -1);
    EXPECT_EQ(track(x.data(), 3200, 16000.0, 80, 0, 40, 60.0, 500.0, nullptr), -1);
  }
  for (Tracker track : {getpitchhighres, getpitchhighresfast}) {
    EXPECT_EQ(track(nullptr, 3200, 16000.0, 80, 0, 40, 60.0, 500.0, f0.data()), -1);
  }
}

TEST(HighResolution, UpsamplerImpulseResponseAndTrack) {
  std::vector<double> x(300, 0.0);
  x[0] = 1.0;
  const std::vector<double> y = increaseresolution(x.data(), 300, 16000.0, 2);
  ASSERT_EQ(y.size(), 600u);
  std::vector<double> h(101);
  getlpwinfilter(100, 6400.0, 32000.0, h.data());
  for (int k = 0; k <= 50; ++k) EXPECT_DOUBLE_EQ(y[k], 2.0 * h[50 + k]) << k;
  for (int k = 51; k < 600; ++k) EXPECT_EQ(y[k], 0.0) << k;
  EXPECT_TRUE(increaseresolution(x.data(), 0, 16000.0, 2).empty());
  EXPECT_TRUE(increaseresolution(x.data(), 300, 16000.0, 0).empty());

  // One value per frame at the plain tracker's instants: the voicing onset lands on the same
  // frame, and the voiced values agree closely.
  std::vector<double> s(9600, 0.0);
  const std::vector<double> v = pulsetrain(6400, 16000.0, 180.0, 0.5);
  std::copy(v.begin(), v.end(), s.begin() + 3200);
  const uint32_t n = 120;
  std::vector<double> plain(n + 1, -3.0), high(n + 1, -3.0);
  ASSERT_EQ(getpitch(s.data(), 9600, 16000.0, 80, 0, n, 60.0, 500.0, plain.data()), 0);
  ASSERT_EQ(getpitchhighres(s.data(), 9600, 16000.0, 80, 0, n, 60.0, 500.0, high.data()), 0);
  EXPECT_EQ(high[n], -3.0);
  const auto onset = [](const std::vector<double>& t) {
    return std::find_if(t.begin(), t.end(), [](double f) { return f > 0.0; }) - t.begin();
  };
  EXPECT_NEAR(onset(high), onset(plain), 1);
  for (uint32_t k = 50; k < 110; ++k) {
    EXPECT_NEAR(high[k], 180.0, 0.9) << k;
    EXPECT_NEAR(high[k], plain[k], 1.8) << k;
  }
}

// The fast trackers against the documented ones: the same voicing and candidate in every
// frame (values equal to rounding), on voiced, noisy, silent, clipped and edge-of-signal
// material, with a NaN sample, for plain and upsampled tracking, other search ranges, shifts
// and offsets. The last stretch, bare negative pulses growing from faint to loud, has its
// local peaks below the mean only, and its voicing onset hangs on them.
TEST(FastPitch, SameTrackAsTheDocumentedTracker) {
  std::vector<double> x(32000, 0.0);
  const std::vector<double> low = pulsetrain(7000, 16000.0, 82.0, 0.6);
  const std::vector<double> high = pulsetrain(6000, 16000.0, 310.0, 0.3);
  std::copy(low.begin(), low.end(), x.begin() + 1000);
  std::copy(high.begin(), high.end(), x.begin() + 9000);
  uint32_t seed = 12345;
  for (size_t i = 15000; i < 24000; ++i) {  // noise, then a periodic stretch in noise
    seed = seed * 1103515245u + 12345u;
    x[i] = 0.2 * (static_cast<double>(seed >> 8) / 16777216.0 - 0.5);
    if (i >= 19000) x[i] += low[i - 19000];
  }
  x[12000] = 0.999;  // a clipped spike inside the high voice
  x[23700] = kNaN;    // a garbage sample: the frames around it carry no candidate
  for (size_t i = 24000; i < 32000; i += 100) x[i] = -0.005 - 0.2 * static_cast<double>(i - 24000) / 8000.0;
  struct Case { uint32_t S, offset; double f0min, f0max; bool highres; };
  for (const Case& c : {Case{80, 0, 60.0, 500.0, false}, Case{80, 0, 60.0, 500.0, true},
                        Case{160, 37, 40.0, 400.0, false}, Case{55, 3, 100.0, 800.0, false},
                        Case{80, 23000, 60.0, 500.0, true}}) {
    const uint32_t len = static_cast<uint32_t>(x.size());
    const uint32_t n = (len - 1) / c.S + 1;
    std::vector<double> ref(n), fast(n);
    const Tracker doc = c.highres ? getpitchhighres : getpitch;
    const Tracker quick = c.highres ? getpitchhighresfast : getpitchfast;
    ASSERT_EQ(doc(x.data(), len, 16000.0, c.S, c.offset, n, c.f0min, c.f0max, ref.data()), 0);
    ASSERT_EQ(quick(x.data(), len, 16000.0, c.S, c.offset, n, c.f0min, c.f0max, fast.data()), 0);
    int voiced = 0;
    for (uint32_t k = 0; k < n; ++k) {
      ASSERT_EQ(ref[k] == 0.0, fast[k] == 0.0) << "frame " << k << " S " << c.S;
      EXPECT_NEAR(fast[k], ref[k], 1e-12 * ref[k]) << "frame " << k << " S " << c.S;
      voiced += ref[k] > 0.0;
    }
    if (c.offset == 0) { EXPECT_GT(voiced, static_cast<int>(n / 4)) << c.S; }
  }
}

// Search ranges at the limits of the window (down to a 7-sample window and 8-point
// transforms): same tracks as the documented tracker.
TEST(FastPitch, SearchRangesAtTheWindowLimits) {
  const std::vector<double> x = pulsetrain(3200, 16000.0, 200.0, 0.5);
  for (double f0min : {2000.0, 16000.0, 20.0, 7000.0, 4000.0, 1000.0}) {
    std::vector<double> ref(40), fast(40);
    ASSERT_EQ(getpitch(x.data(), 3200, 16000.0, 80, 0, 40, f0min, 20000.0, ref.data()), 0);
    ASSERT_EQ(getpitchfast(x.data(), 3200, 16000.0, 80, 0, 40, f0min, 20000.0, fast.data()), 0);
    for (size_t k = 0; k < 40; ++k) EXPECT_NEAR(fast[k], ref[k], 1e-12 * ref[k]) << f0min;
  }
}

// The fast upsampler leaves out only exact zero products: the same bits as the documented
// one for every factor and length, also around non-finite and negative-zero samples.
TEST(FastPitch, UpsamplerIsBitIdentical) {
  uint32_t seed = 99;
  for (uint32_t b : {1u, 2u, 3u, 5u}) {
    for (uint32_t len : {1u, 7u, 60u, 1001u}) {
      std::vector<double> x(len);
      for (double& v : x) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<double>(seed >> 8) / 16777216.0 - 0.5;
      }
      if (len > 10) {
        x[3] = -0.0;
        x[len / 2] = kInf;
        x[len - 2] = kNaN;
      }
      const std::vector<double> ref = increaseresolution(x.data(), len, 16000.0, b);
      const std::vector<double> fast = increaseresolutionfast(x.data(), len, 16000.0, b);
      ASSERT_EQ(ref.size(), static_cast<size_t>(len) * b);
      ASSERT_EQ(fast.size(), ref.size());
      EXPECT_EQ(std::memcmp(ref.data(), fast.data(), ref.size() * sizeof(double)), 0) << b << " " << len;
    }
  }
  // Refusals: no signal, no samples, factor 0, or an output too large.
  std::vector<double> x(10, 0.5);
  EXPECT_TRUE(increaseresolutionfast(nullptr, 10, 16000.0, 2).empty());
  using P = std::pair<uint32_t, uint32_t>;
  for (auto [len, b] : {P{0, 2}, P{10, 0}, P{10, 85899346}, P{10, 500000000}}) {
    EXPECT_TRUE(increaseresolutionfast(x.data(), len, 16000.0, b).empty()) << len << " " << b;
  }
}

TEST(LogF0, ConversionsAndStreamImage) {
  // Unvoiced (0, negative, NaN) maps to -1e10; 1 Hz is voiced: ln 1 = 0.
  double v[6] = {0.0, 100.0, 0.0, -3.0, kNaN, 1.0};
  ASSERT_EQ(f02logf0(6, v), 0);
  EXPECT_EQ(std::vector<double>(v, v + 6),
            (std::vector<double>{-1e10, std::log(100.0), -1e10, -1e10, -1e10, 0.0}));

  // The stream image of an unvoiced frame is F9 02 15 D0; it reads back as 0 Hz.
  const std::string path =
      (std::filesystem::temp_directory_path() / "brisvane_logf0_test.lf0").string();
  ASSERT_EQ(fdoublewrite2(path.c_str(), v, 3), 3u);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char bytes[16] = {};
  const size_t got = std::fread(bytes, 1, sizeof bytes, f);
  std::fclose(f);
  ASSERT_EQ(got, 12u);
  EXPECT_EQ(std::vector<int>(bytes, bytes + 4), (std::vector<int>{0xF9, 0x02, 0x15, 0xD0}));
  std::vector<double> back;
  ASSERT_EQ(fdoubleread(path.c_str(), back), 3u);
  std::filesystem::remove(path);
  ASSERT_EQ(logf02f0(3, back.data()), 0);
  EXPECT_EQ(back[0], 0.0);
  EXPECT_NEAR(back[1], 100.0, 1e-4);
  EXPECT_EQ(back[2], 0.0);

  // Below -1e10 and NaN are unvoiced; exp(-9.9e9) underflows to 0.
  double u[5] = {-1e10, -2e10, kNaN, -9.9e9, std::log(250.0)};
  ASSERT_EQ(logf02f0(5, u), 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(u[i], 0.0) << i;
  EXPECT_NEAR(u[4], 250.0, 1e-12);

  EXPECT_EQ(f02logf0(3, nullptr), -1);
  EXPECT_EQ(logf02f0(3, nullptr), -1);
  EXPECT_EQ(f02logf0(0, nullptr), 0);
}

}  // namespace
}  // namespace brisvane
