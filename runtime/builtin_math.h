// Arithmetic helpers of the built-ins. Kernel arithmetic is 32-bit two's
// complement: sums, differences, products and the one overflowing quotient
// (INT32_MIN / -1) wrap instead of being undefined or trapping, and floating
// results are truncated toward zero after being clamped into the int32 range.
#pragma once

#include <cstdint>

namespace builtin_math {

inline int32_t wrap(uint32_t v) { return static_cast<int32_t>(v); }
inline int32_t wrap_add(int32_t a, int32_t b) { return wrap(uint32_t(a) + uint32_t(b)); }
inline int32_t wrap_sub(int32_t a, int32_t b) { return wrap(uint32_t(a) - uint32_t(b)); }
inline int32_t wrap_mul(int32_t a, int32_t b) { return wrap(uint32_t(a) * uint32_t(b)); }
inline int32_t wrap_neg(int32_t a) { return wrap(0u - uint32_t(a)); }

// Truncating division for a non-zero divisor; INT32_MIN / -1 wraps to INT32_MIN.
inline int32_t wrap_div(int32_t a, int32_t d)
{
    return d == -1 ? wrap_neg(a) : a / d;
}

// Truncation toward zero with saturation: a value beyond the int32 range
// becomes the nearest end of the range, and NaN becomes 0, so no conversion
// is ever out of range.
inline int32_t trunc_to_int32(double v)
{
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

} // namespace builtin_math
