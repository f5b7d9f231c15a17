// The contract between shell, kernel blocks and built-ins: the 291 variable
// slots, the pass numbers, the table of built-ins and run_kernel_pass.
#pragma once

#include <cstddef>
#include <cstdint>

enum KernelPass : int32_t {
    Start = 0,
    Prepass = 1,
    Main = 2,
    Interpass = 3,
};

namespace slot {
enum : int {
    out_red = 0, out_green, out_blue, out_alpha,
    in_red, in_green, in_blue, in_alpha,
    luma, chroma_u, chroma_v,
    x, y, angle, radius,
    width, height, planes, max_radius,
    back_red, back_green, back_blue,
    fore_red, fore_green, fore_blue,
    centre_x, centre_y,
    mask, previewing,
    // 29-34 reserved
    user_vars = 35,
    count = 291,
};
} // namespace slot

struct KernelVariables {
    int32_t v[slot::count];
};
static_assert(sizeof(KernelVariables) == 291 * 4, "KernelVariables: 291 consecutive 32-bit slots");

// The built-ins, in their fixed slots. This struct is the only place where the
// slot numbers live; the asserts below pin the ones kernels rely on most.
struct BuiltinTable {
    int32_t (*abs_value)(int32_t a);                                        // 0
    int32_t (*add_capped)(int32_t a, int32_t b, int32_t limit);             // 1
    int32_t (*polar_angle)(int32_t x, int32_t y);                           // 2
    int32_t (*polar_radius)(int32_t x, int32_t y);                          // 3
    int32_t (*convolve_red)(int32_t w1, int32_t w2, int32_t w3, int32_t w4, int32_t w5,
                            int32_t w6, int32_t w7, int32_t w8, int32_t w9, int32_t d); // 4
    int32_t (*convolve_green)(int32_t w1, int32_t w2, int32_t w3, int32_t w4, int32_t w5,
                              int32_t w6, int32_t w7, int32_t w8, int32_t w9, int32_t d); // 5
    int32_t (*convolve_blue)(int32_t w1, int32_t w2, int32_t w3, int32_t w4, int32_t w5,
                             int32_t w6, int32_t w7, int32_t w8, int32_t w9, int32_t d); // 6
    int32_t (*slider)(int32_t i);                                           // 7
    int32_t (*cos_scaled)(int32_t a);                                       // 8
    int32_t (*abs_difference)(int32_t a, int32_t b);                        // 9
    int32_t (*fetch)(int32_t i);                                            // 10
    int32_t (*slider_ramp)(int32_t i, int32_t v);                           // 11
    int32_t (*maximum)(int32_t a, int32_t b);                               // 12
    int32_t (*minimum)(int32_t a, int32_t b);                               // 13
    int32_t (*blend)(int32_t a, int32_t b, int32_t n, int32_t d);           // 14
    int32_t (*put)(int32_t v, int32_t i);                                   // 15
    int32_t (*src_polar)(int32_t angle, int32_t r, int32_t z);              // 16
    int32_t (*random_between)(int32_t a, int32_t b);                        // 17
    int32_t (*polar_x)(int32_t angle, int32_t r);                           // 18
    int32_t (*polar_y)(int32_t angle, int32_t r);                           // 19
    int32_t (*map_range)(int32_t v, int32_t lo1, int32_t hi1, int32_t lo2, int32_t hi2); // 20
    int32_t (*sin_scaled)(int32_t a);                                       // 21
    int32_t (*square_root)(int32_t a);                                      // 22
    int32_t (*src)(int32_t x, int32_t y, int32_t z);                        // 23
    int32_t (*subtract_floored)(int32_t a, int32_t b, int32_t limit);       // 24
    int32_t (*tangent)(int32_t a);                                          // 25
    int32_t (*slider_scaled)(int32_t i, int32_t a, int32_t b);              // 26
    int32_t (*set_hls)(int32_t h, int32_t l, int32_t s);                    // 27
    int32_t (*hue_of)(int32_t r, int32_t g, int32_t b);                     // 28
    int32_t (*lightness_of)(int32_t r, int32_t g, int32_t b);               // 29
    int32_t (*saturation_of)(int32_t r, int32_t g, int32_t b);              // 30
    int32_t (*dr)(int32_t dx, int32_t dy);                                  // 31
    int32_t (*dg)(int32_t dx, int32_t dy);                                  // 32
    int32_t (*db)(int32_t dx, int32_t dy);                                  // 33
    int32_t (*da)(int32_t dx, int32_t dy);                                  // 34
    int32_t (*dplane)(int32_t dx, int32_t dy, int32_t z);                   // 35
    int32_t (*input_value)(int32_t z);                                      // 36
    int32_t (*set_output)(int32_t z, int32_t v);                            // 37
    int32_t (*fill_gamma)(int32_t g, int32_t start, int32_t n);             // 38
    int32_t (*sort_range)(int32_t start, int32_t n);                        // 39
    int32_t (*src_interpolated)(int32_t x, int32_t y, int32_t n, int32_t z); // 40
    int32_t (*random_seed)(int32_t s);                                      // 41
    int32_t (*color_component)(int32_t i, int32_t k);                       // 42
    int32_t (*check)(int32_t i);                                            // 43
    int32_t (*power)(int32_t a, int32_t num, int32_t den);                  // 44
    int32_t (*angle_resolution)(int32_t n);                                 // 45
    const void* empty[5];                                                   // 46-50
    int32_t (*reserved_zero)(int32_t a, int32_t b);                         // 51
    int32_t (*test_abort)();                                                // 52
};
static_assert(sizeof(BuiltinTable) == 53 * sizeof(void*), "BuiltinTable has 53 slots");
static_assert(offsetof(BuiltinTable, slider) == 7 * sizeof(void*), "slot 7");
static_assert(offsetof(BuiltinTable, src) == 23 * sizeof(void*), "slot 23");
static_assert(offsetof(BuiltinTable, angle_resolution) == 45 * sizeof(void*), "slot 45");
static_assert(offsetof(BuiltinTable, reserved_zero) == 51 * sizeof(void*), "slot 51");

