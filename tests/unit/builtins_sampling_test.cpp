// Sampling built-ins on bands served from exact-size buffers: every buffer is
// the smallest block the rectangle and strides need, so the sanitizers report
// any byte read outside it.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>

#include "runtime/builtins.h"
#include "runtime/kernel.h"
#include "runtime/host_calls.h"
#include "shell/shell.h"

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

struct Sampling : ::testing::Test {
    FilterRecord record{};
    std::unique_ptr<unsigned char[]> input, mask;
    Rect16 rect{};
    int32_t stride = 0;

    FilterRecord* saved_record = run_state.filter_record;
    PixelContext saved_context = run_state.pixel_context;
    KernelVariables saved_vars = kernel_vars;
    int32_t saved_zoom = run_state.zoom_factor;

    void SetUp() override
    {
        reset_angle_resolution();
        run_state.zoom_factor = 1;
        run_state.pixel_context = PixelContext{};
        run_state.filter_record = &record;
    }
    void TearDown() override
    {
        run_state.filter_record = saved_record;
        run_state.pixel_context = saved_context;
        kernel_vars = saved_vars;
        run_state.zoom_factor = saved_zoom;
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
        run_state.pixel_context.pixel_stride = pixel_stride;
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
        run_state.pixel_context.column = column;
        run_state.pixel_context.row = row;
        run_state.pixel_context.in_ptr = input.get() + size_t(row - rect.top) * record.inRowBytes +
                               size_t(column - rect.left) * stride;
    }
};

const Rect16 six_by_four = {0, 0, 4, 6}; // top, left, bottom, right

TEST_F(Sampling, SrcClampsToTheBand)
{
    deliver(six_by_four, 3);
    EXPECT_EQ(src(3, 2, 2), value_at(3, 2, 2));
    EXPECT_EQ(src(-10, -10, 0), value_at(0, 0, 0));
    EXPECT_EQ(src(6 + 99, 2, 1), value_at(5, 2, 1));
    EXPECT_EQ(src(INT_MIN, INT_MAX, 2), value_at(0, 3, 2));
    EXPECT_EQ(src(1, 1, 5), 0);
    EXPECT_EQ(src(1, 1, -1), 0);
    // A later band with padded rows: rows outside it give its nearest row.
    deliver(Rect16{10, 3, 14, 9}, 4, 4 * 6 + 5);
    EXPECT_EQ(src(2, 3, 0), value_at(3, 10, 0));
    EXPECT_EQ(src(8, 100, 3), value_at(8, 13, 3));
}

TEST_F(Sampling, PlanesAPixelLacks)
{
    // Chosen: plane 3 of a three-plane pixel is opaque, read from nowhere;
    // the bottom-right pixel is the last bytes of its buffer.
    deliver(six_by_four, 3);
    EXPECT_EQ(src(5, 3, 3), 255);
    // A grey pixel stays grey: its missing colour planes read as plane 0.
    deliver(six_by_four, 1);
    EXPECT_EQ(src(5, 3, 1), value_at(5, 3, 0));
    EXPECT_EQ(src(5, 3, 2), value_at(5, 3, 0));
    EXPECT_EQ(src(5, 3, 3), 255);
    deliver(six_by_four, 2);
    EXPECT_EQ(src(5, 3, 1), value_at(5, 3, 1));
    EXPECT_EQ(src(5, 3, 2), value_at(5, 3, 0));
}

