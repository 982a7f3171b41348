#pragma once
// Spectral envelope as frequency-warped cepstral coefficients.
//
// Every frame of the grid gets order+1 coefficients c0 .. c_order of the envelope's cepstrum
// on a warped frequency axis (first-order all-pass warping with factor alpha, mel-like for
// alpha = 0.42 at 16 kHz). Three per-frame methods:
//   0 (and 3..255) getharmmgc: harmonic amplitudes interpolated into a log spectrum, real
//                  cepstrum by inverse FFT, warped and truncated (ccwarp);
//   1 getharmrdc:  regularized least-squares cepstrum fitted to the harmonic log amplitudes
//                  placed at their warped frequencies;
//   2 getstrmgc:   pitch-adaptive two-window power spectrum, cepstrum cut at two thirds of the
//                  period, warped and truncated.
// Unvoiced frames (and voiced ones whose harmonic fit fails) use the noise log spectrum.
// Within a frame c0 is on the full scale of the warped cepstrum and c1 .. c_order on half of
// it; htsadapteradhoc applies the final rescaling (+5 on c0, x2 on the rest).
//
// An f0 value counts as voiced when it is finite, above 0 and at least fs/2^28 Hz (a two-period
// frame of at most 2^29 samples); NaN, infinities, negative values and smaller positive values
// are taken as unvoiced. A warping factor alpha must be finite with |alpha| < 1; for any other
// alpha no coefficients exist and the frame's order+1 values are set to 0.
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/harmonicanalysis.h"
#include "analysis/noiseanalysis.h"
#include "dsp/dft.h"

