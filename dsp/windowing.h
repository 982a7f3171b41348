#pragma once
// Frame grid, window-length rules and window shapes shared by every analysis.
// Lengths and positions are in samples; frequencies in Hz; durations in seconds.
#include <cstdint>

namespace brisvane {

// Number of frames of a signal of N samples with a frame every shift samples and frame 0
// at sample offset: trunc((N - offset - 1) / shift) + 1, i.e. the last frame is the last
// position not beyond the last sample (16000 samples, shift 80: 200 frames). Returns 0
// (no frame) when N <= offset or shift == 0.
uint32_t getnumframes(uint32_t N, uint32_t shift, uint32_t offset);
uint32_t getnumanalysisframes(uint32_t N, uint32_t shift, uint32_t offset);

// Odd window length covering P periods of f0 at sampling rate fs: x = ceil(P * fs / f0),
// made odd by clearing bit 0 and adding 1 (801 for 3 periods of 60 Hz at 16 kHz).
// Returns 0 when x is not finite, negative or beyond 2^32 - 1 (e.g. f0 = 0); callers
// validate their arguments (P > 0, f0 > 0, fs > 0).
uint32_t getwinlengthnperiodsodd(double P, double f0, double fs);
// Odd window length covering d seconds at fs: odd(ceil(fs * d)) (161 for 10 ms at
// 16 kHz); 0 under the same conditions as above.
uint32_t getwinlengthdurodd(double d, double fs);
// Smallest power of two not below n, at least 1 (transform sizes); 0 when n > 2^31,
// for which no 32-bit power of two exists.
uint32_t getwinlengthceilpot2(uint32_t n);

// Symmetric raised-cosine windows of L samples over the angular step s = 2 pi / (L - 1):
//   Hamming w[i] = a - b cos(i s): (a, b) = (0.54, 0.46), or (0.8566, 0.7297) when
//           norm != 0 (scaled by 1.5863 for a mean square of about 1);
//   Hanning w[i] = c - c cos(i s): c = 0.5, or 0.8165 when norm != 0 (scaled by 1.6330).
// L = 1 gives the single centre value (a + b, or 2c); L = 0 writes nothing.
// w must hold L values. Returns 0, or -1 for a null w with L > 0.
int winhamming(double* w, uint32_t L, uint8_t norm);
int winhanning(double* w, uint32_t L, uint8_t norm);
// Sine-modulated companion window: dst[i] = src[i] * sin(-i s) = -src[i] sin(2 pi i/(L-1)).
// src and dst may be the same array. L = 1 writes a single 0; L = 0 writes nothing.
// Returns 0, or -1 for a null array with L > 0.
int wincomplementary(const double* src, double* dst, uint32_t L);

}  // namespace brisvane
