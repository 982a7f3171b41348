#pragma once
// Three-point parabolic peak interpolation. The samples y0, y1, y2 sit at abscissae
// -1, 0, +1 (in samples of the caller's sequence: lags or frequency bins); the
// coefficient triple coef = (a, b, c) describes p(x) = a x^2 + b x + c:
//   a = (y2 + y0 - 2 y1) / 2,  b = (y2 - y0) / 2,  c = y1.
// At a strict local maximum (y1 > y0, y1 > y2) a < 0, the vertex abscissa lies strictly
// inside (-0.5, 0.5) and the vertex height is not below y1. For a collinear triple
// (a = 0) the vertex is infinite or NaN; callers keep the strict-maximum precondition.
namespace brisvane {

// y: three consecutive values y0, y1, y2; coef: output triple. 0, or -1 for a null pointer.
int parabfit(const double* y, double* coef);
int parabfitpoints(double y0, double y1, double y2, double* coef);
// Vertex abscissa b / (-2a), in samples relative to the centre sample (NaN for null).
double parabextx(const double* coef);
// Vertex height b^2 / (-4a) + c (NaN for null).
double parabexty(const double* coef);

}  // namespace brisvane
