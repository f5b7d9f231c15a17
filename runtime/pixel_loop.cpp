// filter_band: the checks of the area the host has delivered, then the walk
// over its pixels, for the real run and for the preview. The walk (mask test,
// block call, store; after each row the abort test and progress) is a template
// in runtime/pixel_loop.h, so that a block bound at build time can be compiled
// into it in the filter's own file; here it runs with the table.
#include <cstdint>

#include "base/rect.h"
#include "runtime/host_calls.h"
#include "runtime/pixel_loop.h"
#include "runtime/run_state.h"
#include "runtime/worker_pool.h"

namespace {

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

// The table's walk for every layout, mask and plainness.
template <int Layout>
int16 walk_by_table(const BandWalk& walk)
{
    const TableBlock block{walk.setup.block};
    if (walk.setup.plain)
        return walk.buffers.mask ? walk_band<TableBlock, TableBuiltins, Layout, true, true>(walk, block)
                                 : walk_band<TableBlock, TableBuiltins, Layout, false, true>(walk, block);
    return walk.buffers.mask ? walk_band<TableBlock, TableBuiltins, Layout, true, false>(walk, block)
                             : walk_band<TableBlock, TableBuiltins, Layout, false, false>(walk, block);
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
    BandWalk walk{setup, *fr, buffers, with_progress};
    if (setup.bound) {
        WorkerPool* pool = run_state.workers;
        const int32_t rows = height_of(fr->outRect);
        // The preview stays on the host's thread: its renderings take a few
        // milliseconds, about what starting the threads would cost.
        const size_t row_out_bytes = size_t(width_of(fr->outRect)) * size_t(run_state.pixel_context.pixel_stride);
        if (pool && with_progress && setup.pixel_local && pool->can_spread(rows, row_out_bytes) &&
            worth_splitting(rows, width_of(fr->outRect)))
            walk.workers = pool;
        return setup.bound(walk);
    }
    switch (setup.layout) {
    case 4: return walk_by_table<4>(walk);
    case 3: return walk_by_table<3>(walk);
    case 2: return walk_by_table<2>(walk);
    default: return walk_by_table<1>(walk);
    }
}
