// Sampling built-ins on bands served from exact-size buffers: every buffer is
// the smallest block the rectangle and strides need, so the sanitizers report
// any byte read outside it.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>

#include "runtime/builtins.h"
#include "runtime/kernel.h"
#include "shell/shell.h"
#include "ui/preview_state.h"

namespace {

// The picture every band is cut from: neighbouring values differ.
int32_t value_at(int32_t column, int32_t row, int32_t plane)
{
    return (column * 29 + row * 71 + plane * 113 + 7) & 0xFF;
}

int32_t mask_at(int32_t column, int32_t row)
{
    return (column * 13 + row * 37 + 1) & 0xFF;
}

int32_t clamp(int32_t v, int32_t lo, int32_t hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

struct Sampling : ::testing::Test {
    FilterRecord record{};
    std::unique_ptr<unsigned char[]> input, mask;
    Rect16 rect{};
    int32_t stride = 0;

    FilterRecord* saved_record = filter_record;
    PixelContext saved_context = pixel_context;
    KernelVariables saved_vars = kernel_vars;
    int32_t saved_zoom = zoom_factor;

    void SetUp() override
    {
        reset_angle_resolution();
        zoom_factor = 1;
        pixel_context = PixelContext{};
        filter_record = &record;
    }
    void TearDown() override
    {
        filter_record = saved_record;
        pixel_context = saved_context;
        kernel_vars = saved_vars;
        zoom_factor = saved_zoom;
    }

    // Delivers rect with the given pixel stride; row_bytes 0 means a tight
    // buffer. Padding bytes hold 0xEE, which no plane value equals by chance
    // in the tests below.
    void deliver(Rect16 r, int32_t pixel_stride, int32_t row_bytes = 0)
    {
        const int32_t w = r.right - r.left, h = r.bottom - r.top;
        if (row_bytes == 0) row_bytes = w * pixel_stride;
        const size_t size = size_t(h - 1) * size_t(row_bytes) + size_t(w) * size_t(pixel_stride);
        input.reset(new unsigned char[size]);
        std::memset(input.get(), 0xEE, size);
        for (int32_t y = r.top; y < r.bottom; ++y)
            for (int32_t x = r.left; x < r.right; ++x)
                for (int32_t z = 0; z < pixel_stride; ++z)
                    input[size_t(y - r.top) * row_bytes + size_t(x - r.left) * pixel_stride + z] =
                        static_cast<unsigned char>(value_at(x, y, z));
        rect = r;
        stride = pixel_stride;
        record.inRect = r;
        record.inRowBytes = row_bytes;
        record.inData = input.get();
        pixel_context.pixel_stride = pixel_stride;
    }

    void deliver_mask(Rect16 r, int32_t row_bytes = 0)
    {
        const int32_t w = r.right - r.left, h = r.bottom - r.top;
        if (row_bytes == 0) row_bytes = w;
        const size_t size = size_t(h - 1) * size_t(row_bytes) + size_t(w);
        mask.reset(new unsigned char[size]);
        for (int32_t y = r.top; y < r.bottom; ++y)
            for (int32_t x = r.left; x < r.right; ++x)
                mask[size_t(y - r.top) * row_bytes + size_t(x - r.left)] = static_cast<unsigned char>(mask_at(x, y));
        record.maskRect = r;
        record.maskRowBytes = row_bytes;
        record.maskData = mask.get();
    }

    // Makes (column, row) the current pixel, as the pixel loop does.
    void at(int32_t column, int32_t row)
    {
        pixel_context.column = column;
        pixel_context.row = row;
        pixel_context.in_ptr = input.get() + size_t(row - rect.top) * record.inRowBytes +
                               size_t(column - rect.left) * stride;
    }

    // Plane z of the band pixel nearest to (x, y), in buffer coordinates.
    int32_t nearest(int32_t x, int32_t y, int32_t z) const
    {
        return value_at(clamp(x, rect.left, rect.right - 1), clamp(y, rect.top, rect.bottom - 1), z);
    }
};

const Rect16 six_by_four = {0, 0, 4, 6}; // top, left, bottom, right

// ---- src

TEST_F(Sampling, SrcReadsAndClampsToTheBand)
{
    deliver(six_by_four, 3);
    EXPECT_EQ(src(3, 2, 2), value_at(3, 2, 2));
    EXPECT_EQ(src(-10, -10, 0), value_at(0, 0, 0));
    EXPECT_EQ(src(6 + 99, 2, 1), value_at(5, 2, 1));
    EXPECT_EQ(src(INT_MAX, INT_MAX, 2), value_at(5, 3, 2));
    EXPECT_EQ(src(INT_MIN, INT_MAX, 0), value_at(0, 3, 0));
    EXPECT_EQ(src(1, 1, 5), 0);
    EXPECT_EQ(src(1, 1, -1), 0);
    EXPECT_EQ(src(1, 1, INT_MIN), 0);
}

TEST_F(Sampling, SrcOfALaterBandYieldsItsNearestRow)
{
    deliver(Rect16{10, 3, 14, 9}, 4, 4 * 6 + 5); // rows 10-13, columns 3-8, padded rows
    EXPECT_EQ(src(2, 3, 0), value_at(3, 10, 0));
    EXPECT_EQ(src(5, 12, 3), value_at(5, 12, 3));
    EXPECT_EQ(src(8, 100, 1), value_at(8, 13, 1));
}

TEST_F(Sampling, PlanesAPixelLacks)
{
    // Chosen: plane 3 of a three-plane pixel is opaque, read from nowhere;
    // the bottom-right pixel is the last bytes of its buffer.
    deliver(six_by_four, 3);
    EXPECT_EQ(src(5, 3, 3), 255);
    EXPECT_EQ(src(5, 3, 2), value_at(5, 3, 2));
    // A grey pixel stays grey: its missing colour planes read as plane 0.
    deliver(six_by_four, 1);
    EXPECT_EQ(src(5, 3, 0), value_at(5, 3, 0));
    EXPECT_EQ(src(5, 3, 1), value_at(5, 3, 0));
    EXPECT_EQ(src(5, 3, 2), value_at(5, 3, 0));
    EXPECT_EQ(src(5, 3, 3), 255);
    deliver(six_by_four, 2);
    EXPECT_EQ(src(5, 3, 1), value_at(5, 3, 1));
    EXPECT_EQ(src(5, 3, 2), value_at(5, 3, 0));
    deliver(six_by_four, 4);
    EXPECT_EQ(src(5, 3, 3), value_at(5, 3, 3));
}

TEST_F(Sampling, BandsThatCannotBeReadYieldZero)
{
    auto all_planes_zero = [] {
        for (int32_t z = 0; z < 4; ++z)
            if (src(1, 1, z) != 0 || dr(0, 0) != 0 || dplane(0, 0, z) != 0 ||
                convolve_red(1, 1, 1, 1, 1, 1, 1, 1, 1, 1) != 0)
                return false;
        return true;
    };
    deliver(six_by_four, 3);
    at(1, 1);
    record.inData = nullptr;
    EXPECT_TRUE(all_planes_zero()) << "no data";
    deliver(six_by_four, 3);
    record.inRect = Rect16{2, 0, 2, 6};
    EXPECT_TRUE(all_planes_zero()) << "no rows";
    record.inRect = Rect16{0, 6, 4, 0};
    EXPECT_TRUE(all_planes_zero()) << "reversed columns";
    record.inRect = six_by_four;
    record.inRowBytes = 6 * 3 - 1;
    EXPECT_TRUE(all_planes_zero()) << "rows shorter than the rectangle";
    record.inRowBytes = -18;
    EXPECT_TRUE(all_planes_zero()) << "negative row bytes";
    record.inRowBytes = 18;
    pixel_context.pixel_stride = 0;
    EXPECT_TRUE(all_planes_zero()) << "no bytes per pixel";
    pixel_context.pixel_stride = INT_MIN;
    EXPECT_TRUE(all_planes_zero()) << "negative stride";
    pixel_context.pixel_stride = 4; // more bytes per pixel than the rows hold
    EXPECT_TRUE(all_planes_zero()) << "stride beyond the rows";
    filter_record = nullptr;
    EXPECT_TRUE(all_planes_zero()) << "no record";
    EXPECT_EQ(src(1, 1, 4), 255);
}

TEST_F(Sampling, ANewBandIsSeenWithoutNotice)
{
    deliver(six_by_four, 3);
    EXPECT_EQ(src(100, 100, 0), value_at(5, 3, 0));
    // Only the buffer changes: the old one is freed, so reading it would be
    // reported.
    deliver(six_by_four, 3);
    input[0] = 0xAB;
    EXPECT_EQ(src(0, 0, 0), 0xAB);
    // Only the rectangle changes: the same buffer described as rows 4-7 and
    // as rows 0-3.
    deliver(Rect16{4, 0, 8, 6}, 3);
    const Rect16 lower = record.inRect;
    EXPECT_EQ(src(0, 5, 0), value_at(0, 5, 0));
    record.inRect = six_by_four;
    EXPECT_EQ(src(0, 5, 0), value_at(0, 7, 0));
    record.inRect = lower;
    EXPECT_EQ(src(0, 5, 0), value_at(0, 5, 0));
    // Only the row stride changes: row 1 now starts in row 0's padding.
    deliver(six_by_four, 3, 20);
    EXPECT_EQ(src(0, 1, 0), value_at(0, 1, 0));
    record.inRowBytes = 18;
    EXPECT_EQ(src(0, 1, 0), 0xEE);
    // Only the record changes.
    FilterRecord other = record;
    other.inRect = Rect16{0, 0, 1, 1};
    filter_record = &other;
    EXPECT_EQ(src(0, 100, 0), value_at(0, 0, 0));
    filter_record = &record;
    // A smaller band with new strides.
    deliver(Rect16{20, 1, 22, 3}, 4);
    EXPECT_EQ(src(100, 100, 3), value_at(2, 21, 3));
    // Only the bytes per pixel change: the same buffer read as three planes.
    pixel_context.pixel_stride = 3;
    EXPECT_EQ(src(2, 20, 0), value_at(1, 20, 3));
    EXPECT_EQ(src(1, 20, 3), 255);
}

TEST_F(Sampling, PreviewPositionsAreDividedByTheZoom)
{
    deliver(Rect16{0, 0, 8, 16}, 3);
    zoom_factor = 4;
    EXPECT_EQ(src(40, 12, 0), value_at(10, 3, 0));
    EXPECT_EQ(src(43, 15, 1), value_at(10, 3, 1));
    EXPECT_EQ(src(-7, 2, 0), value_at(0, 0, 0));
    zoom_factor = 0;
    EXPECT_EQ(src(5, 5, 0), value_at(5, 5, 0));
    zoom_factor = -3;
    EXPECT_EQ(src(5, 5, 0), value_at(5, 5, 0));
}

// ---- the mask

TEST_F(Sampling, MaskLookups)
{
    deliver(six_by_four, 3);
    EXPECT_EQ(src(1, 1, 4), 255);
    deliver_mask(Rect16{1, 2, 3, 5}, 7);
    EXPECT_EQ(src(3, 2, 4), mask_at(3, 2));
    EXPECT_EQ(src(-5, 100, 4), mask_at(2, 2));
    EXPECT_EQ(src(100, -5, 4), mask_at(4, 1));
    zoom_factor = 2; // the mask comes at the input's rate
    EXPECT_EQ(src(7, 5, 4), mask_at(3, 2));
}

TEST_F(Sampling, MasksWithoutAPixelReadAsSelected)
{
    deliver(six_by_four, 3);
    deliver_mask(Rect16{1, 2, 3, 5});
    // Chosen: the preview's empty mask area reads like no mask at all.
    record.maskRect = Rect16{0, 0, 0, 0};
    EXPECT_EQ(src(3, 2, 4), 255);
    record.maskRect = Rect16{3, 5, 1, 2};
    EXPECT_EQ(src(3, 2, 4), 255);
    record.maskRect = Rect16{1, 2, 3, 5};
    record.maskRowBytes = 2; // a row of three mask bytes does not fit
    EXPECT_EQ(src(3, 2, 4), 255);
    record.maskRowBytes = -3;
    EXPECT_EQ(src(3, 2, 4), 255);
}

// ---- src_polar and src_interpolated

TEST_F(Sampling, PolarSamplesAroundTheImageCentre)
{
    deliver(Rect16{0, 0, 11, 21}, 3);
    pixel_context.image_width = 21; // centre (10, 5)
    pixel_context.image_height = 11;
    pixel_context.centre_column = 2; // the effect centre plays no part
    pixel_context.centre_row = 2;
    EXPECT_EQ(src_polar(0, 3, 0), value_at(13, 5, 0));
    EXPECT_EQ(src_polar(256, 3, 1), value_at(10, 8, 1));
    EXPECT_EQ(src_polar(512, 3, 2), value_at(7, 5, 2));
    EXPECT_EQ(src_polar(128, 4, 0), value_at(12, 7, 0)); // 2.83 truncated each way
    EXPECT_EQ(src_polar(0, INT_MAX, 0), value_at(20, 5, 0));
    EXPECT_EQ(src_polar(512, INT_MIN, 0), value_at(20, 5, 0));
    EXPECT_EQ(src_polar(0, 3, 4), 255);
    EXPECT_EQ(src_polar(0, 3, 5), 0);
    angle_resolution(180);
    EXPECT_EQ(src_polar(90, 3, 0), value_at(10, 8, 0));
    reset_angle_resolution();
}

TEST_F(Sampling, InterpolationWeighsTheFourNeighbours)
{
    deliver(Rect16{0, 0, 8, 8}, 3);
    auto P = [&](int32_t x, int32_t y, int32_t z) { return nearest(x, y, z); };
    EXPECT_EQ(src_interpolated(3, 0, 2, 0), (P(1, 0, 0) + P(2, 0, 0)) / 2);
    EXPECT_EQ(src_interpolated(4, 6, 2, 1), P(2, 3, 1));
    EXPECT_EQ(src_interpolated(5, 5, 1, 2), src(5, 5, 2));
    // x = 5/4, y = 7/4.
    const int32_t top = (P(1, 1, 0) * 3 + P(2, 1, 0) * 1) / 4;
    const int32_t bottom = (P(1, 2, 0) * 3 + P(2, 2, 0) * 1) / 4;
    EXPECT_EQ(src_interpolated(5, 7, 4, 0), (top * 1 + bottom * 3) / 4);
    // Negative positions extrapolate; the lookups themselves clamp.
    EXPECT_EQ(src_interpolated(-1, 0, 2, 0), (P(0, 0, 0) * 3 + P(1, 0, 0) * -1) / 2);
    EXPECT_EQ(src_interpolated(3, 0, 0, 0), 0);
    EXPECT_EQ(src_interpolated(3, 0, -2, 0), 0);
    EXPECT_EQ(src_interpolated(3, 0, 2, 4), 0);
    EXPECT_EQ(src_interpolated(3, 0, 2, -1), 0);
    EXPECT_EQ(src_interpolated(3, 0, 2, 3), 255); // plane 3 of three planes
}

TEST_F(Sampling, InterpolationWithHugeStepsIsExact)
{
    deliver(Rect16{0, 0, 8, 8}, 3);
    const int64_t n = INT_MAX, f = INT_MAX - 1;
    const int64_t expected = (int64_t(value_at(0, 0, 0)) * (n - f) + int64_t(value_at(1, 0, 0)) * f) / n;
    EXPECT_EQ(src_interpolated(INT_MAX - 1, 0, INT_MAX, 0), expected);
    EXPECT_EQ(src_interpolated(INT_MAX, INT_MAX, INT_MAX, 1), value_at(1, 1, 1));
    const int32_t extreme = src_interpolated(INT_MIN, INT_MIN, 2, 0); // integral: one clamped lookup
    EXPECT_EQ(extreme, value_at(0, 0, 0));
    const int32_t far = src_interpolated(-(INT_MAX - 1), -(INT_MAX - 1), INT_MAX, 0);
    EXPECT_GE(far, -1020);
    EXPECT_LE(far, 1275);
}

// ---- relative lookups

TEST_F(Sampling, RelativeLookupsAroundTheCurrentPixel)
{
    deliver(six_by_four, 3);
    at(2, 1);
    EXPECT_EQ(dr(0, 0), value_at(2, 1, 0));
    EXPECT_EQ(dg(1, 0), value_at(3, 1, 1));
    EXPECT_EQ(db(0, -1), value_at(2, 0, 2));
    EXPECT_EQ(dr(-100, 0), value_at(0, 1, 0));
    EXPECT_EQ(dg(INT_MAX, INT_MAX), value_at(5, 3, 1));
    EXPECT_EQ(dplane(1, 1, 2), value_at(3, 2, 2));
    EXPECT_EQ(da(0, 0), 255);
    EXPECT_EQ(dplane(0, 0, 3), 0);
    EXPECT_EQ(dplane(0, 0, -1), 0);
    deliver(six_by_four, 4);
    at(2, 1);
    EXPECT_EQ(da(0, 0), value_at(2, 1, 3));
    EXPECT_EQ(dplane(-1, 0, 3), value_at(1, 1, 3));
    EXPECT_EQ(dplane(0, 0, 4), 0);
    deliver(six_by_four, 1); // grey
    at(2, 1);
    EXPECT_EQ(db(1, 0), value_at(3, 1, 0));
    EXPECT_EQ(dplane(0, 0, 1), 0);
}

TEST_F(Sampling, RelativeLookupsInThePreviewMoveInImagePixels)
{
    deliver(Rect16{0, 0, 8, 16}, 3);
    zoom_factor = 4;
    at(2, 1); // image position (8, 4)
    EXPECT_EQ(dr(0, 0), value_at(2, 1, 0));
    EXPECT_EQ(dr(4, 0), value_at(3, 1, 0));
    EXPECT_EQ(dr(3, 0), value_at(2, 1, 0));
    EXPECT_EQ(dr(0, -5), value_at(2, 0, 0));
    EXPECT_EQ(dr(-9, 0), value_at(0, 1, 0)); // -1 / 4 truncates to 0
}

TEST_F(Sampling, WithoutACurrentPixelTheLastPositionIsClampedIntoTheBand)
{
    // Start and Interpass: in_ptr is null or left over, the position is the
    // last the pixel loop held, possibly outside the band requested since.
    deliver(six_by_four, 3);
    pixel_context.in_ptr = nullptr;
    pixel_context.column = 50;
    pixel_context.row = -3;
    EXPECT_EQ(dr(0, 0), value_at(5, 0, 0));
    EXPECT_EQ(dg(-48, 4), value_at(2, 1, 1));
    EXPECT_EQ(convolve_red(1, 1, 1, 1, 1, 1, 1, 1, 1, 1), 9 * value_at(5, 0, 0));
    pixel_context.in_ptr = reinterpret_cast<unsigned char*>(uintptr_t(16)); // never followed
    pixel_context.column = INT_MIN;
    pixel_context.row = INT_MAX;
    EXPECT_EQ(db(INT_MIN, INT_MAX), value_at(0, 3, 2));
    EXPECT_EQ(convolve_blue(0, 0, 0, 0, 1, 0, 0, 0, 0, 1), value_at(0, 3, 2));
}

// ---- convolution

TEST_F(Sampling, ConvolutionOfTheInterior)
{
    deliver(six_by_four, 3);
    at(2, 1);
    EXPECT_EQ(convolve_red(0, 0, 0, 0, 1, 0, 0, 0, 0, 1), value_at(2, 1, 0));
    EXPECT_EQ(convolve_green(0, 0, 0, 0, 0, 1, 0, 0, 0, 1), value_at(3, 1, 1));
    int32_t sum = 0, w = 1;
    int32_t weights[9];
    for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx) {
            weights[(dy + 1) * 3 + dx + 1] = w;
            sum += w * value_at(2 + dx, 1 + dy, 2);
            w = w * 3 - 7;
        }
    EXPECT_EQ(convolve_blue(weights[0], weights[1], weights[2], weights[3], weights[4], weights[5], weights[6],
                            weights[7], weights[8], -7),
              sum / -7);
    EXPECT_EQ(convolve_red(1, 1, 1, 1, 1, 1, 1, 1, 1, 0), 0);
}

TEST_F(Sampling, ConvolutionAtTheBandEdgesRepeatsTheCentre)
{
    deliver(six_by_four, 3);
    // First row: the rows above and below are the centre row.
    at(2, 0);
    const int32_t row0 = value_at(1, 0, 0) + value_at(2, 0, 0) + value_at(3, 0, 0);
    EXPECT_EQ(convolve_red(1, 1, 1, 1, 1, 1, 1, 1, 1, 1), 3 * row0);
    // Last column: the side columns are the centre column.
    at(5, 2);
    EXPECT_EQ(convolve_green(0, 0, 0, 0, 0, 1, 0, 0, 0, 1), value_at(5, 2, 1));
    EXPECT_EQ(convolve_green(0, 1, 0, 0, 0, 0, 0, 1, 0, 1), value_at(5, 1, 1) + value_at(5, 3, 1));
    // First column: above-left is the pixel above.
    at(0, 1);
    EXPECT_EQ(convolve_red(1, 0, 0, 0, 0, 0, 0, 0, 0, 1), value_at(0, 0, 0));
    EXPECT_EQ(convolve_red(0, 0, 0, 1, 0, 0, 0, 0, 0, 1), value_at(0, 1, 0));
    // Corners and a one-pixel band read the centre only.
    at(5, 3);
    EXPECT_EQ(convolve_blue(1, 1, 1, 1, 1, 1, 1, 1, 1, 9), value_at(5, 3, 2));
    deliver(Rect16{7, 4, 8, 5}, 3);
    at(4, 7);
    EXPECT_EQ(convolve_red(1, 2, 3, 4, 5, 6, 7, 8, 9, 1), 45 * value_at(4, 7, 0));
    // A uniform picture blurs to itself.
    deliver(six_by_four, 3);
    std::memset(input.get(), 90, 6 * 4 * 3);
    at(3, 2);
    EXPECT_EQ(convolve_red(1, 1, 1, 1, 1, 1, 1, 1, 1, 9), 90);
}

TEST_F(Sampling, ConvolutionArithmeticWraps)
{
    deliver(six_by_four, 1);
    std::memset(input.get(), 2, 6 * 4);
    at(2, 1);
    EXPECT_EQ(convolve_red(0, 0, 0, 0, 0x40000000, 0, 0, 0, 0, -1), INT_MIN);
    EXPECT_EQ(convolve_blue(0, 0, 0, 0, 3, 0, 0, 0, 0, 1), 6); // grey: plane 0
}

// ---- the current pixel's variables

TEST_F(Sampling, InputValueAndSetOutput)
{
    deliver(six_by_four, 3);
    for (int k = 0; k < 8; ++k) kernel_vars.v[k] = 10 + k;
    EXPECT_EQ(input_value(0), 14);
    EXPECT_EQ(input_value(2), 16);
    EXPECT_EQ(input_value(3), 0);
    EXPECT_EQ(input_value(4), 0);
    EXPECT_EQ(input_value(-1), 0);
    EXPECT_EQ(set_output(3, 77), 77);
    EXPECT_EQ(kernel_vars.v[slot::out_alpha], 13);
    EXPECT_EQ(set_output(4, 77), 0);
    EXPECT_EQ(set_output(1, 300), 300);
    EXPECT_EQ(kernel_vars.v[slot::out_green], 300);
    pixel_context.pixel_stride = 4;
    EXPECT_EQ(input_value(3), 17);
    EXPECT_EQ(set_output(3, -4), -4);
    EXPECT_EQ(kernel_vars.v[slot::out_alpha], -4);
}

} // namespace
