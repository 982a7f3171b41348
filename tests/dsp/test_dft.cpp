#include "dsp/dft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

using namespace brisvane;
using cvec = std::vector<std::complex<double>>;

namespace {

std::vector<double> randomcomplex(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> x(2 * static_cast<std::size_t>(n));
    for (double& v : x) {
        v = u(gen);
    }
    return x;
}

void expectbins(const std::vector<double>& x, const cvec& want, double tol) {
    ASSERT_EQ(x.size(), 2 * want.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
        EXPECT_NEAR(x[2 * k], want[k].real(), tol) << "bin " << k;
        EXPECT_NEAR(x[2 * k + 1], want[k].imag(), tol) << "bin " << k;
    }
}

}  // namespace

TEST(Fft, SmallExactTransforms) {
    std::vector<double> ones = {1, 0, 1, 0, 1, 0, 1, 0};
    ASSERT_EQ(fftc(4, ones.data()), 0);
    expectbins(ones, {4.0, 0.0, 0.0, 0.0}, 1e-15);
    std::vector<double> impulse = {1, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(fftc(4, impulse.data()), 0);
    EXPECT_EQ(impulse, (std::vector<double>{1, 0, 1, 0, 1, 0, 1, 0}));
    std::vector<double> one = {0.25, -3.5};
    ASSERT_EQ(ifftc(1, one.data()), 0);
    EXPECT_EQ(one, (std::vector<double>{0.25, -3.5}));
    std::vector<double> two = {3, 1, 5, -2};  // (x0 + x1, x0 - x1)
    ASSERT_EQ(fftc(2, two.data()), 0);
    EXPECT_EQ(two, (std::vector<double>{8, -1, -2, 3}));

    // e^(+j 2 pi n / 8) lands on bin 1 forward, on bin 7 with the inverse kernel.
    std::vector<double> x(16);
    for (int n = 0; n < 8; ++n) {
        x[2 * n] = std::cos(6.283185307179586 * n / 8);
        x[2 * n + 1] = std::sin(6.283185307179586 * n / 8);
    }
    std::vector<double> y = x;
    ASSERT_EQ(fftc(8, x.data()), 0);
    ASSERT_EQ(ifftc(8, y.data()), 0);
    cvec fwd(8, 0.0);
    cvec inv(8, 0.0);
    fwd[1] = inv[7] = 8.0;
    expectbins(x, fwd, 1e-13);
    expectbins(y, inv, 1e-13);
}

TEST(Fft, MatchesDirectSumAndInverts) {
    for (int n : {16, 1024}) {
        const std::vector<double> x = randomcomplex(n, static_cast<unsigned>(n));
        cvec want(static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k) {
            for (int m = 0; m < n; ++m) {
                const double ang = -6.283185307179586 * ((static_cast<long>(k) * m) % n) / n;
                want[k] += std::complex<double>(x[2 * m], x[2 * m + 1]) * std::polar(1.0, ang);
            }
        }
        std::vector<double> y = x;
        ASSERT_EQ(fftc(n, y.data()), 0);
        expectbins(y, want, 1e-9 * n);
        ASSERT_EQ(ifftc(n, y.data()), 0);  // forward then inverse: N times the input
        for (std::size_t i = 0; i < y.size(); ++i) {
            ASSERT_NEAR(y[i], n * x[i], 1e-10 * n) << i;
        }
    }
}

// Plain decimation-in-time transform: twiddle index outer, block start inner, one
// recurrence step per twiddle index. Both layouts must reproduce it bit for bit.
void referencefft(int n, std::vector<double>& x, int8_t dir) {
    int m = 0;
    while ((1 << (m + 1)) <= n) {
        ++m;
    }
    for (int i = 0; i < n; ++i) {
        int r = 0;
        for (int b = 0; b < m; ++b) {
            r |= ((i >> b) & 1) << (m - 1 - b);
        }
        if (r > i) {
            std::swap(x[2 * i], x[2 * r]);
            std::swap(x[2 * i + 1], x[2 * r + 1]);
        }
    }
    for (int c = 2; c <= n; c *= 2) {
        const double theta = (dir == -1 ? 6.283185307179586 : -6.283185307179586) / c;
        const double wr = std::cos(theta);
        const double wi = std::sin(theta);
        double ur = 1.0;
        double ui = 0.0;
        for (int j = 0; j < c / 2; ++j) {
            for (int b = 0; b < n; b += c) {
                const int p = 2 * (b + j);
                const int q = p + c;
                const double tr = x[q] * ur - x[q + 1] * ui;
                const double ti = x[q] * ui + x[q + 1] * ur;
                x[q] = x[p] - tr;
                x[q + 1] = x[p + 1] - ti;
                x[p] = x[p] + tr;
                x[p + 1] = x[p + 1] + ti;
            }
            const double nr = ur * wr - ui * wi;
            ui = ur * wi + ui * wr;
            ur = nr;
        }
    }
}

TEST(Fft, BothLayoutsMatchPlainAlgorithmBitForBit) {
    for (int n : {32, 4096}) {
        for (int8_t dir : {int8_t{1}, int8_t{-1}}) {
            std::vector<double> x = randomcomplex(n, 3);
            std::vector<double> re(n);
            std::vector<double> im(n);
            for (int i = 0; i < n; ++i) {
                re[i] = x[2 * i];
                im[i] = x[2 * i + 1];
            }
            std::vector<double> ref = x;
            referencefft(n, ref, dir);
            ASSERT_EQ(dofftc(n, x.data(), dir), 0);
            ASSERT_EQ(dofftr(n, re.data(), im.data(), dir), 0);
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(std::memcmp(&x[2 * i], &ref[2 * i], 2 * sizeof(double)), 0) << i;
                ASSERT_EQ(std::memcmp(&re[i], &ref[2 * i], sizeof(double)), 0) << i;
                ASSERT_EQ(std::memcmp(&im[i], &ref[2 * i + 1], sizeof(double)), 0) << i;
            }
        }
    }
}

