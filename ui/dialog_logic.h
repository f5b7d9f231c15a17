// The arithmetic behind the parameters dialog: what Windows merely displays.
// Plain functions over plain values, so every rule is testable without a window.
#pragma once

#include <cstddef>
#include <cstdint>

// Trackbar notification codes, with the values Windows gives them.
enum : int32_t {
    scroll_line_up = 0,
    scroll_line_down = 1,
    scroll_page_up = 2,
    scroll_page_down = 3,
    scroll_thumb_position = 4,
    scroll_thumb_track = 5,
    scroll_top = 6,
    scroll_bottom = 7,
};

// Raises value to lo, then lowers it to hi: with lo above hi the maximum wins.
int32_t clamp_slider_value(int32_t value, int32_t lo, int32_t hi);

// The slider's new value after a trackbar notification. thumb_word is the high
// word of the notification's wParam, the thumb position as a signed 16-bit number.
int32_t scrolled_slider_value(int32_t code, uint16_t thumb_word, int32_t value, int32_t lo, int32_t hi);

// What a typed-in value becomes, and whether its box must be rewritten.
struct TypedValue {
    int32_t value;
    bool rewrite;
};
TypedValue correct_typed_value(int32_t read, bool valid, int32_t lo, int32_t hi);

// The smallest whole factor at which a whole image of image_w x image_h fits a
// client area of client_w x client_h; at least 1.
int32_t fit_zoom_factor(int32_t client_w, int32_t client_h, int32_t image_w, int32_t image_h);

// The preview's factor and pan, as the zoom buttons change them.
struct ZoomView {
    int32_t zoom;
    int32_t pan_x;
    int32_t pan_y;
};
ZoomView zoom_button(bool zoom_in, bool shift, ZoomView view, int32_t max_zoom, int32_t client_w,
                     int32_t client_h);

// "1:N" into buf (always terminated; 16 bytes hold any int32).
void format_zoom_text(char* buf, size_t size, int32_t zoom);

// An empty slider label becomes "Slider N:" in the field itself.
void fill_empty_slider_label(char (&label)[32], int32_t number);

// Whether custom colour index is one the filter uses (and one that exists).
bool swatch_is_live(int32_t index, int32_t colour_count);

// A text field of the definition as a terminated string in buf, even when the
// field is full to its last byte.
void copy_field_text(char* buf, size_t size, const char* field, size_t field_size);
