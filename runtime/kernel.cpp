// run_kernel_pass and the variables a block sees: what the shell fills in
// before a block runs and what it takes from it afterwards.
#include <cstring>

#include "runtime/definition.h"
#include "runtime/builtins.h"
#include "runtime/kernel.h"
#include "runtime/pass_setup.h"
#include "runtime/run_state.h"

KernelVariables kernel_vars;
KernelBlock kernel_blocks[4];
KernelBinding kernel_binding;

namespace {

bool is_pass(int32_t pass)
{
    return pass >= Start && pass <= Interpass;
}

bool is_pixel_pass(KernelPass pass)
{
    return pass == Prepass || pass == Main;
}

constexpr uint32_t bit(int slot_number)
{
    return uint32_t{1} << slot_number;
}

constexpr uint32_t colour_bits = bit(slot::luma) | bit(slot::chroma_u) | bit(slot::chroma_v);
constexpr uint32_t polar_bits = bit(slot::angle) | bit(slot::radius);
constexpr uint32_t host_bits = ((bit(slot::centre_y) << 1) - 1) & ~(bit(slot::width) - 1);

int32_t pixel_layout(int32_t stride)
{
    if (stride >= 4) return 4;
    if (stride == 3) return 3;
    return stride == 2 ? 2 : 1;
}

int32_t wrapping_square(int32_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(v) * static_cast<uint32_t>(v));
}

} // namespace

namespace {

// The definition's order of the block entries: Main, Prepass, Start, Interpass.
int entry_of(KernelPass pass)
{
    switch (pass) {
    case Main: return 0;
    case Prepass: return 1;
    case Start: return 2;
    case Interpass: return 3;
    }
    return -1;
}

} // namespace

KernelBlock block_of(KernelPass pass)
{
    const int entry = entry_of(pass);
    return entry < 0 ? nullptr : kernel_blocks[entry];
}

PassSetup make_pass_setup(KernelPass pass)
{
    PassSetup s{};
    s.pass = pass;
    if (!is_pass(pass)) return s;
    s.block = block_of(pass);
    s.reads_pixel = is_pixel_pass(pass);
    s.stores = pass == Main;
    s.scale = run_state.zoom_factor > 1 ? run_state.zoom_factor : 1;
    s.layout = pixel_layout(run_state.pixel_context.pixel_stride);
    const unsigned char* row = filter_definition.variable_use_flags[pass];
    for (int k = slot::luma; k <= slot::previewing; ++k) {
        if (k == slot::x || k == slot::y || !row[k]) continue;
        bool pixel_only = k <= slot::chroma_v || k == slot::mask;
        if (pixel_only && !s.reads_pixel) continue;
        s.optional |= bit(k);
    }
    s.plain = s.block && s.stores && s.optional == 0 && s.scale == 1;
    const BoundBlock& bound = kernel_binding.bound[entry_of(pass)];
    if (s.plain && s.layout >= 3 && bound.walk && bound.block == s.block) {
        s.bound = bound.walk;
        s.pixel_local = bound.pixel_local;
    }
    return s;
}

