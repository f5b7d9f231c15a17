// The band plan of a real run: bands of whole rows, as many as maxSpace
// allows, and the rectangles asked of the host for each band.
#pragma once

#include <cstdint>

struct BandPlan {
    int32_t width;  // the band's columns: the whole image
    int32_t height; // rows per band
    int32_t top;    // first row of the current band
};

extern BandPlan band_plan;

// Rows per band for a maxSpace; never below one row and never above the image.
int32_t plan_band_height(int32_t max_space, int32_t planes, int32_t width, int32_t height);
// The band at (left, top) into the record's rectangles: output and mask cut to
// filterRect, input cut to the image.
void set_band_rects(int32_t left, int32_t top);
