// The row map against the Main block itself: every pixel of a run must take
// the position the block samples, clamped as src clamps it, for every size
// the dialog allows, on rows of every tile phase, for areas that start
// anywhere and for bounds that cut through cells (bands, chunks, strips).
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "filter/cell_map.h"
#include "filter/cellumbra_kernel.h"
#include "runtime/kernel.h"

namespace {

int32_t block_size, sampled_x, sampled_y;
int32_t fixed_slider(int32_t) { return block_size; }
int32_t noting_src(int32_t x, int32_t y, int32_t)
{
    sampled_x = x;
    sampled_y = y;
    return 0;
}

struct Block {
    BuiltinTable table = builtin_table;
    Block()
    {
        table.slider = fixed_slider;
        table.src = noting_src;
    }
    // The position the block samples for (x, y), clamped into the bounds.
    CellRun centre(int32_t s, int32_t x, int32_t y, const CellBounds& b)
    {
        block_size = s;
        KernelVariables vars{};
        vars.v[slot::x] = x;
        vars.v[slot::y] = y;
        cellumbra_main(vars, table);
        const auto clamp = [](int32_t v, int32_t low, int32_t high) { return v < low ? low : v >= high ? high - 1 : v; };
        return CellRun{x + 1, clamp(sampled_x, b.left, b.right), clamp(sampled_y, b.top, b.bottom)};
    }
};

// Expands the runs of one row and compares each pixel with the block; the
// runs must also be in order, non-empty, within the capacity, and end at
// the row's right.
void expect_row(Block& block, int32_t s, int32_t y, int32_t left, int32_t right, const CellBounds& b)
{
    std::vector<CellRun> runs(cell_run_capacity(s, right - left) + 1, CellRun{-7, -7, -7});
    const int32_t n = cell_row_runs(s, y, left, right, b, runs.data());
    ASSERT_LE(size_t(n), cell_run_capacity(s, right - left)) << "s " << s << " y " << y << " left " << left;
    ASSERT_EQ(runs[cell_run_capacity(s, right - left)].end, -7) << "wrote past its capacity";
    ASSERT_GT(n, 0);
    ASSERT_EQ(runs[n - 1].end, right);
    int32_t x = left;
    for (int32_t r = 0; r < n; ++r) {
        ASSERT_GT(runs[r].end, x) << "an empty or backward run";
        for (; x < runs[r].end; ++x) {
            const CellRun want = block.centre(s, x, y, b);
            ASSERT_TRUE(runs[r].cx == want.cx && runs[r].cy == want.cy)
                << "size " << s << " pixel (" << x << ", " << y << "): map (" << runs[r].cx << ", " << runs[r].cy
                << "), block (" << want.cx << ", " << want.cy << ")";
        }
    }
}

TEST(CellMap, EqualsTheBlockOnEveryRowPhaseOfEverySize)
{
    Block block;
    for (int32_t s = 1; s <= 100; ++s) {
        // Two tiles across, far enough that no clamp takes part, then the
        // same rows further down and right.
        const CellBounds open{0, 0, 1 << 30, 1 << 30};
        for (int32_t ty = 0; ty < 4 * s; ++ty) {
            expect_row(block, s, ty, 0, 12 * s + 1, open);
            expect_row(block, s, ty + 4 * s * 997, 6 * s * 1001 + 3, 6 * s * 1001 + 3 + 7 * s, open);
        }
    }
}

TEST(CellMap, ClampsCentresIntoTheBoundsAsSrcDoes)
{
    Block block;
    std::mt19937 random(12);
    for (int i = 0; i < 4000; ++i) {
        const int32_t s = 1 + int32_t(random() % 100);
        // Bounds anywhere from 1 x 1 up, a row inside or beyond them (a band
        // that lacks the cells' reach), an area of any start and width.
        CellBounds b;
        b.left = int32_t(random() % 500);
        b.top = int32_t(random() % 500);
        b.right = b.left + 1 + int32_t(random() % (i % 3 == 0 ? 3 : 700));
        b.bottom = b.top + 1 + int32_t(random() % (i % 3 == 1 ? 3 : 700));
        const int32_t y = int32_t(random() % 1300);
        const int32_t left = int32_t(random() % 1300);
        const int32_t right = left + 1 + int32_t(random() % 800);
        expect_row(block, s, y, left, right, b);
        if (HasFatalFailure()) return;
    }
    for (int32_t s : {1, 2, 5, 100}) // single pixels and single columns
        for (int32_t x = 0; x < 30 * s; x += s) expect_row(block, s, 3 * s, x, x + 1, CellBounds{0, 0, 1, 1});
}

TEST(CellMap, ServesNoSizeItCannotMatchAndNoEmptyRow)
{
    CellRun runs[8];
    const CellBounds b{0, 0, 10, 10};
    for (int32_t s : {0, -1, cell_map_largest_size + 1, INT32_MIN}) EXPECT_EQ(cell_row_runs(s, 0, 0, 5, b, runs), 0);
    EXPECT_EQ(cell_row_runs(3, 0, 5, 5, b, runs), 0);
    EXPECT_EQ(cell_row_runs(3, 0, 6, 5, b, runs), 0);
    EXPECT_EQ(cell_row_runs(3, -1, 0, 5, b, runs), 0);
    EXPECT_EQ(cell_run_capacity(3, 0), 0u);
    unsigned char pixel[4] = {1, 2, 3, 4}, out[4] = {9, 9, 9, 9};
    EXPECT_FALSE(cell_copy_area(0, CellSource{pixel, 4, b}, pixel, 4, out, 4, PixelBytes{4, 3, 1}, 0, 0, 1, 1, runs));
    EXPECT_EQ(out[0], 9);
}

// Every format's pixels move whole: the colour bytes of the centre, each
// pixel's own kept bytes, and bytes past those left alone. Pixels are filled
// with bytes that tell their position and byte, so any mix-up shows.
TEST(CellMap, CopiesWholePixelsOfEveryWidthAndKeepsOwnAlpha)
{
    Block block;
    const PixelBytes formats[] = {{3, 3, 0},  {4, 3, 1},  {4, 3, 0}, {4, 4, 0}, {1, 1, 0},  {2, 1, 1},
                                  {2, 2, 0},  {4, 2, 2},  {6, 6, 0}, {8, 6, 2}, {8, 4, 4},  {8, 8, 0},
                                  {12, 12, 0}, {16, 12, 4}, {16, 16, 0}, {5, 3, 1}, {10, 6, 2}, {7, 7, 0}};
    const int32_t w = 37, h = 23, s = 2;
    const CellBounds b{0, 0, w, h};
    for (const PixelBytes f : formats) {
        std::vector<unsigned char> in(size_t(w) * h * f.pixel_bytes), out(in.size(), 0xEE);
        for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i * 131 + i / 7);
        std::vector<CellRun> runs(cell_run_capacity(s, w - 3));
        // Columns 3.. of rows 2..: the area starts inside the picture.
        const intptr_t row = intptr_t(w) * f.pixel_bytes;
        const size_t start = 2 * size_t(row) + 3 * f.pixel_bytes;
        ASSERT_TRUE(cell_copy_area(s, CellSource{in.data(), row, b}, in.data() + start, row, out.data() + start, row,
                                   f, 3, 2, w, h, runs.data()));
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const unsigned char* o = &out[size_t(y) * row + size_t(x) * f.pixel_bytes];
                const unsigned char* own = &in[size_t(y) * row + size_t(x) * f.pixel_bytes];
                const CellRun c = block.centre(s, x, y, b);
                const unsigned char* centre = &in[size_t(c.cy) * row + size_t(c.cx) * f.pixel_bytes];
                const bool inside = x >= 3 && y >= 2;
                for (uint32_t k = 0; k < f.pixel_bytes; ++k) {
                    const unsigned char want = !inside                           ? 0xEE
                                               : k < f.colour_bytes               ? centre[k]
                                               : k < f.colour_bytes + f.kept_bytes ? own[k]
                                                                                   : 0xEE;
                    ASSERT_EQ(o[k], want) << "format " << f.pixel_bytes << "/" << f.colour_bytes << "/" << f.kept_bytes
                                          << " pixel (" << x << ", " << y << ") byte " << k;
                }
            }
    }
}

} // namespace
