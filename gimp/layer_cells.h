// The cells of a GIMP layer, for the GIMP 2.10 and the GIMP 3 plug-in alike:
// both hold the layer as a GEGL buffer, read it in its own format and write
// the cells through the shadow buffer in strips. The two libraries name a
// drawable differently (an id, an object) but call it by the same functions,
// so each plug-in's build gives apply_cells its own.
#pragma once

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "filter/cell_map.h"
#include "filter/cellumbra_kernel.h"
#include "gegl/cell_format.h"

// The cells of areas of a layer of width x height (layer coordinates), into
// `out`, area.width pixels of `format` a row: whole pixels copied along the
// cell map, laid from the layer's top-left corner, every centre read from
// the layer itself (its nearest pixel when the centre lies beyond it), so
// that the cells inside a selection are the whole layer's.
class LayerCells {
public:
    LayerCells(GeglBuffer* input, const Babl* format, int32_t size)
        : input_(input), format_(format), bytes_(cell_pixel_bytes(format)), size_(size),
          width_(gegl_buffer_get_width(input)), height_(gegl_buffer_get_height(input))
    {
        const int32_t controls[8] = {size};
        cellumbra_reach(controls, reach_);
    }

    const KernelReach& reach() const { return reach_; }
    const Babl* format() const { return format_; }
    size_t pixel_bytes() const { return bytes_.pixel_bytes; }

    void compute(const GeglRectangle& area, unsigned char* out)
    {
        const GeglRectangle layer{0, 0, width_, height_};
        const GeglRectangle wanted{area.x - reach_.left, area.y - reach_.above, area.width + reach_.left + reach_.right,
                                   area.height + reach_.above + reach_.below};
        GeglRectangle read{};
        if (!gegl_rectangle_intersect(&read, &wanted, &layer)) return;
        const size_t row = size_t(read.width) * bytes_.pixel_bytes;
        in_.resize(row * size_t(read.height));
        gegl_buffer_get(input_, &read, 1.0, format_, in_.data(), int(row), GEGL_ABYSS_NONE);
        runs_.resize(cell_run_capacity(size_, area.width));
        const CellSource source{in_.data(), intptr_t(row),
                                CellBounds{read.x, read.y, read.x + read.width, read.y + read.height}};
        cell_copy_area(size_, source, in_.data() + size_t(area.y - read.y) * row + size_t(area.x - read.x) * bytes_.pixel_bytes,
                       intptr_t(row), out, intptr_t(area.width) * bytes_.pixel_bytes, bytes_, area.x, area.y,
                       area.x + area.width, area.y + area.height, runs_.data());
    }

    // The cells of the area a preview shows, drawn into it; `out` keeps them
    // from one drawing to the next.
    void draw(GimpPreview* preview, std::vector<unsigned char>& out)
    {
        gint x = 0, y = 0, width = 0, height = 0;
        gimp_preview_get_position(preview, &x, &y);
        gimp_preview_get_size(preview, &width, &height);
        if (width <= 0 || height <= 0) return;
        out.resize(size_t(width) * size_t(height) * bytes_.pixel_bytes);
        compute(GeglRectangle{x, y, width, height}, out.data());
        gimp_preview_draw_buffer(preview, out.data(), width * gint(bytes_.pixel_bytes));
    }

    // The area (x, y, width, height) of the layer into `shadow`, in strips
    // tall enough that reading their reach again costs at most as much as
    // the strip itself; `progress` gets the part done after each.
    template <class Progress>
    void write_strips(GeglBuffer* shadow, int x, int y, int width, int height, Progress progress)
    {
        const int strip = std::max<int>(64, reach_.above + reach_.below + 1);
        std::vector<unsigned char> out(size_t(width) * size_t(std::min(strip, height)) * bytes_.pixel_bytes);
        for (int top = y; top < y + height; top += strip) {
            const GeglRectangle area{x, top, width, std::min(strip, y + height - top)};
            compute(area, out.data());
            gegl_buffer_set(shadow, &area, 0, format_, out.data(), GEGL_AUTO_ROWSTRIDE);
            progress(double(area.y + area.height - y) / double(height));
        }
    }

private:
    GeglBuffer* input_;
    const Babl* format_;
    PixelBytes bytes_;
    int32_t size_, width_, height_;
    KernelReach reach_{};
    std::vector<unsigned char> in_;
    std::vector<CellRun> runs_;
};

// Through the shadow buffer, so that the change is one undo step, limited to
// the selection (merging blends by its mask) and nothing at all if the run
// ends early: a cancel from GIMP's progress ends the plug-in before the merge.
template <class Drawable>
void apply_cells(Drawable drawable, int32_t size)
{
    gint x = 0, y = 0, width = 0, height = 0;
    if (!gimp_drawable_mask_intersect(drawable, &x, &y, &width, &height)) return;
    GeglBuffer* input = gimp_drawable_get_buffer(drawable);
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
    LayerCells cells(input, cell_layer_format(gimp_drawable_get_format(drawable)), size);
    gimp_progress_init("Cellumbra");
    cells.write_strips(shadow, x, y, width, height, [](double done) { gimp_progress_update(done); });
    g_object_unref(shadow); // hands the last tiles to GIMP before the merge
    g_object_unref(input);
    gimp_drawable_merge_shadow(drawable, TRUE);
    gimp_drawable_update(drawable, x, y, width, height);
    gimp_progress_end();
}
