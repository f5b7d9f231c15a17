// Reading the band the host delivered: absolute, polar, interpolated and
// relative lookups, 3x3 convolutions, and the current pixel's variables.
//
// Every read goes through a description of the input band that is checked
// against itself before any byte is touched: a non-null base, a non-empty
// rectangle, a pixel stride of at least 1 and a row stride that holds a whole
// row of pixels. The check is kept with the record fields it was made from and
// made again as soon as one of them differs, so a new band, a new preview
// request or a host that changes the record between calls is always seen,
// without the shell having to announce it. Then every read lies within
// (rows - 1) * inRowBytes + columns * pixel_stride bytes from inData, the
// smallest buffer a host can hand over for that rectangle.
//
// A walk with a bound block reads `src` inline from a copy of that
// description (sampling_view, runtime/pixel_loop.h), taken again at every row.
//
// The current pixel is addressed from column and row, never from in_ptr: in
// the real run and the preview both name the same byte, and in Start and
// Interpass, where in_ptr may be null or left over from an earlier band, the
// relative lookups and convolutions read around the last position the pixel
// loop held (which is also what x and y report there), clamped into the band
// the host holds now.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/rect.h"
#include "base/saturate.h"
#include "runtime/builtin_math.h"
#include "runtime/builtins.h"
#include "runtime/kernel.h"
#include "runtime/pixel_loop.h"
#include "runtime/run_state.h"

using namespace builtin_math;

