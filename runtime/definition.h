// The filter definition: the one record that names a filter, describes its
// controls and colours and says which kernel blocks it has. The run-time, the
// dialog and the shell read it; a few fields change in memory while the module
// is loaded. Its format belongs to the run-time; the filter that the module
// carries provides the record itself (filter/definition.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

struct ControlDef {
    char label[32];
    int32_t visible;
    int32_t min_value;
    int32_t max_value;
};

struct FilterDefinition {
    unsigned char reserved[8];
    char category[24];
    char title[24];
    char author_line[48];
    char notice_line[128];
    char help_target[256];
    int32_t block_entries[4]; // offsets into code_area: Main, Prepass, Start, Interpass
    unsigned char code_area[4096];
    int32_t code_length;
    unsigned char variable_use_flags[4][35]; // row = KernelPass, byte = slot
    int32_t colour_count;
    uint32_t custom_colours[8]; // 0x00BBGGRR
    int32_t centre_pick;
    int32_t stored_centre[2]; // column, row; negative = image centre
    ControlDef controls[16];  // 0-7 sliders 1-8; 15 check box 1; 14 check box 2
    int32_t put_array_size;
};

static_assert(sizeof(ControlDef) == 44, "ControlDef size");
static_assert(offsetof(ControlDef, visible) == 32, "ControlDef.visible");
static_assert(offsetof(ControlDef, min_value) == 36, "ControlDef.min_value");
static_assert(offsetof(ControlDef, max_value) == 40, "ControlDef.max_value");
static_assert(sizeof(FilterDefinition) == 5500, "FilterDefinition size");
static_assert(offsetof(FilterDefinition, category) == 8, "category");
static_assert(offsetof(FilterDefinition, title) == 32, "title");
static_assert(offsetof(FilterDefinition, author_line) == 56, "author_line");
static_assert(offsetof(FilterDefinition, notice_line) == 104, "notice_line");
static_assert(offsetof(FilterDefinition, help_target) == 232, "help_target");
static_assert(offsetof(FilterDefinition, block_entries) == 488, "block_entries");
static_assert(offsetof(FilterDefinition, code_area) == 504, "code_area");
static_assert(offsetof(FilterDefinition, code_length) == 4600, "code_length");
static_assert(offsetof(FilterDefinition, variable_use_flags) == 4604, "variable_use_flags");
static_assert(offsetof(FilterDefinition, colour_count) == 4744, "colour_count");
static_assert(offsetof(FilterDefinition, custom_colours) == 4748, "custom_colours");
static_assert(offsetof(FilterDefinition, centre_pick) == 4780, "centre_pick");
static_assert(offsetof(FilterDefinition, stored_centre) == 4784, "stored_centre");
static_assert(offsetof(FilterDefinition, controls) == 4792, "controls");
static_assert(offsetof(FilterDefinition, put_array_size) == 5496, "put_array_size");

// Control numbers of the check boxes: counted from the end of the array.
constexpr int check_box_1_control = 15;
constexpr int check_box_2_control = 14;

// The module's one definition; static data, changed in memory only where the
// dialog, the preview or the settings load say so.
extern FilterDefinition filter_definition;
