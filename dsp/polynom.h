#pragma once
// Three-point parabolic peak interpolation. Samples at abscissae -1, 0, +1; the
// coefficient triple (a, b, c) describes p(x) = a x^2 + b x + c, x in samples.
namespace brisvane {

int parabfit(const double* y, double* coef);
int parabfitpoints(double y0, double y1, double y2, double* coef);
// Vertex abscissa b / (-2a), relative to the centre sample.
double parabextx(const double* coef);
// Vertex height b^2 / (-4a) + c.
double parabexty(const double* coef);

}  // namespace brisvane
