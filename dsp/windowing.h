#pragma once
// Frame grid, window-length rules and window shapes shared by every analysis.
#include <cstdint>

namespace brisvane {

// Number of frames of a signal of N samples with a frame every shift samples, frame 0
// at sample offset: trunc((N - offset - 1) / shift) + 1.
uint32_t getnumframes(uint32_t N, uint32_t shift, uint32_t offset);
uint32_t getnumanalysisframes(uint32_t N, uint32_t shift, uint32_t offset);

// Odd window length covering P periods of f0 (Hz) at fs (Hz): odd(ceil(P * fs / f0)).
uint32_t getwinlengthnperiodsodd(double P, double f0, double fs);
// Odd window length covering d seconds at fs: odd(ceil(fs * d)).
uint32_t getwinlengthdurodd(double d, double fs);
// Smallest power of two not below n (and at least 1).
uint32_t getwinlengthceilpot2(uint32_t n);

// Symmetric windows over the step 2*pi/(L-1); norm != 0 selects the unit-mean-square form.
int winhamming(double* w, uint32_t L, uint8_t norm);
int winhanning(double* w, uint32_t L, uint8_t norm);
// dst[i] = -src[i] * sin(2*pi*i/(L-1)); src and dst may be the same array.
int wincomplementary(const double* src, double* dst, uint32_t L);

}  // namespace brisvane