TEST(Fft, RefusesSizesThatAreNotPowersOfTwo) {
    for (int32_t n : {0, -4, 3, 1000}) {
        std::vector<double> x = randomcomplex(1024, 11);
        const std::vector<double> before = x;
        EXPECT_EQ(fftc(n, x.data()), -1) << n;
        EXPECT_EQ(ifftr(n, x.data(), x.data() + 1024), -1) << n;
        EXPECT_EQ(x, before);
    }
    EXPECT_EQ(fftr(8, nullptr, nullptr), -1);
}

// ---- Fast transforms from tables ----------------------------------------------------------

namespace {

// Largest deviation between two arrays relative to the largest magnitude of the first.
double relativedeviation(const std::vector<double>& want, const std::vector<double>& got) {
    double scale = 0.0;
    double worst = 0.0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        scale = std::max(scale, std::fabs(want[i]));
        worst = std::max(worst, std::fabs(want[i] - got[i]));
    }
    return scale > 0.0 ? worst / scale : worst;
}

}  // namespace

// Direct DFT in long double with exactly reduced angles: a reference far more accurate than
// either transform. x interleaved; returns the interleaved spectrum.
std::vector<double> directdft(const std::vector<double>& x, int8_t dir) {
    const int n = static_cast<int>(x.size() / 2);
    std::vector<double> out(x.size());
    const long double step = (dir == -1 ? 2.0L : -2.0L) * 3.14159265358979323846264338327950288L / n;
    for (int k = 0; k < n; ++k) {
        long double sr = 0.0L;
        long double si = 0.0L;
        for (int m = 0; m < n; ++m) {
            const long double a = step * static_cast<long double>((static_cast<long>(k) * m) % n);
            const long double c = std::cos(a);
            const long double s = std::sin(a);
            sr += x[2 * m] * c - x[2 * m + 1] * s;
            si += x[2 * m] * s + x[2 * m + 1] * c;
        }
        out[2 * k] = static_cast<double>(sr);
        out[2 * k + 1] = static_cast<double>(si);
    }
    return out;
}

// The fast transform is at least as accurate as the documented one (whose twiddle recurrence
// drifts with the length), and both agree.
TEST(FastFft, ComplexTransformsAgreeWithTheDocumentedOnes) {
    for (int n = 1; n <= 512; n *= 2) {
        fftplan plan;
        ASSERT_EQ(fftplancreate(static_cast<uint32_t>(n), &plan), 0);
        for (int8_t dir : {int8_t{1}, int8_t{-1}}) {
            const std::vector<double> x = randomcomplex(n, static_cast<unsigned>(n) + dir);
            std::vector<double> re(n), im(n);
            for (int i = 0; i < n; ++i) {
                re[i] = x[2 * i];
                im[i] = x[2 * i + 1];
            }
            std::vector<double> documented = x;
            ASSERT_EQ(dofftc(n, documented.data(), dir), 0);
            ASSERT_EQ(dofftrfast(plan, re.data(), im.data(), dir), 0);
            std::vector<double> fast(2 * n);
            for (int i = 0; i < n; ++i) {
                fast[2 * i] = re[i];
                fast[2 * i + 1] = im[i];
            }
            const std::vector<double> exact = directdft(x, dir);
            const double efast = relativedeviation(exact, fast);
            EXPECT_LE(efast, std::max(relativedeviation(exact, documented), 1e-16)) << n;
            EXPECT_LT(efast, 2e-16 * (1 + std::log2(n))) << n << " dir " << int{dir};
        }
    }
}

