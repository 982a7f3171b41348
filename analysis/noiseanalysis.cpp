#include "analysis/noiseanalysis.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "dsp/dft.h"
#include "dsp/simd.h"
#include "dsp/windowing.h"

namespace brisvane {

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kLn10 = 2.302585092994046;
// Power floor per window sample: the double just above 1e-10, so that digital silence
// still has a finite log amplitude.
constexpr double kPowerFloor = 1.0000000000000002e-10;
// Attenuation band of the noise spectrum: bins below this frequency (Hz) are lowered.
constexpr double kLowBandHz = 500.0;

bool ispow2(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }
}  // namespace

int getlpwinfilter(uint32_t L, double fc, double fs, double* h) {
  if (h == nullptr) return -1;
  const uint32_t M = L / 2;
  // An odd order has no centre tap; its last tap is set to 0 so that no tap is left
  // undefined (the upsampler always uses an even order).
  if (L % 2 != 0) h[L] = 0.0;
  // Normalised cut-off (1 = Nyquist) and cut-off angle in radians per sample.
  const double c = (fc + fc) / fs;
  const double wc = c * kPi;
  h[M] = c;
  if (M == 0) return 0;
  // sin(i*wc) and cos(i*pi/M) by angle-addition recurrences from sin 0 = 0, cos 0 = 1.
  const double swc = std::sin(wc), cwc = std::cos(wc);
  const double swm = std::sin(kPi / M), cwm = std::cos(kPi / M);
  double s = 0.0, sc = 1.0;  // sin(i*wc), cos(i*wc)
  double ws = 0.0, wcs = 1.0;  // sin(i*pi/M), cos(i*pi/M)
  for (uint32_t i = 1; i <= M; ++i) {
    const double ns = s * cwc + sc * swc;
    sc = sc * cwc - s * swc;
    s = ns;
    const double nws = ws * cwm + wcs * swm;
    wcs = wcs * cwm - ws * swm;
    ws = nws;
    const double v = s / (static_cast<double>(i) * kPi) * (0.46 * wcs + 0.54);
    h[M + i] = v;
    h[M - i] = v;
  }
  return 0;
}

int winfiltersignal(double* x, uint32_t n, uint32_t L, const double* h) {
  if (n == 0) return 0;
  if (x == nullptr || h == nullptr) return -1;
  const uint32_t M = L / 2;
  const size_t taps = static_cast<size_t>(L) + 1;
  // Delay line of the L+1 input samples x[i-M .. i+M] (zeros outside the signal), kept
  // twice in a ring of 2(L+1) values so that the current line is always one contiguous
  // run d[head .. head+L]: no shifting per output sample, same products in the same order.
  std::vector<double> ring(2 * taps, 0.0);
  for (uint32_t j = 0; j <= M; ++j) {
    const double v = (j < n) ? x[j] : 0.0;
    ring[M + j] = v;
    ring[M + j + taps] = v;
  }
  size_t head = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const double* d = ring.data() + head;
    double sum = 0.0;
    for (size_t j = 0; j < taps; ++j) sum += h[j] * d[j];
    const uint64_t next = static_cast<uint64_t>(M) + i + 1;
    const double v = (next < n) ? x[next] : 0.0;
    // The oldest sample leaves the line; the newest enters at its end.
    ring[head] = v;
    ring[head + taps] = v;
    head = (head + 1 == taps) ? 0 : head + 1;
    x[i] = sum;
  }
  return 0;
}

uint32_t naframesize(double fs) {
  if (!std::isfinite(fs) || fs <= 0.0 || fs > 1e9) return 0;
  return getwinlengthdurodd(0.01, fs);
}

std::unique_ptr<memna> memnacreate(uint32_t L, uint32_t N) {
  if (L < 2 || N < 2 || N < L) return nullptr;
  auto ws = std::make_unique<memna>();
  ws->L = L;
  ws->nfft = N;
  ws->block.assign(static_cast<size_t>(L) + N, 0.0);
  ws->win = ws->block.data();
  ws->scratch = ws->block.data() + L;
  winhamming(ws->win, L, 1);
  return ws;
}

std::unique_ptr<memna> memnadestroy(std::unique_ptr<memna> ws) {
  ws.reset();
  return nullptr;
}

int elimlowfrecfromlogspec(double* logspec, uint32_t N, double fs) {
  if (logspec == nullptr || N < 2 || !(fs > 0.0)) return -1;
  const double df = fs / N;
  const uint32_t half = N / 2;
  logspec[0] = logspec[0] - kLn10;
  // The bin frequency is accumulated by addition, as the attenuation ramp was defined.
  double f = df;
  for (uint32_t k = 1; k <= half && f < kLowBandHz; ++k) {
    logspec[k] = logspec[k] - kLn10 * (1.0 - f / kLowBandHz);
    logspec[N - k] = logspec[k];
    f = f + df;
  }
  return 0;
}

