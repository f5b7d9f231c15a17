// The benchmark's yardstick: the cells written plainly as a GEGL area filter,
// without the plug-in's kernel, walk or built-ins. Per pixel a remainder by
// each tile side, the nearer of the quarter's corner and the tile's middle
// (ties to the middle; the mid-lines count to the right and lower quarters),
// the centre clamped to the picture. 8-bit RGB only, as the benchmark uses it.
#ifdef GEGL_PROPERTIES

property_int (size, "Size", 20)
  value_range (1, 100)

#else

#define GEGL_OP_AREA_FILTER
#define GEGL_OP_NAME cellumbra_yardstick
#define GEGL_OP_C_SOURCE cellumbra-yardstick.cc

#include <gegl-op.h>

#include <algorithm>

static void prepare(GeglOperation* operation)
{
    GeglOperationAreaFilter* area = GEGL_OPERATION_AREA_FILTER(operation);
    const int s = GEGL_PROPERTIES(operation)->size;
    area->left = area->right = 13 * s / 6;
    area->top = area->bottom = 2 * s;
    gegl_operation_set_format(operation, "input", babl_format("R'G'B' u8"));
    gegl_operation_set_format(operation, "output", babl_format("R'G'B' u8"));
}

static GeglRectangle get_bounding_box(GeglOperation* operation)
{
    const GeglRectangle* in = gegl_operation_source_get_bounding_box(operation, "input");
    return in ? *in : GeglRectangle{0, 0, 0, 0};
}

static gboolean process(GeglOperation* operation, GeglBuffer* input, GeglBuffer* output, const GeglRectangle* roi,
                        gint level)
{
    const GeglRectangle* box = gegl_operation_source_get_bounding_box(operation, "input");
    GeglRectangle out, read;
    if (!box || !gegl_rectangle_intersect(&out, roi, box)) return TRUE;
    GeglOperationAreaFilter* area = GEGL_OPERATION_AREA_FILTER(operation);
    const GeglRectangle wanted{out.x - area->left, out.y - area->top, out.width + area->left + area->right,
                               out.height + area->top + area->bottom};
    gegl_rectangle_intersect(&read, &wanted, box);
    const Babl* format = babl_format("R'G'B' u8");
    auto* in = static_cast<guchar*>(gegl_scratch_alloc(size_t(read.width) * read.height * 3));
    auto* result = static_cast<guchar*>(gegl_scratch_alloc(size_t(out.width) * out.height * 3));
    gegl_buffer_get(input, &read, 1.0, format, in, GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);

    const int s = GEGL_PROPERTIES(operation)->size;
    const int s2 = 2 * s, s3 = 3 * s, s4 = 4 * s, s6 = 6 * s;
    guchar* o = result;
    for (int y = out.y - box->y; y < out.y - box->y + out.height; ++y)
        for (int x = out.x - box->x; x < out.x - box->x + out.width; ++x, o += 3) {
            const int tx = x % s6, ty = y % s4;
            const int corner_x = tx < s3 ? 0 : s6, corner_y = ty < s2 ? 0 : s4;
            const int to_corner = (tx - corner_x) * (tx - corner_x) + (ty - corner_y) * (ty - corner_y);
            const int to_middle = (tx - s3) * (tx - s3) + (ty - s2) * (ty - s2);
            int cx = x - tx + s3, cy = y - ty + s2;
            if (to_corner < to_middle) cx = x - tx + corner_x, cy = y - ty + corner_y;
            cx = std::clamp(cx, 0, box->width - 1) - (read.x - box->x);
            cy = std::clamp(cy, 0, box->height - 1) - (read.y - box->y);
            const guchar* p = in + (size_t(cy) * read.width + size_t(cx)) * 3;
            o[0] = p[0], o[1] = p[1], o[2] = p[2];
        }
    gegl_buffer_set(output, &out, 0, format, result, GEGL_AUTO_ROWSTRIDE);
    gegl_scratch_free(result);
    gegl_scratch_free(in);
    return TRUE;
}

static void gegl_op_class_init(GeglOpClass* klass)
{
    GeglOperationClass* operation_class = GEGL_OPERATION_CLASS(klass);
    operation_class->prepare = prepare;
    operation_class->get_bounding_box = get_bounding_box;
    operation_class->threaded = TRUE;
    GEGL_OPERATION_FILTER_CLASS(klass)->process = process;
    gegl_operation_class_set_keys(operation_class, "name", "cellumbra:yardstick", "title", "Cells, plainly",
                                  "categories", "hidden", "description", "The benchmark's yardstick", nullptr);
}

#endif