// Against the documented complex transform (whose error grows about as 1.6e-17 N).
TEST(FastFft, RealTransformsAgreeWithTheComplexTransform) {
    for (int N = 2; N <= 8192; N *= 2) {
        rfftplan plan;
        ASSERT_EQ(rfftplancreate(static_cast<uint32_t>(N), &plan), 0);
        const std::size_t bins = N / 2 + 1;
        // Forward: the first N/2 + 1 bins of the complex transform of the real signal.
        const std::vector<double> c = randomcomplex(N, static_cast<unsigned>(N));
        std::vector<double> x(N), full(2 * N, 0.0);
        for (int i = 0; i < N; ++i) x[i] = full[2 * i] = c[2 * i];
        ASSERT_EQ(fftc(N, full.data()), 0);
        std::vector<double> re(bins), im(bins);
        ASSERT_EQ(rfftfast(plan, x.data(), re.data(), im.data()), 0);
        std::vector<double> want, got;
        for (std::size_t k = 0; k < bins; ++k) {
            want.insert(want.end(), {full[2 * k], full[2 * k + 1]});
            got.insert(got.end(), {re[k], im[k]});
        }
        EXPECT_LT(relativedeviation(want, got), 4e-17 * N + 1e-15) << "forward " << N;
        EXPECT_EQ(im[0], 0.0);
        EXPECT_EQ(im[N / 2], 0.0);

        // Inverse: a conjugate-symmetric spectrum from its first half; the imaginary parts of
        // bins 0 and N/2 do not count.
        std::vector<double> spec(2 * N, 0.0);
        for (std::size_t k = 0; k < bins; ++k) {
            re[k] = c[2 * k];
            im[k] = (k == 0 || k == bins - 1) ? 0.0 : c[2 * k + 1];
            spec[2 * k] = re[k];
            spec[2 * k + 1] = im[k];
            if (k > 0 && k < bins - 1) {
                spec[2 * (N - k)] = re[k];
                spec[2 * (N - k) + 1] = -im[k];
            }
        }
        ASSERT_EQ(ifftc(N, spec.data()), 0);
        im[0] = 5.0;
        im[bins - 1] = -7.0;
        std::vector<double> y(N);
        ASSERT_EQ(irfftfast(plan, re.data(), im.data(), y.data()), 0);
        std::vector<double> wantx(N);
        for (int i = 0; i < N; ++i) wantx[i] = spec[2 * i];
        EXPECT_LT(relativedeviation(wantx, y), 4e-17 * N + 1e-15) << "inverse " << N;
    }
}

TEST(FastFft, PlansRefuseInvalidLengthsAndTransformsRefuseMissingArrays) {
    fftplan plan;
    for (uint32_t n : {0u, 3u, 1000u, (1u << 30) + 1, 1u << 31}) {
        EXPECT_EQ(fftplancreate(n, &plan), -1) << n;
    }
    EXPECT_EQ(plan.n, 0u);
    EXPECT_EQ(fftplancreate(8, nullptr), -1);
    rfftplan rplan;
    for (uint32_t N : {0u, 1u, 6u}) EXPECT_EQ(rfftplancreate(N, &rplan), -1) << N;
    EXPECT_EQ(rplan.N, 0u);

    std::vector<double> a(8, 1.0), b(8, 1.0);
    EXPECT_EQ(dofftrfast(plan, a.data(), b.data(), 1), -1);  // empty plan
    EXPECT_EQ(rfftfast(rplan, a.data(), a.data(), b.data()), -1);
    ASSERT_EQ(fftplancreate(8, &plan), 0);
    ASSERT_EQ(rfftplancreate(8, &rplan), 0);
    EXPECT_EQ(dofftrfast(plan, nullptr, b.data(), 1), -1);
    EXPECT_EQ(rfftfast(rplan, nullptr, a.data(), b.data()), -1);
    EXPECT_EQ(irfftfast(rplan, a.data(), b.data(), nullptr), -1);
    EXPECT_EQ(a, std::vector<double>(8, 1.0));
}
