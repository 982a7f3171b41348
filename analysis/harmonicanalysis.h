#pragma once
// Harmonic analysis: least-squares fit of the harmonics of f0 to a windowed frame,
// the harmonic pitch refinement built on it, and the harmonic log spectrum.
//
// Conventions. Frequencies in Hz, fs the sampling rate (> 0), sample positions and lengths
// in samples. An analysis frame has an odd length N = 2L + 1 centred on a sample; column t
// belongs to the time offset tau = t - L. A complex number is two consecutive doubles (real
// part first); a complex matrix with C columns holds entry (r, t) at 2(r*C + t).
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
  // Work memory of the fast fits (getharmonicsfast and the fast refinement), separate from
  // the block so that the documented routines' layout is untouched; sized by memhacreate.
  std::vector<double> fast;
  // Right halves of the fast fit's window for the last kWinHalves frame lengths: row r
  // (nws/2 + 1 values) holds the half of length winL[r] + 1 (kNoWin: empty). Consecutive
  // frames mostly share their length or alternate between two, so most fits find their
  // window here instead of recomputing it.
  static constexpr uint32_t kWinHalves = 4;
  static constexpr uint32_t kNoWin = 0xffffffffu;
  std::vector<double> winhalves;
  uint32_t winL[kWinHalves] = {kNoWin, kNoWin, kNoWin, kNoWin};
  uint32_t winnext = 0;
};

// Analysis frame length for f0: the smallest odd length not below two periods,
// getwinlengthnperiodsodd(2, f0, fs) (16 kHz: 161 at 200 Hz, 321 at 100 Hz, 535 at 60 Hz).
// 0 for f0 or fs not positive and finite.
uint32_t haframesize(double fs, double f0);
// Number of harmonics k >= 1 with k*f0 strictly below min(fmax, fs/2): 0 when f0 >= fmax or
// f0 >= fs/2, else ceil(limit/f0) - 1 (16 kHz, fmax = fs, f0 = 100: 79). 0 for f0 or fs not
// positive and finite or fmax NaN; saturates at INT_MAX for a vanishing f0.
int hanoharms(double fs, double fmax, double f0);
// Workspace for frames of f0 >= f0low and harmonics below fmax:
//   nws = haframesize(fs, min(f0low, 200)), K = hanoharms(fs, fmax, f0low), M = 2(K + 2),
//   one block of 2*nws + 2*M*nws + 2*M^2 doubles laid out as win (nws), frame (nws),
//   basis (2*M*nws), gram (M^2), inv (M^2); proj = gram, coef = gram + M^2/2.
// It serves a plain fit of n <= K + 1 harmonics (2n + 1 <= M rows) and a refinement step
// with h harmonics when 2(2h + 1) <= M, in frames of N <= nws samples. Contents are
// undefined; between calls the caller may use the block as scratch (the fit leaves coef
// and the residual in frame valid until the next call). Null for fs or f0low not positive
// and finite, and for sizes beyond 2^31 doubles.
std::unique_ptr<memha> memhacreate(double fs, double fmax, double f0low);
// Releases the workspace; returns a null handle to store back.
std::unique_ptr<memha> memhadestroy(std::unique_ptr<memha> ws);

// (2n+1) x N complex basis of windowed harmonics into E: row r is harmonic n - r,
// entry (r, t) = w[t] exp(j (n - r) omega tau), omega = 2 pi f0/fs rad/sample; row n is the
// window itself and row 2n - r the conjugate of row r. One cosine and one sine per call,
// every other entry from the rotation recurrence and entrywise products. E holds
// 2(2n+1)N doubles, w N values (symmetric). 0, or -1 for null arrays, n = 0 or N even.
int hamatrixcreate1(double* E, uint32_t N, uint32_t n, double f0, double fs, const double* w);
// Fits a0 + sum_{k=1..n} A_k cos(k omega tau + phi_k) to the frame of N = haframesize(fs,
// min(f0, 200)) samples centred on x[centre] (zeros beyond the signal), by least squares
// weighted with the square of the unit-power Hamming window. On success amp[k-1] = A_k (units
// of x) and pha[k-1] = phi_k (radians, -pi..pi, cosine phase at the centre sample), each
// array n values or null, and ws->coef holds the 2n+1 complex coefficients (element n the
// constant a0, element n + k the coefficient c_k = A_k/2 e^{j phi_k} of harmonic k, element
// n - k its conjugate) with the windowed residual in ws->frame.
// Returns -1, amp and pha untouched, for: f0 = 0, negative or not finite; n = 0; centre >=
// len; null x or ws; a frame whose windowed samples are all 0; a frame or harmonic count
// beyond the workspace's capacity (N > nws or 2n + 1 > M); a singular system; method other
// than 1 (1 selects the joint solver, the only one provided).
int getharmonics(const double* x, uint32_t len, double fs, uint32_t centre, double f0, uint32_t n,
                 double* amp, double* pha, memha* ws, int method);
