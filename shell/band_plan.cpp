#include "shell/band_plan.h"

#include "runtime/run_state.h"

BandPlan band_plan;

int32_t plan_band_height(int32_t max_space, int32_t planes, int32_t width, int32_t height)
{
    // 64-bit: the divisor of a very wide picture with many planes exceeds 32 bits.
    const int64_t divisor = (2 * int64_t{planes} + 2) * (int64_t{width} + 4);
    int64_t rows = divisor > 0 ? int64_t{max_space} / divisor : 0;
    if (rows > height) rows = height;
    // A maxSpace below one row would plan bands of no rows that never
    // advance. One row per band still lets the host decide: it delivers the
    // row or answers the request with an error, which ends the run.
    if (rows < 1) rows = 1;
    return static_cast<int32_t>(rows);
}

BandShape plan_bands(int32_t max_space, int32_t planes, int32_t width, int32_t height, const KernelReach* reach)
{
    const int32_t plain = plan_band_height(max_space, planes, width, height);
    if (plain >= height || !reach) return BandShape{plain, 0, 0, plain >= height};
    // A declaration beyond the picture reads nothing more than the picture.
    auto rows_of = [&](int32_t v) { return int64_t{v < 0 ? 0 : (v > height ? height : v)}; };
    const int64_t above = rows_of(reach->above), below = rows_of(reach->below);
    const int64_t half_row = (int64_t{planes} + 1) * (int64_t{width} + 4);
    const int64_t rows = half_row > 0 && max_space > 0 ? int64_t{max_space} / half_row : 0;
    const int64_t out_rows = (rows - above - below) / 2;
    if (out_rows < 1) return BandShape{plain, 0, 0, false};
    return BandShape{static_cast<int32_t>(out_rows), static_cast<int32_t>(above), static_cast<int32_t>(below), true};
}

namespace {

// The lower bound is tested first, so a bound pair with low above high yields low.
int16 clamp_to(int32_t v, int32_t low, int32_t high)
{
    return static_cast<int16>(v < low ? low : (v > high ? high : v));
}

// The band's rows reach `above` and `below` further; its columns are the band's.
Rect16 band_rect(int32_t left, int32_t top, int32_t low_h, int32_t low_v, int32_t high_h, int32_t high_v,
                 int32_t above = 0, int32_t below = 0)
{
    Rect16 r;
    r.left = clamp_to(left, low_h, high_h);
    r.top = clamp_to(top - above, low_v, high_v);
    r.right = clamp_to(left + band_plan.width, low_h, high_h);
    r.bottom = clamp_to(top + band_plan.height + below, low_v, high_v);
    return r;
}

} // namespace

void set_band_rects(int32_t left, int32_t top)
{
    FilterRecord* fr = run_state.filter_record;
    if (!fr) return;
    const Rect16 f = fr->filterRect;
    const PixelContext& pc = run_state.pixel_context;
    fr->outRect = band_rect(left, top, f.left, f.top, f.right, f.bottom);
    fr->maskRect = band_rect(left, top, f.left, f.top, f.right, f.bottom);
    fr->inRect = band_rect(left, top, 0, 0, pc.image_width, pc.image_height, band_plan.in_above, band_plan.in_below);
}
