// The band plan of a real run: bands of whole rows, as many as maxSpace
// allows, and the rectangles asked of the host for each band.
#pragma once

#include <cstdint>

#include "runtime/kernel.h"

struct BandPlan {
    int32_t width;  // the band's columns: the whole image
    int32_t height; // rows per band
    int32_t top;    // first row of the current band
    // Rows the input reaches above and below a band's output rows, so that
    // the kernel finds every row it reads: its declared reach, or 0.
    int32_t in_above, in_below;
};

extern BandPlan band_plan;

// Rows per band for a maxSpace; never below one row and never above the image.
int32_t plan_band_height(int32_t max_space, int32_t planes, int32_t width, int32_t height);

struct BandShape {
    int32_t height, in_above, in_below;
    // Every band holds each row the kernel reads for its pixels: the picture
    // is the one a single band gives.
    bool whole;
};
// The bands for a maxSpace when the kernel reads `reach` (null: undeclared).
// Input and output rows count alike, half a row of the single-band divisor
// each, so that a reach of 0 plans what plan_band_height plans. When not even
// one output row with its reach fits, or no reach is declared, the bands are
// those of plan_band_height without reach, whole only if there is just one.
BandShape plan_bands(int32_t max_space, int32_t planes, int32_t width, int32_t height, const KernelReach* reach);
// The band at (left, top) into the record's rectangles: output and mask cut to
// filterRect, input cut to the image.
void set_band_rects(int32_t left, int32_t top);
