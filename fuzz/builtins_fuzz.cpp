// libFuzzer target for the built-ins: every slot of BuiltinTable called with
// arbitrary arguments, in every pass, on bands with arbitrary rectangles,
// strides, pixel positions and preview zoom. Each buffer is a heap block of
// exactly the bytes its rectangle and strides need (or a few bytes when they
// contradict each other, so that nothing may be read), and the sanitizers
// report any byte touched outside it. Results that have documented bounds are
// checked too.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/definition.h"
#include "fuzz/fuzz_values.h"
#include "runtime/builtins.h"
#include "runtime/kernel.h"
#include "settings/settings.h"
#include "runtime/host_calls.h"
#include "shell/shell.h"
#include "support/fake_platform.h"

namespace {

void require(bool holds)
{
    if (!holds) std::abort();
}

double any_double(FuzzedDataProvider& in)
{
    const uint64_t bits = in.ConsumeIntegral<uint64_t>();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d; // NaN and infinities included
}

// One area as a host might describe it: rectangle, row stride and buffer.
struct Area {
    Rect16 rect{};
    int32_t row_bytes = 0;
    std::unique_ptr<unsigned char[]> buffer;
    size_t size = 0;

    void make(FuzzedDataProvider& in, int32_t stride)
    {
        const bool far = in.ConsumeIntegralInRange(0, 7) == 0;
        const int32_t top = far ? in.ConsumeIntegral<int16_t>() : in.ConsumeIntegralInRange(-3, 10);
        const int32_t left = far ? in.ConsumeIntegral<int16_t>() : in.ConsumeIntegralInRange(-3, 10);
        const int32_t height = in.ConsumeIntegralInRange(-2, 7);
        const int32_t width = in.ConsumeIntegralInRange(-2, 7);
        rect.top = static_cast<int16_t>(top);
        rect.left = static_cast<int16_t>(left);
        rect.bottom = static_cast<int16_t>(top + height);
        rect.right = static_cast<int16_t>(left + width);

        const int64_t w = int64_t(rect.right) - rect.left, h = int64_t(rect.bottom) - rect.top;
        const int64_t row_span = w * stride;
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: row_bytes = static_cast<int32_t>(row_span); break;
        case 1: row_bytes = static_cast<int32_t>(row_span + in.ConsumeIntegralInRange(0, 9)); break;
        case 2: row_bytes = static_cast<int32_t>(row_span - in.ConsumeIntegralInRange(1, 9)); break;
        default: row_bytes = in.ConsumeIntegral<int32_t>(); break;
        }
        // A consistent description gets exactly the bytes it needs; any
        // other gets a few, none of which may be read.
        const bool consistent = w > 0 && h > 0 && stride > 0 && row_bytes >= row_span;
        const int64_t extent = consistent ? (h - 1) * row_bytes + row_span : 0;
        if (consistent && extent > 4096) row_bytes = -1; // too large to serve: make it contradictory
        size = consistent && row_bytes >= 0 ? size_t(extent) : in.ConsumeIntegralInRange<size_t>(1, 8);
        buffer.reset(new unsigned char[size]);
        for (size_t i = 0; i < size; ++i) buffer[i] = static_cast<unsigned char>(i * 37 + 11);
    }

    // Whether the buffer holds everything the description needs with this
    // stride, or the description contradicts itself (nothing may be read).
    bool serves(int32_t stride) const
    {
        const int64_t w = int64_t(rect.right) - rect.left, h = int64_t(rect.bottom) - rect.top;
        const int64_t row_span = w * stride;
        if (w <= 0 || h <= 0 || row_bytes < row_span) return true;
        return (h - 1) * row_bytes + row_span <= int64_t(size);
    }
};

FilterRecord record;
Area input_area, mask_area;
unsigned char abort_answer;

Boolean PS_CDECL fuzz_abort()
{
    return abort_answer;
}

void deliver_input(FuzzedDataProvider& in)
{
    int32_t stride = in.ConsumeIntegralInRange(-1, 6);
    if (in.ConsumeIntegralInRange(0, 15) == 0) stride = in.ConsumeBool() ? INT32_MIN : INT32_MAX;
    run_state.pixel_context.pixel_stride = stride;
    input_area.make(in, stride > 0 && stride < 64 ? stride : 1);
    record.inRect = input_area.rect;
    record.inRowBytes = input_area.row_bytes;
    record.inData = in.ConsumeIntegralInRange(0, 9) == 0 ? nullptr : input_area.buffer.get();
    switch (in.ConsumeIntegralInRange(0, 2)) { // never followed, whatever it holds
    case 0: run_state.pixel_context.in_ptr = nullptr; break;
    case 1: run_state.pixel_context.in_ptr = input_area.buffer.get(); break;
    default: run_state.pixel_context.in_ptr = input_area.buffer.get() + input_area.size; break;
    }
}

