// Maximum voiced frequency by peak sinusoid-likeness, split costs and a Viterbi search,
// and its warping onto the all-pass frequency axis of the cepstra.
#include "analysis/fvanalysis.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "analysis/ccanalysis.h"
#include "dsp/dft.h"
#include "dsp/polynom.h"
#include "dsp/simd.h"
#include "dsp/windowing.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace brisvane {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kPiSquared = kPi * kPi;
// Window length in periods of f0: three periods resolve the harmonics of a four-times
// padded transform well enough to see each peak's main lobe over +-f0/2.
constexpr double kPeriods = 3.0;
// Peaks are searched from just below the fundamental; the scoring neighbourhood spans
// half of f0 on either side of a peak.
constexpr double kFirstBinFactor = 0.9;
constexpr double kNeighbourFactor = 0.5;
// Scale of the boundary-change penalty (relative to half the sampling rate).
constexpr double kTransitionScale = 0.15000000000000002;
// f0 above which the working storage is not sized (the usual lowest speech f0).
constexpr double kSizingF0 = 60.0;
constexpr double kLargest = DBL_MAX;

// Buffers of one call, sized once from the lowest analysed f0.
struct fvwork {
  std::vector<double> X;         // nmax interleaved complex points
  std::vector<double> P;         // log power, bins 0..nmax/2 + 1
  std::vector<uint32_t> bins;    // centre bin of each accepted peak
  std::vector<double> freq;      // peak frequencies, Hz
  std::vector<double> score;     // peak scores
  std::vector<double> cost;      // split costs
  std::vector<uint32_t> cand;    // candidate split indices
};

// Candidate lists of all frames, frame after frame: count[k] entries for frame k, each
// with its proposed maximum voiced frequency (Hz) and its split cost.
struct fvcands {
  std::vector<uint32_t> count;
  std::vector<double> freq;
  std::vector<double> cost;
};

// Amplitude response of the raised-cosine window at theta radians (in units where the
// main lobe's first zeros are at +-2 pi): 1 at 0, 0.5 at +-pi, set exactly at those
// removable singularities.
double windowkernel(double theta) {
  if (theta == 0.0) return 1.0;
  if (theta == kPi || theta == -kPi) return 0.5;
  return std::sin(theta) * (1.0 / theta - 0.5 * (1.0 / (theta - kPi) + 1.0 / (theta + kPi)));
}

// Angles of the two kernels of slmfast at bin i: theta1 = (i nu + o) pi, theta2 = (i nu + r) pi;
// sines and cosines of both at the first bin of the neighbourhood.
struct kernelbase {
  double nu;
  double o;
  double r;
  double s1;
  double c1;
  double s2;
  double c2;
};

// Bins of the neighbourhood whose model values are formed in one pass.
constexpr uint32_t kSlmChunk = 32;

// Half-width (radians) of the regions around theta = 0 and +-pi where the kernel divides a
// small sine by a small factor. An absolute error e (a few 1e-16) of a sine by angle
// addition becomes a relative error of about e / 2^-6, at most a few 1e-14, just outside
// them; inside them the kernel is evaluated directly. (The regions hold a bin only when a
// peak's vertex lies within about 0.005 bins of a bin or of its first sidelobe's edge.)
constexpr double kDirectSineRegion = 0.015625;

bool neardivision(double theta) {
  const double a = std::fabs(theta);
  return a < kDirectSineRegion || std::fabs(a - kPi) < kDirectSineRegion;
}

// Kernel with the sine by angle addition and its three fractions over one denominator:
// 1/t - (1/(t - pi) + 1/(t + pi))/2 = pi^2 / (t (pi - t)(pi + t)), one division instead
// of three (the factors are formed first, so nothing cancels).
double kernelfast(double theta, double sintheta) {
  return (sintheta * kPiSquared) / (theta * ((kPi - theta) * (kPi + theta)));
}

// Model values m[k] = K(theta1) + K(theta2) of the bins first + k0 + k, k < kn (<= kSlmChunk),
// by kernelfast in a pass without branches (vectorisable).
void modelvalues(const kernelbase& kb, uint32_t first, uint32_t k0, uint32_t kn,
                 const double* __restrict cosd, const double* __restrict sind,
                 double* __restrict m) {
  const double* cs = cosd + k0;
  const double* sn = sind + k0;
  for (uint32_t k = 0; k < kn; ++k) {
    const double id = static_cast<double>(first + k0 + k);
    const double th1 = (id * kb.nu + kb.o) * kPi;
    const double th2 = (id * kb.nu + kb.r) * kPi;
    const double sn1 = kb.s1 * cs[k] + kb.c1 * sn[k];
    const double sn2 = kb.s2 * cs[k] + kb.c2 * sn[k];
    m[k] = kernelfast(th1, sn1) + kernelfast(th2, sn2);
  }
}

// Model value of bin i (the k-th of the neighbourhood) where either angle lies near 0 or
// +-pi: such a kernel evaluated as slm does, the other by kernelfast.
double modelvaluenear(const kernelbase& kb, uint32_t i, uint32_t k, const double* cosd,
                      const double* sind) {
  const double id = static_cast<double>(i);
  const double th1 = (id * kb.nu + kb.o) * kPi;
  const double th2 = (id * kb.nu + kb.r) * kPi;
  const double k1 = neardivision(th1) ? windowkernel(th1)
                                      : kernelfast(th1, kb.s1 * cosd[k] + kb.c1 * sind[k]);
  const double k2 = neardivision(th2) ? windowkernel(th2)
                                      : kernelfast(th2, kb.s2 * cosd[k] + kb.c2 * sind[k]);
  return k1 + k2;
}

// Redoes, in m (count bins from bin first), the bins whose angle (i nu + shift) pi may lie
// near 0 or +-pi. The angle grows by nu pi (at least pi/8) per bin and the regions are 1/64
// rad wide, so only the bin nearest to i = (c - shift) / nu, c = 0, 1, -1, can (it lies within
// 0.05 bins of that point when it does).
void fixnearbins(const kernelbase& kb, double shift, uint32_t first, uint32_t count,
                 const double* cosd, const double* sind, double* m) {
  const double inv = 1.0 / kb.nu;
  const double top = static_cast<double>(count) - 0.5;
  for (double c = -1.0; c <= 1.0; c += 1.0) {
    const double rel = (c - shift) * inv - static_cast<double>(first);
    if (!(rel >= -0.5 && rel < top)) continue;
    const auto k = static_cast<uint32_t>(rel + 0.5);
    const double theta = (static_cast<double>(first + k) * kb.nu + shift) * kPi;
    if (neardivision(theta)) m[k] = modelvaluenear(kb, first + k, k, cosd, sind);
  }
}

// Kernel angles of slmfast for the peak at f Hz centred on bin b (b >= g): nu, o and r in
// kb, the first angles of the two kernels (at bin b - g) in a[0] and a[1].
void slmangles(double fs, double f, uint32_t W, uint32_t N, uint32_t b, uint32_t g,
               kernelbase* kb, double* a) {
  const double Wd = static_cast<double>(W);
  kb->nu = Wd / static_cast<double>(N);
  kb->o = -(f * Wd) / fs;
  kb->r = fs * 0.25 > f ? -kb->o : -Wd - kb->o;
  const double ia = static_cast<double>(b - g);
  a[0] = (ia * kb->nu + kb->o) * kPi;
  a[1] = (ia * kb->nu + kb->r) * kPi;
}

// Kernel angles and sines of slmfast for the peak at f Hz centred on bin b (b >= g).
kernelbase slmbase(double fs, double f, uint32_t W, uint32_t N, uint32_t b, uint32_t g) {
  kernelbase kb{};
  double a[2];
  slmangles(fs, f, W, N, b, g, &kb, a);
  kb.s1 = std::sin(a[0]);
  kb.c1 = std::cos(a[0]);
  kb.s2 = std::sin(a[1]);
  kb.c2 = std::cos(a[1]);
  return kb;
}

// Largest |angle| (rad) given to sincos4pair: the multiple n of pi/2 stays below 2^17, so that
// n times the leading 33-bit parts of pi/2 is exact.
constexpr double kSinCosRange = 65536.0;

// Sines and cosines of angles |x| <= kSinCosRange, four per vector (sincos4pair), within
// about 1e-16 absolute of the correctly rounded values. x is reduced by the nearest multiple
// n of pi/2 (pi/2 split into two 33-bit parts and a tail, so the remainder r, |r| <= pi/4, is
// exact to about 1e-21 for these n), then sin r and cos r come from degree-13 and degree-12
// minimax polynomials and n mod 4 picks and signs them. Each lane's operations are fixed, so
// both compiled copies agree.
// The reduction: r = x - n pi/2 and the quadrant n (in the low bits of the integer lanes).
BRISVANE_KERNEL void sincosreduce(v4d x, v4d* r, v4i* quadrant) {
  // 1.5 * 2^52: adding it rounds to an integer, kept in the low bits of the mantissa.
  const v4d shifter = splat4(6755399441055744.0);
  const v4d t = x * splat4(0.63661977236758134308) + shifter;
  const v4d n = t - shifter;
  std::memcpy(quadrant, &t, sizeof *quadrant);
  *r = ((x - n * splat4(1.57079632673412561417e+00)) - n * splat4(6.07710050630396597660e-11)) -
       n * splat4(2.02226624879595063154e-21);
}

// The polynomial parts for z = r^2: sin r = r + r^3 sinpoly(z), cos r = 1 - z/2 + z cospoly(z).
BRISVANE_KERNEL v4d sinpoly(v4d z) {
  return splat4(-1.66666666666666324348e-01) +
         z * (splat4(8.33333333332248946124e-03) +
              z * (splat4(-1.98412698298579493134e-04) +
                   z * (splat4(2.75573137070700676789e-06) +
                        z * (splat4(-2.50507602534068634195e-08) +
                             z * splat4(1.58969099521155010221e-10)))));
}
BRISVANE_KERNEL v4d cospoly(v4d z) {
  return z * (splat4(4.16666666666666019037e-02) +
              z * (splat4(-1.38888888888741095749e-03) +
                   z * (splat4(2.48015872894767294178e-05) +
                        z * (splat4(-2.75573143513906633035e-07) +
                             z * (splat4(2.08757232129817482790e-09) +
                                  z * splat4(-1.13596475577881948265e-11))))));
}

