// The sample section's shortcuts decide exactly as the expressions they stand for: checked against those
// expressions at and around every bound, and over many values.
#include "leveler/bounds.h"
#include "leveler/state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

double Up(double x, int steps) {
    for (int i = 0; i < steps; ++i) x = std::nextafter(x, kInfinity);
    for (int i = 0; i > steps; --i) x = std::nextafter(x, -kInfinity);
    return x;
}

bool GateClosed(double peak, double floor) {
    return IsZero(std::max(peak, floor) / floor - 1);
}

TEST(LevelerBounds, GateBoundSplitsClosedFromOpen) {
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> decibels(-140, 40);
    for (int i = 0; i < 2000; ++i) {
        const double floor = std::pow(10, decibels(random) / 20);
        const double bound = leveler::GateClosedUpTo(floor);
        ASSERT_FALSE(std::isnan(bound)) << floor;
        for (int step = -3; step <= 0; ++step) ASSERT_TRUE(GateClosed(Up(bound, step), floor)) << floor;
        for (int step = 1; step <= 3; ++step) ASSERT_FALSE(GateClosed(Up(bound, step), floor)) << floor;
        ASSERT_TRUE(GateClosed(0, floor));
        ASSERT_TRUE(GateClosed(floor, floor));
    }
    // -40 dBFS: the peak may exceed the floor by just under a hundred-thousandth.
    EXPECT_NEAR(leveler::GateClosedUpTo(0.01), 0.0100001, 1e-16);
    EXPECT_TRUE(std::isnan(leveler::GateClosedUpTo(0)));
    EXPECT_TRUE(std::isnan(leveler::GateClosedUpTo(kInfinity)));
}

TEST(LevelerBounds, RatioBoundsSplitTheLimitedFromTheRest) {
    std::mt19937_64 random(6);
    std::uniform_real_distribution<double> decibels(-60, 60);
    for (int i = 0; i < 2000; ++i) {
        const double limit = std::pow(10, decibels(random) / 20);
        const double reaching = leveler::RatioReaching(limit);
        const double within = leveler::RatioWithin(limit);
        for (int step = 0; step <= 3; ++step) ASSERT_GE(std::sqrt(Up(reaching, step)), limit) << limit;
        for (int step = -3; step < 0; ++step) ASSERT_LT(std::sqrt(Up(reaching, step)), limit) << limit;
        for (int step = -3; step <= 0; ++step) ASSERT_LE(std::sqrt(Up(within, step)), limit) << limit;
        for (int step = 1; step <= 3; ++step) ASSERT_GT(std::sqrt(Up(within, step)), limit) << limit;
    }
    EXPECT_EQ(leveler::RatioReaching(1), 1);
    EXPECT_EQ(leveler::RatioWithin(1), std::nextafter(1.0, 2.0)); // sqrt rounds 1 + ulp back to 1
    EXPECT_EQ(leveler::RatioReaching(kInfinity), kInfinity);
    EXPECT_EQ(leveler::RatioReaching(0), 0);
    EXPECT_EQ(leveler::RatioWithin(0), 0);
    EXPECT_TRUE(std::isnan(leveler::RatioReaching(std::nan(""))));
}
} // namespace