windowstretch centredstretch(const double* x, uint32_t nx, uint32_t centre, uint32_t L) {
  windowstretch st;
  const int64_t h = L / 2;
  const int64_t c = centre;
  st.i0 = (c < h) ? h - c : 0;
  st.e = L;
  if (c + h > static_cast<int64_t>(nx) - 1) st.e = static_cast<int64_t>(nx) + h - c;
  if (st.e < st.i0) st.e = st.i0;
  st.base = c - h;
  double sum = 0.0;
  for (int64_t i = st.i0; i < st.e; ++i) sum += x[st.base + i];
  st.mean = sum / L;
  return st;
}

int getnoiselogspectrum(const double* x, uint32_t nx, double fs, uint32_t centre, uint32_t N,
                        double* logspec, memna* ws) {
  if (logspec == nullptr || ws == nullptr || ws->win == nullptr || (x == nullptr && nx > 0)) return -1;
  if (!std::isfinite(fs) || fs <= 0.0) return -1;
  const uint32_t L = ws->L;
  if (!ispow2(N) || N < 2 || N < L || N > ws->nfft) return -1;
  const double* win = ws->win;
  double* im = ws->scratch;
  const uint32_t half = N / 2;

  // Mean over the samples inside the signal, divided by the full window length.
  const windowstretch st = centredstretch(x, nx, centre, L);
  const int64_t i0 = st.i0, e = st.e, base = st.base;
  const double mu = st.mean;

  for (uint32_t i = 0; i < N; ++i) im[i] = 0.0;
  for (int64_t i = 0; i < i0; ++i) logspec[i] = 0.0;
  for (int64_t i = i0; i < e; ++i) logspec[i] = (x[base + i] - mu) * win[i];
  for (int64_t i = e; i < N; ++i) logspec[i] = 0.0;

  fftr(static_cast<int32_t>(N), logspec, im);

  // Amplitude density: power floored, scaled by the window energy L and fs.
  const double floor = L * kPowerFloor;
  const double scale = static_cast<double>(L) * fs;
  for (uint32_t k = 1; k < half; ++k) {
    double P = logspec[k] * logspec[k] + im[k] * im[k];
    if (P < floor) P = floor;
    const double a = std::sqrt(P / scale);
    logspec[k] = a;
    logspec[N - k] = a;
  }
  // DC and Nyquist carry the mean removal and the window edge: use their neighbours.
  logspec[0] = logspec[1];
  logspec[half] = logspec[half - 1];
  for (uint32_t k = 1; k < half; ++k) {
    const double v = std::log(logspec[k]);
    logspec[k] = v;
    logspec[N - k] = v;
  }
  logspec[0] = logspec[1];
  logspec[half] = logspec[half - 1];

  elimlowfrecfromlogspec(logspec, N, fs);
  return 0;
}

namespace {

// out[i] = 1/2 ln(max(P[i], floor) / scale) for i < n by the vector logarithm, in two passes
// over the whole vectors: first the quotients and their reductions (s into out, f and k into
// the work arrays wf and wk, n values each), then the finishes, two vectors per step. The
// logarithm's chain of dependent operations (two divisions, then a polynomial) is long;
// split in two, more of it is in flight at once. The tail is padded with scale (whose log is
// not used). Returns false when a quotient lies outside the positive normal range (zero,
// infinite, NaN, subnormal: a power that overflowed, a NaN sample); the caller then redoes
// the whole array by std::log, so that no value depends on how the bins were grouped into
// vectors.
template <typename V, typename I>
BRISVANE_KERNEL bool halflogpowerbody(const double* P, uint32_t n, double floor, double scale, double* out,
                                      double* wf, double* wk) {
  constexpr uint32_t w = sizeof(V) / sizeof(double);
  const V fl = V{} + floor;
  const V lo = V{} + std::numeric_limits<double>::min();
  const V hi = V{} + std::numeric_limits<double>::max();
  I good = I{} - 1;
  const uint32_t whole = n - n % w;
  for (uint32_t i = 0; i < whole; i += w) {
    V p = loadv<V>(P + i);
    p = p < fl ? fl : p;
    const V y = p / scale;
    good &= (y >= lo) & (y <= hi);
    V s, f, dk;
    lognormalreduce<V, I>(y, s, f, dk);
    storev<V>(out + i, s);
    storev<V>(wf + i, f);
    storev<V>(wk + i, dk);
  }
  uint32_t i = 0;
  for (; i + 2 * w <= whole; i += 2 * w) {
    const V a = lognormalfinish<V>(loadv<V>(out + i), loadv<V>(wf + i), loadv<V>(wk + i));
    const V b = lognormalfinish<V>(loadv<V>(out + i + w), loadv<V>(wf + i + w), loadv<V>(wk + i + w));
    storev<V>(out + i, 0.5 * a);
    storev<V>(out + i + w, 0.5 * b);
  }
  if (i < whole) {
    storev<V>(out + i, 0.5 * lognormalfinish<V>(loadv<V>(out + i), loadv<V>(wf + i), loadv<V>(wk + i)));
  }
  if (whole < n) {
    V p = V{} + scale;
    for (uint32_t l = 0; whole + l < n; ++l) p[l] = P[whole + l];
    p = p < fl ? fl : p;
    const V y = p / scale;
    good &= (y >= lo) & (y <= hi);
    const V r = 0.5 * lognormal<V, I>(y);
    for (uint32_t l = 0; whole + l < n; ++l) out[whole + l] = r[l];
  }
  bool all = true;
  for (uint32_t l = 0; l < w; ++l) all = all && good[l] != 0;
  return all;
}

BRISVANE_AVX2 bool halflogpoweravx2(const double* P, uint32_t n, double floor, double scale, double* out,
                                    double* wf, double* wk) {
  return halflogpowerbody<v4d, v4i>(P, n, floor, scale, out, wf, wk);
}
// Two lanes on processors without AVX2: per lane the same operations as the AVX2 copy.
bool halflogpowerplain(const double* P, uint32_t n, double floor, double scale, double* out, double* wf,
                       double* wk) {
  return halflogpowerbody<v2d, v2i>(P, n, floor, scale, out, wf, wk);
}

}  // namespace

