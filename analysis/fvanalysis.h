#pragma once
// Maximum voiced frequency: per frame, the frequency above which the spectrum stops
// being harmonic, and its warping onto the cepstral frequency axis.
#include <cstdint>

namespace brisvane {

// fv[k] in Hz for the n frames centred on offset + k*S; 0 for unvoiced frames (f0 == 0).
int getfvoicing(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
                const double* f0, double* fv);
int getfvslm(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
             const double* f0, double* fv);
// Sinusoid-likeness in [0, 1] of the peak at f Hz (centre bin b, +-g bins) of the N-point
// interleaved spectrum X of a W-sample frame.
double slm(const double* X, uint32_t N, double fs, double f, uint32_t W, uint32_t b, uint32_t g);
// Maps each value through fwarp (0 and fs/2 fixed); alpha == 0 leaves the track untouched.
int fvoicingwarp(uint32_t n, double* fv, double fs, double alpha);

}  // namespace brisvane
