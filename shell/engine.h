// Pieces shared by the files of the run engine (band plan, host requests,
// pixel loop); nothing outside shell/ needs them.
#pragma once

#include <cstdint>

#include "base/host_api.h"
#include "base/rect.h"

// call_advance_state's answer when the host gives no advanceState.
constexpr int32_t advance_state_missing = -123;

// Rows per band for a maxSpace; never below one row and never above the image.
int32_t plan_band_height(int32_t max_space, int32_t planes, int32_t width, int32_t height);