namespace {

struct InputBand {
    // The fields the description was made from.
    const FilterRecord* record;
    const void* data;
    uint64_t rect_bits;
    int32_t row_bytes;
    int32_t stride;
    // The description. `planes` is the pixel stride when the band is
    // readable and 0 when it is not, so one comparison admits a read.
    const unsigned char* base;
    int32_t planes;
    int32_t left, top, last_column, last_row;
};

InputBand input_band = {};

uint64_t bits_of(const Rect16& rect)
{
    uint64_t bits;
    std::memcpy(&bits, &rect, sizeof bits);
    return bits;
}

int32_t clamp(int32_t v, int32_t low, int32_t high)
{
    return v < low ? low : v > high ? high : v;
}

// The byte count a buffer of `rows` rows needs, or -1 when the strides do not
// fit the rectangle or the buffer could not exist in this address space.
int64_t band_extent(int64_t columns, int64_t rows, int64_t stride, int64_t row_bytes)
{
    const int64_t row_span = columns * stride;
    if (row_bytes < row_span) return -1;
    const int64_t extent = (rows - 1) * row_bytes + row_span;
    return extent <= int64_t(PTRDIFF_MAX) ? extent : -1;
}

__attribute__((noinline)) const InputBand& describe_input(const FilterRecord* record)
{
    InputBand& band = input_band;
    band = InputBand{};
    band.record = record;
    if (!record) return band;
    band.data = record->inData;
    band.rect_bits = bits_of(record->inRect);
    band.row_bytes = record->inRowBytes;
    band.stride = run_state.pixel_context.pixel_stride;

    const Rect16 rect = record->inRect;
    if (!band.data || band.stride < 1 || is_empty(rect)) return band;
    if (band_extent(rect.right - rect.left, rect.bottom - rect.top, band.stride, band.row_bytes) < 0)
        return band;
    band.base = static_cast<const unsigned char*>(band.data);
    band.planes = band.stride;
    band.left = rect.left;
    band.top = rect.top;
    band.last_column = rect.right - 1;
    band.last_row = rect.bottom - 1;
    return band;
}

inline const InputBand& current_input()
{
    const FilterRecord* record = run_state.filter_record;
    const InputBand& band = input_band;
    if (record && record == band.record && record->inData == band.data &&
        bits_of(record->inRect) == band.rect_bits && record->inRowBytes == band.row_bytes &&
        run_state.pixel_context.pixel_stride == band.stride)
        return band;
    return describe_input(record);
}

// Plane z (0 <= z < band.planes) of the band pixel nearest to (x, y).
inline int32_t read_plane(const InputBand& band, int32_t x, int32_t y, int32_t z)
{
    x = clamp(x, band.left, band.last_column);
    y = clamp(y, band.top, band.last_row);
    return band.base[intptr_t(y - band.top) * band.row_bytes + intptr_t(x - band.left) * band.stride + z];
}

// Plane z (0..3) where the pixel has no byte for it. A missing colour plane of
// a one- or two-plane pixel reads as plane 0, as the shell fills in_green and
// in_blue, so a grey picture stays grey; a missing fourth plane reads as
// opaque (255), like `da` and in_alpha. An unreadable band reads as 0.
inline int32_t missing_plane(const InputBand& band, int32_t x, int32_t y, int32_t z)
{
    if (!band.base) return 0;
    return z == 3 ? 255 : read_plane(band, x, y, 0);
}

// The absolute input lookup for planes 0..3 at a full-image position.
inline int32_t absolute_plane(int32_t x, int32_t y, int32_t z)
{
    const InputBand& band = current_input();
    const int32_t s = run_state.zoom_factor;
    if (s > 1) {
        x /= s;
        y /= s;
    }
    if (uint32_t(z) < uint32_t(band.planes)) return read_plane(band, x, y, z);
    return missing_plane(band, x, y, z);
}

// The mask is delivered at the same sampling rate as the input (maskRate is
// set with inputRate), so full-image positions are scaled the same way. A
// mask with an empty rectangle or strides that do not fit it has no pixel to
// give and reads like a missing mask: 255.
int32_t mask_value(int32_t x, int32_t y)
{
    const FilterRecord* record = run_state.filter_record;
    if (!record || !record->maskData) return 255;
    const Rect16 rect = record->maskRect;
    const int32_t row_bytes = record->maskRowBytes;
    if (is_empty(rect)) return 255;
    if (band_extent(rect.right - rect.left, rect.bottom - rect.top, 1, row_bytes) < 0) return 255;
    const int32_t s = run_state.zoom_factor;
    if (s > 1) {
        x /= s;
        y /= s;
    }
    x = clamp(x, rect.left, rect.right - 1);
    y = clamp(y, rect.top, rect.bottom - 1);
    const auto* mask = static_cast<const unsigned char*>(record->maskData);
    return mask[intptr_t(y - rect.top) * row_bytes + (x - rect.left)];
}

// The band position of the current pixel moved by (dx, dy) full-image pixels.
void relative_position(int32_t dx, int32_t dy, int32_t& x, int32_t& y)
{
    int64_t cx = run_state.pixel_context.column, cy = run_state.pixel_context.row;
    const int32_t s = run_state.zoom_factor;
    if (s > 1) {
        cx = (cx * s + dx) / s;
        cy = (cy * s + dy) / s;
    } else {
        cx += dx;
        cy += dy;
    }
    x = saturate_int32(cx);
    y = saturate_int32(cy);
}

// dr, dg, db: a missing green or blue plane reads as plane 0, as in `src`.
int32_t relative_colour(int32_t dx, int32_t dy, int32_t z)
{
    const InputBand& band = current_input();
    if (!band.base) return 0;
    int32_t x, y;
    relative_position(dx, dy, x, y);
    return read_plane(band, x, y, z < band.planes ? z : 0);
}

// A missing green or blue plane convolves plane 0, as in `src`.
int32_t convolve(int32_t plane, const int32_t (&w)[9], int32_t d)
{
    if (d == 0) return 0;
    const InputBand& band = current_input();
    if (!band.base) return 0;
    if (plane >= band.planes) plane = 0;
    const int32_t column = run_state.pixel_context.column, row = run_state.pixel_context.row;
    const intptr_t h = column > band.left && column < band.last_column ? band.stride : 0;
    const intptr_t v = row > band.top && row < band.last_row ? band.row_bytes : 0;
    const unsigned char* p = band.base +
                             intptr_t(clamp(row, band.top, band.last_row) - band.top) * band.row_bytes +
                             intptr_t(clamp(column, band.left, band.last_column) - band.left) * band.stride + plane;
    const uint32_t sum = uint32_t(w[0]) * p[-v - h] + uint32_t(w[1]) * p[-v] + uint32_t(w[2]) * p[-v + h] +
                         uint32_t(w[3]) * p[-h] + uint32_t(w[4]) * p[0] + uint32_t(w[5]) * p[h] +
                         uint32_t(w[6]) * p[v - h] + uint32_t(w[7]) * p[v] + uint32_t(w[8]) * p[v + h];
    return wrap_div(wrap(sum), d);
}

} // namespace

const SamplingView& sampling_view()
{
    static SamplingView view;
    view = SamplingView{};
    const InputBand& band = current_input();
    if (!band.base || run_state.zoom_factor > 1) return view;
    view.base = band.base;
    view.left = uint32_t(band.left);
    view.top = uint32_t(band.top);
    view.last_column = uint32_t(band.last_column - band.left);
    view.last_row = uint32_t(band.last_row - band.top);
    view.stride = uintptr_t(band.stride);
    view.row_bytes = uintptr_t(band.row_bytes);
    return view;
}