// The last step: sin r and cos r from r, z = r^2 and the two polynomials, picked and
// signed by the quadrant.
BRISVANE_KERNEL void sincosfinish(v4d r, v4d z, v4d ps, v4d pc, v4i quadrant, v4d* s, v4d* c) {
  const v4d sr = r + (z * r) * ps;
  // cos r = 1 - z/2 + z^2 pc, with the rounding of 1 - z/2 carried into the small term.
  const v4d hz = splat4(0.5) * z;
  const v4d w = splat4(1.0) - hz;
  const v4d cr = w + (((splat4(1.0) - w) - hz) + z * pc);
  const v4i one = {1, 1, 1, 1};
  const v4i two = {2, 2, 2, 2};
  const v4i swap = (quadrant & one) != 0;
  const v4i negs = (quadrant & two) != 0;
  const v4i negc = ((quadrant + one) & two) != 0;
  const v4d sv = swap ? cr : sr;
  const v4d cv = swap ? sr : cr;
  *s = negs ? -sv : sv;
  *c = negc ? -cv : cv;
}

// Sines and cosines of the four lanes of x0 and of x1, the steps of the two written one after
// the other so that their chains overlap.
BRISVANE_KERNEL void sincos4pair(v4d x0, v4d x1, v4d* s0, v4d* c0, v4d* s1, v4d* c1) {
  v4d r0;
  v4d r1;
  v4i n0;
  v4i n1;
  sincosreduce(x0, &r0, &n0);
  sincosreduce(x1, &r1, &n1);
  const v4d z0 = r0 * r0;
  const v4d z1 = r1 * r1;
  const v4d ps0 = sinpoly(z0);
  const v4d ps1 = sinpoly(z1);
  const v4d pc0 = cospoly(z0);
  const v4d pc1 = cospoly(z1);
  sincosfinish(r0, z0, ps0, pc0, n0, s0, c0);
  sincosfinish(r1, z1, ps1, pc1, n1, s1, c1);
}

// |a| per lane (the sign bit cleared).
BRISVANE_KERNEL v4d abs4(v4d a) {
  v4i bits;
  std::memcpy(&bits, &a, sizeof bits);
  bits &= v4i{0x7fffffffffffffffLL, 0x7fffffffffffffffLL, 0x7fffffffffffffffLL,
              0x7fffffffffffffffLL};
  std::memcpy(&a, &bits, sizeof a);
  return a;
}

// Bound on the difference of the angles of the vector scores and slmfast (a few 1e-12 rad),
// and the region test of the vector scores widened by it.
constexpr double kNearMargin = 1e-9;
constexpr double kNearTest = kDirectSineRegion + kNearMargin;
constexpr double kInvPiSquared = 1.0 / kPiSquared;

typedef uint32_t v4u __attribute__((vector_size(16)));


#if defined(__x86_64__) || defined(__i386__)
// Correctly rounded square roots of the four lanes by one AVX instruction (inlined into the
// AVX2 copies, its only callers).
__attribute__((target("avx2"))) inline void sqrt256(v4d* d) { *d = __builtin_ia32_sqrtpd256(*d); }
#endif

// Correctly rounded square root of each lane (IEEE square root, so the same in both copies).
template <bool kAvx2>
BRISVANE_KERNEL v4d sqrt4(v4d a) {
#if defined(__x86_64__) || defined(__i386__)
  if constexpr (kAvx2) {
    sqrt256(&a);
    return a;
  } else {
    v2d lo;
    v2d hi;
    std::memcpy(&lo, &a, sizeof lo);
    std::memcpy(&hi, reinterpret_cast<const char*>(&a) + sizeof lo, sizeof hi);
    lo = __builtin_ia32_sqrtpd(lo);
    hi = __builtin_ia32_sqrtpd(hi);
    std::memcpy(&a, &lo, sizeof lo);
    std::memcpy(reinterpret_cast<char*>(&a) + sizeof lo, &hi, sizeof hi);
    return a;
  }
#else
  for (uint32_t l = 0; l < 4; ++l) a[l] = std::sqrt(a[l]);
  return a;
#endif
}


// Longest neighbourhood (bins) the vector scores take; the estimator's frames have at most 29.
constexpr uint32_t kQuadMaxCount = 64;
// Groups of four peaks set up in one pass before their bin loops run.
constexpr uint32_t kQuadBlock = 8;
// Most bins of a group that lie near a kernel's division: six crossings, four lanes.
constexpr uint32_t kQuadMaxNear = 24;

// Kernel set-up of four peaks, one per lane: first bins b - g (id0), o and r of slmangles
// and their multiples of pi, the sines and cosines of the two kernels' first angles, and the
// bins whose model value is redone as slmfast does near 0 and +-pi, each as (k << 2) | lane
// for the k-th bin of the neighbourhood.
struct quadkernel {
  v4d id0;
  v4d o;
  v4d r;
  v4d opi;
  v4d rpi;
  v4d s1;
  v4d c1;
  v4d s2;
  v4d c2;
  uint32_t first[4];
  uint32_t nnear;
  uint8_t near[kQuadMaxNear];
};

// Constants of one frame's vector scores: nu = W / N and its multiples.
struct quadframe {
  v4d nu;
  v4d nupi;
  v4d inv;   // 1 / (nu pi)
  v4d pinv;  // pi / (nu pi)
  double fs;
  double Wd;
  uint32_t count;  // 2g + 1
};

// Records in q the bin k nearest to kstar (per lane, a real bin offset where the angle
// th = (id0 + k) nupi + shift crosses c pi, c = -1, 0 or 1) when it lies in 0 .. count-1 and
// its angle, formed as in the bin loop, is within kNearTest of c pi. Hits are rare (about one
// crossing in seven has any, at irregular places), so the lanes are looked at only when the
// mask of hits is not empty, in increasing lane order.
template <bool kAvx2>
BRISVANE_KERNEL void nearcrossing(v4d kstar, double c, v4d nupi, v4d shift, v4d id0, v4d top,
                                  quadkernel& q) {
  // 1.5 * 2^52: adding it rounds |v| < 2^51 to the nearest integer, kept in the low bits of
  // the mantissa (two's complement); subtracting it again gives that integer as a double.
  const v4d shifter = splat4(6755399441055744.0);
  const v4d kr = kstar + shifter;
  const v4d k = kr - shifter;
  const v4d th = (id0 + k) * nupi + shift;
  const v4d a = abs4(th);
  const v4d dist = c == 0.0 ? a : abs4(a - splat4(kPi));
  const v4i hit = (k >= splat4(0.0)) & (k < top) & (dist < splat4(kNearTest));
  uint32_t m = lanebits<kAvx2>(hit);
  if (m == 0) return;
  v4i kbits;
  std::memcpy(&kbits, &kr, sizeof kbits);
  do {
    const auto l = static_cast<uint32_t>(__builtin_ctz(m));
    // k < count <= 64 where hit, so its low six bits are k.
    q.near[q.nnear++] = static_cast<uint8_t>(((kbits[l] & 63) << 2) | l);
    m &= m - 1;
  } while (m != 0);
}

// Set-up of the four peaks f4 Hz, centre bins b4, of a frame (constants qf, half-width g),
// given their offsets o = -f W / fs of slmangles: each lane forms its kernel angles as
// slmangles does, the sines and cosines of its first angles by sincos4pair (by libm when an
// angle lies beyond its range), and the bins of its neighbourhood where a kernel angle lies
// within kNearTest of 0 or +-pi. The angle grows by nu pi >= pi/8 per bin, so for each of the
// six crossings (two kernels, angle 0, pi and -pi) only the bin nearest to it can lie that
// close; that bin is tested. The mirror kernel's
// angles, which grow with the bin, mostly stay beyond +-pi over the whole neighbourhood
// (peaks not within a few bins of fs/2 or 0); then its crossings are skipped.
template <bool kAvx2>
BRISVANE_KERNEL void quadsetup(const quadframe& qf, const double* f4, const uint32_t* b4,
                               uint32_t g, v4d o, quadkernel& q) {
  const v4d pi = splat4(kPi);
  const v4d f = load4(f4);
  const v4i below = splat4(qf.fs * 0.25) > f;
  const v4d r = below ? -o : splat4(-qf.Wd) - o;
  v4u first;
  std::memcpy(&first, b4, sizeof first);
  first -= v4u{g, g, g, g};
  std::memcpy(q.first, &first, sizeof first);
  // First bins b - g: small integers (below 2^31, so converted exactly as signed ones), so
  // stepping them by 1.0 is exact.
  typedef int32_t v4s __attribute__((vector_size(16)));
  const v4d id = __builtin_convertvector(reinterpret_cast<const v4s&>(first), v4d);
  const v4d a1 = (id * qf.nu + o) * pi;
  const v4d a2 = (id * qf.nu + r) * pi;
  const v4d range = splat4(kSinCosRange);
  if (lanebits<kAvx2>((abs4(a1) <= range) & (abs4(a2) <= range)) == 15u) {
    sincos4pair(a1, a2, &q.s1, &q.c1, &q.s2, &q.c2);
  } else {  // angles beyond the vector sine's range (not met at 16 kHz): libm
    for (uint32_t l = 0; l < 4; ++l) {
      q.s1[l] = std::sin(a1[l]);
      q.c1[l] = std::cos(a1[l]);
      q.s2[l] = std::sin(a2[l]);
      q.c2[l] = std::cos(a2[l]);
    }
  }
  q.id0 = id;
  q.o = o;
  q.r = r;
  // Angles th = i (nu pi) + o pi: within a few 1e-12 rad (rounding of terms up to pi W / 2)
  // of slmfast's (i nu + o) pi.
  const v4d opi = o * pi;
  const v4d rpi = r * pi;
  q.opi = opi;
  q.rpi = rpi;
  q.nnear = 0;
  const v4d nupi = qf.nupi;
  const v4d top = splat4(static_cast<double>(qf.count));
  const v4d k1 = -opi * qf.inv - id;
  nearcrossing<kAvx2>(k1 - qf.pinv, -1.0, nupi, opi, id, top, q);
  nearcrossing<kAvx2>(k1, 0.0, nupi, opi, id, top, q);
  nearcrossing<kAvx2>(k1 + qf.pinv, 1.0, nupi, opi, id, top, q);
  // Mirror angles at the first and last bins; twice kNearTest beyond +-pi covers rounding.
  const v4d edge = splat4(kPi + 2.0 * kNearTest);
  const v4d lo2 = id * nupi + rpi;
  const v4d hi2 = (id + splat4(static_cast<double>(qf.count - 1))) * nupi + rpi;
  if (lanebits<kAvx2>((lo2 > edge) | (hi2 < -edge)) != 15u) {
    const v4d k2 = -rpi * qf.inv - id;
    nearcrossing<kAvx2>(k2 - qf.pinv, -1.0, nupi, rpi, id, top, q);
    nearcrossing<kAvx2>(k2, 0.0, nupi, rpi, id, top, q);
    nearcrossing<kAvx2>(k2 + qf.pinv, 1.0, nupi, rpi, id, top, q);
  }
}

