#pragma once
// Dense matrix kernels of the least-squares estimators. Matrices are flat row-major
// arrays of 64-bit floats, element (i, j) of a matrix with C columns at i * C + j; row and
// column counts travel beside the array. The caller allocates every array; outputs must
// not overlap inputs unless stated. Singularity tests are exact comparisons with 0, 1 or
// -1 (no tolerance): nearly singular matrices are inverted with whatever accuracy results.
// On failure an inverse's output (and A for simgaussinv) holds partial results.
// A null array with a nonzero size makes every routine fail (-1, or 0 for the determinant).
#include <cstdint>

namespace brisvane {

// dst = factor * src (R x C; may be in place), or factor * transpose(src) when
// transpose != 0, which needs a square matrix (R == C, else -1) and dst != src.
// factor exactly 0 zeroes dst without reading src. Returns 0.
int copymat2(double* dst, const double* src, uint32_t R, uint32_t C, double factor, uint8_t transpose);
// A += factor * B over count elements (factor exactly 0 leaves A unchanged). Returns 0.
int addmat(double* A, const double* B, uint32_t count, double factor);
// P (a x a) = A (a x b) * B (b x a) for a product known to be symmetric (sign == 1) or
// antisymmetric (sign != 1): the lower triangle with the diagonal is computed (sums in
// increasing k) and mirrored, negated when sign != 1. Returns 0.
int simprodmat(const double* A, const double* B, double* P, uint32_t a, uint32_t b, int8_t sign);
// As simprodmat for a centrosymmetric product, P(a-1-r, a-1-c) = P(r, c) (sign == 1), or
// anti-centrosymmetric (sign != 1): the front half in row-major order is computed and
// mirrored; for odd a and sign != 1 the centre element ends up negated. Returns 0.
int simpmprodmat(const double* A, const double* B, double* P, uint32_t a, uint32_t b, int8_t sign);
// Inverse of a symmetric positive definite A (n x n) into W (n x n) by the Cholesky
// factorisation A = U^T U. Returns the determinant of A (product of the pivots,
// unscaled): 0 when n == 0 or a zero determinant (W then holds the factor, not the
// inverse), NaN at the first negative pivot. Only the diagonal and upper triangle of A are
// read; for n >= 2 A's upper triangle is overwritten with U^-1.
double choleskyinvdet2(uint32_t n, double* A, double* W);
// Inverse of a symmetric Toeplitz T (n x n) into R (n x n) by Levinson bordering; only
// T(0, 0) and the strict lower triangle are read. 0, or -1 when n == 0, T(0, 0) == 0 or a
// leading block is exactly singular. Allocates three vectors of n values.
int toeplitzsiminv(uint32_t n, const double* T, double* R);
// Solution z of T z = b for the symmetric Toeplitz T (n x n) of first row t (n values), by the
// Levinson recursion: the first column of each leading block's inverse is advanced as in
// toeplitzsiminv (same quantities and tests; it is kept as a scale times a vector with leading
// element 1 and the sums for c run in another order, so c may differ in its last bits), and
// the solution is bordered with it, so no inverse is formed: about 2 n^2 multiply-adds
// instead of toeplitzsiminv's n^3. work holds 4n values. The same bytes result whether or not
// the AVX2 copy runs.
// z must not overlap b, t or work. 0, or -1 (z partial) when n == 0, t[0] == 0, a leading
// block is exactly singular (c == 1 or c == -1) or a pointer is null.
// When growth is not null it receives t[0] times the leading element of T's inverse, the
// product of the recursion's factors 1/(1 - c^2): 1 for a diagonal T, large when T is close
// to singular (a lower bound of its condition number).
int toeplitzsimsolve(uint32_t n, const double* t, const double* b, double* z, double* work,
                     double* growth = nullptr);
// Solution of T z = b for the symmetric Toeplitz T of odd size N = 2h + 1 (first row t, N
// values) with b given by its parts about the centre row h: b(h - d) = ys[d] + ya[d] and
// b(h + d) = ys[d] - ya[d], d = 0 .. h (ya[0] is not read: the antisymmetric part is 0 there).
// T commutes with the reversal, so z = zs + za with zs symmetric, za antisymmetric about h; the
// lower halves are returned: z(r) = zs[r] + za[r], z(N-1-r) = zs[r] - za[r], r = 0 .. h, and
// za[h] = 0. Method: the predictor of each leading block is advanced as in toeplitzsimsolve (the
// same c, tests and growth, to the bit), and the two parity solutions are grown from the centre
// outwards, two elements per step: T's central s x s block is its leading one, and for the
// predictor a of size s + 2 (T a = [e, 0, .., 0], e its prediction error)
// T(a +- J a) = [e, 0, .., 0, +-e], J the reversal, so x' = [0; x; 0] + mu (a +- J a),
// mu = (b' - rho)/e, b' the right-hand side at the new outer element and
// rho = sum_(j=1..s) t(j) x(j-1), solves the block of size s + 2. Only the lower
// halves are stored and updated, on odd block sizes only: for the solution about N^2/2
// multiplications instead of toeplitzsimsolve's N^2 (the additions stay about N^2, as a +- J a
// and the folded t(j) +- t(s+1-j) are formed on the way), and half the passes that write it.
// Rounding differs from toeplitzsimsolve's in the last bits. work holds 3N values; zs and za
// (h + 1 values each) must not overlap each other, t, ys, ya or work. The same bytes result
// whether or not the AVX2 copy runs. 0, or -1 (zs, za partial) when t[0] == 0, a leading block
// is exactly singular (c == 1 or c == -1) or a pointer is null. growth as for toeplitzsimsolve
// (the same value).
int toeplitzsimsolvecentred(uint32_t h, const double* t, const double* ys, const double* ya, double* zs, double* za,
                            double* work, double* growth = nullptr);
// Inverse of A (n x n, whose inverse is symmetric) into R (n x n) by Gauss-Jordan
// elimination with a row exchange only at an exactly zero pivot; the lower triangle is
// computed and mirrored. A is destroyed. 0, or -1 when n == 0 or A is exactly singular.
int simgaussinv(uint32_t n, double* A, double* R);

}  // namespace brisvane