int32_t src(int32_t x, int32_t y, int32_t z)
{
    if (uint32_t(z) <= 3) return absolute_plane(x, y, z);
    return z == 4 ? mask_value(x, y) : 0;
}

// The position is formed in 64 bits and saturated, so a radius near the int32
// limits clamps to the band's edge like any other far position.
int32_t src_polar(int32_t angle, int32_t r, int32_t z)
{
    const double a = angle * angle_unit();
    const int64_t px = int64_t(run_state.pixel_context.image_width / 2) + trunc_to_int32(r * std::cos(a));
    const int64_t py = int64_t(run_state.pixel_context.image_height / 2) + trunc_to_int32(r * std::sin(a));
    return src(saturate_int32(px), saturate_int32(py), z);
}

// The weights are multiplied out in 64 bits: the result is exact for every n
// (the same as in 32 bits wherever those do not overflow, that is for n below
// about 2^21) and lies within -1020..1275 even with extrapolated weights.
int32_t src_interpolated(int32_t x, int32_t y, int32_t n, int32_t z)
{
    if (uint32_t(z) > 3 || n < 1) return 0;
    const int32_t xi = x / n, fx = x % n, yi = y / n, fy = y % n;
    // xi + 1 and yi + 1 are needed only with a fraction, so n >= 2 and they fit.
    auto row_value = [&](int32_t row) -> int64_t {
        const int64_t left = absolute_plane(xi, row, z);
        if (fx == 0) return left;
        return (left * (int64_t(n) - fx) + int64_t(absolute_plane(xi + 1, row, z)) * fx) / n;
    };
    const int64_t top = row_value(yi);
    if (fy == 0) return static_cast<int32_t>(top);
    const int64_t bottom = row_value(yi + 1);
    return saturate_int32((top * (int64_t(n) - fy) + bottom * fy) / n);
}

// Exactly the planes the pixel has; any other z yields 0.
int32_t dplane(int32_t dx, int32_t dy, int32_t z)
{
    const InputBand& band = current_input();
    if (z < 0 || z >= band.planes) return 0;
    int32_t x, y;
    relative_position(dx, dy, x, y);
    return read_plane(band, x, y, z);
}

int32_t dr(int32_t dx, int32_t dy)
{
    return relative_colour(dx, dy, 0);
}

int32_t dg(int32_t dx, int32_t dy)
{
    return relative_colour(dx, dy, 1);
}

int32_t db(int32_t dx, int32_t dy)
{
    return relative_colour(dx, dy, 2);
}

int32_t da(int32_t dx, int32_t dy)
{
    if (run_state.pixel_context.pixel_stride <= 3) return 255;
    return dplane(dx, dy, 3);
}

int32_t convolve_red(int32_t w1, int32_t w2, int32_t w3, int32_t w4, int32_t w5, int32_t w6, int32_t w7,
                     int32_t w8, int32_t w9, int32_t d)
{
    return convolve(0, {w1, w2, w3, w4, w5, w6, w7, w8, w9}, d);
}

int32_t convolve_green(int32_t w1, int32_t w2, int32_t w3, int32_t w4, int32_t w5, int32_t w6, int32_t w7,
                       int32_t w8, int32_t w9, int32_t d)
{
    return convolve(1, {w1, w2, w3, w4, w5, w6, w7, w8, w9}, d);
}

int32_t convolve_blue(int32_t w1, int32_t w2, int32_t w3, int32_t w4, int32_t w5, int32_t w6, int32_t w7,
                      int32_t w8, int32_t w9, int32_t d)
{
    return convolve(2, {w1, w2, w3, w4, w5, w6, w7, w8, w9}, d);
}

int32_t input_value(int32_t z)
{
    if (z >= 0 && z <= 2) return kernel_vars.v[slot::in_red + z];
    if (z == 3 && run_state.pixel_context.pixel_stride > 3) return kernel_vars.v[slot::in_alpha];
    return 0;
}

int32_t set_output(int32_t z, int32_t v)
{
    if (z >= 0 && z <= 2) {
        kernel_vars.v[slot::out_red + z] = v;
        return v;
    }
    if (z == 3) {
        if (run_state.pixel_context.pixel_stride > 3) kernel_vars.v[slot::out_alpha] = v;
        return v;
    }
    return 0;
}