// Numerator and denominator of the model values of the four peaks set up in q at the bin
// k with id = id0 + k, cs = cos(k d) and sn = sin(k d) in every lane: K(th1) + K(th2) =
// pi^2 (sn1 d2 + sn2 d1) / (d1 d2), d = th (pi - th)(pi + th), one division for both kernels,
// so num = sn1 d2 + sn2 d1 and den = d1 d2. |th| stays below pi W (W <= 16383), so d1 d2
// stays below about 1e29 and cannot overflow. The score does not change when every model
// value is scaled alike, so the model is kept divided by pi^2.
BRISVANE_KERNEL void quadmodelbin(const quadframe& qf, const quadkernel& q, v4d id, v4d cs,
                                  v4d sn, double* __restrict num, double* __restrict den) {
  const v4d pi = splat4(kPi);
  const v4d inupi = id * qf.nupi;
  const v4d th1 = inupi + q.opi;
  const v4d th2 = inupi + q.rpi;
  const v4d sn1 = q.s1 * cs + q.c1 * sn;
  const v4d sn2 = q.s2 * cs + q.c2 * sn;
  const v4d d1 = th1 * ((pi - th1) * (pi + th1));
  const v4d d2 = th2 * ((pi - th2) * (pi + th2));
  store4(num, sn1 * d2 + sn2 * d1);
  store4(den, d1 * d2);
}

// Bins of the four peaks set up in q with a kernel angle within kNearTest of 0 or +-pi (about
// one bin in forty): the model value as modelvaluenear gives it (divided by pi^2), which tests
// slmfast's own angles, as num with den = 1 (the division by 1 that follows is exact). The
// margin kNearMargin covers the difference of the angles, so every bin that slmfast evaluates
// directly is among those redone.
BRISVANE_KERNEL void quadmodelnear(const quadframe& qf, const quadkernel& q, const double* cosd,
                                   const double* sind, double* num, double* den) {
  for (uint32_t j = 0; j < q.nnear; ++j) {
    const uint32_t k = q.near[j] >> 2;
    const uint32_t l = q.near[j] & 3u;
    const kernelbase kb{qf.nu[l], q.o[l], q.r[l], q.s1[l], q.c1[l], q.s2[l], q.c2[l]};
    num[4 * k + l] = modelvaluenear(kb, q.first[l] + k, k, cosd, sind) * kInvPiSquared;
    den[4 * k + l] = 1.0;
  }
}

// Model numerators and denominators of the qf.count bins of the four peaks set up in q
// (quadmodelbin, then quadmodelnear), bin k at num/den + 4k, one lane per peak; cs4[k] and
// sn4[k] hold cosd[k] and sind[k] in every lane. The divisions are left to quaddivsums: on
// processors whose divider holds one of the two addition pipes while it works, a loop of
// divisions and a loop of additions each run near their own bound when kept apart, and at
// about the sum of both when mixed.
BRISVANE_KERNEL void quadmodel(const quadframe& qf, const quadkernel& q, const v4d* cs4,
                               const v4d* sn4, const double* cosd, const double* sind,
                               double* num, double* den) {
  const v4d one = splat4(1.0);
  v4d id = q.id0;
  for (uint32_t k = 0; k < qf.count; ++k) {
    quadmodelbin(qf, q, id, cs4[k], sn4[k], num + 4 * k, den + 4 * k);
    id = id + one;
  }
  quadmodelnear(qf, q, cosd, sind, num, den);
}

// Scores of the four peaks set up in q (neighbourhoods of qf.count bins inside re/im) from
// the model numerators and denominators of quadmodel: each bin's model value divided out and
// the four sums over the bins in the order of slmfast, then
// sqrt((t^2 + u^2) / (ex em)) per lane (0 where ex em = 0 or the result is not finite).
// The scores are within rounding of slmfast's.
template <bool kAvx2>
BRISVANE_KERNEL void quaddivsums(const double* re, const double* im, const quadframe& qf,
                                 const quadkernel& q, const double* num, const double* den,
                                 double* score) {
  const uint32_t count = qf.count;
  const double* r0 = re + q.first[0];
  const double* r1 = re + q.first[1];
  const double* r2 = re + q.first[2];
  const double* r3 = re + q.first[3];
  const double* i0 = im + q.first[0];
  const double* i1 = im + q.first[1];
  const double* i2 = im + q.first[2];
  const double* i3 = im + q.first[3];
  v4d ex = splat4(0.0);
  v4d em = splat4(0.0);
  v4d t = splat4(0.0);
  v4d u = splat4(0.0);
  for (uint32_t k = 0; k < count; ++k) {
    const v4d mk = load4(num + 4 * k) / load4(den + 4 * k);
    const v4d xr = v4d{r0[k], r1[k], r2[k], r3[k]};
    const v4d xi = v4d{i0[k], i1[k], i2[k], i3[k]};
    ex = ex + (xr * xr + xi * xi);
    em = em + mk * mk;
    t = t + xr * mk;
    u = u + xi * mk;
  }
  const v4d den4 = ex * em;
  const v4d v = sqrt4<kAvx2>((t * t + u * u) / den4);
  const v4i keep = (den4 != splat4(0.0)) & (abs4(v) <= splat4(DBL_MAX));
  store4(score, keep ? v : splat4(0.0));
}

// Scores of the K >= 1 peaks (bins[p], freq[p] Hz) of a frame (window W, transform length N,
// half-width g, 2g + 1 <= kQuadMaxCount, every neighbourhood inside re/im), four peaks per
// group (a short last group repeats its last peak in the spare lanes), up to kQuadBlock
// groups set up before their scores are formed, so that the set-up's long chains (sines,
// divisions, crossing tests) of one group overlap those of the next instead of stalling the
// bin loops.
template <bool kAvx2>
BRISVANE_KERNEL void framescoresbody(const double* re, const double* im, double fs, uint32_t W,
                                     uint32_t N, uint32_t g, uint32_t K, const uint32_t* bins,
                                     const double* freq, const double* cosd, const double* sind,
                                     double* score) {
  quadframe qf;
  qf.fs = fs;
  qf.Wd = static_cast<double>(W);
  qf.count = 2 * g + 1;
  qf.nu = splat4(qf.Wd / static_cast<double>(N));
  qf.nupi = qf.nu * splat4(kPi);
  qf.inv = splat4(1.0) / qf.nupi;
  qf.pinv = splat4(kPi) * qf.inv;
  quadkernel qk[kQuadBlock];
  alignas(32) v4d cs4[kQuadMaxCount];
  alignas(32) v4d sn4[kQuadMaxCount];
  for (uint32_t k = 0; k < qf.count; ++k) {
    cs4[k] = splat4(cosd[k]);
    sn4[k] = splat4(sind[k]);
  }
  alignas(32) double num[4 * kQuadMaxCount];
  alignas(32) double den[4 * kQuadMaxCount];
  const uint32_t groups = (K + 3) / 4;
  for (uint32_t q0 = 0; q0 < groups; q0 += kQuadBlock) {
    const uint32_t qn = std::min(kQuadBlock, groups - q0);
    // The block's peaks (a short last group repeating its last peak), and their first kernel
    // offsets o = -f W / fs (slmangles) in a pass of their own, so that the set-up of each
    // group does not start with a division.
    alignas(32) double fb[4 * kQuadBlock];
    alignas(32) uint32_t bb[4 * kQuadBlock];
    alignas(32) double ob[4 * kQuadBlock];
    for (uint32_t j = 0; j < 4 * qn; ++j) {
      const uint32_t p = std::min(4 * q0 + j, K - 1);
      fb[j] = freq[p];
      bb[j] = bins[p];
    }
    for (uint32_t j = 0; j < 4 * qn; j += 4) {
      store4(ob + j, -(load4(fb + j) * splat4(qf.Wd)) / splat4(qf.fs));
    }
    for (uint32_t q = 0; q < qn; ++q) {
      quadsetup<kAvx2>(qf, fb + 4 * q, bb + 4 * q, g, load4(ob + 4 * q), qk[q]);
    }
    for (uint32_t q = 0; q < qn; ++q) {
      const uint32_t p0 = 4 * (q0 + q);
      double s[4];
      quadmodel(qf, qk[q], cs4, sn4, cosd, sind, num, den);
      quaddivsums<kAvx2>(re, im, qf, qk[q], num, den, s);
      for (uint32_t l = 0; l < 4 && p0 + l < K; ++l) score[p0 + l] = s[l];
    }
  }
}

BRISVANE_AVX2 void framescoresavx2(const double* re, const double* im, double fs, uint32_t W,
                                   uint32_t N, uint32_t g, uint32_t K, const uint32_t* bins,
                                   const double* freq, const double* cosd, const double* sind,
                                   double* score) {
  framescoresbody<true>(re, im, fs, W, N, g, K, bins, freq, cosd, sind, score);
}

void framescoresplain(const double* re, const double* im, double fs, uint32_t W, uint32_t N,
                      uint32_t g, uint32_t K, const uint32_t* bins, const double* freq,
                      const double* cosd, const double* sind, double* score) {
  framescoresbody<false>(re, im, fs, W, N, g, K, bins, freq, cosd, sind, score);
}

