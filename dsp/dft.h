#pragma once
// In-place radix-2 complex FFT (decimation in time, natural input and output order).
//   forward: X[k] = sum_n x[n] e^(-j 2 pi k n / N)
//   inverse: x[n] = sum_k X[k] e^(+j 2 pi k n / N)   (no 1/N: forward then inverse gives N x)
// Real signals are transformed as complex data with zero imaginary parts; bin k of an
// N-point transform of a signal sampled at fs lies at k * fs / N Hz.
// Interleaved layout: x holds N (re, im) pairs, 2N doubles. Split layout: re and im hold
// N doubles each. No work memory is allocated.
#include <cstdint>

namespace brisvane {

// N: number of complex points, a power of two from 1 to 2^30 (N = 1 leaves the data
// unchanged). Any other N (including N <= 0) or a null array returns -1 and leaves the
// data untouched. dir == -1 selects the inverse transform, any other value the forward
// one. Returns 0 on success.
int dofftc(int32_t N, double* x, int8_t dir);
int fftc(int32_t N, double* x);   // forward, interleaved
int ifftc(int32_t N, double* x);  // inverse, interleaved
int dofftr(int32_t N, double* re, double* im, int8_t dir);
int fftr(int32_t N, double* re, double* im);   // forward, split
int ifftr(int32_t N, double* re, double* im);  // inverse, split

}  // namespace brisvane
