// Choosing custom colours: with the host's picker or from the preview.
#pragma once

#include <cstdint>

void choose_colour_with_host(int32_t index);
void begin_colour_pick(intptr_t dialog, int32_t control_id, int32_t index);
void track_picked_colour(int32_t x, int32_t y);
void finish_colour_pick(int32_t x, int32_t y, intptr_t preview_window);

extern int16_t pick_mode;
