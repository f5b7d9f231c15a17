// Arithmetic and trigonometric built-ins: the listed values, the ten-decimal
// pi, the changeable angle unit, and defined results where 32 bits overflow.
#include <gtest/gtest.h>

#include <climits>

#include "runtime/builtins.h"

namespace {

struct Arith : ::testing::Test {
    void SetUp() override { reset_angle_resolution(); }
    void TearDown() override { reset_angle_resolution(); }
};

TEST_F(Arith, CappedAndFlooredSumsAndDifferences)
{
    EXPECT_EQ(add_capped(200, 100, 255), 255);
    EXPECT_EQ(add_capped(10, 20, 255), 30);
    EXPECT_EQ(subtract_floored(10, 20, 0), 0);
    EXPECT_EQ(subtract_floored(50, 20, 0), 30);
    EXPECT_EQ(abs_difference(3, 10), 7);
    EXPECT_EQ(abs_value(-5), 5);
    EXPECT_EQ(maximum(-3, 2), 2);
    EXPECT_EQ(minimum(-3, 2), -3);
    // Sums wrap before the limit is applied.
    EXPECT_EQ(add_capped(INT_MAX, 1, 0), INT_MIN);
    EXPECT_EQ(subtract_floored(INT_MIN, 1, 0), INT_MAX);
    EXPECT_EQ(abs_value(INT_MIN), INT_MIN);
    EXPECT_EQ(abs_difference(INT_MAX, INT_MIN), 1);
}

TEST_F(Arith, BlendMovesFromBToA)
{
    EXPECT_EQ(blend(200, 100, 1, 4), 125);
    EXPECT_EQ(blend(200, 100, 0, 4), 100);
    EXPECT_EQ(blend(200, 100, 4, 4), 200);
    EXPECT_EQ(blend(200, 100, 3, 0), 0);
    EXPECT_EQ(blend(-7, 0, 1, 2), -3); // truncation toward zero
    // The one quotient that does not fit wraps instead of trapping.
    EXPECT_EQ(blend(INT_MIN, 0, 1, -1), INT_MIN);
}

TEST_F(Arith, MapRangeClampsAndKeepsIdenticalRanges)
{
    EXPECT_EQ(map_range(5, 0, 10, 0, 100), 50);
    EXPECT_EQ(map_range(-3, 0, 10, 0, 100), 0);
    EXPECT_EQ(map_range(15, 0, 10, 0, 100), 100);
    EXPECT_EQ(map_range(300, 0, 255, 0, 255), 300);
    EXPECT_EQ(map_range(7, 7, 7, 0, 100), 7);        // empty source range yields lo1
    EXPECT_EQ(map_range(5, 10, 0, 20, 30), 20);      // reversed source: only lo2 or hi2
    EXPECT_EQ(map_range(5, 0, 10, 100, 0), 50);      // reversed target
    EXPECT_EQ(map_range(0, INT_MIN, INT_MAX, 0, 1), INT_MIN); // span wraps to -1
}

TEST_F(Arith, SquareRootsTruncate)
{
    EXPECT_EQ(square_root(0), 0);
    EXPECT_EQ(square_root(-4), 0);
    EXPECT_EQ(square_root(15), 3);
    EXPECT_EQ(square_root(16), 4);
    EXPECT_EQ(square_root(INT_MAX), 46340);
    EXPECT_EQ(polar_radius(3, 4), 5);
    EXPECT_EQ(polar_radius(0, 0), 0);
    // The sum of squares is 32-bit: 46341^2 wraps negative and reads as 0.
    EXPECT_EQ(polar_radius(46341, 0), 0);
}

TEST_F(Arith, PolarAngleAtTheDefaultResolution)
{
    EXPECT_EQ(polar_angle(1, 0), 0);
    EXPECT_EQ(polar_angle(0, 5), 256);
    EXPECT_EQ(polar_angle(0, -5), -256);
    EXPECT_EQ(polar_angle(0, 0), 256);
    EXPECT_EQ(polar_angle(-5, 0), 512);
    EXPECT_EQ(polar_angle(1, 1), 128);
    EXPECT_EQ(polar_angle(-1, -1), -384);
    EXPECT_EQ(polar_angle(-1000, -1), -512); // just below the negative x axis
}

TEST_F(Arith, TrigonometryUsesTheTenDecimalPi)
{
    EXPECT_EQ(cos_scaled(0), 512);
    EXPECT_EQ(cos_scaled(512), -512);
    EXPECT_EQ(sin_scaled(256), 512);
    EXPECT_EQ(sin_scaled(-256), -512);
    EXPECT_EQ(polar_x(0, 100), 100);
    EXPECT_EQ(polar_y(256, 100), 100);
    EXPECT_EQ(polar_x(512, INT_MIN), INT_MAX); // +2^31 saturates
    EXPECT_EQ(tangent(128), 0);
    EXPECT_EQ(tangent(150), 1);
    EXPECT_EQ(tangent(200), 2);
    EXPECT_EQ(tangent(255), 162);
    EXPECT_EQ(tangent(-255), -162);
}

TEST_F(Arith, TangentAtARightAngleSaturates)
{
    EXPECT_EQ(tangent(256), INT_MAX);
    EXPECT_EQ(tangent(-256), INT_MIN);
}

TEST_F(Arith, PowerWithFractionalAndUndefinedExponents)
{
    EXPECT_EQ(power(2, 10, 1), 1024);
    EXPECT_EQ(power(-2, 2, 1), 0);
    EXPECT_EQ(power(5, 1, 0), 0);
    EXPECT_EQ(power(7, 0, 3), 1);
    EXPECT_EQ(power(9, 1, 2), 3);  // the exponent is 0.5, not 1 / 2 = 0
    EXPECT_EQ(power(2, -1, 1), 0); // 0.5 truncates
    EXPECT_EQ(power(2, 30, 1), 1 << 30);
    EXPECT_EQ(power(0, 0, 1), 1);
    EXPECT_EQ(power(0, 3, 1), 0);
    // Chosen: beyond the int32 range, and 0 to a negative power, give INT_MAX.
    EXPECT_EQ(power(2, 31, 1), INT_MAX);
    EXPECT_EQ(power(46341, 2, 1), INT_MAX);
    EXPECT_EQ(power(0, -1, 1), INT_MAX);
    EXPECT_EQ(power(INT_MAX, INT_MIN, -1), INT_MAX);
    EXPECT_EQ(power(INT_MAX, INT_MIN, 1), 0);
}

TEST_F(Arith, AngleResolutionChangesTheUnitForEveryAngle)
{
    EXPECT_EQ(angle_resolution(0), 512);
    EXPECT_EQ(angle_resolution(180), 180);
    EXPECT_EQ(cos_scaled(180), -512);
    EXPECT_EQ(polar_x(90, 100), 0);
    EXPECT_EQ(angle_resolution(-1), 180);
    EXPECT_EQ(polar_angle(1, 1), 45);
    // Chosen: the right angle and half turn of polar_angle follow the
    // resolution too, so the result is one angle in degrees here.
    EXPECT_EQ(polar_angle(0, 5), 90);
    EXPECT_EQ(polar_angle(-5, 0), 180);
    EXPECT_EQ(polar_angle(-1, -1), -135);
    EXPECT_DOUBLE_EQ(angle_unit(), 3.1415926535 / 180);
}

TEST_F(Arith, ExtremeResolutionsStayDefined)
{
    angle_resolution(1);
    EXPECT_EQ(polar_angle(0, 1), 0);
    EXPECT_EQ(polar_angle(-1, 1), 1);
    angle_resolution(INT_MAX);
    EXPECT_EQ(polar_angle(-1, 0), INT_MAX);
    EXPECT_EQ(polar_angle(0, -1), -(INT_MAX / 2));
    EXPECT_EQ(cos_scaled(0), 512);
}

} // namespace
