// The cell pattern of Cellumbra. The picture is covered with tiles 6·s wide and
// 4·s tall; cell centres sit on every tile corner and every tile middle, and a
// pixel takes the source colour at the centre nearest to it. Within a tile only
// the corner of the pixel's quarter and the middle can be nearest, so one
// comparison of squared distances decides; ties go to the middle, and a pixel
// on the line tx = 3·s or ty = 2·s counts to the right or lower quarter.
#include "filter/cellumbra_kernel.h"

#include <cstring>

#include "filter/cell_map.h"
// The plug-in's walk spreads a band over the host's threads. A program that
// takes only the block and its reach from this file (the GIMP 3 plug-in,
// built where the plug-in's threads are not wanted) leaves the walk out.
#ifdef CELLUMBRA_WITHOUT_THREADS
#include "runtime/pixel_loop.h"
#else
#include "runtime/parallel_band.h"
#endif

namespace {

// Kernel arithmetic is 32-bit two's complement. The size comes from a control
// value that stored settings or a test may set to anything, so every step that
// could leave the int32 range wraps through uint32 instead of being undefined;
// for sizes 1..100 nothing ever wraps and the pattern is exact.
inline int32_t wrap(uint32_t v) { return static_cast<int32_t>(v); }
inline int32_t add(int32_t a, int32_t b) { return wrap(uint32_t(a) + uint32_t(b)); }
inline int32_t sub(int32_t a, int32_t b) { return wrap(uint32_t(a) - uint32_t(b)); }
inline int32_t mul(int32_t a, int32_t b) { return wrap(uint32_t(a) * uint32_t(b)); }
inline int32_t square(int32_t a) { return mul(a, a); }

// A remainder by 0 is 0 (size 0 copies the picture). So is one by -1, where
// the machine's division would trap on INT32_MIN.
inline int32_t remainder_or_zero(int32_t a, int32_t divisor)
{
    return (divisor == 0 || divisor == -1) ? 0 : a % divisor;
}

// The sizes for which the short path below is exact: with tx < 6s and ty < 4s
// no squared distance reaches 13·s², which stays below 2^31 up to s = 12852.
constexpr int32_t largest_short_size = 12000;

// The two remainders would be most of the block's own cost: a hardware
// division each, per pixel. Their divisors follow from the size, which the
// block reads for every pixel but which stays the same through a run, so each
// is turned into a multiplier once per size. With m = ceil(2^32 / d) = (2^32 +
// e) / d, 0 <= e < d, the product a * m / 2^32 exceeds a / d by a * e / (d *
// 2^32), which stays below 1 / d, and so cannot reach the next multiple of d,
// while a * e < 2^32: below that bound (and below 2^31) the high half of one
// 32 x 32-bit product is the exact quotient. Picture coordinates lie far below
// it for every size the dialog allows; anything else takes the plain path.
// Nothing depends on earlier pixels: every remainder is still computed from
// this pixel's x, y and size.
struct Reciprocal {
    uint32_t multiplier = 0;
    uint32_t limit = 0; // dividends below it take the short path; 0: none does
};

Reciprocal reciprocal_of(int32_t d)
{
    Reciprocal r;
    if (d < 2) return r; // 1 would need a multiplier of 2^32
    const uint64_t two32 = uint64_t{1} << 32;
    const uint64_t m = (two32 + uint64_t(d) - 1) / uint64_t(d);
    const uint64_t e = m * uint64_t(d) - two32;
    const uint64_t below = e == 0 ? two32 : (two32 - 1) / e + 1;
    r.multiplier = static_cast<uint32_t>(m);
    r.limit = static_cast<uint32_t>(below < (uint64_t{1} << 31) ? below : (uint64_t{1} << 31));
    return r;
}

// Everything that follows from the size alone, made again whenever a pixel
// reads another size than the one before. Zero-initialised it describes size
// 0, which takes the plain path.
struct SizeTerms {
    int32_t s, s2, s3, s4, s6, s13;
    Reciprocal across, down; // for 6s and 4s
};

// Inline, though rare: a call would take the address of the walk's terms.
inline SizeTerms size_terms_for(int32_t s)
{
    SizeTerms t{};
    t.s = s;
    t.s2 = mul(2, s);
    t.s3 = mul(3, s);
    t.s4 = mul(4, s);
    t.s6 = mul(6, s);
    t.s13 = mul(13, s);
    t.across = t.down = Reciprocal{};
    if (s >= 1 && s <= largest_short_size) {
        t.across = reciprocal_of(t.s6);
        t.down = reciprocal_of(t.s4);
    }
    return t;
}

// The kernel's own variables.
enum : int {
    size_var = slot::user_vars, // s
    column_var,                 // tx, then cx
    row_var,                    // ty, then cy
    centre_kx_var,              // 0, 3 or 6
    centre_ky_var,              // 0, 2 or 4
};

struct Centre {
    int32_t kx, ky, cx, cy;
};

// The centre as the rule states it, in wrapping arithmetic, for every size and
// position the short path does not take.
__attribute__((noinline, cold)) Centre place_centre(int32_t x, int32_t y, SizeTerms t)
{
    const int32_t tx = remainder_or_zero(x, t.s6);
    const int32_t ty = remainder_or_zero(y, t.s4);
    const bool upper = ty < t.s2;
    const bool left = tx < t.s3;
    const int32_t to_middle = add(square(sub(tx, t.s3)), square(sub(ty, t.s2)));
    const int32_t corner_dx = left ? tx : sub(t.s6, tx);
    const int32_t corner_dy = upper ? ty : sub(t.s4, ty);
    const int32_t to_corner = add(square(corner_dx), square(corner_dy));
    int32_t kx = 3, ky = 2;
    if (to_corner < to_middle) {
        kx = left ? 0 : 6;
        ky = upper ? 0 : 4;
    }
    return Centre{kx, ky, add(sub(x, tx), mul(kx, t.s)), add(sub(y, ty), mul(ky, t.s))};
}

#ifndef CELLUMBRA_WITHOUT_THREADS
bool fill_cell_row(int32_t size, const SamplingView& view, const unsigned char* in, unsigned char* out,
                   const unsigned char* mask, int32_t y, int32_t left, int32_t right, PixelBytes format);
#endif

// The Main block, written once for both ways of reaching the built-ins: the
// table (Builtins = const BuiltinTable) and the inline ones of a bound walk.
// Its own state is the cache of the size terms: one for the table entry, and
// one per band that the bound walk visits.
struct CellumbraMain {
    SizeTerms terms{};

