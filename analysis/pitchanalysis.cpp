#include "analysis/pitchanalysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "analysis/noiseanalysis.h"
#include "dsp/dft.h"
#include "dsp/polynom.h"
#include "dsp/simd.h"
#include "dsp/windowing.h"

namespace brisvane {

namespace {

// Normalised autocorrelation a frame needs to count as clearly periodic.
constexpr double kVoicingThreshold = 0.45;
// Local-to-global peak ratio below which a frame counts as silent.
constexpr double kSilenceThreshold = 0.03;
// Preference for higher-frequency peaks when choosing which five peaks to keep, per octave.
constexpr double kOctaveCost = 0.01;
// Path costs per 10 ms of frame shift: an octave jump, and a change of voicing.
constexpr double kOctaveJumpCost = 0.35;
constexpr double kVoicingChangeCost = 0.14;
constexpr double kLargest = std::numeric_limits<double>::max();
constexpr double kDefaultF0min = 60.0;
constexpr double kDefaultF0max = 500.0;
// Longest lag fs/f0min allowed: keeps the window (3 lags) below 2^20 samples.
constexpr double kMaxLagSamples = 349524.0;
constexpr double kMaxFs = 1e9;
constexpr uint32_t kMaxUpsampling = 85899345;  // 50 * b must fit 32 bits

// Buffers of one tracker call, allocated once and shared by every frame.
struct pitchwork {
  std::vector<double> window;   // Hanning window, W samples
  std::vector<double> winacf;   // normalised window autocorrelation, lags 0..H-1
  std::vector<double> buf;      // N interleaved complex points
  std::vector<double> rho;      // normalised frame autocorrelation, lags 0..H-1
  std::vector<double> freq;     // 6 candidate frequencies per frame, all frames
  std::vector<int32_t> back;    // 6 back-pointers per frame, all frames
  double cost[2][kPitchSlots];  // strengths / accumulated costs of two consecutive frames
  // Fast path only (it pads winacf with ones and rho with zeros by 8 lags): tables of the
  // N-point real transform; a frame reaching beyond the signal (its W samples, zeros
  // outside); the window split into its even- and odd-numbered samples (M = N/2 each, zeros
  // from W on), matching the packing z[m] = x[2m] + j x[2m+1] of the half-size transform;
  // the packed frame, then its transform (M + 1 each).
  rfftplan plan;
  std::vector<double> frame;
  std::vector<double> weven;
  std::vector<double> wodd;
  std::vector<double> re;
  std::vector<double> im;
  std::vector<double> cosrev;      // cos(2 pi (M - k)/N), sin(2 pi (M - k)/N), k = 0 .. M/2
  std::vector<double> sinrev;
  // The cosine sum of the power spectrum: transform tables of M real points, cos and sin of
  // pi k/M (k = 0 .. M/2), the packing of y (real parts, then imaginary parts, M/2 + 4 each),
  // and F at lags 0 .. H + 7.
  rfftplan evenplan;
  std::vector<double> coshalf;
  std::vector<double> sinhalf;
  std::vector<double> zpack;
  std::vector<double> facf;
  std::vector<double> invwinacf;  // 1 / winacf, lags 0 .. H + 7
  // The packing into bit-reversed order: for slot p of the M-point transform (holding packed
  // point q = rev p), the frame indices of samples 2q and 2q + 1 (kept
  // below W), their window values, and all-ones masks where that sample lies inside the
  // window (all-zero beyond); for each value y[k] of the cosine sum's input, its place in
  // zpack: packed point k/2 (real part for even k, imaginary for odd), at its bit-reversed
  // slot for the four-lane copy, in natural order for the two-lane one.
  std::vector<uint32_t> idxpair;  // first sample of the pair loaded for each packed point
  size_t lonepoint = 0;           // the point of a last sample without its pair (M: none)
  std::vector<double> wevenrev;
  std::vector<double> woddrev;
  std::vector<long long> maskeven;
  std::vector<long long> maskodd;
  std::vector<uint32_t> yslot;
};

bool takespart(const double* freq, int slot) {
  return slot == kPitchSlots - 1 || freq[slot] != 0.0;
}

double globalpeak(const double* x, uint64_t len) {
  double g = 0.0;
  for (uint64_t i = 0; i < len; ++i) {
    const double a = std::fabs(x[i]);
    if (a > g) g = a;
  }
  return g;
}

// globalpeak with the same result, four lanes in four independent chains: a maximum is exact
// in any order, every |x| is a non-negative number or NaN (never -0), and NaNs lose every
// comparison in both forms, so the lanes' maxima combine to the same value bit for bit.
BRISVANE_KERNEL double globalpeakbody(const double* x, uint64_t len) {
  v4d g0 = splat4(0.0), g1 = g0, g2 = g0, g3 = g0;
  const v4d zero = splat4(0.0);
  uint64_t i = 0;
  for (; i + 16 <= len; i += 16) {
    v4d a0 = load4(x + i), a1 = load4(x + i + 4), a2 = load4(x + i + 8);
    v4d a3 = load4(x + i + 12);
    a0 = (a0 < zero) ? -a0 : a0;
    a1 = (a1 < zero) ? -a1 : a1;
    a2 = (a2 < zero) ? -a2 : a2;
    a3 = (a3 < zero) ? -a3 : a3;
    g0 = (a0 > g0) ? a0 : g0;
    g1 = (a1 > g1) ? a1 : g1;
    g2 = (a2 > g2) ? a2 : g2;
    g3 = (a3 > g3) ? a3 : g3;
  }
  double g = 0.0;
  for (int lane = 0; lane < 4; ++lane) {
    if (g0[lane] > g) g = g0[lane];
    if (g1[lane] > g) g = g1[lane];
    if (g2[lane] > g) g = g2[lane];
    if (g3[lane] > g) g = g3[lane];
  }
  for (; i < len; ++i) {
    const double a = std::fabs(x[i]);
    if (a > g) g = a;
  }
  return g;
}
BRISVANE_AVX2 double globalpeakavx2(const double* x, uint64_t len) {
  return globalpeakbody(x, len);
}
double globalpeakplain(const double* x, uint64_t len) { return globalpeakbody(x, len); }

// Window and its autocorrelation normalised to lag 0, kept for lags 0..H-1.
void preparewindow(const pitchsettings& st, pitchwork& wk) {
  winhanning(wk.window.data(), st.W, 0);
  std::fill(wk.buf.begin(), wk.buf.end(), 0.0);
  for (uint32_t j = 0; j < st.W; ++j) wk.buf[2 * static_cast<size_t>(j)] = wk.window[j];
  autocorrelation(static_cast<int32_t>(st.N), wk.buf.data());
  const double r0 = wk.buf[0];
  for (uint32_t l = 0; l < st.H; ++l) wk.winacf[l] = wk.buf[2 * static_cast<size_t>(l)] / r0;
}

// Copies the W samples around centre c into buf[0], buf[stride], ... (zeros outside the
// signal). The interleaved complex buffer of the documented path has stride 2 (real parts);
// the real frame of the fast path stride 1.
void extractsamples(const double* x, uint64_t len, uint64_t c, const pitchsettings& st,
                    double* buf, size_t stride) {
  // A centre at or beyond len + H leaves the whole window past the signal; below that the
  // signed arithmetic stays far from overflow (len < 2^33, H < 2^20).
  if (c >= len + st.H) {
    for (uint32_t j = 0; j < st.W; ++j) buf[stride * j] = 0.0;
    return;
  }
  const int64_t first = static_cast<int64_t>(c) - static_cast<int64_t>(st.H);
  const int64_t slen = static_cast<int64_t>(len);
  for (uint32_t j = 0; j < st.W; ++j) {
    const int64_t idx = first + static_cast<int64_t>(j);
    buf[stride * j] = (idx >= 0 && idx < slen) ? x[idx] : 0.0;
  }
}

// The W samples around centre c in the real parts of the complex buffer; zeros from W on and
// in every imaginary part.
void extractframe(const double* x, uint64_t len, uint64_t c, const pitchsettings& st,
                  double* buf) {
  const size_t total = 2 * static_cast<size_t>(st.N);
  for (size_t i = 0; i < total; ++i) buf[i] = 0.0;
  extractsamples(x, len, c, st, buf, 2);
}

// Removes the frame mean, measures the local peak, windows the frame (samples at buf[0],
// buf[stride], ...). Returns the local peak |x - mean| over the core H +- peakhalf.
double centreandwindow(const pitchsettings& st, const double* window, double* buf,
                       size_t stride) {
  double sum = 0.0;
  for (uint32_t j = st.H - st.meanhalf; j <= st.H + st.meanhalf; ++j) {
    sum += buf[stride * j];
  }
  const double m = sum / static_cast<double>(2 * st.meanhalf + 1);
  double peak = 0.0;
  for (uint32_t j = st.H - st.peakhalf; j <= st.H + st.peakhalf; ++j) {
    const double a = std::fabs(buf[stride * j] - m);
    if (a > peak) peak = a;
  }
  for (uint32_t j = 0; j < st.W; ++j) {
    double& v = buf[stride * j];
    v = (v - m) * window[j];
  }
  return peak;
}

// Strength of the unvoiced candidate from the local-to-global peak ratio: 2.45 for a silent
// frame, falling linearly to the floor 0.45 at a ratio of 2Q/(1+V) (about 0.041).
double unvoicedstrength(double localpeak, double globalpk) {
  // An all-zero signal has no global peak: its frames count as silent.
  double q = (globalpk > 0.0) ? localpeak / globalpk : 0.0;
  if (q > 1.0) q = 1.0;
  const double u = 2.0 - q / (kSilenceThreshold / (1.0 + kVoicingThreshold));
  // Written so that a NaN (non-finite samples) lands on the floor instead of propagating
  // into the path costs.
  return (u > 0.0 ? u : 0.0) + kVoicingThreshold;
}

// Normalised autocorrelation rho[l] = (r[l] / r[0]) / winacf[l] over the lags the candidate
// search reads, from r[l] at acf[stride * l]; values not above 0 (and the 0/0 of a silent
// frame) become 0.
void normaliseacf(const double* acf, size_t stride, const pitchsettings& st, pitchwork& wk) {
  const double r0 = acf[0];
  for (int64_t l = st.lagfirst - 1; l <= st.laglast + 1; ++l) {
    const double v = (acf[stride * static_cast<size_t>(l)] / r0) / wk.winacf[l];
    wk.rho[l] = (v > 0.0) ? v : 0.0;
  }
}

// Candidate record of frame k: frequencies into freq (6), strengths into strength (6).
void analyseframe(const double* x, uint64_t len, uint64_t c, double globalpk,
                  const pitchsettings& st, pitchwork& wk, double* freq, double* strength) {
  double* buf = wk.buf.data();
  extractframe(x, len, c, st, buf);
  const double localpeak = centreandwindow(st, wk.window.data(), buf, 2);
  autocorrelation(static_cast<int32_t>(st.N), buf);
  normaliseacf(buf, 2, st, wk);
  pitchcandidates(wk.rho.data(), st.lagfirst, st.laglast, st.fs, st.f0min, freq, strength);
  freq[kPitchSlots - 1] = 0.0;
  strength[kPitchSlots - 1] = unvoicedstrength(localpeak, globalpk);
}

// Lanes (l0, l1, l2, l3) = (p[3], p[2], p[1], p[0]). A lane gather written element by
// element: both compiled copies turn it into plain moves (a whole-vector shuffle would go
// through memory in the copy without AVX).
BRISVANE_KERNEL v4d loadrev4(const double* p) { return v4d{p[3], p[2], p[1], p[0]}; }

// Power spectrum bins k and j = M - k of the N = 2M real frame from the half-size transform
// Z of its packing z[m] = x[2m] + j x[2m+1] (a, b: Z[k]; c, d: Z[j]; ck, sk, cj, sj: cos and
// sin of 2 pi k/N and 2 pi j/N): X[k] = Ze[k] + e^(-j 2 pi k/N) Zo[k] with
// Ze = (Z[k] + conj Z[j]) / 2, Zo = (Z[k] - conj Z[j]) / 2j; P = |X|^2. Written once for
// scalars and 4-lane vectors (the same IEEE operations per lane).
template <class T>
BRISVANE_KERNEL void powerpair(T a, T b, T c, T d, T ck, T sk, T cj, T sj, T& pk, T& pj) {
  const T er = (a + c) * 0.5;
  const T ei = (b - d) * 0.5;
  const T orr = (b + d) * 0.5;
  const T oi = (c - a) * 0.5;
  const T xkr = er + orr * ck + oi * sk;
  const T xki = ei + oi * ck - orr * sk;
  const T xjr = er + orr * cj - oi * sj;
  const T xji = -ei - oi * cj - orr * sj;
  pk = xkr * xkr + xki * xki;
  pj = xjr * xjr + xji * xji;
}

// The autocorrelation from the power spectrum P[0..M] (real and even) as a cosine sum,
//   F[l] = (P[0] + (-1)^l P[M]) / 2 + sum_{k=1}^{M-1} P[k] cos(pi k l / M)   (= r[l] / 2),
// through one real transform of M points: with s_k = sin(pi k/M), the sequence
//   y[k] = (P[k] + P[M-k]) / 2 - s_k (P[k] - P[M-k]),  k = 0 .. M-1,
// has the transform Y[m] = sum_k y[k] e^(-j 2 pi k m/M) with Re Y[m] = F[2m] and
// Im Y[m] = F[2m-1] - F[2m+1], so the odd lags follow from
//   F[1] = (P[0] - P[M]) / 2 + sum_{k=1}^{M/2-1} (P[k] - P[M-k]) cos(pi k/M)
// by F[2m+1] = F[2m-1] - Im Y[m]. Pair k, M - k of the first step (p, q: P[k], P[M-k]);
// returns y[k], y[M-k] and the term of F[1].
template <class T>
BRISVANE_KERNEL void evenpair(T p, T q, T ck, T sk, T& yk, T& ym, T& f1) {
  const T half = (p + q) * 0.5;
  const T dif = p - q;
  yk = half - sk * dif;
  ym = half + sk * dif;
  f1 = dif * ck;
}

// Bin m of the real transform of M points from the transform Z of its packing in L = M/2
// complex points (a, b: Z[m]; c, d: Z[L-m]; cm, sm: cos and sin of 2 pi m/M), as powerpair.
template <class T>
BRISVANE_KERNEL void realbin(T a, T b, T c, T d, T cm, T sm, T& yr, T& yi) {
  const T er = (a + c) * 0.5;
  const T ei = (b - d) * 0.5;
  const T orr = (b + d) * 0.5;
  const T oi = (c - a) * 0.5;
  yr = er + orr * cm + oi * sm;
  yi = ei + oi * cm - orr * sm;
}


// Four 64-bit lane masks from memory.
BRISVANE_KERNEL v4i load4i(const long long* p) {
  v4i v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Centring, windowing and packing of a frame into bit-reversed slots: each packed point
// takes the sample pair 2q, 2q + 1 with one load (indices read two at a time); pairs of
// points q and q + 2, q + 1 and q + 3 share a register, so even and odd samples separate
// within lanes. Masked: points beyond the frame become exact zeros by their lane masks.
// Unmasked: they are left as the products, and the result tells whether any packed value is
// a NaN (then the masked form must run).
template <bool Masked>
BRISVANE_KERNEL bool packreversed(const double* fr, size_t M, const uint32_t* ip, const double* we,
                                  const double* wo, const long long* ke, const long long* ko, v4d mv,
                                  double* re, double* im) {
  v4d ce = splat4(0.0), co = ce;
  for (size_t q = 0; q + 4 <= M; q += 4) {
    unsigned long long i01, i23;
    std::memcpy(&i01, ip + q, sizeof i01);
    std::memcpy(&i23, ip + q + 2, sizeof i23);
    const auto i0 = static_cast<uint32_t>(i01), i1 = static_cast<uint32_t>(i01 >> 32);
    const auto i2 = static_cast<uint32_t>(i23), i3 = static_cast<uint32_t>(i23 >> 32);
    const v4d a = __builtin_shufflevector(load2(fr + i0), load2(fr + i2), 0, 1, 2, 3);
    const v4d b = __builtin_shufflevector(load2(fr + i1), load2(fr + i3), 0, 1, 2, 3);
    const v4d xe = __builtin_shufflevector(a, b, 0, 4, 2, 6);
    const v4d xo = __builtin_shufflevector(a, b, 1, 5, 3, 7);
    v4d ve = (xe - mv) * load4(we + q);
    v4d vo = (xo - mv) * load4(wo + q);
    if (Masked) {
      ve = (v4d)((v4i)ve & load4i(ke + q));
      vo = (v4d)((v4i)vo & load4i(ko + q));
    } else {
      ce += ve;
      co += vo;
    }
    store4(re + q, ve);
    store4(im + q, vo);
  }
  const v4d c = ce + co;
  return !((c[0] == c[0]) && (c[1] == c[1]) && (c[2] == c[2]) && (c[3] == c[3]));
}

// Autocorrelation of one frame by the fast transforms, then its normalisation; returns the
// local peak. fr holds the W samples around the centre (only those are read). The frame is
// centred and windowed straight into the packed halves (even samples into re, odd ones into
// im) and transformed in M = N/2 complex points; its power spectrum P (N bins, real and
// even) goes straight into the cosine sum F (see evenpair), whose value at lag l is half the
// circular autocorrelation of the zero-padded N-point frame. Only lags 0 and
// lagfirst - 1 .. laglast + 1 are formed and normalised into rho. Reversed: both transforms'
// inputs are written in bit-reversed order and transformed without the exchange pass (the
// four-lane copy); otherwise in natural order through the library's transform, whose
// two-lane kernel does better there. The butterflies are the same, so are the bytes.
template <bool Reversed>
BRISVANE_KERNEL double frameacfbody(const double* fr, const pitchsettings& st,
                                    pitchwork& wk) {
  const size_t M = st.N / 2;
  double* re = wk.re.data();
  double* im = wk.im.data();
  // Mean over H +- meanhalf: two 4-lane partial sums in a fixed order, then the tail. In the
  // same pass, independent of the mean, the largest and smallest samples over H +- peakhalf
  // (exact in any order; NaNs lose every comparison and are ignored).
  const size_t mfirst = st.H - st.meanhalf;
  const size_t mcount = 2 * static_cast<size_t>(st.meanhalf) + 1;
  const size_t pfirst = st.H - st.peakhalf;
  const size_t pcount = 2 * static_cast<size_t>(st.peakhalf) + 1;
  constexpr double inf = std::numeric_limits<double>::infinity();
  v4d s0 = splat4(0.0);
  v4d s1 = splat4(0.0);
  v4d hi0 = splat4(-inf), hi1 = hi0;
  v4d lo0 = splat4(inf), lo1 = lo0;
  size_t i = 0;
  size_t p = 0;
  for (; i + 8 <= mcount && p + 8 <= pcount; i += 8, p += 8) {
    s0 += load4(fr + mfirst + i);
    s1 += load4(fr + mfirst + i + 4);
    const v4d a = load4(fr + pfirst + p);
    const v4d b = load4(fr + pfirst + p + 4);
    hi0 = (a > hi0) ? a : hi0;
    hi1 = (b > hi1) ? b : hi1;
    lo0 = (a < lo0) ? a : lo0;
    lo1 = (b < lo1) ? b : lo1;
  }
  for (; i + 8 <= mcount; i += 8) {
    s0 += load4(fr + mfirst + i);
    s1 += load4(fr + mfirst + i + 4);
  }
  for (; p + 4 <= pcount; p += 4) {
    const v4d a = load4(fr + pfirst + p);
    hi0 = (a > hi0) ? a : hi0;
    lo0 = (a < lo0) ? a : lo0;
  }
  const v4d s01 = s0 + s1;
  double sum = (s01[0] + s01[1]) + (s01[2] + s01[3]);
  for (; i < mcount; ++i) sum += fr[mfirst + i];
  const double m = sum / static_cast<double>(mcount);
  const v4d mv = splat4(m);
  double top = -inf, bottom = inf;
  for (int lane = 0; lane < 4; ++lane) {
    if (hi0[lane] > top) top = hi0[lane];
    if (hi1[lane] > top) top = hi1[lane];
    if (lo0[lane] < bottom) bottom = lo0[lane];
    if (lo1[lane] < bottom) bottom = lo1[lane];
  }
  for (; p < pcount; ++p) {
    if (fr[pfirst + p] > top) top = fr[pfirst + p];
    if (fr[pfirst + p] < bottom) bottom = fr[pfirst + p];
  }
  // Local peak: the largest |x - m| (from 0 up, NaNs ignored). Rounding is monotonic, so over
  // the samples above the mean the largest x - m is that of the largest sample, and below it
  // the largest m - x (= |x - m| exactly) that of the smallest; a difference of the wrong sign
  // or a NaN (a non-finite mean, infinities on both sides) fails the test, as every one of
  // its terms would.
  double peak = 0.0;
  const double up = top - m;
  const double down = m - bottom;
  if (up > peak) peak = up;
  if (down > peak) peak = down;
  // Centre, window, split into even and odd samples, each packed point q placed at its
  // bit-reversed slot; samples from W on count as zeros.
  const double* we = wk.wevenrev.data();
  const double* wo = wk.woddrev.data();
  const uint32_t* ip = wk.idxpair.data();
  const long long* ke = wk.maskeven.data();
  const long long* ko = wk.maskodd.data();
  if (Reversed) {
    // First without the masks: a point beyond the frame then holds (x - m) * 0 for the pair
    // it loaded, which is a zero (of either sign: the powers square it away) unless that x
    // or m is not finite. Sums of all packed values reveal any NaN so made (or already
    // there); the frame is then packed again with the masks.
    if (packreversed<false>(fr, M, ip, we, wo, ke, ko, mv, re, im)) {
      packreversed<true>(fr, M, ip, we, wo, ke, ko, mv, re, im);
    }
    // An odd W leaves sample W - 1 without its pair: its point was loaded from a pair inside
    // the frame and is set here.
    if (wk.lonepoint < M) re[wk.lonepoint] = (fr[st.W - 1] - m) * we[wk.lonepoint];
    dofftrfastreversed(wk.plan.half, re, im);
  } else {
    const double* wen = wk.weven.data();
    const double* won = wk.wodd.data();
    size_t q = 0;
    for (; 2 * q + 8 <= st.W; q += 4) {
      store4(re + q, (v4d{fr[2 * q], fr[2 * q + 2], fr[2 * q + 4], fr[2 * q + 6]} - mv) *
                         load4(wen + q));
      store4(im + q, (v4d{fr[2 * q + 1], fr[2 * q + 3], fr[2 * q + 5], fr[2 * q + 7]} - mv) *
                         load4(won + q));
    }
    for (; 2 * q < st.W; ++q) {
      re[q] = (fr[2 * q] - m) * wen[q];
      im[q] = (2 * q + 1 < st.W) ? (fr[2 * q + 1] - m) * won[q] : 0.0;
    }
    for (; q < M; ++q) {
      re[q] = 0.0;
      im[q] = 0.0;
    }
    dofftrfast(wk.plan.half, re, im, 1);
  }
  const double* cs = wk.plan.cosk.data();
  const double* sn = wk.plan.sink.data();
  const double* csr = wk.cosrev.data();
  const double* snr = wk.sinrev.data();
  // Bins 0 and M (real), then the pairs k, M - k, then bin M/2 (e^(-j pi/2) = -j exactly).
  const double x0 = re[0] + im[0];
  const double xm = re[0] - im[0];
  const double p0 = x0 * x0;
  const double pm = xm * xm;
  const double hr = re[M / 2];
  const double hi = im[M / 2];
  const double ph = hr * hr + hi * hi;
  // Power spectrum bins k, M - k and at once the pair k, M - k of y and the term of F[1]; each
  // y[k] goes straight to its place in the packing of the half-length transform.
  double* zp = wk.zpack.data();
  const uint32_t* ys = wk.yslot.data();
  const double* ch = wk.coshalf.data();
  const double* sh = wk.sinhalf.data();
  v4d f1v = splat4(0.0);
  size_t k = 1;
  for (; k + 4 <= M / 2; k += 4) {
    const size_t j = M - k - 3;  // lanes of the j block run backwards
    v4d pk, pj, yk, ym, f1;
    powerpair<v4d>(load4(re + k), load4(im + k), loadrev4(re + j), loadrev4(im + j),
                   load4(cs + k), load4(sn + k), load4(csr + k), load4(snr + k), pk, pj);
    evenpair<v4d>(pk, pj, load4(ch + k), load4(sh + k), yk, ym, f1);
    for (int t = 0; t < 4; ++t) {
      zp[ys[k + t]] = yk[t];
      zp[ys[j + 3 - t]] = ym[t];
    }
    f1v += f1;
  }
  double f1 = (f1v[0] + f1v[1]) + (f1v[2] + f1v[3]);
  for (; 2 * k < M; ++k) {
    const size_t j = M - k;
    double pk, pj, yk, ym, t;
    powerpair<double>(re[k], im[k], re[j], im[j], cs[k], sn[k], cs[j], sn[j], pk, pj);
    evenpair<double>(pk, pj, ch[k], sh[k], yk, ym, t);
    zp[ys[k]] = yk;
    zp[ys[j]] = ym;
    f1 += t;
  }
  zp[ys[0]] = (p0 + pm) * 0.5;
  zp[ys[M / 2]] = ph;
  f1 += (p0 - pm) * 0.5;
  // Real transform of y: packed into L = M/2 complex points, transformed.
  const size_t L = M / 2;
  double* zr = zp;
  double* zi = zp + (L + 4);
  if (Reversed) {
    dofftrfastreversed(wk.evenplan.half, zr, zi);
  } else {
    dofftrfast(wk.evenplan.half, zr, zi, 1);
  }
  // Bins m = 1 .. mlast of Y: F at the even lags, and from Im Y the odd lags up to
  // 2 mlast + 1 (one beyond laglast + 1 when that is even: the overshoot of the
  // normalisation), by the recurrence in increasing m. Its chain of dependent subtractions
  // runs beside the next bins' arithmetic.
  const size_t lastlag = static_cast<size_t>(st.laglast + 1);
  const size_t mlast = lastlag / 2;  // <= L - 1: laglast + 1 < H < M
  const double* ecs = wk.evenplan.cosk.data();
  const double* esn = wk.evenplan.sink.data();
  double* F = wk.facf.data();
  F[0] = zr[0] + zi[0];
  double fodd = f1;
  F[1] = fodd;
  size_t b = 1;
  for (; b + 3 <= mlast; b += 4) {
    const size_t j = L - b - 3;
    v4d yr, yim;
    realbin<v4d>(load4(zr + b), load4(zi + b), loadrev4(zr + j), loadrev4(zi + j),
                 load4(ecs + b), load4(esn + b), yr, yim);
    for (int t = 0; t < 4; ++t) {
      F[2 * (b + t)] = yr[t];
      fodd = fodd - yim[t];
      F[2 * (b + t) + 1] = fodd;
    }
  }
  for (; b <= mlast; ++b) {
    double yr, yim;
    realbin<double>(zr[b], zi[b], zr[L - b], zi[L - b], ecs[b], esn[b], yr, yim);
    F[2 * b] = yr;
    fodd = fodd - yim;
    F[2 * b + 1] = fodd;
  }
  // rho[l] = (F[l] / F[0]) / winacf[l] in blocks of 4 lags (rho, F and the reciprocals of
  // winacf are padded for the overshoot), as products with reciprocals where 1 / F[0] is a
  // safe finite number (any frame of real speech: the divisions cost far more than the
  // rounding they save), by the divisions themselves for silent and vanishingly faint frames.
  const v4d zero = splat4(0.0);
  double* rho = wk.rho.data();
  const double* iw = wk.invwinacf.data();
  const size_t lfirst = static_cast<size_t>(st.lagfirst - 1);
  if (F[0] >= 1e-300 && F[0] <= 1e300) {
    const v4d f0inv = splat4(1.0 / F[0]);
    for (size_t l = lfirst; l <= lastlag; l += 4) {
      const v4d v = (load4(F + l) * f0inv) * load4(iw + l);
      store4(rho + l, (v > 0.0) ? v : zero);
    }
  } else {
    const v4d f0 = splat4(F[0]);
    const double* wa = wk.winacf.data();
    for (size_t l = lfirst; l <= lastlag; l += 4) {
      const v4d v = (load4(F + l) / f0) / load4(wa + l);
      store4(rho + l, (v > 0.0) ? v : zero);
    }
  }
  return peak;
}

BRISVANE_AVX2 double frameacfavx2(const double* fr, const pitchsettings& st, pitchwork& wk) {
  return frameacfbody<true>(fr, st, wk);
}
double frameacfplain(const double* fr, const pitchsettings& st, pitchwork& wk) {
  return frameacfbody<false>(fr, st, wk);
}

// The candidate record of analyseframe by the fast autocorrelation. A frame inside the
// signal is read in place; one reaching beyond either end is first copied with its zeros.
void analyseframefast(const double* x, uint64_t len, uint64_t c, double globalpk,
                      const pitchsettings& st, pitchwork& wk, double* freq, double* strength) {
  const double* fr = nullptr;
  if (c >= st.H && c - st.H + st.W <= len) {
    fr = x + (c - st.H);
  } else {
    extractsamples(x, len, c, st, wk.frame.data(), 1);
    fr = wk.frame.data();
  }
  const double localpeak =
      cpuhasavx2() ? frameacfavx2(fr, st, wk) : frameacfplain(fr, st, wk);
  pitchcandidatesfast(wk.rho.data(), st.lagfirst, st.laglast, st.fs, st.f0min, freq, strength);
  freq[kPitchSlots - 1] = 0.0;
  strength[kPitchSlots - 1] = unvoicedstrength(localpeak, globalpk);
}

// Position of the sample at which frame k is centred (64-bit: no wrap-around).
uint64_t framecentre(uint64_t offset, uint64_t S, uint32_t k) {
  return offset + static_cast<uint64_t>(k) * S;
}

// The tracker on 64-bit counts, so that the upsampled call cannot wrap around.
int pitchtrack(const double* x, uint64_t len, double fs, uint64_t S, uint64_t offset,
               uint32_t n, double f0min, double f0max, double* out, bool fast) {
  if (n == 0) return 0;
  if (out == nullptr) return -1;
  for (uint32_t k = 0; k < n; ++k) out[k] = 0.0;
  if (x == nullptr && len > 0) return -1;
  pitchsettings st;
  if (getpitchsettings(fs, S, f0min, f0max, &st) != 0) return -1;
  // No lag to search: every frame has only the unvoiced candidate.
  if (st.lagfirst > st.laglast) return 0;

  pitchwork wk;
  wk.window.assign(st.W, 0.0);
  wk.winacf.assign(st.H, 0.0);
  wk.buf.assign(2 * static_cast<size_t>(st.N), 0.0);
  wk.rho.assign(st.H, 0.0);
  wk.freq.assign(static_cast<size_t>(n) * kPitchSlots, 0.0);
  wk.back.assign(static_cast<size_t>(n) * kPitchSlots, -1);

  const double g = !fast           ? globalpeak(x, len)
                   : cpuhasavx2() ? globalpeakavx2(x, len)
                                  : globalpeakplain(x, len);
  preparewindow(st, wk);
  if (fast) {
    // N >= 8 here (the lag range is not empty, so H >= 3), so M = N/2 is a multiple of 4.
    const size_t M = st.N / 2;
    rfftplancreate(st.N, &wk.plan);
    wk.frame.assign(st.W, 0.0);
    wk.weven.assign(M, 0.0);
    wk.wodd.assign(M, 0.0);
    for (uint32_t j = 0; j < st.W; ++j) ((j & 1u) ? wk.wodd : wk.weven)[j / 2] = wk.window[j];
    wk.re.assign(M + 1, 0.0);
    wk.im.assign(M + 1, 0.0);
    wk.cosrev.assign(M / 2 + 1, 0.0);
    wk.sinrev.assign(M / 2 + 1, 0.0);
    for (size_t k = 0; k <= M / 2; ++k) {
      wk.cosrev[k] = wk.plan.cosk[M - k];
      wk.sinrev[k] = wk.plan.sink[M - k];
    }
    // The normalisation writes whole blocks of 8 lags: up to 7 beyond laglast + 1 < H (a
    // lag below N/2 - 1, so the packed reads stay inside re and im); ones keep the divisions
    // of the overshoot finite.
    wk.rho.assign(static_cast<size_t>(st.H) + 8, 0.0);
    wk.winacf.resize(static_cast<size_t>(st.H) + 8, 1.0);
    wk.invwinacf.assign(wk.winacf.size(), 1.0);
    for (uint32_t l = 0; l < st.H; ++l) wk.invwinacf[l] = 1.0 / wk.winacf[l];
    wk.facf.assign(static_cast<size_t>(st.H) + 8, 0.0);
    rfftplancreate(static_cast<uint32_t>(M), &wk.evenplan);
    wk.coshalf.assign(M / 2 + 1, 0.0);
    wk.sinhalf.assign(M / 2 + 1, 0.0);
    const double pi = 3.14159265358979323846;
    for (size_t k = 0; k <= M / 2; ++k) {
      wk.coshalf[k] = std::cos(pi * static_cast<double>(k) / static_cast<double>(M));
      wk.sinhalf[k] = std::sin(pi * static_cast<double>(k) / static_cast<double>(M));
    }
    wk.idxpair.assign(M, 0);
    wk.lonepoint = M;
    wk.wevenrev.assign(M, 0.0);
    wk.woddrev.assign(M, 0.0);
    wk.maskeven.assign(M, 0);
    wk.maskodd.assign(M, 0);
    for (size_t p = 0; p < M; ++p) {
      const size_t q = wk.plan.half.rev[p];
      const size_t last = st.W - 1;
      // First sample of the pair loaded for point p: a pair inside the frame (the point's
      // own when it is whole, else masked off or set afterwards).
      wk.idxpair[p] = static_cast<uint32_t>(2 * q + 1 <= last ? 2 * q : 0);
      if (2 * q == last) wk.lonepoint = p;
      wk.wevenrev[p] = wk.weven[q];
      wk.woddrev[p] = wk.wodd[q];
      wk.maskeven[p] = (2 * q < st.W) ? -1LL : 0LL;
      wk.maskodd[p] = (2 * q + 1 < st.W) ? -1LL : 0LL;
    }
    // y[k] is point k/2 of the packing: its slot p (rev p = k/2) in the bit-reversed order.
    const size_t L = M / 2;
    wk.yslot.assign(M, 0);
    const bool reversed = cpuhasavx2();
    for (size_t p = 0; p < L; ++p) {
      const size_t u = reversed ? wk.evenplan.half.rev[p] : p;
      wk.yslot[2 * u] = static_cast<uint32_t>(p);
      wk.yslot[2 * u + 1] = static_cast<uint32_t>(L + 4 + p);
    }
    wk.zpack.assign(2 * (L + 4), 0.0);
  }
  for (uint32_t k = 0; k < n; ++k) {
    double* freq = wk.freq.data() + static_cast<size_t>(k) * kPitchSlots;
    double* cost = wk.cost[k & 1u];
    if (fast) {
      analyseframefast(x, len, framecentre(offset, S, k), g, st, wk, freq, cost);
    } else {
      analyseframe(x, len, framecentre(offset, S, k), g, st, wk, freq, cost);
    }
    if (k == 0) {
      pitchpathstart(cost);
    } else {
      pitchpathstep(freq - kPitchSlots, wk.cost[(k - 1) & 1u], freq, cost,
                    wk.back.data() + static_cast<size_t>(k) * kPitchSlots, st.R);
    }
  }
  pitchbacktrack(wk.freq.data(), wk.back.data(), wk.cost[(n - 1) & 1u], n, out);
  return 0;
}

}  // namespace

int f02logf0(uint32_t count, double* values) {
  if (values == nullptr && count > 0) return -1;
  for (uint32_t i = 0; i < count; ++i) {
    values[i] = (values[i] > 0.0) ? std::log(values[i]) : kUnvoicedLogF0;
  }
  return 0;
}

int logf02f0(uint32_t count, double* values) {
  if (values == nullptr && count > 0) return -1;
  for (uint32_t i = 0; i < count; ++i) {
    values[i] = (values[i] > kUnvoicedLogF0) ? std::exp(values[i]) : 0.0;
  }
  return 0;
}

int getpitchsettings(double fs, uint64_t S, double f0min, double f0max, pitchsettings* st) {
  if (st == nullptr || S == 0 || !(fs > 0.0) || !(fs <= kMaxFs)) return -1;
  if (!(f0min > 0.0)) f0min = kDefaultF0min;
  if (!(f0max > f0min)) f0max = kDefaultF0max;
  if (!(fs / f0min <= kMaxLagSamples)) f0min = fs / kMaxLagSamples;
  pitchsettings s;
  s.fs = fs;
  s.f0min = f0min;
  s.f0max = f0max;
  s.R = (fs * 0.01) / static_cast<double>(S);
  s.lmin = static_cast<int64_t>(std::ceil(fs / f0max));
  s.lmax = static_cast<int64_t>(std::floor(fs / f0min));
  s.W = getwinlengthnperiodsodd(3.0, f0min, fs);
  s.H = s.W / 2;
  s.N = getwinlengthceilpot2(s.W);
  s.P = getwinlengthnperiodsodd(0.5, f0min, fs);
  s.lagfirst = (s.lmin > 1) ? s.lmin : 1;
  const int64_t lastinside = static_cast<int64_t>(s.H) - 2;
  s.laglast = (s.lmax < lastinside) ? s.lmax : lastinside;
  const uint64_t twop = 2 * static_cast<uint64_t>(s.P);
  s.meanhalf = (twop < s.H) ? static_cast<uint32_t>(twop) : s.H;
  s.peakhalf = (s.P < s.H) ? s.P : s.H;
  *st = s;
  return 0;
}

int autocorrelation(int32_t N, double* buf) {
  if (buf == nullptr || N < 1 || (N & (N - 1)) != 0) return -1;
  fftc(N, buf);
  for (int32_t i = 0; i < N; ++i) {
    const double re = buf[2 * static_cast<size_t>(i)];
    const double im = buf[2 * static_cast<size_t>(i) + 1];
    buf[2 * static_cast<size_t>(i)] = re * re + im * im;
    buf[2 * static_cast<size_t>(i) + 1] = 0.0;
  }
  ifftc(N, buf);
  return 0;
}

namespace {

// The strict local maximum of rho at lag l (above the threshold) as a candidate: parabola
// vertex, pulled back to an end lag of the range when it lies beyond it, ranked by
// h + 0.01 log2(f / f0min), placed in a free slot or over the weakest of five.
void placepeak(const double* rho, int64_t l, int64_t lagfirst, int64_t laglast, double fs,
               double f0min, double* freq, double* strength) {
  double coef[3];
  parabfit(rho + (l - 1), coef);
  double delta = parabextx(coef);
  double h = parabexty(coef);
  // A vertex outside the searched range is pulled back to its end lag.
  if (l == lagfirst && delta < 0.0) {
    delta = 0.0;
    h = rho[l];
  } else if (l == laglast && delta > 0.0) {
    delta = 0.0;
    h = rho[l];
  }
  if (h > 1.0) h = 1.0 / h;
  const double T = (static_cast<double>(l) + delta) / fs;  // period, s
  // Ranking strength: h + 0.01 * log2(f / f0min) with f = 1/T, so that among similar peaks
  // the higher frequency (the shorter lag, not a multiple period) ranks higher.
  const double s = h + (kOctaveCost * std::log(f0min * T)) / (-std::log(2.0));
  // First free slot, remembering the weakest (lowest-numbered among equals) on the way.
  int slot = -1;
  int weakest = 0;
  for (int j = 0; j < kPitchVoicedSlots; ++j) {
    if (freq[j] == 0.0) {
      slot = j;
      break;
    }
    if (strength[j] < strength[weakest]) weakest = j;
  }
  if (slot < 0 && s >= strength[weakest]) slot = weakest;
  if (slot < 0) return;
  strength[slot] = s;
  freq[slot] = 1.0 / T;
}

void clearcandidates(double* freq, double* strength) {
  for (int j = 0; j < kPitchVoicedSlots; ++j) {
    freq[j] = 0.0;
    strength[j] = 0.0;
  }
}

// Take the ranking term off again: the path search sees the interpolated heights.
void unrankcandidates(double f0min, const double* freq, double* strength) {
  for (int j = 0; j < kPitchVoicedSlots; ++j) {
    if (freq[j] != 0.0) strength[j] += kOctaveCost * std::log(f0min / freq[j]) / std::log(2.0);
  }
}



// The peak tests of pitchcandidates on four lags at a time (the same comparisons, so NaNs
// fail them alike; a block without a peak, by far the most common, costs one test), then
// the peaks in increasing lag; the last lags one by one, reading no further than laglast + 1.
template <bool kAvx2>
BRISVANE_KERNEL void peakscanbody(const double* rho, int64_t lagfirst, int64_t laglast,
                                  double fs, double f0min, double* freq, double* strength) {
  const double threshold = 0.5 * kVoicingThreshold;
  const v4d thr = splat4(threshold);
  int64_t l = lagfirst;
  for (; l + 4 <= laglast + 1; l += 4) {
    const v4d c = load4(rho + l);
    const v4i m = (c > thr) & (c > load4(rho + l - 1)) & (c > load4(rho + l + 1));
    const uint32_t bits = lanebits<kAvx2>(m);
    if (bits == 0) continue;
    for (int t = 0; t < 4; ++t) {
      if ((bits >> t) & 1u) placepeak(rho, l + t, lagfirst, laglast, fs, f0min, freq, strength);
    }
  }
  for (; l <= laglast; ++l) {
    if (!(rho[l] > threshold && rho[l] > rho[l - 1] && rho[l] > rho[l + 1])) continue;
    placepeak(rho, l, lagfirst, laglast, fs, f0min, freq, strength);
  }
}
BRISVANE_AVX2 void peakscanavx2(const double* rho, int64_t lagfirst, int64_t laglast, double fs,
                                double f0min, double* freq, double* strength) {
  peakscanbody<true>(rho, lagfirst, laglast, fs, f0min, freq, strength);
}
void peakscanplain(const double* rho, int64_t lagfirst, int64_t laglast, double fs,
                   double f0min, double* freq, double* strength) {
  peakscanbody<false>(rho, lagfirst, laglast, fs, f0min, freq, strength);
}

}  // namespace

void pitchcandidates(const double* rho, int64_t lagfirst, int64_t laglast, double fs,
                     double f0min, double* freq, double* strength) {
  clearcandidates(freq, strength);
  const double threshold = 0.5 * kVoicingThreshold;
  for (int64_t l = lagfirst; l <= laglast; ++l) {
    if (!(rho[l] > threshold && rho[l] > rho[l - 1] && rho[l] > rho[l + 1])) continue;
    placepeak(rho, l, lagfirst, laglast, fs, f0min, freq, strength);
  }
  unrankcandidates(f0min, freq, strength);
}

void pitchcandidatesfast(const double* rho, int64_t lagfirst, int64_t laglast, double fs,
                         double f0min, double* freq, double* strength) {
  clearcandidates(freq, strength);
  if (cpuhasavx2()) {
    peakscanavx2(rho, lagfirst, laglast, fs, f0min, freq, strength);
  } else {
    peakscanplain(rho, lagfirst, laglast, fs, f0min, freq, strength);
  }
  unrankcandidates(f0min, freq, strength);
}

void pitchpathstart(double* cost) {
  for (int j = 0; j < kPitchSlots; ++j) cost[j] = -cost[j];
}

void pitchpathstep(const double* prevfreq, const double* prevcost, const double* freq,
                   double* cost, int32_t* back, double R) {
  const double jumpcost = kOctaveJumpCost * R;
  const double voicingcost = kVoicingChangeCost * R;
  for (int l = 0; l < kPitchSlots; ++l) {
    if (!takespart(freq, l)) continue;
    double best = kLargest;
    int32_t arg = -1;
    for (int m = 0; m < kPitchSlots; ++m) {
      if (!takespart(prevfreq, m)) continue;
      double c = prevcost[m] - cost[l];
      if (freq[l] == 0.0 && prevfreq[m] == 0.0) {
        c += 0.0;  // staying unvoiced is free
      } else if (freq[l] == 0.0) {
        c += voicingcost;
      } else if (prevfreq[m] == 0.0) {
        c += voicingcost;
      } else {
        c += jumpcost * std::fabs(std::log(freq[l] / prevfreq[m]) / std::log(2.0));
      }
      if (c < best) {
        best = c;
        arg = m;
      }
    }
    cost[l] = best;
    back[l] = arg;
  }
}

void pitchbacktrack(const double* freq, const int32_t* back, const double* lastcost, uint32_t n,
                    double* out) {
  if (n == 0) return;
  const size_t last = static_cast<size_t>(n - 1) * kPitchSlots;
  double best = kLargest;
  int32_t chosen = kPitchSlots - 1;
  for (int j = 0; j < kPitchSlots; ++j) {
    if (!(freq[last + j] > 0.0) && j != kPitchSlots - 1) continue;
    if (lastcost[j] < best) {
      best = lastcost[j];
      chosen = j;
    }
  }
  out[n - 1] = freq[last + chosen];
  for (uint32_t k = n - 1; k >= 1; --k) {
    chosen = back[static_cast<size_t>(k) * kPitchSlots + chosen];
    // Only non-finite costs can leave a slot without predecessor: fall back to unvoiced.
    if (chosen < 0 || chosen >= kPitchSlots) chosen = kPitchSlots - 1;
    out[k - 1] = freq[static_cast<size_t>(k - 1) * kPitchSlots + chosen];
  }
}

int getpitch(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
             double f0min, double f0max, double* out) {
  return pitchtrack(x, len, fs, S, offset, n, f0min, f0max, out, false);
}

int getpitchfast(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
                 double f0min, double f0max, double* out) {
  return pitchtrack(x, len, fs, S, offset, n, f0min, f0max, out, true);
}

std::vector<double> increaseresolution(const double* x, uint32_t len, double fs, uint32_t b) {
  std::vector<double> y;
  if (x == nullptr || len == 0 || b == 0 || b > kMaxUpsampling) return y;
  // The filter counts samples in 32 bits.
  if (static_cast<uint64_t>(len) * b > std::numeric_limits<uint32_t>::max()) return y;
  y.assign(static_cast<size_t>(len) * b, 0.0);
  const double gain = static_cast<double>(b);
  for (uint32_t i = 0; i < len; ++i) y[static_cast<size_t>(i) * b] = gain * x[i];
  const uint32_t L = 50 * b;
  std::vector<double> h(static_cast<size_t>(L) + 1, 0.0);
  getlpwinfilter(L, 0.4 * fs, gain * fs, h.data());
  winfiltersignal(y.data(), static_cast<uint32_t>(y.size()), L, h.data());
  return y;
}

namespace {

// Outputs of one phase computed side by side (8 accumulators of 4 lanes: independent sums
// that keep the adder busy, and fewer gathered samples per output).
constexpr size_t kPhaseBlock = 32;
constexpr size_t kPhaseVectors = kPhaseBlock / 4;
// Samples one block of outputs reaches: the 51 taps of one phase span 51 input samples
// (the filter has 50 b + 1 taps, every b-th meets a sample), plus the block's width.
constexpr size_t kPhaseSpan = 51 + kPhaseBlock;

// Outputs i = r + k b, k = k0 .. k0 + kn - 1 (kn <= kPhaseBlock), of the b-fold zero-inserted
// signal (gain b) filtered by the L + 1 = 50 b + 1 taps h (M = L/2): every tap j = j0,
// j0 + b, ... <= L meets the sample b x[(r - M + j)/b + k] (0 outside the signal), in
// increasing j, as in the documented filter less its products with the inserted zeros. The
// block's outputs are the lanes of 4-lane accumulators (each lane its own sum).
BRISVANE_KERNEL void filterphasebody(const double* x, uint32_t len, const double* h, uint32_t b,
                                     uint32_t r, size_t k0, size_t kn, double* y) {
  const uint32_t L = 50 * b;
  const int64_t M = L / 2;
  const auto j0 = static_cast<uint32_t>((M - r) % b);
  const int64_t mfirst = (static_cast<int64_t>(r) - M + j0) / static_cast<int64_t>(b);
  // The samples of this block, b x[m] for m = mfirst + k0 .. (zeros outside the signal).
  double z[kPhaseSpan];
  const double gain = static_cast<double>(b);
  for (size_t q = 0; q < kPhaseSpan; ++q) {
    const int64_t m = mfirst + static_cast<int64_t>(k0 + q);
    z[q] = (m >= 0 && m < static_cast<int64_t>(len)) ? gain * x[m] : 0.0;
  }
  v4d acc[kPhaseVectors];
  for (size_t v = 0; v < kPhaseVectors; ++v) acc[v] = splat4(0.0);
  for (uint32_t j = j0, q = 0; j <= L; j += b, ++q) {
    const v4d hj = splat4(h[j]);
    for (size_t v = 0; v < kPhaseVectors; ++v) acc[v] += hj * load4(z + q + 4 * v);
  }
  double out[kPhaseBlock];
  for (size_t v = 0; v < kPhaseVectors; ++v) store4(out + 4 * v, acc[v]);
  for (size_t t = 0; t < kn; ++t) y[r + (k0 + t) * b] = out[t];
}

// Every block of every phase: outputs r + k b for k = 0 .. len - 1, r = 0 .. b - 1.
BRISVANE_KERNEL void filterallbody(const double* x, uint32_t len, const double* h, uint32_t b,
                                   double* y) {
  for (uint32_t r = 0; r < b; ++r) {
    for (size_t k0 = 0; k0 < len; k0 += kPhaseBlock) {
      filterphasebody(x, len, h, b, r, k0, std::min(kPhaseBlock, len - k0), y);
    }
  }
}
BRISVANE_AVX2 void filterallavx2(const double* x, uint32_t len, const double* h, uint32_t b,
                                 double* y) {
  filterallbody(x, len, h, b, y);
}
void filterallplain(const double* x, uint32_t len, const double* h, uint32_t b, double* y) {
  filterallbody(x, len, h, b, y);
}

// The high-resolution tracker in its documented or fast form.
int highrestrack(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset,
                 uint32_t n, double f0min, double f0max, double* out, bool fast) {
  if (n == 0) return 0;
  if (out == nullptr) return -1;
  if (x == nullptr && len > 0) {
    for (uint32_t k = 0; k < n; ++k) out[k] = 0.0;
    return -1;
  }
  const std::vector<double> y =
      fast ? increaseresolutionfast(x, len, fs, 2) : increaseresolution(x, len, fs, 2);
  if (y.empty() && len > 0) {  // too long to upsample in 32-bit sample counts
    for (uint32_t k = 0; k < n; ++k) out[k] = 0.0;
    return -1;
  }
  return pitchtrack(y.data(), y.size(), 2.0 * fs, 2 * static_cast<uint64_t>(S),
                    2 * static_cast<uint64_t>(offset), n, f0min, f0max, out, fast);
}

}  // namespace

std::vector<double> increaseresolutionfast(const double* x, uint32_t len, double fs, uint32_t b) {
  std::vector<double> y;
  if (x == nullptr || len == 0 || b == 0 || b > kMaxUpsampling) return y;
  if (static_cast<uint64_t>(len) * b > std::numeric_limits<uint32_t>::max()) return y;
  const double gain = static_cast<double>(b);
  const uint32_t L = 50 * b;
  std::vector<double> h(static_cast<size_t>(L) + 1, 0.0);
  getlpwinfilter(L, 0.4 * fs, gain * fs, h.data());
  y.assign(static_cast<size_t>(len) * b, 0.0);
  if (cpuhasavx2()) {
    filterallavx2(x, len, h.data(), b, y.data());
  } else {
    filterallplain(x, len, h.data(), b, y.data());
  }
  return y;
}

int getpitchhighres(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset,
                    uint32_t n, double f0min, double f0max, double* out) {
  return highrestrack(x, len, fs, S, offset, n, f0min, f0max, out, false);
}

int getpitchhighresfast(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset,
                        uint32_t n, double f0min, double f0max, double* out) {
  return highrestrack(x, len, fs, S, offset, n, f0min, f0max, out, true);
}

}  // namespace brisvane
