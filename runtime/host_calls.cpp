// The small operations through which every part of the plug-in talks to the
// host about image areas: requests, rectangles, drawing, the abort test.
#include <cmath>

#include "runtime/host_calls.h"
#include "runtime/run_state.h"

int32_t call_advance_state()
{
    FilterRecord* fr = run_state.filter_record;
    if (!fr || !fr->advanceState) return advance_state_missing;
    // 16.16 fixed point; one host wants one extra unit per factor.
    const uint32_t factor = static_cast<uint32_t>(run_state.zoom_factor);
    uint32_t rate = factor * 65536u;
    if (run_state.host_kind == HostKind::photopnt) rate += factor;
    fr->inputRate = static_cast<Fixed>(rate);
    fr->maskRate = static_cast<Fixed>(rate);
    return fr->advanceState();
}

int32_t clear_area_request()
{
    if (FilterRecord* fr = run_state.filter_record) fr->inRect = fr->outRect = fr->maskRect = Rect16{0, 0, 0, 0};
    return call_advance_state();
}

int32_t display_output(void* device_context, int32_t row, int32_t column)
{
    FilterRecord* fr = run_state.filter_record;
    if (!fr || !fr->displayPixels) return 0; // no host drawing: nothing is shown
    const int32_t columns = fr->outHiPlane - fr->outLoPlane + 1;
    PSPixelMap map{};
    map.version = 1;
    map.bounds = VRect{fr->outRect.top, fr->outRect.left, fr->outRect.bottom, fr->outRect.right};
    map.imageMode = fr->imageMode;
    map.rowBytes = fr->outRowBytes;
    map.colBytes = columns;
    map.planeBytes = 1;
    map.baseAddr = fr->outData;
    PSPixelMask mask{};
    if (fr->isFloating) {
        mask.maskData = fr->maskData;
        mask.rowBytes = fr->maskRowBytes;
        mask.colBytes = 1;
        map.masks = &mask;
    } else if (fr->inLayerPlanes != 0 && fr->inTransparencyMask != 0) {
        // The transparency is the last plane of the interleaved output; the
        // host reads it, the plug-in only names its address.
        mask.maskData = fr->outData ? static_cast<unsigned char*>(fr->outData) + (columns - 1) : nullptr;
        mask.rowBytes = fr->outRowBytes;
        mask.colBytes = columns;
        map.masks = &mask;
    }
    return fr->displayPixels(&map, &map.bounds, row, column, device_context);
}

int32_t test_host_abort()
{
    FilterRecord* fr = run_state.filter_record;
    if (!fr || !fr->abortProc) return 0;
    return static_cast<unsigned char>(fr->abortProc());
}

int32_t integer_square_root(int32_t value)
{
    if (value < 1) return 0;
    const uint32_t v = static_cast<uint32_t>(value);
    uint32_t r = static_cast<uint32_t>(std::sqrt(static_cast<double>(v)));
    while (r * r > v) --r;
    while ((r + 1) * (r + 1) <= v) ++r;
    return static_cast<int32_t>(r);
}