void deliver_mask(FuzzedDataProvider& in)
{
    mask_area.make(in, 1);
    record.maskRect = mask_area.rect;
    record.maskRowBytes = mask_area.row_bytes;
    record.maskData = in.ConsumeBool() ? nullptr : mask_area.buffer.get();
}

void move_pixel(FuzzedDataProvider& in)
{
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        run_state.pixel_context.column = in.ConsumeIntegral<int32_t>();
        run_state.pixel_context.row = in.ConsumeIntegral<int32_t>();
    } else {
        run_state.pixel_context.column = record.inRect.left + in.ConsumeIntegralInRange(-2, 9);
        run_state.pixel_context.row = record.inRect.top + in.ConsumeIntegralInRange(-2, 9);
    }
}

void set_up_module(FuzzedDataProvider& in)
{
    fake_platform.reset();
    fake_platform.fail_allocations = in.ConsumeIntegralInRange(0, 7) == 0;
    fake_platform.time_of_day_ms = any_value(in);
    fake_platform.calendar_seconds = any_double(in);
    reset_state_builtins();
    reset_colour_cache();
    reset_angle_resolution();

    record = FilterRecord{};
    abort_answer = in.ConsumeIntegral<unsigned char>();
    record.abortProc = in.ConsumeBool() ? fuzz_abort : nullptr;
    run_state.filter_record = in.ConsumeIntegralInRange(0, 15) == 0 ? nullptr : &record;

    run_state.pixel_context = PixelContext{};
    run_state.pixel_context.image_width = any_value(in);
    run_state.pixel_context.image_height = any_value(in);
    for (int k = 0; k < 3; ++k) {
        run_state.pixel_context.fore_colour[k] = in.ConsumeIntegral<unsigned char>();
        run_state.pixel_context.back_colour[k] = in.ConsumeIntegral<unsigned char>();
    }
    deliver_input(in);
    deliver_mask(in);
    move_pixel(in);
    run_state.zoom_factor = in.ConsumeIntegralInRange(0, 3) == 0 ? any_value(in) : in.ConsumeIntegralInRange(1, 5);
    const int32_t since = any_value(in);
    if (since == 0) run_state.mode = RunMode::real_run;
    else if (since == -1) run_state.mode = RunMode::rendering_stopped;
    else begin_rendering(since);

    for (int32_t& v : control_values) v = any_value(in);
    for (int k = 0; k < 8; ++k) {
        filter_definition.controls[k].min_value = any_value(in);
        filter_definition.controls[k].max_value = any_value(in);
    }
    filter_definition.colour_count = any_value(in);
    for (uint32_t& c : filter_definition.custom_colours) c = in.ConsumeIntegral<uint32_t>();
    filter_definition.put_array_size = in.ConsumeIntegralInRange(-3, 600);
    for (int32_t& v : kernel_vars.v) v = 0;
    for (int k = 0; k < 8; ++k) kernel_vars.v[k] = any_value(in);

    run_state.current_pass = Start;
    create_put_array();
}

bool byte(int32_t v)
{
    return v >= 0 && v <= 255;
}

