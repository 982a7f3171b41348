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
#include <cstdlib>
#include <cstring>

namespace brisvane {

typedef double v2d __attribute__((vector_size(16)));
typedef double v4d __attribute__((vector_size(32)));

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
BRISVANE_KERNEL v4d splat4(double a) { return v4d{a, a, a, a}; }

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
