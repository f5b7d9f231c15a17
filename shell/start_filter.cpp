// start_filter: the image description, the parameters dialog, the band plan
// and the order of the kernel passes over the bands of a real run.
#include <cstdint>

#include "base/rect.h"
#include "runtime/definition.h"
#include "runtime/builtins.h"
#include "settings/settings.h"
#include "runtime/host_calls.h"
#include "runtime/worker_pool.h"
#include "base/platform.h"
#include "shell/band_plan.h"
#include "shell/shell.h"
#include "ui/dialog.h"

namespace {

intptr_t host_window(const FilterRecord& fr)
{
    const PlatformData* data = static_cast<const PlatformData*>(fr.platformData);
    return data ? data->hwnd : 0;
}

void describe_image(const FilterRecord& fr)
{
    const int32_t stride = run_state.pixel_context.pixel_stride;
    run_state.pixel_context = PixelContext{};
    run_state.pixel_context.pixel_stride = stride;
    PixelContext& pc = run_state.pixel_context;
    pc.image_width = fr.imageSize.h;
    pc.image_height = fr.imageSize.v;
    pc.image_planes = fr.planes;
    // Summed wide: a host may hand any 16-bit size, and this runs before the
    // size is checked. Sizes a run accepts sum far below 2^31.
    const int64_t sum = int64_t{pc.image_width} * pc.image_width + int64_t{pc.image_height} * pc.image_height;
    pc.half_diagonal = integer_square_root(sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum)) / 2;
    for (int i = 0; i < 3; ++i) {
        pc.back_colour[i] = fr.backColor[i];
        pc.fore_colour[i] = fr.foreColor[i];
    }
    run_state.max_zoom_factor = 32;
    pc.pixel_stride = fr.planes;
    run_state.zoom_factor = 32;
}

// A picture the host describes without rows, columns or planes, or with a
// filterRect reaching outside it, cannot be planned in bands safely.
bool image_is_usable(const FilterRecord& fr)
{
    const int32_t width = fr.imageSize.h, height = fr.imageSize.v;
    const Rect16 f = fr.filterRect;
    return width >= 1 && height >= 1 && fr.planes >= 1 && 0 <= f.left && f.left <= f.right &&
           f.right <= width && 0 <= f.top && f.top <= f.bottom && f.bottom <= height;
}

// Every failed request ends the run with the host's code: its buffers are then
// missing or stale, and a run that went on would read or write through them,
// or report success for a picture it never saw. A host without advanceState
// delivers nothing at all.
int16 request_failure(const FilterRecord& fr, int32_t result)
{
    if (!fr.advanceState) return filterBadParameters;
    return static_cast<int16>(result);
}

// Asks for the band at `top` with all planes and checks that the host
// delivered the rectangles asked for: a band it moved or resized would leave
// pixels of the selection unvisited or visit pixels outside it.
int16 request_band(FilterRecord& fr, int32_t top)
{
    set_band_rects(0, top);
    fr.inLoPlane = fr.outLoPlane = 0;
    fr.inHiPlane = fr.outHiPlane = static_cast<int16>(fr.planes - 1);
    const Rect16 in = fr.inRect, out = fr.outRect, mask = fr.maskRect;
    const int32_t result = call_advance_state();
    if (result != 0) return request_failure(fr, result);
    if (!same_area(fr.inRect, in) || !same_area(fr.outRect, out) ||
        (fr.maskData && !same_area(fr.maskRect, mask)))
        return filterBadParameters;
    return noErr;
}

int16 band_loop(FilterRecord& fr, KernelPass pass)
{
    for (;;) {
        const int16 result = filter_band(true, pass);
        if (result != noErr) return result;
        band_plan.top += band_plan.height;
        if (band_plan.top >= run_state.pixel_context.image_height) {
            band_plan.top = 0;
            // The host takes the last band's output when the selector returns;
            // the empty rectangles say nothing more is wanted.
            if (pass == Main) fr.inRect = fr.outRect = fr.maskRect = Rect16{0, 0, 0, 0};
            return noErr;
        }
        const int16 request = request_band(fr, band_plan.top);
        if (request != noErr) return request;
    }
}

