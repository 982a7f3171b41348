#pragma once
// In-place radix-2 complex FFT (decimation in time, natural input and output order).
//   forward: X[k] = sum_n x[n] e^(-j 2 pi k n / N)
//   inverse: x[n] = sum_k X[k] e^(+j 2 pi k n / N)   (no 1/N: forward then inverse gives N x)
// Real signals are transformed as complex data with zero imaginary parts; bin k of an
// N-point transform of a signal sampled at fs lies at k * fs / N Hz.
// Interleaved layout: x holds N (re, im) pairs, 2N doubles. Split layout: re and im hold
// N doubles each. No work memory is allocated.
//
// Fast forms. The documented transforms above fix the rounding of every bin by their
// twiddle recurrence. The fast forms below compute the same transforms from tables made
// once (fftplan, rfftplan) and reused for every frame of an analysis; their results differ
// from the documented ones only by rounding (relative errors of a few 1e-16 per stage,
// smaller than the recurrence's). Real signals of N points are transformed by packing them
// into N/2 complex points.
#include <cstdint>
#include <vector>

namespace brisvane {

// N: number of complex points, a power of two from 1 to 2^30 (N = 1 leaves the data
// unchanged). Any other N (including N <= 0) or a null array returns -1 and leaves the
// data untouched. dir == -1 selects the inverse transform, any other value the forward
// one. Returns 0 on success.
int dofftc(int32_t N, double* x, int8_t dir);
int fftc(int32_t N, double* x);   // forward, interleaved
int ifftc(int32_t N, double* x);  // inverse, interleaved
int dofftr(int32_t N, double* re, double* im, int8_t dir);
int fftr(int32_t N, double* re, double* im);   // forward, split
int ifftr(int32_t N, double* re, double* im);  // inverse, split

// Tables of the complex fast transform of n points: the bit-reversal exchanges and indices, the twiddle
// factors of a last radix-2 stage of span n (cos(2 pi j/n), -sin(2 pi j/n), j < n/2) and, per
// radix-4 pass over blocks of 4h points (h = 4, 16, 64, ...), the factors e^(-j 2 pi q j/(4h))
// for q = 2, 1, 3 and j < h. All are evaluated directly, not by recurrence.
struct fftplan {
  uint32_t n = 0;
  std::vector<uint32_t> swaps;  // pairs (i, r), i < r, exchanged by the bit reversal
  std::vector<uint32_t> rev;    // rev[i]: bit reversal of i, i < n (for packing in place)
  std::vector<double> twre;     // last radix-2 stage
  std::vector<double> twim;
  std::vector<double> quad;     // radix-4 passes, 6h values each: re, im of q = 2, 1, 3
};
// Fills plan for n complex points, a power of two from 1 to 2^30. Returns 0, or -1 (plan
// untouched) for any other n or a null plan.
int fftplancreate(uint32_t n, fftplan* plan);
// In-place complex transform of plan.n points in split layout: forward (dir != -1)
// X[k] = sum_n x[n] e^(-j 2 pi k n / n), inverse (dir == -1) with e^(+j ...) and no 1/n,
// as dofftr. Returns 0, or -1 (data untouched) for null arrays or an empty plan.
int dofftrfast(const fftplan& plan, double* re, double* im, int8_t dir);
// Forward transform of dofftrfast for data that already stand in bit-reversed order (point
// plan.rev[i] at position i, as a caller places them while forming its frame): the exchange
// pass is skipped, the bins (natural order) are the same to the last bit. Same failures.
int dofftrfastreversed(const fftplan& plan, double* re, double* im);
// Forward transform of dofftrfast for data whose points count .. plan.n - 1 are zero (a
// short frame at the start of a longer transform): those points are taken as +0 and not
// read. When count <= plan.n / 4 and plan.n >= 16, every group of four points that the
// first two stages combine holds at most one nonzero point, so those stages reduce to
// copies and the exchange pass to a quarter of its length. The bins are those of dofftrfast
// on the zero-filled data to the last bit. count <= plan.n; otherwise, for null arrays or an
// empty plan, returns -1 (data untouched).
int dofftrfastlow(const fftplan& plan, double* re, double* im, uint32_t count);

// Tables of the real-input fast transform of N real points (N a power of two >= 2): the
// complex plan of N/2 points and cos(2 pi k/N), sin(2 pi k/N) for k = 0 .. N/2.
struct rfftplan {
  uint32_t N = 0;
  fftplan half;
  std::vector<double> cosk;
  std::vector<double> sink;
};
// Fills plan for N real points, a power of two from 2 to 2^31. Returns 0, or -1 (plan
// untouched) otherwise.
int rfftplancreate(uint32_t N, rfftplan* plan);
// Forward transform of the N real values x into the bins k = 0 .. N/2 (re[k], im[k]; the
// other bins are the complex conjugates of these, X[N-k] = conj X[k]). re and im must each
// hold N/2 + 1 values and must not overlap x. Returns 0, or -1 for null arrays or an empty
// plan.
int rfftfast(const rfftplan& plan, const double* x, double* re, double* im);
// rfftfast of a frame that is zero except near its start and end, as a zero-phase window
// placed with wrap-around leaves it: x[j] = 0 for N/8 <= j < N - N/8 (these samples are not
// read; for N < 16 all N are read and rfftfast runs). The first two stages of the half-length
// transform, three quarters of whose inputs are then zero, reduce to copies, and only a
// quarter of the samples are packed. The bins equal rfftfast's to the bit. Same arguments and
// results as rfftfast.
int rfftfastcentred(const rfftplan& plan, const double* x, double* re, double* im);
// Inverse transform of a conjugate-symmetric spectrum given by its bins k = 0 .. N/2 (the
// imaginary parts of bins 0 and N/2 are taken as 0): x[n] = sum_{k=0}^{N-1} X[k]
// e^(+j 2 pi k n / N), no 1/N, as ifftc of the full spectrum. re and im (N/2 + 1 values
// each) are used as work memory and overwritten; x receives N real values and must not
// overlap them. Returns 0, or -1 for null arrays or an empty plan.
int irfftfast(const rfftplan& plan, double* re, double* im, double* x);

}  // namespace brisvane
