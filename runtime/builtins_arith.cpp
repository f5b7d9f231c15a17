// Integer arithmetic with limits, mixing, range mapping, square roots and
// trigonometry in integer angle units.
#include <cmath>

#include "runtime/builtin_math.h"
#include "runtime/builtins.h"

using namespace builtin_math;

namespace {

// Pi to ten decimals, not the double's pi: tangent(128) is 0 because of it.
constexpr double ten_decimal_pi = 3.1415926535;
constexpr int32_t default_resolution = 512;

int32_t resolution = default_resolution; // angle units per half turn
double unit = ten_decimal_pi / default_resolution;

} // namespace

double angle_unit()
{
    return unit;
}

void reset_angle_resolution()
{
    resolution = default_resolution;
    unit = ten_decimal_pi / default_resolution;
}

// |INT32_MIN| does not exist in 32 bits; it wraps to itself.
int32_t abs_value(int32_t a)
{
    return a < 0 ? wrap_neg(a) : a;
}

int32_t add_capped(int32_t a, int32_t b, int32_t limit)
{
    const int32_t s = wrap_add(a, b);
    return s < limit ? s : limit;
}

int32_t subtract_floored(int32_t a, int32_t b, int32_t limit)
{
    const int32_t s = wrap_sub(a, b);
    return s > limit ? s : limit;
}

// The wrapped difference, then its absolute value.
int32_t abs_difference(int32_t a, int32_t b)
{
    return abs_value(wrap_sub(a, b));
}

int32_t maximum(int32_t a, int32_t b)
{
    return a > b ? a : b;
}

int32_t minimum(int32_t a, int32_t b)
{
    return a < b ? a : b;
}

// 32-bit arithmetic throughout; a quotient INT32_MIN / -1 wraps to INT32_MIN.
int32_t blend(int32_t a, int32_t b, int32_t n, int32_t d)
{
    if (d == 0) return 0;
    return wrap_div(wrap_add(wrap_mul(a, n), wrap_mul(b, wrap_sub(d, n))), d);
}

// 32-bit arithmetic throughout; a source span that wraps to -1 with a
// numerator of INT32_MIN gives INT32_MIN, and a span of 0 is caught by step 4.
int32_t map_range(int32_t v, int32_t lo1, int32_t hi1, int32_t lo2, int32_t hi2)
{
    if (lo1 == lo2 && hi1 == hi2) return v;
    if (v < lo1) return lo2;
    if (v > hi1) return hi2;
    if (hi1 == lo1) return lo1;
    return wrap_add(lo2, wrap_div(wrap_mul(wrap_sub(v, lo1), wrap_sub(hi2, lo2)), wrap_sub(hi1, lo1)));
}

int32_t square_root(int32_t a)
{
    if (a < 1) return 0;
    return static_cast<int32_t>(std::sqrt(static_cast<double>(a)));
}

// The sum of squares is formed in 32 bits as kernels expect, so a vector
// longer than 46340 wraps and may read as 0.
int32_t polar_radius(int32_t x, int32_t y)
{
    return square_root(wrap_add(wrap_mul(x, x), wrap_mul(y, y)));
}

// At the default resolution the right angle is 256 and the half turn 512.
// Under another resolution both follow it (resolution / 2 truncated and
// resolution), like the arctangent part, so the result stays one angle
// measured in the units in force; the sum saturates at the int32 range.
int32_t polar_angle(int32_t x, int32_t y)
{
    const int32_t right_angle = resolution / 2;
    if (x == 0) return y < 0 ? -right_angle : right_angle;
    double t = std::trunc(std::atan(static_cast<double>(y) / x) / unit);
    if (x < 0) t += y < 0 ? -static_cast<double>(resolution) : static_cast<double>(resolution);
    return trunc_to_int32(t);
}

int32_t cos_scaled(int32_t a)
{
    return trunc_to_int32(std::cos(a * unit) * 512.0);
}

int32_t sin_scaled(int32_t a)
{
    return trunc_to_int32(std::sin(a * unit) * 512.0);
}

int32_t polar_x(int32_t angle, int32_t r)
{
    return trunc_to_int32(r * std::cos(angle * unit));
}

int32_t polar_y(int32_t angle, int32_t r)
{
    return trunc_to_int32(r * std::sin(angle * unit));
}

// Near a right angle the tangent leaves the int32 range (about 2.2e10 at
// exactly 256 units); it saturates to INT32_MAX or INT32_MIN.
int32_t tangent(int32_t a)
{
    return trunc_to_int32(std::tan(a * unit));
}

// Results beyond the int32 range saturate to INT32_MAX; 0 raised to a
// negative exponent (infinite) also gives INT32_MAX. Overflow is decided from
// the logarithm before pow is called, so no infinity, underflow or
// floating-point exception arises even in a host that unmasks them.
int32_t power(int32_t a, int32_t num, int32_t den)
{
    if (a < 0 || den == 0) return 0;
    const double e = static_cast<double>(num) / den;
    if (a == 0) return e > 0 ? 0 : e == 0 ? 1 : INT32_MAX;
    if (a == 1) return 1;
    const double magnitude = e * std::log2(static_cast<double>(a));
    if (magnitude > 31.0) return INT32_MAX;
    if (magnitude < -31.0) return 0; // below 2^-31, and no underflow either
    return trunc_to_int32(std::pow(static_cast<double>(a), e));
}

int32_t angle_resolution(int32_t n)
{
    if (n > 0) {
        resolution = n;
        unit = ten_decimal_pi / n;
    }
    return resolution;
}