// slmfast of the K peaks (bins[p], freq[p] Hz) of a frame with geometry fr, four peaks at a
// time by framescoresbody. Peaks whose neighbourhood does not fit (not met for peaks of the
// frame's search range) make the frame's peaks scored one by one. re/im hold bins
// 0 .. fr.N/2.
void framescores(const double* re, const double* im, double fs, const fvframe& fr, uint32_t K,
                 const uint32_t* bins, const double* freq, const double* cosd,
                 const double* sind, double* score) {
  if (K == 0) return;
  uint32_t lo = bins[0];
  uint32_t hi = bins[0];
  for (uint32_t p = 1; p < K; ++p) {
    lo = std::min(lo, bins[p]);
    hi = std::max(hi, bins[p]);
  }
  if (lo < fr.g || static_cast<uint64_t>(hi) + fr.g > fr.N / 2 ||
      2 * fr.g + 1 > kQuadMaxCount) {
    for (uint32_t p = 0; p < K; ++p) {
      score[p] = slmfast(re, im, fr.N, fs, freq[p], fr.W, bins[p], fr.g, cosd, sind);
    }
    return;
  }
  if (cpuhasavx2()) {
    framescoresavx2(re, im, fs, fr.W, fr.N, fr.g, K, bins, freq, cosd, sind, score);
  } else {
    framescoresplain(re, im, fs, fr.W, fr.N, fr.g, K, bins, freq, cosd, sind, score);
  }
}

// f0 of frame k, or 0 when the frame is not analysed (unvoiced, invalid or out of range).
double analysedf0(double F, double fs, fvframe* fr) {
  return fvframesetup(F, fs, fr) == 0 ? F : 0.0;
}

// Number of frames of the track that are analysed.
uint32_t analysedframes(const double* f0, uint32_t n, double fs) {
  uint32_t count = 0;
  fvframe fr;
  for (uint32_t k = 0; k < n; ++k) count += analysedf0(f0[k], fs, &fr) > 0.0 ? 1 : 0;
  return count;
}

// Transform length serving every analysed frame: that of min(60 Hz, lowest analysed f0),
// bounded by the longest window allowed.
uint32_t worklength(const double* f0, uint32_t n, double fs) {
  double fmin = kSizingF0;
  fvframe fr;
  for (uint32_t k = 0; k < n; ++k) {
    const double F = analysedf0(f0[k], fs, &fr);
    if (F > 0.0 && F < fmin) fmin = F;
  }
  uint32_t W = getwinlengthnperiodsodd(kPeriods, fmin, fs);
  if (W == 0 || W > kFvMaxWindow) W = kFvMaxWindow;
  return getwinlengthceilpot2(4 * W);
}

void allocatework(fvwork& w, uint32_t nmax) {
  const std::size_t half = nmax / 2;
  w.X.assign(2 * static_cast<std::size_t>(nmax), 0.0);
  w.P.assign(half + 2, 0.0);
  w.bins.assign(half, 0);
  w.freq.assign(half, 0.0);
  w.score.assign(half, 0.0);
  w.cost.assign(half, 0.0);
  w.cand.assign(half, 0);
}

// Zero-phase placement of the frame centred on sample c: the window 1 + cos(pi j / Hh)
// (peak 2) weights x[c + j] into X[j] and x[c - j] into X[N - j]; samples outside the
// signal stay 0.
void placeframe(const double* x, uint32_t len, uint64_t c, const fvframe& fr, double* X) {
  std::fill(X, X + 2 * static_cast<std::size_t>(fr.N), 0.0);
  const double hh = static_cast<double>(fr.Hh);
  for (uint32_t j = 0; j <= fr.Hh; ++j) {
    const double w = 1.0 + std::cos(kPi * static_cast<double>(j) / hh);
    if (c + j < len) X[2 * static_cast<std::size_t>(j)] = w * x[c + j];
    if (j >= 1 && j <= c && c - j < len) {
      X[2 * (static_cast<std::size_t>(fr.N) - j)] = w * x[c - j];
    }
  }
}

// Natural-log power of bins lo..hi. Digital silence (power exactly 0) is floored at the
// smallest normal double, so that a silent stretch gives a finite flat spectrum without
// peaks instead of -inf.
void logpower(const double* X, uint32_t lo, uint32_t hi, double* P) {
  for (uint32_t i = lo; i <= hi; ++i) {
    const double re = X[2 * static_cast<std::size_t>(i)];
    const double im = X[2 * static_cast<std::size_t>(i) + 1];
    const double pw = re * re + im * im;
    P[i] = std::log(pw == 0.0 ? DBL_MIN : pw);
  }
}

// A frame's only candidate when it has no peak (or is not analysed): 0 Hz at no cost.
uint32_t nocandidate(fvcands& cl) {
  cl.freq.push_back(0.0);
  cl.cost.push_back(0.0);
  return 1;
}

// Candidates (frequency, split cost) of the K >= 1 scored peaks in w, appended to the lists;
// returns their count.
uint32_t appendcandidates(uint32_t K, fvwork& w, fvcands& cl) {
  fvsplitcosts(w.score.data(), K, w.cost.data());
  const uint32_t count = fvcandidates(w.cost.data(), K, w.cand.data());
  for (uint32_t i = 0; i < count; ++i) {
    cl.freq.push_back(w.freq[w.cand[i]]);
    cl.cost.push_back(w.cost[w.cand[i]]);
  }
  return count;
}

// Scores at or below the noise-like level (NaN included) all count as that level.
double flooredscore(double s) { return s > kFvScoreFloor ? s : kFvScoreFloor; }

// flooredscore without a branch: scores fall on either side of the floor at random, so a
// branch on them is mispredicted about every other peak. The maximum instruction returns its
// first operand when that is greater, else the second (the floor, also for NaN), which is
// flooredscore's rule.
double flooredscorefast(double s) {
#if defined(__x86_64__) || defined(__i386__)
  return _mm_cvtsd_f64(_mm_max_sd(_mm_set_sd(s), _mm_set_sd(kFvScoreFloor)));
#else
  return flooredscore(s);
#endif
}

// fvsplitcandidatesfast for K >= 1 and valid arrays.
uint32_t splitcandidates(double* s, uint32_t K, double* E, uint32_t* idx) {
  const double fl = kFvScoreFloor;
  double s1 = 0.0;
  double s2 = 0.0;
  for (uint32_t j = K; j-- > 0;) {
    const double v = flooredscorefast(s[j]);
    s[j] = v;
    s1 += v;
    s2 += v * v;
    E[j] = (static_cast<double>(K - j) * fl - 2.0 * s1) * fl + s2;
  }
  const double inv = 1.0 / static_cast<double>(K);
  E[0] *= inv;
  if (K == 1) {
    idx[0] = 0;
    return 1;
  }
  uint32_t count = 0;
  s1 = s[0];
  s2 = s[0] * s[0];
  E[1] = (E[1] + ((-2.0 * s1 + s2) + 1.0)) * inv;
  if (E[0] < E[1]) idx[count++] = 0;
  for (uint32_t i = 2; i < K; ++i) {
    const double v = s[i - 1];
    s1 += v;
    s2 += v * v;
    // (s - 1)^2 summed over the i peaks below the split (target 1): S2' - 2 S1' + i.
    E[i] = (E[i] + ((-2.0 * s1 + s2) + static_cast<double>(i))) * inv;
    // Written always, kept when a minimum (no branch on the irregular minima); idx has room
    // for K entries and count <= i - 1 here.
    idx[count] = i - 1;
    count += static_cast<uint32_t>(E[i - 1] < E[i - 2]) & static_cast<uint32_t>(E[i - 1] < E[i]);
  }
  if (count == 0) idx[count++] = K - 1;
  return count;
}

// appendcandidates by fvsplitcandidatesfast (the scores in w are overwritten).
uint32_t appendcandidatesfast(uint32_t K, fvwork& w, fvcands& cl) {
  const uint32_t count = splitcandidates(w.score.data(), K, w.cost.data(), w.cand.data());
  for (uint32_t i = 0; i < count; ++i) {
    cl.freq.push_back(w.freq[w.cand[i]]);
    cl.cost.push_back(w.cost[w.cand[i]]);
  }
  return count;
}

// Candidates (frequency, split cost) of one analysed frame, appended to the lists;
// returns their count (a single candidate at 0 Hz when no peak was found).
uint32_t framecandidates(const double* x, uint32_t len, double fs, uint64_t c,
                         const fvframe& fr, fvwork& w, fvcands& cl) {
  placeframe(x, len, c, fr, w.X.data());
  fftc(static_cast<int32_t>(fr.N), w.X.data());
  logpower(w.X.data(), fr.bfirst - 1, fr.blast + 1, w.P.data());
  const uint32_t K =
      fvpeaklist(w.P.data(), fr.bfirst, fr.blast, fr.df, w.bins.data(), w.freq.data());
  if (K == 0) return nocandidate(cl);
  for (uint32_t p = 0; p < K; ++p) {
    w.score[p] = slm(w.X.data(), fr.N, fs, w.freq[p], fr.W, w.bins[p], fr.g);
  }
  return appendcandidates(K, w, cl);
}

// Stretch of the real frame buffer that a placed frame may leave nonzero: [0, head) and
// [tailbegin, tailend).
struct frameextent {
  std::size_t head = 0;
  std::size_t tailbegin = 0;
  std::size_t tailend = 0;
};

// Buffers of the fast path, sized once per call from the frames the track analyses.
struct fvfastwork {
  std::vector<rfftplan> plans;   // real-transform tables, indexed by log2 of the length
  std::vector<double> frame;     // nmax real samples, 0 outside the placed window
  std::vector<double> re;        // bins 0 .. nmax/2
  std::vector<double> im;
  std::vector<double> q;         // powers of bins 0 .. nmax/2 (+1 spare)
  std::vector<double> win;       // window 1 + cos(pi j / Hh), j = 0 .. Hh
  uint32_t winHh = 0;            // Hh of the window in win (0: none yet); neighbouring
                                 // frames of a steady voice often share it
  std::vector<double> wins;      // the window of every half length Hh the track needs
  std::vector<std::size_t> winat;  // 1 + offset in wins of the window of each Hh (0: none);
                                   // empty when they would take more than kWindowStore
  std::vector<double> cosd;      // angle-addition table of the kernel, 2g + 1 values
  std::vector<double> sind;
  uint32_t tabN = 0;             // N, W and g of the table in cosd/sind (0: none yet)
  uint32_t tabW = 0;
  uint32_t tabg = 0;
  // Kernel tables kept per half length Hh (which fixes W and N), as the windows: slot + 1 of
  // each Hh (0: none; empty when not kept), tables of each slot (cosd then sind, each
  // tabstride values) and g + 1 of the table a slot holds (0: none yet).
  std::vector<uint32_t> tabslot;
  std::vector<double> tabs;
  std::vector<uint32_t> slotg;
  std::size_t tabstride = 0;
  frameextent placed;            // where the frame last placed in frame may be nonzero
};

