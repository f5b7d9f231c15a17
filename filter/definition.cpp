#include "runtime/definition.h"

#include <cstring>
#include <initializer_list>

namespace {

template <size_t N>
void set_text(char (&field)[N], const char* text)
{
    std::strncpy(field, text, N - 1);
}

FilterDefinition make_definition()
{
    FilterDefinition d{};
    set_text(d.category, "Tinctora");
    set_text(d.title, "Cellumbra");
    // The About box puts the notice under the title: its first line does not repeat it.
    // One name for the rights holder, as in the version resource and the licence.
    set_text(d.author_line, "Hexagonal cells\r\nby the Cellumbra authors");
    set_text(d.notice_line, "Hexagonal cell filter plug-in\r\nCopyright 2026 the Cellumbra authors");

    // Main at 0; Start, Prepass, Interpass are the one-byte returns behind it.
    d.block_entries[0] = 0;
    d.block_entries[1] = 1211;
    d.block_entries[2] = 1210;
    d.block_entries[3] = 1212;
    d.code_length = 1213;

    // Main row (pass 2): out_red, out_green, out_blue, x, y.
    for (int slot : {0, 1, 2, 11, 12}) d.variable_use_flags[2][slot] = 1;

    d.colour_count = 0;
    d.custom_colours[0] = 0x00D37C1E;
    d.centre_pick = 0;
    d.stored_centre[0] = -1;
    d.stored_centre[1] = -1;

    // The first label keeps leftover characters after its NUL, as stored.
    std::memcpy(d.controls[0].label, "Size:\0der 1:", 12);
    d.controls[0].visible = 1;
    d.controls[0].min_value = 1;
    d.controls[0].max_value = 100;
    const char* names[] = {"Slider 2:", "Slider 3:", "Slider 4:", "Slider 5:",
                           "Slider 6:", "Slider 7:", "Slider 8:"};
    for (int k = 1; k < 8; ++k) {
        set_text(d.controls[k].label, names[k - 1]);
        d.controls[k].max_value = 255;
    }
    set_text(d.controls[check_box_2_control].label, "Check 2");
    set_text(d.controls[check_box_1_control].label, "Check 1");

    d.put_array_size = 256;
    return d;
}

} // namespace

FilterDefinition filter_definition = make_definition();
