// What the FilterPreview control computes, free of Windows: the part of the
// image it shows, how far it may pan, the area it asks the host for, where the
// centre mark goes, when the settings have been quiet long enough for a
// filtered rendering, and which host buffers it may still touch.
#pragma once

#include <cstdint>

#include "base/host_api.h"
#include "base/rect.h"

// ---- the visible extent

struct PreviewView {
    int32_t last_col; // lastCol: the image covers columns 0 .. last_col - 1 of the control
    int32_t last_row; // lastRow
    int32_t pan_x;    // the pan after clamping, in zoomed units
    int32_t pan_y;
    // Nothing of the image fits: the picture is smaller than the zoom factor
    // or the control has no client area. Nothing is requested then.
    bool empty() const { return last_col <= 0 || last_row <= 0; }
};

// client_w, client_h: right and bottom of the client rectangle; image_w,
// image_h: the host's imageSize; zoom below 1 counts as 1.
PreviewView preview_view(int32_t client_w, int32_t client_h, int32_t image_w, int32_t image_h,
                         int32_t zoom, int32_t pan_x, int32_t pan_y);

// The area the preview requests for a view: outRect and inRect alike.
Rect16 preview_request_rect(const PreviewView& view);

// ---- mouse arithmetic

// The image point under client position (x, y), in zoomed units.
struct PreviewPoint {
    int32_t x, y;
};
PreviewPoint preview_image_point(int32_t pan_x, int32_t pan_y, int32_t x, int32_t y);
// The pan after the mouse moved from one client position to another while
// dragging: the image follows the mouse.
PreviewPoint dragged_pan(int32_t pan_x, int32_t pan_y, int32_t from_x, int32_t from_y, int32_t to_x, int32_t to_y);

// The effect centre, in full-image pixels, that a right click at client
// position (x, y) picks. Kept inside the image, so a click on the grey margin
// or outside the control while the mouse is captured still names a pixel of
// the picture (and never a negative coordinate, which would mean "image centre").
PreviewPoint picked_centre(int32_t pan_x, int32_t pan_y, int32_t x, int32_t y, int32_t zoom,
                           int32_t image_w, int32_t image_h);

// Where the cross-hair of the effect centre goes.
struct CentreMark {
    bool shown;
    int32_t x, y; // preview position of the centre
};
CentreMark centre_mark(int32_t centre_pick, const int32_t stored_centre[2], int32_t zoom,
                       const PreviewView& view);

// ---- the debounce of PreviewRefresh and timer 1

struct PreviewFlags {
    int16_t preview_dirty;    // a filtered rendering is owed
    int16_t preview_settling; // a change came in during the current timer period
    int16_t render_filtered;  // the next paint runs the kernel
    int16_t kernel_enabled;   // PreviewKernelSwitch; off while a colour is being chosen
};

void on_preview_refresh(PreviewFlags& flags);
// One tick of timer 1. True when the whole control must be repainted, filtered.
bool on_preview_timer(PreviewFlags& flags);
// A drag shows the unfiltered image at once; release owes a filtered one.
void on_preview_drag(PreviewFlags& flags);
void on_preview_release(PreviewFlags& flags);

// ---- the host's buffers

// Copies the pixels of `rows` rows from one host buffer into another, row by
// row, each buffer stepped by its own row bytes, and never more bytes of a row
// than either buffer holds. Null buffers or non-positive sizes copy nothing.
void copy_area_rows(unsigned char* dst, int32_t dst_row_bytes, const unsigned char* src,
                    int32_t src_row_bytes, int32_t rows, int32_t row_bytes_wanted);

// The area that the host delivered for the preview's latest request: which
// record, which rectangles and buffers. Valid only while the record still
// shows exactly that request; clear_area_request (the dialog's zoom, the end of
// the dialog), another request or a failed one all change it.
struct DeliveredArea {
    bool valid;
    const FilterRecord* record;
    Rect16 rect; // inRect and outRect alike
    int32_t stride;
    void* in_data;
    void* out_data;
    int32_t in_row_bytes;
    int32_t out_row_bytes;
};

// After advanceState answered 0 for a request of `requested` with `planes`
// planes: the delivered area, valid only when both buffers are there, the
// rectangles are the ones asked for and each row holds the pixels of a row.
DeliveredArea accept_delivered_area(const FilterRecord& record, const Rect16& requested,
                                    int32_t planes);
bool area_still_delivered(const DeliveredArea& area, const FilterRecord* record);

// The input pixel at zoomed position (x, y) clamped into the delivered area,
// or null when the area is no longer delivered.
const unsigned char* delivered_input_pixel(const DeliveredArea& area, const FilterRecord* record,
                                           int32_t x, int32_t y);
