// Module-wide state of the preview that the run-time and the shell read.
#pragma once

#include <cstdint>

extern int32_t pan_x, pan_y;
extern int16_t filtering_on;