// Most values the stored windows may take (4 MB); f0 tracks of speech need some 1e5.
constexpr std::size_t kWindowStore = std::size_t{1} << 19;

uint32_t log2of(uint32_t N) {
  uint32_t m = 0;
  while ((1u << m) < N) ++m;
  return m;
}

// The window of placeframe, 1 + cos(pi j / Hh) for j = 0 .. Hh, with the cosines of the
// upper half taken from the lower by cos(pi - a) = -cos(a).
void fastwindow(uint32_t Hh, double* win) {
  const double hh = static_cast<double>(Hh);
  for (uint32_t j = 0; 2 * j <= Hh; ++j) {
    const double c = std::cos(kPi * static_cast<double>(j) / hh);
    win[j] = 1.0 + c;
    win[Hh - j] = 1.0 - c;
  }
}

// Tables and buffers for every transform length, window and neighbourhood the analysed
// frames of the track need, so that the frame loop allocates nothing.
void allocatefast(const double* f0, uint32_t n, double fs, uint32_t nmax, fvfastwork& fw) {
  fw.plans.assign(log2of(nmax) + 1, rfftplan{});
  uint32_t hmax = 0;
  uint32_t gmax = 0;
  fvframe fr;
  for (uint32_t k = 0; k < n; ++k) {
    if (!(analysedf0(f0[k], fs, &fr) > 0.0)) continue;
    rfftplan& p = fw.plans[log2of(fr.N)];
    if (p.N == 0) rfftplancreate(fr.N, &p);
    hmax = std::max(hmax, fr.Hh);
    gmax = std::max(gmax, fr.g);
  }
  const std::size_t half = nmax / 2;
  fw.frame.assign(nmax, 0.0);
  fw.re.assign(half + 1, 0.0);
  fw.im.assign(half + 1, 0.0);
  fw.q.assign(half + 2, 0.0);
  fw.win.assign(static_cast<std::size_t>(hmax) + 1, 0.0);
  fw.cosd.assign(2 * static_cast<std::size_t>(gmax) + 1, 0.0);
  fw.sind.assign(2 * static_cast<std::size_t>(gmax) + 1, 0.0);
  // Every window once: f0 moving back and forth would otherwise recompute them.
  fw.winat.assign(static_cast<std::size_t>(hmax) + 1, 0);
  for (uint32_t k = 0; k < n; ++k) {
    if (analysedf0(f0[k], fs, &fr) > 0.0) fw.winat[fr.Hh] = 1;
  }
  std::size_t total = 0;
  for (uint32_t h = 0; h <= hmax; ++h) {
    if (fw.winat[h] != 0) {
      fw.winat[h] = total + 1;
      total += static_cast<std::size_t>(h) + 1;
    }
  }
  // Kernel tables: one slot per half length used, filled as frames need them.
  fw.tabstride = 2 * static_cast<std::size_t>(gmax) + 4;
  uint32_t slots = 0;
  fw.tabslot.assign(static_cast<std::size_t>(hmax) + 1, 0);
  for (uint32_t h = 0; h <= hmax; ++h) {
    if (fw.winat[h] != 0) fw.tabslot[h] = ++slots;
  }
  if (2 * fw.tabstride * slots > kWindowStore) {
    fw.tabslot = std::vector<uint32_t>();
  } else {
    fw.tabs.assign(2 * fw.tabstride * slots, 0.0);
    fw.slotg.assign(slots, 0);
  }
  if (total > kWindowStore) {
    fw.winat = std::vector<std::size_t>();
    return;
  }
  fw.wins.assign(total, 0.0);
  for (uint32_t h = 1; h <= hmax; ++h) {
    if (fw.winat[h] != 0) fastwindow(h, fw.wins.data() + (fw.winat[h] - 1));
  }
}

// Windowed samples of placeframereal, four at a time: frame[j] = win[j] x[c + j] for
// j < right, and tail[-j] = win[j] x[c - j] for lo <= j <= hi, written upwards in memory (the
// window read downwards, four values turned round at once).
BRISVANE_KERNEL void placebody(const double* x, uint64_t c, uint64_t right, uint64_t lo,
                               uint64_t hi, const double* win, double* frame, double* tail) {
  uint64_t j = 0;
  for (; j + 4 <= right; j += 4) store4(frame + j, load4(win + j) * load4(x + c + j));
  for (; j < right; ++j) frame[j] = win[j] * x[c + j];
  if (hi < lo) return;
  uint64_t top = hi;  // j = top, top - 1, top - 2, top - 3 in one step
  for (; top >= lo + 3; top -= 4) {
    const auto back = static_cast<std::ptrdiff_t>(top);
    store4(tail - back, reverse4(load4(win + (top - 3))) * load4(x + (c - top)));
  }
  for (; top >= lo; --top) {
    tail[-static_cast<std::ptrdiff_t>(top)] = win[top] * x[c - top];
    if (top == lo) break;
  }
}

BRISVANE_AVX2 void placeavx2(const double* x, uint64_t c, uint64_t right, uint64_t lo,
                             uint64_t hi, const double* win, double* frame, double* tail) {
  placebody(x, c, right, lo, hi, win, frame, tail);
}

void placeplain(const double* x, uint64_t c, uint64_t right, uint64_t lo, uint64_t hi,
                const double* win, double* frame, double* tail) {
  placebody(x, c, right, lo, hi, win, frame, tail);
}

// placeframe into the real frame buffer, which is 0 outside the extent (was) of the frame
// placed before (all 0 at first); returns the new frame's extent. Only what the new frame does not
// overwrite is cleared, usually nothing or a few samples, as neighbouring frames mostly share
// their half length.
frameextent placeframereal(const double* x, uint32_t len, uint64_t c, const fvframe& fr,
                           const double* win, const frameextent& was, double* frame) {
  // Right half: samples c + j, j = 0 .. Hh, those before len.
  const uint64_t right = c < len ? std::min<uint64_t>(fr.Hh, len - 1 - c) + 1 : 0;
  // Left half: samples c - j, j = 1 .. min(Hh, c), those before len (j > c - len).
  const uint64_t lo = c >= len ? c - len + 1 : 1;
  const uint64_t hi = std::min<uint64_t>(fr.Hh, c);
  frameextent now;
  now.head = static_cast<std::size_t>(right);
  if (hi >= lo) {
    now.tailbegin = static_cast<std::size_t>(fr.N - hi);
    now.tailend = static_cast<std::size_t>(fr.N - lo + 1);
  }
  if (was.head > now.head) std::fill(frame + now.head, frame + was.head, 0.0);
  if (was.tailbegin < was.tailend) {
    // The old tail outside the new one (all of it when the new one is empty).
    const std::size_t b = now.tailbegin < now.tailend ? now.tailbegin : was.tailend;
    const std::size_t e = now.tailbegin < now.tailend ? now.tailend : was.tailend;
    if (was.tailbegin < b) std::fill(frame + was.tailbegin, frame + std::min(b, was.tailend), 0.0);
    if (e < was.tailend) std::fill(frame + std::max(e, was.tailbegin), frame + was.tailend, 0.0);
  }
  double* tail = frame + fr.N;
  if (cpuhasavx2()) {
    placeavx2(x, c, right, lo, hi, win, frame, tail);
  } else {
    placeplain(x, c, right, lo, hi, win, frame, tail);
  }
  return now;
}

// Powers q[i] = re[i]^2 + im[i]^2 of bins lo .. end-1, an exact 0 replaced by DBL_MIN (the
// floor of logpower), four bins at a time.
BRISVANE_KERNEL void powerbody(const double* re, const double* im, uint32_t lo, uint32_t end,
                               double* q) {
  const v4d zero = splat4(0.0);
  const v4d tiny = splat4(DBL_MIN);
  uint32_t i = lo;
  for (; i + 4 <= end; i += 4) {
    const v4d a = load4(re + i);
    const v4d b = load4(im + i);
    const v4d pw = a * a + b * b;
    const v4i silent = pw == zero;
    store4(q + i, silent ? tiny : pw);
  }
  for (; i < end; ++i) {
    const double pw = re[i] * re[i] + im[i] * im[i];
    q[i] = pw == 0.0 ? DBL_MIN : pw;
  }
}

BRISVANE_AVX2 void poweravx2(const double* re, const double* im, uint32_t lo, uint32_t end,
                             double* q) {
  powerbody(re, im, lo, end, q);
}

void powerplain(const double* re, const double* im, uint32_t lo, uint32_t end, double* q) {
  powerbody(re, im, lo, end, q);
}

// framecandidates by the real-input transform, the power-spectrum peak search and the
// angle-addition scores.
uint32_t framecandidatesfast(const double* x, uint32_t len, double fs, uint64_t c,
                             const fvframe& fr, fvwork& w, fvfastwork& fw, fvcands& cl) {
  const double* win = fw.win.data();
  if (!fw.winat.empty()) {
    win = fw.wins.data() + (fw.winat[fr.Hh] - 1);
  } else if (fw.winHh != fr.Hh) {
    fastwindow(fr.Hh, fw.win.data());
    fw.winHh = fr.Hh;
  }
  fw.placed = placeframereal(x, len, c, fr, win, fw.placed, fw.frame.data());
  // The window spans W = 2 Hh + 1 <= N/4 samples, so the frame is zero from N/8 to 7N/8.
  rfftfastcentred(fw.plans[log2of(fr.N)], fw.frame.data(), fw.re.data(), fw.im.data());
  const double* re = fw.re.data();
  const double* im = fw.im.data();
  if (cpuhasavx2()) {
    poweravx2(re, im, fr.bfirst - 1, fr.blast + 2, fw.q.data());
  } else {
    powerplain(re, im, fr.bfirst - 1, fr.blast + 2, fw.q.data());
  }
  const uint32_t K =
      fvpeaklistpowerfast(fw.q.data(), fr.bfirst, fr.blast, fr.df, w.bins.data(), w.freq.data());
  if (K == 0) return nocandidate(cl);
  const double* cosd = fw.cosd.data();
  const double* sind = fw.sind.data();
  if (!fw.tabslot.empty()) {
    const uint32_t slot = fw.tabslot[fr.Hh] - 1;
    double* tab = fw.tabs.data() + 2 * fw.tabstride * slot;
    if (fw.slotg[slot] != fr.g + 1) {
      fvslmtable(fr.N, fr.W, fr.g, tab, tab + fw.tabstride);
      fw.slotg[slot] = fr.g + 1;
    }
    cosd = tab;
    sind = tab + fw.tabstride;
  } else if (fw.tabN != fr.N || fw.tabW != fr.W || fw.tabg != fr.g) {
    fvslmtable(fr.N, fr.W, fr.g, fw.cosd.data(), fw.sind.data());
    fw.tabN = fr.N;
    fw.tabW = fr.W;
    fw.tabg = fr.g;
  }
  framescores(re, im, fs, fr, K, w.bins.data(), w.freq.data(), cosd, sind, w.score.data());
  return appendcandidatesfast(K, w, cl);
}

