// Harmonic analysis: least-squares fit of the harmonics of f0 to a Hamming-windowed frame,
// the pitch refinement that also fits a linear change of each harmonic across the frame,
// and the harmonic log spectrum interpolated from the fitted amplitudes.
#include "analysis/harmonicanalysis.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "analysis/noiseanalysis.h"
#include "dsp/matvect.h"
#include "dsp/simd.h"
#include "dsp/windowing.h"

namespace brisvane {

namespace {

using idx = std::size_t;

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

// Frames with f0 at or above this frequency all use its two-period length (161 samples at
// 16 kHz): a longer window than two periods would smear the harmonics of high voices less
// than it would blur their time variation.
constexpr double kFrameF0Cap = 200.0;

// Highest harmonic frequency used by the pitch refinement: the low harmonics carry most
// of the energy of voiced speech and are the least disturbed by aspiration noise.
constexpr double kRefineFmax = 1000.0;

// Largest relative change of f0 accepted from one refinement step; larger moves are
// taken as a failed fit (octave error, noise) rather than a correction.
constexpr double kMaxStep = 0.2;
// Relative change below which the refinement has converged.
constexpr double kConverged = 0.001;

// Lowest f0 (Hz) the refinement workspace is ever made for: half the lowest f0 the
// command accepts as F0MIN (20 Hz), since a step at f0 needs a workspace made for f0/2.
constexpr double kRefineFloor = 10.0;

// Largest workspace block accepted (64-bit floats, 16 GiB): far above any speech setting;
// creation refuses beyond it instead of attempting an absurd allocation.
constexpr uint64_t kMaxBlock = uint64_t{1} << 31;

// Kernel phase below which the interpolation weight is taken as exactly 1. The phase is
// accumulated bin by bin and the sine comes from a recurrence, so at a harmonic that falls
// on a bin both are rounding residues of about 1e-15 whose ratio is meaningless; the true
// weight there differs from 1 by less than theta^2/5 (2e-13 at this bound), while above it
// the recurrence's absolute error (about 1e-14 after a few hundred bins) stays below 1e-8
// of sin(theta)/theta.
constexpr double kThetaZero = 1e-6;
// Distance (rad of kernel phase) from a source within which a bin is treated as "on the
// harmonic" by the fast log spectrum (see getharmoniclogspectrumfast).
constexpr double kNearBin = 1e-3;

// Loud failure of an internal write that would leave the workspace block. Compiled in
// debug and sanitizer builds only; the capacity checks at the entry points are meant to
// make it unreachable.
#ifdef BRISVANE_BOUNDS_CHECKS
void inblock(const memha* ws, const double* p, uint64_t count, const char* what) {
  const double* lo = ws->block.data();
  const double* hi = lo + ws->block.size();
  if (p < lo || p > hi || count > static_cast<uint64_t>(hi - p)) {
    std::fprintf(stderr, "harmonic workspace overrun: %s (%llu values)\n", what,
                 static_cast<unsigned long long>(count));
    std::abort();
  }
}
#define HA_INBLOCK(ws, p, count, what) inblock((ws), (p), (count), (what))
#else
#define HA_INBLOCK(ws, p, count, what) ((void)0)
#endif

bool positivefinite(double v) { return std::isfinite(v) && v > 0.0; }

// Whether a fit with frame length N, `rows` complex basis rows and square matrices of size
// B (`mats` of them in each of gram and inv) fits the workspace. proj and coef hold
// `vecs` vectors of B complex values each, at the start and the middle of gram's area.
bool fits(const memha* ws, uint32_t N, uint64_t rows, uint64_t B, uint64_t mats, uint64_t vecs) {
  if (ws == nullptr || N == 0 || N > ws->nws) return false;
  const uint64_t M = ws->M;
  if (rows > M) return false;
  if (mats * B * B > M * M) return false;
  return M * M / 2 + 2 * vecs * B <= M * M && 2 * vecs * B <= M * M / 2;
}

// Frame length of the fit at f0: two periods below 200 Hz, the 200 Hz length above.
uint32_t fitframesize(double fs, double f0) { return haframesize(fs, f0 < kFrameF0Cap ? f0 : kFrameF0Cap); }

// Windowed frame around centre with zeros where it reaches beyond the signal:
// frame[t] = x[centre - L + t] * w[t]. Returns the number of products not equal to 0
// (a NaN counts as non-zero).
uint32_t fillframe(const double* x, uint32_t len, uint32_t centre, uint32_t N, const double* w, double* frame) {
  const int64_t L = N / 2;
  const int64_t first = static_cast<int64_t>(centre) - L;  // signal index of column 0
  int64_t start = centre < L ? L - centre : 0;
  int64_t end = static_cast<int64_t>(centre) + L > static_cast<int64_t>(len) - 1
                    ? L + static_cast<int64_t>(len) - static_cast<int64_t>(centre)
                    : static_cast<int64_t>(N);
  end = std::clamp<int64_t>(end, 0, N);
  start = std::min<int64_t>(start, end);
  uint32_t nonzero = 0;
  for (int64_t t = 0; t < start; ++t) frame[t] = 0.0;
  for (int64_t t = start; t < end; ++t) {
    frame[t] = x[first + t] * w[t];
    if (!(frame[t] == 0.0)) ++nonzero;
  }
  for (int64_t t = end; t < N; ++t) frame[t] = 0.0;
  return nonzero;
}

// First row of the real symmetric Toeplitz Gram matrix of rows 0 .. B-1 of the complex
// matrix E (N columns), from the centre column and twice the left half (the right half is
// the conjugate of the left): g_i = Re E0L Re EiL + 2 sum_{t<L} (Re E0t Re Eit + Im E0t Im Eit).
void gramrow(const double* E, uint32_t N, uint32_t B, double* g) {
  const idx L = N / 2;
  const double* e0 = E;
  for (idx i = 0; i < B; ++i) {
    const double* ei = E + 2 * i * N;
    double s = 0.0;
    for (idx t = 0; t < L; ++t) s += e0[2 * t] * ei[2 * t] + e0[2 * t + 1] * ei[2 * t + 1];
    g[i] = e0[2 * L] * ei[2 * L] + 2.0 * s;
  }
}

// Completes a B x B Toeplitz matrix from its first row: T[i][j] = g_(j-i) with
// g_(-m) = sign * g_m (sign 1 symmetric, -1 antisymmetric).
void toeplitzfill(double* T, uint32_t B, double sign) {
  for (idx i = 1; i < B; ++i) {
    for (idx j = 0; j < B; ++j) {
      T[i * B + j] = j >= i ? T[j - i] : sign * T[i - j];
    }
  }
}

// Projections of the real frame on rows 0 .. B-1 of E (no conjugation): row n = B div 2 is
// real, rows 0 .. n-1 are computed and rows B-1-r are their conjugates.
void project(const double* E, uint32_t N, uint32_t B, const double* frame, double* p) {
  const idx n = B / 2;
  const double* en = E + 2 * n * N;
  double s = 0.0;
  for (idx t = 0; t < N; ++t) s += en[2 * t] * frame[t];
  p[2 * n] = s;
  p[2 * n + 1] = 0.0;
  for (idx r = 0; r < n; ++r) {
    const double* er = E + 2 * r * N;
    double re = 0.0;
    double im = 0.0;
    for (idx t = 0; t < N; ++t) re += er[2 * t] * frame[t];
    for (idx t = 0; t < N; ++t) im += er[2 * t + 1] * frame[t];
    p[2 * r] = re;
    p[2 * r + 1] = im;
    p[2 * (B - 1 - r)] = re;
    p[2 * (B - 1 - r) + 1] = -im;
  }
}

// ---- Fast fits -------------------------------------------------------------------------

// Harmonics processed together by the Chebyshev sums (independent recurrences side by side).
constexpr idx kLanes = 4;
// Steps of a sine/cosine rotation recurrence between two direct evaluations: bounds the
// recurrence's rounding drift to a few units in the last place.
constexpr idx kAnchor = 16;
// A Dirichlet kernel whose denominator sin(theta/2) is smaller than this is evaluated from
// theta reduced to (-pi, pi] instead of from the recurrences (where the quotient of two
// small rounded numbers would lose digits).
constexpr double kSmallDen = 0.01;

// Growth of the Levinson recursion (a lower bound of the Gram matrix's condition number)
// above which a fit is left to the documented solver. Speech frames stay far below it
// (1 to 1e5); it is reached when the highest harmonic lies within a few millihertz of fs/2,
// where that harmonic and its mirror image are almost the same row. There the coefficients
// are determined only to about 1e-7 by any route, and the documented route's rounding is
// reproduced by running it.
constexpr double kNearSingular = 1e6;

// Values of the fast work memory for frames up to nws samples and M basis rows (plain fit
// and refinement step).
uint64_t fastsize(uint64_t nws, uint64_t M) {
  const uint64_t half = nws / 2 + 1;
  return 8 * half + nws + 10 * (M + kLanes) + M * M;
}

// cos(k a) and sin(k a) for k = 0 .. m-1, by rotation re-anchored every kAnchor steps. The
// anchor periods are independent recurrences: four of them advance side by side, so that the
// latency of one rotation (a multiplication and an addition) is not paid once per angle.
// Every angle gets the same operations as in one serial pass.
void rotations(double a, idx m, double* c, double* s) {
  constexpr idx kSide = 4;  // anchor periods advanced together
  const double cs = std::cos(a), ss = std::sin(a);
  idx k0 = 0;
  for (; k0 + kSide * kAnchor <= m; k0 += kSide * kAnchor) {
    double ca[kSide], sa[kSide];
    for (idx l = 0; l < kSide; ++l) {
      const double d = static_cast<double>(k0 + l * kAnchor);
      ca[l] = std::cos(d * a);
      sa[l] = std::sin(d * a);
    }
    for (idx j = 0; j < kAnchor; ++j) {
      for (idx l = 0; l < kSide; ++l) {
        c[k0 + l * kAnchor + j] = ca[l];
        s[k0 + l * kAnchor + j] = sa[l];
        const double cn = ca[l] * cs - sa[l] * ss;
        sa[l] = ca[l] * ss + sa[l] * cs;
        ca[l] = cn;
      }
    }
  }
  double ca = 1.0, sa = 0.0;
  for (idx k = k0; k < m; ++k) {
    if (k % kAnchor == 0) {
      ca = std::cos(static_cast<double>(k) * a);
      sa = std::sin(static_cast<double>(k) * a);
    }
    c[k] = ca;
    s[k] = sa;
    const double cn = ca * cs - sa * ss;
    sa = ca * ss + sa * cs;
    ca = cn;
  }
}

// Right half of the raised-cosine window a0 - a1 cos(2 pi t/(N-1)) = a0 + a1 cos(pi tau/L),
// tau = 0 .. L (the window is symmetric about its centre).
void halfwindow(double a0, double a1, idx L, double* wh, double* tmp) {
  rotations(kPi / static_cast<double>(L), L + 1, wh, tmp);
  for (idx t = 0; t <= L; ++t) wh[t] = a0 + a1 * wh[t];
}

// foldframe's loop over tau = 1 .. L for a frame that lies inside the signal (xc = x + centre),
// four tau per vector (x(-tau) loaded in reverse), the rest one at a time, with the same
// operations per sample. Returns the number of windowed samples x w not equal to 0.
BRISVANE_KERNEL uint32_t foldinside(const double* xc, idx L, const double* wh, double* ce, double* co) {
  v4i count = v4i{0, 0, 0, 0};  // minus the count per lane (a true comparison is -1)
  const v4d zero = splat4(0.0);
  idx t = 1;
  for (; t + 3 <= L; t += 4) {
    const v4d w = load4(wh + t);
    const v4d vp = load4(xc + t) * w;
    const v4d vm = reverse4(load4(xc - t - 3)) * w;
    count += (vp != zero);
    count += (vm != zero);
    const v4d yp = vp * w;
    const v4d ym = vm * w;
    store4(ce + t, yp + ym);
    store4(co + t, yp - ym);
  }
  uint32_t nonzero = static_cast<uint32_t>(-(count[0] + count[1] + count[2] + count[3]));
  for (; t <= L; ++t) {
    const double vp = xc[t] * wh[t];
    const double vm = *(xc - t) * wh[t];
    nonzero += static_cast<uint32_t>(vp != 0.0) + static_cast<uint32_t>(vm != 0.0);
    const double yp = vp * wh[t];
    const double ym = vm * wh[t];
    ce[t] = yp + ym;
    co[t] = yp - ym;
  }
  return nonzero;
}

BRISVANE_AVX2 uint32_t foldinsideavx2(const double* xc, idx L, const double* wh, double* ce, double* co) {
  return foldinside(xc, L, wh, ce, co);
}

uint32_t foldinsideplain(const double* xc, idx L, const double* wh, double* ce, double* co) {
  return foldinside(xc, L, wh, ce, co);
}

// Even and odd parts about the centre of the weighted frame y = (x w) w (zeros beyond the
// signal): ce[0] = y(0), ce[tau] = y(tau) + y(-tau), co[tau] = y(tau) - y(-tau), co[0] = 0.
// Returns the number of windowed samples x w not equal to 0 (a NaN counts), as fillframe.
uint32_t foldframe(const double* x, uint32_t len, uint32_t centre, idx L, const double* wh, double* ce,
                   double* co) {
  uint32_t nonzero = 0;
  const int64_t c = centre;
  const int64_t n = len;
  const int64_t half = static_cast<int64_t>(L);
  if (c >= half && c + half < n) {
    // The whole frame lies inside the signal: no bounds tests (same values and count).
    const double* xc = x + centre;
    const double v0 = xc[0] * wh[0];
    nonzero += v0 != 0.0;
    ce[0] = v0 * wh[0];
    co[0] = 0.0;
    return nonzero + (cpuhasavx2() ? foldinsideavx2(xc, L, wh, ce, co) : foldinsideplain(xc, L, wh, ce, co));
  }
  auto sample = [&](int64_t i, double w) {
    if (i < 0 || i >= n) return 0.0;
    const double v = x[i] * w;
    if (!(v == 0.0)) ++nonzero;
    return v * w;
  };
  ce[0] = sample(c, wh[0]);
  co[0] = 0.0;
  for (idx t = 1; t <= L; ++t) {
    const int64_t tt = static_cast<int64_t>(t);
    const double yp = sample(c + tt, wh[t]);
    const double ym = sample(c - tt, wh[t]);
    ce[t] = yp + ym;
    co[t] = yp - ym;
  }
  return nonzero;
}

// Clenshaw recurrences of chebpair for the angles k0 .. k0 + 4V - 1 (V vectors of four lanes).
// p and q hold b_(t+1) and b_(t+2) (cosine sums) and r, u hold d_(t+1), d_(t+2) (sine sums);
// two steps per pass write the new value over the older one, so no value is copied. Every
// lane does the same IEEE operations in the same order whatever instructions carry it.
template <int V>
BRISVANE_KERNEL void chebblock(const double* ac, const double* as, idx L, idx k0, const double* ck, const double* sk,
                               double* outc, double* outs) {
  v4d x[V], p[V], q[V], r[V], u[V];
  for (int v = 0; v < V; ++v) {
    x[v] = 2.0 * load4(ck + k0 + 4 * v);
    p[v] = splat4(0.0);
    q[v] = p[v];
    r[v] = p[v];
    u[v] = p[v];
  }
  idx t = L;
  for (; t >= 2; t -= 2) {
    const v4d e1 = splat4(ac[t]), o1 = splat4(as[t]);
    for (int v = 0; v < V; ++v) {
      q[v] = e1 + x[v] * p[v] - q[v];
      u[v] = o1 + x[v] * r[v] - u[v];
    }
    const v4d e2 = splat4(ac[t - 1]), o2 = splat4(as[t - 1]);
    for (int v = 0; v < V; ++v) {
      p[v] = e2 + x[v] * q[v] - p[v];
      r[v] = o2 + x[v] * u[v] - r[v];
    }
  }
  if (t == 1) {  // odd L: one more step, after which q and u hold the newest values
    const v4d e1 = splat4(ac[1]), o1 = splat4(as[1]);
    for (int v = 0; v < V; ++v) {
      q[v] = e1 + x[v] * p[v] - q[v];
      u[v] = o1 + x[v] * r[v] - u[v];
      const v4d tq = q[v], tu = u[v];
      q[v] = p[v];
      u[v] = r[v];
      p[v] = tq;
      r[v] = tu;
    }
  }
  const v4d a0 = splat4(ac[0]);
  for (int v = 0; v < V; ++v) {
    const idx k = k0 + 4 * static_cast<idx>(v);
    store4(outc + k, a0 + load4(ck + k) * p[v] - q[v]);
    store4(outs + k, load4(sk + k) * r[v]);
  }
}

// One of the two Clenshaw recurrences of chebblock (kSine: the sine sums, else the cosine
// sums) for the angles k0 .. k0 + 4V - 1: half the state per angle, so twice the angles fit
// in the registers. Per lane the same operations as chebblock.
template <int V, bool kSine>
BRISVANE_KERNEL void chebone(const double* a, idx L, idx k0, const double* ck, const double* sk, double* out) {
  v4d x[V], p[V], q[V];
  for (int v = 0; v < V; ++v) {
    x[v] = 2.0 * load4(ck + k0 + 4 * v);
    p[v] = splat4(0.0);
    q[v] = p[v];
  }
  idx t = L;
  for (; t >= 2; t -= 2) {
    const v4d e1 = splat4(a[t]);
    for (int v = 0; v < V; ++v) q[v] = e1 + x[v] * p[v] - q[v];
    const v4d e2 = splat4(a[t - 1]);
    for (int v = 0; v < V; ++v) p[v] = e2 + x[v] * q[v] - p[v];
  }
  if (t == 1) {  // odd L: one more step, the newest value into p
    const v4d e1 = splat4(a[1]);
    for (int v = 0; v < V; ++v) {
      const v4d b = e1 + x[v] * p[v] - q[v];
      q[v] = p[v];
      p[v] = b;
    }
  }
  const v4d a0 = splat4(a[0]);
  for (int v = 0; v < V; ++v) {
    const idx k = k0 + 4 * static_cast<idx>(v);
    if constexpr (kSine) {
      store4(out + k, load4(sk + k) * p[v]);
    } else {
      store4(out + k, a0 + load4(ck + k) * p[v] - q[v]);
    }
  }
}

// Both recurrences of V vectors of angles from k0, one recurrence at a time (V chains in flight).
template <int V>
BRISVANE_KERNEL void chebsingle(const double* ac, const double* as, idx L, idx k0, const double* ck,
                                const double* sk, double* outc, double* outs) {
  chebone<V, false>(ac, L, k0, ck, sk, outc);
  chebone<V, true>(as, L, k0, ck, sk, outs);
}

// Twenty-four angles per block, one recurrence at a time: six four-lane chains in flight, enough
// to hide each step's three dependent operations behind the other chains (the adders stay busy),
// few enough that the chains' states stay in registers. The last one to eight vectors are split
// so that every block keeps at least six chains in flight where there are that many vectors.
// Every angle gets the same operations whatever block it is in.
BRISVANE_KERNEL void chebpairbody(const double* ac, const double* as, idx L, idx m, const double* ck,
                                  const double* sk, double* outc, double* outs) {
  idx v = (m + kLanes - 1) / kLanes;  // vectors of four angles
  idx k0 = 0;
  for (; v > 8; v -= 6, k0 += 6 * kLanes) chebsingle<6>(ac, as, L, k0, ck, sk, outc, outs);
  switch (v) {
    case 1: chebblock<1>(ac, as, L, k0, ck, sk, outc, outs); break;
    case 2: chebblock<2>(ac, as, L, k0, ck, sk, outc, outs); break;
    case 3: chebblock<3>(ac, as, L, k0, ck, sk, outc, outs); break;
    case 4: chebblock<4>(ac, as, L, k0, ck, sk, outc, outs); break;
    case 5: chebsingle<5>(ac, as, L, k0, ck, sk, outc, outs); break;
    case 6: chebsingle<6>(ac, as, L, k0, ck, sk, outc, outs); break;
    case 7:
      chebblock<3>(ac, as, L, k0, ck, sk, outc, outs);
      chebblock<4>(ac, as, L, k0 + 3 * kLanes, ck, sk, outc, outs);
      break;
    case 8:
      chebblock<4>(ac, as, L, k0, ck, sk, outc, outs);
      chebblock<4>(ac, as, L, k0 + 4 * kLanes, ck, sk, outc, outs);
      break;
    default: break;
  }
}

BRISVANE_AVX2 void chebpairavx2(const double* ac, const double* as, idx L, idx m, const double* ck, const double* sk,
                                double* outc, double* outs) {
  chebpairbody(ac, as, L, m, ck, sk, outc, outs);
}

void chebpairplain(const double* ac, const double* as, idx L, idx m, const double* ck, const double* sk,
                   double* outc, double* outs) {
  chebpairbody(ac, as, L, m, ck, sk, outc, outs);
}

// Chebyshev sums at the angles k om, k = 0 .. m-1 (ck, sk: cos and sin of k om, padded to a
// multiple of kLanes): outc[k] = sum_{tau=0..L} ac[tau] cos(k om tau) and outs[k] =
// sum_{tau=1..L} as[tau] sin(k om tau) = sin(k om) sum as[tau] U_(tau-1)(cos k om), both by
// Clenshaw's backward recurrence b = a + 2x b1 - b2, one angle per vector lane. outc and outs
// are written up to m rounded up to a multiple of kLanes.
void chebpair(const double* ac, const double* as, idx L, idx m, const double* ck, const double* sk, double* outc,
              double* outs) {
  static_assert(kLanes == 4, "one angle per lane of a four-lane vector");
  if (cpuhasavx2()) {
    chebpairavx2(ac, as, L, m, ck, sk, outc, outs);
  } else {
    chebpairplain(ac, as, L, m, ck, sk, outc, outs);
  }
}

// Projections of the folded frame on the harmonics k = 0 .. n of om (rad/sample):
// pre[k] + j pim[k] = sum_tau y(tau) e^{j k om tau}: the cosine part from the even part ce,
// the sine part from the odd part co (chebpair). pre and pim hold n + 1 + kLanes values (the
// tail is scratch); ck, sk likewise.
void projectfolded(const double* ce, const double* co, idx L, idx n, double om, double* pre, double* pim,
                   double* ck, double* sk) {
  const idx m = n + 1;
  const idx padded = (m + kLanes - 1) / kLanes * kLanes;
  rotations(om, padded, ck, sk);
  chebpair(ce, co, L, m, ck, sk, pre, pim);
  pim[0] = 0.0;
}

// Dirichlet kernel sum_{tau=-L..L} cos(theta tau) = sin((L+1/2) theta)/sin(theta/2) from theta
// reduced to (-pi, pi] (2L+1 at a multiple of 2 pi).
double dirichletreduced(double theta, idx L) {
  const double k = std::nearbyint(theta / kTwoPi);
  const double e = theta - k * kTwoPi;
  if (e == 0.0) return static_cast<double>(2 * L + 1);
  return std::sin((static_cast<double>(L) + 0.5) * e) / std::sin(0.5 * e);
}

// Per-call constants of gramrowraised: the window's squared-cosine coefficients A_|m| and the
// cosine and sine of |m| beta, beta = pi/(2L), for the shifts m = -2 .. 2.
struct GramConsts {
  double cb[3], sb[3], coefm[3];
  double om, Ld;
  idx L;
};

// g_i = sum_{m=-2..2} A_|m| D(i om + m pi/L) for one element from the rotated angles
// (cphi, sphi) = (cos, sin) Phi_i and (cpsi, spsi) = (cos, sin) psi_i, in increasing m.
double gramelement(const GramConsts& k, idx i, double cphi, double sphi, double cpsi, double spsi) {
  double sum = 0.0;
  for (int m = -2; m <= 2; ++m) {
    const idx a = static_cast<idx>(m < 0 ? -m : m);
    const double sgn = m < 0 ? -1.0 : 1.0;
    const double den = spsi * k.cb[a] + sgn * cpsi * k.sb[a];
    double D;
    if (std::fabs(den) < kSmallDen) {
      D = dirichletreduced(static_cast<double>(i) * k.om + static_cast<double>(m) * (kPi / k.Ld), k.L);
    } else {
      const double num = sphi * k.cb[a] + sgn * cphi * k.sb[a];
      D = (a % 2 == 1 ? -num : num) / den;
    }
    sum += k.coefm[a] * D;
  }
  return sum;
}

// gramelement for four consecutive elements, one per lane, with the same operations per lane
// (st: cos Phi, sin Phi, cos psi, sin psi of the four, four values each). Writes g[0 .. 3] and
// returns true, or returns false without writing when a denominator of any lane is below
// kSmallDen (that lane needs the reduced-angle evaluation).
BRISVANE_KERNEL bool gramlanes(const GramConsts& k, const double* st, double* g) {
  const v4d cphi = load4(st), sphi = load4(st + 4), cpsi = load4(st + 8), spsi = load4(st + 12);
  const v4d small = splat4(kSmallDen), minus = splat4(-kSmallDen);
  v4d den[5];
  v4i near = v4i{0, 0, 0, 0};
#pragma GCC unroll 5
  for (int m = -2; m <= 2; ++m) {
    const idx a = static_cast<idx>(m < 0 ? -m : m);
    const double sgn = m < 0 ? -1.0 : 1.0;
    const v4d d = spsi * splat4(k.cb[a]) + (splat4(sgn) * cpsi) * splat4(k.sb[a]);
    near |= (d < small) & (d > minus);
    den[m + 2] = d;
  }
  if ((near[0] | near[1] | near[2] | near[3]) != 0) return false;
  v4d sum = splat4(0.0);
#pragma GCC unroll 5
  for (int m = -2; m <= 2; ++m) {
    const idx a = static_cast<idx>(m < 0 ? -m : m);
    const double sgn = m < 0 ? -1.0 : 1.0;
    const v4d num = sphi * splat4(k.cb[a]) + (splat4(sgn) * cphi) * splat4(k.sb[a]);
    const v4d D = (a % 2 == 1 ? -num : num) / den[m + 2];
    sum += splat4(k.coefm[a]) * D;
  }
  store4(g, sum);
  return true;
}

// Elements whose rotation states are collected before they are evaluated: four anchor periods,
// so that the vector loads of the states do not wait for the scalar stores just made.
constexpr idx kGramChunk = 4 * kAnchor;

// The rotations of Phi_i and psi_i (re-anchored every kAnchor elements) have their states
// collected kGramChunk at a time, the chunk's anchor periods advancing side by side (independent
// recurrences, each element with the same operations as in one serial pass); each group of four
// elements is then evaluated in the lanes of a vector (divisions four at once), or element by
// element near a pole.
BRISVANE_KERNEL void gramrowbody(const GramConsts& k, double phistep, double psistep, idx B, double* g) {
  static_assert(kGramChunk % kAnchor == 0 && kAnchor % 4 == 0, "whole anchor periods and vectors per chunk");
  constexpr idx kSide = kGramChunk / kAnchor;  // anchor periods per chunk
  const double cP = std::cos(phistep), sP = std::sin(phistep);
  const double cQ = std::cos(psistep), sQ = std::sin(psistep);
  // Per group of four elements: cos Phi, sin Phi, cos psi, sin psi, four values each.
  double st[4 * kGramChunk];
  for (idx c0 = 0; c0 < B; c0 += kGramChunk) {
    const idx cnt = B - c0 < kGramChunk ? B - c0 : kGramChunk;
    const idx periods = (cnt + kAnchor - 1) / kAnchor;
    double cphi[kSide], sphi[kSide], cpsi[kSide], spsi[kSide];
    for (idx l = 0; l < periods; ++l) {
      const double di = static_cast<double>(c0 + l * kAnchor);
      cphi[l] = std::cos(di * phistep);
      sphi[l] = std::sin(di * phistep);
      cpsi[l] = std::cos(di * psistep);
      spsi[l] = std::sin(di * psistep);
    }
    for (idx j = 0; j < kAnchor; ++j) {
      for (idx l = 0; l < periods; ++l) {
        const idx e = l * kAnchor + j;  // element c0 + e
        if (e >= cnt) break;
        double* q = st + 16 * (e / 4) + e % 4;
        q[0] = cphi[l];
        q[4] = sphi[l];
        q[8] = cpsi[l];
        q[12] = spsi[l];
        const double cn = cphi[l] * cP - sphi[l] * sP;
        sphi[l] = cphi[l] * sP + sphi[l] * cP;
        cphi[l] = cn;
        const double cm = cpsi[l] * cQ - spsi[l] * sQ;
        spsi[l] = cpsi[l] * sQ + spsi[l] * cQ;
        cpsi[l] = cm;
      }
    }
    for (idx j0 = 0; j0 < cnt; j0 += 4) {
      const double* q = st + 4 * j0;
      const idx n = cnt - j0 < 4 ? cnt - j0 : 4;
      if (n == 4 && gramlanes(k, q, g + c0 + j0)) continue;
      for (idx j = 0; j < n; ++j) g[c0 + j0 + j] = gramelement(k, c0 + j0 + j, q[j], q[4 + j], q[8 + j], q[12 + j]);
    }
  }
}

BRISVANE_AVX2 void gramrowavx2(const GramConsts& k, double phistep, double psistep, idx B, double* g) {
  gramrowbody(k, phistep, psistep, B, g);
}

void gramrowplain(const GramConsts& k, double phistep, double psistep, idx B, double* g) {
  gramrowbody(k, phistep, psistep, B, g);
}

// First row of the Gram matrix of the harmonic basis for the raised-cosine window
// w = a0 + a1 cos(pi tau/L): g_i = sum_tau w^2 cos(i om tau), i = 0 .. B-1. With
// w^2 = A0 + 2 A1 cos(pi tau/L) + 2 A2 cos(2 pi tau/L) every term is a Dirichlet kernel:
// g_i = A0 D(i om) + A1 (D(i om + pi/L) + D(i om - pi/L)) + A2 (D(i om + 2pi/L) + D(i om - 2pi/L)),
// D(theta) = (-1)^m sin(Phi_i + m beta)/sin(psi_i + m beta) at theta = i om + m pi/L, with
// Phi_i = (L+1/2) i om, psi_i = i om/2, beta = pi/(2L). Phi_i and psi_i advance by rotation.
void gramrowraised(double a0, double a1, idx L, idx B, double om, double* g) {
  const double Ld = static_cast<double>(L);
  const double beta = kPi / (2.0 * Ld);
  const GramConsts k{{1.0, std::cos(beta), std::cos(2.0 * beta)},
                     {0.0, std::sin(beta), std::sin(2.0 * beta)},
                     {a0 * a0 + 0.5 * a1 * a1, a0 * a1, 0.25 * a1 * a1},
                     om,
                     Ld,
                     L};
  const double phistep = (Ld + 0.5) * om;
  const double psistep = 0.5 * om;
  if (cpuhasavx2()) {
    gramrowavx2(k, phistep, psistep, B, g);
  } else {
    gramrowplain(k, phistep, psistep, B, g);
  }
}

// Solves the harmonic least-squares system for n harmonics of om from the folded frame
// (ce, co over tau = 0 .. L) and the window coefficients (a0, a1): projections, Gram row and
// one centre-out Levinson solve; writes the 2n+1 complex coefficients in the layout of solvelsc
// into coef. f points to fast work memory of 2(n + 1 + kLanes) + 6(2n+1) values. 0, -1 for a
// singular system, 1 for a nearly singular one (see kNearSingular).
int solvefolded(const double* ce, const double* co, idx L, idx n, double om, double a0, double a1, double* f,
                double* coef) {
  const idx B = 2 * n + 1;
  double* g = f;
  // The solver's parity halves (n + 1 values each) where projectfolded's sine table was, its
  // 3B values of work memory after them, the projections last: 6B + 2(n + 1 + kLanes) in all.
  double* zs = g + B;
  double* za = zs + n + 1;
  double* work = g + 3 * B;
  double* pre = work + 3 * B;
  double* pim = pre + n + 1 + kLanes;
  // The cosine and sine tables of projectfolded go to g and the next B values (free until the
  // Gram row and the solve).
  projectfolded(ce, co, L, n, om, pre, pim, g, g + B);
  // Right-hand side: row r is harmonic n - r, its projection P_(n-r) with P_(-k) = conj P_k:
  // about the centre row n the real parts are the symmetric part (pre[d] at distance d), the
  // imaginary parts the antisymmetric one (pim[d] in the upper rows, r < n). The two parity
  // solutions are the real and imaginary parts of the coefficients.
  gramrowraised(a0, a1, L, B, om, g);
  double growth = 0.0;
  if (toeplitzsimsolvecentred(static_cast<uint32_t>(n), g, pre, pim, zs, za, work, &growth) != 0) return -1;
  if (!(growth <= kNearSingular)) return 1;
  for (idx r = 0; r <= n; ++r) {
    coef[2 * r] = zs[r];
    coef[2 * r + 1] = za[r];
  }
  for (idx r = n + 1; r < B; ++r) {
    coef[2 * r] = zs[B - 1 - r];
    coef[2 * r + 1] = -za[B - 1 - r];
  }
  return 0;
}

// Interpolation kernel of the harmonic log spectrum: a sinc with zeros on the other
// harmonics, tapered by a raised cosine to zero four harmonics away. State: theta,
// sin/cos theta, sin/cos theta/4, advanced from bin to bin by angle addition.
struct Kernel {
  double th, s, c, s4, c4;
  void start(double theta) {
    th = theta;
    s = std::sin(theta);
    c = std::cos(theta);
    s4 = std::sin(theta / 4.0);
    c4 = std::cos(theta / 4.0);
  }
  double value() const { return std::fabs(th) < kThetaZero ? 1.0 : 0.5 * (1.0 + c4) * s / th; }
  void advance(double w, double cw, double sw, double cq, double sq) {
    const double cn = c * cw - s * sw;
    const double sn = s * cw + c * sw;
    const double cn4 = c4 * cq - s4 * sq;
    const double sn4 = s4 * cq + c4 * sq;
    c = cn;
    s = sn;
    c4 = cn4;
    s4 = sn4;
    th += w;
  }
};

// Source k (value v at k*f0) added to spec[0 .. H] with the recurrent kernel, bins and
// folding as the harmonic log spectrum defines them; w = pi df/f0 and its cosines and sines
// (of w and w/4).
void addsource(double* spec, idx H, idx k, double v, double f0, double df, double w, double cw, double sw,
               double cq, double sq) {
  const double fk = static_cast<double>(k) * f0;
  const double hiv = std::ceil((fk + 4.0 * f0) / df) - 1.0;
  const int64_t hi = hiv > static_cast<double>(H) ? static_cast<int64_t>(H) : static_cast<int64_t>(hiv);
  Kernel ker{};
  bool started = false;
  int64_t lo;
  if (k < 4) {
    lo = k == 0 ? 0 : static_cast<int64_t>(std::ceil((4.0 * f0 - fk) / df) - 1.0);
    // Part of the kernel below 0 Hz, folded onto the positive bins (frequency -j df). Bins
    // above N/2 are only filled by the final mirror, so they receive nothing here.
    for (int64_t j = lo; j >= 1; --j) {
      if (!started) {
        ker.start(kPi * (-static_cast<double>(j) * df - fk) / f0);
        started = true;
      } else {
        ker.advance(w, cw, sw, cq, sq);
      }
      if (j <= static_cast<int64_t>(H)) spec[j] += v * ker.value();
    }
    lo = 0;
  } else {
    lo = static_cast<int64_t>(std::floor((fk - 4.0 * f0) / df)) + 1;
  }
  for (int64_t j = lo; j <= hi; ++j) {
    if (!started) {
      ker.start(kPi * (static_cast<double>(j) * df - fk) / f0);
      started = true;
    } else {
      ker.advance(w, cw, sw, cq, sq);
    }
    spec[j] += v * ker.value();
  }
}

// Kernel of the fast harmonic log spectrum on bins j = lo .. hi of one source k, four bins
// per step: with theta = j w - k pi (folded pass: theta = -j w - k pi, the frequency -j df),
// sin(theta) = (-1)^k sin(j w) and cos(theta/4) = cos(j w/4) cos(k pi/4) + sin(j w/4)
// sin(k pi/4) (folded: the sine terms change sign), so the weight needs only the per-bin
// tables c4, s4, s1. Every lane does the same operations as the one-bin tail, hence the same
// bits whichever instruction set carries it. sv = (-1)^k v and sgn = (-1)^k, so that the
// weight 1 at theta = 0 contributes v exactly. lo, hi lie within the tables and spec.
template <bool kFolded>
BRISVANE_KERNEL void sourcebins(double* spec, const double* c4, const double* s4, const double* s1, int64_t lo,
                                int64_t hi, double w, double kpi, double ck, double sk, double sgn, double sv) {
  int64_t j = lo;
  if (hi - lo >= 3) {
    const v4d wv = splat4(w), kv = splat4(kpi), ckv = splat4(ck), skv = splat4(sk), half = splat4(0.5);
    const v4d sgv = splat4(sgn), svv = splat4(sv), zp = splat4(kThetaZero), zn = splat4(-kThetaZero);
    const v4d one = splat4(1.0), four = splat4(4.0);
    const double jd = static_cast<double>(j);
    v4d jv = {jd, jd + 1.0, jd + 2.0, jd + 3.0};
    for (; j + 3 <= hi; j += 4) {
      const v4d c = load4(c4 + j);
      const v4d s = load4(s4 + j);
      const v4d sn = load4(s1 + j);
      v4d th, q, num;
      if constexpr (kFolded) {
        th = -jv * wv - kv;
        q = half + half * (c * ckv - s * skv);
        num = q * -sn;
      } else {
        th = jv * wv - kv;
        q = half + half * (c * ckv + s * skv);
        num = q * sn;
      }
      // |theta| < kThetaZero: weight sgn; the quotient is formed only where it is used.
      const auto near = (th < zp) & (th > zn);
      const v4d h = near ? sgv : num / (near ? one : th);
      store4(spec + j, load4(spec + j) + svv * h);
      jv += four;
    }
  }
  for (; j <= hi; ++j) {
    const double jd = static_cast<double>(j);
    double th, num;
    if constexpr (kFolded) {
      th = -jd * w - kpi;
      num = (0.5 + 0.5 * (c4[j] * ck - s4[j] * sk)) * -s1[j];
    } else {
      th = jd * w - kpi;
      num = (0.5 + 0.5 * (c4[j] * ck + s4[j] * sk)) * s1[j];
    }
    const double h = std::fabs(th) < kThetaZero ? sgn : num / th;
    spec[j] += sv * h;
  }
}

// One source of the fast harmonic log spectrum: value v, phase offset k pi, cos and sin of
// k pi/4, sgn = (-1)^k, sv = sgn v, the weight coefficients a = sv/2, b = a cos(k pi/4),
// c = a sin(k pi/4) (so that sv (1 + cos(theta/4))/2 = a + b cos(j w/4) + c sin(j w/4)), its
// bins lo .. hi, its folded bins 1 .. top (top = 0: none), and whether it takes the
// recurrent kernel (a bin within kNearBin rad of it; never source 0, whose weight 1 at bin 0
// the one-source kernel writes exactly).
struct Source {
  double v, kpi, ck, sk, sgn, sv, a, b, c;
  int64_t lo, hi, top;
  bool recurrent;
};

// Bins whose kernel phases j w are tabulated on the stack (transforms up to 2048 points; longer
// ones form j w in the bin loop, the same products).
constexpr idx kPhaseTable = 1025;

// Most sources sharing one division per bin: two, since each further source costs four
// products per bin, more than the division it saves.
constexpr int kGroup = 2;

// v in every lane, braced: splat4's broadcast goes through memory in the plain copy when the
// result is kept in an array.
BRISVANE_KERNEL v4d bracedsplat(double v) {
  const v4d r = {v, v, v, v};
  return r;
}

// Four 64-bit integer lanes from p.
BRISVANE_KERNEL v4i load4i(const long long* p) {
  v4i v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Numerator q = sin(j w) N and denominator D of G sources at bins j .. j+3 with kernel phases
// x (see groupbins), from the sources' splatted constants.
template <int G>
BRISVANE_KERNEL void groupterms(const double* c4, const double* s4, const double* s1, int64_t j, v4d x,
                                const v4d (&kp)[G], const v4d (&av)[G], const v4d (&bv)[G], const v4d (&cv)[G],
                                v4d& q, v4d& den) {
  const v4d c = load4(c4 + j);
  const v4d s = load4(s4 + j);
  v4d d = x - kp[0];
  v4d n = (av[0] + bv[0] * c) + cv[0] * s;
  for (int g = 1; g < G; ++g) {
    const v4d t = x - kp[g];
    n = n * t + ((av[g] + bv[g] * c) + cv[g] * s) * d;
    d = d * t;
  }
  q = load4(s1 + j) * n;
  den = d;
}

// The four-bin steps of groupbins from bin lo (lo + 3 <= H), kernel phases j w read from the
// table xt (kTable) or formed as jv w (the same products); returns the first bin after them.
// Software-pipelined: the next step's numerator and denominator are formed while this step's
// division is under way, so that the divider's latency overlaps the next step's products.
template <int G, bool kTable>
BRISVANE_KERNEL int64_t groupsteps(double* spec, const double* c4, const double* s4, const double* s1,
                                   const double* xt, int64_t lo, int64_t hi, int64_t H, double w, const Source* src) {
  v4d kp[G], av[G], bv[G], cv[G];
  for (int g = 0; g < G; ++g) {
    kp[g] = bracedsplat(src[g].kpi);
    av[g] = bracedsplat(src[g].a);
    bv[g] = bracedsplat(src[g].b);
    cv[g] = bracedsplat(src[g].c);
  }
  const v4d wv = splat4(w), four = splat4(4.0);
  const double jd = static_cast<double>(lo);
  v4d jv = {jd, jd + 1.0, jd + 2.0, jd + 3.0};
  const int64_t last = hi < H - 3 ? hi : H - 3;        // first bin of the last step
  const int64_t full = hi - 3 < last ? hi - 3 : last;  // first bin of the last step within hi
  int64_t j = lo;
  if (j > last) return j;
  v4d q, d;
  groupterms<G>(c4, s4, s1, j, kTable ? load4(xt + j) : jv * wv, kp, av, bv, cv, q, d);
  for (; j + 4 <= last; j += 4) {
    const v4d r = q / d;
    if constexpr (!kTable) jv += four;
    groupterms<G>(c4, s4, s1, j + 4, kTable ? load4(xt + j + 4) : jv * wv, kp, av, bv, cv, q, d);
    store4(spec + j, load4(spec + j) + r);
  }
  v4d r = q / d;
  if (j > full) {  // the step that passes hi (1 to 3 bins left): exact zeros beyond it
    constexpr long long kAll = -1;
    constexpr long long kKeep[3][4] = {{kAll, 0, 0, 0}, {kAll, kAll, 0, 0}, {kAll, kAll, kAll, 0}};
    r = reinterpret_cast<v4d>(reinterpret_cast<v4i>(r) & load4i(kKeep[hi - j]));
  }
  store4(spec + j, load4(spec + j) + r);
  return j + 4;
}

// The tapered sincs of G sources that all cover bins j = lo .. hi (lo <= hi <= H), none
// within kNearBin rad of a bin: with t_g = j w - k_g pi and n_g = a_g + b_g cos(j w/4) +
// c_g sin(j w/4), their sum is sin(j w) N/D, N = sum_g n_g prod_(l != g) t_l, D = prod_g t_g,
// built one source at a time (N <- N t_g + n_g D, D <- D t_g): one division for G
// contributions. |t_g| lies between kNearBin and 4 pi + 4 w on the covered bins and the three
// after them, so D neither overflows nor vanishes. Four bins per step; the step that passes
// hi adds exact zeros beyond it, and only bins whose step would pass H (where the tables
// end) go one at a time.
template <int G>
BRISVANE_KERNEL void groupbins(double* spec, const double* c4, const double* s4, const double* s1, const double* xt,
                               int64_t lo, int64_t hi, int64_t H, double w, const Source* src) {
  int64_t j = lo;
  if (j + 3 <= H) {
    j = xt != nullptr ? groupsteps<G, true>(spec, c4, s4, s1, xt, lo, hi, H, w, src)
                      : groupsteps<G, false>(spec, c4, s4, s1, xt, lo, hi, H, w, src);
  }
  for (; j <= hi; ++j) {
    const double x = static_cast<double>(j) * w;
    double d = x - src[0].kpi;
    double n = (src[0].a + src[0].b * c4[j]) + src[0].c * s4[j];
    for (int g = 1; g < G; ++g) {
      const double t = x - src[g].kpi;
      n = n * t + ((src[g].a + src[g].b * c4[j]) + src[g].c * s4[j]) * d;
      d = d * t;
    }
    spec[j] += (s1[j] * n) / d;
  }
}

// groupbins for G = 1 .. kGroup sources chosen at run time.
template <int G = kGroup>
BRISVANE_KERNEL void groupdispatch(double* spec, const double* c4, const double* s4, const double* s1,
                                   const double* xt, int64_t lo, int64_t hi, int64_t H, double w, const Source* src,
                                   int count) {
  if constexpr (G > 1) {
    if (count < G) {
      groupdispatch<G - 1>(spec, c4, s4, s1, xt, lo, hi, H, w, src, count);
      return;
    }
  }
  groupbins<G>(spec, c4, s4, s1, xt, lo, hi, H, w, src);
}

// A run of up to kGroup consecutive sources (lo and hi nondecreasing along the run) swept
// over its bins: each stretch of bins goes to groupbins with the sources covering it.
BRISVANE_KERNEL void runbins(double* spec, const double* c4, const double* s4, const double* s1, const double* xt,
                             int64_t H, double w, const Source* run, int n) {
  if (kGroup == 2 && n == 2 && run[0].lo < run[1].lo && run[1].lo <= run[0].hi && run[0].hi < run[1].hi) {
    // The usual run: the first source alone, both, the second alone.
    groupbins<1>(spec, c4, s4, s1, xt, run[0].lo, run[1].lo - 1, H, w, run);
    groupbins<2>(spec, c4, s4, s1, xt, run[1].lo, run[0].hi, H, w, run);
    groupbins<1>(spec, c4, s4, s1, xt, run[0].hi + 1, run[1].hi, H, w, run + 1);
    return;
  }
  int64_t j = run[0].lo;
  const int64_t end = run[n - 1].hi;
  int a = 0, b = 0;
  while (j <= end) {
    while (a < n && run[a].hi < j) ++a;
    while (b + 1 < n && run[b + 1].lo <= j) ++b;
    if (a > b) {  // no source covers bin j
      j = run[b + 1].lo;
      continue;
    }
    const int64_t next = b + 1 < n ? std::min(run[b + 1].lo, run[a].hi + 1) : run[a].hi + 1;
    groupdispatch(spec, c4, s4, s1, xt, j, next - 1, H, w, run + a, b - a + 1);
    j = next;
  }
}

// Source k with value v: its phase constants, bins and kernel choice (see Source), written
// straight into src (the run's slot: a copy of the whole record would be read back in wide
// pieces before its narrow stores have left the store queue).
BRISVANE_KERNEL void plansource(Source& src, idx k, double v, idx H, double f0, double df, double w) {
  // cos(k pi/4) and sin(k pi/4) repeat with period 8.
  constexpr double r = 0.7071067811865476;
  constexpr double ck8[8] = {1.0, r, 0.0, -r, -1.0, -r, 0.0, r};
  constexpr double sk8[8] = {0.0, r, 1.0, r, 0.0, -r, -1.0, -r};
  src.v = v;
  src.kpi = static_cast<double>(k) * kPi;
  src.ck = ck8[k % 8];
  src.sk = sk8[k % 8];
  src.sgn = (k % 2 == 0) ? 1.0 : -1.0;
  src.sv = src.sgn * v;
  src.a = 0.5 * src.sv;
  src.b = src.a * src.ck;
  src.c = src.a * src.sk;
  // A bin within kNearBin rad of the source: there sin(theta)/theta is a quotient of two
  // small numbers whose value depends on how theta was reached; this source takes the
  // recurrent kernel so that such bins get the documented weights.
  src.recurrent = false;
  if (k >= 1) {
    const double jn = std::nearbyint(src.kpi / w);
    src.recurrent = jn <= static_cast<double>(H) && std::fabs(jn * w - src.kpi) < kNearBin;
  }
  const double fk = static_cast<double>(k) * f0;
  const double hiv = std::ceil((fk + 4.0 * f0) / df) - 1.0;
  src.hi = hiv > static_cast<double>(H) ? static_cast<int64_t>(H) : static_cast<int64_t>(hiv);
  src.top = 0;
  if (k < 4) {
    const int64_t lo = k == 0 ? 0 : static_cast<int64_t>(std::ceil((4.0 * f0 - fk) / df) - 1.0);
    src.top = lo < static_cast<int64_t>(H) ? lo : static_cast<int64_t>(H);
    src.lo = 0;
  } else {
    src.lo = static_cast<int64_t>(std::floor((fk - 4.0 * f0) / df)) + 1;
    if (src.lo < 0) src.lo = 0;
  }
}

// A run of n sources added: swept by runbins when their bins are ordered as usual, else one
// source at a time.
BRISVANE_KERNEL void flushrun(double* spec, const double* c4, const double* s4, const double* s1, const double* xt,
                              int64_t H, double w, const Source* run, int n) {
  bool monotone = true;
  for (int g = 1; g < n; ++g) monotone = monotone && run[g].lo >= run[g - 1].lo && run[g].hi >= run[g - 1].hi;
  if (monotone && n > 0 && run[0].lo <= run[n - 1].hi) {
    runbins(spec, c4, s4, s1, xt, H, w, run, n);
  } else {
    for (int g = 0; g < n; ++g) {
      const Source& p = run[g];
      sourcebins<false>(spec, c4, s4, s1, p.lo, p.hi, w, p.kpi, p.ck, p.sk, p.sgn, p.sv);
    }
  }
}

// Per-bin tables of the fast harmonic log spectrum for j = 0 .. count-1: c[j] = cos(j a),
// s[j] = sin(j a) and s1[j] = sin(4 j a) = 4 s c (c^2 - s^2) (a = w/4 rad). Eight bins at a
// time: bin 128 m + 8 i + l is the anchor e^(i 128 m a) (from the mathematics library) times
// the lane offset e^(i l a) times i rotations by e^(i 8 a), so no value is more than 17
// roundings of complex products away from directly evaluated sines and cosines.
BRISVANE_KERNEL void bintables(double a, idx count, double* c, double* s, double* s1) {
  double oc[8], os[8];
  for (idx l = 0; l < 8; ++l) {
    oc[l] = l == 0 ? 1.0 : std::cos(static_cast<double>(l) * a);
    os[l] = l == 0 ? 0.0 : std::sin(static_cast<double>(l) * a);
  }
  const v4d oc0 = load4(oc), oc1 = load4(oc + 4), os0 = load4(os), os1 = load4(os + 4);
  const v4d sc = splat4(std::cos(8.0 * a)), ss = splat4(std::sin(8.0 * a));
  for (idx base = 0; base < count; base += 128) {
    const double acs = base == 0 ? 1.0 : std::cos(static_cast<double>(base) * a);
    const double asn = base == 0 ? 0.0 : std::sin(static_cast<double>(base) * a);
    const v4d ac = splat4(acs), as = splat4(asn);
    v4d c0 = ac * oc0 - as * os0, c1 = ac * oc1 - as * os1;
    v4d s0 = as * oc0 + ac * os0, s1v = as * oc1 + ac * os1;
    for (idx j = base; j < count && j < base + 128; j += 8) {
      if (count - j >= 8) {
        store4(c + j, c0);
        store4(c + j + 4, c1);
        store4(s + j, s0);
        store4(s + j + 4, s1v);
      } else {
        double tc[8], ts[8];
        store4(tc, c0);
        store4(tc + 4, c1);
        store4(ts, s0);
        store4(ts + 4, s1v);
        for (idx l = 0; l < count - j; ++l) {
          c[j + l] = tc[l];
          s[j + l] = ts[l];
        }
      }
      const v4d n0 = c0 * sc - s0 * ss, n1 = c1 * sc - s1v * ss;
      s0 = c0 * ss + s0 * sc;
      s1v = c1 * ss + s1v * sc;
      c0 = n0;
      c1 = n1;
    }
  }
  idx j = 0;
  const v4d four = splat4(4.0);
  for (; j + 4 <= count; j += 4) {
    const v4d cj = load4(c + j), sj = load4(s + j);
    store4(s1 + j, four * sj * cj * ((cj - sj) * (cj + sj)));
  }
  for (; j < count; ++j) s1[j] = 4.0 * s[j] * c[j] * ((c[j] - s[j]) * (c[j] + s[j]));
}

// All sources k = 0 .. K+4 of the fast harmonic log spectrum added to spec[0 .. H] (zeroed
// by the caller): values Lk[0 .. K], the sources above K carrying the running minimum. A
// source near a bin takes the recurrent kernel (addsource); source 0 (its weight 1 at bin 0)
// and the folded bins go one source at a time (sourcebins); the other sources go in runs of
// kGroup (runbins).
BRISVANE_KERNEL void spreadsourcesbody(double* spec, idx H, const double* Lk, idx K, double f0, double df,
                                       double* c4, double* s4, double* s1) {
  const double w = kPi * df / f0;
  bintables(w / 4.0, H + 1, c4, s4, s1);
  for (idx j = 0; j <= H; ++j) spec[j] = 0.0;
  const int64_t Hi = static_cast<int64_t>(H);
  // Kernel phases j w of bins 0 .. H (the products groupbins would form, bit for bit), when
  // they fit on the stack.
  double phase[kPhaseTable];
  const double* xt = nullptr;
  if (H < kPhaseTable) {
    const v4d wv = splat4(w), four = splat4(4.0);
    v4d jv = {0.0, 1.0, 2.0, 3.0};
    idx j = 0;
    for (; j + 3 <= H; j += 4) {
      store4(phase + j, jv * wv);
      jv += four;
    }
    for (; j <= H; ++j) phase[j] = static_cast<double>(j) * w;
    xt = phase;
  }
  double m = Lk[1];
  Source run[kGroup];
  int n = 0;
  for (idx k = 0; k <= K + 4; ++k) {
    double v = m;
    if (k <= K) {
      v = Lk[k];
      if (v < m) m = v;
    }
    Source& p = run[n];
    plansource(p, k, v, H, f0, df, w);
    if (p.recurrent) {
      addsource(spec, H, k, v, f0, df, w, std::cos(w), std::sin(w), std::cos(w / 4.0), std::sin(w / 4.0));
      continue;
    }
    sourcebins<true>(spec, c4, s4, s1, 1, p.top, w, p.kpi, p.ck, p.sk, p.sgn, p.sv);
    if (k == 0) {
      sourcebins<false>(spec, c4, s4, s1, p.lo, p.hi, w, p.kpi, p.ck, p.sk, p.sgn, p.sv);
      continue;
    }
    if (++n == kGroup) {
      flushrun(spec, c4, s4, s1, xt, Hi, w, run, n);
      n = 0;
    }
  }
  flushrun(spec, c4, s4, s1, xt, Hi, w, run, n);
}

BRISVANE_AVX2 void spreadsourcesavx2(double* spec, idx H, const double* Lk, idx K, double f0, double df,
                                     double* c4, double* s4, double* s1) {
  spreadsourcesbody(spec, H, Lk, K, f0, df, c4, s4, s1);
}

void spreadsourcesplain(double* spec, idx H, const double* Lk, idx K, double f0, double df, double* c4,
                        double* s4, double* s1) {
  spreadsourcesbody(spec, H, Lk, K, f0, df, c4, s4, s1);
}

}  // namespace

uint32_t haframesize(double fs, double f0) {
  if (!positivefinite(f0) || !positivefinite(fs)) return 0;
  return getwinlengthnperiodsodd(2.0, f0, fs);
}

int hanoharms(double fs, double fmax, double f0) {
  if (!positivefinite(f0) || !positivefinite(fs) || std::isnan(fmax)) return 0;
  if (f0 >= fmax) return 0;
  if (f0 >= fs / 2.0) return 0;
  const double limit = fmax > fs / 2.0 ? fs / 2.0 : fmax;
  const double k = std::ceil(limit / f0) - 1.0;
  return k >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(k);
}

std::unique_ptr<memha> memhacreate(double fs, double fmax, double f0low) {
  if (!positivefinite(fs) || !positivefinite(f0low)) return nullptr;
  const uint64_t nws = fitframesize(fs, f0low);
  if (nws == 0) return nullptr;
  const uint64_t K = static_cast<uint64_t>(hanoharms(fs, fmax, f0low));
  const uint64_t M = 2 * (K + 2);
  const uint64_t size = 2 * nws + 2 * M * nws + 2 * M * M;
  if (size > kMaxBlock) return nullptr;
  auto ws = std::make_unique<memha>();
  ws->block.resize(size);
  double* b = ws->block.data();
  ws->win = b;
  ws->frame = ws->win + nws;
  ws->basis = ws->frame + nws;
  ws->gram = ws->basis + 2 * M * nws;
  ws->inv = ws->gram + M * M;
  ws->proj = ws->gram;
  ws->coef = ws->gram + M * M / 2;
  ws->nws = static_cast<uint32_t>(nws);
  ws->K = static_cast<uint32_t>(K);
  ws->M = static_cast<uint32_t>(M);
  ws->fast.resize(fastsize(nws, M));
  ws->winhalves.resize(memha::kWinHalves * (nws / 2 + 1));
  return ws;
}

std::unique_ptr<memha> memhadestroy(std::unique_ptr<memha> ws) {
  ws.reset();
  return nullptr;
}

int hamatrixcreate1(double* E, uint32_t N, uint32_t n, double f0, double fs, const double* w) {
  if (E == nullptr || w == nullptr || n == 0 || N % 2 == 0) return -1;
  const idx C = N;
  const idx L = N / 2;
  const idx B = 2 * static_cast<idx>(n) + 1;
  // Constant term: the window itself.
  double* rc = E + 2 * n * C;
  for (idx t = 0; t < C; ++t) {
    rc[2 * t] = w[t];
    rc[2 * t + 1] = 0.0;
  }
  // Fundamental e^{j w tau} by the rotation recurrence (one cosine and one sine per matrix).
  const double om = kTwoPi * f0 / fs;
  const double cw = std::cos(om);
  const double sw = std::sin(om);
  double* r1 = E + 2 * (n - 1) * C;
  r1[2 * L] = 1.0;
  r1[2 * L + 1] = 0.0;
  double c = cw;
  double s = sw;
  for (idx k = 1; k <= L; ++k) {
    r1[2 * (L + k)] = c;
    r1[2 * (L + k) + 1] = s;
    r1[2 * (L - k)] = c;
    r1[2 * (L - k) + 1] = -s;
    const double cn = c * cw - s * sw;
    const double sn = c * sw + s * cw;
    c = cn;
    s = sn;
  }
  // Harmonic h = the harmonic h-1 times the fundamental, entry by entry.
  for (idx h = 2; h <= n; ++h) {
    double* rh = E + 2 * (n - h) * C;
    const double* rp = rh + 2 * C;  // harmonic h-1
    rh[2 * L] = 1.0;
    rh[2 * L + 1] = 0.0;
    for (idx k = 1; k <= L; ++k) {
      const double a = rp[2 * (L + k)];
      const double b = rp[2 * (L + k) + 1];
      const double cc = r1[2 * (L + k)];
      const double d = r1[2 * (L + k) + 1];
      const double re = a * cc - b * d;
      const double im = a * d + b * cc;
      rh[2 * (L + k)] = re;
      rh[2 * (L + k) + 1] = im;
      rh[2 * (L - k)] = re;
      rh[2 * (L - k) + 1] = -im;
    }
  }
  // Window the positive harmonics and mirror them into the negative ones.
  for (idx r = 0; r < n; ++r) {
    double* row = E + 2 * r * C;
    double* mir = E + 2 * (B - 1 - r) * C;
    for (idx t = 0; t < C; ++t) {
      row[2 * t] = row[2 * t] * w[t];
      row[2 * t + 1] = row[2 * t + 1] * w[t];
      mir[2 * t] = row[2 * t];
      mir[2 * t + 1] = -row[2 * t + 1];
    }
  }
  return 0;
}

int solvelsc(memha* ws, uint32_t N, uint32_t B) {
  if (ws == nullptr || B == 0 || B % 2 == 0 || N % 2 == 0) return -1;
  if (!fits(ws, N, B, B, 1, 1)) return -1;
  const idx n = B / 2;
  const idx C = N;
  const double* E = ws->basis;
  double* gram = ws->gram;
  double* inv = ws->inv;
  HA_INBLOCK(ws, gram, static_cast<uint64_t>(B) * B, "gram");
  HA_INBLOCK(ws, inv, static_cast<uint64_t>(B) * B, "inv");
  HA_INBLOCK(ws, ws->coef, 2 * static_cast<uint64_t>(B), "coef");

  gramrow(E, N, B, gram);
  toeplitzfill(gram, B, 1.0);
  if (toeplitzsiminv(B, gram, inv) != 0) return -1;

  double* p = ws->proj;
  project(E, N, B, ws->frame, p);

  double* coef = ws->coef;
  double s = 0.0;
  for (idx i = 0; i < B; ++i) s += inv[n * B + i] * p[2 * i];
  coef[2 * n] = s;
  coef[2 * n + 1] = 0.0;
  for (idx r = 0; r < n; ++r) {
    double re = 0.0;
    double im = 0.0;
    for (idx i = 0; i < B; ++i) re += inv[r * B + i] * p[2 * i];
    for (idx i = 0; i < B; ++i) im += inv[r * B + i] * p[2 * i + 1];
    coef[2 * r] = re;
    coef[2 * r + 1] = im;
    coef[2 * (B - 1 - r)] = re;
    coef[2 * (B - 1 - r) + 1] = -im;
  }

  // Residual: the frame minus the fitted harmonics (each pair of conjugate rows at once).
  double* frame = ws->frame;
  const double* en = E + 2 * n * C;
  const double a0 = coef[2 * n];
  for (idx t = 0; t < C; ++t) frame[t] -= a0 * en[2 * t];
  for (idx r = 0; r < n; ++r) {
    const double* er = E + 2 * r * C;
    const double cr = coef[2 * r];
    const double ci = coef[2 * r + 1];
    for (idx t = 0; t < C; ++t) frame[t] -= 2.0 * (cr * er[2 * t] + ci * er[2 * t + 1]);
  }
  return 0;
}

namespace {

// Frame length of a harmonic fit of n harmonics of f0 around centre, or 0 when the call cannot
// be served: f0 or n zero, f0 or fs not positive and finite, null pointers, centre outside the
// signal, a solver other than 1, or a frame or system beyond the workspace.
uint32_t checkedfitsize(const double* x, uint32_t len, double fs, uint32_t centre, double f0, uint32_t n,
                        const memha* ws, int method) {
  if (f0 == 0.0 || n == 0) return 0;
  if (!positivefinite(f0) || !positivefinite(fs) || x == nullptr || ws == nullptr) return 0;
  if (centre >= len || method != 1) return 0;
  const uint32_t N = fitframesize(fs, f0);
  if (N == 0 || N % 2 == 0) return 0;
  const uint64_t B = 2 * static_cast<uint64_t>(n) + 1;
  return fits(ws, N, B, B, 1, 1) ? N : 0;
}

// Amplitudes 2|c_k| and phases arg c_k of the harmonics k = 1 .. n from the complex
// coefficients c (layout of solvelsc: harmonic k at index n + k); either output may be null.
void amplitudesphases(const double* c, idx n, double* amp, double* pha) {
  if (amp != nullptr) {
    for (idx k = 1; k <= n; ++k) {
      const double re = c[2 * (n + k)];
      const double im = c[2 * (n + k) + 1];
      amp[k - 1] = 2.0 * std::sqrt(re * re + im * im);
    }
  }
  if (pha != nullptr) {
    for (idx k = 1; k <= n; ++k) pha[k - 1] = std::atan2(c[2 * (n + k) + 1], c[2 * (n + k)]);
  }
}

}  // namespace

int getharmonics(const double* x, uint32_t len, double fs, uint32_t centre, double f0, uint32_t n,
                 double* amp, double* pha, memha* ws, int method) {
  const uint32_t N = checkedfitsize(x, len, fs, centre, f0, n, ws, method);
  if (N == 0) return -1;
  const uint64_t B = 2 * static_cast<uint64_t>(n) + 1;
  HA_INBLOCK(ws, ws->win, N, "window");
  HA_INBLOCK(ws, ws->frame, N, "frame");
  HA_INBLOCK(ws, ws->basis, 2 * B * N, "basis");

  winhamming(ws->win, N, 1);
  if (fillframe(x, len, centre, N, ws->win, ws->frame) == 0) return -1;
  hamatrixcreate1(ws->basis, N, n, f0, fs, ws->win);
  if (solvelsc(ws, N, static_cast<uint32_t>(B)) != 0) return -1;

  amplitudesphases(ws->coef, n, amp, pha);
  return 0;
}

namespace {

// The right half (L + 1 values) of the fast fit's window a0 + a1 cos(pi tau/L) from the
// workspace's rows of recent half windows, made there (over the oldest row) when missing;
// tmp holds L + 1 values of scratch. Every fit passes the same a0 and a1, so the length
// alone names a row. A workspace without the rows (not made by memhacreate) gets the half
// made in own (L + 1 values).
const double* fithalfwindow(memha* ws, idx L, double a0, double a1, double* own, double* tmp) {
  const idx row = ws->nws / 2 + 1;
  if (L >= row || ws->winhalves.size() < memha::kWinHalves * row) {
    halfwindow(a0, a1, L, own, tmp);
    return own;
  }
  for (uint32_t r = 0; r < memha::kWinHalves; ++r) {
    if (ws->winL[r] == L) return ws->winhalves.data() + r * row;
  }
  const uint32_t r = ws->winnext;
  ws->winnext = (r + 1) % memha::kWinHalves;
  double* wh = ws->winhalves.data() + r * row;
  halfwindow(a0, a1, L, wh, tmp);
  ws->winL[r] = static_cast<uint32_t>(L);
  return wh;
}

}  // namespace

int getharmonicsfast(const double* x, uint32_t len, double fs, uint32_t centre, double f0, uint32_t n,
                     double* amp, double* pha, memha* ws, int method) {
  const uint32_t N = checkedfitsize(x, len, fs, centre, f0, n, ws, method);
  if (N == 0) return -1;
  const uint64_t B = 2 * static_cast<uint64_t>(n) + 1;
  const idx L = N / 2;
  if (ws->fast.size() < 3 * (L + 1) + 2 * (n + 1 + kLanes) + 6 * B) return -1;
  HA_INBLOCK(ws, ws->coef, 2 * B, "coef");

  // Unit-power Hamming window, the coefficients of winhamming's normalised form.
  constexpr double a0 = 0.8566;
  constexpr double a1 = 0.7297;
  double* ce = ws->fast.data() + L + 1;
  double* co = ce + L + 1;
  double* f = co + L + 1;
  const double* wh = fithalfwindow(ws, L, a0, a1, ws->fast.data(), f);
  if (foldframe(x, len, centre, L, wh, ce, co) == 0) return -1;
  const int solved = solvefolded(ce, co, L, n, kTwoPi * f0 / fs, a0, a1, f, ws->coef);
  if (solved < 0) return -1;
  if (solved > 0) return getharmonics(x, len, fs, centre, f0, n, amp, pha, ws, method);

  amplitudesphases(ws->coef, n, amp, pha);
  return 0;
}

double haweightslope(const double* w, uint32_t L, double fs) {
  if (w == nullptr || L == 0) return 0.0;
  const double a = (w[0] + w[L]) / 2.0;
  const double b = w[L] - a;
  const double num = 6.0 * (2.0 * a * a + b * b);
  const double den = 4.0 * kPi * kPi * a * a - 48.0 * a * b + 22.739208802178716 * b * b;
  return kPi * fs / L * std::sqrt(num / den);
}

int hamatrixcreate2(double* E, uint32_t N, uint32_t h, double f0, double fs, const double* w, double g) {
  if (hamatrixcreate1(E, N, h, f0, fs, w) != 0) return -1;
  const idx C = N;
  const idx L = N / 2;
  const idx B = 2 * static_cast<idx>(h) + 1;
  for (idx r = 0; r < B; ++r) {
    double* d = E + 2 * (B + r) * C;
    d[2 * L] = 0.0;
    d[2 * L + 1] = 0.0;
  }
  for (idx i = 1; i <= L; ++i) {
    const double c = static_cast<double>(i) * g / fs;
    for (idx r = 0; r < B; ++r) {
      const double* e = E + 2 * r * C;
      double* d = E + 2 * (B + r) * C;
      d[2 * (L + i)] = c * e[2 * (L + i)];
      d[2 * (L + i) + 1] = c * e[2 * (L + i) + 1];
      d[2 * (L - i)] = -c * e[2 * (L - i)];
      d[2 * (L - i) + 1] = -c * e[2 * (L - i) + 1];
    }
  }
  return 0;
}

int solvelsc2(memha* ws, uint32_t N, uint32_t nrows) {
  if (ws == nullptr || nrows % 4 != 2 || N % 2 == 0) return -1;
  const uint32_t B = nrows / 2;
  if (!fits(ws, N, nrows, B, 4, 2)) return -1;
  const idx h = B / 2;
  const idx C = N;
  const idx L = N / 2;
  const idx BB = static_cast<idx>(B) * B;
  HA_INBLOCK(ws, ws->gram, 4 * static_cast<uint64_t>(BB), "gram");
  HA_INBLOCK(ws, ws->inv, 4 * static_cast<uint64_t>(BB), "inv");
  HA_INBLOCK(ws, ws->coef, 4 * static_cast<uint64_t>(B), "coef");

  const double* E = ws->basis;
  const double* D = E + 2 * static_cast<idx>(B) * C;
  double* T1 = ws->gram;
  double* Y = T1 + BB;
  double* T2 = T1 + 2 * BB;
  double* W = T1 + 3 * BB;
  double* P = ws->inv;
  double* Q = P + BB;
  double* R = P + 2 * BB;
  double* S = P + 3 * BB;

  // 1. The three Toeplitz blocks of the normal equations: T1 = E E^H, T2 = D D^H and the
  //    antisymmetric cross term Y (sum of the ramp times w^2 sin(i w tau)).
  gramrow(E, N, B, T1);
  gramrow(D, N, B, T2);
  Y[0] = 0.0;
  for (idx i = 1; i < B; ++i) {
    const double* di = D + 2 * i * C;
    double s = 0.0;
    for (idx t = 0; t < L; ++t) s += E[2 * t + 1] * di[2 * t] - E[2 * t] * di[2 * t + 1];
    Y[i] = 2.0 * s;
  }
  toeplitzfill(T1, B, 1.0);
  toeplitzfill(Y, B, -1.0);
  toeplitzfill(T2, B, 1.0);

  // 2-7. P = (T1 + Y T2^-1 Y)^-1 and R = T2^-1 Y P.
  if (toeplitzsiminv(B, T2, W) != 0) return -1;
  simpmprodmat(W, Y, S, B, B, -1);
  simprodmat(Y, S, Q, B, B, 1);
  addmat(Q, T1, static_cast<uint32_t>(BB), 1.0);
  if (simgaussinv(B, Q, P) != 0) return -1;
  simpmprodmat(S, P, R, B, B, -1);
  // 8-12. S = (T2 + Y T1^-1 Y)^-1.
  if (toeplitzsiminv(B, T1, W) != 0) return -1;
  simpmprodmat(W, Y, T1, B, B, -1);
  simprodmat(Y, T1, W, B, B, 1);
  addmat(W, T2, static_cast<uint32_t>(BB), 1.0);
  if (simgaussinv(B, W, S) != 0) return -1;
  // 13. Q = -R^T.
  copymat2(Q, R, B, B, -1.0, 1);

  // 14. Projections on the plain and the ramped rows.
  double* p1 = ws->proj;
  double* p2 = p1 + 2 * static_cast<idx>(B);
  project(E, N, B, ws->frame, p1);
  project(D, N, B, ws->frame, p2);

  // 15. Block inverse [[P, -jQ], [-jR, S]] applied to [p1; p2].
  double* d1 = ws->coef;
  double* d2 = d1 + 2 * static_cast<idx>(B);
  for (idx r = 0; r <= h; ++r) {
    const double* Pr = P + r * B;
    const double* Qr = Q + r * B;
    const double* Rr = R + r * B;
    const double* Sr = S + r * B;
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
    double d = 0.0;
    for (idx i = 0; i < B; ++i) a += Pr[i] * p1[2 * i] + Qr[i] * p2[2 * i + 1];
    for (idx i = 0; i < B; ++i) c += Rr[i] * p1[2 * i + 1] + Sr[i] * p2[2 * i];
    if (r < h) {
      for (idx i = 0; i < B; ++i) b += Pr[i] * p1[2 * i + 1] - Qr[i] * p2[2 * i];
      for (idx i = 0; i < B; ++i) d += -Rr[i] * p1[2 * i] + Sr[i] * p2[2 * i + 1];
    }
    d1[2 * r] = a;
    d1[2 * r + 1] = b;
    d2[2 * r] = c;
    d2[2 * r + 1] = d;
    d1[2 * (B - 1 - r)] = a;
    d1[2 * (B - 1 - r) + 1] = -b;
    d2[2 * (B - 1 - r)] = c;
    d2[2 * (B - 1 - r) + 1] = -d;
  }
  return 0;
}

namespace {

// New f0 of a refinement step from the fitted amplitudes A_k (coef element h + k) and slopes
// V_k = g * (element B + h + k) of the h harmonics: the mean of the per-harmonic estimates f_k
// weighted by sqrt|A_k|. Method 2 reads f_k at the frame centre, f0 + delta/|A_k|^2; any
// other method takes the window-weighted frame mean of the instantaneous frequency divided by
// k, framesum(delta, rho, alpha, beta) = sum_t w[t] (f0 + delta / |A_k + V_k tau/fs|^2),
// scaled by invSw. A harmonic with no amplitude has weight 0 and no defined frequency: it takes
// no part. Returns f0 when no harmonic takes part or the mean is not finite.
template <typename FrameSum>
double weightedf0(const double* coef, idx h, idx B, double g, double f0, double fs, int8_t method,
                  double invSw, FrameSum framesum) {
  double num = 0.0;
  double den = 0.0;
  for (idx k = 1; k <= h; ++k) {
    const double ar = coef[2 * (h + k)];
    const double ai = coef[2 * (h + k) + 1];
    const double vr = g * coef[2 * (B + h + k)];
    const double vi = g * coef[2 * (B + h + k) + 1];
    const double rho = ar * ar + ai * ai;
    if (rho == 0.0) continue;
    const double delta = (ar * vi - ai * vr) / (kTwoPi * static_cast<double>(k));
    const double u = std::pow(rho, 0.25);
    double fk;
    if (method == 2) {
      fk = f0 + delta / rho;
    } else {
      const double alpha = 2.0 / fs * (ar * vr + ai * vi);
      const double beta = (vr * vr + vi * vi) / (fs * fs);
      fk = invSw * framesum(delta, rho, alpha, beta);
    }
    num += u * fk;
    den += u;
  }
  if (den == 0.0) return f0;
  const double fnew = num / den;
  return std::isfinite(fnew) ? fnew : f0;
}

// One refinement step from f0 (> 0, < fmax). Returns the weighted mean of the per-harmonic
// frequency estimates, 0 for an all-zero frame, or f0 itself when the step cannot be made
// (workspace too small, singular system, no harmonic energy, non-finite result).
double refinestep(const double* x, uint32_t len, double fs, uint32_t centre, double f0, double fmax, memha* ws,
                  int8_t method) {
  const int hi = hanoharms(fs, fmax, f0);
  const uint32_t N = fitframesize(fs, f0);
  if (hi < 1 || N == 0 || N % 2 == 0) return f0;
  const idx h = static_cast<idx>(hi);
  const uint64_t B = 2 * static_cast<uint64_t>(h) + 1;
  if (!fits(ws, N, 2 * B, B, 4, 2)) return f0;
  const idx L = N / 2;
  HA_INBLOCK(ws, ws->win, N, "window");
  HA_INBLOCK(ws, ws->frame, N, "frame");
  HA_INBLOCK(ws, ws->basis, 4 * B * N, "basis");

  double* w = ws->win;
  winhamming(w, N, 0);
  double Sw = 0.0;
  for (idx t = 0; t < N; ++t) Sw += w[t];
  if (fillframe(x, len, centre, N, w, ws->frame) == 0) return 0.0;

  const double g = haweightslope(w, static_cast<uint32_t>(L), fs);
  hamatrixcreate2(ws->basis, N, static_cast<uint32_t>(h), f0, fs, w, g);
  if (solvelsc2(ws, N, static_cast<uint32_t>(2 * B)) != 0) return f0;

  return weightedf0(ws->coef, h, B, g, f0, fs, method, 1.0 / Sw,
                    [&](double delta, double rho, double alpha, double beta) {
    double s = 0.0;
    for (idx t = 0; t < N; ++t) {
      const double tau = static_cast<double>(t) - static_cast<double>(L);
      s += w[t] * (f0 + delta / (rho + tau * (tau * beta + alpha)));
    }
    return s;
  });
}

// Reduced normal equations of one real half of the refinement's block system
// [[T1, s Y^T], [s Y, T2]] (s = 1: unknowns (symmetric, antisymmetric); s = -1:
// (antisymmetric, symmetric)), folded onto the free values of the symmetric and antisymmetric
// vectors: K = S^T M S (n1 + n2 square), with column c of S holding e_r + e_(B-1-r) (or e_h)
// for a symmetric and e_r - e_(B-1-r) for an antisymmetric unknown. The first block's
// unknowns are of the first kind for s = 1.
struct Folding {
  idx B, h;
  bool sym1;  // whether the first block's unknowns are symmetric
  idx n1() const { return sym1 ? h + 1 : h; }
  idx n2() const { return sym1 ? h : h + 1; }
};

// Row i of the Cholesky factor (lower triangle of K, n x n), elements j = j0 .. i: pivots
// below the diagonal divided by the pivot K(j, j); 0, or -1 for a diagonal that is not positive.
// Sums run in increasing k.
int cholrow(double* K, idx n, idx i, idx j0) {
  for (idx j = j0; j <= i; ++j) {
    double v = K[i * n + j];
    for (idx k = 0; k < j; ++k) v -= K[i * n + k] * K[j * n + k];
    if (i == j) {
      if (!(v > 0.0)) return -1;
      K[i * n + i] = std::sqrt(v);
    } else {
      K[i * n + j] = v / K[j * n + j];
    }
  }
  return 0;
}

// Solves K u = r by the Cholesky factorisation of the symmetric positive definite K (n x n,
// overwritten); 0, or -1 for a pivot that is not positive. Rows are factored two at a time:
// element (i, j) and (i+1, j) need the same row j and are independent, so their sums run side
// by side (each still in increasing k, so the factor is that of one row at a time).
int choleskysolve(double* K, idx n, double* r) {
  // An odd count leaves one row unpaired: the first, which has a single element.
  idx i = n % 2;
  if (i == 1 && cholrow(K, n, 0, 0) != 0) return -1;
  for (; i + 2 <= n; i += 2) {
    double* a = K + i * n;
    double* b = a + n;
    for (idx j = 0; j <= i; ++j) {
      const double* kj = K + j * n;
      double va = a[j];
      double vb = b[j];
      for (idx k = 0; k < j; ++k) {
        va -= a[k] * kj[k];
        vb -= b[k] * kj[k];
      }
      if (j == i) {
        if (!(va > 0.0)) return -1;
        a[i] = std::sqrt(va);
      } else {
        a[j] = va / kj[j];
      }
      b[j] = vb / kj[j];
    }
    if (cholrow(K, n, i + 1, i + 1) != 0) return -1;
  }
  for (idx p = 0; p < n; ++p) {
    double v = r[p];
    for (idx k = 0; k < p; ++k) v -= K[p * n + k] * r[k];
    r[p] = v / K[p * n + p];
  }
  for (idx p = n; p-- > 0;) {
    double v = r[p];
    for (idx k = p + 1; k < n; ++k) v -= K[k * n + p] * r[k];
    r[p] = v / K[p * n + p];
  }
  return 0;
}

// One real half of the block system: solves for (first block, second block) unknowns with
// right-hand sides q1, q2 (B values each, of the symmetry of their unknowns) and writes the
// expanded solutions into out1, out2 with stride 2 (the real or imaginary parts of coef). yext is
// scratch of 2B - 1 values.
int solvehalf(const Folding& F, const double* g1, const double* g2, const double* y, double s, const double* q1,
              const double* q2, double* K, double* r, double* yext, double* out1, double* out2) {
  const idx B = F.B, h = F.h, n1 = F.n1(), n2 = F.n2(), n = n1 + n2;
  const bool sym2 = !F.sym1;
  // Unknown c < n1: index c of the first block; else index c - n1 of the second. Antisymmetric
  // vectors have no centre unknown: their free indices are 0 .. h-1.
  // Diagonal blocks (Toeplitz, centrosymmetric): s_i^T T s_j = 2 (g_|i-j| + sigma g_(B-1-i-j))
  // for i, j < h; 2 g_(h-j) against the centre; g_0 at the centre.
  auto toeplitzfold = [&](const double* g, bool sym, idx off, idx cnt) {
    const double sg = sym ? 1.0 : -1.0;
    for (idx i = 0; i < cnt; ++i) {
      for (idx j = 0; j <= i; ++j) {
        double v;
        if (i == h && j == h) {
          v = g[0];
        } else if (i == h) {
          v = 2.0 * g[h - j];
        } else {
          v = 2.0 * (g[i - j] + sg * g[B - 1 - i - j]);
        }
        K[(off + i) * n + off + j] = v;
        K[(off + j) * n + off + i] = v;
      }
    }
  };
  toeplitzfold(g1, F.sym1, 0, n1);
  toeplitzfold(g2, sym2, n1, n2);
  // Lower left block s Y (entry (a, b) = s y_(b-a), y_(-m) = -y_m), folded by its four terms
  // (j, i), (B-1-j, i), (j, B-1-i), (B-1-j, B-1-i), each with the signs of its unknowns. ys holds
  // s y_m for m = -(B-1) .. B-1, so that every term is one signed load.
  double* ys = yext + (B - 1);
  for (idx m = 0; m < B; ++m) {
    ys[m] = s * y[m];
    if (m > 0) ys[-static_cast<std::ptrdiff_t>(m)] = -s * y[m];
  }
  const double s1 = F.sym1 ? 1.0 : -1.0;
  const double s2 = sym2 ? 1.0 : -1.0;
  const double s12 = s2 * s1;
  for (idx i = 0; i < n2; ++i) {
    const double* ri = ys - static_cast<std::ptrdiff_t>(i);            // ri[b] = s y_(b-i)
    const double* rm = ys - static_cast<std::ptrdiff_t>(B - 1 - i);    // rm[b] = s y_(b-(B-1-i))
    double* row = K + (n1 + i) * n;
    for (idx j = 0; j < n1; ++j) {
      const idx jm = B - 1 - j;
      double v = 0.0;
      v += ri[j];
      if (j != h) v += s1 * ri[jm];
      if (i != h) {
        v += s2 * rm[j];
        if (j != h) v += s12 * rm[jm];
      }
      row[j] = v;
      K[j * n + n1 + i] = v;
    }
  }
  for (idx a = 0; a < n; ++a) {
    const bool firsta = a < n1;
    const idx ia = firsta ? a : a - n1;
    const bool syma = firsta ? F.sym1 : sym2;
    const double* q = firsta ? q1 : q2;
    r[a] = (ia == h || !syma) ? (ia == h ? q[h] : q[ia] - q[B - 1 - ia]) : q[ia] + q[B - 1 - ia];
  }
  if (choleskysolve(K, n, r) != 0) return -1;
  for (idx a = 0; a < n; ++a) {
    const bool firsta = a < n1;
    const idx ia = firsta ? a : a - n1;
    const bool syma = firsta ? F.sym1 : sym2;
    double* out = firsta ? out1 : out2;
    out[2 * ia] = r[a];
    if (ia != h) out[2 * (B - 1 - ia)] = syma ? r[a] : -r[a];
  }
  if (!F.sym1) out1[2 * h] = 0.0;
  if (!sym2) out2[2 * h] = 0.0;
  return 0;
}

// refinestep by the fast route: the same frame, window, capacity checks, decisions and
// estimate; the Gram blocks and projections come from Chebyshev sums of the folded frame and
// window, and the block system is solved as two real symmetric positive definite systems
// folded onto the free values of the coefficients' symmetric and antisymmetric parts.
double refinestepfast(const double* x, uint32_t len, double fs, uint32_t centre, double f0, double fmax, memha* ws,
                      int8_t method) {
  const int hi = hanoharms(fs, fmax, f0);
  const uint32_t N = fitframesize(fs, f0);
  if (hi < 1 || N == 0 || N % 2 == 0) return f0;
  const idx h = static_cast<idx>(hi);
  const uint64_t B = 2 * static_cast<uint64_t>(h) + 1;
  if (!fits(ws, N, 2 * B, B, 4, 2)) return f0;
  const idx L = N / 2;
  const idx lanes = (2 * h + 1 + kLanes - 1) / kLanes * kLanes;  // padded count of angles
  const uint64_t need = 7 * (L + 1) + N + 9 * lanes + 4 * kLanes + B * B + 7 * B;
  if (ws->fast.size() < need) return f0;
  HA_INBLOCK(ws, ws->coef, 4 * B, "coef");

  // Plain Hamming window (winhamming without normalisation).
  constexpr double a0 = 0.54;
  constexpr double a1 = 0.46;
  double* wh = ws->fast.data();
  double* ce = wh + L + 1;
  double* co = ce + L + 1;
  double* tco = co + L + 1;
  double* tce = tco + L + 1;
  double* t2w2 = tce + L + 1;
  double* tw2 = t2w2 + L + 1;
  double* w = tw2 + L + 1;  // full window, N values
  double* ck = w + N;
  double* sk = ck + lanes;
  double* p1r = sk + lanes;
  double* p1i = p1r + lanes;
  double* p2r = p1i + lanes;
  double* p2i = p2r + lanes;
  double* g1 = p2i + lanes;
  double* g2 = g1 + lanes;
  double* y = g2 + lanes;  // lanes values: y, then (reused) the right-hand sides
  double* K = y + lanes + 4 * kLanes;
  double* r = K + B * B;
  halfwindow(a0, a1, L, wh, w);
  for (idx t = 0; t <= L; ++t) {
    w[L + t] = wh[t];
    w[L - t] = wh[t];
  }
  double Sw = 0.0;
  for (idx t = 0; t < N; ++t) Sw += w[t];
  if (foldframe(x, len, centre, L, wh, ce, co) == 0) return 0.0;

  // Slope weight from the window's edge and centre values (haweightslope).
  const double ga = (wh[L] + wh[0]) / 2.0;
  const double gb = wh[0] - ga;
  const double g = kPi * fs / static_cast<double>(L) *
                   std::sqrt(6.0 * (2.0 * ga * ga + gb * gb) /
                             (4.0 * kPi * kPi * ga * ga - 48.0 * ga * gb + 22.739208802178716 * gb * gb));
  const double gfs = g / fs;
  // Folded sequences: the ramp c(tau) = tau g/fs times the frame's odd and even parts, the
  // squared window, and the squared window times c^2 and c (each doubled for tau >= 1).
  tco[0] = 0.0;
  tce[0] = 0.0;
  t2w2[0] = 0.0;
  tw2[0] = 0.0;
  for (idx t = 1; t <= L; ++t) {
    const double c = static_cast<double>(t) * gfs;
    const double ww = wh[t] * wh[t];
    tco[t] = c * co[t];
    tce[t] = c * ce[t];
    t2w2[t] = 2.0 * (c * c) * ww;
    tw2[t] = 2.0 * c * ww;
  }
  const double om = kTwoPi * f0 / fs;
  rotations(om, lanes, ck, sk);
  // Projections of the frame on the harmonics k = 0 .. h (plain and ramped rows).
  chebpair(ce, co, L, h + 1, ck, sk, p1r, p1i);
  chebpair(tco, tce, L, h + 1, ck, sk, p2r, p2i);
  // First rows of T1 (closed form), T2 and the antisymmetric Y, offsets 0 .. 2h.
  gramrowraised(a0, a1, L, B, om, g1);
  chebpair(t2w2, tw2, L, B, ck, sk, g2, y);
  y[0] = 0.0;

  // Right-hand sides per row r (harmonic h - r, conjugate below the centre) into coef's
  // place as scratch: rows of p1 re/im and p2 re/im.
  double* coef = ws->coef;
  double* rhs = r + B;  // 4B values
  double* q1r = rhs;
  double* q1i = q1r + B;
  double* q2r = q1i + B;
  double* q2i = q2r + B;
  for (idx row = 0; row < B; ++row) {
    const idx k = row <= h ? h - row : row - h;
    const double sg = row <= h ? 1.0 : -1.0;
    q1r[row] = p1r[k];
    q1i[row] = sg * p1i[k];
    q2r[row] = p2r[k];
    q2i[row] = sg * p2i[k];
  }
  q1i[h] = 0.0;
  q2i[h] = 0.0;
  // System 1: (Re d1 symmetric, Im d2 antisymmetric) with [[T1, -Y], [Y, T2]] = [[T1, Y^T],
  // [Y, T2]]; system 2: (Im d1 antisymmetric, Re d2 symmetric) with [[T1, Y], [-Y, T2]].
  const Folding f1{B, h, true};
  const Folding f2{B, h, false};
  double* d1 = coef;
  double* d2 = coef + 2 * B;
  double* yext = q2i + B;  // 2B - 1 values
  if (solvehalf(f1, g1, g2, y, 1.0, q1r, q2i, K, r, yext, d1, d2 + 1) != 0) return f0;
  if (solvehalf(f2, g1, g2, y, -1.0, q1i, q2r, K, r, yext, d1 + 1, d2) != 0) return f0;

  return weightedf0(ws->coef, h, B, g, f0, fs, method, 1.0 / Sw,
                    [&](double delta, double rho, double alpha, double beta) {
    // Two interleaved partial sums over the frame (independent divisions side by side).
    const v2d f02 = {f0, f0}, dl2 = {delta, delta}, r2 = {rho, rho}, al2 = {alpha, alpha}, be2 = {beta, beta};
    v2d tau = {-static_cast<double>(L), 1.0 - static_cast<double>(L)};
    const v2d two = {2.0, 2.0};
    v2d acc = {0.0, 0.0};
    idx t = 0;
    for (; t + 2 <= N; t += 2) {
      acc += load2(w + t) * (f02 + dl2 / (r2 + tau * (tau * be2 + al2)));
      tau += two;
    }
    double s0 = acc[0];
    if (t < N) {
      const double tl = static_cast<double>(t) - static_cast<double>(L);
      s0 += w[t] * (f0 + delta / (rho + tl * (tl * beta + alpha)));
    }
    return s0 + acc[1];
  });
}

}  // namespace

namespace {

// One refinement step (refinestep or refinestepfast).
using stepfn = double (*)(const double*, uint32_t, double, uint32_t, double, double, memha*, int8_t);

// harefinepitch with the given step.
double refinechain(const double* x, uint32_t len, double fs, uint32_t centre, double f0, double fmax, memha* ws,
                   uint32_t remaining, int8_t method, stepfn step) {
  if (f0 == 0.0) return 0.0;
  if (f0 >= fmax) return f0;
  if (!positivefinite(f0) || !positivefinite(fs) || x == nullptr || ws == nullptr) return f0;
  for (;;) {
    const double fnew = step(x, len, fs, centre, f0, fmax, ws, method);
    if (fnew == 0.0) return 0.0;
    const double rel = std::fabs(fnew - f0) / f0;
    if (rel > kMaxStep) return f0;
    if (rel < kConverged || remaining == 0) return fnew;
    --remaining;
    f0 = fnew;
    if (f0 >= fmax) return f0;
  }
}

// refinepitch with the given step.
int refineall(const double* x, uint32_t len, double fs, uint32_t shift, uint32_t first, uint32_t nframes, double f0min,
              double f0max, int32_t iterations, int8_t method, double* f0track, stepfn step) {
  if (iterations <= 0 || f0track == nullptr || x == nullptr) return 0;
  if (!positivefinite(f0min) || std::isnan(f0max) || !positivefinite(fs)) return 0;
  // Workspace for the lowest f0 a chain of accepted steps can reach: each step moves f0 by
  // at most 20 %, so the last of `iterations` steps starts at no less than
  // lowest * 0.8^(iterations - 1); a step at f0 needs a workspace made for f0 / 2.
  double lowest = f0min * 0.5;
  for (uint32_t i = 0; i < nframes; ++i) {
    const double v = f0track[i];
    if (v > 0.0 && v < kRefineFmax && v < lowest) lowest = v;
  }
  const double f0low = std::max(lowest * std::pow(0.8, static_cast<double>(iterations - 1)), kRefineFloor);
  std::unique_ptr<memha> ws = memhacreate(fs, kRefineFmax, f0low);
  if (ws == nullptr) return 0;
  for (uint32_t i = 0; i < nframes; ++i) {
    if (!(f0track[i] > 0.0)) continue;
    const uint64_t centre = static_cast<uint64_t>(first) + static_cast<uint64_t>(i) * shift;
    if (centre > UINT32_MAX) break;  // not addressable in a 32-bit signal: left as it is
    const double v = refinechain(x, len, fs, static_cast<uint32_t>(centre), f0track[i], kRefineFmax, ws.get(),
                                 static_cast<uint32_t>(iterations - 1), method, step);
    if (f0min > v && v > 0.0) {
      f0track[i] = f0min;
    } else if (v > f0max) {
      f0track[i] = f0max;
    } else {
      f0track[i] = v;
    }
  }
  ws = memhadestroy(std::move(ws));
  return 0;
}

}  // namespace

double harefinepitch(const double* x, uint32_t len, double fs, uint32_t centre, double f0, double fmax,
                     memha* ws, uint32_t remaining, int8_t method) {
  return refinechain(x, len, fs, centre, f0, fmax, ws, remaining, method, refinestep);
}

double harefinepitchfast(const double* x, uint32_t len, double fs, uint32_t centre, double f0, double fmax,
                         memha* ws, uint32_t remaining, int8_t method) {
  return refinechain(x, len, fs, centre, f0, fmax, ws, remaining, method, refinestepfast);
}

int refinepitch(const double* x, uint32_t len, double fs, uint32_t shift, uint32_t first, uint32_t nframes,
                double f0min, double f0max, int32_t iterations, int8_t method, double* f0track) {
  return refineall(x, len, fs, shift, first, nframes, f0min, f0max, iterations, method, f0track, refinestep);
}

int refinepitchfast(const double* x, uint32_t len, double fs, uint32_t shift, uint32_t first, uint32_t nframes,
                    double f0min, double f0max, int32_t iterations, int8_t method, double* f0track) {
  return refineall(x, len, fs, shift, first, nframes, f0min, f0max, iterations, method, f0track, refinestepfast);
}

// Squared magnitudes |c_k|^2 of the fitted harmonics k = 1 .. K into out[k - 1] (inside the
// inverse's area, free after the fit).
static void harmonicpowers(memha* ws, idx K, double* out) {
  HA_INBLOCK(ws, out, K, "harmonic powers");
  const double* c = ws->coef;
  for (idx k = 1; k <= K; ++k) {
    const double re = c[2 * (K + k)];
    const double im = c[2 * (K + k) + 1];
    out[k - 1] = re * re + im * im;
  }
}

// Log amplitude of each fitted harmonic per square root of the harmonic spacing,
// ln(A_k / (2 sqrt(f0))) = 0.5 ln(|c_k|^2 / f0), into the inverse's area; 0 Hz repeats the
// first harmonic. Returns the K+1 values.
static double* harmoniclogamplitudes(memha* ws, idx K, double f0) {
  double* Lk = ws->inv;
  HA_INBLOCK(ws, Lk, K + 1, "log amplitudes");
  harmonicpowers(ws, K, Lk + 1);
  for (idx k = 1; k <= K; ++k) Lk[k] = 0.5 * std::log(Lk[k] / f0);
  Lk[0] = Lk[1];
  return Lk;
}

namespace {

// harmoniclogamplitudes by the vector logarithm of halflogpower: the same values to within one
// unit in the last place.
double* harmoniclogamplitudesfast(memha* ws, idx K, double f0) {
  double* Lk = ws->inv;
  HA_INBLOCK(ws, Lk, K + 1, "log amplitudes");
  // The powers and the logarithm's two work arrays follow the K + 1 values (the inverse's
  // area holds M^2 >= 4K + 1 values).
  double* P = Lk + K + 1;
  HA_INBLOCK(ws, P, 3 * K, "log amplitude scratch");
  harmonicpowers(ws, K, P);
  halflogpower(P, static_cast<uint32_t>(K), 0.0, f0, Lk + 1, P + K, P + 2 * K);
  Lk[0] = Lk[1];
  return Lk;
}

}  // namespace

int getharmoniclogspectrum(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
                           double* spec, memha* ws, int method) {
  if (spec == nullptr || N < 2) return -1;
  const int Ki = hanoharms(fs, fs, f0);
  if (Ki < 1) return -1;
  const idx K = static_cast<idx>(Ki);
  if (getharmonics(x, nx, fs, centre, f0, static_cast<uint32_t>(K), nullptr, nullptr, ws, method) != 0) {
    return -1;
  }
  double* Lk = harmoniclogamplitudes(ws, K, f0);

  const double df = fs / N;
  const idx H = N / 2;
  const double w = kPi * df / f0;
  const double cw = std::cos(w);
  const double sw = std::sin(w);
  const double cq = std::cos(w / 4.0);
  const double sq = std::sin(w / 4.0);
  for (idx j = 0; j <= H; ++j) spec[j] = 0.0;

  double m = Lk[1];
  for (idx k = 0; k <= K + 4; ++k) {
    double v;
    if (k <= K) {
      v = Lk[k];
      if (v < m) m = v;
    } else {
      v = m;
    }
    addsource(spec, H, k, v, f0, df, w, cw, sw, cq, sq);
  }
  for (idx j = 1; j < H; ++j) spec[N - j] = spec[j];
  return 0;
}

int getharmoniclogspectrumfast(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
                               double* spec, memha* ws, int method, double* tables) {
  if (spec == nullptr || N < 2 || tables == nullptr) return -1;
  const int Ki = hanoharms(fs, fs, f0);
  if (Ki < 1) return -1;
  const idx K = static_cast<idx>(Ki);
  if (getharmonicsfast(x, nx, fs, centre, f0, static_cast<uint32_t>(K), nullptr, nullptr, ws, method) != 0) {
    return -1;
  }
  double* Lk = harmoniclogamplitudesfast(ws, K, f0);

  const double df = fs / N;
  const idx H = N / 2;
  // Per-bin tables cos(j w/4), sin(j w/4), sin(j w), made by the kernel.
  double* c4 = tables;
  double* s4 = c4 + H + 1;
  double* s1 = s4 + H + 1;
  if (cpuhasavx2()) {
    spreadsourcesavx2(spec, H, Lk, K, f0, df, c4, s4, s1);
  } else {
    spreadsourcesplain(spec, H, Lk, K, f0, df, c4, s4, s1);
  }
  return 0;
}

}  // namespace brisvane
