// Module-wide state of the preview that the run-time and the shell read.
#pragma once

#include <cstdint>

extern int32_t zoom_factor;        // image pixels per preview pixel; 1 in a real run
extern int32_t max_zoom_factor;
extern int32_t preview_start_time; // 0 real run; ms of day while rendering; -1 stopped
extern int32_t pan_x, pan_y;
extern int16_t filtering_on;