extern const BuiltinTable builtin_table;

// A kernel block. Blocks are routines of the plug-in, bound at attach.
using KernelBlock = void (*)(KernelVariables& vars, const BuiltinTable& builtins);

// Block references in the definition's order: Main, Prepass, Start, Interpass.
// Null means the pass has no block.
extern KernelBlock kernel_blocks[4];
KernelBlock block_of(KernelPass pass);

// A block may also be bound at build time: compiled into the pixel walk
// together with the built-ins it calls (runtime/pixel_loop.h). Its walk takes
// the bands of a plain Main pass over three or four planes; its table entry
// takes every other case and stays the reference both must agree with.
struct BandWalk;
using BoundWalk = int16_t (*)(const BandWalk& walk);
struct BoundBlock {
    KernelBlock block; // the walk is used only while the pass's entry is this block
    BoundWalk walk;
    // The filter's declaration that the block is pixel-local: it reads only
    // its own pixel, x and y, the controls and colours and the input through
    // `src`, carries nothing from one pixel to the next and touches no other
    // shared state. Its walk (pixel_local_walk) may then spread a band's rows
    // over the run's threads. Kept here, beside the binding, so that the
    // definition record keeps its layout.
    bool pixel_local;
    // The block fills most rows as copies of stored pixels (it has a
    // fill_row, see pixel_loop.h: fills_rows says so): a row then costs about a copy, and a thread that takes
    // it ahead of the host calls reads the host's bytes of it first
    // (worker_pool.h), which costs about as much again. Only a larger
    // picture repays the threads (worth_threads).
    bool copies_rows = false;
};
// How far a block reads the input around the pixel it computes, in
// full-image pixels: rows above and below, columns left and right.
struct KernelReach {
    int32_t above, below, left, right;
};
// A filter's declaration of its kernel's reach for the given control values
// (control_values' layout). False: it declares none for these values, and
// the kernel may read anywhere. It reads nothing but its argument, so that
// any thread may ask it for any values.
using ReachDeclaration = bool (*)(const int32_t* controls, KernelReach& reach);

// What the filter this module carries binds besides the definition record,
// whose layout stays fixed: its blocks compiled into the walk, in the order
// of kernel_blocks (all null when none is bound), and the reach of its
// kernel (null: none declared). Owned by the run-time (runtime/kernel.cpp);
// bind_filter_blocks fills it at attach, and only tests and the benchmark
// change it afterwards, to try another binding.
struct KernelBinding {
    BoundBlock bound[4];
    ReachDeclaration reach;
};
extern KernelBinding kernel_binding;

// Binds kernel_blocks to the routines of the filter this module carries; the
// product and each test build of the plug-in provide their own.
void bind_filter_blocks();

extern KernelVariables kernel_vars;

void run_kernel_pass(KernelPass pass);
void prepare_variables(KernelPass pass);
void store_result();
