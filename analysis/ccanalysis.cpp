#include "analysis/ccanalysis.h"

#include <cmath>

namespace brisvane {

double fwarp(double w, double alpha) {
  const double a2 = alpha * alpha;
  return std::atan2((1.0 - a2) * std::sin(w), (1.0 + a2) * std::cos(w) - 2.0 * alpha);
}

}  // namespace brisvane
