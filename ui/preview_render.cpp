// One paint of the FilterPreview control, in the order the host expects the
// requests: visible area, request, unfiltered view, kernel passes, centre mark.
#include <climits>
#include <cstdio>

#include "runtime/definition.h"
#include "runtime/kernel.h"
#include "base/platform.h"
#include "runtime/host_calls.h"
#include "runtime/run_state.h"
#include "ui/colour.h"
#include "ui/preview_logic.h"
#include "ui/preview_render.h"

namespace {

// While the "Filter Error" box is up its message loop may paint the control
// again (the box covers it, the timer fires); a second failing request would
// stack a second box, and so on. Paints during the box draw nothing.
bool reporting_failure = false;

void report_request_failure(int32_t code)
{
    char text[128];
    std::snprintf(text, sizeof text,
                  "Error %d in advanceState!\nInternal error - please report to the authors!",
                  static_cast<int>(code));
    reporting_failure = true;
    platform::show_message(platform::active_window(), text, "Filter Error", platform::box_ok);
    reporting_failure = false;
}

// The right or bottom edge of a grey area that reaches past the client
// rectangle; kept from overflowing at the int32 limit.
int32_t past(int32_t edge)
{
    return edge < INT32_MAX ? edge + 1 : edge;
}

// The host's output buffer shows the unfiltered view again.
void copy_input_to_output(const DeliveredArea& area)
{
    const int32_t rows = area.rect.bottom - area.rect.top;
    const int32_t cols = area.rect.right - area.rect.left;
    copy_area_rows(static_cast<unsigned char*>(area.out_data), area.out_row_bytes,
                   static_cast<const unsigned char*>(area.in_data), area.in_row_bytes, rows,
                   cols * area.stride);
}

void run_kernel_over_view(PreviewCanvas& canvas, int32_t client_w, int32_t client_h,
                          int32_t planes)
{
    run_state.pixels_done = 0;
    begin_rendering(platform::time_of_day_ms());
    run_state.pixel_context.pixel_stride = planes;
    settle_effect_centre();

    run_kernel_pass(Start);
    const auto going = [] { return run_state.mode != RunMode::rendering_stopped; };
    if (going() && block_of(Prepass)) filter_band(false, Prepass);
    if (going()) run_kernel_pass(Interpass);
    if (going()) filter_band(false, Main);
    display_output(canvas.device_context(), 0, 0);
    if (!going()) {
        canvas.draw_line(PreviewPen::white, 0, 0, client_w, client_h);
        canvas.draw_line(PreviewPen::white, client_w, 0, 0, client_h);
    }
    run_state.mode = RunMode::real_run;
}

} // namespace

void render_preview(PreviewModel& model, PreviewCanvas& canvas, int32_t client_w, int32_t client_h,
                    int16_t render_filtered)
{
    DeliveredArea& delivered = model.area;
    if (reporting_failure) return;
    // Whatever the host held for an earlier request is superseded now.
    delivered.valid = false;
    FilterRecord* record = run_state.filter_record;
    if (!record) return;
    if (run_state.zoom_factor < 1) run_state.zoom_factor = 1; // also the host's sampling rate
    const int32_t z = run_state.zoom_factor;

    const PreviewView view = preview_view(client_w, client_h, record->imageSize.h,
                                          record->imageSize.v, z, model.pan_x, model.pan_y);
    model.pan_x = view.pan_x;
    model.pan_y = view.pan_y;
    const int32_t planes = record->planes;
    if (view.empty() || planes < 1) {
        canvas.fill_grey(0, 0, past(client_w), past(client_h));
        return;
    }

    const Rect16 area = preview_request_rect(view);
    record->outRect = area;
    record->inRect = area;
    record->maskRect = Rect16{0, 0, 0, 0};
    record->inLoPlane = record->outLoPlane = 0;
    record->inHiPlane = record->outHiPlane = static_cast<int16>(planes - 1);
    record->inputPadding = record->outputPadding = record->maskPadding = 255;
    const int32_t code = call_advance_state();
    if (code != 0) {
        report_request_failure(code);
        return;
    }
    delivered = accept_delivered_area(*record, area, planes);
    if (!delivered.valid) {
        // The host answered without the buffers it was asked for: show
        // nothing of it rather than read or write where it did not say.
        canvas.fill_grey(0, 0, past(client_w), past(client_h));
        return;
    }

    copy_input_to_output(delivered);
    canvas.fill_grey(view.last_col, 0, past(client_w), past(client_h));
    canvas.fill_grey(0, view.last_row, past(client_w), past(client_h));
    display_output(canvas.device_context(), 0, 0);

    if (render_filtered && model.flags.kernel_enabled && model.filtering_on) {
        run_kernel_over_view(canvas, client_w, client_h, planes);
        // The host's buffers may have changed hands inside a block only through
        // the host itself; copy back only into what is still ours.
        if (area_still_delivered(delivered, record)) copy_input_to_output(delivered);
        else delivered.valid = false;
    }

    const CentreMark mark =
        centre_mark(filter_definition.centre_pick, filter_definition.stored_centre, z, view);
    if (mark.shown) {
        canvas.draw_line(PreviewPen::black, 0, mark.y, view.last_col, mark.y);
        canvas.draw_line(PreviewPen::black, mark.x, 0, mark.x, view.last_row);
    }
}

bool pick_effect_centre(const PreviewModel& model, int32_t x, int32_t y)
{
    const FilterRecord* record = run_state.filter_record;
    if (!filter_definition.centre_pick || !record) return false;
    if (record->imageSize.h < 1 || record->imageSize.v < 1) return false;
    const PreviewPoint c =
        picked_centre(model.pan_x, model.pan_y, x, y, run_state.zoom_factor, record->imageSize.h, record->imageSize.v);
    filter_definition.stored_centre[0] = c.x;
    filter_definition.stored_centre[1] = c.y;
    return true;
}

void reset_preview_state(PreviewModel& model)
{
    model.pan_x = 0;
    model.pan_y = 0;
    model.pick_mode = 0;
    model.flags.preview_dirty = 0;
    model.flags.render_filtered = 0;
    model.area.valid = false;
}
