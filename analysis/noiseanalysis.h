#pragma once
// Noise log spectrum of frames without usable harmonic structure, and the windowed-sinc
// low-pass filter of the 2x upsampler.
#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/dft.h"

namespace brisvane {

// Taps of a zero-phase windowed-sinc low-pass: L+1 taps (L even), cut-off fc Hz for a
// signal at fs Hz, Hamming-windowed (1 at the centre, 0.08 at the ends). An odd L gets a
// last tap of 0. Returns 0, or -1 for a null h.
int getlpwinfilter(uint32_t L, double fc, double fs, double* h);
// Zero-phase FIR filtering of x (n samples) in place with the L+1 taps h; samples outside
// the signal count as 0. Returns 0.
int winfiltersignal(double* x, uint32_t n, uint32_t L, const double* h);

// Work memory of the noise log spectrum. The first three members are the analysis proper:
// the window length, the unit-power Hamming window (L values) and the FFT imaginary-part
// scratch, carved from one block of L + nfft values, window first.
struct memna {
  uint32_t L = 0;            // noise window length, samples (odd)
  double* win = nullptr;     // Hamming window, unit mean square, L values
  double* scratch = nullptr; // FFT imaginary part, nfft values
  uint32_t nfft = 0;         // capacity of scratch: the largest FFT length served
  std::vector<double> block; // owns win and scratch
  // Fast path: e^(-j 2 pi k/fastN), k = 0 .. fastN/4, for the real-input transform of
  // getnoiselogspectrumfast, and the plan of its fastN/2-point complex FFT (both made by
  // memnafastprepare).
  uint32_t fastN = 0;
  std::vector<double> fastcos;
  std::vector<double> fastsin;
  fftplan fastplan;
};

// Length of the noise analysis window: 10 ms, forced odd (161 samples at 16 kHz).
// fs in Hz, finite and in (0, 1e9]; returns 0 for any other fs.
uint32_t naframesize(double fs);
// Workspace for a window of L samples (L >= 2) and FFT lengths up to N (N >= 2);
// returns null for L < 2, N < 2 or N < L.
std::unique_ptr<memna> memnacreate(uint32_t L, uint32_t N);
// Releases the workspace; returns a null handle to store back.
std::unique_ptr<memna> memnadestroy(std::unique_ptr<memna> ws);

// The stretch of a window of L samples centred on sample `centre` (window position i stands
// for sample centre + i - L/2) that lies inside a signal of nx samples: positions i0 .. e-1
// (empty for a centre past the end; 64-bit arithmetic), base = the sample index of position 0,
// and mean = the sum of the samples inside, in increasing position, divided by the whole L.
struct windowstretch {
  int64_t i0 = 0;
  int64_t e = 0;
  int64_t base = 0;
  double mean = 0.0;
};
windowstretch centredstretch(const double* x, uint32_t nx, uint32_t centre, uint32_t L);

// Natural-log amplitude spectrum (per square root of Hz) of the mean-removed, Hamming-windowed
// stretch of ws->L samples centred on sample `centre` of x (nx samples, zeros outside the
// signal, centre may lie beyond the end), on the N-point FFT grid (bin k at k*fs/N), with the
// low-frequency attenuation of elimlowfrecfromlogspec applied. logspec receives N values,
// symmetric (logspec[N-k] = logspec[k]). Each power is floored at L*1.0000000000000002e-10 before
// scaling by 1/(L*fs), so digital silence gives 1/2 ln(1.0000000000000002e-10/fs) per bin
// (before the attenuation). N must be a power of two with ws->L <= N <= ws->nfft.
// Returns 0, or -1 (logspec untouched) for null pointers (x may be null only when nx is 0),
// an N outside that range, or fs not finite and positive.
int getnoiselogspectrum(const double* x, uint32_t nx, double fs, uint32_t centre, uint32_t N,
                        double* logspec, memna* ws);

// Tables of the fast noise log spectrum for the FFT length N (a power of two, 4 <= N <=
// ws->nfft). Returns 0, or -1 (nothing made) otherwise.
int memnafastprepare(memna* ws, uint32_t N);
// getnoiselogspectrum by a real-input transform: the N real frame values are packed into N/2
// complex points, transformed by the plan-based N/2-point FFT and separated with the tables of
// memnafastprepare. Same window, mean removal, floor, scaling and low-band attenuation; the log
// amplitude is taken as 1/2 ln(P / (L fs)) by a vectorised natural log (within 1 ulp of
// std::log; a frame where any P / (L fs) is not a positive normal double, e.g. an overflowed
// power, goes wholly through std::log, the same on every instruction set). Only
// logspec[0 .. N/2] is defined afterwards (the upper half is scratch). Values equal the
// documented ones to rounding. -1 (logspec untouched) as getnoiselogspectrum, and when the
// tables were not made for this N.
int getnoiselogspectrumfast(const double* x, uint32_t nx, double fs, uint32_t centre, uint32_t N,
                            double* logspec, memna* ws);

// out[i] = 1/2 ln(max(P[i], floor) / scale), i < n: log amplitudes of powers, by a vectorised
// natural log (within 1 ulp of std::log); when any quotient is not a positive normal double
// (zero, an overflowed power, a NaN) the whole array goes through std::log instead, the same
// on every instruction set. P, out and the work arrays wf and wk hold n values each and must
// not overlap.
void halflogpower(const double* P, uint32_t n, double floor, double scale, double* out, double* wf, double* wk);

// High-pass shaping of a symmetric N-point log spectrum in place: bin 0 is lowered by ln 10
// (20 dB), bins below 500 Hz by ln 10 * (1 - f/500), with f = k*fs/N accumulated by addition;
// bins at or above 500 Hz are untouched. N >= 2 and fs > 0; returns 0, or -1 (nothing done)
// otherwise or when logspec is null.
int elimlowfrecfromlogspec(double* logspec, uint32_t N, double fs);

}  // namespace brisvane
