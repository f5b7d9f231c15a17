// The walk over the pixels of a delivered band, for the real run and for the
// preview: one loop over a row (walk_row), whose block and whose access to the
// built-ins are compile-time parameters, and the rows in order around it
// (walk_rows), with the host calls after each. filter_band
// (runtime/pixel_loop.cpp) checks the band and walks it with the pass's block
// entry and the table of built-ins. A block bound at build time instantiates
// the same loop with its own code and inline built-ins (bound_walk below), so
// that the compiler sees the loop, the block and the built-ins it calls
// together; a bound block declared pixel-local has its rows walked out of line
// (pixel_local_row), the same code whether the host's thread walks the band
// alone or the run's threads share it (runtime/parallel_band.h).
#pragma once

#include <cstdint>
#include <type_traits>

#include "base/host_api.h"
#include "runtime/builtins.h"
#include "runtime/kernel.h"
#include "runtime/pass_setup.h"
#include "runtime/run_state.h"

// Where the current outRect starts in each delivered buffer.
struct BandBuffers {
    unsigned char* in;
    unsigned char* out;
    const unsigned char* mask; // null: every pixel is processed
    intptr_t in_row_bytes, out_row_bytes, mask_row_bytes;
};

// One band as filter_band has checked it: every address the walk forms from
// these lies inside a delivered buffer.
struct BandWalk {
    const PassSetup& setup;
    const FilterRecord& record;
    BandBuffers buffers;
    bool with_progress;
    // Set when the band is to be split over the run's threads: a real run, a
    // block declared pixel-local, a band large enough.
    WorkerPool* workers = nullptr;
};

// The input band as `src` reads it (runtime/builtins_sampling.cpp), for a walk
// to read inline. `base` is null unless the band is readable at zoom 1.
struct SamplingView {
    const unsigned char* base;
    uint32_t left, top;             // as unsigned, for the offsets below
    uint32_t last_column, last_row; // offsets of the band's last column and row
    uintptr_t stride, row_bytes;
};
// Made from the record as it stands; valid until the next call. A reference,
// so that a walk's copy is filled without its address leaving the walk.
const SamplingView& sampling_view();

// The built-ins of a bound block. `src` and `slider`, which a block calls for
// every pixel, are inline here, `src` over the band as it was at the start of
// the row; the others are the table's entries, which these members hide. The
// host can hand over other buffers only when it is called: between rows, and
// from inside the abort test, after which the band is looked at again.
//
// The block's variables are the walk's own copy, which nothing outside the
// walk can reach, so that the compiler keeps what it can in registers and
// drops stores that nothing reads; the built-ins that use the variables
// answer from the copy. A bound block reaches its pixel through its variables
// and built-ins, not through the pixel context's addresses.
template <int Layout>
struct BandBuiltins : BuiltinTable {
    static constexpr bool sets_pixel_pointers = false; // a bound block reads its pixel through its variables
    static constexpr bool shares_run_state = true;
    KernelVariables& vars;
    SamplingView view{};

    explicit BandBuiltins(KernelVariables& band_vars) : BuiltinTable(builtin_table), vars(band_vars) {}
    BandBuiltins(const BandBuiltins&) = delete;
    void row_begins() { view = sampling_view(); }

    int32_t input_value(int32_t z) const
    {
        if (z >= 0 && z <= 2) return vars.v[slot::in_red + z];
        return z == 3 && Layout > 3 ? vars.v[slot::in_alpha] : 0;
    }
    int32_t set_output(int32_t z, int32_t value)
    {
        if (z < 0 || z > 3) return 0;
        if (z < 3 || Layout > 3) vars.v[slot::out_red + z] = value;
        return value;
    }
    int32_t set_hls(int32_t h, int32_t l, int32_t s)
    {
        const int32_t result = ::set_hls(h, l, s); // into kernel_vars, overwritten when the walk ends
        for (int k = slot::out_red; k <= slot::out_blue; ++k) vars.v[k] = kernel_vars.v[k];
        return result;
    }

