// The cell pattern of Cellumbra. The picture is covered with tiles 6·s wide and
// 4·s tall; cell centres sit on every tile corner and every tile middle, and a
// pixel takes the source colour at the centre nearest to it. Within a tile only
// the corner of the pixel's quarter and the middle can be nearest, so one
// comparison of squared distances decides; ties go to the middle, and a pixel
// on the line tx = 3·s or ty = 2·s counts to the right or lower quarter.
#include "runtime/kernel.h"

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

// The two remainders would be most of the block's own cost: a hardware
// division each, per pixel. Their divisors follow from the size, which the
// block reads for every pixel but which stays the same through a run, so each
// is turned into a multiplier and a shift once per size, and those divide
// exactly: for a dividend below 2^31 and a divisor d of at least 1, the
// multiplier floor(2^(31+l) / d) + 1 with 2^l >= d fits in 32 bits and the
// product in 64. Nothing depends on earlier pixels: every remainder is still
// computed from this pixel's x, y and size.
struct Reciprocal {
    uint32_t multiplier = 0; // 0: the divisor is below 1 and takes the plain path
    uint32_t shift = 0;      // 31 + l
};

Reciprocal reciprocal_of(int32_t d)
{
    Reciprocal r;
    if (d < 1) return r;
    uint32_t l = 0;
    while ((uint64_t{1} << l) < uint64_t(d)) ++l;
    r.shift = 31 + l;
    r.multiplier = static_cast<uint32_t>((uint64_t{1} << r.shift) / uint64_t(d) + 1);
    return r;
}

// Everything that follows from the size alone, made again whenever a pixel
// reads another size than the one before. Zero-initialised it describes size
// 0, whose remainders are all 0.
struct SizeTerms {
    int32_t s, s2, s3, s4, s6;
    Reciprocal across, down; // for 6s and 4s
};

SizeTerms size_terms;

__attribute__((noinline, cold)) void make_size_terms(int32_t s)
{
    SizeTerms& t = size_terms;
    t.s = s;
    t.s2 = mul(2, s);
    t.s3 = mul(3, s);
    t.s4 = mul(4, s);
    t.s6 = mul(6, s);
    t.across = reciprocal_of(t.s6);
    t.down = reciprocal_of(t.s4);
}

inline int32_t tile_offset(int32_t a, int32_t divisor, Reciprocal r)
{
    if (a < 0 || r.multiplier == 0) return remainder_or_zero(a, divisor);
    const auto quotient = static_cast<uint32_t>((uint64_t(uint32_t(a)) * r.multiplier) >> r.shift);
    return static_cast<int32_t>(uint32_t(a) - quotient * uint32_t(divisor));
}

// The kernel's own variables.
enum : int {
    size_var = slot::user_vars, // s
    column_var,                 // tx, then cx
    row_var,                    // ty, then cy
    centre_kx_var,              // 0, 3 or 6
    centre_ky_var,              // 0, 2 or 4
};

} // namespace

void cellumbra_main(KernelVariables& vars, const BuiltinTable& builtins)
{
    int32_t* v = vars.v;
    const int32_t s = builtins.slider(0);
    v[size_var] = s;
    if (s != size_terms.s) make_size_terms(s);
    const SizeTerms& t = size_terms;

    const int32_t x = v[slot::x];
    const int32_t y = v[slot::y];
    const int32_t tx = tile_offset(x, t.s6, t.across);
    const int32_t ty = tile_offset(y, t.s4, t.down);

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
    v[centre_kx_var] = kx;
    v[centre_ky_var] = ky;

    const int32_t cx = add(sub(x, tx), mul(kx, s));
    const int32_t cy = add(sub(y, ty), mul(ky, s));
    v[column_var] = cx;
    v[row_var] = cy;

    // The centre may lie beyond the picture or the band: src clamps it to the
    // nearest pixel the band holds.
    v[slot::out_red] = builtins.src(cx, cy, 0);
    v[slot::out_green] = builtins.src(cx, cy, 1);
    v[slot::out_blue] = builtins.src(cx, cy, 2);
}
