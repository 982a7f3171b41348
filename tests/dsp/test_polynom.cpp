#include "dsp/polynom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace brisvane;

TEST(Parabola, WorkedExampleAndBothForms) {
    const double y[] = {0.0, 2.0, 1.0};
    double c1[3];
    double c2[3];
    ASSERT_EQ(parabfit(y, c1), 0);
    ASSERT_EQ(parabfitpoints(0.0, 2.0, 1.0, c2), 0);
    EXPECT_EQ(c1[0], -1.5);
    EXPECT_EQ(c1[1], 0.5);
    EXPECT_EQ(c1[2], 2.0);
    EXPECT_EQ(c1[0], c2[0]);
    EXPECT_EQ(c1[1], c2[1]);
    EXPECT_EQ(c1[2], c2[2]);
    EXPECT_DOUBLE_EQ(parabextx(c1), 1.0 / 6.0);
    EXPECT_DOUBLE_EQ(parabexty(c1), 2.0 + 0.25 / 6.0);

    // Symmetric peak: vertex exactly on the centre sample.
    double s[3];
    parabfitpoints(0.3, 1.7, 0.3, s);
    EXPECT_EQ(parabextx(s), 0.0);
    EXPECT_EQ(parabexty(s), 1.7);

    // Collinear samples: a = 0 and an infinite abscissa, not a failure.
    double l[3];
    ASSERT_EQ(parabfitpoints(1.0, 2.0, 3.0, l), 0);
    EXPECT_EQ(l[0], 0.0);
    EXPECT_TRUE(std::isinf(parabextx(l)));
}

TEST(Parabola, StrictMaximumStaysWithinHalfASample) {
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::uniform_real_distribution<double> d(1e-12, 2.0);
    for (int t = 0; t < 20000; ++t) {
        const double y1 = u(gen) * 100.0;
        const double y0 = y1 - d(gen);
        const double y2 = y1 - d(gen);
        double c[3];
        parabfitpoints(y0, y1, y2, c);
        ASSERT_LT(c[0], 0.0);
        const double x = parabextx(c);
        ASSERT_GT(x, -0.5) << y0 << " " << y1 << " " << y2;
        ASSERT_LT(x, 0.5) << y0 << " " << y1 << " " << y2;
        ASSERT_GE(parabexty(c), y1);
        ASSERT_EQ(x > 0.0, y2 > y0);  // the vertex moves toward the larger neighbour
    }
}
