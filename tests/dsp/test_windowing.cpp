#include "dsp/windowing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace brisvane;

TEST(FrameGrid, FrameCounts) {
    EXPECT_EQ(getnumframes(1, 80, 0), 1U);
    EXPECT_EQ(getnumframes(80, 80, 0), 1U);
    EXPECT_EQ(getnumframes(81, 80, 0), 2U);
    EXPECT_EQ(getnumframes(16000, 80, 0), 200U);
    EXPECT_EQ(getnumanalysisframes(100, 80, 20), 1U);
    EXPECT_EQ(getnumanalysisframes(101, 80, 20), 2U);
    EXPECT_EQ(getnumanalysisframes(0xFFFFFFFFU, 1, 0), 0xFFFFFFFFU);
    // No frame position inside the signal, or no frame step at all.
    EXPECT_EQ(getnumframes(0, 80, 0), 0U);
    EXPECT_EQ(getnumanalysisframes(20, 80, 20), 0U);
    EXPECT_EQ(getnumanalysisframes(5, 80, 30), 0U);
    EXPECT_EQ(getnumanalysisframes(16000, 0, 0), 0U);
}

TEST(FrameGrid, OddLengthRules) {
    EXPECT_EQ(getwinlengthnperiodsodd(2, 100, 16000), 321U);
    EXPECT_EQ(getwinlengthnperiodsodd(3, 60, 16000), 801U);
    EXPECT_EQ(getwinlengthnperiodsodd(2, 300, 16000), 107U);
    EXPECT_EQ(getwinlengthdurodd(0.01, 16000), 161U);
    EXPECT_EQ(getwinlengthdurodd(0.0, 16000), 1U);
    // Values that have no 32-bit length give 0 instead of an undefined conversion.
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(getwinlengthnperiodsodd(2, 0, 16000), 0U);
    EXPECT_EQ(getwinlengthnperiodsodd(2, -100, 16000), 0U);
    EXPECT_EQ(getwinlengthnperiodsodd(2, std::nan(""), 16000), 0U);
    EXPECT_EQ(getwinlengthdurodd(inf, 16000), 0U);
    EXPECT_EQ(getwinlengthdurodd(1e6, 16000), 0U);
    EXPECT_EQ(getwinlengthdurodd(4294967295.0, 1), 4294967295U);
}

TEST(FrameGrid, PowerOfTwoLengths) {
    EXPECT_EQ(getwinlengthceilpot2(0), 1U);
    EXPECT_EQ(getwinlengthceilpot2(1), 1U);
    EXPECT_EQ(getwinlengthceilpot2(321), 512U);
    EXPECT_EQ(getwinlengthceilpot2(801), 1024U);
    EXPECT_EQ(getwinlengthceilpot2(1024), 1024U);
    EXPECT_EQ(getwinlengthceilpot2(0x80000000U), 0x80000000U);
    EXPECT_EQ(getwinlengthceilpot2(0x80000001U), 0U);
    EXPECT_EQ(getwinlengthceilpot2(0xFFFFFFFFU), 0U);
}

TEST(Windows, LengthFiveValues) {
    std::vector<double> w(5);
    ASSERT_EQ(winhamming(w.data(), 5, 0), 0);
    const double hamming[] = {0.08, 0.54, 1.0, 0.54, 0.08};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(w[i], hamming[i], 1e-15) << i;
    }
    ASSERT_EQ(winhamming(w.data(), 5, 1), 0);
    EXPECT_NEAR(w[0], 0.1269, 1e-15);
    EXPECT_NEAR(w[4], 0.1269, 1e-15);
    EXPECT_NEAR(w[2], 1.5863, 1e-15);

    ASSERT_EQ(winhanning(w.data(), 5, 0), 0);
    const double hanning[] = {0.0, 0.5, 1.0, 0.5, 0.0};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(w[i], hanning[i], 1e-15) << i;
    }
    std::vector<double> c(5);
    ASSERT_EQ(wincomplementary(w.data(), c.data(), 5), 0);
    const double comp[] = {0.0, -0.5, 0.0, 0.5, 0.0};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(c[i], comp[i], 1e-15) << i;
    }
    // In place gives the same samples.
    ASSERT_EQ(wincomplementary(w.data(), w.data(), 5), 0);
    EXPECT_EQ(w, c);

    ASSERT_EQ(winhanning(w.data(), 5, 1), 0);
    EXPECT_EQ(w[0], 0.0);
    EXPECT_DOUBLE_EQ(w[2], 2 * 0.8165);
}

TEST(Windows, SymmetryAndUnitMeanSquare) {
    for (uint32_t L : {2U, 160U, 321U, 1001U}) {
        std::vector<double> hm(L);
        std::vector<double> hn(L);
        ASSERT_EQ(winhamming(hm.data(), L, 1), 0);
        ASSERT_EQ(winhanning(hn.data(), L, 1), 0);
        double msm = 0.0;
        double msn = 0.0;
        for (uint32_t i = 0; i < L; ++i) {
            EXPECT_NEAR(hm[i], hm[L - 1 - i], 1e-14);
            EXPECT_NEAR(hn[i], hn[L - 1 - i], 1e-14);
            msm += hm[i] * hm[i];
            msn += hn[i] * hn[i];
        }
        if (L > 1000) {
            // Normalised forms carry about unit power per sample (ends count 1/L).
            EXPECT_NEAR(msm / L, 1.0, 2e-3) << L;
            EXPECT_NEAR(msn / L, 1.0, 2e-3) << L;
        }
    }
}

TEST(Windows, DegenerateLengths) {
    std::vector<double> w = {7.0, 7.0};
    ASSERT_EQ(winhamming(w.data(), 1, 0), 0);
    EXPECT_DOUBLE_EQ(w[0], 1.0);
    ASSERT_EQ(winhamming(w.data(), 1, 1), 0);
    EXPECT_DOUBLE_EQ(w[0], 1.5863);
    ASSERT_EQ(winhanning(w.data(), 1, 1), 0);
    EXPECT_DOUBLE_EQ(w[0], 1.633);
    EXPECT_EQ(w[1], 7.0);
    ASSERT_EQ(wincomplementary(w.data(), w.data(), 1), 0);
    EXPECT_EQ(w[0], 0.0);
    w = {7.0, 7.0};
    EXPECT_EQ(winhamming(w.data(), 0, 0), 0);
    EXPECT_EQ(winhanning(w.data(), 0, 0), 0);
    EXPECT_EQ(wincomplementary(w.data(), w.data(), 0), 0);
    EXPECT_EQ(w, (std::vector<double>{7.0, 7.0}));
    EXPECT_EQ(winhamming(nullptr, 4, 0), -1);
    EXPECT_EQ(wincomplementary(nullptr, w.data(), 2), -1);
}