TEST_F(Sampling, BandsThatCannotBeReadYieldZero)
{
    auto nothing_read = [] {
        for (int32_t z = 0; z < 4; ++z)
            if (src(1, 1, z) != 0 || dplane(0, 0, z) != 0) return false;
        return dr(0, 0) == 0 && convolve_red(1, 1, 1, 1, 1, 1, 1, 1, 1, 1) == 0;
    };
    deliver(six_by_four, 3);
    at(1, 1);
    record.inData = nullptr;
    EXPECT_TRUE(nothing_read()) << "no data";
    record.inData = input.get();
    record.inRect = Rect16{2, 0, 2, 6};
    EXPECT_TRUE(nothing_read()) << "no rows";
    record.inRect = Rect16{0, 6, 4, 0};
    EXPECT_TRUE(nothing_read()) << "reversed columns";
    record.inRect = six_by_four;
    record.inRowBytes = 6 * 3 - 1;
    EXPECT_TRUE(nothing_read()) << "rows shorter than the rectangle";
    record.inRowBytes = -18;
    EXPECT_TRUE(nothing_read()) << "negative row bytes";
    record.inRowBytes = 18;
    run_state.pixel_context.pixel_stride = 0;
    EXPECT_TRUE(nothing_read()) << "no bytes per pixel";
    run_state.pixel_context.pixel_stride = 4;
    EXPECT_TRUE(nothing_read()) << "more bytes per pixel than the rows hold";
    run_state.filter_record = nullptr;
    EXPECT_TRUE(nothing_read()) << "no record";
    EXPECT_EQ(src(1, 1, 4), 255);
}

TEST_F(Sampling, ANewBandIsSeenWithoutNotice)
{
    deliver(six_by_four, 3);
    EXPECT_EQ(src(0, 0, 0), value_at(0, 0, 0));
    // Only the buffer changes; the old one is freed, reading it would be reported.
    deliver(six_by_four, 3);
    input[0] = 0xAB;
    EXPECT_EQ(src(0, 0, 0), 0xAB);
    // Only the rectangle changes: one buffer described as rows 4-7, then 0-3.
    deliver(Rect16{4, 0, 8, 6}, 3);
    EXPECT_EQ(src(0, 5, 0), value_at(0, 5, 0));
    record.inRect = six_by_four;
    EXPECT_EQ(src(0, 5, 0), value_at(0, 7, 0));
    // Only the row stride changes: row 1 now starts in row 0's padding.
    deliver(six_by_four, 3, 20);
    EXPECT_EQ(src(0, 1, 0), value_at(0, 1, 0));
    record.inRowBytes = 18;
    EXPECT_EQ(src(0, 1, 0), 0xEE);
    // Only the bytes per pixel change: four planes read as three.
    deliver(Rect16{20, 1, 22, 3}, 4);
    EXPECT_EQ(src(2, 20, 0), value_at(2, 20, 0));
    run_state.pixel_context.pixel_stride = 3;
    EXPECT_EQ(src(2, 20, 0), value_at(1, 20, 3));
}

TEST_F(Sampling, PreviewPositionsAreDividedByTheZoom)
{
    deliver(Rect16{0, 0, 8, 16}, 3);
    run_state.zoom_factor = 4;
    EXPECT_EQ(src(43, 15, 1), value_at(10, 3, 1));
    EXPECT_EQ(src(-7, 2, 0), value_at(0, 0, 0));
    at(2, 1); // image position (8, 4)
    EXPECT_EQ(dr(4, 0), value_at(3, 1, 0));
    EXPECT_EQ(dr(3, 0), value_at(2, 1, 0));
    EXPECT_EQ(dr(-9, 0), value_at(0, 1, 0)); // -1 / 4 truncates to 0
    // The offset joins the full-image position before the division: one
    // image pixel back from (8, 4) is another preview pixel.
    EXPECT_EQ(dr(-1, 0), value_at(1, 1, 0));
    EXPECT_EQ(dr(0, -1), value_at(2, 0, 0));
    run_state.zoom_factor = -3;
    EXPECT_EQ(src(5, 5, 0), value_at(5, 5, 0));
}

TEST_F(Sampling, MaskLookups)
{
    deliver(six_by_four, 3);
    EXPECT_EQ(src(1, 1, 4), 255);
    deliver_mask(Rect16{1, 2, 3, 5}, 7);
    EXPECT_EQ(src(3, 2, 4), mask_at(3, 2));
    EXPECT_EQ(src(-5, 100, 4), mask_at(2, 2));
    run_state.zoom_factor = 2; // the mask comes at the input's rate
    EXPECT_EQ(src(9, 3, 4), mask_at(4, 1));
    run_state.zoom_factor = 1;
    // Chosen: a mask without a pixel to give reads like no mask at all.
    record.maskRowBytes = 2;
    EXPECT_EQ(src(3, 2, 4), 255);
    record.maskRowBytes = 7;
    record.maskRect = Rect16{0, 0, 0, 0}; // the preview's empty mask area
    EXPECT_EQ(src(3, 2, 4), 255);
}

