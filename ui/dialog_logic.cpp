#include "ui/dialog_logic.h"

#include <cstdio>
#include <cstring>

#include "base/saturate.h"

int32_t clamp_slider_value(int32_t value, int32_t lo, int32_t hi)
{
    if (value < lo) value = lo;
    if (value > hi) value = hi;
    return value;
}

int32_t scrolled_slider_value(int32_t code, uint16_t thumb_word, int32_t value, int32_t lo, int32_t hi)
{
    const int64_t v = value;
    const int64_t page = (static_cast<int64_t>(hi) - lo) / 8; // truncates toward zero
    switch (code) {
    case scroll_line_up:
        return value > lo ? value - 1 : value;
    case scroll_line_down:
        return value < hi ? value + 1 : value;
    case scroll_page_up:
        return v - page < lo ? lo : saturate_int32(v - page);
    case scroll_page_down:
        return v + page > hi ? hi : saturate_int32(v + page);
    case scroll_thumb_position:
    case scroll_thumb_track:
        // A trackbar reports only positions inside its range; a forged
        // message is held to the range like any other value.
        return clamp_slider_value(static_cast<int16_t>(thumb_word), lo, hi);
    case scroll_top:
        return lo;
    case scroll_bottom:
        return hi;
    default: // end of tracking and anything unknown
        return value;
    }
}

TypedValue correct_typed_value(int32_t read, bool valid, int32_t lo, int32_t hi)
{
    if (!valid) read = 0;
    // The same clamp as at set-up, so a rewritten box always reads back as in
    // range and its own change notification ends there, whatever lo and hi are.
    int32_t value = clamp_slider_value(read, lo, hi);
    return {value, !valid || value != read};
}

int32_t fit_zoom_factor(int32_t client_w, int32_t client_h, int32_t image_w, int32_t image_h)
{
    // An empty client area or image cannot be fitted better by any factor.
    auto axis = [](int32_t client, int32_t image) {
        return (client > 0 && image > 0) ? (image - 1) / client + 1 : 1;
    };
    int32_t fx = axis(client_w, image_w);
    int32_t fy = axis(client_h, image_h);
    return fx > fy ? fx : fy;
}

ZoomView zoom_button(bool zoom_in, bool shift, ZoomView view, int32_t max_zoom, int32_t client_w,
                     int32_t client_h)
{
    const int64_t half_w = client_w / 2;
    const int64_t half_h = client_h / 2;
    const int64_t cx = (half_w + view.pan_x) * view.zoom;
    const int64_t cy = (half_h + view.pan_y) * view.zoom;

    int32_t z = view.zoom;
    if (zoom_in) {
        if (shift)
            z = 1;
        else if (z > 1)
            --z;
    } else {
        if (shift)
            z = max_zoom;
        else if (z < max_zoom)
            ++z;
    }
    if (z < 1) z = 1; // never a zero divisor, whatever max_zoom says

    return {z, saturate_int32(cx / z - half_w), saturate_int32(cy / z - half_h)};
}

void format_zoom_text(char* buf, size_t size, int32_t zoom)
{
    if (!buf || size == 0) return;
    std::snprintf(buf, size, "1:%d", static_cast<int>(zoom));
}

void fill_empty_slider_label(char (&label)[32], int32_t number)
{
    if (label[0] == '\0') std::snprintf(label, sizeof label, "Slider %d:", static_cast<int>(number));
}

bool swatch_is_live(int32_t index, int32_t colour_count)
{
    // Eight colours exist whatever colour_count claims.
    return index >= 0 && index < colour_count && index < 8;
}

void copy_field_text(char* buf, size_t size, const char* field, size_t field_size)
{
    if (!buf || size == 0) return;
    size_t n = field ? strnlen(field, field_size) : 0;
    if (n > size - 1) n = size - 1;
    if (n) std::memcpy(buf, field, n);
    buf[n] = '\0';
}
