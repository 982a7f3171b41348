#pragma once
// Spectral envelope as frequency-warped cepstral coefficients.
#include <cstdint>

namespace brisvane {

// First-order all-pass frequency warping of the angular frequency w (radians per sample)
// by the factor alpha (|alpha| < 1): atan2((1-a^2) sin w, (1+a^2) cos w - 2a).
double fwarp(double w, double alpha);

}  // namespace brisvane
