#include "ui/preview_logic.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/saturate.h"

namespace {

// Step 2 of a paint: the pan may not show anything beyond the image's last
// whole zoomed pixel, and never less than its first.
int32_t clamp_pan(int32_t pan, int32_t last, int32_t image, int32_t zoom)
{
    int64_t p = pan;
    if (static_cast<int64_t>(zoom) * (p + last + 1) >= image) p = image / zoom - 1 - last;
    if (p < 0) p = 0;
    return saturate_int32(p);
}

// The last visible column or row. Widened: a client extent at INT32_MIN
// would overflow the subtraction. Any extent with nothing to show gives -1,
// so the view is empty rather than wrapped round to a huge one.
int32_t last_visible(int32_t client, int32_t image, int32_t zoom)
{
    const int64_t last = std::min<int64_t>(int64_t{client} - 1, int64_t{image} / zoom - 1);
    return static_cast<int32_t>(std::max<int64_t>(last, -1));
}

} // namespace

PreviewView preview_view(int32_t client_w, int32_t client_h, int32_t image_w, int32_t image_h,
                         int32_t zoom, int32_t pan_x, int32_t pan_y)
{
    const int32_t z = zoom < 1 ? 1 : zoom;
    PreviewView view;
    view.last_col = last_visible(client_w, image_w, z);
    view.last_row = last_visible(client_h, image_h, z);
    view.pan_x = clamp_pan(pan_x, view.last_col, image_w, z);
    view.pan_y = clamp_pan(pan_y, view.last_row, image_h, z);
    return view;
}

Rect16 preview_request_rect(const PreviewView& view)
{
    // The host's rectangles are 16-bit; image sizes are too, so a clamped pan
    // plus the extent always fits. An empty view asks for nothing.
    if (view.empty()) return Rect16{0, 0, 0, 0};
    Rect16 r;
    r.top = static_cast<int16>(view.pan_y);
    r.left = static_cast<int16>(view.pan_x);
    r.bottom = static_cast<int16>(view.pan_y + view.last_row);
    r.right = static_cast<int16>(view.pan_x + view.last_col);
    return r;
}

PreviewPoint dragged_pan(int32_t pan_x, int32_t pan_y, int32_t from_x, int32_t from_y, int32_t to_x, int32_t to_y)
{
    // Wrapping: many moves between two paints must not overflow; the next
    // paint clamps the pan anyway.
    const auto moved = [](int32_t pan, int32_t from, int32_t to) {
        return static_cast<int32_t>(static_cast<uint32_t>(pan) - (static_cast<uint32_t>(to) - static_cast<uint32_t>(from)));
    };
    return {moved(pan_x, from_x, to_x), moved(pan_y, from_y, to_y)};
}

PreviewPoint preview_image_point(int32_t pan_x, int32_t pan_y, int32_t x, int32_t y)
{
    return {saturate_int32(static_cast<int64_t>(pan_x) + x),
            saturate_int32(static_cast<int64_t>(pan_y) + y)};
}

PreviewPoint picked_centre(int32_t pan_x, int32_t pan_y, int32_t x, int32_t y, int32_t zoom,
                           int32_t image_w, int32_t image_h)
{
    const int64_t z = zoom < 1 ? 1 : zoom;
    auto axis = [z](int32_t pan, int32_t pos, int32_t size) {
        int64_t v = (static_cast<int64_t>(pan) + pos) * z;
        if (v > static_cast<int64_t>(size) - 1) v = static_cast<int64_t>(size) - 1;
        if (v < 0) v = 0;
        return static_cast<int32_t>(v);
    };
    return {axis(pan_x, x, image_w), axis(pan_y, y, image_h)};
}

