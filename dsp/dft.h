#pragma once
// In-place radix-2 complex FFT, forward kernel e^(-j2pi kn/N), inverse e^(+j2pi kn/N)
// without the 1/N factor. Interleaved layout: N (re, im) pairs. Split layout: two arrays.
#include <cstdint>

namespace brisvane {

// dir == -1 selects the inverse transform, any other value the forward one.
// N must be a power of two (N = 1 leaves the data unchanged); any other N returns -1
// and leaves the data untouched. Returns 0 on success.
int dofftc(int32_t N, double* x, int8_t dir);
int fftc(int32_t N, double* x);
int ifftc(int32_t N, double* x);
int dofftr(int32_t N, double* re, double* im, int8_t dir);
int fftr(int32_t N, double* re, double* im);
int ifftr(int32_t N, double* re, double* im);

}  // namespace brisvane
