#include "dsp/matvect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace brisvane;

namespace {

using Mat = std::vector<double>;

Mat product(const Mat& A, const Mat& B, uint32_t r, uint32_t inner, uint32_t c) {
    Mat P(static_cast<std::size_t>(r) * c, 0.0);
    for (uint32_t i = 0; i < r; ++i) {
        for (uint32_t j = 0; j < c; ++j) {
            double s = 0.0;
            for (uint32_t k = 0; k < inner; ++k) {
                s += A[i * inner + k] * B[k * c + j];
            }
            P[i * c + j] = s;
        }
    }
    return P;
}

// Largest deviation of A * B from the identity.
double offidentity(const Mat& A, const Mat& B, uint32_t n) {
    const Mat P = product(A, B, n, n, n);
    double e = 0.0;
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            e = std::max(e, std::fabs(P[i * n + j] - (i == j ? 1.0 : 0.0)));
        }
    }
    return e;
}

Mat randommat(uint32_t r, uint32_t c, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Mat M(static_cast<std::size_t>(r) * c);
    for (double& v : M) {
        v = u(gen);
    }
    return M;
}

// Symmetric positive definite: M M^T + n I.
Mat randomspd(uint32_t n, unsigned seed) {
    const Mat M = randommat(n, n, seed);
    Mat S(static_cast<std::size_t>(n) * n);
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            double s = 0.0;
            for (uint32_t k = 0; k < n; ++k) {
                s += M[i * n + k] * M[j * n + k];
            }
            S[i * n + j] = s + (i == j ? n : 0.0);
        }
    }
    return S;
}

// Symmetric Toeplitz with a decaying, diagonally dominant first row.
Mat randomtoeplitz(uint32_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> r(n);
    r[0] = 4.0;
    for (uint32_t k = 1; k < n; ++k) {
        r[k] = u(gen) * std::pow(0.6, k);
    }
    Mat T(static_cast<std::size_t>(n) * n);
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            T[i * n + j] = r[i > j ? i - j : j - i];
        }
    }
    return T;
}

}  // namespace

TEST(MatrixCopyAdd, FactorCasesAndTranspose) {
    const Mat S = {1, 2, 3, 4};
    Mat D(4, 9.0);
    ASSERT_EQ(copymat2(D.data(), nullptr, 2, 2, 0.0, 0), 0);  // source not read
    EXPECT_EQ(D, Mat(4, 0.0));
    ASSERT_EQ(copymat2(D.data(), S.data(), 2, 2, -1.0, 1), 0);
    EXPECT_EQ(D, (Mat{-1, -3, -2, -4}));
    ASSERT_EQ(copymat2(D.data(), S.data(), 2, 2, 2.5, 1), 0);
    EXPECT_EQ(D, (Mat{2.5, 7.5, 5, 10}));
    Mat R = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(copymat2(R.data(), R.data(), 2, 3, 0.5, 0), 0);  // in place
    EXPECT_EQ(R, (Mat{0.5, 1, 1.5, 2, 2.5, 3}));
    // A transposing copy of a non-square matrix would read past the source.
    EXPECT_EQ(copymat2(D.data(), R.data(), 2, 3, 1.0, 1), -1);

    Mat A = {1, 2, 3};
    const Mat B = {10, 20, 30};
    addmat(A.data(), B.data(), 3, 1.0);
    EXPECT_EQ(A, (Mat{11, 22, 33}));
    addmat(A.data(), B.data(), 3, -1.0);
    EXPECT_EQ(A, (Mat{1, 2, 3}));
    addmat(A.data(), B.data(), 3, 0.0);
    EXPECT_EQ(A, (Mat{1, 2, 3}));
    addmat(A.data(), B.data(), 3, 0.5);
    EXPECT_EQ(A, (Mat{6, 12, 18}));
}

