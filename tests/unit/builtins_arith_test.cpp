// Arithmetic and trigonometric built-ins: the ten-decimal pi, the changeable
// angle unit, and defined results where 32 bits overflow.
#include <gtest/gtest.h>

#include <climits>

#include "runtime/builtins.h"

namespace {

struct Arith : ::testing::Test {
    void SetUp() override { reset_angle_resolution(); }
    void TearDown() override { reset_angle_resolution(); }
};

TEST_F(Arith, IntegerArithmeticWrapsInsteadOfOverflowing)
{
    EXPECT_EQ(add_capped(200, 100, 255), 255);
    EXPECT_EQ(subtract_floored(10, 20, 0), 0);
    EXPECT_EQ(add_capped(INT_MAX, 1, 0), INT_MIN); // the sum wraps before the cap
    EXPECT_EQ(subtract_floored(INT_MIN, 1, 0), INT_MAX);
    EXPECT_EQ(abs_value(INT_MIN), INT_MIN);
    EXPECT_EQ(abs_difference(INT_MAX, INT_MIN), 1);
    EXPECT_EQ(blend(200, 100, 1, 4), 125);
    EXPECT_EQ(blend(200, 100, 3, 0), 0);
    EXPECT_EQ(blend(INT_MIN, 0, 1, -1), INT_MIN); // INT_MIN / -1 wraps
}

TEST_F(Arith, MapRange)
{
    EXPECT_EQ(map_range(5, 0, 10, 0, 100), 50);
    EXPECT_EQ(map_range(-3, 0, 10, 0, 100), 0);
    EXPECT_EQ(map_range(15, 0, 10, 0, 100), 100);
    EXPECT_EQ(map_range(300, 0, 255, 0, 255), 300);
    EXPECT_EQ(map_range(7, 7, 7, 0, 100), 7);
    EXPECT_EQ(map_range(5, 10, 0, 20, 30), 20);
    EXPECT_EQ(map_range(0, INT_MIN, INT_MAX, 0, 1), INT_MIN); // span wraps to -1
}

TEST_F(Arith, Roots)
{
    EXPECT_EQ(square_root(-4), 0);
    EXPECT_EQ(square_root(15), 3);
    EXPECT_EQ(square_root(INT_MAX), 46340);
    EXPECT_EQ(polar_radius(3, 4), 5);
    EXPECT_EQ(polar_radius(46341, 0), 0); // 32-bit sum of squares wraps negative
}

TEST_F(Arith, AnglesAtTheDefaultResolution)
{
    EXPECT_EQ(polar_angle(0, 5), 256);
    EXPECT_EQ(polar_angle(0, -5), -256);
    EXPECT_EQ(polar_angle(-5, 0), 512);
    EXPECT_EQ(polar_angle(1, 1), 128);
    EXPECT_EQ(polar_angle(-1, -1), -384);
    EXPECT_EQ(cos_scaled(512), -512);
    EXPECT_EQ(sin_scaled(256), 512);
    EXPECT_EQ(polar_y(256, 100), 100);
    EXPECT_EQ(polar_x(512, INT_MIN), INT_MAX); // +2^31 saturates
}

TEST_F(Arith, TangentUsesTheTenDecimalPiAndSaturates)
{
    EXPECT_EQ(tangent(128), 0);
    EXPECT_EQ(tangent(150), 1);
    EXPECT_EQ(tangent(255), 162);
    EXPECT_EQ(tangent(-255), -162);
    EXPECT_EQ(tangent(256), INT_MAX);
    EXPECT_EQ(tangent(-256), INT_MIN);
}

TEST_F(Arith, Power)
{
    EXPECT_EQ(power(2, 10, 1), 1024);
    EXPECT_EQ(power(-2, 2, 1), 0);
    EXPECT_EQ(power(5, 1, 0), 0);
    EXPECT_EQ(power(7, 0, 3), 1);
    EXPECT_EQ(power(9, 1, 2), 3); // exponent 0.5, not 1 / 2 = 0
    // Beyond the int32 range, and 0 to a negative power, give INT_MAX.
    EXPECT_EQ(power(2, 31, 1), INT_MAX);
    EXPECT_EQ(power(0, -1, 1), INT_MAX);
    EXPECT_EQ(power(INT_MAX, INT_MIN, -1), INT_MAX);
    EXPECT_EQ(power(INT_MAX, INT_MIN, 1), 0);
}

TEST_F(Arith, AnotherResolutionChangesEveryAngle)
{
    EXPECT_EQ(angle_resolution(180), 180);
    EXPECT_EQ(cos_scaled(180), -512);
    EXPECT_EQ(polar_x(90, 100), 0);
    EXPECT_EQ(angle_resolution(-1), 180);
    // polar_angle's right angle and half turn follow the resolution too.
    EXPECT_EQ(polar_angle(0, 5), 90);
    EXPECT_EQ(polar_angle(-1, -1), -135);
    angle_resolution(INT_MAX);
    EXPECT_EQ(polar_angle(-1, 0), INT_MAX);
    EXPECT_EQ(polar_angle(0, -1), -(INT_MAX / 2));
}

} // namespace
