// In-place iterative radix-2 decimation-in-time FFT for the two complex layouts.
//
// Both layouts share one algorithm: bit-reversal permutation of the input, then
// butterfly stages of span 2, 4, ..., N. Each stage computes one cosine and one sine
// and advances its twiddle factor by complex multiplication (no twiddle table), the
// twiddle index being the outer loop and the block start the inner one. The exact
// operation order fixes the rounding of every output bin, so it must not be reordered.
#include "dsp/dft.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace brisvane {

namespace {

constexpr double kTwoPi = 6.283185307179586;

// log2 of a power of two N >= 1, or -1 when N is not a positive power of two.
int fftbits(int32_t N) {
    if (N <= 0 || (N & (N - 1)) != 0) {
        return -1;
    }
    int m = 0;
    for (uint32_t v = static_cast<uint32_t>(N); v > 1; v >>= 1) {
        ++m;
    }
    return m;
}

// Reverses the lowest m bits of i.
std::size_t bitreverse(std::size_t i, int m) {
    std::size_t r = 0;
    for (int b = 0; b < m; ++b) {
        r = (r << 1) | ((i >> b) & 1U);
    }
    return r;
}

// Rotation angle of a stage of span c: -2pi/c forward, +2pi/c inverse.
double stageangle(std::size_t c, int8_t dir) {
    const double theta = kTwoPi / static_cast<double>(c);
    return dir == -1 ? theta : -theta;
}

}  // namespace

int dofftc(int32_t N, double* x, int8_t dir) {
    const int m = fftbits(N);
    if (m < 0 || x == nullptr) {
        return -1;
    }
    const std::size_t n = static_cast<std::size_t>(N);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t r = bitreverse(i, m);
        if (r > i) {
            std::swap(x[2 * i], x[2 * r]);
            std::swap(x[2 * i + 1], x[2 * r + 1]);
        }
    }
    for (std::size_t c = 2; c <= n; c *= 2) {
        const std::size_t h = c / 2;
        const double theta = stageangle(c, dir);
        const double wr = std::cos(theta);
        const double wi = std::sin(theta);
        double ur = 1.0;
        double ui = 0.0;
        for (std::size_t j = 0; j < h; ++j) {
            for (std::size_t b = 0; b < n; b += c) {
                const std::size_t p = 2 * (b + j);
                const std::size_t q = p + 2 * h;
                const double tr = x[q] * ur - x[q + 1] * ui;
                const double ti = x[q] * ui + x[q + 1] * ur;
                x[q] = x[p] - tr;
                x[q + 1] = x[p + 1] - ti;
                x[p] = x[p] + tr;
                x[p + 1] = x[p + 1] + ti;
            }
            const double nr = ur * wr - ui * wi;
            const double ni = ur * wi + ui * wr;
            ur = nr;
            ui = ni;
        }
    }
    return 0;
}

int fftc(int32_t N, double* x) { return dofftc(N, x, 1); }

int ifftc(int32_t N, double* x) { return dofftc(N, x, -1); }

int dofftr(int32_t N, double* re, double* im, int8_t dir) {
    const int m = fftbits(N);
    if (m < 0 || re == nullptr || im == nullptr) {
        return -1;
    }
    const std::size_t n = static_cast<std::size_t>(N);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t r = bitreverse(i, m);
        if (r > i) {
            std::swap(re[i], re[r]);
            std::swap(im[i], im[r]);
        }
    }
    for (std::size_t c = 2; c <= n; c *= 2) {
        const std::size_t h = c / 2;
        const double theta = stageangle(c, dir);
        const double wr = std::cos(theta);
        const double wi = std::sin(theta);
        double ur = 1.0;
        double ui = 0.0;
        for (std::size_t j = 0; j < h; ++j) {
            for (std::size_t b = 0; b < n; b += c) {
                const std::size_t p = b + j;
                const std::size_t q = p + h;
                const double tr = re[q] * ur - im[q] * ui;
                const double ti = re[q] * ui + im[q] * ur;
                re[q] = re[p] - tr;
                im[q] = im[p] - ti;
                re[p] = re[p] + tr;
                im[p] = im[p] + ti;
            }
            const double nr = ur * wr - ui * wi;
            const double ni = ur * wi + ui * wr;
            ur = nr;
            ui = ni;
        }
    }
    return 0;
}

int fftr(int32_t N, double* re, double* im) { return dofftr(N, re, im, 1); }

int ifftr(int32_t N, double* re, double* im) { return dofftr(N, re, im, -1); }

}  // namespace brisvane
