// The cell filter as a GIMP 3 plug-in: the procedure plug-in-cellumbra, in
// Filters > Artistic, for Script-Fu, Python and batch work as for the menu.
// It copies whole pixels of the layer's own format from the cells' centres
// along the runs of the shared cell map (filter/cell_map.h), which equals
// the filter's kernel block pixel for pixel: a layer of any precision keeps
// its stored values, and an 8-bit one gets the 2.10 plug-in's bytes. It
// needs neither the operation nor anything else of the plug-in; GIMP 3
// loads no plug-in written for 2.10.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "filter/cell_map.h"
#include "filter/cellumbra_kernel.h"

namespace {

const char procedure_name[] = "plug-in-cellumbra";
constexpr int smallest_size = 1, largest_size = 100, default_size = 20;

// The pixels of the layer as stored: its own babl format, alpha last.
struct Layout {
    const Babl* format;
    PixelBytes bytes; // colour from the centre, alpha kept
};

Layout layout_of(const Babl* format)
{
    const uint32_t bytes = uint32_t(babl_format_get_bytes_per_pixel(format));
    const uint32_t alpha = babl_format_has_alpha(format) ? bytes / uint32_t(babl_format_get_n_components(format)) : 0;
    return {format, PixelBytes{bytes, bytes - alpha, alpha}};
}

// The cells of parts of a layer of width x height (layer coordinates): laid
// from the layer's top-left corner, every centre read from the layer itself
// (nearest pixel of it when the centre lies outside), so that the cells
// inside a selection are the whole layer's. Each pixel takes its colour
// bytes whole from its centre and keeps its own alpha, as the 2.10 plug-in
// and the .8bf keep it, through the shared map of the cells' runs.
class Cells {
public:
    Cells(GeglBuffer* input, const Layout& layout, int size)
        : input_(input), layout_(layout), size_(size), width_(gegl_buffer_get_width(input)),
          height_(gegl_buffer_get_height(input))
    {
        int32_t controls[8] = {size};
        cellumbra_reach(controls, reach_);
    }

    const KernelReach& reach() const { return reach_; }

