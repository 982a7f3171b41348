// Frame grid, window-length rules and the Hamming/Hanning window family.
#include "dsp/windowing.h"

#include <cmath>

namespace brisvane {

namespace {

constexpr double kTwoPi = 6.283185307179586;

// Largest length representable as an unsigned 32-bit count.
constexpr double kMaxLength = 4294967295.0;

// Makes an integral length odd by clearing its lowest bit and adding 1 (an odd length
// stays, an even one grows by 1), so that a window has a centre sample with the same
// number of samples on either side. 0 when x is not finite, negative or too large.
uint32_t oddlength(double x) {
    if (!std::isfinite(x) || x < 0.0 || x > kMaxLength) {
        return 0;
    }
    const uint32_t v = static_cast<uint32_t>(x);
    return (v & ~static_cast<uint32_t>(1)) + 1;
}

// Angular step between window samples, 2*pi/(L-1) radians, for L >= 2.
double windowstep(uint32_t L) {
    return kTwoPi / static_cast<double>(L - 1);
}

// Raised-cosine window a - b*cos(i*s); a single sample takes the centre value a + b.
int raisedcosine(double* w, uint32_t L, double a, double b) {
    if (L == 0) {
        return 0;
    }
    if (w == nullptr) {
        return -1;
    }
    if (L == 1) {
        w[0] = a + b;
        return 0;
    }
    const double s = windowstep(L);
    for (uint32_t i = 0; i < L; ++i) {
        w[i] = a - b * std::cos(static_cast<double>(i) * s);
    }
    return 0;
}

}  // namespace

uint32_t getnumframes(uint32_t N, uint32_t shift, uint32_t offset) {
    return getnumanalysisframes(N, shift, offset);
}

uint32_t getnumanalysisframes(uint32_t N, uint32_t shift, uint32_t offset) {
    if (shift == 0 || N <= offset) {
        return 0;
    }
    const uint32_t span = N - offset - 1;
    const double q = std::trunc(static_cast<double>(span) / static_cast<double>(shift));
    return static_cast<uint32_t>(q) + 1;
}

uint32_t getwinlengthnperiodsodd(double P, double f0, double fs) {
    return oddlength(std::ceil(P * fs / f0));
}

uint32_t getwinlengthdurodd(double d, double fs) {
    return oddlength(std::ceil(fs * d));
}

uint32_t getwinlengthceilpot2(uint32_t n) {
    if (n > (static_cast<uint32_t>(1) << 31)) {
        return 0;
    }
    uint32_t p = 1;
    while (p < n) {
        p *= 2;
    }
    return p;
}

int winhamming(double* w, uint32_t L, uint8_t norm) {
    // 0.54/0.46, scaled by 1/sqrt(0.54^2 + 0.46^2/2) for a mean square of about 1.
    return norm != 0 ? raisedcosine(w, L, 0.8566, 0.7297) : raisedcosine(w, L, 0.54, 0.46);
}

int winhanning(double* w, uint32_t L, uint8_t norm) {
    // 0.5/0.5, scaled by 1/sqrt(0.375) for a mean square of about 1.
    const double c = norm != 0 ? 0.8165 : 0.5;
    return raisedcosine(w, L, c, c);
}

int wincomplementary(const double* src, double* dst, uint32_t L) {
    if (L == 0) {
        return 0;
    }
    if (dst == nullptr || (L >= 2 && src == nullptr)) {
        return -1;
    }
    if (L == 1) {
        dst[0] = 0.0;
        return 0;
    }
    const double s = windowstep(L);
    for (uint32_t i = 0; i < L; ++i) {
        dst[i] = src[i] * std::sin(-(static_cast<double>(i) * s));
    }
    return 0;
}

}  // namespace brisvane
