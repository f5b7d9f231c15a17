// displayPixels: the host draws a plug-in's pixel map (any row, column and
// plane layout, with an optional chain of masks) into a device context.
#pragma once

#include <cstdint>
#include <vector>

#include "base/host_api.h"

// A top-down 24-bit BGR picture whose rows are padded to 4 bytes, the layout
// that the system's device-independent bitmaps take.
struct BgrImage {
    int32 top = 0; // pixel map coordinates of the first pixel
    int32 left = 0;
    int32 width = 0;
    int32 height = 0;
    int32 stride = 0;
    std::vector<unsigned char> bits;
};

// Converts the part `area` (pixel map coordinates, cut to the map's bounds)
// of `map`. Grey maps (mode 1) show grey, RGB maps (mode 3) colour. Masks of
// a map of version 1 or later weigh the pixels over a checkerboard of 8-pixel
// squares. Returns noErr, paramErr for a map without data, filterBadMode for
// another mode, memFullErr when the area is too large to convert.
OSErr pixel_map_to_bgr(const PSPixelMap& map, const VRect& area, BgrImage& image);

// The host's displayPixels for a device context: converts and draws the area
// with its top-left corner at (dstRow, dstCol).
OSErr draw_pixel_map(void* device_context, const PSPixelMap* source, const VRect* area, int32 dstRow,
                     int32 dstCol);
