// filter_band: the walk over the pixels of the area the host has delivered,
// for the real run and for the preview.
#include <cstdint>

#include "base/rect.h"
#include "runtime/pass_setup.h"
#include "runtime/host_calls.h"
#include "runtime/run_state.h"

namespace {

// Where the current outRect starts in each delivered buffer.
struct BandBuffers {
    unsigned char* in;
    unsigned char* out;
    const unsigned char* mask; // null: every pixel is processed
    intptr_t in_row_bytes, out_row_bytes, mask_row_bytes;
};

// A buffer of `rows` rows of `row_bytes` bytes, each holding at least
// `width_bytes`, that the process could address at all.
bool rows_fit(int64_t rows, int64_t row_bytes, int64_t width_bytes)
{
    return row_bytes >= width_bytes && rows * row_bytes <= static_cast<int64_t>(PTRDIFF_MAX);
}

int32_t height_of(const Rect16& r)
{
    return r.bottom - r.top;
}

int32_t width_of(const Rect16& r)
{
    return r.right - r.left;
}

// The pixel loop trusts nothing the host delivered until it knows that every
// address it will form lies inside a delivered buffer: outRect inside inRect
// (and inside maskRect when there is a mask), data present, plane ranges as
// wide as a pixel, rows at least as long as the rectangle's width.
bool locate_band(const FilterRecord& fr, int32_t stride, BandBuffers& b)
{
    b = BandBuffers{};
    const Rect16 o = fr.outRect;
    const Rect16 i = fr.inRect;
    if (stride < 1 || !contains(i, o) || !fr.inData || !fr.outData) return false;
    if (fr.inHiPlane - fr.inLoPlane + 1 != stride || fr.outHiPlane - fr.outLoPlane + 1 != stride)
        return false;
    if (!rows_fit(height_of(i), fr.inRowBytes, int64_t{width_of(i)} * stride) ||
        !rows_fit(height_of(o), fr.outRowBytes, int64_t{width_of(o)} * stride))
        return false;
    b.in_row_bytes = fr.inRowBytes;
    b.out_row_bytes = fr.outRowBytes;
    b.in = static_cast<unsigned char*>(fr.inData) + (o.top - i.top) * b.in_row_bytes +
           static_cast<intptr_t>(o.left - i.left) * stride;
    b.out = static_cast<unsigned char*>(fr.outData);
    // A mask pointer beside an empty maskRect is left over from an earlier
    // request, not a mask of this area.
    if (fr.maskData && !is_empty(fr.maskRect)) {
        const Rect16 m = fr.maskRect;
        if (!contains(m, o) || !rows_fit(height_of(m), fr.maskRowBytes, width_of(m))) return false;
        b.mask_row_bytes = fr.maskRowBytes;
        b.mask = static_cast<const unsigned char*>(fr.maskData) + (o.top - m.top) * b.mask_row_bytes +
                 (o.left - m.left);
    }
    return true;
}

void count_pixels(int32_t n)
{
    run_state.pixels_done = static_cast<int32_t>(static_cast<uint32_t>(run_state.pixels_done) + static_cast<uint32_t>(n));
}

template <int Layout, bool HasMask, bool Plain>
int16 walk_band(const PassSetup& pass_setup, const FilterRecord& fr, const BandBuffers& b, bool with_progress)
{
    // A copy whose address never leaves this function stays in registers
    // across the block calls.
    const PassSetup setup = pass_setup;
    // Only run_kernel_pass changes the current pass, and no block calls it.
    run_state.current_pass = setup.pass;
    const Rect16 o = fr.outRect;
    // Layouts 1 to 3 are exactly that many bytes per pixel.
    const intptr_t stride = Layout < 4 ? Layout : run_state.pixel_context.pixel_stride;
    const int32_t width = width_of(o);
    PixelContext& pc = run_state.pixel_context;
    for (int32_t r = o.top; r < o.bottom; ++r) {
        const intptr_t row_index = r - o.top;
        unsigned char* in = b.in + row_index * b.in_row_bytes;
        unsigned char* out = b.out + row_index * b.out_row_bytes;
        unsigned char* mask = HasMask ? const_cast<unsigned char*>(b.mask) + row_index * b.mask_row_bytes : nullptr;
        const int32_t y = Plain ? r : pass_detail::scaled(r, setup.scale);
        for (int32_t k = o.left; k < o.right; ++k, in += stride, out += stride) {
            unsigned char* here = nullptr;
            if (HasMask) {
                here = mask++;
                if (*here == 0) continue; // outside the selection: the host's bytes stay
            }
            pc.mask_ptr = here;
            pc.out_ptr = out;
            pc.in_ptr = in;
            pc.row = r;
            pc.column = k;
            if (Plain)
                run_pixel_pass<Layout, true>(setup, k, y, in, out, here);
            else if (setup.block)
                run_pixel_pass<Layout, false>(setup, pass_detail::scaled(k, setup.scale), y, in, out, here);
            if (run_state.mode == RunMode::rendering_stopped) {
                count_pixels(k - o.left + 1);
                return noErr;
            }
        }
        count_pixels(width);
        if (with_progress) {
            forget_band_sampling();
            if (fr.abortProc && static_cast<unsigned char>(fr.abortProc()) != 0) return userCanceledErr;
            if (fr.progressProc) fr.progressProc(run_state.pixels_done, run_state.pixels_total);
        }
    }
    return noErr;
}

template <int Layout>
int16 walk_band(const PassSetup& setup, const FilterRecord& fr, const BandBuffers& b, bool with_progress)
{
    if (setup.plain)
        return b.mask ? walk_band<Layout, true, true>(setup, fr, b, with_progress)
                      : walk_band<Layout, false, true>(setup, fr, b, with_progress);
    return b.mask ? walk_band<Layout, true, false>(setup, fr, b, with_progress)
                  : walk_band<Layout, false, false>(setup, fr, b, with_progress);
}

} // namespace

int16 filter_band(bool with_progress, KernelPass pass)
{
    FilterRecord* fr = run_state.filter_record;
    if (!fr) return filterBadParameters;
    if (is_empty(fr->outRect)) return noErr; // nothing delivered, nothing to visit
    BandBuffers buffers;
    if (!locate_band(*fr, run_state.pixel_context.pixel_stride, buffers)) return filterBadParameters;
    const PassSetup setup = make_pass_setup(pass);
    // The band is checked: the sampling built-ins may trust it until the walk
    // ends or calls the host.
    struct BandSampling {
        BandSampling() { begin_band_sampling(); }
        ~BandSampling() { end_band_sampling(); }
    } sampling;
    switch (setup.layout) {
    case 4: return walk_band<4>(setup, *fr, buffers, with_progress);
    case 3: return walk_band<3>(setup, *fr, buffers, with_progress);
    case 2: return walk_band<2>(setup, *fr, buffers, with_progress);
    default: return walk_band<1>(setup, *fr, buffers, with_progress);
    }
}