TEST(MatrixProducts, SymmetricHalfProduct) {
    const Mat A = {1, 2, 3, 4};
    const Mat B = {1, 3, 2, 4};
    Mat P(4);
    ASSERT_EQ(simprodmat(A.data(), B.data(), P.data(), 2, 2, 1), 0);
    EXPECT_EQ(P, (Mat{5, 11, 11, 25}));
    ASSERT_EQ(simprodmat(A.data(), B.data(), P.data(), 2, 2, -1), 0);
    EXPECT_EQ(P, (Mat{5, -11, 11, 25}));

    // Against a full product of M M^T: the lower triangle agrees bit for bit.
    const uint32_t a = 6;
    const uint32_t b = 9;
    const Mat M = randommat(a, b, 1);
    Mat Mt(static_cast<std::size_t>(a) * b);
    for (uint32_t i = 0; i < a; ++i) {
        for (uint32_t k = 0; k < b; ++k) {
            Mt[k * a + i] = M[i * b + k];
        }
    }
    const Mat full = product(M, Mt, a, b, a);
    Mat H(static_cast<std::size_t>(a) * a);
    ASSERT_EQ(simprodmat(M.data(), Mt.data(), H.data(), a, b, 1), 0);
    for (uint32_t i = 0; i < a; ++i) {
        for (uint32_t j = 0; j <= i; ++j) {
            EXPECT_EQ(H[i * a + j], full[i * a + j]);
            EXPECT_EQ(H[j * a + i], full[i * a + j]);
        }
    }
}

TEST(MatrixProducts, CentrosymmetricHalfProduct) {
    // Centrosymmetric factors give a centrosymmetric product.
    for (uint32_t a : {3U, 4U}) {
        const uint32_t b = 5;
        Mat A = randommat(a, b, 2);
        Mat B = randommat(b, a, 3);
        for (uint32_t f = 0; f < a * b; ++f) {
            A[a * b - 1 - f] = A[f];
            B[a * b - 1 - f] = B[f];
        }
        const Mat full = product(A, B, a, b, a);
        Mat P(static_cast<std::size_t>(a) * a);
        ASSERT_EQ(simpmprodmat(A.data(), B.data(), P.data(), a, b, 1), 0);
        for (uint32_t f = 0; f < a * a; ++f) {
            EXPECT_NEAR(P[f], full[f], 1e-14) << a << " " << f;
        }
        ASSERT_EQ(simpmprodmat(A.data(), B.data(), P.data(), a, b, -1), 0);
        for (uint32_t f = 0; f < a * a / 2; ++f) {
            EXPECT_EQ(P[a * a - 1 - f], -P[f]);
        }
        if (a % 2 == 1) {
            EXPECT_EQ(P[a * a / 2], -full[a * a / 2]);  // centre mirrored onto itself
            EXPECT_EQ(P[0], full[0]);
            EXPECT_EQ(P[a * a - 1], -full[0]);
        }
    }
}

TEST(MatrixInverse, CholeskyWorkedCasesAndFailures) {
    Mat A = {4, 2, 2, 3};
    Mat W(4);
    EXPECT_EQ(choleskyinvdet2(2, A.data(), W.data()), 8.0);
    EXPECT_DOUBLE_EQ(W[0], 0.375);
    EXPECT_DOUBLE_EQ(W[1], -0.25);
    EXPECT_DOUBLE_EQ(W[2], -0.25);
    EXPECT_DOUBLE_EQ(W[3], 0.5);
    A = {1, 2, 2, 1};
    EXPECT_TRUE(std::isnan(choleskyinvdet2(2, A.data(), W.data())));
    A = {1, 1, 1, 1};
    EXPECT_EQ(choleskyinvdet2(2, A.data(), W.data()), 0.0);
    A = {4};
    EXPECT_EQ(choleskyinvdet2(1, A.data(), W.data()), 4.0);
    EXPECT_EQ(W[0], 0.25);
    A = {0};
    EXPECT_EQ(choleskyinvdet2(1, A.data(), W.data()), 0.0);
    EXPECT_EQ(choleskyinvdet2(0, A.data(), W.data()), 0.0);
    EXPECT_EQ(choleskyinvdet2(3, nullptr, W.data()), 0.0);
}