// Adds to each candidate of the current frame (entries from.., split costs already in acc)
// the cheapest accumulated cost of reaching it from the previous frame (entries pfrom..,
// accumulated costs prev) and records that predecessor; ties keep the first.
void advancepath(const double* freq, std::size_t pfrom, uint32_t pcount, const double* prev,
                 std::size_t from, uint32_t count, double lambda, double* acc,
                 uint32_t* back) {
  for (uint32_t i = 0; i < count; ++i) {
    double best = kLargest;
    uint32_t arg = 0;
    for (uint32_t m = 0; m < pcount; ++m) {
      const double d = freq[from + i] - freq[pfrom + m];
      const double cst = prev[m] + lambda * (d * d);
      if (cst < best) {
        best = cst;
        arg = m;
      }
    }
    back[from + i] = arg;
    acc[i] = acc[i] + best;
  }
}

// advancepath for four candidates of the current frame at once, one per lane (a short last
// group repeats its last candidate in the spare lanes): each lane runs over the previous
// frame's candidates in order with the same operations and strict comparisons, so the costs
// and predecessors are those of advancepath.
BRISVANE_KERNEL void advancebody(const double* freq, std::size_t pfrom, uint32_t pcount,
                                 const double* prev, std::size_t from, uint32_t count,
                                 double lambda, double* acc, uint32_t* back) {
  const double* fc = freq + from;
  const double* fp = freq + pfrom;
  const v4d lam = splat4(lambda);
  for (uint32_t i0 = 0; i0 < count; i0 += 4) {
    const uint32_t last = count - 1;
    const v4d fi = v4d{fc[i0], fc[std::min(i0 + 1, last)], fc[std::min(i0 + 2, last)],
                       fc[std::min(i0 + 3, last)]};
    v4d best = splat4(kLargest);
    v4d arg = splat4(0.0);  // predecessor indices, exact as doubles
    for (uint32_t m = 0; m < pcount; ++m) {
      const v4d d = fi - splat4(fp[m]);
      const v4d cst = splat4(prev[m]) + lam * (d * d);
      const v4i lt = cst < best;
      best = lt ? cst : best;
      arg = lt ? splat4(static_cast<double>(m)) : arg;
    }
    for (uint32_t l = 0; l < 4 && i0 + l < count; ++l) {
      back[from + i0 + l] = static_cast<uint32_t>(arg[l]);
      acc[i0 + l] = acc[i0 + l] + best[l];
    }
  }
}

BRISVANE_AVX2 void advanceavx2(const double* freq, std::size_t pfrom, uint32_t pcount,
                               const double* prev, std::size_t from, uint32_t count,
                               double lambda, double* acc, uint32_t* back) {
  advancebody(freq, pfrom, pcount, prev, from, count, lambda, acc, back);
}

void advanceplain(const double* freq, std::size_t pfrom, uint32_t pcount, const double* prev,
                  std::size_t from, uint32_t count, double lambda, double* acc, uint32_t* back) {
  advancebody(freq, pfrom, pcount, prev, from, count, lambda, acc, back);
}

// The Viterbi search of fvpathsearch with the step of each frame by advancepath or, with
// fast, by the vector form (same values).
int pathsearch(uint32_t n, const uint32_t* count, const double* freq, const double* cost,
               double lambda, double* fv, bool fast) {
  if (n == 0) return 0;
  if (count == nullptr || freq == nullptr || cost == nullptr || fv == nullptr) return -1;
  std::size_t total = 0;
  uint32_t widest = 0;
  for (uint32_t k = 0; k < n; ++k) {
    if (count[k] == 0) return -1;
    total += count[k];
    widest = std::max(widest, count[k]);
  }
  const bool avx2 = cpuhasavx2();
  std::vector<uint32_t> back(total, 0);
  std::vector<double> prev(widest, 0.0);
  std::vector<double> acc(widest, 0.0);
  std::size_t pfrom = 0;
  std::size_t from = 0;
  for (uint32_t k = 0; k < n; ++k) {
    std::copy(cost + from, cost + from + count[k], acc.begin());
    if (k > 0 && !fast) {
      advancepath(freq, pfrom, count[k - 1], prev.data(), from, count[k], lambda, acc.data(),
                  back.data());
    } else if (k > 0 && avx2) {
      advanceavx2(freq, pfrom, count[k - 1], prev.data(), from, count[k], lambda, acc.data(),
                  back.data());
    } else if (k > 0) {
      advanceplain(freq, pfrom, count[k - 1], prev.data(), from, count[k], lambda, acc.data(),
                   back.data());
    }
    std::swap(prev, acc);
    pfrom = from;
    from += count[k];
  }
  // Cheapest end point (first among equals), then back along the predecessors.
  double best = kLargest;
  uint32_t idx = 0;
  for (uint32_t i = 0; i < count[n - 1]; ++i) {
    if (prev[i] < best) {
      best = prev[i];
      idx = i;
    }
  }
  for (uint32_t k = n; k-- > 0;) {
    from -= count[k];
    fv[k] = freq[from + idx];
    idx = back[from + idx];
  }
  return 0;
}

bool validfs(double fs) { return std::isfinite(fs) && fs > 0.0; }

// The estimator in its documented or fast form.
int fvtrack(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
            const double* f0, double* fv, bool fast) {
  if (n == 0) return 0;
  if (f0 == nullptr || fv == nullptr || (x == nullptr && len > 0) || !validfs(fs)) return -1;
  const uint32_t nmax = worklength(f0, n, fs);
  fvwork w;
  fvfastwork fw;
  if (fast) {
    allocatefast(f0, n, fs, nmax, fw);
    // The fast path reads the peak lists only; the complex spectrum stays unallocated.
    allocatework(w, nmax);
    w.X = std::vector<double>();
    w.P = std::vector<double>();
  } else {
    allocatework(w, nmax);
  }
  // Candidate lists: one per unanalysed frame and room for twelve per analysed one (voiced
  // speech frames have about ten on average, a few up to about 35), so that the frame loop
  // allocates only for unusually rich tracks.
  fvcands cl;
  cl.count.assign(n, 1);
  const std::size_t room = n + 11 * static_cast<std::size_t>(analysedframes(f0, n, fs));
  cl.freq.reserve(room);
  cl.cost.reserve(room);
  fvframe fr;
  for (uint32_t k = 0; k < n; ++k) {
    const uint64_t c = static_cast<uint64_t>(offset) + static_cast<uint64_t>(k) * S;
    if (!(analysedf0(f0[k], fs, &fr) > 0.0)) {
      cl.count[k] = nocandidate(cl);  // unvoiced: the boundary sits at 0 Hz at no cost
    } else if (fast) {
      cl.count[k] = framecandidatesfast(x, len, fs, c, fr, w, fw, cl);
    } else {
      cl.count[k] = framecandidates(x, len, fs, c, fr, w, cl);
    }
  }
  return pathsearch(n, cl.count.data(), cl.freq.data(), cl.cost.data(),
                    fvtransitionweight(fs, S), fv, fast);
}

}  // namespace

int fvframesetup(double F, double fs, fvframe* fr) {
  if (fr == nullptr) return -1;
  *fr = fvframe{};
  if (!validfs(fs) || !std::isfinite(F) || !(F >= kFvMinF0)) return -1;
  const uint32_t W = getwinlengthnperiodsodd(kPeriods, F, fs);
  if (W == 0 || W > kFvMaxWindow) return -1;
  fr->W = W;
  fr->Hh = W / 2;
  fr->N = getwinlengthceilpot2(4 * W);
  fr->df = fs / static_cast<double>(fr->N);
  const double half = static_cast<double>(fr->N / 2);
  const double g = std::floor((F * kNeighbourFactor) / fr->df);
  const double b0 = std::floor((F * kFirstBinFactor) / fr->df);
  if (!(g <= half) || !(b0 >= 1.0) || !(b0 <= half - g) || fr->Hh == 0) return -1;
  fr->g = static_cast<uint32_t>(g);
  fr->bfirst = static_cast<uint32_t>(b0);
  fr->blast = fr->N / 2 - fr->g;
  return 0;
}

double fvtransitionweight(double fs, uint32_t S) {
  const double c = kTransitionScale;
  return (((fs * 0.005) / static_cast<double>(S)) * c * c) / ((fs * 0.25) * fs);
}

uint32_t fvpeaklist(const double* P, uint32_t bfirst, uint32_t blast, double df,
                    uint32_t* bins, double* freq) {
  if (P == nullptr || bins == nullptr || freq == nullptr || bfirst < 1 || bfirst > blast) {
    return 0;
  }
  uint32_t count = 0;
  bool first = true;
  double T = 0.0;
  double coef[3];
  for (uint32_t b = bfirst; b <= blast; ++b) {
    if (!(P[b] > P[b - 1] && P[b] > P[b + 1])) continue;
    parabfitpoints(P[b - 1], P[b], P[b + 1], coef);
    const double h = parabexty(coef);
    if (first || h > T) {
      bins[count] = b;
      freq[count] = (parabextx(coef) + static_cast<double>(b)) * df;
      ++count;
    }
    first = false;
    T = h - kFvDropLimit;
  }
  return count;
}

