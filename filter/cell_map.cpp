#include "filter/cell_map.h"

#include <cstring>
#include <type_traits>

namespace {

int64_t clamp_to(int64_t v, int32_t low, int32_t high_exclusive)
{
    return v < low ? low : v >= high_exclusive ? high_exclusive - 1 : v;
}

// n pixels of P bytes, all the pixel at `pixel`. A long run copies its
// first 16 pixels on in blocks of a size known here, which the compiler
// turns into a few wide moves whatever P is.
template <size_t P>
inline void fill_pixels(unsigned char* out, const unsigned char* pixel, size_t n)
{
    constexpr size_t block = 16;
    if (n < 2 * block) {
        for (size_t i = 0; i < n; ++i, out += P) std::memcpy(out, pixel, P);
        return;
    }
    for (size_t i = 0; i < block; ++i) std::memcpy(out + i * P, pixel, P);
    const unsigned char* pattern = out;
    size_t i = block;
    for (out += block * P; i + block <= n; i += block, out += block * P) std::memcpy(out, pattern, block * P);
    std::memcpy(out, pattern, (n - i) * P);
}

// A pixel with kept bytes as one word (sixteen bytes: four of 32 bits), and
// sixteen bytes of such words as one value: GCC's and Clang's vector
// extension, which every target of this code has (SSE2, and WebAssembly's
// SIMD or its scalar lowering), so the masked copy needs no intrinsics.
template <size_t P>
using PixelWord = std::conditional_t<P == 8, uint64_t, std::conditional_t<P == 2, uint16_t, uint32_t>>;
template <size_t P>
using PixelVector [[gnu::vector_size(16)]] = PixelWord<P>;

// Pixels of P bytes, C from the centre and K kept: fixed sizes let the
// compiler turn each copy into a few moves. A pixel with kept bytes divides
// sixteen, so 16 / P of them are one vector: the centre's bytes outside a
// mask and their own within.
template <size_t P, size_t C, size_t K>
void copy_fixed(const CellRun* runs, int32_t count, int32_t left, const CellSource& source, const unsigned char* own,
                unsigned char* out)
{
    static_assert(K == 0 || P == 16 || sizeof(PixelWord<P>) == P, "a pixel with kept bytes is one word");
    using Word = PixelWord<P>;
    using Vector = PixelVector<P>;
    Vector kept{};
    if (K != 0) {
        unsigned char bytes[16];
        for (size_t i = 0; i < 16; ++i) bytes[i] = i % P < C ? 0 : 0xFF;
        std::memcpy(&kept, bytes, 16);
    }
    const Word kept_word = kept[0];
    int32_t x = left;
    for (int32_t r = 0; r < count; ++r) {
        const CellRun run = runs[r];
        const unsigned char* centre = source.origin + intptr_t(run.cy - source.bounds.top) * source.row_bytes +
                                      intptr_t(run.cx - source.bounds.left) * intptr_t(P);
        const size_t n = size_t(run.end - x);
        if (K == 0 && C == P) {
            fill_pixels<P>(out, centre, n);
        } else if (K == 0) {
            unsigned char colour[C];
            std::memcpy(colour, centre, C);
            for (size_t i = 0; i < n; ++i) std::memcpy(out + i * P, colour, C);
        } else {
            // The centre's colour as a word, and as a vector only for a run
            // that fills one: most runs at the smallest sizes do not.
            const size_t bytes = n * P;
            size_t i = 0;
            Word colour_word = 0;
            if (P != 16) {
                std::memcpy(&colour_word, centre, sizeof(Word));
                colour_word &= Word(~kept_word);
            }
            if (bytes >= 16) {
                Vector colour;
                if (P == 16)
                    std::memcpy(&colour, centre, 16);
                else
                    colour = Vector{} + colour_word;
                colour &= ~kept;
                for (; i + 16 <= bytes; i += 16) {
                    Vector v;
                    std::memcpy(&v, own + i, 16);
                    v = (v & kept) | colour;
                    std::memcpy(out + i, &v, 16);
                }
            }
            // The last pixels short of a vector, a word each.
            for (; i < bytes; i += P) {
                Word v;
                std::memcpy(&v, own + i, sizeof(Word));
                v = Word((v & kept_word) | colour_word);
                std::memcpy(out + i, &v, sizeof(Word));
            }
            own += bytes;
        }
        out += n * P;
        x = run.end;
    }
}

void copy_any(const CellRun* runs, int32_t count, int32_t left, const CellSource& source, const unsigned char* own,
              unsigned char* out, PixelBytes f)
{
    int32_t x = left;
    for (int32_t r = 0; r < count; ++r) {
        const CellRun run = runs[r];
        const unsigned char* centre = source.origin + intptr_t(run.cy - source.bounds.top) * source.row_bytes +
                                      intptr_t(run.cx - source.bounds.left) * intptr_t(f.pixel_bytes);
        for (int32_t i = x; i < run.end; ++i, out += f.pixel_bytes) {
            std::memcpy(out, centre, f.colour_bytes);
            if (f.kept_bytes) {
                std::memcpy(out + f.colour_bytes, own + f.colour_bytes, f.kept_bytes);
                own += f.pixel_bytes;
            }
        }
        x = run.end;
    }
}

} // namespace

