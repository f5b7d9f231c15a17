// The per-pixel half of run_kernel_pass, settled once per loop instead of once
// per pixel: which optional slots the pass's use flags ask for, the pixel
// layout and the coordinate scale. The pixel walk (runtime/pixel_loop.h) runs
// a pass with these; everything else goes through run_kernel_pass.
#pragma once

#include <cstdint>

#include "runtime/kernel.h"
#include "runtime/run_state.h"

struct PassSetup {
    KernelPass pass;
    KernelBlock block; // null: the pass does nothing per pixel
    // Bit k stands for slot k (8-10, 13-28) when the pass's row flags it and
    // the pass fills it; zero means the per-pixel set-up has nothing optional.
    uint32_t optional;
    int32_t scale;       // the zoom factor above 1, else 1
    int32_t layout;      // planes read and written: 1, 2, 3 or 4 (4 = four or more)
    bool reads_pixel;    // Prepass and Main
    bool stores;         // Main
    // A block to call, a Main pass, no optional slot and no scale: the pixel
    // loop has nothing to decide per pixel.
    bool plain;
    // The block's walk when it is bound and this pass is one it takes: plain,
    // over three or four planes. Null: the walk through the table.
    BoundWalk bound;
    bool pixel_local; // the bound block is declared so
};

PassSetup make_pass_setup(KernelPass pass);

// Slots 8-10 and 13-28 as `optional` asks; the channels, x and y must be set already.
void fill_optional_slots(uint32_t optional, KernelVariables& vars, const unsigned char* mask);

namespace pass_detail {

// In range almost always: one unsigned comparison, and the two ends only when
// it fails.
inline unsigned char clamp_channel(int32_t v)
{
    if (__builtin_expect(uint32_t(v) <= 255, 1)) return static_cast<unsigned char>(v);
    return v < 0 ? 0 : 255;
}

// Wrapping, as all kernel arithmetic is: a picture coordinate times the zoom
// factor never overflows in practice, and must not be undefined if it did.
inline int32_t scaled(int32_t v, int32_t scale)
{
    return static_cast<int32_t>(static_cast<uint32_t>(v) * static_cast<uint32_t>(scale));
}

template <int Layout>
inline void read_channels(int32_t* v, const unsigned char* p)
{
    // A pixel with fewer than three planes is never read past its end: a
    // missing plane reads as plane 0. Slot by slot, so that a walk's own copy
    // of the variables stays in registers (a block copy would pin it to memory).
    const int32_t red = p[0], green = Layout >= 2 ? p[1] : p[0], blue = Layout >= 3 ? p[2] : p[0],
                  alpha = Layout >= 4 ? p[3] : 255;
    v[slot::out_red] = v[slot::in_red] = red;
    v[slot::out_green] = v[slot::in_green] = green;
    v[slot::out_blue] = v[slot::in_blue] = blue;
    v[slot::out_alpha] = v[slot::in_alpha] = alpha;
}

template <int Layout>
inline void store_channels(const int32_t* v, unsigned char* p)
{
    // All read before the first byte is written, which could alias them.
    const int32_t red = v[slot::out_red], green = v[slot::out_green], blue = v[slot::out_blue],
                  alpha = v[slot::out_alpha];
    p[0] = clamp_channel(red);
    if (Layout >= 2) p[1] = clamp_channel(green);
    if (Layout >= 3) p[2] = clamp_channel(blue);
    if (Layout >= 4) p[3] = clamp_channel(alpha);
}

} // namespace pass_detail