int fvsplitcosts(const double* s, uint32_t K, double* E) {
  if (K == 0) return 0;
  if (s == nullptr || E == nullptr) return -1;
  const double fl = kFvScoreFloor;
  double s1 = 0.0;
  double s2 = 0.0;
  for (uint32_t j = K; j-- > 0;) {
    const double v = flooredscore(s[j]);
    s1 += v;
    s2 += v * v;
    E[j] = (static_cast<double>(K - j) * fl - 2.0 * s1) * fl + s2;
  }
  s1 = 0.0;
  s2 = 0.0;
  for (uint32_t i = 1; i < K; ++i) {
    const double v = flooredscore(s[i - 1]);
    s1 += v;
    s2 += v * v;
    // (s - 1)^2 summed over the i peaks below the split (target 1): S2' - 2 S1' + i.
    E[i] += (-2.0 * s1 + s2) + static_cast<double>(i);
  }
  const double inv = 1.0 / static_cast<double>(K);
  for (uint32_t i = 0; i < K; ++i) E[i] *= inv;
  return 0;
}

uint32_t fvsplitcandidatesfast(double* s, uint32_t K, double* E, uint32_t* idx) {
  if (K == 0 || s == nullptr || E == nullptr || idx == nullptr) return 0;
  return splitcandidates(s, K, E, idx);
}

uint32_t fvcandidates(const double* E, uint32_t K, uint32_t* idx) {
  if (K == 0 || E == nullptr || idx == nullptr) return 0;
  if (K == 1) {
    idx[0] = 0;
    return 1;
  }
  uint32_t count = 0;
  if (E[0] < E[1]) idx[count++] = 0;
  for (uint32_t i = 1; i + 1 < K; ++i) {
    if (E[i] < E[i - 1] && E[i] < E[i + 1]) idx[count++] = i;
  }
  if (count == 0) idx[count++] = K - 1;
  return count;
}

double slm(const double* X, uint32_t N, double fs, double f, uint32_t W, uint32_t b, uint32_t g) {
  if (X == nullptr || b < g || static_cast<uint64_t>(b) + g >= N) return 0.0;
  const double Wd = static_cast<double>(W);
  const double nu = Wd / static_cast<double>(N);
  const double o = -(f * Wd) / fs;
  // Mirror component of the real frame: at -f for peaks below fs/4, else at fs - f.
  const double r = fs * 0.25 > f ? -o : -Wd - o;
  double ex = 0.0;
  double em = 0.0;
  double t = 0.0;
  double u = 0.0;
  for (uint32_t i = b - g; i <= b + g; ++i) {
    const double id = static_cast<double>(i);
    const double th1 = (id * nu + o) * kPi;
    const double th2 = (id * nu + r) * kPi;
    const double m = windowkernel(th1) + windowkernel(th2);
    const double re = X[2 * static_cast<std::size_t>(i)];
    const double im = X[2 * static_cast<std::size_t>(i) + 1];
    ex += re * re + im * im;
    em += m * m;
    t += re * m;
    u += im * m;
  }
  const double den = ex * em;
  if (den == 0.0) return 0.0;
  const double v = std::sqrt((t * t + u * u) / den);
  return std::isfinite(v) ? v : 0.0;
}

namespace {

// Bins scanned per pass of the strict-maximum search; strict maxima are never adjacent, so
// a pass finds at most half as many.
constexpr uint32_t kMaximaBlock = 128;

// Offsets of the set bits of every 8-bit mask of strict maxima among eight bins, lowest
// first (the unused slots repeat 0), and their number: one table lookup turns the maxima among
// eight bins into list entries. Strict maxima are never adjacent (each is above both
// neighbours), so at most four of eight bits are set; masks with more keep their first four.
struct lanecompress {
  uint32_t off[256][4];
  uint32_t count[256];
};

constexpr lanecompress makelanecompress() {
  lanecompress t{};
  for (uint32_t m = 0; m < 256; ++m) {
    uint32_t n = 0;
    for (uint32_t l = 0; l < 8 && n < 4; ++l) {
      if ((m >> l) & 1u) t.off[m][n++] = l;
    }
    t.count[m] = n;
  }
  return t;
}

constexpr lanecompress kLaneCompress = makelanecompress();

// Makes the compiler hold v in a register from here on (an empty instruction that "changes"
// it), so that it does not fold each use into an operation that re-reads it from memory.
// Only in the AVX2 copies, where a four-lane vector fits one register; the instruction sits in
// a function compiled for AVX2 (inlined into those copies), as some compilers check the size of
// its register operand against the instruction set of the function that holds it.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) inline void holdinregister256(v4d* v) { asm("" : "+x"(*v)); }
#endif
template <bool kAvx2>
BRISVANE_KERNEL void inregister(v4d& v) {
#if defined(__x86_64__) || defined(__i386__)
  if constexpr (kAvx2) holdinregister256(&v);
#endif
  (void)v;
}

// Strict local maxima of q (q[b] > q[b-1] and q[b] > q[b+1]) among bins lo .. end-1, in
// increasing order, into list (room for (end - lo) / 2 + 4: the last entries may be
// scratch); q is read at lo-1 .. end. Eight bins per step, by two comparisons of four; their
// maxima are written as four entries at once from the table of the step's mask, the count
// moving by the number of maxima (no branch on the sparse maxima). The comparisons are
// exact, so both compiled copies agree.
template <bool kAvx2>
BRISVANE_KERNEL uint32_t maximabody(const double* q, uint64_t lo, uint64_t end,
                                    uint32_t* list) {
  uint32_t n = 0;
  uint64_t b = lo;
  // Up to kMaximaSteps steps at a time: first the masks of every step (loads and
  // comparisons only), then the list entries of each mask, so that the count, which each
  // step's writes wait for, does not hold back the comparisons.
  constexpr uint32_t kMaximaSteps = 64;
  uint8_t masks[kMaximaSteps];
  while (b + 8 <= end) {
    const auto steps = static_cast<uint32_t>(std::min<uint64_t>(kMaximaSteps, (end - b) / 8));
    for (uint32_t i = 0; i < steps; ++i) {
      const uint64_t c = b + 8 * static_cast<uint64_t>(i);
      v4d c0 = load4(q + c);
      v4d c1 = load4(q + c + 4);
      // Each centre vector is compared twice; kept in a register (not re-read from memory by
      // each comparison), a step needs six vector loads instead of eight.
      inregister<kAvx2>(c0);
      inregister<kAvx2>(c1);
      const v4i m0 = (c0 > load4(q + c - 1)) & (c0 > load4(q + c + 1));
      const v4i m1 = (c1 > load4(q + c + 3)) & (c1 > load4(q + c + 5));
      masks[i] = static_cast<uint8_t>(lanebits<kAvx2>(m0) | (lanebits<kAvx2>(m1) << 4));
    }
    for (uint32_t i = 0; i < steps; ++i) {
      const uint32_t mask = masks[i];
      const auto base = static_cast<uint32_t>(b + 8 * static_cast<uint64_t>(i));
      v4u entries;
      std::memcpy(&entries, kLaneCompress.off[mask], sizeof entries);
      entries += v4u{base, base, base, base};
      std::memcpy(list + n, &entries, sizeof entries);
      n += kLaneCompress.count[mask];
    }
    b += 8 * static_cast<uint64_t>(steps);
  }
  for (; b < end; ++b) {
    if (q[b] > q[b - 1] && q[b] > q[b + 1]) list[n++] = static_cast<uint32_t>(b);
  }
  return n;
}

BRISVANE_AVX2 uint32_t maximaavx2(const double* q, uint64_t lo, uint64_t end, uint32_t* list) {
  return maximabody<true>(q, lo, end, list);
}

uint32_t maximaplain(const double* q, uint64_t lo, uint64_t end, uint32_t* list) {
  return maximabody<false>(q, lo, end, list);
}

// Natural logs of four powers by the vector logarithm of positive normal doubles; a lane
// whose power is not a positive normal finite double (a subnormal, an infinity after an
// overflow, a NaN) takes std::log instead. Each lane's operations are fixed, so both compiled
// copies agree. Three vectors at a time (the bins left of, at and right of four maxima): the
// three reductions (each ending in a division) first, then the three polynomials, then one
// test of the lanes, so that the three chains overlap instead of running one after another.
template <bool kAvx2>
BRISVANE_KERNEL void peaklog4x3(v4d& v0, v4d& v1, v4d& v2) {
  const v4d lo = splat4(DBL_MIN);
  const v4d hi = splat4(DBL_MAX);
  const v4i n0 = (v0 >= lo) & (v0 <= hi);
  const v4i n1 = (v1 >= lo) & (v1 <= hi);
  const v4i n2 = (v2 >= lo) & (v2 <= hi);
  v4d s0, f0, k0, s1, f1, k1, s2, f2, k2;
  lognormalreduce<v4d, v4i>(v0, s0, f0, k0);
  lognormalreduce<v4d, v4i>(v1, s1, f1, k1);
  lognormalreduce<v4d, v4i>(v2, s2, f2, k2);
  v4d l0 = lognormalfinish<v4d>(s0, f0, k0);
  v4d l1 = lognormalfinish<v4d>(s1, f1, k1);
  v4d l2 = lognormalfinish<v4d>(s2, f2, k2);
  if (lanebits<kAvx2>(n0 & n1 & n2) != 15u) {
    for (uint32_t i = 0; i < 4; ++i) {
      if (n0[i] == 0) l0[i] = std::log(v0[i]);
      if (n1[i] == 0) l1[i] = std::log(v1[i]);
      if (n2[i] == 0) l2[i] = std::log(v2[i]);
    }
  }
  v0 = l0;
  v1 = l1;
  v2 = l2;
}

// Bins scanned per pass of the vector-log peak search: about thirty maxima of speech, whose
// logarithms are taken before any vertex so that the long chains of neighbouring groups
// overlap.
constexpr uint32_t kVertexBlock = 512;
// Room of its lists (the last entries may be scratch).
constexpr uint32_t kVertexRoom = kVertexBlock / 2 + 4;

// Vertices of the parabolas through the logarithms (peaklog4x3) l0 = ln q[b - 1], l1 = ln q[b],
// l2 = ln q[b + 1] around the maxima b = at[j], j < n <= kVertexBlock / 2, four at a time
// (at[] padded with a valid bin up to a multiple of four): first every logarithm, then for
// each maximum, in the operations of parabfitpoints, parabexty and parabextx, its height h[j]
// and its frequency fq[j] = (vertex offset + bin) * df Hz; bit j % 4 of strict[j / 4] set
// when the maximum is still a strict one of the logarithms (l1 > l0 and l1 > l2).
template <bool kAvx2>
BRISVANE_KERNEL void peakvertexbody(const double* q, const uint32_t* at, uint32_t n, double df,
                                    double* h, double* fq, uint8_t* strict) {
  alignas(32) double L[3 * kVertexRoom];
  for (uint32_t j = 0; j < n; j += 4) {
    const double* c0 = q + at[j];
    const double* c1 = q + at[j + 1];
    const double* c2 = q + at[j + 2];
    const double* c3 = q + at[j + 3];
    v4d v0 = v4d{c0[-1], c1[-1], c2[-1], c3[-1]};
    v4d v1 = v4d{c0[0], c1[0], c2[0], c3[0]};
    v4d v2 = v4d{c0[1], c1[1], c2[1], c3[1]};
    peaklog4x3<kAvx2>(v0, v1, v2);
    store4(L + 3 * j, v0);
    store4(L + 3 * j + 4, v1);
    store4(L + 3 * j + 8, v2);
  }
  for (uint32_t j = 0; j < n; j += 4) {
    const v4d l0 = load4(L + 3 * j);
    const v4d l1 = load4(L + 3 * j + 4);
    const v4d l2 = load4(L + 3 * j + 8);
    strict[j / 4] = static_cast<uint8_t>(lanebits<kAvx2>((l1 > l0) & (l1 > l2)));
    const v4d a = (l2 + l0 - 2.0 * l1) * 0.5;
    const v4d slope = (l2 - l0) * 0.5;
    store4(h + j, slope * slope / (-4.0 * a) + l1);
    const v4d b = v4d{static_cast<double>(at[j]), static_cast<double>(at[j + 1]),
                      static_cast<double>(at[j + 2]), static_cast<double>(at[j + 3])};
    store4(fq + j, (slope / (-2.0 * a) + b) * df);
  }
}

BRISVANE_AVX2 void peakvertexavx2(const double* q, const uint32_t* at, uint32_t n, double df,
                                  double* h, double* fq, uint8_t* strict) {
  peakvertexbody<true>(q, at, n, df, h, fq, strict);
}

void peakvertexplain(const double* q, const uint32_t* at, uint32_t n, double df, double* h,
                     double* fq, uint8_t* strict) {
  peakvertexbody<false>(q, at, n, df, h, fq, strict);
}

// Arguments both peak-list routes accept: arrays present and a search range starting at bin 1
// or later (its left neighbour exists).
bool peaklistargsok(const double* q, uint32_t bfirst, uint32_t blast, const uint32_t* bins, const double* freq) {
  return q != nullptr && bins != nullptr && freq != nullptr && bfirst >= 1 && bfirst <= blast;
}

}  // namespace

