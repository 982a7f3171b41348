#pragma once
// Noise log spectrum of frames without usable harmonic structure, and the windowed-sinc
// low-pass filter of the 2x upsampler.
#include <cstdint>
#include <memory>
#include <vector>

namespace brisvane {

// Taps of a zero-phase windowed-sinc low-pass: L+1 taps (L even), cut-off fc Hz for a
// signal at fs Hz, Hamming-windowed (1 at the centre, 0.08 at the ends). Returns 0.
int getlpwinfilter(uint32_t L, double fc, double fs, double* h);
// Zero-phase FIR filtering of x (n samples) in place with the L+1 taps h; samples outside
// the signal count as 0. Returns 0.
int winfiltersignal(double* x, uint32_t n, uint32_t L, const double* h);

}  // namespace brisvane