    template <class Builtins>
    void operator()(KernelVariables& vars, Builtins& builtins);

#ifndef CELLUMBRA_WITHOUT_THREADS
    // The plug-in's row at zoom 1 as runs of the cell map, where that gives
    // the walk's bytes: the three colour planes copied from the centre, the
    // fourth plane of a wider pixel its own, any further planes left alone.
    template <int Layout, bool HasMask>
    static bool fill_row(const WorkerBuiltins<Layout>& builtins, pass_detail::RowBytes row, int32_t r, int32_t left,
                         int32_t right, intptr_t stride)
    {
        const PixelBytes format = Layout == 3 ? PixelBytes{3, 3, 0} : PixelBytes{uint32_t(stride), 3, 1};
        return fill_cell_row(builtins.slider(0), builtins.view, row.in, row.out, HasMask ? row.mask : nullptr, r,
                             left, right, format);
    }
#endif
};

template <class Builtins>
void CellumbraMain::operator()(KernelVariables& vars, Builtins& builtins)
{
    int32_t* v = vars.v;
    const int32_t s = builtins.slider(0);
    v[size_var] = s;
    if (s != terms.s) terms = size_terms_for(s);
    const SizeTerms& t = terms;

    const auto x = static_cast<uint32_t>(v[slot::x]);
    const auto y = static_cast<uint32_t>(v[slot::y]);
    if (x < t.across.limit && y < t.down.limit) {
        // Short path: exact quotients, and no square that could overflow, so
        // the comparison can be taken apart; only the centre, near the top of
        // the int32 range, can wrap. With a = |tx - 3s| and
        // b = |ty - 2s| the corner lies at (3s - a, 2s - b) from the pixel
        // and the middle at (a, b); the corner is nearer exactly when
        // 13·s² < 2s·(3a + 2b), that is when 13·s < 6a + 4b.
        const auto tile_x = static_cast<int32_t>(uint32_t((uint64_t(x) * t.across.multiplier) >> 32) * uint32_t(t.s6));
        const auto tile_y = static_cast<int32_t>(uint32_t((uint64_t(y) * t.down.multiplier) >> 32) * uint32_t(t.s4));
        const int32_t dx = int32_t(x) - tile_x - t.s3; // tx - 3s: negative in the left quarters
        const int32_t dy = int32_t(y) - tile_y - t.s2; // ty - 2s: negative in the upper quarters
        const int32_t a = dx < 0 ? -dx : dx;
        const int32_t b = dy < 0 ? -dy : dy;
        // The middle is at (x - dx, y - dy); a corner 3s and 2s further out
        // on the pixel's side.
        const int32_t middle_x = sub(int32_t(x), dx), middle_y = sub(int32_t(y), dy);
        if (6 * a + 4 * b > t.s13) {
            v[centre_kx_var] = dx < 0 ? 0 : 6;
            v[centre_ky_var] = dy < 0 ? 0 : 4;
            v[column_var] = dx < 0 ? sub(middle_x, t.s3) : add(middle_x, t.s3);
            v[row_var] = dy < 0 ? sub(middle_y, t.s2) : add(middle_y, t.s2);
        } else {
            v[centre_kx_var] = 3;
            v[centre_ky_var] = 2;
            v[column_var] = middle_x;
            v[row_var] = middle_y;
        }
    } else {
        const Centre c = place_centre(v[slot::x], v[slot::y], t);
        v[centre_kx_var] = c.kx;
        v[centre_ky_var] = c.ky;
        v[column_var] = c.cx;
        v[row_var] = c.cy;
    }

    // The centre may lie beyond the picture or the band: src clamps it to the
    // nearest pixel the band holds. It is read back from the block's own
    // variables, which no built-in writes, rather than kept in registers
    // across the calls.
    v[slot::out_red] = builtins.src(v[column_var], v[row_var], 0);
    v[slot::out_green] = builtins.src(v[column_var], v[row_var], 1);
    v[slot::out_blue] = builtins.src(v[column_var], v[row_var], 2);
}

CellumbraMain table_main;

} // namespace

