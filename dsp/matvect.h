#pragma once
// Dense matrix kernels of the least-squares estimators. Matrices are flat row-major
// arrays of 64-bit floats, element (i, j) at i * columns + j.
#include <cstdint>

namespace brisvane {

// dst = factor * src (R x C), or factor * transpose(src) when transpose != 0 (square).
int copymat2(double* dst, const double* src, uint32_t R, uint32_t C, double factor, uint8_t transpose);
// A += factor * B over count elements.
int addmat(double* A, const double* B, uint32_t count, double factor);
// P (a x a) = A (a x b) * B (b x a), lower triangle computed and mirrored
// (negated when sign != 1).
int simprodmat(const double* A, const double* B, double* P, uint32_t a, uint32_t b, int8_t sign);
// As simprodmat for a centrosymmetric (sign 1) or anti-centrosymmetric product.
int simpmprodmat(const double* A, const double* B, double* P, uint32_t a, uint32_t b, int8_t sign);
// Inverse of a symmetric positive definite A into W by Cholesky factorisation; returns the
// determinant (0 when singular, NaN for a negative pivot). A's upper triangle is overwritten.
double choleskyinvdet2(uint32_t n, double* A, double* W);
// Inverse of a symmetric Toeplitz T into R by Levinson bordering; 0, or -1 when singular.
int toeplitzsiminv(uint32_t n, const double* T, double* R);
// Inverse (assumed symmetric) of A into R by Gauss-Jordan elimination; A is destroyed.
// 0, or -1 when singular.
int simgaussinv(uint32_t n, double* A, double* R);

}  // namespace brisvane
