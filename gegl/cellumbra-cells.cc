// The cell filter as the GEGL operation cellumbra:cells. GEGL calls process
// for chunks of the output from several threads at once; each call copies
// whole pixels of its chunk along the cell map (filter/cell_map.h), the
// plug-in's cells pixel for pixel, in the picture's own format. Nothing here
// or below is shared between calls.
//
// gegl-op.h includes this file again by the name GEGL_OP_C_SOURCE gives, and
// in GEGL 0.4.42 names the operation's type after it: a name of our own keeps
// two modules from clashing.
#ifdef GEGL_PROPERTIES

property_int (size, "Size", 20)
  description ("Cells are 4 x size pixels tall and 4 1/3 x size wide")
  value_range (1, 100)
  ui_range (1, 100)

#else

#define GEGL_OP_AREA_FILTER
#define GEGL_OP_NAME cellumbra_cells
#define GEGL_OP_C_SOURCE cellumbra-cells.cc

#include <gegl-op.h>

#include <cstddef>
#include <cstdint>

#include "filter/cell_map.h"
#include "filter/cellumbra_kernel.h"
#include "gegl/cell_format.h"

namespace {

// A size outside 1..100 cannot pass GEGL's property; clamping keeps a caller
// that sets the struct directly on a size the plug-in's dialog allows.
int32_t size_of(const GeglProperties* o)
{
    return o->size < 1 ? 1 : o->size > 100 ? 100 : o->size;
}

// The picture's own format: its depth, model, alpha and space, so that every
// stored value passes as it is, HDR, negative and NaN values too, and the
// result keeps its profile (without a space, babl_format would mean sRGB and
// GEGL would convert both ways). A model the copy cannot serve gets 8-bit
// gamma-encoded RGB in its space, converted by GEGL, and a warning.
const Babl* pixel_format(GeglOperation* operation)
{
    const Babl* source = gegl_operation_get_source_format(operation, "input");
    if (!source) return babl_format("R'G'B' u8");
    if (const Babl* own = cell_copy_format(source)) return own;
    const Babl* space = gegl_operation_get_source_space(operation, "input");
    g_warning("cellumbra:cells cannot move pixels of %s whole; it works on them as R'G'B'%s u8",
              babl_get_name(source), babl_format_has_alpha(source) ? "A" : "");
    return babl_format_with_space(babl_format_has_alpha(source) ? "R'G'B'A u8" : "R'G'B' u8", space);
}

void prepare(GeglOperation* operation)
{
    GeglOperationAreaFilter* area = GEGL_OPERATION_AREA_FILTER(operation);
    int32_t controls[8] = {size_of(GEGL_PROPERTIES(operation))};
    KernelReach reach{};
    cellumbra_reach(controls, reach);
    area->left = reach.left;
    area->right = reach.right;
    area->top = reach.above;
    area->bottom = reach.below;
    const Babl* format = pixel_format(operation);
    gegl_operation_set_format(operation, "input", format);
    gegl_operation_set_format(operation, "output", format);
}

// The picture keeps its extent: the area filter's default would grow it by
// the margins.
GeglRectangle get_bounding_box(GeglOperation* operation)
{
    const GeglRectangle* in = gegl_operation_source_get_bounding_box(operation, "input");
    return in ? *in : GeglRectangle{0, 0, 0, 0};
}

// The plug-in sees the picture from its top-left pixel, so the cells are laid
// from the input's top-left corner, wherever it lies, and a centre beyond the
// picture takes the nearest pixel of it: the map clamps into the chunk's
// margins cut to the picture, which hold every centre its pixels take.
//
// Of those margins only the rows that hold centres are read, one in 2 x size
// at most, so a chunk costs about one read of its own pixels (for their
// alpha) and one write: the cells are copied along the map's runs straight
// from those rows into GEGL's output tiles. The chunk goes in strips of the
// output's tile rows, each reading its own centre rows into one scratch
// block: a block for the whole chunk would be allocated, and its memory
// touched for the first time, anew for every rendering.
int32_t floor_div(int32_t v, int32_t d)
{
    return v >= 0 ? v / d : -((-int64_t{v} + d - 1) / d);
}

gboolean process(GeglOperation* operation, GeglBuffer* input, GeglBuffer* output, const GeglRectangle* roi,
                 gint level)
{
    const GeglRectangle* box = gegl_operation_source_get_bounding_box(operation, "input");
    GeglRectangle out{};
    if (!box || !gegl_rectangle_intersect(&out, roi, box)) return TRUE;
    GeglOperationAreaFilter* area = GEGL_OPERATION_AREA_FILTER(operation);
    const GeglRectangle wanted{out.x - area->left, out.y - area->top, out.width + area->left + area->right,
                               out.height + area->top + area->bottom};
    GeglRectangle read{};
    gegl_rectangle_intersect(&read, &wanted, box);
    const int32_t size = size_of(GEGL_PROPERTIES(operation));
    const Babl* format = gegl_operation_get_format(operation, "output");
    const PixelBytes bytes = cell_pixel_bytes(format);

    // In the picture's coordinates, from its corner.
    const CellBounds bounds{read.x - box->x, read.y - box->y, read.x + read.width - box->x,
                            read.y + read.height - box->y};
    auto* runs = static_cast<CellRun*>(
        gegl_scratch_alloc(sizeof(CellRun) * (cell_run_capacity(size, out.width) + cell_run_capacity(size, 6 * size))));
    CellRun* probe = runs + cell_run_capacity(size, out.width);
    const int32_t rows = bounds.bottom - bounds.top;
    auto* compact = static_cast<int32_t*>(gegl_scratch_alloc(sizeof(int32_t) * size_t(rows)));
    for (int32_t r = 0; r < rows; ++r) compact[r] = -1;
    const intptr_t row_bytes = intptr_t(read.width) * intptr_t(bytes.pixel_bytes);
    gint tile_height = 0;
    g_object_get(output, "tile-height", &tile_height, nullptr);
    if (tile_height < 1) tile_height = 64;

    unsigned char* centres = nullptr;
    int32_t capacity = 0;
    for (int32_t top = out.y, end = out.y + out.height; top < end;) {
        const int32_t next = (floor_div(top, tile_height) + 1) * tile_height;
        const int32_t bottom = next < end ? next : end;
        // The rows the strip's centres lie on: those of a row's first tile
        // are those of the whole row.
        int32_t low = rows, high = -1;
        for (int32_t y = top - box->y; y < bottom - box->y; ++y) {
            const int32_t n = cell_row_runs(size, y, 0, 6 * size, bounds, probe);
            for (int32_t r = 0; r < n; ++r) {
                const int32_t at = probe[r].cy - bounds.top;
                compact[at] = 0;
                low = at < low ? at : low;
                high = at > high ? at : high;
            }
        }
        int32_t held = 0;
        for (int32_t r = low; r <= high; ++r)
            if (compact[r] == 0) compact[r] = held++;
        if (held > capacity) {
            if (centres) gegl_scratch_free(centres); // which takes no null
            centres = static_cast<unsigned char*>(gegl_scratch_alloc(size_t(row_bytes) * size_t(held)));
            capacity = held;
        }
        for (int32_t r = low; r <= high;) {
            if (compact[r] < 0) {
                ++r;
                continue;
            }
            int32_t run_end = r + 1;
            while (run_end <= high && compact[run_end] >= 0) ++run_end;
            const GeglRectangle part{read.x, read.y + r, read.width, run_end - r};
            gegl_buffer_get(input, &part, 1.0, format, centres + compact[r] * row_bytes, int(row_bytes),
                            GEGL_ABYSS_NONE);
            r = run_end;
        }
        const CellSource source{centres, row_bytes, CellBounds{bounds.left, 0, bounds.right, held}};

        // Straight into the output's tiles, piece by piece, each pixel's
        // alpha beside it from the input's.
        const GeglRectangle strip{out.x, top, out.width, bottom - top};
        GeglBufferIterator* it =
            gegl_buffer_iterator_new(output, &strip, 0, format, GEGL_ACCESS_WRITE, GEGL_ABYSS_NONE, 2);
        if (bytes.kept_bytes) gegl_buffer_iterator_add(it, input, &strip, 0, format, GEGL_ACCESS_READ, GEGL_ABYSS_NONE);
        while (gegl_buffer_iterator_next(it)) {
            const GeglRectangle& piece = it->items[0].roi;
            auto* tiles = static_cast<unsigned char*>(it->items[0].data);
            const auto* own = bytes.kept_bytes ? static_cast<const unsigned char*>(it->items[1].data) : nullptr;
            const intptr_t piece_row = intptr_t(piece.width) * intptr_t(bytes.pixel_bytes);
            const int32_t left = piece.x - box->x, piece_top = piece.y - box->y;
            for (int32_t y = 0; y < piece.height; ++y) {
                const int32_t n = cell_row_runs(size, piece_top + y, left, left + piece.width, bounds, runs);
                for (int32_t r = 0; r < n; ++r) runs[r].cy = compact[runs[r].cy - bounds.top];
                cell_copy_runs(runs, n, left, source, own ? own + y * piece_row : nullptr, tiles + y * piece_row,
                               bytes);
            }
        }
        for (int32_t r = low; r <= high; ++r) compact[r] = -1;
        top = bottom;
    }
    if (centres) gegl_scratch_free(centres);
    gegl_scratch_free(compact);
    gegl_scratch_free(runs);
    return TRUE;
}

} // namespace

static void gegl_op_class_init(GeglOpClass* klass)
{
    GeglOperationClass* operation_class = GEGL_OPERATION_CLASS(klass);
    GeglOperationFilterClass* filter_class = GEGL_OPERATION_FILTER_CLASS(klass);
    operation_class->prepare = prepare;
    operation_class->get_bounding_box = get_bounding_box;
    operation_class->threaded = TRUE;
    filter_class->process = process;
    gegl_operation_class_set_keys(operation_class,
        "name", "cellumbra:cells",
        "title", "Cellumbra",
        "categories", "artistic:distorts",
        "position-dependent", "true",
        "gimp:menu-path", "<Image>/Filters/Artistic",
        "description", "Divides the picture into hexagonal cells, each filled with the colour at its centre",
        nullptr);
}

#endif