void fill_optional_slots(uint32_t optional, KernelVariables& vars, const unsigned char* mask)
{
    const uint32_t f = optional;
    int32_t* v = vars.v;
    if (f & colour_bits) {
        const int32_t r = v[slot::in_red], g = v[slot::in_green], b = v[slot::in_blue];
        if (f & bit(slot::luma)) v[slot::luma] = (76 * r + 150 * g + 29 * b) / 256;
        if (f & bit(slot::chroma_u)) v[slot::chroma_u] = (56 * b - 37 * g - 19 * r) / 256;
        if (f & bit(slot::chroma_v)) v[slot::chroma_v] = (78 * r - 65 * g - 13 * b) / 256;
    }
    const PixelContext& pc = run_state.pixel_context;
    if (f & polar_bits) {
        // Always from the image centre, never from the effect centre.
        const int32_t dx = static_cast<int32_t>(static_cast<uint32_t>(v[slot::x]) -
                                                static_cast<uint32_t>(pc.image_width / 2));
        const int32_t dy = static_cast<int32_t>(static_cast<uint32_t>(v[slot::y]) -
                                                static_cast<uint32_t>(pc.image_height / 2));
        if (f & bit(slot::angle)) v[slot::angle] = polar_angle(dx, dy);
        if (f & bit(slot::radius))
            v[slot::radius] = square_root(static_cast<int32_t>(
                static_cast<uint32_t>(wrapping_square(dx)) + static_cast<uint32_t>(wrapping_square(dy))));
    }
    if (f & host_bits) {
        if (f & bit(slot::width)) v[slot::width] = pc.image_width;
        if (f & bit(slot::height)) v[slot::height] = pc.image_height;
        if (f & bit(slot::planes)) v[slot::planes] = pc.image_planes;
        if (f & bit(slot::max_radius)) v[slot::max_radius] = pc.half_diagonal;
        if (f & bit(slot::back_red)) v[slot::back_red] = pc.back_colour[0];
        if (f & bit(slot::back_green)) v[slot::back_green] = pc.back_colour[1];
        if (f & bit(slot::back_blue)) v[slot::back_blue] = pc.back_colour[2];
        if (f & bit(slot::fore_red)) v[slot::fore_red] = pc.fore_colour[0];
        if (f & bit(slot::fore_green)) v[slot::fore_green] = pc.fore_colour[1];
        if (f & bit(slot::fore_blue)) v[slot::fore_blue] = pc.fore_colour[2];
        if (f & bit(slot::centre_x)) v[slot::centre_x] = pc.centre_column;
        if (f & bit(slot::centre_y)) v[slot::centre_y] = pc.centre_row;
    }
    if (f & bit(slot::mask)) v[slot::mask] = mask ? *mask : 255;
    if (f & bit(slot::previewing)) v[slot::previewing] = previewing() ? 1 : 0;
}

namespace {

void prepare(const PassSetup& s)
{
    int32_t* v = kernel_vars.v;
    const PixelContext& pc = run_state.pixel_context;
    // Without a current pixel the channel slots keep what they hold, as they
    // do in Start and Interpass.
    if (s.reads_pixel && pc.in_ptr) {
        switch (s.layout) {
        case 4: pass_detail::read_channels<4>(v, pc.in_ptr); break;
        case 3: pass_detail::read_channels<3>(v, pc.in_ptr); break;
        case 2: pass_detail::read_channels<2>(v, pc.in_ptr); break;
        default: pass_detail::read_channels<1>(v, pc.in_ptr); break;
        }
    }
    v[slot::x] = pass_detail::scaled(pc.column, s.scale);
    v[slot::y] = pass_detail::scaled(pc.row, s.scale);
    if (s.optional) fill_optional_slots(s.optional, kernel_vars, pc.mask_ptr);
}

void store(int32_t layout)
{
    unsigned char* out = run_state.pixel_context.out_ptr;
    if (!out) return;
    const int32_t* v = kernel_vars.v;
    switch (layout) {
    case 4: pass_detail::store_channels<4>(v, out); break;
    case 3: pass_detail::store_channels<3>(v, out); break;
    case 2: pass_detail::store_channels<2>(v, out); break;
    default: pass_detail::store_channels<1>(v, out); break;
    }
}

} // namespace

void prepare_variables(KernelPass pass)
{
    prepare(make_pass_setup(pass));
}

void store_result()
{
    store(pixel_layout(run_state.pixel_context.pixel_stride));
}

void run_kernel_pass(KernelPass pass)
{
    run_state.current_pass = pass;
    if (pass == Start) {
        std::memset(&kernel_vars, 0, sizeof kernel_vars);
        create_put_array();
    }
    const PassSetup setup = make_pass_setup(pass);
    if (!setup.block) return;
    prepare(setup);
    setup.block(kernel_vars, builtin_table);
    if (setup.stores) store(setup.layout);
}