// Flattened, as the walk is: GCC would otherwise call the block from here.
__attribute__((flatten)) void cellumbra_main(KernelVariables& vars, const BuiltinTable& builtins)
{
    table_main(vars, builtins);
}

bool cellumbra_reach(const int32_t* controls, KernelReach& reach)
{
    const int32_t s = controls[0];
    if (s < 0 || s > largest_short_size) return false;
    // A middle is taken out to 2s rows below (ty = 0) and 2s - 1 above
    // (ty = 4s - 1), a corner out to 2s - 1 above and 2s below; across, the
    // middle wins while 6a + 4b <= 13s, so out to a = 13s / 6 either way,
    // farther than any corner a pixel takes.
    reach.above = s > 0 ? 2 * s - 1 : 0;
    reach.below = 2 * s;
    reach.left = reach.right = 13 * s / 6;
    return true;
}

#ifndef CELLUMBRA_WITHOUT_THREADS
namespace {

// Runs are made a stretch of the row at a time, so that a row of any width
// needs only this much of a worker's small stack.
constexpr int32_t runs_at_once = 128;

bool fill_cell_row(int32_t size, const SamplingView& view, const unsigned char* in, unsigned char* out,
                   const unsigned char* mask, int32_t y, int32_t left, int32_t right, PixelBytes format)
{
    const uintptr_t p = format.pixel_bytes;
    // The map answers for the sizes whose arithmetic is exact and for
    // positions from the picture's corner on; src reads the view inline only
    // when the band is readable at zoom 1, with pixels as wide as the walk's.
    if (!cell_map_serves(size) || !view.base || view.stride != p || y < 0 || left < 0 || right <= left)
        return false;
    // An output that overlaps the input would have the walk read pixels it
    // already wrote, in its own order, which runs do not follow.
    const unsigned char* in_end =
        view.base + uintptr_t(view.last_row) * view.row_bytes + (uintptr_t(view.last_column) + 1) * p;
    if (out < in_end && view.base < out + uintptr_t(right - left) * p) return false;
    const CellSource source{view.base, intptr_t(view.row_bytes),
                            CellBounds{int32_t(view.left), int32_t(view.top), int32_t(view.left + view.last_column + 1),
                                       int32_t(view.top + view.last_row + 1)}};
    const int32_t stretch = (runs_at_once - 3) / 2 * 6 * size; // cell_run_capacity within runs_at_once
    CellRun runs[runs_at_once];
    for (int32_t from = left; from < right;) {
        const int32_t to = right - from > stretch ? from + stretch : right;
        const int32_t n = cell_row_runs(size, y, from, to, source.bounds, runs);
        if (!mask) {
            const uintptr_t at = uintptr_t(from - left) * p;
            cell_copy_runs(runs, n, from, source, in + at, out + at, format);
        } else {
            // The selected spans only: an unselected pixel keeps the host's bytes.
            int32_t first = 0;
            for (int32_t x = from; x < to;) {
                while (x < to && mask[x - left] == 0) ++x;
                if (x == to) break;
                const void* zero = std::memchr(mask + (x - left), 0, size_t(to - x));
                const int32_t end = zero ? int32_t(static_cast<const unsigned char*>(zero) - mask) + left : to;
                while (runs[first].end <= x) ++first;
                int32_t last = first;
                while (runs[last].end < end) ++last;
                const int32_t run_end = runs[last].end;
                runs[last].end = end;
                const uintptr_t at = uintptr_t(x - left) * p;
                cell_copy_runs(runs + first, last - first + 1, x, source, in + at, out + at, format);
                runs[last].end = run_end;
                x = end;
            }
        }
        from = to;
    }
    return true;
}

} // namespace

int16_t cellumbra_main_walk(const BandWalk& walk)
{
    return pixel_local_walk<CellumbraMain>(walk);
}

BoundBlock cellumbra_main_binding()
{
    return BoundBlock{cellumbra_main, cellumbra_main_walk, true, pass_detail::fills_rows<CellumbraMain>::value};
}
#endif
