#include "analysis/ccanalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "dsp/dft.h"
#include "dsp/matvect.h"
#include "dsp/simd.h"
#include "dsp/windowing.h"

namespace brisvane {

namespace {

constexpr double k2Pi = 6.283185307179586;
// Power floor per window sample of the pitch-adaptive spectrum (the double above 1e-10).
constexpr double kPowerFloor = 1.0000000000000002e-10;
// Quefrency penalty of the regularized fit: 8 pi^2 * 0.0002 to eight digits, times m^2.
constexpr double kLsrPenalty = 0.015791367;
// Largest FFT length the cepstral analysis uses (the FFT takes a signed 32-bit length).
constexpr uint64_t kMaxFft = uint64_t{1} << 30;
// f0 values below fs / 2^28 would need a two-period frame of more than 2^29 samples.
constexpr double kMinF0PerFs = 1.0 / 268435456.0;
// Default lowest f0 of the workspace when the track has nothing lower.
constexpr double kF0MinDefault = 500.0;

bool alphaok(double alpha) { return std::isfinite(alpha) && alpha < 1.0 && alpha > -1.0; }

bool ispow2(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

bool fsok(double fs) { return std::isfinite(fs) && fs > 0.0 && fs <= 1e9 && naframesize(fs) >= 3; }

// The frame's f0 as the analysis uses it: invalid or absurdly low values count as unvoiced.
double voicedf0(double f0, double fs) {
  if (!std::isfinite(f0) || !(f0 > 0.0) || f0 < fs * kMinF0PerFs) return 0.0;
  return f0;
}

uint64_t pow2ceil(uint64_t n) {
  uint64_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

void zerocc(double* c, uint32_t order) {
  if (c == nullptr) return;
  for (uint64_t m = 0; m <= order; ++m) c[m] = 0.0;
}

// Arguments shared by the per-frame methods: workspace present, N a power of two that the
// noise workspace can serve, scratch and output present.
bool framecheck(const double* x, uint32_t nx, double fs, uint32_t N, const double* spectrum,
                const double* second, const double* c, const memcc* ws) {
  if (x == nullptr && nx > 0) return false;
  if (spectrum == nullptr || second == nullptr || c == nullptr || ws == nullptr) return false;
  if (ws->ha == nullptr || ws->na == nullptr) return false;
  if (!fsok(fs)) return false;
  return ispow2(N) && N >= 2 && N >= ws->na->L && N <= ws->na->nfft;
}

// Whether the harmonic workspace can hold the fit of a frame with this f0.
bool hacapacity(const memha* ha, double fs, double f0) {
  const double f0frame = f0 < 200.0 ? f0 : 200.0;
  const int K = hanoharms(fs, fs, f0);
  return haframesize(fs, f0frame) <= ha->nws && K >= 0 && static_cast<uint32_t>(K) <= ha->K;
}

// Whether the harmonic analysis frame around centre reaches any sample of the signal; a frame
// entirely outside it is all zeros, for which the fit fails anyway.
bool harmframeinside(uint32_t nx, double fs, uint32_t centre, double f0) {
  if (nx == 0) return false;
  const double f0frame = f0 < 200.0 ? f0 : 200.0;
  const uint64_t half = haframesize(fs, f0frame) / 2;
  return static_cast<uint64_t>(centre) < static_cast<uint64_t>(nx) + half;
}

// Log spectrum (N values, symmetric) -> warped cepstrum c[0..order]: real cepstrum by inverse
// FFT, one-sided at half scale (c^[0] and c^[N/2] halved), warping of c^[0..M1], c0 restored
// to full scale.
void logspec2cc(double* spectrum, double* second, uint32_t N, uint32_t M1, uint32_t order, double* c,
                double alpha) {
  const double inv = 1.0 / N;
  for (uint32_t i = 0; i < N; ++i) {
    spectrum[i] = spectrum[i] * inv;
    second[i] = 0.0;
  }
  ifftr(static_cast<int32_t>(N), spectrum, second);
  spectrum[N / 2] = spectrum[N / 2] * 0.5;
  spectrum[0] = spectrum[0] * 0.5;
  if (ccwarp(spectrum, M1, c, order, alpha, second) != 0) {
    zerocc(c, order);
    return;
  }
  c[0] = c[0] * 2.0;
}

// f0 as the pitch-adaptive spectrum uses it: also unvoiced when two periods round to a single
// sample (f0 of 2*fs or more), where no window exists.
double strf0(double f0, double fs) {
  const double v = voicedf0(f0, fs);
  if (v == 0.0) return 0.0;
  return getwinlengthnperiodsodd(2.0, v, fs) < 3 ? 0.0 : v;
}

// Whether the fast tables of ws serve frames of FFT length N, this order and alpha.
bool fastready(const memcc* ws, uint32_t N, uint32_t order, double alpha) {
  if (!ws->fast || ws->matN != N || ws->matorder != order || !(ws->matalpha == alpha)) return false;
  if (ws->na == nullptr || ws->na->fastN != N) return false;
  const uint64_t size = (static_cast<uint64_t>(N) / 2 + 1) * (static_cast<uint64_t>(order) + 1);
  return ws->ccmat.size() >= size && ws->tables.size() >= 3 * (static_cast<uint64_t>(N) / 2 + 1);
}

// Spectral path by the matrix of logspec2ccmatrix: c[m] = sum_k logspec[k] A[k][m] over the
// bins k = 0 .. N/2 of the symmetric log spectrum. Each c[m] is summed from 0 in ascending k,
// whatever the instruction set: the coefficients are taken in blocks of ten vectors (40 with
// four lanes, 20 with two), then one vector, then one at a time, with the partial sums held in
// registers across a whole pass over the bins (40 coefficients, the usual order 39, thus read
// the matrix once, row by row).
// x in every lane, taken from memory by one broadcast (a sum with a zero vector would cost an
// addition and a register broadcast per bin, and turn -0 into +0).
template <typename V>
BRISVANE_KERNEL V splatfrom(const double* x) {
  V v;
  for (uint64_t l = 0; l < sizeof(V) / sizeof(double); ++l) v[l] = *x;
  return v;
}

template <typename V>
BRISVANE_KERNEL void logspec2ccbody(const double* spectrum, uint64_t H, uint64_t P1, double* c, const double* A) {
  constexpr uint64_t w = sizeof(V) / sizeof(double);
  constexpr uint64_t B = 10;
  uint64_t m = 0;
  for (; m + B * w <= P1; m += B * w) {
    V a[B];
    for (uint64_t i = 0; i < B; ++i) a[i] = V{};
    const double* row = A + m;
    for (uint64_t k = 0; k <= H; ++k, row += P1) {
      const V s = splatfrom<V>(spectrum + k);
      for (uint64_t i = 0; i < B; ++i) a[i] += s * loadv<V>(row + i * w);
    }
    for (uint64_t i = 0; i < B; ++i) std::memcpy(c + m + i * w, &a[i], sizeof(V));
  }
  for (; m + w <= P1; m += w) {
    V a0 = V{};
    const double* row = A + m;
    for (uint64_t k = 0; k <= H; ++k, row += P1) a0 += splatfrom<V>(spectrum + k) * loadv<V>(row);
    std::memcpy(c + m, &a0, sizeof(V));
  }
  for (; m < P1; ++m) {
    double a = 0.0;
    const double* row = A + m;
    for (uint64_t k = 0; k <= H; ++k, row += P1) a += spectrum[k] * row[0];
    c[m] = a;
  }
}
BRISVANE_AVX2 void logspec2ccavx2(const double* spectrum, uint64_t H, uint64_t P1, double* c, const double* A) {
  logspec2ccbody<v4d>(spectrum, H, P1, c, A);
}
void logspec2ccplain(const double* spectrum, uint64_t H, uint64_t P1, double* c, const double* A) {
  logspec2ccbody<v2d>(spectrum, H, P1, c, A);
}
void logspec2ccfast(const double* spectrum, uint32_t N, uint32_t order, double* c, const double* A) {
  const uint64_t P1 = static_cast<uint64_t>(order) + 1;
  if (cpuhasavx2()) {
    logspec2ccavx2(spectrum, N / 2, P1, c, A);
  } else {
    logspec2ccplain(spectrum, N / 2, P1, c, A);
  }
}

}  // namespace

int logspec2ccmatrix(uint32_t N, uint32_t order, double alpha, double* W, double* A) {
  if (W == nullptr || A == nullptr || !ispow2(N) || N < 2 || N > kMaxFft || !alphaok(alpha)) return -1;
  const uint64_t H = N / 2;
  const uint64_t P1 = static_cast<uint64_t>(order) + 1;
  // Warping of the unit cepstrum at index n: the all-pass recursion without input applied n
  // times to the unit vector e0 (ccwarp feeds c[M1] first, so c[n] passes n recursions).
  const double beta = 1.0 - alpha * alpha;
  for (uint64_t m = 0; m < P1; ++m) W[m] = m == 0 ? 1.0 : 0.0;
  for (uint64_t n = 1; n <= H; ++n) {
    const double* g = W + (n - 1) * P1;
    double* h = W + n * P1;
    h[0] = alpha * g[0];
    if (P1 > 1) {
      h[1] = beta * g[0] + alpha * g[1];
      for (uint64_t m = 2; m < P1; ++m) h[m] = g[m - 1] + alpha * (g[m] - h[m - 1]);
    }
  }
  // Row m of W, weighted as the spectral path weights the cepstrum (1/N, halved ends, c0
  // doubled), taken through the cosine transform sum_n u[n] cos(2 pi k n/N), n = 0 .. N/2, as
  // the FFT of its even extension; two rows go through one complex transform (both spectra
  // are real).
  std::vector<double> re(N), im(N);
  const double invN = 1.0 / N;
  auto extend = [&](uint64_t m, double* v) {
    for (uint64_t n = 0; n < N; ++n) v[n] = 0.0;
    if (m >= P1) return;
    const double scale = (m == 0 ? 2.0 : 1.0) * invN;
    v[0] = 0.5 * scale * W[m];
    v[H] = 0.5 * scale * W[H * P1 + m];
    for (uint64_t n = 1; n < H; ++n) {
      const double u = 0.5 * scale * W[n * P1 + m];
      v[n] = u;
      v[N - n] = u;
    }
  };
  for (uint64_t m = 0; m < P1; m += 2) {
    extend(m, re.data());
    extend(m + 1, im.data());
    fftr(static_cast<int32_t>(N), re.data(), im.data());
    for (uint64_t k = 0; k <= H; ++k) {
      const double mu = (k == 0 || k == H) ? 1.0 : 2.0;
      A[k * P1 + m] = mu * re[k];
      if (m + 1 < P1) A[k * P1 + m + 1] = mu * im[k];
    }
  }
  return 0;
}

double fwarp(double w, double alpha) {
  const double a2 = alpha * alpha;
  return std::atan2((1.0 - a2) * std::sin(w), (1.0 + a2) * std::cos(w) - 2.0 * alpha);
}

std::unique_ptr<memcc> memcccreate(double fs, double f0min, uint32_t Ln, uint32_t N) {
  auto ws = std::make_unique<memcc>();
  ws->ha = memhacreate(fs, fs, f0min);
  ws->na = memnacreate(Ln, N);
  if (ws->ha == nullptr || ws->na == nullptr) return nullptr;
  return ws;
}

std::unique_ptr<memcc> memccdestroy(std::unique_ptr<memcc> ws) {
  if (ws != nullptr) {
    ws->ha = memhadestroy(std::move(ws->ha));
    ws->na = memnadestroy(std::move(ws->na));
    ws.reset();
  }
  return nullptr;
}

uint32_t getccssize(uint32_t frames, uint32_t order) {
  const uint64_t n = static_cast<uint64_t>(frames) * (static_cast<uint64_t>(order) + 1);
  return n > std::numeric_limits<uint32_t>::max() ? 0 : static_cast<uint32_t>(n);
}

int htsadapteradhoc(double* cc, uint32_t order, uint32_t frames) {
  if (cc == nullptr && frames > 0) return -1;
  const uint64_t stride = static_cast<uint64_t>(order) + 1;
  for (uint64_t i = 0; i < frames; ++i) {
    double* c = cc + i * stride;
    c[0] = c[0] + 5.0;
    for (uint64_t m = 1; m <= order; ++m) c[m] = c[m] * 2.0;
  }
  return 0;
}

uint32_t ccfftlength(double fs, double f0min, uint32_t fftmin) {
  if (!fsok(fs) || voicedf0(f0min, fs) == 0.0 || fftmin > kMaxFft) return 0;
  const uint32_t Ln = naframesize(fs);
  const uint32_t Lh = haframesize(fs, f0min);
  const uint32_t L = Lh >= Ln ? Lh : Ln;
  uint64_t N = pow2ceil(L);
  const uint64_t Nmin = pow2ceil(fftmin);
  if (N < Nmin) N = Nmin;
  return N > kMaxFft ? 0 : static_cast<uint32_t>(N);
}

int ccwarp(const double* c, uint32_t M1, double* out, uint32_t M2, double alpha, double* work) {
  if (!alphaok(alpha) || c == nullptr || out == nullptr) return -1;
  if (alpha == 0.0) {
    for (uint64_t m = 0; m <= M2; ++m) out[m] = m <= M1 ? c[m] : 0.0;
    return 0;
  }
  if (work == nullptr) return -1;
  const double beta = 1.0 - alpha * alpha;
  for (uint64_t m = 0; m <= M2; ++m) out[m] = 0.0;
  double* g = out;   // previous array
  double* h = work;  // current array
  for (uint64_t i = 0; i <= M1; ++i) {
    const double v = c[M1 - i];
    h[0] = v + alpha * g[0];
    if (M2 >= 1) {
      h[1] = beta * g[0] + alpha * g[1];
      for (uint64_t m = 2; m <= M2; ++m) h[m] = g[m - 1] + alpha * (g[m] - h[m - 1]);
    }
    double* t = g;
    g = h;
    h = t;
  }
  // g is the last current array.
  if (g != out) {
    for (uint64_t m = 0; m <= M2; ++m) out[m] = g[m];
  }
  return 0;
}

int getharmmgc(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
               double* spectrum, double* second, uint32_t order, double* c, double alpha, memcc* ws) {
  if (!framecheck(x, nx, fs, N, spectrum, second, c, ws) || !alphaok(alpha)) {
    zerocc(c, order);
    return -1;
  }
  f0 = voicedf0(f0, fs);
  const bool fast = fastready(ws, N, order, alpha);
  bool harmonic = false;
  if (f0 != 0.0) {
    if (!hacapacity(ws->ha.get(), fs, f0)) {
      zerocc(c, order);
      return -1;
    }
    if (fast) {
      harmonic = harmframeinside(nx, fs, centre, f0) &&
                 getharmoniclogspectrumfast(x, nx, fs, centre, f0, N, spectrum, ws->ha.get(), 1,
                                            ws->tables.data()) == 0;
    } else {
      harmonic = harmframeinside(nx, fs, centre, f0) &&
                 getharmoniclogspectrum(x, nx, fs, centre, f0, N, spectrum, ws->ha.get(), 1) == 0;
    }
  }
  if (!harmonic) {
    if (fast) {
      getnoiselogspectrumfast(x, nx, fs, centre, N, spectrum, ws->na.get());
    } else {
      getnoiselogspectrum(x, nx, fs, centre, N, spectrum, ws->na.get());
    }
  }
  if (fast) {
    logspec2ccfast(spectrum, N, order, c, ws->ccmat.data());
  } else {
    logspec2cc(spectrum, second, N, N / 2, order, c, alpha);
  }
  return 0;
}

int matccharmonic(uint32_t P, uint32_t K, double f0, double fs, double alpha, double* M) {
  if (M == nullptr && K > 0) return -1;
  const uint64_t P1 = static_cast<uint64_t>(P) + 1;
  const double w0 = f0 * k2Pi / fs;
  for (uint64_t k = 1; k <= K; ++k) {
    const double theta = fwarp(static_cast<double>(k) * w0, alpha);
    double* row = M + (k - 1) * P1;
    row[0] = 1.0;
    // cos(m theta) by rotation from cos 0 = 1, sin 0 = 0.
    const double ct = std::cos(theta), st = std::sin(theta);
    double co = 1.0, si = 0.0;
    for (uint64_t m = 1; m <= P; ++m) {
      const double nco = co * ct - si * st;
      si = co * st + si * ct;
      co = nco;
      row[m] = 2.0 * co;
    }
  }
  return 0;
}

int solvelsr(double* M, const double* y, double* c, uint32_t K, uint32_t P1) {
  if (M == nullptr || y == nullptr || c == nullptr || P1 == 0) return -1;
  const uint64_t n = P1;
  double* R = M + static_cast<uint64_t>(K) * n;
  double* W = R + n * n;
  // R = M^T M, lower triangle mirrored.
  for (uint64_t i = 0; i < n; ++i) {
    for (uint64_t j = 0; j <= i; ++j) {
      double s = 0.0;
      for (uint64_t k = 0; k < K; ++k) s += M[k * n + i] * M[k * n + j];
      R[i * n + j] = s;
      R[j * n + i] = s;
    }
  }
  // Penalty growing with the square of the quefrency index.
  for (uint64_t i = 0; i < n; ++i) R[i * n + i] = R[i * n + i] + static_cast<double>(i * i) * kLsrPenalty;
  const double det = choleskyinvdet2(P1, R, W);
  // A zero determinant is singular; a NaN one (negative pivot) leaves W unusable as well.
  if (det == 0.0 || std::isnan(det)) return -1;
  double* b = R;  // R itself is no longer needed
  for (uint64_t i = 0; i < n; ++i) {
    double s = 0.0;
    for (uint64_t k = 0; k < K; ++k) s += M[k * n + i] * y[k];
    b[i] = s;
  }
  for (uint64_t i = 0; i < n; ++i) {
    double s = 0.0;
    for (uint64_t j = 0; j < n; ++j) s += W[i * n + j] * b[j];
    c[i] = s;
  }
  return 0;
}

namespace {

// One group of four harmonics of the regularized fit (lanes with ct = st = y = 0 add nothing):
// Sacc[4d + l] += cos(d theta_l) for d = 1 .. D-1 and bacc[4d + l] += y_l 2 cos(d theta_l) for
// d = 1 .. n-1, the cosines by the rotation (cos, sin)(d theta) -> (cos, sin)((d+1) theta).
BRISVANE_KERNEL void lsrgroupbody(const double* c4, const double* s4, const double* y4, uint64_t n, uint64_t D,
                                  double* Sacc, double* bacc) {
  const v4d ct = load4(c4), st = load4(s4), y2 = load4(y4) * splat4(2.0);
  v4d co = ct, si = st;
  uint64_t d = 1;
  for (; d < n; ++d) {
    store4(Sacc + 4 * d, load4(Sacc + 4 * d) + co);
    store4(bacc + 4 * d, load4(bacc + 4 * d) + y2 * co);
    const v4d nco = co * ct - si * st;
    si = co * st + si * ct;
    co = nco;
  }
  for (; d < D; ++d) {
    store4(Sacc + 4 * d, load4(Sacc + 4 * d) + co);
    const v4d nco = co * ct - si * st;
    si = co * st + si * ct;
    co = nco;
  }
}
BRISVANE_AVX2 void lsrgroupavx2(const double* c4, const double* s4, const double* y4, uint64_t n, uint64_t D,
                                double* Sacc, double* bacc) {
  lsrgroupbody(c4, s4, y4, n, D, Sacc, bacc);
}
void lsrgroupplain(const double* c4, const double* s4, const double* y4, uint64_t n, uint64_t D, double* Sacc,
                   double* bacc) {
  lsrgroupbody(c4, s4, y4, n, D, Sacc, bacc);
}

// Cholesky factorisation in place of the symmetric matrix whose upper triangle is U (n rows
// of stride np, np = n rounded up to a multiple of 4; U[j][i] = R[j][i] for j <= i; the rest
// of each row is scratch that must start finite), right-looking: after pivot j, row j is
// divided by sqrt(pivot) and every later row l loses U[j][l] times row j. Each entry of the
// upper triangle receives its subtractions in the order of j, so the factor equals the
// row-by-row (left-looking) one bit for bit; the rows are updated in whole blocks of four
// from the block holding the diagonal, which only touches scratch below it. Then the solve
// of R c = b in place (b holds np values; forward with U^T, back with U). Returns -1 at the
// first pivot that is not positive or when the product of the pivots is exactly 0.
BRISVANE_KERNEL int lsrcholbody(double* U, double* b, uint64_t n, uint64_t np) {
  double det = 1.0;
  for (uint64_t j = 0; j < n; ++j) {
    double* rj = U + j * np;
    const double v = rj[j];
    det = det * v;
    if (!(v > 0.0)) return -1;
    const double g = std::sqrt(v);
    const v4d gv = splat4(g);
    for (uint64_t i = j & ~uint64_t{3}; i < np; i += 4) store4(rj + i, load4(rj + i) / gv);
    rj[j] = g;
    uint64_t l = j + 1;
    for (; l + 1 < n; l += 2) {
      // Rows l and l+1 together (one load of row j for both); row l+1 starts from row l's
      // block, which at most adds scratch work below its diagonal.
      double* rl = U + l * np;
      double* rm = rl + np;
      const v4d ul = splat4(rj[l]), um = splat4(rj[l + 1]);
      for (uint64_t i = l & ~uint64_t{3}; i < np; i += 4) {
        const v4d r = load4(rj + i);
        store4(rl + i, load4(rl + i) - ul * r);
        store4(rm + i, load4(rm + i) - um * r);
      }
    }
    for (; l < n; ++l) {
      double* rl = U + l * np;
      const v4d uv = splat4(rj[l]);
      for (uint64_t i = l & ~uint64_t{3}; i < np; i += 4) store4(rl + i, load4(rl + i) - uv * load4(rj + i));
    }
  }
  if (det == 0.0) return -1;
  // Forward: b[i] = (b[i] - sum_k G[i][k] b[k]) / G[i][i], G[i][k] = U[k][i], subtractions by k.
  for (uint64_t k = 0; k < n; ++k) {
    const double* rk = U + k * np;
    const double bk = b[k] / rk[k];
    b[k] = bk;
    uint64_t i = k + 1;
    for (; i < n && (i & 3) != 0; ++i) b[i] = b[i] - rk[i] * bk;
    const v4d bv = splat4(bk);
    for (; i < np; i += 4) store4(b + i, load4(b + i) - load4(rk + i) * bv);
  }
  // Back: b[i] = (b[i] - sum_(k>i) U[i][k] b[k]) / U[i][i].
  for (uint64_t i = n; i-- > 0;) {
    const double* ri = U + i * np;
    double v = b[i];
    for (uint64_t k = i + 1; k < n; ++k) v -= ri[k] * b[k];
    b[i] = v / ri[i];
  }
  return 0;
}
BRISVANE_AVX2 int lsrcholavx2(double* U, double* b, uint64_t n, uint64_t np) { return lsrcholbody(U, b, n, np); }
int lsrcholplain(double* U, double* b, uint64_t n, uint64_t np) { return lsrcholbody(U, b, n, np); }

}  // namespace

int solvelsrfast(uint32_t P, uint32_t K, double f0, double fs, double alpha, const double* y, double* c,
                 double* work) {
  if (y == nullptr || c == nullptr || work == nullptr || P == UINT32_MAX) return -1;
  const uint64_t n = static_cast<uint64_t>(P) + 1;
  const uint64_t D = 2 * static_cast<uint64_t>(P) + 1;  // S_0 .. S_2P
  const uint64_t np = (n + 3) & ~uint64_t{3};
  // Four partial sums per index (one per lane), folded in place into S[d] and b[d] afterwards;
  // b keeps np values for the blocked solve.
  double* S = work;
  double* b = S + 4 * D;
  double* U = b + 4 * n;
  for (uint64_t i = 0; i < 4 * D + 4 * n; ++i) work[i] = 0.0;
  const bool avx2 = cpuhasavx2();
  // Warped harmonic frequencies theta_k = fwarp(k w0): cos and sin straight from the all-pass
  // phase's two components X = (1+a^2) cos w - 2a, Y = (1-a^2) sin w, as X/r and Y/r.
  const double w0 = f0 * k2Pi / fs;
  const double a2 = alpha * alpha;
  double y0 = 0.0;
  // cos and sin of k w0 by rotation, re-anchored on the library values every 16 harmonics.
  const double cw0 = std::cos(w0), sw0 = std::sin(w0);
  double cw = 1.0, sw = 0.0;
  for (uint64_t k0 = 0; k0 < K; k0 += 4) {
    double c4[4], s4[4], y4[4];
    for (uint64_t l = 0; l < 4; ++l) {
      c4[l] = 0.0;
      s4[l] = 0.0;
      y4[l] = 0.0;
      const uint64_t k = k0 + l;
      if (k >= K) continue;
      if (k % 16 == 15) {
        const double w = static_cast<double>(k + 1) * w0;
        cw = std::cos(w);
        sw = std::sin(w);
      } else {
        const double nc = cw * cw0 - sw * sw0;
        sw = cw * sw0 + sw * cw0;
        cw = nc;
      }
      const double X = (1.0 + a2) * cw - 2.0 * alpha;
      const double Y = (1.0 - a2) * sw;
      const double r = std::sqrt(X * X + Y * Y);
      c4[l] = r > 0.0 ? X / r : 1.0;
      s4[l] = r > 0.0 ? Y / r : 0.0;
      y4[l] = y[k];
      y0 += y[k];
    }
    if (avx2) {
      lsrgroupavx2(c4, s4, y4, n, D, S, b);
    } else {
      lsrgroupplain(c4, s4, y4, n, D, S, b);
    }
  }
  for (uint64_t d = 1; d < D; ++d) S[d] = (S[4 * d] + S[4 * d + 1]) + (S[4 * d + 2] + S[4 * d + 3]);
  S[0] = static_cast<double>(K);
  for (uint64_t d = 1; d < n; ++d) b[d] = (b[4 * d] + b[4 * d + 1]) + (b[4 * d + 2] + b[4 * d + 3]);
  b[0] = y0;
  // R = M^T M + penalty in the upper triangle: 4 cos(i t) cos(j t) = 2 (cos((i-j) t) + cos((i+j) t)).
  // The scratch below the diagonal and past column n is set to 0.
  for (uint64_t i = 0; i < np; ++i) U[i] = i == 0 ? S[0] : (i < n ? 2.0 * S[i] : 0.0);
  for (uint64_t j = 1; j < n; ++j) {
    double* row = U + j * np;
    for (uint64_t i = 0; i < j; ++i) row[i] = 0.0;
    for (uint64_t i = j; i < n; ++i) row[i] = 2.0 * (S[i - j] + S[i + j]);
    for (uint64_t i = n; i < np; ++i) row[i] = 0.0;
    row[j] = row[j] + static_cast<double>(j * j) * kLsrPenalty;
  }
  const int e = avx2 ? lsrcholavx2(U, b, n, np) : lsrcholplain(U, b, n, np);
  if (e != 0) return -1;
  for (uint64_t i = 0; i < n; ++i) c[i] = b[i];
  return 0;
}

namespace {

// v[i] = post ln(v[i] scale), i < n, four values at a time; a block holding a product that is
// not a positive normal double (0, an overflow) takes the library logarithm lane by lane.
BRISVANE_KERNEL void scaledlogbody(double* v, uint64_t n, double scale, double post) {
  const v4d sc = splat4(scale), ps = splat4(post);
  const v4d lo = splat4(std::numeric_limits<double>::min()), hi = splat4(std::numeric_limits<double>::max());
  for (uint64_t j = 0; j < n; j += 4) {
    // The last block padded with ones.
    const uint64_t cnt = n - j < 4 ? n - j : 4;
    double in[4] = {1.0, 1.0, 1.0, 1.0};
    if (cnt < 4) {
      for (uint64_t l = 0; l < cnt; ++l) in[l] = v[j + l];
    }
    const v4d xv = (cnt < 4 ? load4(in) : load4(v + j)) * sc;
    const v4i ok = (v4i)(xv >= lo) & (v4i)(xv <= hi);
    if ((ok[0] & ok[1] & ok[2] & ok[3]) && cnt == 4) {
      store4(v + j, ps * lognormal<v4d, v4i>(xv));
      continue;
    }
    double r[4];
    if (ok[0] & ok[1] & ok[2] & ok[3]) {
      store4(r, ps * lognormal<v4d, v4i>(xv));
    } else {
      double xs[4];
      store4(xs, xv);
      for (uint64_t l = 0; l < 4; ++l) r[l] = post * std::log(xs[l]);
    }
    for (uint64_t l = 0; l < cnt; ++l) v[j + l] = r[l];
  }
}
BRISVANE_AVX2 void scaledlogavx2(double* v, uint64_t n, double scale, double post) {
  scaledlogbody(v, n, scale, post);
}
void scaledlogplain(double* v, uint64_t n, double scale, double post) { scaledlogbody(v, n, scale, post); }

}  // namespace

int getharmrdc(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
               double* spectrum, double* second, uint32_t order, double* c, double alpha, memcc* ws) {
  if (!framecheck(x, nx, fs, N, spectrum, second, c, ws) || !alphaok(alpha)) {
    zerocc(c, order);
    return -1;
  }
  f0 = voicedf0(f0, fs);
  const bool fast = fastready(ws, N, order, alpha);
  if (f0 > 0.0) {
    if (!hacapacity(ws->ha.get(), fs, f0)) {
      zerocc(c, order);
      return -1;
    }
    const int Ki = hanoharms(fs, fs, f0);
    const uint32_t K = Ki > 0 ? static_cast<uint32_t>(Ki) : 0;
    const bool fitted =
        K > 0 && K <= N && harmframeinside(nx, fs, centre, f0) &&
        (fast ? getharmonicsfast(x, nx, fs, centre, f0, K, spectrum, nullptr, ws->ha.get(), 1)
              : getharmonics(x, nx, fs, centre, f0, K, spectrum, nullptr, ws->ha.get(), 1)) == 0;
    if (fitted) {
      // Log amplitude per square root of the harmonic spacing: ln(A_k / (2 sqrt(f0))).
      const double s = 0.5 / std::sqrt(f0);
      if (!fast) {
        for (uint32_t k = 0; k < K; ++k) spectrum[k] = std::log(spectrum[k] * s);
      } else if (cpuhasavx2()) {
        scaledlogavx2(spectrum, K, s, 1.0);
      } else {
        scaledlogplain(spectrum, K, s, 1.0);
      }
      const uint64_t P1 = static_cast<uint64_t>(order) + 1;
      if (fast) {
        const uint64_t fneed = P1 * P1 + 15 * P1;
        if (ws->lsr.size() < fneed) ws->lsr.resize(fneed);
        if (solvelsrfast(order, K, f0, fs, alpha, spectrum, c, ws->lsr.data()) == 0) return 0;
      } else {
        const uint64_t need = static_cast<uint64_t>(K) * P1 + 2 * P1 * P1;
        if (ws->lsr.size() < need) ws->lsr.resize(need);
        matccharmonic(order, K, f0, fs, alpha, ws->lsr.data());
        if (solvelsr(ws->lsr.data(), spectrum, c, K, order + 1) == 0) return 0;
      }
    }
  }
  if (fast) {
    getnoiselogspectrumfast(x, nx, fs, centre, N, spectrum, ws->na.get());
    logspec2ccfast(spectrum, N, order, c, ws->ccmat.data());
  } else {
    getnoiselogspectrum(x, nx, fs, centre, N, spectrum, ws->na.get());
    logspec2cc(spectrum, second, N, N / 2, order, c, alpha);
  }
  return 0;
}

namespace {

// Pitch-adaptive log spectrum from the transform Z of the two windowed frames (re, im, N
// points): P[k] = (|Z[k]|^2 + |Z[N-k]|^2)/2 floored at floor, out[k] = 1/2 ln(P[k] scale) for
// k = 0 .. N/2. out may be re itself (bin k is written after bins k and N-k are read).
// P is formed as 2 (|Z[k]/2|^2 + |Z[N-k]/2|^2), the same number whenever nothing overflows
// (the factors are powers of two), so that no partial sum exceeds P: |Z[k]|^2 alone may
// reach twice the two frames' power and overflow where P does not.
BRISVANE_KERNEL void strpowerlogbody(const double* re, const double* im, uint32_t N, double floor, double scale,
                                     double* out) {
  const uint32_t half = N / 2;
  auto power = [&](uint32_t k) {
    const uint32_t m = (N - k) % N;
    const double ar = 0.5 * re[k], ai = 0.5 * im[k], br = 0.5 * re[m], bi = 0.5 * im[m];
    const double P = 2.0 * ((ar * ar + ai * ai) + (br * br + bi * bi));
    return P < floor ? floor : P;
  };
  out[0] = power(0);
  uint32_t k = 1;
  const v4d fl = splat4(floor);
  for (; k + 3 <= half; k += 4) {
    // Bins N-k-3 .. N-k loaded ascending and reversed to line up with k .. k+3.
    const v4d h = splat4(0.5);
    const v4d ra = h * load4(re + k), ia = h * load4(im + k);
    const v4d rb = h * reverse4(load4(re + (N - k - 3)));
    const v4d ib = h * reverse4(load4(im + (N - k - 3)));
    const v4d P = splat4(2.0) * ((ra * ra + ia * ia) + (rb * rb + ib * ib));
    const v4i low = (v4i)(P < fl);
    store4(out + k, (v4d)(((v4i)P & ~low) | ((v4i)fl & low)));
  }
  for (; k <= half; ++k) out[k] = power(k);
  scaledlogbody(out, half + 1, scale, 0.5);
}
BRISVANE_AVX2 void strpowerlogavx2(const double* re, const double* im, uint32_t N, double floor, double scale,
                                   double* out) {
  strpowerlogbody(re, im, N, floor, scale, out);
}
void strpowerlogplain(const double* re, const double* im, uint32_t N, double floor, double scale, double* out) {
  strpowerlogbody(re, im, N, floor, scale, out);
}

}  // namespace

namespace {

// The pitch-adaptive log spectrum, documented (fast = false) or fast: windows by rotation
// instead of a sine and cosine per sample, both windowed frames through one complex FFT (the
// first as real, the second as imaginary part: |X1[k]|^2 + |X2[k]|^2 = (|Z[k]|^2 +
// |Z[N-k]|^2)/2), the noise spectrum by its fast form, and only logspec[0 .. N/2] written.
int straightspectrum(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
                     double* logspec, double* second, memna* wsn, std::vector<double>* winblock, bool fast,
                     const fftplan* plan = nullptr) {
  if (logspec == nullptr || second == nullptr || wsn == nullptr || (x == nullptr && nx > 0)) return -1;
  if (!fsok(fs) || !ispow2(N) || N < 2 || N < wsn->L || N > wsn->nfft) return -1;
  f0 = strf0(f0, fs);
  if (f0 == 0.0) {
    return fast ? getnoiselogspectrumfast(x, nx, fs, centre, N, logspec, wsn)
                : getnoiselogspectrum(x, nx, fs, centre, N, logspec, wsn);
  }

  const uint32_t Lw = getwinlengthnperiodsodd(2.0, f0, fs);
  if (Lw > N) return -1;
  std::vector<double> local;
  if (winblock == nullptr) winblock = &local;
  if (winblock->size() < 2 * static_cast<uint64_t>(Lw)) winblock->resize(2 * static_cast<uint64_t>(Lw));
  double* w1 = winblock->data();
  double* w2 = w1 + Lw;
  // Hanning window of two periods scaled to sum to Lw, and its sine-modulated companion.
  const double gain = static_cast<double>(2 * static_cast<uint64_t>(Lw)) / static_cast<double>(Lw - 1);
  if (fast) {
    // cos and sin of i s, s = 2 pi/(Lw - 1), by rotation re-anchored every 32 samples.
    const double st = k2Pi / static_cast<double>(Lw - 1);
    const double cs = std::cos(st), ss = std::sin(st);
    double co = 1.0, si = 0.0;
    for (uint32_t i = 0; i < Lw; ++i) {
      if (i % 32 == 0) {
        co = std::cos(static_cast<double>(i) * st);
        si = std::sin(static_cast<double>(i) * st);
      }
      w1[i] = (0.5 - 0.5 * co) * gain;
      w2[i] = w1[i] * -si;
      const double cn = co * cs - si * ss;
      si = co * ss + si * cs;
      co = cn;
    }
  } else {
    winhanning(w1, Lw, 0);
    for (uint32_t i = 0; i < Lw; ++i) w1[i] = w1[i] * gain;
    wincomplementary(w1, w2, Lw);
  }

  // Positions i0 .. e-1 of the window lie inside the signal (position i = sample centre+i-Lw/2).
  const windowstretch st = centredstretch(x, nx, centre, Lw);
  const int64_t i0 = st.i0, e = st.e, base = st.base;
  const double mu = st.mean;

  // Amplitude of the fundamental over the stretch (cosine and sine by rotation).
  const double phi = k2Pi * f0 / fs;
  const double cphi = std::cos(phi), sphi = std::sin(phi);
  double re = 0.0, im = 0.0, co = 1.0, si = 0.0;
  for (int64_t i = i0; i < e; ++i) {
    const double d = x[base + i] - mu;
    re += d * co;
    im += d * si;
    const double nco = co * cphi - si * sphi;
    si = si * cphi + co * sphi;
    co = nco;
  }
  const double rn = re / Lw, in = im / Lw;
  const double u = std::sqrt(rn * rn + in * in);

  const double offset = mu - u;
  for (int64_t i = 0; i < i0; ++i) {
    logspec[i] = 0.0;
    second[i] = 0.0;
  }
  for (int64_t i = i0; i < e; ++i) {
    const double v = x[base + i] - offset;
    logspec[i] = w1[i] * v;
    second[i] = w2[i] * v;
  }
  for (int64_t i = e; i < N; ++i) {
    logspec[i] = 0.0;
    second[i] = 0.0;
  }

  double* scratch = wsn->scratch;
  const uint32_t half = N / 2;
  if (fast) {
    if (plan != nullptr && plan->n == N) {
      dofftrfast(*plan, logspec, second, 1);
    } else {
      fftr(static_cast<int32_t>(N), logspec, second);
    }
    const double floor = Lw * kPowerFloor;
    const uint64_t lw2 = static_cast<uint64_t>(Lw) * Lw;
    const double scale = 1.0 / (static_cast<double>(lw2) * f0);
    if (cpuhasavx2()) {
      strpowerlogavx2(logspec, second, N, floor, scale, logspec);
    } else {
      strpowerlogplain(logspec, second, N, floor, scale, logspec);
    }
    return 0;
  }
  for (uint32_t i = 0; i < N; ++i) scratch[i] = 0.0;
  fftr(static_cast<int32_t>(N), logspec, scratch);
  for (uint32_t k = 0; k <= half; ++k) logspec[k] = logspec[k] * logspec[k] + scratch[k] * scratch[k];

  for (uint32_t i = 0; i < N; ++i) scratch[i] = 0.0;
  fftr(static_cast<int32_t>(N), second, scratch);
  const double floor = Lw * kPowerFloor;
  const uint64_t lw2 = static_cast<uint64_t>(Lw) * Lw;
  const double scale = 1.0 / (static_cast<double>(lw2) * f0);
  for (uint32_t k = 0; k <= half; ++k) {
    double P = logspec[k] + second[k] * second[k] + scratch[k] * scratch[k];
    if (P < floor) P = floor;
    logspec[k] = 0.5 * std::log(P * scale);
    if (k != 0 && k != half) logspec[N - k] = logspec[k];
  }
  return 0;
}

}  // namespace

int getstraightlogspectrum(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
                           double* logspec, double* second, memna* wsn, std::vector<double>* winblock) {
  return straightspectrum(x, nx, fs, centre, f0, N, logspec, second, wsn, winblock, false);
}

int getstraightlogspectrumfast(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
                               double* logspec, double* second, memna* wsn, std::vector<double>* winblock,
                               const fftplan* plan) {
  return straightspectrum(x, nx, fs, centre, f0, N, logspec, second, wsn, winblock, true, plan);
}

namespace {

// Warping of the cut cepstrum by the matrix rows: c[m] = sum_(n = 0 .. M1) cep[n] W[n][m] (W of
// P1 columns), each c[m] summed in the order of n, four coefficients per vector.
BRISVANE_KERNEL void cepwarpbody(const double* cep, uint64_t M1, const double* W, uint64_t P1, double* c) {
  uint64_t m = 0;
  for (; m + 4 <= P1; m += 4) {
    v4d acc = splat4(0.0);
    for (uint64_t n = 0; n <= M1; ++n) acc = acc + splat4(cep[n]) * load4(W + n * P1 + m);
    store4(c + m, acc);
  }
  for (; m < P1; ++m) {
    double acc = 0.0;
    for (uint64_t n = 0; n <= M1; ++n) acc = acc + cep[n] * W[n * P1 + m];
    c[m] = acc;
  }
}
BRISVANE_AVX2 void cepwarpavx2(const double* cep, uint64_t M1, const double* W, uint64_t P1, double* c) {
  cepwarpbody(cep, M1, W, P1, c);
}
void cepwarpplain(const double* cep, uint64_t M1, const double* W, uint64_t P1, double* c) {
  cepwarpbody(cep, M1, W, P1, c);
}

// Warped cepstrum of the log spectrum y = spectrum[0 .. N/2] (symmetric) cut at M1 < N/2.
// The real cepstrum of an even log spectrum is its cosine transform,
//   C[k] = y[0] + (-1)^k y[H] + 2 sum_(n=1..H-1) y[n] cos(pi k n / H),  H = N/2,
// taken here by a real transform of H points (half the work of the packed N-point one):
// with u[0] = (y[0] + y[H])/2 and, for 0 < n < H, u[n] = (y[n] + y[H-n])/2 - sin(pi n/H)
// (y[n] - y[H-n]), the transform G of u gives C[2k] = 2 Re G[k] and the odd terms by the
// running sum C[2k+1] = C[2k-1] - 2 Im G[k] from C[1] = y[0] - y[H] + 2 sum_(0<n<H/2)
// cos(pi n/H) (y[n] - y[H-n]). Then c^[n] = C[n]/N, and c = sum_n c^'[n] W[n] (c^'[0]
// halved, c0 doubled) with the warping matrix. The sines and cosines are the noise
// workspace's tables of N (e^(-j 2 pi k/N), k <= N/4).
void truncatedcepstrumfast(double* spectrum, double* second, uint32_t N, uint32_t M1, uint32_t order, double* c,
                           const memcc* ws) {
  const uint32_t H = N / 2;
  if (ws->cepplan.N != H || H < 2) {
    for (uint32_t k = 1; k < H; ++k) spectrum[N - k] = spectrum[k];
    logspec2cc(spectrum, second, N, M1, order, c, ws->matalpha);
    return;
  }
  const uint32_t q = H / 2;
  const double* cw = ws->na->fastcos.data();
  const double* sw = ws->na->fastsin.data();  // -sin(2 pi k/N)
  double* y = spectrum;
  double odd = 0.5 * (y[0] - y[H]);
  y[0] = 0.5 * (y[0] + y[H]);
  for (uint32_t n = 1; n < q; ++n) {
    const double a = y[n], b = y[H - n];
    const double h = 0.5 * (a + b), d = a - b;
    y[n] = h + sw[n] * d;
    y[H - n] = h - sw[n] * d;
    odd += cw[n] * d;
  }
  double* re = second;
  double* im = second + q + 1;
  rfftfast(ws->cepplan, y, re, im);
  const double sc = 2.0 / N;
  for (uint32_t k = 0; k <= M1; ++k) {
    if ((k & 1) == 0) {
      spectrum[k] = re[k / 2] * sc;
    } else {
      if (k > 1) odd -= im[k / 2];
      spectrum[k] = odd * sc;
    }
  }
  const uint64_t P1 = static_cast<uint64_t>(order) + 1;
  spectrum[0] = 0.5 * spectrum[0];
  if (cpuhasavx2()) {
    cepwarpavx2(spectrum, M1, ws->warpmat.data(), P1, c);
  } else {
    cepwarpplain(spectrum, M1, ws->warpmat.data(), P1, c);
  }
  c[0] = c[0] * 2.0;
}

}  // namespace

namespace {

// Last cepstral index M1 the pitch-adaptive method keeps: voiced frames stop below two thirds
// of the pitch period (floor(fs/(1.5 f0)) samples), so that the harmonic ripple does not enter
// the envelope; unvoiced frames keep N/2.
uint32_t strcepstrumlength(double fs, double f0, uint32_t N) {
  uint32_t M1 = N / 2;
  if (f0 > 0.0) {
    const uint32_t g = static_cast<uint32_t>(std::floor(fs / (1.5 * f0)));
    if (g <= M1) M1 = g;
  }
  return M1;
}

}  // namespace

int getstrmgc(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
              double* spectrum, double* second, uint32_t order, double* c, double alpha, memcc* ws) {
  if (!framecheck(x, nx, fs, N, spectrum, second, c, ws) || !alphaok(alpha)) {
    zerocc(c, order);
    return -1;
  }
  f0 = strf0(f0, fs);
  if (fastready(ws, N, order, alpha)) {
    if (getstraightlogspectrumfast(x, nx, fs, centre, f0, N, spectrum, second, ws->na.get(), &ws->strwin,
                                   &ws->strplan) != 0) {
      zerocc(c, order);
      return -1;
    }
    const uint32_t M1 = strcepstrumlength(fs, f0, N);
    if (M1 == N / 2) {
      logspec2ccfast(spectrum, N, order, c, ws->ccmat.data());
    } else {
      truncatedcepstrumfast(spectrum, second, N, M1, order, c, ws);
    }
    return 0;
  }
  if (getstraightlogspectrum(x, nx, fs, centre, f0, N, spectrum, second, ws->na.get(), &ws->strwin) != 0) {
    zerocc(c, order);
    return -1;
  }
  logspec2cc(spectrum, second, N, strcepstrumlength(fs, f0, N), order, c, alpha);
  return 0;
}

namespace {

// The cepstral stream on the documented arithmetic (fast = false) or the fast routes.
int runccs(const double* x, uint32_t nx, double fs, uint32_t shift, uint32_t first, uint32_t frames,
           const double* f0, uint32_t fftmin, uint32_t order, double* cc, double alpha, uint8_t method, bool fast) {
  if (frames > 0 && (f0 == nullptr || cc == nullptr || (x == nullptr && nx > 0))) return -1;
  if (!fsok(fs)) return -1;
  // Lowest voiced f0 of the track: it sizes the harmonic workspace and the FFT.
  double f0min = kF0MinDefault;
  for (uint32_t i = 0; i < frames; ++i) {
    const double v = voicedf0(f0[i], fs);
    if (v > 0.0 && v < f0min) f0min = v;
  }
  const uint32_t N = ccfftlength(fs, f0min, fftmin);
  if (N == 0) return -1;
  const uint32_t Ln = naframesize(fs);
  auto ws = memcccreate(fs, f0min, Ln, N);
  if (ws == nullptr) return -1;
  // The second array is also the warping's work buffer of order+1 values, which can exceed N
  // for a high order with a short transform.
  const size_t secondlen = std::max(static_cast<size_t>(N), static_cast<size_t>(order) + 1);
  std::vector<double> scratch(static_cast<size_t>(N) + secondlen);
  double* spectrum = scratch.data();
  double* second = scratch.data() + N;

  // Method scratch sized for the worst frame of the track, so that the frame loop allocates nothing.
  const uint64_t P1 = static_cast<uint64_t>(order) + 1;
  if (method == 1) {
    const int K = hanoharms(fs, fs, f0min);
    ws->lsr.resize(std::max(static_cast<uint64_t>(K > 0 ? K : 0) * P1 + 2 * P1 * P1, P1 * P1 + 15 * P1));
  } else if (method == 2) {
    ws->strwin.resize(2 * static_cast<uint64_t>(getwinlengthnperiodsodd(2.0, f0min, fs)));
    if (fast && N >= 2) {
      // Tables of the two transforms of every frame, made once (a failure leaves fftr in use).
      fftplancreate(N, &ws->strplan);
      rfftplancreate(N / 2, &ws->cepplan);
    }
  }

  if (fast && alphaok(alpha)) {
    // Tables made once for the whole stream, so that the frame loop allocates nothing.
    const uint64_t size = (static_cast<uint64_t>(N) / 2 + 1) * P1;
    ws->ccmat.resize(size);
    ws->warpmat.resize(size);
    ws->tables.resize(3 * (static_cast<uint64_t>(N) / 2 + 1));
    if (logspec2ccmatrix(N, order, alpha, ws->warpmat.data(), ws->ccmat.data()) == 0 &&
        memnafastprepare(ws->na.get(), N) == 0) {
      ws->fast = true;
      ws->matN = N;
      ws->matorder = order;
      ws->matalpha = alpha;
    }
  }

  using framemethod = int (*)(const double*, uint32_t, double, uint32_t, double, uint32_t, double*, double*,
                              uint32_t, double*, double, memcc*);
  framemethod run = getharmmgc;
  if (method == 2) {
    run = getstrmgc;
  } else if (method == 1) {
    run = getharmrdc;
  }
  for (uint32_t i = 0; i < frames; ++i) {
    // Centres past 2^32 - 1 lie beyond any signal: clamp, the frame reads zeros either way.
    const uint64_t centre64 = static_cast<uint64_t>(first) + static_cast<uint64_t>(i) * shift;
    const uint32_t centre = centre64 > std::numeric_limits<uint32_t>::max()
                                ? std::numeric_limits<uint32_t>::max()
                                : static_cast<uint32_t>(centre64);
    run(x, nx, fs, centre, f0[i], N, spectrum, second, order, cc + static_cast<uint64_t>(i) * P1, alpha,
        ws.get());
  }
  ws = memccdestroy(std::move(ws));
  return alphaok(alpha) ? 0 : -1;
}

}  // namespace

int waveform2ccs(const double* x, uint32_t nx, double fs, uint32_t shift, uint32_t first, uint32_t frames,
                 const double* f0, uint32_t fftmin, uint32_t order, double* cc, double alpha, uint8_t method) {
  return runccs(x, nx, fs, shift, first, frames, f0, fftmin, order, cc, alpha, method, false);
}

int waveform2ccsfast(const double* x, uint32_t nx, double fs, uint32_t shift, uint32_t first, uint32_t frames,
                     const double* f0, uint32_t fftmin, uint32_t order, double* cc, double alpha, uint8_t method) {
  return runccs(x, nx, fs, shift, first, frames, f0, fftmin, order, cc, alpha, method, true);
}

}  // namespace brisvane