namespace brisvane {

// Cepstral workspace shared by all frames of one waveform2ccs call.
struct memcc {
  std::unique_ptr<memha> ha;   // harmonic fits (methods 0 and 1)
  std::unique_ptr<memna> na;   // noise log spectrum and FFT scratch (all methods)
  std::vector<double> lsr;     // method 1 solve scratch: K*(P+1) + 2*(P+1)^2 values
  std::vector<double> strwin;  // method 2 window pair: 2*Lw values
  // Fast path (set by waveform2ccsfast; the per-frame methods then take the fast routes):
  // the matrices of logspec2ccmatrix for matN, matorder, matalpha, and the kernel tables of
  // getharmoniclogspectrumfast.
  bool fast = false;
  uint32_t matN = 0;
  uint32_t matorder = 0;
  double matalpha = 0.0;
  std::vector<double> ccmat;    // (N/2+1) x (order+1)
  std::vector<double> warpmat;  // (N/2+1) x (order+1)
  std::vector<double> tables;   // 3*(N/2+1)
  // Method 2 on the fast path: transform tables for the two windowed frames (N complex points)
  // and for the cepstrum of the real, even log spectrum (N/2 real points); empty when not made.
  fftplan strplan;
  rfftplan cepplan;
};

// First-order all-pass frequency warping of the angular frequency w (radians per sample)
// by the factor alpha (|alpha| < 1): atan2((1-a^2) sin w, (1+a^2) cos w - 2a).
// Maps [0, pi] monotonically onto [0, pi]; slope (1+a)/(1-a) at 0.
double fwarp(double w, double alpha);

// Workspace for fs (Hz), lowest voiced f0 f0min (Hz, > 0), noise window Ln samples and FFT
// length N: harmonic workspace memhacreate(fs, fs, f0min), noise workspace memnacreate(Ln, N).
// The method scratch vectors start empty and are sized by waveform2ccs (or grow on first use).
// Returns null when either member cannot be made.
std::unique_ptr<memcc> memcccreate(double fs, double f0min, uint32_t Ln, uint32_t N);
// Releases the harmonic workspace, the noise workspace, then the record; returns null.
std::unique_ptr<memcc> memccdestroy(std::unique_ptr<memcc> ws);

// Number of values of a cepstral stream: frames*(order+1). Returns 0 when that number does
// not fit in 32 bits (or frames is 0).
uint32_t getccssize(uint32_t frames, uint32_t order);

// Final rescaling of a cepstral stream of frames*(order+1) values in place: c0 of each frame
// + 5.0, c1 .. c_order x 2.0. Returns 0, or -1 when cc is null and frames > 0.
int htsadapteradhoc(double* cc, uint32_t order, uint32_t frames);

// FFT length used for a whole signal: the smallest power of two holding both the noise
// window (naframesize(fs)) and the two-period harmonic frame of f0min (haframesize), raised
// to fftmin (itself first rounded up to a power of two) when smaller. fs in (0, 1e9] Hz with a
// noise window of at least 3 samples, f0min a voiced value (see above) not above 500 Hz,
// fftmin at most 2^30. Returns 0 for arguments outside these ranges.
uint32_t ccfftlength(double fs, double f0min, uint32_t fftmin);

// Cepstral stream of the whole signal: frame i (centre first + i*shift, 64-bit arithmetic,
// frames past the end read zeros) gets order+1 coefficients at cc + i*(order+1) by the method
// selected by `method` (1: getharmrdc, 2: getstrmgc, anything else: getharmmgc), with the
// frame's f0 f0[i] in Hz (0 = unvoiced; see above for invalid values). The FFT length is
// ccfftlength(fs, lowest voiced f0 of the track or 500 Hz, fftmin). cc holds frames*(order+1)
// values. Returns 0; -1 with cc untouched for null pointers (when frames > 0; x may be null
// only when nx is 0), an fs outside the range of ccfftlength or fftmin above 2^30; -1 with
// every coefficient 0 for an alpha that is not finite or has |alpha| >= 1.
// frames = 0 still creates and releases the workspace and returns 0.
int waveform2ccs(const double* x, uint32_t nx, double fs, uint32_t shift, uint32_t first, uint32_t frames,
                 const double* f0, uint32_t fftmin, uint32_t order, double* cc, double alpha, uint8_t method);
// waveform2ccs with the fast per-frame arithmetic (Levinson solve of the harmonic fit, Gram row
// from the window alone, projections without the basis matrix, spectrum-to-cepstrum matrix,
// real-input transforms): same arguments, results and failures. Coefficients differ from
// waveform2ccs by rounding only (about 1e-11 at most on speech; their float32 images are
// identical but for about one value in ten thousand, one unit apart), and the same input gives
// the same bytes on every run.
int waveform2ccsfast(const double* x, uint32_t nx, double fs, uint32_t shift, uint32_t first, uint32_t frames,
                     const double* f0, uint32_t fftmin, uint32_t order, double* cc, double alpha, uint8_t method);

// Frequency transformation of the cepstrum c[0..M1] onto the warped axis of factor alpha,
// truncated to out[0..M2], by the all-pass recursion fed from c[M1] down to c[0]:
//   h0 = v + a g0,  h1 = (1-a^2) g0 + a g1,  hm = g(m-1) + a (gm - h(m-1)),
// alternating between out and work (M2+1 values each). alpha = 0 copies/zero-extends.
// Returns 0, or -1 (out untouched) when alpha is not finite or |alpha| >= 1, or a pointer is
// null. For M2 = 0 only h0 is formed.
int ccwarp(const double* c, uint32_t M1, double* out, uint32_t M2, double alpha, double* work);

// The linear map from a symmetric log spectrum to the warped cepstrum that the spectral path
// of the methods computes (scale by 1/N, inverse FFT, halve c^[0] and c^[N/2], ccwarp with
// M1 = N/2 into order+1 values, double c0), as matrices for N (a power of two >= 2), order and
// alpha (|alpha| < 1, finite):
//   W[n*(order+1) + m], n = 0 .. N/2: coefficient m of the warping of the unit cepstrum at
//     index n (ccwarp is sum_n c[n] W[n]), by the all-pass recursion applied n times;
//   A[k*(order+1) + m], k = 0 .. N/2: coefficient m of the result for a log spectrum that is
//     1 at bins k and N-k and 0 elsewhere, so that c[m] = sum_k logspec[k] A[k][m].
// A is the cosine transform of the rows of W (by the FFT, two rows per transform). Both hold
// (N/2+1)*(order+1) values. Returns 0, or -1 for null arrays, N not a power of two (or < 2,
// > 2^30) or an invalid alpha. Results equal the recursive path to rounding.
int logspec2ccmatrix(uint32_t N, uint32_t order, double alpha, double* W, double* A);

// Per-frame methods. Arguments: signal x (nx samples; may be null only when nx is 0), fs in
// Hz, frame centre sample, the frame's f0 in Hz (0 = unvoiced), FFT length N (a power of two
// with ws->na->L <= N <= ws->na->nfft), two scratch arrays (spectrum, N values: log spectrum
// and FFT real part; second, max(N, order+1) values: FFT imaginary part and warping work
// buffer), the cepstral order,
// the output c (order+1 values), the warping factor and the workspace, which must have been
// made for a lowest f0 not above the frame's f0.
// Return 0 when c was filled; -1 for an invalid alpha (c set to 0) or for arguments outside the
// workspace's capacity or null pointers (c set to 0 when it is not null).
int getharmmgc(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
               double* spectrum, double* second, uint32_t order, double* c, double alpha, memcc* ws);
int getharmrdc(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
               double* spectrum, double* second, uint32_t order, double* c, double alpha, memcc* ws);
int getstrmgc(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
              double* spectrum, double* second, uint32_t order, double* c, double alpha, memcc* ws);

// Cosine matrix of the regularized discrete cepstrum: K rows (harmonics k = 1..K of f0 at fs,
// at warped frequencies theta_k = fwarp(k*2*pi*f0/fs, alpha)) by P+1 columns, row-major:
// M[k-1][0] = 1, M[k-1][m] = 2 cos(m theta_k). Returns 0 (-1 when M is null and K > 0).
int matccharmonic(uint32_t P, uint32_t K, double f0, double fs, double alpha, double* M);
// Regularized least squares: c (P1 values) minimising |y - M c|^2 + sum_m m^2*0.015791367 c_m^2
// for the K x P1 matrix M and K values y. M must be followed by 2*P1^2 values of scratch (the
// system matrix and its inverse). Returns 0, or -1 (c untouched) when the system matrix is
// singular (zero or undefined Cholesky determinant), P1 is 0 or a pointer is null.
int solvelsr(double* M, const double* y, double* c, uint32_t K, uint32_t P1);

// getstraightlogspectrum by the fast route: windows by rotation, both windowed frames through
// one complex FFT (by the tables of plan when it is given with plan->n == N, else by fftr),
// the fast noise spectrum for unvoiced frames (its tables made by memnafastprepare for N);
// only logspec[0 .. N/2] is defined afterwards. Values equal to rounding; failures as
// getstraightlogspectrum (and -1 for unvoiced frames without tables).
int getstraightlogspectrumfast(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
                               double* logspec, double* second, memna* wsn, std::vector<double>* winblock = nullptr,
                               const fftplan* plan = nullptr);

// matccharmonic followed by solvelsr without forming M: with S_d = sum_k cos(d theta_k), the
// system matrix is R[0][0] = K, R[0][j] = 2 S_j, R[i][j] = 2 (S_|i-j| + S_(i+j)) (plus the
// penalty on the diagonal), b = M^T y from the same cosines, and R c = b is solved by a
// Cholesky factorisation instead of an explicit inverse. Same theta_k (fwarp of k*2*pi*f0/fs,
// its cosine and sine taken from the all-pass phase's components), same result to rounding.
// Fails (-1, c untouched) where solvelsr does: a pivot that is not positive or a product of
// pivots that is exactly 0; also for null arrays or P + 1 = 0.
// work holds (P+1)^2 + 15(P+1) values.
int solvelsrfast(uint32_t P, uint32_t K, double f0, double fs, double alpha, const double* y, double* c,
                 double* work);

// Pitch-adaptive log spectrum of a voiced frame: a Hanning window of two periods Lw (scaled to
// sum to Lw) and its sine-modulated companion, each on the frame with the mean removed and the
// fundamental's amplitude u added; the two power spectra are summed, floored at
// Lw*1.0000000000000002e-10 and turned into 1/2 ln(P/(Lw^2 f0)). f0 = 0 (or an invalid f0, or
// one of 2*fs Hz or more) gives the noise log spectrum. logspec and second receive N values each.
// winblock, when given, holds the two windows (grown to 2*Lw values if smaller); without it the
// windows are allocated for the call. Returns 0, or -1 (logspec untouched) when Lw exceeds N or the
// arguments are invalid as for getnoiselogspectrum.
int getstraightlogspectrum(const double* x, uint32_t nx, double fs, uint32_t centre, double f0, uint32_t N,
                           double* logspec, double* second, memna* wsn, std::vector<double>* winblock = nullptr);

}  // namespace brisvane
