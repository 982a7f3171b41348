#include "dsp/windowing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace brisvane;

TEST(FrameGrid, FrameCountsAndLengthRules) {
    EXPECT_EQ(getnumframes(1, 80, 0), 1U);
    EXPECT_EQ(getnumframes(80, 80, 0), 1U);
    EXPECT_EQ(getnumframes(81, 80, 0), 2U);
    EXPECT_EQ(getnumframes(16000, 80, 0), 200U);
    EXPECT_EQ(getnumanalysisframes(101, 80, 20), 2U);
    EXPECT_EQ(getnumanalysisframes(0xFFFFFFFFU, 1, 0), 0xFFFFFFFFU);
    // No frame position inside the signal, or no frame step: no frame.
    EXPECT_EQ(getnumframes(0, 80, 0), 0U);
    EXPECT_EQ(getnumanalysisframes(5, 80, 30), 0U);
    EXPECT_EQ(getnumanalysisframes(16000, 0, 0), 0U);

    EXPECT_EQ(getwinlengthnperiodsodd(2, 100, 16000), 321U);
    EXPECT_EQ(getwinlengthnperiodsodd(3, 60, 16000), 801U);
    EXPECT_EQ(getwinlengthnperiodsodd(2, 300, 16000), 107U);
    EXPECT_EQ(getwinlengthdurodd(0.01, 16000), 161U);
    EXPECT_EQ(getwinlengthdurodd(4294967295.0, 1), 4294967295U);
    // Lengths with no 32-bit value give 0 rather than an undefined conversion.
    EXPECT_EQ(getwinlengthnperiodsodd(2, 0, 16000), 0U);
    EXPECT_EQ(getwinlengthnperiodsodd(2, -100, 16000), 0U);
    EXPECT_EQ(getwinlengthnperiodsodd(2, std::nan(""), 16000), 0U);
    EXPECT_EQ(getwinlengthdurodd(1e6, 16000), 0U);

    EXPECT_EQ(getwinlengthceilpot2(0), 1U);
    EXPECT_EQ(getwinlengthceilpot2(1), 1U);
    EXPECT_EQ(getwinlengthceilpot2(321), 512U);
    EXPECT_EQ(getwinlengthceilpot2(801), 1024U);
    EXPECT_EQ(getwinlengthceilpot2(1024), 1024U);
    EXPECT_EQ(getwinlengthceilpot2(0x80000000U), 0x80000000U);
    EXPECT_EQ(getwinlengthceilpot2(0x80000001U), 0U);  // would loop forever
}

TEST(Windows, LengthFiveValues) {
    std::vector<double> w(5);
    std::vector<double> c(5);
    const auto expectwin = [&w](std::vector<double> want) {
        for (int i = 0; i < 5; ++i) {
            EXPECT_NEAR(w[i], want[i], 1e-15) << i;
        }
    };
    winhamming(w.data(), 5, 0);
    expectwin({0.08, 0.54, 1.0, 0.54, 0.08});
    winhamming(w.data(), 5, 1);
    expectwin({0.1269, 0.8566, 1.5863, 0.8566, 0.1269});
    winhanning(w.data(), 5, 1);
    expectwin({0.0, 0.8165, 1.633, 0.8165, 0.0});
    winhanning(w.data(), 5, 0);
    expectwin({0.0, 0.5, 1.0, 0.5, 0.0});
    ASSERT_EQ(wincomplementary(w.data(), c.data(), 5), 0);
    ASSERT_EQ(wincomplementary(w.data(), w.data(), 5), 0);  // in place, same samples
    EXPECT_EQ(w, c);
    expectwin({0.0, -0.5, 0.0, 0.5, 0.0});
}

TEST(Windows, NormalisedFormsHaveUnitMeanSquare) {
    const uint32_t L = 1001;
    std::vector<double> hm(L);
    std::vector<double> hn(L);
    winhamming(hm.data(), L, 1);
    winhanning(hn.data(), L, 1);
    double msm = 0.0;
    double msn = 0.0;
    for (uint32_t i = 0; i < L; ++i) {
        EXPECT_NEAR(hm[i], hm[L - 1 - i], 1e-14);
        msm += hm[i] * hm[i] / L;
        msn += hn[i] * hn[i] / L;
    }
    EXPECT_NEAR(msm, 1.0, 2e-3);
    EXPECT_NEAR(msn, 1.0, 2e-3);
}

TEST(Windows, DegenerateLengths) {
    std::vector<double> w = {7.0, 7.0};
    winhamming(w.data(), 1, 0);
    EXPECT_DOUBLE_EQ(w[0], 1.0);
    winhamming(w.data(), 1, 1);
    EXPECT_DOUBLE_EQ(w[0], 1.5863);
    winhanning(w.data(), 1, 1);
    EXPECT_DOUBLE_EQ(w[0], 1.633);
    wincomplementary(w.data(), w.data(), 1);
    EXPECT_EQ(w, (std::vector<double>{0.0, 7.0}));
    winhamming(w.data(), 0, 0);
    winhanning(w.data(), 0, 0);
    wincomplementary(w.data(), w.data(), 0);
    EXPECT_EQ(w, (std::vector<double>{0.0, 7.0}));
    EXPECT_EQ(winhamming(nullptr, 4, 0), -1);
}
