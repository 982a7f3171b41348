#include "dsp/polynom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace brisvane;

TEST(Parabola, WorkedExamples) {
    const double y[] = {0.0, 2.0, 1.0};
    double c[3], p[3];
    ASSERT_EQ(parabfit(y, c), 0);
    ASSERT_EQ(parabfitpoints(0.0, 2.0, 1.0, p), 0);
    EXPECT_TRUE(c[0] == -1.5 && c[1] == 0.5 && c[2] == 2.0) << c[0] << " " << c[1] << " " << c[2];
    EXPECT_TRUE(c[0] == p[0] && c[1] == p[1] && c[2] == p[2]);
    EXPECT_DOUBLE_EQ(parabextx(c), 1.0 / 6.0);
    EXPECT_DOUBLE_EQ(parabexty(c), 2.0 + 0.25 / 6.0);

    parabfitpoints(0.3, 1.7, 0.3, c);  // symmetric peak: vertex on the centre sample
    EXPECT_TRUE(parabextx(c) == 0.0 && parabexty(c) == 1.7);
    parabfitpoints(1.0, 2.0, 3.0, c);  // collinear: no vertex, not an error
    EXPECT_EQ(c[0], 0.0);
    EXPECT_TRUE(std::isinf(parabextx(c)));
}

TEST(Parabola, StrictMaximumStaysWithinHalfASample) {
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> u(-100.0, 100.0), d(1e-12, 2.0);
    for (int t = 0; t < 20000; ++t) {
        const double y1 = u(gen), y0 = y1 - d(gen), y2 = y1 - d(gen);
        double c[3];
        parabfitpoints(y0, y1, y2, c);
        const double x = parabextx(c);
        ASSERT_TRUE(x > -0.5 && x < 0.5 && parabexty(c) >= y1) << y0 << " " << y1 << " " << y2;
        ASSERT_EQ(x > 0.0, y2 > y0);  // the vertex moves toward the larger neighbour
    }
}