// The run's threads, offered to the pixel walk while the passes run. When the
// planned bands are worth splitting they start before the first band is
// requested, so that their start (about a millisecond under Wine) overlaps the
// host's delivery; they are joined when the run ends, cancelled or not,
// inside the start selector.
struct RunWorkers {
    WorkerPool pool;
    RunWorkers(int32_t workers, int32_t rows, int32_t width, int32_t planes)
        : pool(workers, rows, size_t(width) * size_t(planes))
    {
        run_state.workers = pool.count() > 1 ? &pool : nullptr;
        if (run_state.workers && worth_splitting(rows, width)) pool.start();
    }
    ~RunWorkers() { run_state.workers = nullptr; }
};

int16 run_passes(FilterRecord& fr, bool has_prepass)
{
    // Threads only for a Main block whose binding declares it pixel-local.
    const BoundBlock& main = kernel_binding.bound[0];
    const int64_t picture = (int64_t{fr.filterRect.bottom} - fr.filterRect.top) * band_plan.width;
    const bool split = main.pixel_local && main.walk && main.block == block_of(Main) &&
                       worth_threads(picture, main.copies_rows, worker_count_asked());
    const RunWorkers workers(split ? planned_worker_count() : 1, band_plan.height, band_plan.width, fr.planes);
    band_plan.top = 0;
    int16 result = request_band(fr, 0);
    if (result != noErr) return result;
    settle_effect_centre();
    run_kernel_pass(Start);
    if (has_prepass) {
        result = band_loop(fr, Prepass);
        if (result != noErr) return result;
        const int32_t handed_back = clear_area_request();
        if (handed_back != 0) return request_failure(fr, handed_back);
    }
    band_plan.top = 0;
    result = request_band(fr, 0);
    if (result != noErr) return result;
    run_kernel_pass(Interpass);
    return band_loop(fr, Main);
}

} // namespace

int16 start_filter()
{
    FilterRecord* fr = run_state.filter_record;
    if (!fr) return filterBadParameters;
    ensure_settings_key();
    seed_random_from_clock();
    describe_image(*fr);
    if (!image_is_usable(*fr)) return filterBadParameters;

    const intptr_t owner = host_window(*fr);
    if (show_parameters_dialog(parameters_requested, owner) == 0) return userCanceledErr;

    const bool has_prepass = block_of(Prepass) != nullptr;
    const int32_t width = run_state.pixel_context.image_width, height = run_state.pixel_context.image_height;
    run_state.pixels_done = 0;
    run_state.zoom_factor = 1;
    // The preview may have left its own state behind; a real run has none.
    run_state.mode = RunMode::real_run;
    run_state.pixel_context.pixel_stride = fr->planes;
    run_state.pixels_total = width * height * (has_prepass ? 2 : 1);
    band_plan.width = width;
    // The reach for the settings the dialog left, which hold through the run.
    KernelReach reach{};
    const bool declared = kernel_binding.reach && kernel_binding.reach(control_values, reach);
    const BandShape shape = plan_bands(fr->maxSpace, fr->planes, width, height, declared ? &reach : nullptr);
    band_plan.height = shape.height;
    band_plan.in_above = shape.in_above;
    band_plan.in_below = shape.in_below;
    // Only bands that miss rows the kernel reads give another picture than one band.
    if (!shape.whole)
        platform::show_message(owner, "The picture is too big to be processed in one pass!\n",
                               "The functions src and dr,dg,db could possibly not work as desired!",
                               platform::box_ok | platform::box_icon_exclamation);
    // Fewer than three planes cannot be an RGB picture, whatever the mode says.
    if (fr->imageMode != plugInModeRGBColor || fr->planes < 3) return filterBadMode;
    return run_passes(*fr, has_prepass);
}
