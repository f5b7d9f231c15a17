// Custom colours from the host's colour picker or from the preview's pixels.
#include "ui/colour.h"

#include "runtime/definition.h"
#include "runtime/host_calls.h"
#include "runtime/run_state.h"
#include "ui/preview_logic.h"

const unsigned char colour_picker_prompt[30] = "\x1c Glyphsmithery: Select Color";
static_assert(sizeof(" Glyphsmithery: Select Color") - 1 == 0x1c, "prompt length byte");

namespace {

constexpr int32_t colour_slots = sizeof filter_definition.custom_colours / sizeof(uint32_t);

bool is_colour_index(int32_t index)
{
    return index >= 0 && index < colour_slots;
}

// The colour is rebuilt from the low byte of each component, as the host's
// answer is read everywhere.
unsigned char component_byte(int16 value)
{
    return static_cast<unsigned char>(value & 0xFF);
}

} // namespace

void choose_colour_with_host(int32_t index)
{
    FilterRecord* record = run_state.filter_record;
    if (!is_colour_index(index) || !record || !record->colorServices) return;
    const uint32_t colour = filter_definition.custom_colours[index];
    ColorServicesInfo info{};
    info.infoSize = static_cast<int32>(sizeof info); // 36 in 32-bit hosts, 56 in 64-bit ones
    info.selector = plugIncolorServicesChooseColor;
    info.sourceSpace = plugIncolorServicesRGBSpace;
    info.resultSpace = plugIncolorServicesRGBSpace;
    info.colorComponents[0] = static_cast<int16>(colour & 0xFF);
    info.colorComponents[1] = static_cast<int16>((colour >> 8) & 0xFF);
    info.colorComponents[2] = static_cast<int16>((colour >> 16) & 0xFF);
    info.colorComponents[3] = 0;
    // The host only reads the prompt.
    info.selectorParameter.pickerPrompt = const_cast<unsigned char*>(colour_picker_prompt);
    // A picker that failed or was cancelled may have left anything in the
    // components; only an answer of noErr carries a chosen colour.
    if (record->colorServices(&info) != noErr) return;
    filter_definition.custom_colours[index] = component_byte(info.colorComponents[0]) |
                                              component_byte(info.colorComponents[1]) << 8 |
                                              component_byte(info.colorComponents[2]) << 16;
}

void begin_colour_pick(PreviewModel& model, intptr_t dialog, int32_t control_id, int32_t index)
{
    model.pick_target = PickTarget{dialog, control_id, index};
    model.pick_mode = 1;
}

bool take_picked_colour(PreviewModel& model, int32_t x, int32_t y)
{
    if (!is_colour_index(model.pick_target.index)) return false;
    const DeliveredArea& area = model.area;
    const unsigned char* pixel = delivered_input_pixel(area, run_state.filter_record, x, y);
    if (!pixel) return false;
    // A grey image has one or two planes: its first plane is all three.
    const int32_t g = area.stride >= 3 ? 1 : 0;
    const int32_t b = area.stride >= 3 ? 2 : 0;
    filter_definition.custom_colours[model.pick_target.index] =
        uint32_t{pixel[0]} | uint32_t{pixel[g]} << 8 | uint32_t{pixel[b]} << 16;
    return true;
}
