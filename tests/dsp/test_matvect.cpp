#include "dsp/matvect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace brisvane;
using Mat = std::vector<double>;

namespace {

Mat product(const Mat& A, const Mat& B, uint32_t r, uint32_t inner, uint32_t c) {
    Mat P(static_cast<std::size_t>(r) * c, 0.0);
    for (uint32_t i = 0; i < r; ++i) {
        for (uint32_t j = 0; j < c; ++j) {
            for (uint32_t k = 0; k < inner; ++k) {
                P[i * c + j] += A[i * inner + k] * B[k * c + j];
            }
        }
    }
    return P;
}

// Largest deviation of A * B from the identity.
double offidentity(const Mat& A, const Mat& B, uint32_t n) {
    const Mat P = product(A, B, n, n, n);
    double e = 0.0;
    for (uint32_t i = 0; i < n * n; ++i) {
        e = std::max(e, std::fabs(P[i] - (i % (n + 1) == 0 ? 1.0 : 0.0)));
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

// Well-conditioned symmetric matrix: random symmetric part plus a dominant diagonal.
Mat randomsym(uint32_t n, unsigned seed) {
    Mat S = randommat(n, n, seed);
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < i; ++j) {
            S[j * n + i] = S[i * n + j];
        }
        S[i * n + i] = 2.0 * n;
    }
    return S;
}

}  // namespace

TEST(MatrixCopyAdd, FactorCasesAndTranspose) {
    const Mat S = {1, 2, 3, 4};
    Mat D(4, 9.0);
    copymat2(D.data(), nullptr, 2, 2, 0.0, 0);  // factor 0 never reads the source
    EXPECT_EQ(D, Mat(4, 0.0));
    copymat2(D.data(), S.data(), 2, 2, -1.0, 1);
    EXPECT_EQ(D, (Mat{-1, -3, -2, -4}));
    Mat R = {1, 2, 3, 4, 5, 6};
    copymat2(R.data(), R.data(), 2, 3, 0.5, 0);
    EXPECT_EQ(R, (Mat{0.5, 1, 1.5, 2, 2.5, 3}));
    // A transposing copy of a non-square matrix would read past the source.
    EXPECT_EQ(copymat2(D.data(), R.data(), 2, 3, 1.0, 1), -1);

    Mat A = {1, 2, 3};
    const Mat B = {10, 20, 30};
    addmat(A.data(), B.data(), 3, -1.0);
    EXPECT_EQ(A, (Mat{-9, -18, -27}));
    addmat(A.data(), B.data(), 3, 0.5);
    EXPECT_EQ(A, (Mat{-4, -8, -12}));
}

TEST(MatrixProducts, HalfComputedProducts) {
    const Mat A = {1, 2, 3, 4};
    const Mat At = {1, 3, 2, 4};
    Mat P(4);
    simprodmat(A.data(), At.data(), P.data(), 2, 2, 1);
    EXPECT_EQ(P, (Mat{5, 11, 11, 25}));
    simprodmat(A.data(), At.data(), P.data(), 2, 2, -1);
    EXPECT_EQ(P, (Mat{5, -11, 11, 25}));

    // Centrosymmetric factors give a centrosymmetric product.
    for (uint32_t a : {3U, 4U}) {
        const uint32_t b = 5;
        Mat F = randommat(a, b, 2);
        Mat G = randommat(b, a, 3);
        for (uint32_t f = 0; f < a * b; ++f) {
            F[a * b - 1 - f] = F[f];
            G[a * b - 1 - f] = G[f];
        }
        const Mat full = product(F, G, a, b, a);
        Mat Q(static_cast<std::size_t>(a) * a);
        simpmprodmat(F.data(), G.data(), Q.data(), a, b, 1);
        for (uint32_t f = 0; f < a * a; ++f) {
            EXPECT_NEAR(Q[f], full[f], 1e-14) << a << " " << f;
        }
        simpmprodmat(F.data(), G.data(), Q.data(), a, b, -1);
        EXPECT_EQ(Q[a * a - 1], -Q[0]);
        if (a % 2 == 1) {
            EXPECT_EQ(Q[a * a / 2], -full[a * a / 2]);  // centre mirrored onto itself
        }
    }
}

TEST(MatrixInverse, Cholesky) {
    Mat A = {4, 2, 2, 3};
    Mat W(4);
    EXPECT_EQ(choleskyinvdet2(2, A.data(), W.data()), 8.0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(W[i], (Mat{0.375, -0.25, -0.25, 0.5})[i]);
    }
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

    for (uint32_t n : {3U, 67U}) {
        const Mat S = randomsym(n, n);
        A = S;
        W.assign(S.size(), 0.0);
        const double det = choleskyinvdet2(n, A.data(), W.data());
        EXPECT_LT(offidentity(S, W, n), 1e-13) << n;
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
    EXPECT_EQ(toeplitzsiminv(2, Mat{1, 1, 1, 1}.data(), R.data()), -1);
    EXPECT_EQ(toeplitzsiminv(2, Mat{0, 1, 1, 0}.data(), R.data()), -1);
    EXPECT_EQ(toeplitzsiminv(0, T.data(), R.data()), -1);

    // Autocorrelation-like first row with random decaying lags.
    const uint32_t n = 133;
    const Mat lags = randommat(1, n, 9);
    Mat Tn(n * n);
    for (uint32_t i = 0; i < n * n; ++i) {
        const uint32_t lag = i / n > i % n ? i / n - i % n : i % n - i / n;
        Tn[i] = lag == 0 ? 4.0 : lags[lag] * std::pow(0.6, lag);
    }
    Mat Rn(n * n);
    ASSERT_EQ(toeplitzsiminv(n, Tn.data(), Rn.data()), 0);
    EXPECT_LT(offidentity(Tn, Rn, n), 1e-13);
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

    // Zero pivots at the first two steps: rows 0/2, then 1/3 are exchanged.
    const Mat S = {0, 0, 2, 1, 0, 0, 1, 1, 2, 1, 1, 0, 1, 1, 0, 5};
    A = S;
    R.assign(16, 0.0);
    ASSERT_EQ(simgaussinv(4, A.data(), R.data()), 0);
    EXPECT_LT(offidentity(S, R, 4), 1e-14);

    const Mat Sn = randomsym(133, 4);
    A = Sn;
    R.assign(Sn.size(), 0.0);
    ASSERT_EQ(simgaussinv(133, A.data(), R.data()), 0);
    EXPECT_LT(offidentity(Sn, R, 133), 1e-13);
}