void call_slot(FuzzedDataProvider& in, int slot_number)
{
    const BuiltinTable& t = builtin_table;
    int32_t a[10];
    for (int32_t& v : a) v = any_value(in);
    int32_t r = 0;
    switch (slot_number) {
    case 0: r = t.abs_value(a[0]); break;
    case 1: r = t.add_capped(a[0], a[1], a[2]); break;
    case 2: r = t.polar_angle(a[0], a[1]); break;
    case 3: r = t.polar_radius(a[0], a[1]); require(r >= 0 && r <= 46340); break;
    case 4: r = t.convolve_red(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]); break;
    case 5: r = t.convolve_green(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]); break;
    case 6: r = t.convolve_blue(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]); break;
    case 7: r = t.slider(a[0]); break;
    case 8: r = t.cos_scaled(a[0]); require(r >= -512 && r <= 512); break;
    case 9: r = t.abs_difference(a[0], a[1]); break;
    case 10: r = t.fetch(a[0]); break;
    case 11: r = t.slider_ramp(a[0], a[1]); break;
    case 12: r = t.maximum(a[0], a[1]); break;
    case 13: r = t.minimum(a[0], a[1]); break;
    case 14: r = t.blend(a[0], a[1], a[2], a[3]); break;
    case 15: r = t.put(a[0], a[1]); break;
    case 16: r = t.src_polar(a[0], a[1], a[2]); require(byte(r)); break;
    case 17:
        r = t.random_between(a[0], a[1]);
        require(r >= (a[0] < a[1] ? a[0] : a[1]) && r <= (a[0] < a[1] ? a[1] : a[0]));
        break;
    case 18: r = t.polar_x(a[0], a[1]); break;
    case 19: r = t.polar_y(a[0], a[1]); break;
    case 20: r = t.map_range(a[0], a[1], a[2], a[3], a[4]); break;
    case 21: r = t.sin_scaled(a[0]); require(r >= -512 && r <= 512); break;
    case 22: r = t.square_root(a[0]); require(r >= 0 && r <= 46340); break;
    case 23: r = t.src(a[0], a[1], a[2]); require(byte(r)); break;
    case 24: r = t.subtract_floored(a[0], a[1], a[2]); break;
    case 25: r = t.tangent(a[0]); break;
    case 26: r = t.slider_scaled(a[0], a[1], a[2]); break;
    case 27:
        r = t.set_hls(a[0], a[1], a[2]);
        require(byte(kernel_vars.v[0]) && byte(kernel_vars.v[1]) && byte(kernel_vars.v[2]));
        break;
    case 28: r = t.hue_of(a[0], a[1], a[2]); require(r >= 0 && r <= 1023); break;
    case 29: r = t.lightness_of(a[0], a[1], a[2]); require(byte(r)); break;
    case 30: r = t.saturation_of(a[0], a[1], a[2]); require(byte(r)); break;
    case 31: r = t.dr(a[0], a[1]); require(byte(r)); break;
    case 32: r = t.dg(a[0], a[1]); require(byte(r)); break;
    case 33: r = t.db(a[0], a[1]); require(byte(r)); break;
    case 34: r = t.da(a[0], a[1]); require(byte(r)); break;
    case 35: r = t.dplane(a[0], a[1], a[2]); require(byte(r)); break;
    case 36: r = t.input_value(a[0]); break;
    case 37: r = t.set_output(a[0], a[1]); break;
    case 38: r = t.fill_gamma(a[0], a[1], a[2]); require(r == 0 || r == 1); break;
    case 39: r = t.sort_range(a[0], a[1]); require(r == 0 || r == 1); break;
    case 40: r = t.src_interpolated(a[0], a[1], a[2], a[3]); require(r >= -1020 && r <= 1275); break;
    case 41: r = t.random_seed(a[0]); break;
    case 42: r = t.color_component(a[0], a[1]); require(byte(r)); break;
    case 43: r = t.check(a[0]); break;
    case 44: r = t.power(a[0], a[1], a[2]); require(r >= 0); break;
    case 45: r = t.angle_resolution(a[0]); require(r > 0); break;
    case 51: r = t.reserved_zero(a[0], a[1]); require(r == 0); break;
    case 52: r = t.test_abort(); break;
    default: require(t.empty[slot_number - 46] == nullptr); break;
    }
    (void)r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    set_up_module(in);
    int steps = 0;
    while (in.remaining_bytes() > 0 && ++steps < 400) {
        switch (in.ConsumeIntegralInRange(0, 15)) {
        case 0: run_state.current_pass = static_cast<KernelPass>(in.ConsumeIntegralInRange(0, 3)); break;
        case 1: move_pixel(in); break;
        case 2: deliver_input(in); break;
        case 3: deliver_mask(in); break;
        case 4: run_state.zoom_factor = any_value(in); break;
        case 5: run_state.current_pass = Start; create_put_array(); break;
        case 6: seed_random_from_clock(); fake_platform.calendar_seconds = any_double(in); break;
        case 7: // the same buffer read with fewer bytes per pixel
            if (run_state.pixel_context.pixel_stride > 1 && input_area.serves(run_state.pixel_context.pixel_stride - 1))
                --run_state.pixel_context.pixel_stride;
            break;
        case 8: // a test loop: the abort test's host and clock paths
            for (int i = 0; i < 10001; ++i) builtin_table.test_abort();
            break;
        default: call_slot(in, in.ConsumeIntegralInRange(0, 52)); break;
        }
    }
    fake_platform.reset();
    return 0;
}
