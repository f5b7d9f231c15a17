// The built-ins that reach beyond the current pixel: the put array, the
// random generator, the controls and colours, and the abort test.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "runtime/definition.h"
#include "runtime/builtin_math.h"
#include "runtime/builtins.h"
#include "runtime/kernel.h"
#include "runtime/run_state.h"
#include "base/platform.h"
#include "runtime/host_calls.h"

using namespace builtin_math;

namespace {

int32_t* put_cells = nullptr;
int32_t put_count = 0;
uint32_t random_state = 0;
int32_t abort_calls = 0;

constexpr int32_t default_put_array_size = 256;
constexpr int32_t abort_test_interval = 10000;
constexpr int32_t preview_time_limit_ms = 2000;
constexpr int64_t day_ms = 86400000;

bool in_put_array(int32_t i)
{
    return i >= 0 && i < put_count;
}

int32_t draw()
{
    random_state = random_state * 1103515245u + 12345u;
    return static_cast<int32_t>((random_state >> 16) & 0x7FFF);
}

} // namespace

void reset_state_builtins()
{
    if (put_cells) platform::release(put_cells);
    put_cells = nullptr;
    put_count = 0;
    random_state = 0;
    abort_calls = 0;
}

// A size too large to be counted in bytes is treated like a failed allocation.
void create_put_array()
{
    int32_t length = filter_definition.put_array_size;
    if (length < 1) length = default_put_array_size;
    if (put_cells) platform::release(put_cells);
    put_cells = nullptr;
    put_count = 0;
    void* block = nullptr;
    if (static_cast<size_t>(length) <= SIZE_MAX / sizeof(int32_t))
        block = platform::alloc_zeroed(static_cast<size_t>(length) * sizeof(int32_t));
    if (!block) {
        show_error_box(platform::active_window(), "Cannot initialize put array (internal error)!");
        return;
    }
    put_cells = static_cast<int32_t*>(block);
    put_count = length;
}

int32_t put(int32_t v, int32_t i)
{
    if (!in_put_array(i)) return 0;
    put_cells[i] = v;
    return v;
}

int32_t fetch(int32_t i)
{
    return in_put_array(i) ? put_cells[i] : 0;
}

// Cells before the array's start are skipped arithmetically rather than one
// by one, so fill_gamma(g, INT32_MIN, INT32_MAX) costs no more than the array.
int32_t fill_gamma(int32_t g, int32_t start, int32_t n)
{
    if (run_state.current_pass != Start && run_state.current_pass != Interpass) return 1;
    if (n <= 1 || g <= 0) return 1;
    const double exponent = 100.0 / g;
    const double last = static_cast<double>(n) - 1.0;
    for (int64_t i = start < 0 ? -static_cast<int64_t>(start) : 0; i < n; ++i) {
        const int64_t j = start + i;
        if (j >= put_count) break;
        // The base lies in 0..1 and the exponent is positive, so the value
        // lies in 0..255.
        put_cells[j] = static_cast<int32_t>(255.0 * std::pow(static_cast<double>(i) / last, exponent));
    }
    return 0;
}

int32_t sort_range(int32_t start, int32_t n)
{
    if (start < 0 || n < 1 || static_cast<int64_t>(start) + n > put_count) return 1;
    std::sort(put_cells + start, put_cells + start + n);
    return 0;
}

int32_t random_seed(int32_t s)
{
    random_state = static_cast<uint32_t>(s);
    return 0;
}

// The product r * (b - a) is formed in 64 bits, so the result is the exact
// proportional point for every span; up to a span of 131076, where the 32-bit
// product still fits, it is the same number. With b < a the roles turn: the
// result runs from a (r = 0) down to b (r = 32767), again within the bounds.
int32_t random_between(int32_t a, int32_t b)
{
    const uint64_t r = static_cast<uint64_t>(draw());
    if (b >= a) {
        const uint64_t span = uint32_t(b) - uint32_t(a);
        return wrap(uint32_t(a) + static_cast<uint32_t>(r * span / 32767));
    }
    const uint64_t span = uint32_t(a) - uint32_t(b);
    return wrap(uint32_t(a) - static_cast<uint32_t>(r * span / 32767));
}

// Half a second or more counts as a full second. The seed is the count of
// seconds modulo 2^32, like a 32-bit calendar time; a clock that gives no
// finite reading seeds 0.
void seed_random_from_clock()
{
    double seconds = std::floor(platform::calendar_seconds() + 0.5);
    if (!std::isfinite(seconds)) seconds = 0.0;
    double low = std::fmod(seconds, 4294967296.0);
    if (low < 0) low += 4294967296.0;
    random_state = static_cast<uint32_t>(low);
}

int32_t slider(int32_t i)
{
    return i >= 0 && i <= 7 ? control_values[i] : 0;
}

int32_t check(int32_t i)
{
    if (i == 0) return control_values[check_box_1_control];
    if (i == 1) return control_values[check_box_2_control];
    return 0;
}

// The ramp is computed exactly in 64 bits, so even slider values far outside
// their ranges (stored settings are not to be trusted) keep the result in
// 0..255; for values whose 32-bit product fits, the result is the same.
int32_t slider_ramp(int32_t i, int32_t v)
{
    int32_t lo = 0, hi = 0;
    if (i >= 0 && i <= 3) {
        lo = control_values[2 * i];
        hi = control_values[2 * i + 1];
    }
    if (lo == hi) return v;
    if (lo < hi) {
        if (v <= lo) return 255;
        if (v >= hi) return 0;
        return static_cast<int32_t>(255 - (int64_t(v) - lo) * 255 / (int64_t(hi) - lo));
    }
    if (v <= hi) return 0;
    if (v >= lo) return 255;
    return static_cast<int32_t>((int64_t(v) - hi) * 255 / (int64_t(lo) - hi));
}

// A slider whose definition has equal minimum and maximum has no range to
// map from; it yields a, the start of the target range, like a slider that
// does not exist. The product and quotient wrap in 32 bits.
int32_t slider_scaled(int32_t i, int32_t a, int32_t b)
{
    if (i < 0 || i > 7) return a;
    const ControlDef& control = filter_definition.controls[i];
    const int32_t span = wrap_sub(control.max_value, control.min_value);
    if (span == 0) return a;
    return wrap_add(a, wrap_div(wrap_mul(control_values[i], wrap_sub(b, a)), span));
}

// Only eight custom colours exist, whatever colour_count claims.
int32_t color_component(int32_t i, int32_t k)
{
    if (k < 0 || k > 2) return 0;
    if (i == -1) return run_state.pixel_context.fore_colour[k];
    if (i == -2) return run_state.pixel_context.back_colour[k];
    const int32_t live = std::min<int32_t>(filter_definition.colour_count, 8);
    if (i < 0 || i >= live) return 0;
    return static_cast<int32_t>((filter_definition.custom_colours[i] >> (8 * k)) & 0xFF);
}

int32_t reserved_zero(int32_t, int32_t)
{
    return 0;
}

// The midnight correction adds whole days in one step instead of looping, so
// a clock reading far from the start time cannot stall the test.
int32_t test_abort()
{
    if (++abort_calls <= abort_test_interval) return 0;
    abort_calls = 0;
    if (run_state.mode != RunMode::rendering) return test_host_abort();
    int64_t elapsed = int64_t(platform::time_of_day_ms()) - run_state.rendering_since_ms;
    if (elapsed < 0) elapsed += (-elapsed + day_ms - 1) / day_ms * day_ms;
    if (elapsed > preview_time_limit_ms) {
        run_state.mode = RunMode::rendering_stopped;
        return 1;
    }
    return 0;
}
