// The Main block's short path divides by multiplying with a per-size
// reciprocal and compares distances linearly. Approximate quotients go wrong
// first at the largest remainder, x = q·d - 1, so these tests put the pixel
// there for quotients spread over the whole int32 range, on both axes, for
// every size the dialog allows and at the short path's size limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "runtime/kernel.h"
#include "support/cell_reference.h"

void cellumbra_main(KernelVariables& vars, const BuiltinTable& builtins);

namespace {

int32_t size_given;
CellCentre sampled;

BuiltinTable table_of_size(int32_t s)
{
    size_given = s;
    BuiltinTable table = builtin_table;
    table.slider = [](int32_t) { return size_given; };
    table.src = [](int32_t x, int32_t y, int32_t) {
        sampled = CellCentre{x, y};
        return 0;
    };
    return table;
}

CellCentre centre_taken(const BuiltinTable& table, int32_t x, int32_t y)
{
    KernelVariables vars{};
    vars.v[slot::x] = x;
    vars.v[slot::y] = y;
    sampled = CellCentre{INT32_MIN, INT32_MIN};
    cellumbra_main(vars, table);
    EXPECT_EQ(vars.v[36], sampled.x);
    EXPECT_EQ(vars.v[37], sampled.y);
    return sampled;
}

// x = q·d - 1 and its neighbours for q growing by about a tenth each step,
// up to the int32 range.
std::vector<int32_t> worst_remainders(int64_t d)
{
    std::vector<int32_t> xs;
    for (int64_t q = 1; q * d <= INT32_MAX; q += q / 10 + 1)
        for (int64_t x : {q * d - 1, q * d, q * d + 1})
            if (x >= 0 && x <= INT32_MAX) xs.push_back(static_cast<int32_t>(x));
    return xs;
}

void expect_nearest_at_worst_remainders(int32_t s)
{
    const BuiltinTable table = table_of_size(s);
    int failures = 0;
    for (int32_t x : worst_remainders(6 * int64_t{s})) {
        const int32_t y = 2 * s + 1;
        if (centre_taken(table, x, y) != nearest_centre(x, y, s) && ++failures <= 3)
            ADD_FAILURE() << "size " << s << " pixel (" << x << ", " << y << "): took " << sampled << ", nearest is "
                          << nearest_centre(x, y, s);
    }
    for (int32_t y : worst_remainders(4 * int64_t{s})) {
        const int32_t x = 3 * s - 1;
        if (centre_taken(table, x, y) != nearest_centre(x, y, s) && ++failures <= 6)
            ADD_FAILURE() << "size " << s << " pixel (" << x << ", " << y << "): took " << sampled << ", nearest is "
                          << nearest_centre(x, y, s);
    }
}

TEST(CellShortPath, ExactAtTheWorstRemaindersForEveryDialogSize)
{
    for (int32_t s = 1; s <= 100; ++s) expect_nearest_at_worst_remainders(s);
}

TEST(CellShortPath, ExactOnBothSidesOfItsSizeLimit)
{
    // Up to 12852 no squared distance of the stated rule wraps, so the rule
    // and the nearest centre agree on both paths.
    for (int32_t s : {4096, 11999, 12000, 12001, 12852}) expect_nearest_at_worst_remainders(s);
}

} // namespace
