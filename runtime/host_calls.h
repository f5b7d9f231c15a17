// The calls through which the run-time, the preview and the shell reach the
// host: image requests, drawing, the abort test. Each tests the callback's
// presence first; an absent one means no data, no drawing or no cancel.
#pragma once

#include <cstdint>

#include "base/host_api.h"
#include "runtime/kernel.h"

// call_advance_state's answer when the host gives no advanceState.
constexpr int32_t advance_state_missing = -123;

// Asks for the rectangles and planes set in the record, at the sampling rate
// of the zoom factor.
int32_t call_advance_state();
// Empties the rectangles and asks again: the host takes back what it lent.
int32_t clear_area_request();
int32_t display_output(void* device_context, int32_t row, int32_t column);
int32_t test_host_abort();
int32_t integer_square_root(int32_t value);

// The walk over the pixels of the delivered area, for the real run (with
// progress and cancel after every row) and for the preview.
int16 filter_band(bool with_progress, KernelPass pass);

// The shell's error message box, captioned "Glyphsmithery Error".
void show_error_box(intptr_t owner, const char* text);
