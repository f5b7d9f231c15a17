// Wide intermediate results brought back into 32 bits: a value beyond the
// range becomes its nearest end instead of wrapping or being undefined.
#pragma once

#include <cstdint>

inline int32_t saturate_int32(int64_t v)
{
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}