TEST_F(Sampling, PolarSamplesAroundTheImageCentre)
{
    deliver(Rect16{0, 0, 11, 21}, 3);
    run_state.pixel_context.image_width = 21; // centre (10, 5), not the effect centre
    run_state.pixel_context.image_height = 11;
    run_state.pixel_context.centre_column = 2;
    EXPECT_EQ(src_polar(0, 3, 0), value_at(13, 5, 0));
    EXPECT_EQ(src_polar(256, 3, 1), value_at(10, 8, 1));
    EXPECT_EQ(src_polar(128, 4, 0), value_at(12, 7, 0)); // 2.83 truncated each way
    EXPECT_EQ(src_polar(512, INT_MIN, 0), value_at(20, 5, 0));
    angle_resolution(180);
    EXPECT_EQ(src_polar(90, 3, 0), value_at(10, 8, 0));
    reset_angle_resolution();
}

TEST_F(Sampling, InterpolationWeighsTheFourNeighbours)
{
    deliver(Rect16{0, 0, 8, 8}, 3);
    EXPECT_EQ(src_interpolated(3, 0, 2, 0), (value_at(1, 0, 0) + value_at(2, 0, 0)) / 2);
    EXPECT_EQ(src_interpolated(5, 5, 1, 2), src(5, 5, 2));
    const int32_t top = (value_at(1, 1, 0) * 3 + value_at(2, 1, 0)) / 4; // (5/4, 7/4)
    const int32_t bottom = (value_at(1, 2, 0) * 3 + value_at(2, 2, 0)) / 4;
    EXPECT_EQ(src_interpolated(5, 7, 4, 0), (top + bottom * 3) / 4);
    EXPECT_EQ(src_interpolated(-1, 0, 2, 0), (value_at(0, 0, 0) * 3 - value_at(1, 0, 0)) / 2);
    EXPECT_EQ(src_interpolated(3, 0, 0, 0), 0);
    EXPECT_EQ(src_interpolated(3, 0, 2, 4), 0);
    // Chosen: weights multiplied out in 64 bits, exact for every n.
    const int64_t n = INT_MAX, f = INT_MAX - 1;
    EXPECT_EQ(src_interpolated(INT_MAX - 1, 0, INT_MAX, 0),
              (int64_t(value_at(0, 0, 0)) * (n - f) + int64_t(value_at(1, 0, 0)) * f) / n);
}

TEST_F(Sampling, RelativeLookups)
{
    deliver(six_by_four, 3);
    at(2, 1);
    EXPECT_EQ(dr(0, 0), value_at(2, 1, 0));
    EXPECT_EQ(dg(1, 0), value_at(3, 1, 1));
    EXPECT_EQ(db(0, -1), value_at(2, 0, 2));
    EXPECT_EQ(dg(INT_MAX, INT_MAX), value_at(5, 3, 1));
    EXPECT_EQ(da(0, 0), 255);
    EXPECT_EQ(dplane(0, 0, 3), 0);
    deliver(six_by_four, 4);
    at(2, 1);
    EXPECT_EQ(da(0, 0), value_at(2, 1, 3));
    EXPECT_EQ(dplane(-1, 0, 3), value_at(1, 1, 3));
    deliver(six_by_four, 1);
    at(2, 1);
    EXPECT_EQ(db(1, 0), value_at(3, 1, 0)); // grey
    EXPECT_EQ(dplane(0, 0, 1), 0);
}

