#pragma once
// Harmonic analysis: least-squares fit of the harmonics of f0 to a windowed frame,
// the harmonic pitch refinement built on it, and the harmonic log spectrum.
#include <cstdint>
#include <memory>
#include <vector>

namespace brisvane {

// Work memory of the harmonic fits: one block carved into seven areas (see memhacreate).
struct memha {
  std::vector<double> block;  // owns the memory
  double* win = nullptr;      // analysis window, nws values
  double* frame = nullptr;    // windowed frame / residual, nws values
  double* basis = nullptr;    // complex basis matrix, M rows of nws complex values
  double* gram = nullptr;     // system matrices, M*M values
  double* inv = nullptr;      // inverses, M*M values
  double* proj = nullptr;     // projections, same address as gram
  double* coef = nullptr;     // coefficients, gram + M*M/2
  uint32_t nws = 0;           // capacity: longest frame (samples)
  uint32_t K = 0;             // capacity: harmonics of the plain fit
  uint32_t M = 0;             // 2*(K+2): basis rows
};

// Analysis frame length for f0: odd length of two periods, getwinlengthnperiodsodd(2, f0, fs).
uint32_t haframesize(double fs, double f0);
// Number of harmonics k >= 1 with k*f0 strictly below min(fmax, fs/2).
int hanoharms(double fs, double fmax, double f0);
// Workspace for frames of f0 >= f0low and harmonics below fmax.
std::unique_ptr<memha> memhacreate(double fs, double fmax, double f0low);
// Releases the workspace; returns a null handle to store back.
std::unique_ptr<memha> memhadestroy(std::unique_ptr<memha> ws);

// (2n+1) x N complex basis of windowed harmonics, row r = harmonic n - r. Returns 0.
int hamatrixcreate1(double* E, uint32_t N, uint32_t n, double f0, double fs, const double* w);
// Fits n harmonics of f0 to the frame centred on centre; amp/pha (n values each, may be
// null) get amplitudes and cosine phases. 0, or -1 when the fit fails.
int getharmonics(const double* x, uint32_t len, double fs, uint32_t centre, double f0, uint32_t n,
                 double* amp, double* pha, memha* ws, int method);
// Joint least-squares solve of the B basis rows against the frame. 0 or -1.
int solvelsc(memha* ws, uint32_t N, uint32_t B);

// Slope weight giving the ramp g*tau/fs unit window-weighted mean square.
double haweightslope(const double* w, uint32_t L, double fs);
// Extended basis: the plain basis and the same rows times the ramp g*tau/fs. Returns 0.
int hamatrixcreate2(double* E, uint32_t N, uint32_t h, double f0, double fs, const double* w, double g);
// Least-squares fit of the extended basis (nrows rows). 0 or -1.
int solvelsc2(memha* ws, uint32_t N, uint32_t nrows);
// One refinement step from f0 plus up to remaining further steps; returns the new f0.
double harefinepitch(const double* x, uint32_t len, double fs, uint32_t centre, double f0, double fmax,
                     memha* ws, uint32_t remaining, int8_t method);
// Refines every voiced value of f0track in place, clamped to [f0min, f0max]. Returns 0.
int refinepitch(const double* x, uint32_t len, double fs, uint32_t shift, uint32_t first, uint32_t nframes,
                double f0min, double f0max, int32_t iterations, int8_t method, double* f0track);

// Harmonic log spectrum of a voiced frame on the N-point FFT grid (natural-log amplitude
// per square root of Hz, symmetric). 0, or -1 when the harmonic fit fails (spec untouched).
int getharmoniclogspectrum(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
                           double* spec, memha* ws, int method);

}  // namespace brisvane