CentreMark centre_mark(int32_t centre_pick, const int32_t stored_centre[2], int32_t zoom,
                       const PreviewView& view)
{
    CentreMark mark{false, 0, 0};
    if (!centre_pick || stored_centre[0] < 0 || stored_centre[1] < 0) return mark;
    const int32_t z = zoom < 1 ? 1 : zoom;
    const int64_t px = static_cast<int64_t>(stored_centre[0] / z) - view.pan_x;
    const int64_t py = static_cast<int64_t>(stored_centre[1] / z) - view.pan_y;
    if (px < 0 || px > view.last_col || py < 0 || py > view.last_row) return mark;
    mark.shown = true;
    mark.x = static_cast<int32_t>(px);
    mark.y = static_cast<int32_t>(py);
    return mark;
}

void on_preview_refresh(PreviewFlags& flags)
{
    flags.preview_dirty = 1;
    flags.preview_settling = 1;
}

bool on_preview_timer(PreviewFlags& flags)
{
    if (!flags.preview_dirty) return false;
    if (flags.preview_settling) {
        flags.preview_settling = 0;
        return false;
    }
    flags.preview_dirty = 0;
    flags.render_filtered = 1;
    return true;
}

void on_preview_drag(PreviewFlags& flags)
{
    flags.render_filtered = 0;
}

void on_preview_release(PreviewFlags& flags)
{
    flags.preview_dirty = 1;
}

void copy_area_rows(unsigned char* dst, int32_t dst_row_bytes, const unsigned char* src,
                    int32_t src_row_bytes, int32_t rows, int32_t row_bytes_wanted)
{
    if (!dst || !src || rows <= 0 || dst_row_bytes <= 0 || src_row_bytes <= 0) return;
    const int32_t n = std::min({row_bytes_wanted, dst_row_bytes, src_row_bytes});
    if (n <= 0) return;
    if (dst == src && dst_row_bytes == src_row_bytes) return; // one buffer for both
    for (int32_t r = 0; r < rows; ++r) {
        // memmove: a host may hand out overlapping in and out buffers.
        std::memmove(dst + static_cast<intptr_t>(r) * dst_row_bytes,
                     src + static_cast<intptr_t>(r) * src_row_bytes, static_cast<size_t>(n));
    }
}

DeliveredArea accept_delivered_area(const FilterRecord& record, const Rect16& requested,
                                    int32_t planes)
{
    DeliveredArea area{};
    area.record = &record;
    area.rect = requested;
    area.stride = planes;
    area.in_data = record.inData;
    area.out_data = record.outData;
    area.in_row_bytes = record.inRowBytes;
    area.out_row_bytes = record.outRowBytes;
    const int64_t cols = static_cast<int64_t>(requested.right) - requested.left;
    const int64_t rows = static_cast<int64_t>(requested.bottom) - requested.top;
    const int64_t row_payload = cols * planes;
    area.valid = planes >= 1 && cols > 0 && rows > 0 && record.inData && record.outData &&
                 same_rect(record.inRect, requested) && same_rect(record.outRect, requested) &&
                 record.inRowBytes >= row_payload && record.outRowBytes >= row_payload;
    return area;
}

bool area_still_delivered(const DeliveredArea& area, const FilterRecord* record)
{
    return area.valid && record && record == area.record && record->inData == area.in_data &&
           record->outData == area.out_data && record->inRowBytes == area.in_row_bytes &&
           record->outRowBytes == area.out_row_bytes && same_rect(record->inRect, area.rect) &&
           same_rect(record->outRect, area.rect);
}

const unsigned char* delivered_input_pixel(const DeliveredArea& area, const FilterRecord* record,
                                           int32_t x, int32_t y)
{
    if (!area_still_delivered(area, record)) return nullptr;
    const Rect16& r = area.rect;
    const int32_t col = std::min<int32_t>(std::max<int32_t>(x, r.left), r.right - 1);
    const int32_t row = std::min<int32_t>(std::max<int32_t>(y, r.top), r.bottom - 1);
    return static_cast<const unsigned char*>(area.in_data) +
           static_cast<intptr_t>(row - r.top) * area.in_row_bytes +
           static_cast<intptr_t>(col - r.left) * area.stride;
}