void halflogpower(const double* P, uint32_t n, double floor, double scale, double* out, double* wf,
                  double* wk) {
  const bool normal = cpuhasavx2() ? halflogpoweravx2(P, n, floor, scale, out, wf, wk)
                                   : halflogpowerplain(P, n, floor, scale, out, wf, wk);
  if (normal) return;
  for (uint32_t i = 0; i < n; ++i) {
    double p = P[i];
    if (p < floor) p = floor;
    out[i] = 0.5 * std::log(p / scale);
  }
}

namespace {

// Powers P[k], k = 1 .. half-1, of the real transform of N = 2 half values from the
// half-point transform Z = re + j im of their packing as complex points:
// X[k] = (Z[k] + conj Z[half-k])/2 + W^k (Z[k] - conj Z[half-k])/(2j), W = e^(-j 2 pi/N)
// (cw, sw: cos and -sin of 2 pi k/N, k <= half/2), and X[half-k] = conj(e - W^k d) with e and
// d the two halves of that sum. Bins k and half-k are formed together, four k at a time with
// the mirrored bins loaded in reverse; bin half/2 (k = half-k) keeps the second form.
BRISVANE_KERNEL void noisepowersbody(const double* re, const double* im, const double* cw, const double* sw,
                                     uint32_t half, double* P) {
  const uint32_t q = half / 2;
  uint32_t k = 1;
  for (; k + 3 < q; k += 4) {
    const uint32_t m = half - k - 3;  // mirrored bins m .. m+3 = half-k-3 .. half-k
    const v4d ar = load4(re + k), ai = load4(im + k);
    const v4d br = reverse4(load4(re + m)), bi = reverse4(load4(im + m));
    const v4d er = 0.5 * (ar + br), ei = 0.5 * (ai - bi);
    const v4d dr = 0.5 * (ai + bi), di = -0.5 * (ar - br);
    const v4d wr = load4(cw + k), wi = load4(sw + k);
    const v4d tr = wr * dr - wi * di;
    const v4d ti = wr * di + wi * dr;
    const v4d xkr = er + tr, xki = ei + ti;
    const v4d xmr = er - tr, xmi = -(ei - ti);
    store4(P + k, xkr * xkr + xki * xki);
    store4(P + m, reverse4(xmr * xmr + xmi * xmi));
  }
  for (; k <= q; ++k) {
    const uint32_t m = half - k;
    const double ar = re[k], ai = im[k], br = re[m], bi = im[m];
    const double er = 0.5 * (ar + br), ei = 0.5 * (ai - bi);
    const double dr = 0.5 * (ai + bi), di = -0.5 * (ar - br);
    const double wr = cw[k], wi = sw[k];
    const double tr = wr * dr - wi * di;
    const double ti = wr * di + wi * dr;
    const double xkr = er + tr, xki = ei + ti;
    const double xmr = er - tr, xmi = -(ei - ti);
    P[k] = xkr * xkr + xki * xki;
    P[m] = xmr * xmr + xmi * xmi;
  }
}
BRISVANE_AVX2 void noisepowersavx2(const double* re, const double* im, const double* cw, const double* sw,
                                   uint32_t half, double* P) {
  noisepowersbody(re, im, cw, sw, half, P);
}
void noisepowersplain(const double* re, const double* im, const double* cw, const double* sw, uint32_t half,
                      double* P) {
  noisepowersbody(re, im, cw, sw, half, P);
}

}  // namespace

