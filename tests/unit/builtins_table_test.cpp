// The registration table: every built-in sits in the slot kernels call it by,
// and the empty slots hold nothing.
#include <gtest/gtest.h>

#include <cstddef>

#include "runtime/builtins.h"
#include "runtime/kernel.h"

namespace {

#define EXPECT_SLOT(name, number)                                                    \
    do {                                                                             \
        EXPECT_EQ(offsetof(BuiltinTable, name), size_t(number) * sizeof(void*)) << #name; \
        EXPECT_EQ(builtin_table.name, &name) << #name;                               \
    } while (0)

TEST(BuiltinTableSlots, EveryBuiltinInItsNumberedSlot)
{
    EXPECT_SLOT(abs_value, 0);
    EXPECT_SLOT(add_capped, 1);
    EXPECT_SLOT(polar_angle, 2);
    EXPECT_SLOT(polar_radius, 3);
    EXPECT_SLOT(convolve_red, 4);
    EXPECT_SLOT(convolve_green, 5);
    EXPECT_SLOT(convolve_blue, 6);
    EXPECT_SLOT(slider, 7);
    EXPECT_SLOT(cos_scaled, 8);
    EXPECT_SLOT(abs_difference, 9);
    EXPECT_SLOT(fetch, 10);
    EXPECT_SLOT(slider_ramp, 11);
    EXPECT_SLOT(maximum, 12);
    EXPECT_SLOT(minimum, 13);
    EXPECT_SLOT(blend, 14);
    EXPECT_SLOT(put, 15);
    EXPECT_SLOT(src_polar, 16);
    EXPECT_SLOT(random_between, 17);
    EXPECT_SLOT(polar_x, 18);
    EXPECT_SLOT(polar_y, 19);
    EXPECT_SLOT(map_range, 20);
    EXPECT_SLOT(sin_scaled, 21);
    EXPECT_SLOT(square_root, 22);
    EXPECT_SLOT(src, 23);
    EXPECT_SLOT(subtract_floored, 24);
    EXPECT_SLOT(tangent, 25);
    EXPECT_SLOT(slider_scaled, 26);
    EXPECT_SLOT(set_hls, 27);
    EXPECT_SLOT(hue_of, 28);
    EXPECT_SLOT(lightness_of, 29);
    EXPECT_SLOT(saturation_of, 30);
    EXPECT_SLOT(dr, 31);
    EXPECT_SLOT(dg, 32);
    EXPECT_SLOT(db, 33);
    EXPECT_SLOT(da, 34);
    EXPECT_SLOT(dplane, 35);
    EXPECT_SLOT(input_value, 36);
    EXPECT_SLOT(set_output, 37);
    EXPECT_SLOT(fill_gamma, 38);
    EXPECT_SLOT(sort_range, 39);
    EXPECT_SLOT(src_interpolated, 40);
    EXPECT_SLOT(random_seed, 41);
    EXPECT_SLOT(color_component, 42);
    EXPECT_SLOT(check, 43);
    EXPECT_SLOT(power, 44);
    EXPECT_SLOT(angle_resolution, 45);
    EXPECT_SLOT(reserved_zero, 51);
    EXPECT_SLOT(test_abort, 52);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(builtin_table.empty[i], nullptr) << "slot " << 46 + i;
}

} // namespace