TEST(MatrixInverse, CholeskyRandomWellConditioned) {
    for (uint32_t n : {3U, 33U, 67U}) {
        const Mat S = randomspd(n, n);
        Mat A = S;
        Mat W(static_cast<std::size_t>(n) * n);
        const double det = choleskyinvdet2(n, A.data(), W.data());
        ASSERT_GT(det, 0.0);
        EXPECT_LT(offidentity(S, W, n), 1e-12) << n;
        // Strict lower triangle of A is not touched.
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t j = 0; j < i; ++j) {
                ASSERT_EQ(A[i * n + j], S[i * n + j]);
            }
        }
        if (n == 3) {
            const double d3 = S[0] * (S[4] * S[8] - S[5] * S[7]) - S[1] * (S[3] * S[8] - S[5] * S[6]) +
                              S[2] * (S[3] * S[7] - S[4] * S[6]);
            EXPECT_NEAR(det, d3, 1e-12 * d3);
        }
    }
}

TEST(MatrixInverse, ToeplitzBordering) {
    const Mat T = {2, 1, 0, 1, 2, 1, 0, 1, 2};
    Mat R(9);
    ASSERT_EQ(toeplitzsiminv(3, T.data(), R.data()), 0);
    const Mat want = {0.75, -0.5, 0.25, -0.5, 1, -0.5, 0.25, -0.5, 0.75};
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(R[i], want[i], 1e-15) << i;
    }
    const Mat ones = {1, 1, 1, 1};
    EXPECT_EQ(toeplitzsiminv(2, ones.data(), R.data()), -1);
    const Mat zero = {0, 1, 1, 0};
    EXPECT_EQ(toeplitzsiminv(2, zero.data(), R.data()), -1);
    EXPECT_EQ(toeplitzsiminv(0, T.data(), R.data()), -1);
    const Mat five = {5};
    ASSERT_EQ(toeplitzsiminv(1, five.data(), R.data()), 0);
    EXPECT_EQ(R[0], 0.2);

    for (uint32_t n : {2U, 33U, 133U}) {
        const Mat Tn = randomtoeplitz(n, n);
        Mat Rn(static_cast<std::size_t>(n) * n);
        ASSERT_EQ(toeplitzsiminv(n, Tn.data(), Rn.data()), 0);
        EXPECT_LT(offidentity(Tn, Rn, n), 1e-12) << n;
    }
}

TEST(MatrixInverse, GaussJordan) {
    Mat A = {0, 1, 1, 0};
    Mat R(4);
    ASSERT_EQ(simgaussinv(2, A.data(), R.data()), 0);
    EXPECT_EQ(R, (Mat{0, 1, 1, 0}));
    A = {1, 2, 2, 4};
    EXPECT_EQ(simgaussinv(2, A.data(), R.data()), -1);
    A = {0};
    EXPECT_EQ(simgaussinv(1, A.data(), R.data()), -1);
    EXPECT_EQ(simgaussinv(0, A.data(), R.data()), -1);

    // Zero pivots at the first two steps: rows 0/2, then 1/3 are exchanged.
    const Mat S = {0, 0, 2, 1, 0, 0, 1, 1, 2, 1, 1, 0, 1, 1, 0, 5};
    A = S;
    R.assign(16, 0.0);
    ASSERT_EQ(simgaussinv(4, A.data(), R.data()), 0);
    EXPECT_LT(offidentity(S, R, 4), 1e-14);

    for (uint32_t n : {33U, 133U}) {
        Mat Sn = randommat(n, n, 40 + n);
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t j = 0; j < i; ++j) {
                Sn[j * n + i] = Sn[i * n + j];
            }
            Sn[i * n + i] += 3.0 * std::sqrt(static_cast<double>(n));
        }
        Mat An = Sn;
        Mat Rn(static_cast<std::size_t>(n) * n);
        ASSERT_EQ(simgaussinv(n, An.data(), Rn.data()), 0);
        EXPECT_LT(offidentity(Sn, Rn, n), 1e-12) << n;
    }
}
