#pragma once
// f0 estimation: autocorrelation pitch tracker with a Viterbi path search, its
// high-resolution variant on a 2x upsampled signal, and the log-f0 conversions.
#include <cstdint>
#include <vector>

namespace brisvane {

// Log-f0 marker of an unvoiced frame (exactly representable as a 32-bit float).
inline constexpr double kUnvoicedLogF0 = -1e10;

// f0 in Hz -> natural log; 0, negative or NaN -> -1e10. In place; returns 0.
int f02logf0(uint32_t count, double* values);
// log-f0 -> Hz; values at or below -1e10 and NaN -> 0. In place; returns 0.
int logf02f0(uint32_t count, double* values);

// f0 track of n frames centred on offset + k*S (samples) of x (len samples at fs Hz),
// searched between f0min and f0max Hz; out[k] in Hz, 0 for unvoiced. Returns 0.
int getpitch(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
             double f0min, double f0max, double* out);
// Circular autocorrelation of N interleaved complex points in place (unscaled). Returns 0.
int autocorrelation(int32_t N, double* buf);

// getpitch on the signal upsampled by 2 (same frame instants, finer lags). Returns 0.
int getpitchhighres(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset,
                    uint32_t n, double f0min, double f0max, double* out);
// Zero insertion by b with gain b followed by a 50*b-tap-half windowed-sinc low-pass at
// 0.4*fs: returns b*len samples at rate b*fs.
std::vector<double> increaseresolution(const double* x, uint32_t len, double fs, uint32_t b);

}  // namespace brisvane
