// The cell filter as the GEGL operation cellumbra:cells. GEGL calls process
// for chunks of the output from several threads at once; each call reads its
// chunk and the margins the kernel declares, and runs the plug-in's own Main
// block over them through the pixel-local row walk, with the size as an
// argument. Nothing here or below is shared between calls.
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

#include "filter/cellumbra_kernel.h"
#include "runtime/pixel_loop.h"

namespace {

// The plug-in's controls for a size: slider 1, the others unused. A size
// outside 1..100 cannot pass GEGL's property; clamping keeps a caller that
// sets the struct directly on a size the plug-in's dialog allows.
void controls_for(const GeglProperties* o, int32_t (&controls)[8])
{
    for (int32_t& c : controls) c = 0;
    controls[0] = o->size < 1 ? 1 : o->size > 100 ? 100 : o->size;
}

// The picture's own colours: formats in the source's space, so that the cells
// are computed on its stored 8-bit values and the result keeps its profile
// (without a space, babl_format would mean sRGB and GEGL would convert both
// ways). A grey picture stays grey, and a picture without alpha gets none.
const Babl* pixel_format(GeglOperation* operation)
{
    const Babl* source = gegl_operation_get_source_format(operation, "input");
    if (!source) return babl_format("R'G'B' u8");
    const Babl* space = gegl_operation_get_source_space(operation, "input");
    const bool alpha = babl_format_has_alpha(source);
    const bool grey = (babl_get_model_flags(babl_format_get_model(source)) & BABL_MODEL_FLAG_GRAY) != 0;
    const char* encoding = grey ? (alpha ? "Y'A u8" : "Y' u8") : (alpha ? "R'G'B'A u8" : "R'G'B' u8");
    return babl_format_with_space(encoding, space);
}

void prepare(GeglOperation* operation)
{
    GeglOperationAreaFilter* area = GEGL_OPERATION_AREA_FILTER(operation);
    int32_t controls[8];
    controls_for(GEGL_PROPERTIES(operation), controls);
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
// picture takes the nearest pixel of it. Reading only the margins' part that
// lies inside the picture lets the view's own clamp do exactly that.
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

    const Babl* format = gegl_operation_get_format(operation, "output");
    const int32_t stored = babl_format_get_n_components(format);
    const bool grey = stored < 3; // walked as the plug-in's (Y, Y, Y) or (Y, Y, Y, A)
    const int32_t planes = grey ? stored + 2 : stored;
    const uintptr_t in_row = uintptr_t(read.width) * uintptr_t(planes);
    const size_t read_pixels = size_t(read.width) * size_t(read.height);
    // GEGL's per-thread scratch memory: a chunk's worth, reused from call to call.
    auto* in = static_cast<unsigned char*>(gegl_scratch_alloc(in_row * uintptr_t(read.height)));
    if (grey) {
        auto* values = static_cast<unsigned char*>(gegl_scratch_alloc(read_pixels * size_t(stored)));
        gegl_buffer_get(input, &read, 1.0, format, values, GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_CLAMP);
        cellumbra_spread_grey(values, in, read_pixels, stored);
        gegl_scratch_free(values);
    } else {
        gegl_buffer_get(input, &read, 1.0, format, in, GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_CLAMP);
    }
    const SamplingView view{in, uint32_t(read.x - box->x), uint32_t(read.y - box->y), uint32_t(read.width - 1),
                            uint32_t(read.height - 1), uintptr_t(planes), in_row};
    int32_t controls[8];
    controls_for(GEGL_PROPERTIES(operation), controls);

    // Straight into the output's tiles, piece by piece: a copy through
    // gegl_buffer_set would cost about as much as reading the input.
    GeglBufferIterator* it = gegl_buffer_iterator_new(output, &out, 0, format, GEGL_ACCESS_WRITE, GEGL_ABYSS_NONE, 1);
    while (gegl_buffer_iterator_next(it)) {
        const GeglRectangle& piece = it->items[0].roi;
        auto* tiles = static_cast<unsigned char*>(it->items[0].data);
        const size_t piece_pixels = size_t(piece.width) * size_t(piece.height);
        unsigned char* cells =
            grey ? static_cast<unsigned char*>(gegl_scratch_alloc(piece_pixels * size_t(planes))) : tiles;
        const BandBuffers buffers{in + uintptr_t(piece.y - read.y) * in_row + uintptr_t(piece.x - read.x) * uintptr_t(planes),
                                  cells, nullptr, intptr_t(in_row), intptr_t(piece.width) * planes, 0};
        const int32_t left = piece.x - box->x, top = piece.y - box->y;
        cellumbra_walk_rows(controls, view, buffers, planes, left, top, left + piece.width, top + piece.height);
        if (grey) {
            cellumbra_take_grey(cells, tiles, piece_pixels, stored);
            gegl_scratch_free(cells);
        }
    }
    gegl_scratch_free(in);
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
