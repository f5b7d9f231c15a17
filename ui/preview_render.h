// Painting the FilterPreview control, portable: the window class supplies a
// canvas and the dialog's model.
#pragma once

#include <cstdint>

#include "ui/model.h"

enum class PreviewPen { white, black };

// The drawing surface of a rendering; the window class backs it with GDI.
struct PreviewCanvas {
    virtual ~PreviewCanvas() = default;
    virtual void* device_context() = 0; // handed to the host's displayPixels
    // Light grey over left..right-1, top..bottom-1 (a pen-less Rectangle).
    virtual void fill_grey(int32_t left, int32_t top, int32_t right, int32_t bottom) = 0;
    virtual void draw_line(PreviewPen pen, int32_t x0, int32_t y0, int32_t x1, int32_t y1) = 0;
};

// One paint of the control: request the visible area, show it, run the kernel
// over it when asked, mark the centre. client_w and client_h are the right and
// bottom of the client rectangle. Writes the model's pan back clamped and
// keeps the delivered area in it.
void render_preview(PreviewModel& model, PreviewCanvas& canvas, int32_t client_w, int32_t client_h,
                    int16_t render_filtered);

// A right click at client position (x, y): when the filter lets the user pick
// its effect centre, stores the picked centre and answers true.
bool pick_effect_centre(const PreviewModel& model, int32_t x, int32_t y);

// Resets what a new preview starts with.
void reset_preview_state(PreviewModel& model);
