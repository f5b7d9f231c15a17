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

#include "gimp/layer_cells.h"

namespace {

const char procedure_name[] = "plug-in-cellumbra";
constexpr int smallest_size = 1, largest_size = 100, default_size = 20;

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
    int size = default_size;
    g_object_get(state->config, "size", &size, nullptr);
    if (size < smallest_size || size > largest_size) return;
    GeglBuffer* input = gimp_drawable_get_buffer(state->drawable);
    LayerCells(input, cell_preview_format(gimp_drawable_get_format(state->drawable)), size).draw(preview, state->out);
    g_object_unref(input);
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
    apply_cells(drawable, size);
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
