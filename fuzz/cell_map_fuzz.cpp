// libFuzzer target for the cell map: rows of any size (served or not),
// bounds anywhere, areas of any start and width, pixels of any layout. Every
// buffer is a heap block of exactly the bytes it must hold, so the sanitizers
// report any byte touched outside it; every run is checked against the
// nearest centre found the slow way, every copied byte against the pixel it
// must come from.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "filter/cell_map.h"
#include "fuzz/fuzz_values.h"
#include "support/cell_reference.h"

namespace {

void require(bool holds)
{
    if (!holds) std::abort();
}

int32_t clamp(int32_t v, int32_t low, int32_t high) { return v < low ? low : v >= high ? high - 1 : v; }

// The nearest centre by the slow search over the lattice, clamped into the
// bounds as src clamps it.
void centre_of(int32_t s, int32_t x, int32_t y, const CellBounds& b, int32_t& cx, int32_t& cy)
{
    const CellCentre c = nearest_centre(x, y, s);
    cx = clamp(c.x, b.left, b.right);
    cy = clamp(c.y, b.top, b.bottom);
}

// One row anywhere the kernel's arithmetic does not wrap, into a run buffer
// of exactly the capacity the map promises.
void fuzz_row(FuzzedDataProvider& in)
{
    const int32_t s = in.ConsumeBool() ? in.ConsumeIntegralInRange(1, 100) : any_value(in);
    const int32_t far = 1 << 30;
    const int32_t y = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 2000) : in.ConsumeIntegralInRange(-5, far);
    const int32_t left = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 2000) : in.ConsumeIntegralInRange(-5, far);
    const int32_t right = left + in.ConsumeIntegralInRange(-3, 3000);
    CellBounds b;
    b.left = in.ConsumeIntegralInRange(-3000, far);
    b.top = in.ConsumeIntegralInRange(-3000, far);
    b.right = b.left + in.ConsumeIntegralInRange(1, 5000);
    b.bottom = b.top + in.ConsumeIntegralInRange(1, 5000);

    const size_t capacity = cell_run_capacity(s, right - left);
    const bool served = cell_map_serves(s) && y >= 0 && left >= 0 && right > left;
    if (!cell_map_serves(s)) require(capacity == 0);
    std::unique_ptr<CellRun[]> runs(new CellRun[capacity ? capacity : 1]);
    const int32_t n = cell_row_runs(s, y, left, right, b, capacity ? runs.get() : nullptr);
    if (!served) {
        require(n == 0);
        return;
    }
    require(n > 0 && size_t(n) <= capacity && runs[n - 1].end == right);
    int32_t x = left;
    for (int32_t r = 0; r < n; ++r) {
        require(runs[r].end > x);
        require(runs[r].cx >= b.left && runs[r].cx < b.right && runs[r].cy >= b.top && runs[r].cy < b.bottom);
        // Each run's ends and a pixel inside: checking all of a long row
        // would leave few inputs a second.
        const int32_t probes[] = {x, runs[r].end - 1, x + (runs[r].end - x) / 2};
        for (int32_t px : probes) {
            int32_t cx, cy;
            centre_of(s, px, y, b, cx, cy);
            require(cx == runs[r].cx && cy == runs[r].cy);
        }
        x = runs[r].end;
    }
}

// A small picture as the bounds, an area inside it of its own buffers, every
// buffer exactly its size and rows without padding.
void fuzz_area(FuzzedDataProvider& in)
{
    const int32_t s = in.ConsumeBool() ? in.ConsumeIntegralInRange(1, 30) : any_value(in);
    PixelBytes f;
    f.pixel_bytes = in.ConsumeIntegralInRange(1u, 17u);
    f.colour_bytes = in.ConsumeIntegralInRange(1u, f.pixel_bytes);
    f.kept_bytes = in.ConsumeIntegralInRange(0u, f.pixel_bytes - f.colour_bytes);
    const int32_t w = in.ConsumeIntegralInRange(1, 70), h = in.ConsumeIntegralInRange(1, 40);
    // The picture's corner anywhere in the cells' pattern.
    const int32_t x0 = in.ConsumeIntegralInRange(0, 5000), y0 = in.ConsumeIntegralInRange(0, 5000);
    const int32_t left = x0 + in.ConsumeIntegralInRange(0, w), top = y0 + in.ConsumeIntegralInRange(0, h);
    const int32_t right = in.ConsumeIntegralInRange(left, x0 + w), bottom = in.ConsumeIntegralInRange(top, y0 + h);
    const size_t p = f.pixel_bytes;
    const size_t picture_row = size_t(w) * p, area_row = size_t(right - left) * p;
    const size_t area_bytes = area_row * size_t(bottom - top);
    std::unique_ptr<unsigned char[]> picture(new unsigned char[picture_row * size_t(h)]);
    for (size_t i = 0; i < picture_row * size_t(h); ++i) picture[i] = static_cast<unsigned char>(i * 131 + i / 251);
    // The area's input and output; new[0] still gives a block of its own.
    std::unique_ptr<unsigned char[]> own(new unsigned char[area_bytes]), out(new unsigned char[area_bytes]);
    for (size_t i = 0; i < area_bytes; ++i) own[i] = static_cast<unsigned char>(i * 7 + 3), out[i] = 0xEE;
    const bool served = cell_map_serves(s);
    std::unique_ptr<CellRun[]> runs(new CellRun[served && right > left ? cell_run_capacity(s, right - left) : 1]);
    const CellBounds b{x0, y0, x0 + w, y0 + h};
    const bool done = cell_copy_area(s, CellSource{picture.get(), intptr_t(picture_row), b}, own.get(),
                                     intptr_t(area_row), out.get(), intptr_t(area_row), f, left, top, right, bottom,
                                     runs.get());
    require(done == served);
    for (int32_t y = top; y < bottom; ++y)
        for (int32_t x = left; x < right; ++x) {
            const size_t at = size_t(y - top) * area_row + size_t(x - left) * p;
            int32_t cx = x0, cy = y0;
            if (served) centre_of(s, x, y, b, cx, cy);
            const unsigned char* centre = &picture[size_t(cy - y0) * picture_row + size_t(cx - x0) * p];
            for (size_t k = 0; k < p; ++k) {
                const unsigned char want = !served                                ? 0xEE
                                           : k < f.colour_bytes                     ? centre[k]
                                           : k < f.colour_bytes + f.kept_bytes      ? own[at + k]
                                                                                    : 0xEE;
                require(out[at + k] == want);
            }
        }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    while (in.remaining_bytes() > 0) {
        if (in.ConsumeBool())
            fuzz_row(in);
        else
            fuzz_area(in);
    }
    return 0;
}
