// Placeholder table: every slot yields 0 until the built-ins land.
#include "runtime/kernel.h"

namespace {
int32_t zero0() { return 0; }
int32_t zero1(int32_t) { return 0; }
int32_t zero2(int32_t, int32_t) { return 0; }
int32_t zero3(int32_t, int32_t, int32_t) { return 0; }
int32_t zero4(int32_t, int32_t, int32_t, int32_t) { return 0; }
int32_t zero5(int32_t, int32_t, int32_t, int32_t, int32_t) { return 0; }
int32_t zero10(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t)
{
    return 0;
}
} // namespace

const BuiltinTable builtin_table = {
    zero1, zero3, zero2, zero2, zero10, zero10, zero10, zero1, zero1, zero2,
    zero1, zero2, zero2, zero2, zero4, zero2, zero3, zero2, zero2, zero2,
    zero5, zero1, zero1, zero3, zero3, zero1, zero3, zero3, zero3, zero3,
    zero3, zero2, zero2, zero2, zero2, zero3, zero1, zero2, zero3, zero2,
    zero4, zero1, zero2, zero1, zero3, zero1, {nullptr, nullptr, nullptr, nullptr, nullptr},
    zero2, zero0,
};

// Placeholders for the shell's calls into the run-time until the built-ins land.
#include "runtime/builtins.h"
int32_t polar_angle(int32_t, int32_t) { return 0; }
int32_t square_root(int32_t) { return 0; }
void create_put_array() {}
void seed_random_from_clock() {}