    int32_t slider(int32_t i) const { return i >= 0 && i <= 7 ? control_values[i] : 0; }

    // A pixel of layout 3 has exactly three planes, one of layout 4 at least
    // four. A block asks for constant planes, so that after inlining the test
    // is the same for every call and the position is formed once.
    int32_t src(int32_t x, int32_t y, int32_t z) const
    {
        if (__builtin_expect(uint32_t(z) >= uint32_t(Layout) || !view.base, 0)) return ::src(x, y, z);
        return in_view(x, y, z);
    }

    int32_t test_abort()
    {
        const int32_t stop = ::test_abort();
        row_begins();
        return stop;
    }

protected:
    int32_t in_view(int32_t x, int32_t y, int32_t z) const
    {
        const uintptr_t stride = Layout < 4 ? Layout : view.stride;
        return view.base[offset(y, view.top, view.last_row) * view.row_bytes +
                         offset(x, view.left, view.last_column) * stride + uint32_t(z)];
    }

private:
    // The offset of v from low, clamped to 0..last. Without branches: GCC
    // forms it once for the calls of a pixel only then.
    static uint32_t offset(int32_t v, uint32_t low, uint32_t last)
    {
        const uint32_t o = uint32_t(v) - low;
        const uint32_t edge = v < int32_t(low) ? 0 : last;
        return o <= last ? o : edge;
    }
};

// The built-ins of a pixel-local block, on whichever of the run's threads
// walks its row. `src` reads the band as the host's thread saw it when the
// row (or, on the other threads, the band) began; the variables are the
// row's own. What would touch state that the run's threads share (the cell
// array, the generator, the abort test, the colour cache, the angle unit, the
// pixel context behind the relative lookups and convolutions, the sampling
// cache behind the polar and interpolated lookups) is deleted here: a block
// that calls it cannot be compiled as pixel-local.
template <int Layout>
struct WorkerBuiltins : BandBuiltins<Layout> {
    using Base = BandBuiltins<Layout>;
    static constexpr bool shares_run_state = false; // no position to keep, no preview to stop
    WorkerBuiltins(KernelVariables& vars, const SamplingView& band) : Base(vars)
    {
        this->view = band;
        for (int i = 0; i < 8; ++i) controls[i] = control_values[i];
    }

    // The controls as the row began: nothing changes them while a row is
    // walked, and a copy of its own lets the compiler keep them in registers.
    int32_t slider(int32_t i) const { return i >= 0 && i <= 7 ? controls[i] : 0; }

    int32_t src(int32_t x, int32_t y, int32_t z) const
    {
        if (__builtin_expect(uint32_t(z) >= uint32_t(Layout) || !this->view.base, 0)) return off_view(x, y, z);
        return this->in_view(x, y, z);
    }

    int32_t put(int32_t, int32_t) = delete;
    int32_t fetch(int32_t) = delete;
    int32_t random_between(int32_t, int32_t) = delete;
    int32_t random_seed(int32_t) = delete;
    int32_t test_abort() = delete;
    int32_t fill_gamma(int32_t, int32_t, int32_t) = delete;
    int32_t sort_range(int32_t, int32_t) = delete;
    int32_t angle_resolution(int32_t) = delete;
    int32_t set_hls(int32_t, int32_t, int32_t) = delete;
    int32_t hue_of(int32_t, int32_t, int32_t) = delete;
    int32_t lightness_of(int32_t, int32_t, int32_t) = delete;
    int32_t saturation_of(int32_t, int32_t, int32_t) = delete;
    int32_t dr(int32_t, int32_t) = delete;
    int32_t dg(int32_t, int32_t) = delete;
    int32_t db(int32_t, int32_t) = delete;
    int32_t da(int32_t, int32_t) = delete;
    int32_t dplane(int32_t, int32_t, int32_t) = delete;
    template <class... A> int32_t convolve_red(A...) = delete;
    template <class... A> int32_t convolve_green(A...) = delete;
    template <class... A> int32_t convolve_blue(A...) = delete;
    int32_t src_polar(int32_t, int32_t, int32_t) = delete;
    int32_t src_interpolated(int32_t, int32_t, int32_t, int32_t) = delete;

private:
    int32_t controls[8];