    // `area` into `out`, area.width pixels a row.
    void compute(const GeglRectangle& area, unsigned char* out)
    {
        const GeglRectangle layer{0, 0, width_, height_};
        const GeglRectangle wanted{area.x - reach_.left, area.y - reach_.above, area.width + reach_.left + reach_.right,
                                   area.height + reach_.above + reach_.below};
        GeglRectangle read{};
        if (!gegl_rectangle_intersect(&read, &wanted, &layer)) return;
        const size_t bytes = layout_.bytes.pixel_bytes;
        const intptr_t in_row = intptr_t(read.width) * intptr_t(bytes);
        in_.resize(size_t(read.width) * size_t(read.height) * bytes);
        gegl_buffer_get(input_, &read, 1.0, layout_.format, in_.data(), in_row, GEGL_ABYSS_NONE);
        runs_.resize(cell_run_capacity(size_, area.width));
        const CellSource source{in_.data(), in_row, CellBounds{read.x, read.y, read.x + read.width, read.y + read.height}};
        const unsigned char* own = in_.data() + size_t(area.y - read.y) * size_t(in_row) + size_t(area.x - read.x) * bytes;
        cell_copy_area(size_, source, own, in_row, out, intptr_t(area.width) * intptr_t(bytes), layout_.bytes, area.x,
                       area.y, area.x + area.width, area.y + area.height, runs_.data());
    }

private:
    GeglBuffer* input_;
    Layout layout_;
    int size_, width_, height_;
    KernelReach reach_{};
    std::vector<unsigned char> in_;
    std::vector<CellRun> runs_;
};

// Through the shadow buffer, so that the change is one undo step, limited to
// the selection (merging blends by its mask) and nothing at all if the run
// ends early: a cancel from GIMP's progress ends the plug-in before the merge.
void apply(GimpDrawable* drawable, int size)
{
    gint x = 0, y = 0, width = 0, height = 0;
    if (!gimp_drawable_mask_intersect(drawable, &x, &y, &width, &height)) return;
    const Layout layout = layout_of(gimp_drawable_get_format(drawable));
    GeglBuffer* input = gimp_drawable_get_buffer(drawable);
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
    Cells cells(input, layout, size);
    // Strips tall enough that reading their reach again costs at most as
    // much as the strip itself, and progress moves along them.
    const gint strip = std::max<gint>(64, cells.reach().above + cells.reach().below + 1);
    std::vector<unsigned char> out(size_t(width) * size_t(std::min(strip, height)) * layout.bytes.pixel_bytes);
    gimp_progress_init("Cellumbra");
    for (gint top = y; top < y + height; top += strip) {
        const GeglRectangle area{x, top, width, std::min(strip, y + height - top)};
        cells.compute(area, out.data());
        gegl_buffer_set(shadow, &area, 0, layout.format, out.data(), GEGL_AUTO_ROWSTRIDE);
        gimp_progress_update(double(area.y + area.height - y) / double(height));
    }
    g_object_unref(shadow); // hands the last tiles to GIMP before the merge
    g_object_unref(input);
    gimp_drawable_merge_shadow(drawable, TRUE);
    gimp_drawable_update(drawable, x, y, width, height);
    gimp_progress_end();
}

// ------------------------------------------------------------------ dialog

struct PreviewState {
    GimpDrawable* drawable;
    GimpProcedureConfig* config;
    std::vector<unsigned char> out;
};

// The preview draws 8-bit pixels of the layer's type: its cells on the
// layer's 8-bit values, which for an 8-bit layer are the result's bytes.
void draw_preview(GimpPreview* preview, PreviewState* state)
{
    gint x = 0, y = 0, width = 0, height = 0;
    gimp_preview_get_position(preview, &x, &y);
    gimp_preview_get_size(preview, &width, &height);
    if (width <= 0 || height <= 0) return;
    int size = default_size;
    g_object_get(state->config, "size", &size, nullptr);
    if (size < smallest_size || size > largest_size) return;
    const bool alpha = gimp_drawable_has_alpha(state->drawable);
    const char* name = gimp_drawable_is_gray(state->drawable) ? (alpha ? "Y'A u8" : "Y' u8")
                                                              : (alpha ? "R'G'B'A u8" : "R'G'B' u8");
    const Babl* format = babl_format_with_space(name, babl_format_get_space(gimp_drawable_get_format(state->drawable)));
    const Layout layout = layout_of(format);
    GeglBuffer* input = gimp_drawable_get_buffer(state->drawable);
    state->out.resize(size_t(width) * size_t(height) * layout.bytes.pixel_bytes);
    Cells cells(input, layout, size);
    cells.compute(GeglRectangle{x, y, width, height}, state->out.data());
    g_object_unref(input);
    gimp_preview_draw_buffer(preview, state->out.data(), width * int(layout.bytes.pixel_bytes));
}

bool ask_for_values(GimpProcedure* procedure, GimpProcedureConfig* config, GimpDrawable* drawable)
{
    gimp_ui_init("cellumbra");
    GtkWidget* dialog = gimp_procedure_dialog_new(procedure, config, "Cellumbra");
    GtkWidget* preview =
        gimp_procedure_dialog_get_drawable_preview(GIMP_PROCEDURE_DIALOG(dialog), "preview", drawable);
    PreviewState state{drawable, config, {}};
    g_signal_connect(preview, "invalidated", G_CALLBACK(draw_preview), &state);
    g_signal_connect_swapped(config, "notify::size", G_CALLBACK(gimp_preview_invalidate), preview);
    // The argument accepts any number, so that a script's wrong size reaches
    // the run to be refused; the slider and its entry keep to 1..100.
    GtkWidget* size = gimp_procedure_dialog_get_scale_entry(GIMP_PROCEDURE_DIALOG(dialog), "size", 1.0);
    gimp_label_spin_set_increments(GIMP_LABEL_SPIN(size), 1, 10);
    gimp_scale_entry_set_bounds(GIMP_SCALE_ENTRY(size), smallest_size, largest_size, FALSE);
    gimp_procedure_dialog_fill(GIMP_PROCEDURE_DIALOG(dialog), "preview", "size", nullptr);
    const bool ok = gimp_procedure_dialog_run(GIMP_PROCEDURE_DIALOG(dialog));
    g_signal_handlers_disconnect_by_data(config, preview);
    gtk_widget_destroy(dialog);
    return ok;
}

// ------------------------------------------------------------ procedure

GimpValueArray* refuse(GimpProcedure* procedure, GimpPDBStatusType status, const char* format, int value = 0)
{
    GError* error = g_error_new(GIMP_PLUG_IN_ERROR, 0, format, value);
    return gimp_procedure_new_return_values(procedure, status, error);
}

GimpValueArray* run(GimpProcedure* procedure, GimpRunMode mode, GimpImage*, GimpDrawable** drawables,
                    GimpProcedureConfig* config, gpointer)
{
    if (!drawables || !drawables[0] || drawables[1])
        return refuse(procedure, GIMP_PDB_CALLING_ERROR, "Cellumbra works on one layer at a time");
    GimpDrawable* drawable = drawables[0];
    if (!gimp_drawable_is_rgb(drawable) && !gimp_drawable_is_gray(drawable))
        return refuse(procedure, GIMP_PDB_EXECUTION_ERROR, "Cellumbra works on RGB and grey layers, not on indexed ones");
    gegl_init(nullptr, nullptr);
    if (mode == GIMP_RUN_INTERACTIVE && !ask_for_values(procedure, config, drawable))
        return gimp_procedure_new_return_values(procedure, GIMP_PDB_CANCEL, nullptr);
    int size = default_size;
    g_object_get(config, "size", &size, nullptr);
    // Refused, not clamped: a script that asks for another size than it gets
    // would go on unaware.
    if (size < smallest_size || size > largest_size)
        return refuse(procedure, GIMP_PDB_CALLING_ERROR, "Cellumbra: the size is %d; it must lie in 1..100", size);
    apply(drawable, size);
    if (mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
    return gimp_procedure_new_return_values(procedure, GIMP_PDB_SUCCESS, nullptr);
}

} // namespace

struct Cellumbra {
    GimpPlugIn parent_instance;
};
struct CellumbraClass {
    GimpPlugInClass parent_class;
};

G_DEFINE_TYPE(Cellumbra, cellumbra, GIMP_TYPE_PLUG_IN)

static GList* cellumbra_query_procedures(GimpPlugIn*)
{
    return g_list_append(nullptr, g_strdup(procedure_name));
}

static GimpProcedure* cellumbra_create_procedure(GimpPlugIn* plug_in, const gchar* name)
{
    if (std::strcmp(name, procedure_name) != 0) return nullptr;
    GimpProcedure* procedure = gimp_image_procedure_new(plug_in, name, GIMP_PDB_PROC_TYPE_PLUGIN, run, nullptr, nullptr);
    gimp_procedure_set_image_types(procedure, "RGB*, GRAY*");
    gimp_procedure_set_sensitivity_mask(procedure, GIMP_PROCEDURE_SENSITIVE_DRAWABLE);
    gimp_procedure_set_menu_label(procedure, "_Cellumbra...");
    gimp_procedure_add_menu_path(procedure, "<Image>/Filters/Artistic");
    gimp_procedure_set_documentation(procedure, "Divide the picture into hexagonal cells",
                                     "Covers the layer, or the selected part of it, with hexagonal cells laid from "
                                     "the layer's top-left corner, each filled with the colour at its centre. Alpha "
                                     "stays as it was. The size must lie in 1..100; any other is refused.",
                                     name);
    gimp_procedure_set_attribution(procedure, "Cellumbra", "MIT licence", "2026");
    gimp_procedure_add_int_argument(procedure, "size", "Si_ze",
                                    "Cells are 4 x size pixels tall and 4 1/3 x size wide (1 <= size <= 100)",
                                    G_MININT, G_MAXINT, default_size, G_PARAM_READWRITE);
    return procedure;
}

// No catalogue of translations: the plug-in speaks English alone.
static gboolean cellumbra_set_i18n(GimpPlugIn*, const gchar*, gchar**, gchar**)
{
    return FALSE;
}

static void cellumbra_class_init(CellumbraClass* klass)
{
    GimpPlugInClass* plug_in = GIMP_PLUG_IN_CLASS(klass);
    plug_in->query_procedures = cellumbra_query_procedures;
    plug_in->create_procedure = cellumbra_create_procedure;
    plug_in->set_i18n = cellumbra_set_i18n;
}

static void cellumbra_init(Cellumbra*) {}

GIMP_MAIN(cellumbra_get_type())
