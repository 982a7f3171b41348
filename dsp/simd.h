#pragma once
// Short vectors of doubles for the hot loops, and the choice of instruction set at run time.
//
// v2d and v4d are compiler vector types: each lane is one IEEE double computed with the same
// operations in the same order whatever instructions carry it (SSE2 register pairs on any
// x86-64, one AVX register where the processor has AVX2). A kernel written once on these types
// and compiled twice (see BRISVANE_DISPATCH) therefore gives the same bytes on every machine.
// No fused multiply-add is ever formed: the build turns contraction off and no kernel enables
// the FMA instruction set.
//
// Pattern (the body must be force-inlined so that it takes the caller's instruction set):
//   BRISVANE_KERNEL void sumbody(const double* a, double* out, std::size_t n) { ... v4d ... }
//   BRISVANE_AVX2 void sumavx2(const double* a, double* out, std::size_t n) { sumbody(a, out, n); }
//   void sumplain(const double* a, double* out, std::size_t n) { sumbody(a, out, n); }
//   void sum(...) { if (cpuhasavx2()) sumavx2(...); else sumplain(...); }
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace brisvane {

typedef double v2d __attribute__((vector_size(16)));
typedef double v4d __attribute__((vector_size(32)));
// Signed 64-bit integer lanes of the same widths (bit patterns and comparison masks).
typedef long long v2i __attribute__((vector_size(16)));
typedef long long v4i __attribute__((vector_size(32)));

#define BRISVANE_KERNEL static inline __attribute__((always_inline))
#if defined(__x86_64__) || defined(__i386__)
#define BRISVANE_AVX2 __attribute__((target("avx2"), noinline))
#else
#define BRISVANE_AVX2 __attribute__((noinline))
#endif

// Unaligned loads and stores (memcpy compiles to one move).
BRISVANE_KERNEL v2d load2(const double* p) {
  v2d v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
BRISVANE_KERNEL void store2(double* p, v2d v) { std::memcpy(p, &v, sizeof v); }
BRISVANE_KERNEL v4d load4(const double* p) {
  v4d v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
BRISVANE_KERNEL void store4(double* p, v4d v) { std::memcpy(p, &v, sizeof v); }
// a in every lane, written as a broadcast of lane 0: the plain braced form, once inlined into
// an AVX2 copy, becomes an unpack and a cross-half permute (slow on some processors) instead
// of the one broadcast instruction.
BRISVANE_KERNEL v4d splat4(double a) {
  v4d v = {};
  std::memcpy(&v, &a, sizeof a);
  return __builtin_shufflevector(v, v, 0, 0, 0, 0);
}
// Lanes in reverse order (for bins read downwards from the top of a spectrum).
BRISVANE_KERNEL v4d reverse4(v4d v) { return __builtin_shufflevector(v, v, 3, 2, 1, 0); }

// The same for either width (V = v2d or v4d), for kernels written once for both.
template <typename V>
BRISVANE_KERNEL V loadv(const double* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename V>
BRISVANE_KERNEL void storev(double* p, V v) {
  std::memcpy(p, &v, sizeof v);
}

// Natural log of positive normal doubles, lane by lane: x = 2^k (1 + f) with 1 + f in
// [sqrt(2)/2, sqrt(2)), s = f / (2 + f), and ln(1 + f) = 2s + 2s^3/3 + ... evaluated as
// f - s (f - R) in the form that keeps the error below 1 ulp (R a degree-14 polynomial in s;
// ln 2 split into a high part exact in its products with k and a low part). V is v4d or v2d,
// I the signed 64-bit integer vector of the same width (v4i, v2i).
// Only +, -, *, / and bit operations: the same bytes on every instruction set. Accurate to
// within one unit in the last place of the library logarithm. Other inputs (zero, negative,
// subnormal, infinite, NaN) give unspecified values: callers test the range themselves.
// The bit work is done on unsigned lanes (logical shifts: both instruction sets have them for
// 64-bit lanes, unlike arithmetic ones; the sign bit of a positive x is 0, so they agree), and
// k, a small integer (|k| < 2^11), becomes a double exactly by placing its biased exponent
// field in the mantissa of 2^52 and subtracting 2^52 + 1023: two operations instead of a
// lane-by-lane conversion.
// Written as two stages, also usable in separate passes over an array (each pass's chain of
// dependent operations is then about half as long, so more values are in flight): the
// reduction gives s, f and k (as a double), the finish the logarithm from them.
template <typename V, typename I>
BRISVANE_KERNEL void lognormalreduce(V x, V& s, V& f, V& dk) {
  typedef unsigned long long U __attribute__((vector_size(sizeof(I))));
  U u;
  std::memcpy(&u, &x, sizeof u);
  // Mantissas from sqrt(2)/2 up carry into the exponent field: t's field is k + 1023.
  const U t = u + ((0x3ff00000ULL - 0x3fe6a09eULL) << 32);
  // 1 + f = x 2^-k: t's mantissa bits under the exponent field of sqrt(2)/2, undone.
  const U mu = (t & 0x000fffffffffffffULL) + (0x3fe6a09eULL << 32);
  // 2^52 + k + 1023 exactly, then k.
  const U kb = (t >> 52) | 0x4330000000000000ULL;
  V m, kv;
  std::memcpy(&m, &mu, sizeof m);
  std::memcpy(&kv, &kb, sizeof kv);
  dk = kv - (4503599627370496.0 + 1023.0);
  f = m - 1.0;
  s = f / (2.0 + f);
}
template <typename V>
BRISVANE_KERNEL V lognormalfinish(V s, V f, V dk) {
  constexpr double ln2hi = 6.93147180369123816490e-01;
  constexpr double ln2lo = 1.90821492927058770002e-10;
  constexpr double lg1 = 6.666666666666735130e-01, lg2 = 3.999999999940941908e-01;
  constexpr double lg3 = 2.857142874366239149e-01, lg4 = 2.222219843214978396e-01;
  constexpr double lg5 = 1.818357216161805012e-01, lg6 = 1.531383769920937332e-01;
  constexpr double lg7 = 1.479819860511658591e-01;
  const V hfsq = 0.5 * f * f;
  const V z = s * s;
  const V w = z * z;
  const V t1 = w * (lg2 + w * (lg4 + w * lg6));
  const V t2 = z * (lg1 + w * (lg3 + w * (lg5 + w * lg7)));
  const V R = t2 + t1;
  return s * (hfsq + R) + dk * ln2lo - hfsq + f + dk * ln2hi;
}
template <typename V, typename I>
BRISVANE_KERNEL V lognormal(V x) {
  V s, f, dk;
  lognormalreduce<V, I>(x, s, f, dk);
  return lognormalfinish<V>(s, f, dk);
}

#if defined(__x86_64__) || defined(__i386__)
// Sign bits of the four lanes of d by one AVX instruction (inlined into the AVX2 copies,
// its only callers). The vector is passed by address: a 256-bit argument of a function
// compiled without AVX would change the calling convention.
__attribute__((target("avx2"))) inline uint32_t signbits256(const v4d* d) {
  return static_cast<uint32_t>(__builtin_ia32_movmskpd256(*d));
}
#endif

// Bit l set where lane l of the comparison mask m is set (its sign bit), by the sign-mask
// instruction of the instruction set the copy is compiled for (one instruction, or two on
// SSE2, instead of four lane moves).
template <bool kAvx2>
BRISVANE_KERNEL uint32_t lanebits(v4i m) {
  v4d d;
  std::memcpy(&d, &m, sizeof d);
#if defined(__x86_64__) || defined(__i386__)
  if constexpr (kAvx2) {
    return signbits256(&d);
  } else {
    v2d lo;
    v2d hi;
    std::memcpy(&lo, &d, sizeof lo);
    std::memcpy(&hi, reinterpret_cast<const char*>(&d) + sizeof lo, sizeof hi);
    return static_cast<uint32_t>(__builtin_ia32_movmskpd(lo)) |
           (static_cast<uint32_t>(__builtin_ia32_movmskpd(hi)) << 2);
  }
#endif
  uint32_t bits = 0;
  for (uint32_t l = 0; l < 4; ++l) bits |= static_cast<uint32_t>(m[l] & 1) << l;
  return bits;
}

// Whether the AVX2 copies of the kernels run: the processor must have AVX2 and the
// environment must not set BRISVANE_NO_AVX2 (which lets the tests compare both copies on one
// machine). Decided once per process.
inline bool cpuhasavx2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool use = __builtin_cpu_supports("avx2") && std::getenv("BRISVANE_NO_AVX2") == nullptr;
  return use;
#else
  return false;
#endif
}

}  // namespace brisvane