int32_t cell_row_runs(int32_t size, int32_t y, int32_t left, int32_t right, const CellBounds& bounds, CellRun* runs)
{
    if (!cell_map_serves(size) || right <= left || left < 0 || y < 0) return 0;
    const int64_t s = size, s6 = 6 * s, s4 = 4 * s;
    const int64_t ty = y % s4;
    const int64_t tile_top = y - ty;
    // The corner nearer than the middle exactly when 13s < 6a + 4b, with a
    // and b the pixel's distances across and down from the middle (ties go
    // to the middle): on this row the middle holds the columns within
    // (13s - 4b) / 6 of it.
    const int64_t b = ty < 2 * s ? 2 * s - ty : ty - 2 * s;
    const int64_t reach = (13 * s - 4 * b) / 6;
    const int32_t corner_y = int32_t(clamp_to(ty < 2 * s ? tile_top : tile_top + s4, bounds.top, bounds.bottom));
    const int32_t middle_y = int32_t(clamp_to(tile_top + 2 * s, bounds.top, bounds.bottom));

    int64_t tile = left - left % s6; // the tile's left column, whose corner the left stretch takes
    int64_t middle_from = tile + 3 * s - reach, middle_to = tile + 3 * s + reach + 1;
    int32_t n = 0;
    auto emit = [&](int64_t end, int64_t cx, int32_t cy) {
        runs[n++] = CellRun{int32_t(end < right ? end : right), int32_t(clamp_to(cx, bounds.left, bounds.right)), cy};
    };
    int64_t x = left;
    if (x < middle_from) {
        emit(middle_from, tile, corner_y);
        x = runs[n - 1].end;
    }
    while (x < right) {
        if (x < middle_to) {
            emit(middle_to, tile + 3 * s, middle_y);
        } else {
            tile += s6;
            middle_from += s6;
            middle_to += s6;
            emit(middle_from, tile, corner_y);
        }
        x = runs[n - 1].end;
    }
    return n;
}

void cell_copy_runs(const CellRun* runs, int32_t count, int32_t left, const CellSource& source,
                    const unsigned char* own, unsigned char* out, PixelBytes f)
{
    // The formats pictures come in: 8, 16 and 32-bit (or half and float)
    // RGB, RGBA, Y and YA, and the plug-in's three or four planes.
    const auto is = [&](uint32_t p, uint32_t c, uint32_t k) {
        return f.pixel_bytes == p && f.colour_bytes == c && f.kept_bytes == k;
    };
    if (is(3, 3, 0)) return copy_fixed<3, 3, 0>(runs, count, left, source, own, out);
    if (is(4, 3, 1)) return copy_fixed<4, 3, 1>(runs, count, left, source, own, out);
    if (is(4, 3, 0)) return copy_fixed<4, 3, 0>(runs, count, left, source, own, out);
    if (is(4, 4, 0)) return copy_fixed<4, 4, 0>(runs, count, left, source, own, out);
    if (is(1, 1, 0)) return copy_fixed<1, 1, 0>(runs, count, left, source, own, out);
    if (is(2, 1, 1)) return copy_fixed<2, 1, 1>(runs, count, left, source, own, out);
    if (is(2, 2, 0)) return copy_fixed<2, 2, 0>(runs, count, left, source, own, out);
    if (is(4, 2, 2)) return copy_fixed<4, 2, 2>(runs, count, left, source, own, out);
    if (is(6, 6, 0)) return copy_fixed<6, 6, 0>(runs, count, left, source, own, out);
    if (is(8, 6, 2)) return copy_fixed<8, 6, 2>(runs, count, left, source, own, out);
    if (is(8, 4, 4)) return copy_fixed<8, 4, 4>(runs, count, left, source, own, out);
    if (is(8, 8, 0)) return copy_fixed<8, 8, 0>(runs, count, left, source, own, out);
    if (is(12, 12, 0)) return copy_fixed<12, 12, 0>(runs, count, left, source, own, out);
    if (is(16, 12, 4)) return copy_fixed<16, 12, 4>(runs, count, left, source, own, out);
    if (is(16, 16, 0)) return copy_fixed<16, 16, 0>(runs, count, left, source, own, out);
    copy_any(runs, count, left, source, own, out, f);
}

bool cell_copy_area(int32_t size, const CellSource& source, const unsigned char* in, intptr_t in_row_bytes,
                    unsigned char* out, intptr_t out_row_bytes, PixelBytes format, int32_t left, int32_t top,
                    int32_t right, int32_t bottom, CellRun* runs)
{
    if (!cell_map_serves(size)) return false;
    for (int32_t y = top; y < bottom; ++y) {
        const int32_t n = cell_row_runs(size, y, left, right, source.bounds, runs);
        const intptr_t row = intptr_t(y - top);
        cell_copy_runs(runs, n, left, source, in ? in + row * in_row_bytes : nullptr, out + row * out_row_bytes,
                       format);
    }
    return true;
}
