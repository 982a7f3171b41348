#include "dsp/windowing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace brisvane;

TEST(FrameGrid, FrameCountsAndLengthRules) {
    struct Grid { uint32_t n, shift, offset, frames; };
    for (const Grid& g : {Grid{1, 80, 0, 1}, Grid{80, 80, 0, 1}, Grid{81, 80, 0, 2}, Grid{16000, 80, 0, 200},
                          Grid{101, 80, 20, 2}, Grid{0xFFFFFFFFU, 1, 0, 0xFFFFFFFFU},
                          Grid{0, 80, 0, 0}, Grid{5, 80, 30, 0}, Grid{16000, 0, 0, 0}}) {  // last three: no frame
        EXPECT_EQ(getnumframes(g.n, g.shift, g.offset), g.frames) << g.n << " " << g.shift << " " << g.offset;
        EXPECT_EQ(getnumanalysisframes(g.n, g.shift, g.offset), g.frames) << g.n << " " << g.shift;
    }
    // Lengths with no 32-bit value give 0 rather than an undefined conversion.
    const double periods[][3] = {{2, 100, 321}, {3, 60, 801}, {2, 300, 107}, {2, 0, 0}, {2, -100, 0}, {2, NAN, 0}};
    for (const auto& p : periods) EXPECT_EQ(getwinlengthnperiodsodd(p[0], p[1], 16000), p[2]) << p[1];
    EXPECT_EQ(getwinlengthdurodd(0.01, 16000), 161U);
    EXPECT_EQ(getwinlengthdurodd(4294967295.0, 1), 4294967295U);
    EXPECT_EQ(getwinlengthdurodd(1e6, 16000), 0U);
    const uint32_t pot2[][2] = {{0, 1}, {1, 1}, {321, 512}, {801, 1024}, {1024, 1024},
                                {0x80000000U, 0x80000000U}, {0x80000001U, 0}};  // the last would loop forever
    for (const auto& p : pot2) EXPECT_EQ(getwinlengthceilpot2(p[0]), p[1]) << p[0];
}

TEST(Windows, WorkedValuesAndDegenerateLengths) {
    struct Case { int (*win)(double*, uint32_t, uint8_t); uint8_t norm; double want[5]; };
    for (const Case& c : {Case{winhamming, 0, {0.08, 0.54, 1.0, 0.54, 0.08}},
                          Case{winhamming, 1, {0.1269, 0.8566, 1.5863, 0.8566, 0.1269}},
                          Case{winhanning, 0, {0.0, 0.5, 1.0, 0.5, 0.0}},
                          Case{winhanning, 1, {0.0, 0.8165, 1.633, 0.8165, 0.0}}}) {
        std::vector<double> w(1001, 7.0);
        ASSERT_EQ(c.win(w.data(), 5, c.norm), 0);
        for (int i = 0; i < 5; ++i) EXPECT_NEAR(w[i], c.want[i], 1e-15) << i;
        EXPECT_EQ(w[5], 7.0);
        // Long window: symmetric to rounding (no drift along it); the normalised forms
        // have a mean square of about 1.
        c.win(w.data(), 1001, c.norm);
        double ms = 0.0;
        for (uint32_t i = 0; i < 1001; ++i) {
            EXPECT_NEAR(w[i], w[1000 - i], 1e-14) << i;
            ms += w[i] * w[i] / 1001;
        }
        if (c.norm) { EXPECT_NEAR(ms, 1.0, 2e-3); }
        // L = 1 is the centre value; L = 0 writes nothing.
        w.assign(2, 7.0);
        c.win(w.data(), 1, c.norm);
        c.win(w.data(), 0, c.norm);
        EXPECT_DOUBLE_EQ(w[0], c.want[2]);
        EXPECT_EQ(w[1], 7.0);
    }
    EXPECT_EQ(winhamming(nullptr, 4, 0), -1);

    std::vector<double> w(5), c(5);
    winhanning(w.data(), 5, 0);
    ASSERT_EQ(wincomplementary(w.data(), c.data(), 5), 0);
    ASSERT_EQ(wincomplementary(w.data(), w.data(), 5), 0);  // in place, same samples
    EXPECT_EQ(w, c);
    const double want[] = {0.0, -0.5, 0.0, 0.5, 0.0};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(w[i], want[i], 1e-15) << i;
    w.assign(2, 7.0);
    wincomplementary(w.data(), w.data(), 1);
    wincomplementary(w.data(), w.data(), 0);
    EXPECT_EQ(w, (std::vector<double>{0.0, 7.0}));
}
