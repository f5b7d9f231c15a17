// Values the fuzz targets draw from their input: the ranges where built-ins
// and host fields change behaviour, the int32 extremes, and anything at all.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>

inline int32_t any_value(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return in.ConsumeIntegralInRange(-3, 12);
    case 1: return in.ConsumeIntegralInRange(-1100, 1100);
    case 2: return in.ConsumeBool() ? INT32_MIN : INT32_MAX;
    default: return in.ConsumeIntegral<int32_t>();
    }
}