    // As the table's src answers: the mask (read from the record, which
    // nothing changes during the band), an opaque missing fourth plane, 0 for
    // anything else or an unreadable band.
    int32_t off_view(int32_t x, int32_t y, int32_t z) const
    {
        if (z == 4) return ::src(x, y, 4);
        return z == 3 && this->view.base ? 255 : 0;
    }
};

// A block through its entry, with the table; it reads the band through the
// record at every sample.
struct TableBuiltins {
    static constexpr bool sets_pixel_pointers = true; // a block may read them from the pixel context
    static constexpr bool shares_run_state = true;
    KernelVariables& vars;
    explicit TableBuiltins(KernelVariables&) : vars(kernel_vars) {}
    TableBuiltins(const TableBuiltins&) = delete;
    void row_begins() {}
};
struct TableBlock {
    KernelBlock entry;
    void operator()(KernelVariables& vars, TableBuiltins&) const { entry(vars, builtin_table); }
};

namespace pass_detail {

inline void count_pixels(int32_t n)
{
    run_state.pixels_done = static_cast<int32_t>(static_cast<uint32_t>(run_state.pixels_done) + static_cast<uint32_t>(n));
}

// The variables a Prepass or Main call starts from, as run_kernel_pass's
// prepare_variables fills them; x and y come already scaled.
template <int Layout, bool Plain>
inline void prepare_pixel(const PassSetup& setup, KernelVariables& vars, int32_t x, int32_t y,
                          const unsigned char* in, const unsigned char* mask)
{
    read_channels<Layout>(vars.v, in);
    vars.v[slot::x] = x;
    vars.v[slot::y] = y;
    if (!Plain && setup.optional) fill_optional_slots(setup.optional, vars, mask);
}

// A bound walk's variables back where blocks outside it find them. A bound
// walk runs the Main pass, after which only the next band's pixels read the
// variables, and those find the channels, x and y filled anew: so these keep
// what they held before the walk, and the last pixel's values need not be
// kept, which spares a store for each per pixel.
inline void keep_pixel_slots(KernelVariables& vars, const KernelVariables& before)
{
    // Element by element: GCC keeps the copy's slots in registers only so.
    int32_t* v = vars.v;
    const int32_t* k = before.v;
    v[0] = k[0], v[1] = k[1], v[2] = k[2], v[3] = k[3], v[4] = k[4], v[5] = k[5], v[6] = k[6], v[7] = k[7];
    v[slot::x] = k[slot::x], v[slot::y] = k[slot::y];
}

inline int16 give_back(KernelVariables& vars, int16 result)
{
    if (&vars == &kernel_vars) return result;
    keep_pixel_slots(vars, kernel_vars);
    kernel_vars = vars;
    return result;
}

// Where one row of the band starts in each delivered buffer.
struct RowBytes {
    unsigned char* in;
    unsigned char* out;
    unsigned char* mask; // null without a mask
};

inline RowBytes row_bytes(const BandBuffers& b, intptr_t row_index)
{
    return RowBytes{b.in + row_index * b.in_row_bytes, b.out + row_index * b.out_row_bytes,
                    b.mask ? const_cast<unsigned char*>(b.mask) + row_index * b.mask_row_bytes : nullptr};
}

// The pixels of row r from left to right: mask test, block call, store.
// Returns the columns visited: all of them, unless a preview ran out of time.
template <class Block, class Builtins, int Layout, bool HasMask, bool Plain>
inline int32_t walk_row(const PassSetup& setup, Block& block, Builtins& builtins, RowBytes row, int32_t r,
                        int32_t left, int32_t right, intptr_t stride)
{
    PixelContext& pc = run_state.pixel_context;
    KernelVariables& vars = builtins.vars;
    int32_t* v = vars.v;
    unsigned char *in = row.in, *out = row.out, *mask = row.mask;
    const int32_t y = Plain ? r : scaled(r, setup.scale);
    for (int32_t k = left; k < right; ++k, in += stride, out += stride) {
        unsigned char* here = nullptr;
        if (HasMask) {
            here = mask++;
            if (*here == 0) continue; // outside the selection: the host's bytes stay
        }
        if (Builtins::sets_pixel_pointers) {
            pc.mask_ptr = here;
            pc.out_ptr = out;
            pc.in_ptr = in;
        }
        if (Builtins::shares_run_state) {
            pc.row = r;
            pc.column = k;
        }
        if (Plain || setup.block) {
            prepare_pixel<Layout, Plain>(setup, vars, Plain ? k : scaled(k, setup.scale), y, in, here);
            block(vars, builtins);
            if (Plain || setup.stores) store_channels<Layout>(v, out);
        }
        if (Builtins::shares_run_state && run_state.mode == RunMode::rendering_stopped) return k - left + 1;
    }
    return right - left;
}

// The host calls after a finished row: the abort test, then progress. False
// once the host asked to cancel.
inline bool report_row(const FilterRecord& fr)
{
    if (fr.abortProc && static_cast<unsigned char>(fr.abortProc()) != 0) return false;
    if (fr.progressProc) fr.progressProc(run_state.pixels_done, run_state.pixels_total);
    return true;
}

// A band's rows in order on the host's thread: each row as walk_row walks it,
// then the abort test and progress.
template <class WalkRow>
inline int16 walk_rows(const BandWalk& walk, WalkRow walk_row)
{
    const FilterRecord& fr = walk.record;
    const Rect16 o = fr.outRect;
    for (int32_t r = o.top; r < o.bottom; ++r) {
        const int32_t visited = walk_row(r, row_bytes(walk.buffers, r - o.top));
        count_pixels(visited);
        if (visited < o.right - o.left) return noErr; // a preview out of time
        if (walk.with_progress && !report_row(fr)) return userCanceledErr;
    }
    return noErr;
}

inline intptr_t pixel_stride_of(int Layout)
{
    return Layout < 4 ? Layout : run_state.pixel_context.pixel_stride;
}

// A pixel-local block may write a whole row at once where it knows a faster
// way to the same bytes than a call per pixel (the cells copy stored pixels
// along runs): a static fill_row<Layout, HasMask>(builtins, row, r, left,
// right, stride) that answers whether it did. It writes only the bytes the
// walk would, the mask's unselected pixels left as the host gave them.
template <class Block, class = void>
struct fills_rows : std::false_type {};
template <class Block>
struct fills_rows<Block, std::void_t<decltype(&Block::template fill_row<3, false>)>> : std::true_type {};

// One row of a block declared pixel-local, on whichever of the run's threads
// takes it. Out of line, so that the host's thread walking alone and the
// workers run the same machine code. The variables are the row's own copy
// (see walk_band), back in `vars` when the row processed a pixel. Returns the
// column of the last pixel processed, or left - 1.
template <class Block, int Layout, bool HasMask>
__attribute__((noinline, flatten)) int32_t pixel_local_row(const PassSetup& setup, const SamplingView& view,
                                                           KernelVariables& vars, RowBytes row, int32_t r,
                                                           int32_t left, int32_t right)
{
    KernelVariables row_vars = vars;
    WorkerBuiltins<Layout> builtins(row_vars, view);
    Block block{};
    const intptr_t stride = pixel_stride_of(Layout);
    int32_t last = right - 1;
    if (HasMask)
        while (last >= left && row.mask[last - left] == 0) --last;
    bool filled = false;
    if constexpr (fills_rows<Block>::value)
        filled = last >= left && Block::template fill_row<Layout, HasMask>(builtins, row, r, left, right, stride);
    if (filled) {
        // The variables the walk would leave: those of the row's last
        // processed pixel, whose bytes the block writes once more.
        const intptr_t k = (last - left) * stride;
        walk_row<Block, WorkerBuiltins<Layout>, Layout, false, true>(
            setup, block, builtins, RowBytes{row.in + k, row.out + k, nullptr}, r, last, last + 1, stride);
    } else {
        walk_row<Block, WorkerBuiltins<Layout>, Layout, HasMask, true>(setup, block, builtins, row, r, left, right,
                                                                        stride);
    }
    if (last >= left) {
        keep_pixel_slots(row_vars, vars); // as give_back keeps them
        vars = row_vars;
    }
    return last;
}

} // namespace pass_detail

