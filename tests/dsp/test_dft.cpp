#include "dsp/dft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

using namespace brisvane;
using vec = std::vector<double>;

namespace {

constexpr double kTwoPi = 6.283185307179586;

vec randomcomplex(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    vec x(2 * static_cast<std::size_t>(n));
    for (double& v : x) v = u(gen);
    return x;
}

void split(const vec& x, vec& re, vec& im) {
    re.resize(x.size() / 2);
    im.resize(x.size() / 2);
    for (std::size_t i = 0; i < re.size(); ++i) {
        re[i] = x[2 * i];
        im[i] = x[2 * i + 1];
    }
}

// Largest deviation relative to the largest magnitude of `want`.
double relativedeviation(const vec& want, const vec& got) {
    double scale = 0.0, worst = 0.0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        scale = std::max(scale, std::fabs(want[i]));
        worst = std::max(worst, std::fabs(want[i] - got[i]));
    }
    return scale > 0.0 ? worst / scale : worst;
}

// Direct DFT in long double with exactly reduced angles; interleaved in and out.
vec directdft(const vec& x, int8_t dir) {
    const int n = static_cast<int>(x.size() / 2);
    vec out(x.size());
    const long double step = (dir == -1 ? 2.0L : -2.0L) * 3.14159265358979323846264338327950288L / n;
    for (int k = 0; k < n; ++k) {
        long double sr = 0.0L, si = 0.0L;
        for (int m = 0; m < n; ++m) {
            const long double a = step * static_cast<long double>((static_cast<long>(k) * m) % n);
            sr += x[2 * m] * std::cos(a) - x[2 * m + 1] * std::sin(a);
            si += x[2 * m] * std::sin(a) + x[2 * m + 1] * std::cos(a);
        }
        out[2 * k] = static_cast<double>(sr);
        out[2 * k + 1] = static_cast<double>(si);
    }
    return out;
}

