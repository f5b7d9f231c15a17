// The records a plug-in hands the host's displayPixels and colorServices, as
// raw memory: what a real host reads, kept apart from the product's header
// so that a test can read it through declarations of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wintest {

struct RawRecords {
    std::vector<unsigned char> pixel_map, colour_info;
    uintptr_t pixel_map_at = 0, area_at = 0; // the two pointers displayPixels got
    // The plug-in's stack from 256 bytes below the map to 256 above it, where
    // a mask the map points to lives.
    std::vector<unsigned char> around_map;
    // What the host had served when the preview was displayed.
    uintptr_t out_data = 0;
    int32_t out_row_bytes = 0, out_planes = 0, image_mode = 0;
    int32_t out_rect[4] = {}; // top, left, bottom, right
    uintptr_t mask_data = 0;
    int32_t mask_row_bytes = 0;
};

// One dialog command of `plugin` in this process's host, on a floating
// selection (so the preview's map carries a mask): waits for the preview's
// first display, clicks the colour swatch `swatch_id` (its colour
// stored beforehand as `colour`, 0x00BBGGRR) and cancels. The module stays
// loaded until release_plugin(), so pointers into it can still be followed.
bool capture_raw_records(const char* plugin, int swatch_id, uint32_t colour, RawRecords& out, std::string& error);
void release_plugin();

} // namespace wintest
