// Placeholder: colour selection comes with the preview work.
#include <windows.h>

#include "ui/colour.h"

int16_t pick_mode;

void choose_colour_with_host(int32_t) {}
void begin_colour_pick(intptr_t, int32_t, int32_t) {}
void track_picked_colour(int32_t, int32_t) {}
void finish_colour_pick(int32_t, int32_t, intptr_t) {}