TEST_F(Sampling, WithoutACurrentPixelTheLastPositionIsClampedIntoTheBand)
{
    // Start and Interpass: in_ptr is null or left over, and the position is
    // the last one the pixel loop held, perhaps outside today's band.
    deliver(six_by_four, 3);
    run_state.pixel_context.in_ptr = nullptr;
    run_state.pixel_context.column = 50;
    run_state.pixel_context.row = -3;
    EXPECT_EQ(dr(0, 0), value_at(5, 0, 0));
    EXPECT_EQ(convolve_red(1, 1, 1, 1, 1, 1, 1, 1, 1, 1), 9 * value_at(5, 0, 0));
    run_state.pixel_context.in_ptr = reinterpret_cast<unsigned char*>(uintptr_t(16)); // never followed
    run_state.pixel_context.column = INT_MIN;
    run_state.pixel_context.row = INT_MAX;
    EXPECT_EQ(db(INT_MIN, INT_MAX), value_at(0, 3, 2));
}

TEST_F(Sampling, ConvolutionOfTheInterior)
{
    deliver(six_by_four, 3);
    at(2, 1);
    EXPECT_EQ(convolve_red(0, 0, 0, 0, 1, 0, 0, 0, 0, 1), value_at(2, 1, 0));
    EXPECT_EQ(convolve_green(0, 0, 0, 0, 0, 1, 0, 0, 0, 1), value_at(3, 1, 1));
    int32_t w[9], sum = 0;
    for (int32_t k = 0; k < 9; ++k) {
        w[k] = 1 - 5 * k;
        sum += w[k] * value_at(2 + k % 3 - 1, 1 + k / 3 - 1, 2);
    }
    EXPECT_EQ(convolve_blue(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], -7), sum / -7);
    EXPECT_EQ(convolve_red(1, 1, 1, 1, 1, 1, 1, 1, 1, 0), 0);
    std::memset(input.get(), 2, 6 * 4 * 3);
    EXPECT_EQ(convolve_red(0, 0, 0, 0, 0x40000000, 0, 0, 0, 0, -1), INT_MIN); // wraps
}

TEST_F(Sampling, ConvolutionAtTheBandEdgesRepeatsTheCentre)
{
    deliver(six_by_four, 3);
    at(2, 0); // first row: above and below are the centre row
    EXPECT_EQ(convolve_red(1, 1, 1, 1, 1, 1, 1, 1, 1, 1),
              3 * (value_at(1, 0, 0) + value_at(2, 0, 0) + value_at(3, 0, 0)));
    at(5, 2); // last column: the sides are the centre column
    EXPECT_EQ(convolve_green(0, 0, 0, 0, 0, 1, 0, 0, 0, 1), value_at(5, 2, 1));
    EXPECT_EQ(convolve_green(0, 1, 0, 0, 0, 0, 0, 1, 0, 1), value_at(5, 1, 1) + value_at(5, 3, 1));
    at(0, 1); // first column
    EXPECT_EQ(convolve_red(1, 0, 0, 0, 0, 0, 0, 0, 0, 1), value_at(0, 0, 0));
    at(5, 3); // a corner
    EXPECT_EQ(convolve_blue(1, 1, 1, 1, 1, 1, 1, 1, 1, 9), value_at(5, 3, 2));
    deliver(Rect16{7, 4, 8, 5}, 1); // one grey pixel
    at(4, 7);
    EXPECT_EQ(convolve_blue(1, 2, 3, 4, 5, 6, 7, 8, 9, 1), 45 * value_at(4, 7, 0));
}

TEST_F(Sampling, InputValueAndSetOutput)
{
    deliver(six_by_four, 3);
    for (int k = 0; k < 8; ++k) kernel_vars.v[k] = 10 + k;
    EXPECT_EQ(input_value(0), 14);
    EXPECT_EQ(input_value(3), 0);
    EXPECT_EQ(input_value(4), 0);
    EXPECT_EQ(set_output(3, 77), 77);
    EXPECT_EQ(kernel_vars.v[slot::out_alpha], 13);
    EXPECT_EQ(set_output(4, 77), 0);
    EXPECT_EQ(set_output(1, 300), 300);
    EXPECT_EQ(kernel_vars.v[slot::out_green], 300);
    run_state.pixel_context.pixel_stride = 4;
    EXPECT_EQ(input_value(3), 17);
    EXPECT_EQ(set_output(3, -4), -4);
    EXPECT_EQ(kernel_vars.v[slot::out_alpha], -4);
}

} // namespace