// getharmonics by a faster route with the same model, window, frame, arguments, capacity
// checks and failures: the windowed frame is folded into its even and odd parts about the
// centre, the projections on the harmonics come from Chebyshev (Clenshaw) sums of the folded
// frame, the Gram row from the closed form of a squared raised-cosine window (sums of
// Dirichlet kernels), and the Toeplitz system is solved by toeplitzsimsolvecentred for the
// real parts of the coefficients (the symmetric part of the solution about the constant term)
// and the imaginary parts (the antisymmetric part) side by side. No basis matrix is built and
// no residual formed: on success ws->coef holds the 2n+1 coefficients as after getharmonics,
// ws->frame is unspecified. Values agree with getharmonics to rounding (relative differences
// of the order of 1e-13 for well-conditioned fits).
int getharmonicsfast(const double* x, uint32_t len, double fs, uint32_t centre, double f0, uint32_t n,
                     double* amp, double* pha, memha* ws, int method);
// Joint least-squares solve of the B (odd) basis rows in ws->basis (N columns, N odd)
// against ws->frame: Toeplitz Gram matrix from its first row (centre column plus twice the
// left half), Toeplitz inversion, projections, coefficients into coef, residual into frame.
// 0, or -1 for a singular system, even B or N, or a call beyond the workspace's capacity.
int solvelsc(memha* ws, uint32_t N, uint32_t B);

// Slope weight g for the ramp g*tau/fs: with a = (w[0] + w[L])/2 and b = w[L] - a (the
// window seen as a + b cos(pi tau/L)), g = (pi fs/L) sqrt(6(2a^2 + b^2) /
// (4 pi^2 a^2 - 48ab + (2 pi^2 + 3) b^2)), which makes the ramp's window-weighted mean square
// about 1 (16 kHz plain Hamming: 654.1 for N = 161, 327.0 for N = 321). 0 for null w or L = 0.
double haweightslope(const double* w, uint32_t L, double fs);
// Extended basis into E: rows 0 .. B-1 (B = 2h+1) the plain basis of hamatrixcreate1 and rows
// B + r = (g tau/fs) * row r (centre column 0). E holds 4BN doubles. 0, or -1 as
// hamatrixcreate1.
int hamatrixcreate2(double* E, uint32_t N, uint32_t h, double f0, double fs, const double* w, double g);
// Least-squares fit of the nrows = 2B extended basis rows (B odd) to ws->frame through the
// block system [[T1, jY], [jY, T2]] (T1, T2 symmetric Toeplitz, Y antisymmetric Toeplitz):
// coef receives the B amplitude coefficients and then the B slope coefficients (each in
// the convention of getharmonics; a slope coefficient times g is the change of the complex
// amplitude per second). frame is left as it was. 0, or -1 for a singular block, nrows not
// of the form 2B with B odd, N even, or a call beyond the workspace's capacity (2B > M).
int solvelsc2(memha* ws, uint32_t N, uint32_t nrows);
// Refines f0 on the frame centred on x[centre] (plain Hamming window of haframesize(fs,
// min(f0, 200)) samples, harmonics below fmax) by fitting each harmonic with a linearly
// changing complex amplitude; the new f0 is the mean of the per-harmonic instantaneous
// frequencies divided by k, weighted by sqrt(A_k): method 2 reads them at the frame
// centre, any other method averages them over the frame with the window's weights. The
// step is repeated up to `remaining` more times while the relative change is >= 0.001.
// Returns: 0 for f0 = 0 or an all-zero frame; f0 unchanged for f0 >= fmax (or f0 negative
// or not finite); the f0 the step started from when that step moves f0 by more than 20 %,
// cannot be solved, finds no harmonic energy, gives a non-finite value, or would exceed the
// workspace's capacity (the chain then stops); else the last step's estimate.
double harefinepitch(const double* x, uint32_t len, double fs, uint32_t centre, double f0, double fmax,
                     memha* ws, uint32_t remaining, int8_t method);
