// Choosing custom colours: with the host's picker or from the preview.
#pragma once

#include <cstdint>

#include "ui/model.h"

void choose_colour_with_host(int32_t index);
void begin_colour_pick(PreviewModel& model, intptr_t dialog, int32_t control_id, int32_t index);
// x, y: a point in zoomed image units (the preview's pan plus the mouse's
// client position).
void track_picked_colour(PreviewModel& model, int32_t x, int32_t y);
void finish_colour_pick(PreviewModel& model, int32_t x, int32_t y, intptr_t preview_window);

// The picker's prompt: a length byte (28) and " Glyphsmithery: Select Color".
extern const unsigned char colour_picker_prompt[30];

// The portable half of track_picked_colour: reads the pixel at (x, y) of the
// area the preview holds into the pick target's colour. False when there is
// no such pixel (no pick target, or the host no longer holds the area).
bool take_picked_colour(PreviewModel& model, int32_t x, int32_t y);