// Layouts 1 to 3 are exactly that many bytes per pixel. Plain as in PassSetup.
// GCC 12 at -O2 keeps a block of the size of the cell block out of line when
// several walks call it, and then every built-in call stays a call as well:
// flatten has the compiler inline everything it can see into the loop.
template <class Block, class Builtins, int Layout, bool HasMask, bool Plain>
__attribute__((flatten)) int16 walk_band(const BandWalk& walk, Block block)
{
    using namespace pass_detail;
    // Copies whose addresses never leave this function stay in registers
    // across the block calls.
    const PassSetup setup = walk.setup;
    const Rect16 o = walk.record.outRect;
    KernelVariables band_vars = kernel_vars; // the copy a bound walk works on
    Builtins builtins(band_vars);
    // Only run_kernel_pass changes the current pass, and no block calls it.
    run_state.current_pass = setup.pass;
    const intptr_t stride = pixel_stride_of(Layout);
    const int16 result = walk_rows(walk, [&](int32_t r, RowBytes row) {
        builtins.row_begins();
        return walk_row<Block, Builtins, Layout, HasMask, Plain>(setup, block, builtins, row, r, o.left, o.right,
                                                                 stride);
    });
    return give_back(builtins.vars, result);
}

// The walk of a bound block that its filter does not declare pixel-local, for
// the cases make_pass_setup hands it: a plain pass over three or four planes.
// Block is default-constructed for every band and called as block(vars, builtins).
template <class Block>
int16 bound_walk(const BandWalk& walk)
{
    const bool mask = walk.buffers.mask != nullptr;
    if (walk.setup.layout == 3)
        return mask ? walk_band<Block, BandBuiltins<3>, 3, true, true>(walk, Block{})
                    : walk_band<Block, BandBuiltins<3>, 3, false, true>(walk, Block{});
    return mask ? walk_band<Block, BandBuiltins<4>, 4, true, true>(walk, Block{})
                : walk_band<Block, BandBuiltins<4>, 4, false, true>(walk, Block{});
}

// The position and the variables as the single walk leaves them.
inline int16 leave_band(KernelVariables& vars, int32_t last_row, int32_t last_column, int16 result)
{
    if (last_row < 0) return result;
    run_state.pixel_context.row = last_row;
    run_state.pixel_context.column = last_column;
    return pass_detail::give_back(vars, result);
}

// A pixel-local block on the host's thread alone.
template <class Block, int Layout, bool HasMask>
int16 pixel_local_band(const BandWalk& walk)
{
    using namespace pass_detail;
    run_state.current_pass = walk.setup.pass;
    const Rect16 o = walk.record.outRect;
    KernelVariables vars = kernel_vars;
    int32_t last_row = -1, last_column = 0;
    const int16 result = walk_rows(walk, [&](int32_t r, RowBytes row) {
        const int32_t last = pixel_local_row<Block, Layout, HasMask>(walk.setup, sampling_view(), vars, row, r,
                                                                      o.left, o.right);
        if (last >= o.left) last_row = r, last_column = last;
        return o.right - o.left;
    });
    return leave_band(vars, last_row, last_column, result);
}
