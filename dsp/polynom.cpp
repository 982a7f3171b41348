// Three-point parabolic interpolation of a sampled peak (autocorrelation lag or
// spectral bin), abscissae -1, 0, +1 in samples of the caller's sequence.
#include "dsp/polynom.h"

#include <limits>

namespace brisvane {

int parabfitpoints(double y0, double y1, double y2, double* coef) {
    if (coef == nullptr) {
        return -1;
    }
    coef[0] = (y2 + y0 - 2.0 * y1) * 0.5;
    coef[1] = (y2 - y0) * 0.5;
    coef[2] = y1;
    return 0;
}

int parabfit(const double* y, double* coef) {
    if (y == nullptr) {
        return -1;
    }
    return parabfitpoints(y[0], y[1], y[2], coef);
}

// At a strict local maximum (a < 0) the vertex lies strictly inside (-0.5, 0.5);
// a collinear triple (a = 0) gives an infinite or NaN abscissa, left to the caller.
double parabextx(const double* coef) {
    if (coef == nullptr) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return coef[1] / (-2.0 * coef[0]);
}

double parabexty(const double* coef) {
    if (coef == nullptr) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return coef[1] * coef[1] / (-4.0 * coef[0]) + coef[2];
}

}  // namespace brisvane