int memnafastprepare(memna* ws, uint32_t N) {
  if (ws == nullptr || !ispow2(N) || N < 4 || N > ws->nfft) return -1;
  const uint32_t q = N / 4;
  if (fftplancreate(N / 2, &ws->fastplan) != 0) return -1;
  ws->fastcos.resize(q + 1);
  ws->fastsin.resize(q + 1);
  const double step = 2.0 * kPi / N;
  for (uint32_t k = 0; k <= q; ++k) {
    ws->fastcos[k] = std::cos(step * k);
    ws->fastsin[k] = -std::sin(step * k);
  }
  ws->fastN = N;
  return 0;
}

int getnoiselogspectrumfast(const double* x, uint32_t nx, double fs, uint32_t centre, uint32_t N,
                            double* logspec, memna* ws) {
  if (logspec == nullptr || ws == nullptr || ws->win == nullptr || (x == nullptr && nx > 0)) return -1;
  if (!std::isfinite(fs) || fs <= 0.0) return -1;
  const uint32_t L = ws->L;
  if (!ispow2(N) || N < 4 || N < L || N > ws->nfft || ws->fastN != N || ws->fastplan.n != N / 2) return -1;
  const double* win = ws->win;
  const uint32_t half = N / 2;

  // Mean over the samples inside the signal, divided by the full window length.
  const windowstretch st = centredstretch(x, nx, centre, L);
  const int64_t i0 = st.i0, e = st.e, base = st.base;
  const double mu = st.mean;

  // Frame value i (window position i, 0 beyond the stretch) packed as point i/2 of a
  // half-length complex signal: even values real, odd values imaginary.
  // Points from (L + 1) / 2 on are zero and never read by the transform: only those below
  // are cleared.
  double* re = logspec;
  double* im = ws->scratch;
  const uint32_t count = (L + 1) / 2;
  if (i0 == 0 && e == L) {
    // The whole window inside the signal (nearly every frame): pairs of values straight
    // into their point, no clearing.
    const double* xs = x + base;
    const uint32_t pairs = L / 2;
    for (uint32_t n = 0; n < pairs; ++n) {
      re[n] = (xs[2 * n] - mu) * win[2 * n];
      im[n] = (xs[2 * n + 1] - mu) * win[2 * n + 1];
    }
    if (pairs < count) {
      re[pairs] = (xs[2 * pairs] - mu) * win[2 * pairs];
      im[pairs] = 0.0;
    }
  } else {
    for (uint32_t n = 0; n < count; ++n) {
      re[n] = 0.0;
      im[n] = 0.0;
    }
    for (int64_t i = i0; i < e; ++i) {
      const double v = (x[base + i] - mu) * win[i];
      if (i % 2 == 0) {
        re[i / 2] = v;
      } else {
        im[i / 2] = v;
      }
    }
  }
  dofftrfastlow(ws->fastplan, re, im, count);

  // Bins k and half - k of the real transform from Z[k] and Z[half - k]:
  // X[k] = (Z[k] + conj Z[half-k])/2 + W^k (Z[k] - conj Z[half-k])/(2j), W = e^(-j 2 pi/N).
  // Powers of bins 1 .. half-1 go to the scratch's upper half (bins 0 and half are replaced
  // by their neighbours below).
  double* P = ws->scratch + half;
  if (cpuhasavx2()) {
    noisepowersavx2(re, im, ws->fastcos.data(), ws->fastsin.data(), half, P);
  } else {
    noisepowersplain(re, im, ws->fastcos.data(), ws->fastsin.data(), half, P);
  }

  // Work arrays of the logarithm: the upper half of logspec (scratch) and the transform's
  // imaginary parts (read already).
  halflogpower(P + 1, half - 1, L * kPowerFloor, static_cast<double>(L) * fs, logspec + 1, logspec + half + 1,
               ws->scratch);
  logspec[0] = logspec[1];
  logspec[half] = logspec[half - 1];
  // Low band (the documented attenuation, upper half left as scratch).
  const double df = fs / N;
  logspec[0] = logspec[0] - kLn10;
  double f = df;
  for (uint32_t k = 1; k <= half && f < kLowBandHz; ++k) {
    logspec[k] = logspec[k] - kLn10 * (1.0 - f / kLowBandHz);
    f = f + df;
  }
  return 0;
}

}  // namespace brisvane