// Plain decimation-in-time transform: twiddle index outer, block start inner, one recurrence
// step per twiddle index. Both layouts must reproduce it bit for bit.
void referencefft(int n, vec& x, int8_t dir) {
    int m = 0;
    while ((1 << (m + 1)) <= n) ++m;
    for (int i = 0; i < n; ++i) {
        int r = 0;
        for (int b = 0; b < m; ++b) r |= ((i >> b) & 1) << (m - 1 - b);
        if (r > i) {
            std::swap(x[2 * i], x[2 * r]);
            std::swap(x[2 * i + 1], x[2 * r + 1]);
        }
    }
    for (int c = 2; c <= n; c *= 2) {
        const double theta = (dir == -1 ? kTwoPi : -kTwoPi) / c;
        const double wr = std::cos(theta), wi = std::sin(theta);
        double ur = 1.0, ui = 0.0;
        for (int j = 0; j < c / 2; ++j) {
            for (int b = 0; b < n; b += c) {
                const int p = 2 * (b + j), q = p + c;
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

}  // namespace

TEST(Fft, SmallExactTransforms) {
    struct Case { int n; int8_t dir; vec in, out; double tol; };
    const Case cases[] = {
        {4, 1, {1, 0, 1, 0, 1, 0, 1, 0}, {4, 0, 0, 0, 0, 0, 0, 0}, 1e-15},
        {4, 1, {1, 0, 0, 0, 0, 0, 0, 0}, {1, 0, 1, 0, 1, 0, 1, 0}, 0.0},
        {1, -1, {0.25, -3.5}, {0.25, -3.5}, 0.0},
        {2, 1, {3, 1, 5, -2}, {8, -1, -2, 3}, 0.0},  // (x0 + x1, x0 - x1)
    };
    for (const Case& c : cases) {
        vec x = c.in;
        ASSERT_EQ(c.dir == 1 ? fftc(c.n, x.data()) : ifftc(c.n, x.data()), 0);
        EXPECT_LE(relativedeviation(c.out, x), c.tol) << c.n;
    }
    // e^(+j 2 pi n / 8) lands on bin 1 forward, on bin 7 with the inverse kernel.
    vec x(16);
    for (int n = 0; n < 8; ++n) {
        x[2 * n] = std::cos(kTwoPi * n / 8);
        x[2 * n + 1] = std::sin(kTwoPi * n / 8);
    }
    vec y = x, fwd(16, 0.0), inv(16, 0.0);
    fwd[2] = inv[14] = 8.0;
    ASSERT_EQ(fftc(8, x.data()), 0);
    ASSERT_EQ(ifftc(8, y.data()), 0);
    EXPECT_LT(relativedeviation(fwd, x), 2e-15);
    EXPECT_LT(relativedeviation(inv, y), 2e-15);
}

// Both layouts reproduce the plain algorithm bit for bit; it matches the direct sum, and
// forward then inverse gives N times the input.
TEST(Fft, BothLayoutsMatchPlainAlgorithmBitForBit) {
    for (int n : {32, 1024}) {
        for (int8_t dir : {int8_t{1}, int8_t{-1}}) {
            const vec x0 = randomcomplex(n, 3);
            vec x = x0, re, im, ref = x0;
            split(x, re, im);
            referencefft(n, ref, dir);
            EXPECT_LT(relativedeviation(directdft(x0, dir), ref), 1e-13) << n;
            ASSERT_EQ(dofftc(n, x.data(), dir), 0);
            ASSERT_EQ(dofftr(n, re.data(), im.data(), dir), 0);
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(std::memcmp(&x[2 * i], &ref[2 * i], 2 * sizeof(double)), 0) << i;
                ASSERT_EQ(std::memcmp(&re[i], &ref[2 * i], sizeof(double)), 0) << i;
                ASSERT_EQ(std::memcmp(&im[i], &ref[2 * i + 1], sizeof(double)), 0) << i;
            }
        }
        vec y = randomcomplex(n, 5);
        const vec x = y;
        ASSERT_EQ(fftc(n, y.data()), 0);
        ASSERT_EQ(ifftc(n, y.data()), 0);
        for (std::size_t i = 0; i < y.size(); ++i) ASSERT_NEAR(y[i], n * x[i], 1e-10 * n) << i;
    }
}

TEST(Fft, RefusesSizesThatAreNotPowersOfTwo) {
    for (int32_t n : {0, -4, 3, 1000}) {
        vec x = randomcomplex(1024, 11);
        const vec before = x;
        EXPECT_EQ(fftc(n, x.data()), -1) << n;
        EXPECT_EQ(ifftr(n, x.data(), x.data() + 1024), -1) << n;
        EXPECT_EQ(x, before);
    }
    EXPECT_EQ(fftr(8, nullptr, nullptr), -1);
}

// The fast transform is at least as accurate as the documented one (whose twiddle recurrence
// drifts with the length), and both agree.
TEST(FastFft, ComplexTransformsAgreeWithTheDocumentedOnes) {
    for (int n = 1; n <= 512; n *= 2) {
        fftplan plan;
        ASSERT_EQ(fftplancreate(static_cast<uint32_t>(n), &plan), 0);
        for (int8_t dir : {int8_t{1}, int8_t{-1}}) {
            const vec x = randomcomplex(n, static_cast<unsigned>(n) + dir);
            vec re, im, documented = x, fast(2 * n);
            split(x, re, im);
            ASSERT_EQ(dofftc(n, documented.data(), dir), 0);
            ASSERT_EQ(dofftrfast(plan, re.data(), im.data(), dir), 0);
            for (int i = 0; i < n; ++i) {
                fast[2 * i] = re[i];
                fast[2 * i + 1] = im[i];
            }
            const vec exact = directdft(x, dir);
            const double efast = relativedeviation(exact, fast);
            EXPECT_LE(efast, std::max(relativedeviation(exact, documented), 1e-16)) << n;
            EXPECT_LT(efast, 2e-16 * (1 + std::log2(n))) << n << " dir " << int{dir};
        }
        // Only the first count points nonzero (signed zeros among them): the bins of the
        // zero-filled transform to the bit, the points from count on never read (NaN there).
        for (const int count : {0, 1, 3, n / 8, n / 4, n / 4 + 1, n}) {
            if (count > n) continue;
            vec re, im;
            split(randomcomplex(n, 7u + static_cast<unsigned>(count)), re, im);
            for (int i = 0; i < n; ++i) {
                if (i >= count) re[i] = im[i] = 0.0;
                if (i % 3 == 0 && i < count) re[i] = -0.0;
            }
            vec lre(re), lim(im);
            for (int i = count; i < n; ++i) lre[i] = lim[i] = std::nan("");
            ASSERT_EQ(dofftrfast(plan, re.data(), im.data(), 1), 0);
            ASSERT_EQ(dofftrfastlow(plan, lre.data(), lim.data(), static_cast<uint32_t>(count)), 0);
            EXPECT_EQ(std::memcmp(re.data(), lre.data(), n * sizeof(double)), 0) << n << " " << count;
            EXPECT_EQ(std::memcmp(im.data(), lim.data(), n * sizeof(double)), 0) << n << " " << count;
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
        const vec c = randomcomplex(N, static_cast<unsigned>(N));
        vec x(N), full(2 * N, 0.0), re(bins), im(bins), want, got;
        for (int i = 0; i < N; ++i) x[i] = full[2 * i] = c[2 * i];
        ASSERT_EQ(fftc(N, full.data()), 0);
        ASSERT_EQ(rfftfast(plan, x.data(), re.data(), im.data()), 0);
        for (std::size_t k = 0; k < bins; ++k) {
            want.insert(want.end(), {full[2 * k], full[2 * k + 1]});
            got.insert(got.end(), {re[k], im[k]});
        }
        EXPECT_LT(relativedeviation(want, got), 4e-17 * N + 1e-15) << "forward " << N;
        EXPECT_EQ(im[0], 0.0);
        EXPECT_EQ(im[N / 2], 0.0);

        // A frame that is zero from N/8 to 7N/8 (there NaN for the centred form, which must
        // not read it): the same bins to the bit.
        vec xc(x), xn(x), re2(bins), im2(bins);
        for (int j = N / 8; j < N - N / 8 && N >= 16; ++j) {
            xc[j] = 0.0;
            xn[j] = std::nan("");
        }
        xc[0] = xn[0] = -0.0;  // zeros of either sign inside the window, at both ends
        xc[N - 1] = xn[N - 1] = -0.0;
        xc[N - 2] = xn[N - 2] = 0.0;
        ASSERT_EQ(rfftfast(plan, xc.data(), re.data(), im.data()), 0);
        ASSERT_EQ(rfftfastcentred(plan, (N >= 16 ? xn : xc).data(), re2.data(), im2.data()), 0);
        EXPECT_EQ(std::memcmp(re.data(), re2.data(), bins * sizeof(double)), 0) << "centred " << N;
        EXPECT_EQ(std::memcmp(im.data(), im2.data(), bins * sizeof(double)), 0) << "centred " << N;
        // A window of negative zeros: the signs of the zero bins too.
        for (int j = 0; j < N; ++j) xc[j] = (j < N / 8 || j >= N - N / 8) ? -0.0 : 0.0;
        ASSERT_EQ(rfftfast(plan, xc.data(), re.data(), im.data()), 0);
        ASSERT_EQ(rfftfastcentred(plan, xc.data(), re2.data(), im2.data()), 0);
        EXPECT_EQ(std::memcmp(re.data(), re2.data(), bins * sizeof(double)), 0) << "zeros " << N;
        EXPECT_EQ(std::memcmp(im.data(), im2.data(), bins * sizeof(double)), 0) << "zeros " << N;

        // Inverse of a conjugate-symmetric spectrum from its first half; the imaginary parts
        // of bins 0 and N/2 do not count.
        vec spec(2 * N, 0.0), y(N), wantx(N);
        for (std::size_t k = 0; k < bins; ++k) {
            const bool edge = k == 0 || k == bins - 1;
            spec[2 * k] = re[k] = c[2 * k];
            spec[2 * k + 1] = im[k] = edge ? 0.0 : c[2 * k + 1];
            if (!edge) {
                spec[2 * (N - k)] = re[k];
                spec[2 * (N - k) + 1] = -im[k];
            }
        }
        ASSERT_EQ(ifftc(N, spec.data()), 0);
        im[0] = 5.0;
        im[bins - 1] = -7.0;
        ASSERT_EQ(irfftfast(plan, re.data(), im.data(), y.data()), 0);
        for (int i = 0; i < N; ++i) wantx[i] = spec[2 * i];
        EXPECT_LT(relativedeviation(wantx, y), 4e-17 * N + 1e-15) << "inverse " << N;
    }
}

TEST(FastFft, PlansRefuseInvalidLengthsAndTransformsRefuseMissingArrays) {
    fftplan plan;
    for (uint32_t n : {0u, 3u, 1000u, (1u << 30) + 1, 1u << 31}) EXPECT_EQ(fftplancreate(n, &plan), -1) << n;
    EXPECT_EQ(plan.n, 0u);
    EXPECT_EQ(fftplancreate(8, nullptr), -1);
    rfftplan rplan;
    for (uint32_t N : {0u, 1u, 6u}) EXPECT_EQ(rfftplancreate(N, &rplan), -1) << N;
    EXPECT_EQ(rplan.N, 0u);

    vec a(8, 1.0), b(8, 1.0);
    EXPECT_EQ(dofftrfast(plan, a.data(), b.data(), 1), -1);  // empty plan
    EXPECT_EQ(rfftfast(rplan, a.data(), a.data(), b.data()), -1);
    ASSERT_EQ(fftplancreate(8, &plan), 0);
    ASSERT_EQ(rfftplancreate(8, &rplan), 0);
    EXPECT_EQ(dofftrfast(plan, nullptr, b.data(), 1), -1);
    EXPECT_EQ(dofftrfastlow(plan, a.data(), b.data(), 9), -1);  // more points than the plan's
    EXPECT_EQ(dofftrfastlow(plan, a.data(), nullptr, 1), -1);
    EXPECT_EQ(rfftfast(rplan, nullptr, a.data(), b.data()), -1);
    EXPECT_EQ(rfftfastcentred(rplan, a.data(), nullptr, b.data()), -1);
    EXPECT_EQ(irfftfast(rplan, a.data(), b.data(), nullptr), -1);
    EXPECT_EQ(a, vec(8, 1.0));
}
