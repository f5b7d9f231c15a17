// The built-in functions by name, for the table, the shell and the tests.
// Kernels reach them only through BuiltinTable.
#pragma once

#include <cstdint>

// Arithmetic and trigonometry.
int32_t abs_value(int32_t a);
int32_t add_capped(int32_t a, int32_t b, int32_t limit);
int32_t polar_angle(int32_t x, int32_t y);
int32_t polar_radius(int32_t x, int32_t y);
int32_t cos_scaled(int32_t a);
int32_t abs_difference(int32_t a, int32_t b);
int32_t maximum(int32_t a, int32_t b);
int32_t minimum(int32_t a, int32_t b);
int32_t blend(int32_t a, int32_t b, int32_t n, int32_t d);
int32_t polar_x(int32_t angle, int32_t r);
int32_t polar_y(int32_t angle, int32_t r);
int32_t map_range(int32_t v, int32_t lo1, int32_t hi1, int32_t lo2, int32_t hi2);
int32_t sin_scaled(int32_t a);
int32_t square_root(int32_t a);
int32_t subtract_floored(int32_t a, int32_t b, int32_t limit);
int32_t tangent(int32_t a);
int32_t power(int32_t a, int32_t num, int32_t den);
int32_t angle_resolution(int32_t n);

// Image sampling.
int32_t convolve_red(int32_t w1, int32_t w2, int32_t w3, int32_t w4, int32_t w5, int32_t w6,
                     int32_t w7, int32_t w8, int32_t w9, int32_t d);
int32_t convolve_green(int32_t w1, int32_t w2, int32_t w3, int32_t w4, int32_t w5, int32_t w6,
                       int32_t w7, int32_t w8, int32_t w9, int32_t d);
int32_t convolve_blue(int32_t w1, int32_t w2, int32_t w3, int32_t w4, int32_t w5, int32_t w6,
                      int32_t w7, int32_t w8, int32_t w9, int32_t d);
int32_t src_polar(int32_t angle, int32_t r, int32_t z);
int32_t src(int32_t x, int32_t y, int32_t z);
int32_t dr(int32_t dx, int32_t dy);
int32_t dg(int32_t dx, int32_t dy);
int32_t db(int32_t dx, int32_t dy);
int32_t da(int32_t dx, int32_t dy);
int32_t dplane(int32_t dx, int32_t dy, int32_t z);
int32_t input_value(int32_t z);
int32_t set_output(int32_t z, int32_t v);
int32_t src_interpolated(int32_t x, int32_t y, int32_t n, int32_t z);

// Cell array, random numbers, controls, abort test.
int32_t slider(int32_t i);
int32_t fetch(int32_t i);
int32_t slider_ramp(int32_t i, int32_t v);
int32_t put(int32_t v, int32_t i);
int32_t random_between(int32_t a, int32_t b);
int32_t slider_scaled(int32_t i, int32_t a, int32_t b);
int32_t fill_gamma(int32_t g, int32_t start, int32_t n);
int32_t sort_range(int32_t start, int32_t n);
int32_t random_seed(int32_t s);
int32_t color_component(int32_t i, int32_t k);
int32_t check(int32_t i);
int32_t reserved_zero(int32_t a, int32_t b);
int32_t test_abort();

// Colour space.
int32_t set_hls(int32_t h, int32_t l, int32_t s);
int32_t hue_of(int32_t r, int32_t g, int32_t b);
int32_t lightness_of(int32_t r, int32_t g, int32_t b);
int32_t saturation_of(int32_t r, int32_t g, int32_t b);

// Shell operations of the run-time.
// Replaces the put array with a fresh zero-filled one of the definition's size;
// reports through show_error_box when it cannot.
void create_put_array();
// Seeds the generator with the calendar time in whole seconds, rounded.
void seed_random_from_clock();

// The angle unit in radians: 3.1415926535 divided by the resolution in force.
double angle_unit();

// Test hooks: put one family's module state back as the module loads it.
void reset_angle_resolution(); // 512 units per half turn
void reset_colour_cache();     // all six words -1
void reset_state_builtins();   // no put array, generator state 0, abort counter 0
