// The one registration table of the built-ins: the only place where a
// built-in is bound to its slot number.
#include "runtime/builtins.h"
#include "runtime/kernel.h"

const BuiltinTable builtin_table = {
    abs_value,        // 0
    add_capped,       // 1
    polar_angle,      // 2
    polar_radius,     // 3
    convolve_red,     // 4
    convolve_green,   // 5
    convolve_blue,    // 6
    slider,           // 7
    cos_scaled,       // 8
    abs_difference,   // 9
    fetch,            // 10
    slider_ramp,      // 11
    maximum,          // 12
    minimum,          // 13
    blend,            // 14
    put,              // 15
    src_polar,        // 16
    random_between,   // 17
    polar_x,          // 18
    polar_y,          // 19
    map_range,        // 20
    sin_scaled,       // 21
    square_root,      // 22
    src,              // 23
    subtract_floored, // 24
    tangent,          // 25
    slider_scaled,    // 26
    set_hls,          // 27
    hue_of,           // 28
    lightness_of,     // 29
    saturation_of,    // 30
    dr,               // 31
    dg,               // 32
    db,               // 33
    da,               // 34
    dplane,           // 35
    input_value,      // 36
    set_output,       // 37
    fill_gamma,       // 38
    sort_range,       // 39
    src_interpolated, // 40
    random_seed,      // 41
    color_component,  // 42
    check,            // 43
    power,            // 44
    angle_resolution, // 45
    {nullptr, nullptr, nullptr, nullptr, nullptr}, // 46-50 empty
    reserved_zero,    // 51
    test_abort,       // 52
};