// Refines every voiced value (> 0) of f0track (nframes values, frame i centred on sample
// first + i*shift) in place with harefinepitch (fmax = 1000 Hz, iterations steps at most),
// then clamps: a positive result below f0min becomes f0min, one above f0max becomes f0max;
// 0 stays 0. Does nothing for iterations <= 0, f0min not positive and finite, f0max NaN, or
// null arrays. Capacity: each accepted step moves f0 by at most 20 %, so the last step of a
// chain starts at no less than lowest * 0.8^(iterations - 1), lowest = min(f0min/2, lowest
// voiced track value); the workspace is made for that f0 (a step at f0 needs room for
// f0/2), but never below 10 Hz (half the lowest f0min the command accepts); a step below
// the workspace's reach keeps its starting value. Frames whose centre does not fit 32 bits
// are left untouched. Returns 0.
int refinepitch(const double* x, uint32_t len, double fs, uint32_t shift, uint32_t first, uint32_t nframes,
                double f0min, double f0max, int32_t iterations, int8_t method, double* f0track);
// harefinepitch by the fast route of each step (Gram blocks and projections from Chebyshev
// sums of the folded frame and window, the block system as two folded real Cholesky solves):
// same arguments, decisions and results to rounding.
double harefinepitchfast(const double* x, uint32_t len, double fs, uint32_t centre, double f0, double fmax,
                         memha* ws, uint32_t remaining, int8_t method);
// refinepitch with the fast solve of each step (same arguments, decisions and clamping; every
// refined value agrees with refinepitch to rounding, relative differences below 1e-10).
int refinepitchfast(const double* x, uint32_t len, double fs, uint32_t shift, uint32_t first, uint32_t nframes,
                    double f0min, double f0max, int32_t iterations, int8_t method, double* f0track);

// Harmonic log spectrum of a voiced frame on the N-point FFT grid: fits the K =
// hanoharms(fs, fs, f0) harmonics (getharmonics), L[k] = 1/2 ln(|c_k|^2/f0) = ln(A_k /
// (2 sqrt(f0))) (per square root of the harmonic spacing), L[0] = L[1], and interpolates
// the sources k = 0 .. K+4 at k*f0 (those above K carry the smallest L) onto the bins j*fs/N,
// j = 0 .. N/2, with the kernel 1/2 (1 + cos(theta/4)) sin(theta)/theta, theta = pi (f -
// k f0)/f0, |theta| < 4 pi; kernel parts below 0 Hz fold onto the positive bins; then
// spec[N - j] = spec[j]. spec holds N >= 2 values (N normally a power of two); the L values
// use ws->inv. 0, or -1 when the fit fails (K = 0 included) or spec is null or N < 2, with
// spec untouched.
int getharmoniclogspectrum(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
                           double* spec, memha* ws, int method);

// getharmoniclogspectrum by the fast route: the fit by getharmonicsfast, and the kernel
// sin(theta) and cos(theta/4) taken from per-bin tables (theta = j w - k pi, so sin(theta) =
// (-1)^k sin(j w) and cos(theta/4) follows from cos, sin of j w/4 and k pi/4) instead of per
// source recurrences, neighbouring sources sharing one division on the bins both cover; the
// same sources, bins, folding and failures, values equal to rounding. Only bins 0 .. N/2 are
// written: the upper half (the mirror image, which the cepstral product never reads) is left
// as it was. tables holds 3(N/2 + 1) values of scratch (null: -1).
int getharmoniclogspectrumfast(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
                               double* spec, memha* ws, int method, double* tables);

}  // namespace brisvane
