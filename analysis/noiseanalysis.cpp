#include "analysis/noiseanalysis.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace brisvane {

namespace {
constexpr double kPi = 3.141592653589793;
}

int getlpwinfilter(uint32_t L, double fc, double fs, double* h) {
  const uint32_t M = L / 2;
  // Normalised cut-off (1 = Nyquist) and cut-off angle in radians per sample.
  const double c = (fc + fc) / fs;
  const double wc = c * kPi;
  h[M] = c;
  if (M == 0) return 0;
  // sin(i*wc) and cos(i*pi/M) by angle-addition recurrences from sin 0 = 0, cos 0 = 1.
  const double swc = std::sin(wc), cwc = std::cos(wc);
  const double swm = std::sin(kPi / M), cwm = std::cos(kPi / M);
  double s = 0.0, sc = 1.0;  // sin(i*wc), cos(i*wc)
  double ws = 0.0, wcs = 1.0;  // sin(i*pi/M), cos(i*pi/M)
  for (uint32_t i = 1; i <= M; ++i) {
    const double ns = s * cwc + sc * swc;
    sc = sc * cwc - s * swc;
    s = ns;
    const double nws = ws * cwm + wcs * swm;
    wcs = wcs * cwm - ws * swm;
    ws = nws;
    const double v = s / (static_cast<double>(i) * kPi) * (0.46 * wcs + 0.54);
    h[M + i] = v;
    h[M - i] = v;
  }
  return 0;
}

int winfiltersignal(double* x, uint32_t n, uint32_t L, const double* h) {
  const uint32_t M = L / 2;
  // Delay line of L+1 input samples x[i-M .. i+M], zeros outside the signal.
  std::vector<double> d(static_cast<size_t>(L) + 1, 0.0);
  for (uint32_t j = 0; j <= M; ++j) d[M + j] = (j < n) ? x[j] : 0.0;
  for (uint32_t i = 0; i < n; ++i) {
    double sum = 0.0;
    for (uint32_t j = 0; j <= L; ++j) sum += h[j] * d[j];
    std::memmove(d.data(), d.data() + 1, sizeof(double) * L);
    const uint64_t next = static_cast<uint64_t>(M) + i + 1;
    d[L] = (next < n) ? x[next] : 0.0;
    x[i] = sum;
  }
  return 0;
}

}  // namespace brisvane