uint32_t fvpeaklistpower(const double* q, uint32_t bfirst, uint32_t blast, double df,
                         uint32_t* bins, double* freq) {
  if (!peaklistargsok(q, bfirst, blast, bins, freq)) return 0;
  const bool avx2 = cpuhasavx2();
  uint32_t count = 0;
  bool first = true;
  double T = 0.0;
  // Logarithm of the last bin taken to the log: the right neighbour of one maximum is the
  // left neighbour of a maximum two bins on.
  bool cached = false;
  uint32_t lastbin = 0;
  double lastlog = 0.0;
  uint32_t list[kMaximaBlock / 2 + 4];
  for (uint64_t lo = bfirst; lo <= blast; lo += kMaximaBlock) {
    const uint64_t end = std::min<uint64_t>(lo + kMaximaBlock, blast + 1ull);
    const uint32_t nmax = avx2 ? maximaavx2(q, lo, end, list) : maximaplain(q, lo, end, list);
    for (uint32_t j = 0; j < nmax; ++j) {
      const uint32_t b = list[j];
      const double l0 = (cached && lastbin == b - 1) ? lastlog : std::log(q[b - 1]);
      const double l1 = std::log(q[b]);
      const double l2 = std::log(q[b + 1]);
      cached = true;
      lastbin = b + 1;
      lastlog = l2;
      if (!(l1 > l0 && l1 > l2)) continue;
      // Vertex of the parabola through (-1, l0), (0, l1), (1, l2), in the operations of
      // parabfitpoints, parabexty and parabextx (here inline, so that the divisions overlap
      // the logarithms of the next maximum).
      const double a = (l2 + l0 - 2.0 * l1) * 0.5;
      const double slope = (l2 - l0) * 0.5;
      const double h = slope * slope / (-4.0 * a) + l1;
      if (first || h > T) {
        bins[count] = b;
        freq[count] = (slope / (-2.0 * a) + static_cast<double>(b)) * df;
        ++count;
      }
      first = false;
      T = h - kFvDropLimit;
    }
  }
  return count;
}

uint32_t fvpeaklistpowerfast(const double* q, uint32_t bfirst, uint32_t blast, double df,
                             uint32_t* bins, double* freq) {
  if (!peaklistargsok(q, bfirst, blast, bins, freq)) return 0;
  const bool avx2 = cpuhasavx2();
  uint32_t count = 0;
  bool first = true;
  double T = 0.0;
  uint32_t list[kVertexRoom];
  double h[kVertexRoom];
  double fq[kVertexRoom];
  uint8_t strict[kVertexRoom / 4];
  for (uint64_t lo = bfirst; lo <= blast; lo += kVertexBlock) {
    const uint64_t end = std::min<uint64_t>(lo + kVertexBlock, blast + 1ull);
    const uint32_t nmax = avx2 ? maximaavx2(q, lo, end, list) : maximaplain(q, lo, end, list);
    if (nmax == 0) continue;
    // Spare entries of the last group of four repeat the last maximum.
    for (uint32_t j = nmax; j % 4 != 0; ++j) list[j] = list[nmax - 1];
    if (avx2) {
      peakvertexavx2(q, list, nmax, df, h, fq, strict);
    } else {
      peakvertexplain(q, list, nmax, df, h, fq, strict);
    }
    for (uint32_t j = 0; j < nmax; ++j) {
      if (((strict[j / 4] >> (j % 4)) & 1u) == 0) continue;
      if (first || h[j] > T) {
        bins[count] = list[j];
        freq[count] = fq[j];
        ++count;
      }
      first = false;
      T = h[j] - kFvDropLimit;
    }
  }
  return count;
}

int fvslmtable(uint32_t N, uint32_t W, uint32_t g, double* cosd, double* sind) {
  if (cosd == nullptr || sind == nullptr || N == 0) return -1;
  const double d = (static_cast<double>(W) / static_cast<double>(N)) * kPi;
  for (uint32_t k = 0; k <= 2 * g; ++k) {
    const double a = static_cast<double>(k) * d;
    cosd[k] = std::cos(a);
    sind[k] = std::sin(a);
  }
  return 0;
}

double slmfast(const double* re, const double* im, uint32_t N, double fs, double f, uint32_t W,
               uint32_t b, uint32_t g, const double* cosd, const double* sind) {
  if (re == nullptr || im == nullptr || cosd == nullptr || sind == nullptr || b < g ||
      static_cast<uint64_t>(b) + g >= N) {
    return 0.0;
  }
  const kernelbase kb = slmbase(fs, f, W, N, b, g);
  double ex = 0.0;
  double em = 0.0;
  double t = 0.0;
  double u = 0.0;
  // Model values of the neighbourhood: at most 29 bins for the frames the estimator analyses
  // (g <= 14); longer neighbourhoods asked for by other callers go to the heap.
  double mbuf[kSlmChunk];
  std::vector<double> mlong;
  const uint32_t count = 2 * g + 1;
  double* m = mbuf;
  if (count > kSlmChunk) {
    mlong.assign(count, 0.0);
    m = mlong.data();
  }
  for (uint32_t k0 = 0; k0 < count; k0 += kSlmChunk) {
    modelvalues(kb, b - g, k0, std::min(kSlmChunk, count - k0), cosd, sind, m + k0);
  }
  fixnearbins(kb, kb.o, b - g, count, cosd, sind, m);
  fixnearbins(kb, kb.r, b - g, count, cosd, sind, m);
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t i = b - g + k;
    ex += re[i] * re[i] + im[i] * im[i];
    em += m[k] * m[k];
    t += re[i] * m[k];
    u += im[i] * m[k];
  }
  const double den = ex * em;
  if (den == 0.0) return 0.0;
  const double v = std::sqrt((t * t + u * u) / den);
  return std::isfinite(v) ? v : 0.0;
}

int getfvoicing(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
                const double* f0, double* fv) {
  return getfvslm(x, len, fs, S, offset, n, f0, fv);
}

int getfvoicingfast(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset,
                    uint32_t n, const double* f0, double* fv) {
  return fvtrack(x, len, fs, S, offset, n, f0, fv, true);
}

int getfvslm(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
             const double* f0, double* fv) {
  return fvtrack(x, len, fs, S, offset, n, f0, fv, false);
}

int fvpathsearch(uint32_t n, const uint32_t* count, const double* freq, const double* cost,
                 double lambda, double* fv) {
  return pathsearch(n, count, freq, cost, lambda, fv, false);
}

int fvpathsearchfast(uint32_t n, const uint32_t* count, const double* freq, const double* cost,
                     double lambda, double* fv) {
  return pathsearch(n, count, freq, cost, lambda, fv, true);
}

int fvoicingwarp(uint32_t n, double* fv, double fs, double alpha) {
  if (n == 0) return 0;
  if (fv == nullptr || !validfs(fs)) return -1;
  const double B = fs * 0.5;
  const double k = kPi / B;
  const double ik = 1.0 / k;
  if (alpha == 0.0) return 0;
  for (uint32_t i = 0; i < n; ++i) {
    const double v = fv[i];
    if (v <= 0.0) {
      fv[i] = 0.0;
    } else if (v >= B) {
      fv[i] = B;
    } else {
      fv[i] = fwarp(v * k, alpha) * ik;
    }
  }
  return 0;
}

}  // namespace brisvane
