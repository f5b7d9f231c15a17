// The per-pixel half of run_kernel_pass, settled once per loop instead of once
// per pixel: which optional slots the pass's use flags ask for, the pixel
// layout and the coordinate scale. The pixel loops of the shell run a pass
// through run_pixel_pass; everything else goes through run_kernel_pass.
#pragma once

#include <cstdint>
#include <cstring>

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
};

PassSetup make_pass_setup(KernelPass pass);

// The sampling built-ins' view of the input band during a pixel walk
// (runtime/builtins_sampling.cpp). A walk begins it once it has checked the
// band and ends it on every way out; every call out to the host forgets it,
// as the host may hand over other buffers then, and the next sample arms it
// again from the record.
void begin_band_sampling();
void end_band_sampling();
void forget_band_sampling();

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
    // missing plane reads as plane 0.
    const int32_t channels[4] = {p[0], Layout >= 2 ? p[1] : p[0], Layout >= 3 ? p[2] : p[0],
                                 Layout >= 4 ? p[3] : 255};
    // Two whole-group stores: a block that reads its channels with wider
    // loads than one slot still gets them forwarded from the store.
    std::memcpy(v + slot::out_red, channels, sizeof channels);
    std::memcpy(v + slot::in_red, channels, sizeof channels);
}

template <int Layout>
inline void store_channels(const int32_t* v, unsigned char* p)
{
    p[0] = clamp_channel(v[slot::out_red]);
    if (Layout >= 2) p[1] = clamp_channel(v[slot::out_green]);
    if (Layout >= 3) p[2] = clamp_channel(v[slot::out_blue]);
    if (Layout >= 4) p[3] = clamp_channel(v[slot::out_alpha]);
}

} // namespace pass_detail

// One Prepass or Main call for the pixel that the pixel context describes: the
// same steps as run_kernel_pass, with the decisions taken in the setup; x and
// y come already scaled. Plain as in PassSetup. The caller records the pass
// as the current one.
template <int Layout, bool Plain>
inline void run_pixel_pass(const PassSetup& setup, int32_t x, int32_t y, const unsigned char* in,
                           unsigned char* out, const unsigned char* mask)
{
    int32_t* v = kernel_vars.v;
    pass_detail::read_channels<Layout>(v, in);
    v[slot::x] = x;
    v[slot::y] = y;
    if (!Plain && setup.optional) fill_optional_slots(setup.optional, kernel_vars, mask);
    setup.block(kernel_vars, builtin_table);
    if (Plain || setup.stores) pass_detail::store_channels<Layout>(v, out);
}
