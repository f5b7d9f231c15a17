// Which centre each pixel of a row takes, as runs of columns: the one answer
// that every engine other than the kernel's own pixel walk asks, so that the
// cells are copied along whole runs of pixels in whatever format a picture is
// stored. Equal, pixel for pixel, to the Main block with src's clamp.
//
// Along a row the tile row, and so the two candidate centres' rows, stay the
// same; what changes is only which of three stretches of a tile a column lies
// in: the left corner's, the middle's and the right corner's, whose ends
// follow from the row's distance to the middle. The right corner of one tile
// is the left corner of the next, so the runs alternate between a corner and
// a middle.
#pragma once

#include <cstddef>
#include <cstdint>

// The pixels that centres may be read from, left and top inclusive, right and
// bottom exclusive: the picture, or the part of it an engine holds. A centre
// outside them takes the nearest pixel inside. Never empty.
struct CellBounds {
    int32_t left, top, right, bottom;
};

// Columns from the end of the run before (or the row's left) to `end` - 1
// take the pixel (cx, cy), inside the bounds.
struct CellRun {
    int32_t end;
    int32_t cx, cy;
};

// The sizes the map serves: those for which the kernel's squared distances
// stay exact in 32 bits. Outside them an engine keeps the kernel's own walk.
constexpr int32_t cell_map_largest_size = 12000;
inline bool cell_map_serves(int32_t size) { return size >= 1 && size <= cell_map_largest_size; }

// The most runs a row of `width` pixels can hold at `size`: two a tile, and
// the part tiles at either end.
inline size_t cell_run_capacity(int32_t size, int32_t width)
{
    return width <= 0 ? 0 : 2 * (size_t(width) / (6 * size_t(size))) + 3;
}

// The runs of row y, columns left..right - 1, in full-picture coordinates
// from the corner the cells are laid from (y and left at least 0). `runs`
// holds cell_run_capacity(size, right - left) entries; returns how many were
// written, 0 for an empty row or a size the map does not serve.
int32_t cell_row_runs(int32_t size, int32_t y, int32_t left, int32_t right, const CellBounds& bounds,
                      CellRun* runs);

// How a stored pixel divides: its first colour_bytes bytes come from the
// centre, the next kept_bytes (alpha) from the pixel itself, and any bytes
// after those are left as the output holds them.
struct PixelBytes {
    uint32_t pixel_bytes, colour_bytes, kept_bytes;
};

// Where an engine holds the bounds' pixels: `origin` is the pixel at
// (bounds.left, bounds.top), each row row_bytes on.
struct CellSource {
    const unsigned char* origin;
    intptr_t row_bytes;
    CellBounds bounds;
};

// One row's pixels along its runs: `own` the row's input pixels from column
// `left` (read for the kept bytes; may be null when there are none) and `out`
// its output from the same column. `out` must not overlap the source.
void cell_copy_runs(const CellRun* runs, int32_t count, int32_t left, const CellSource& source,
                    const unsigned char* own, unsigned char* out, PixelBytes format);

// The whole area: columns left..right - 1 and rows top..bottom - 1, in and
// out located at (left, top) with their own row strides, `runs` scratch
// space for cell_run_capacity(size, right - left) runs. Returns false, with
// nothing written, for a size the map does not serve.
bool cell_copy_area(int32_t size, const CellSource& source, const unsigned char* in, intptr_t in_row_bytes,
                    unsigned char* out, intptr_t out_row_bytes, PixelBytes format, int32_t left, int32_t top,
                    int32_t right, int32_t bottom, CellRun* runs);
