// The cell filter as a GIMP 2.10 plug-in: the procedure plug-in-cellumbra,
// in Filters > Artistic, for Script-Fu, Python-Fu and batch work as for the
// menu. Like the GEGL operation it copies whole pixels along the cell map,
// in the layer's own format at any precision, and needs neither the
// operation nor anything else of the plug-in.
//
// GIMP 3 loads no plug-ins written for this library; there the operation is
// the way.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gimp/layer_cells.h"

namespace {

const char procedure[] = "plug-in-cellumbra";
// Across sessions: a global parasite that GIMP keeps in its profile's
// parasiterc, as it keeps its own filters' last settings in the profile.
const char size_parasite[] = "plug-in-cellumbra-size";
constexpr gint32 smallest_size = 1, largest_size = 100, default_size = 20;

struct Values {
    gint32 size = default_size;
};

// The last size: this session's first, else the one kept across sessions,
// else the default.
Values last_values()
{
    Values values;
    if (gimp_get_data_size(procedure) == sizeof values && gimp_get_data(procedure, &values) &&
        values.size >= smallest_size && values.size <= largest_size)
        return values;
    values = Values{};
    if (GimpParasite* kept = gimp_get_parasite(size_parasite)) {
        const std::string text(static_cast<const char*>(gimp_parasite_data(kept)), size_t(gimp_parasite_data_size(kept)));
        const long size = std::strtol(text.c_str(), nullptr, 10);
        if (size >= smallest_size && size <= largest_size) values.size = gint32(size);
        gimp_parasite_free(kept);
    }
    return values;
}

void keep_values(const Values& values)
{
    gimp_set_data(procedure, &values, sizeof values);
    const std::string text = std::to_string(values.size);
    GimpParasite* kept = gimp_parasite_new(size_parasite, GIMP_PARASITE_PERSISTENT, text.size(), text.c_str());
    gimp_attach_parasite(kept);
    gimp_parasite_free(kept);
}

// ------------------------------------------------------------------ dialog

struct PreviewState {
    gint32 drawable;
    const Babl* format;
    GeglBuffer* input;
    const Values* values;
    std::vector<unsigned char> out;
};

void draw_preview(GimpPreview* preview, PreviewState* state)
{
    LayerCells(state->input, state->format, state->values->size).draw(preview, state->out);
}

bool ask_for_values(gint32 drawable, Values& values)
{
    gimp_ui_init("cellumbra", FALSE);
    GtkWidget* dialog = gimp_dialog_new("Cellumbra", "cellumbra", nullptr, GtkDialogFlags(0), gimp_standard_help_func,
                                        procedure, "_Cancel", GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_OK, GTK_RESPONSE_CANCEL, -1);
    gimp_window_set_transient(GTK_WINDOW(dialog));

    GtkWidget* box = gtk_vbox_new(FALSE, 12);
    gtk_container_set_border_width(GTK_CONTAINER(box), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), box, TRUE, TRUE, 0);

    PreviewState state{drawable, cell_preview_format(gimp_drawable_get_format(drawable)), gimp_drawable_get_buffer(drawable), &values, {}};
    GtkWidget* preview = gimp_drawable_preview_new_from_drawable_id(drawable);
    gtk_box_pack_start(GTK_BOX(box), preview, TRUE, TRUE, 0);
    g_signal_connect(preview, "invalidated", G_CALLBACK(draw_preview), &state);

    GtkWidget* table = gtk_table_new(1, 3, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_box_pack_start(GTK_BOX(box), table, FALSE, FALSE, 0);
    GtkObject* size = gimp_scale_entry_new(GTK_TABLE(table), 0, 0, "_Size:", 200, 4, values.size, smallest_size,
                                           largest_size, 1, 10, 0, TRUE, 0, 0,
                                           "Cells are 4 x size pixels tall and 4 1/3 x size wide", nullptr);
    g_signal_connect(size, "value-changed", G_CALLBACK(gimp_int_adjustment_update), &values.size);
    g_signal_connect_swapped(size, "value-changed", G_CALLBACK(gimp_preview_invalidate), preview);

    gtk_widget_show_all(dialog);
    const bool ok = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
    gtk_widget_destroy(dialog);
    g_object_unref(state.input);
    return ok;
}

// ------------------------------------------------------------ procedure

void query()
{
    static GimpParamDef arguments[] = {
        {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
         const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), RUN-WITH-LAST-VALS (2) }")},
        {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image (unused)")},
        {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input drawable")},
        {GIMP_PDB_INT32, const_cast<gchar*>("size"),
         const_cast<gchar*>("Cell size (1 <= size <= 100): cells are 4 x size pixels tall and 4 1/3 x size wide")},
    };
    gimp_install_procedure(procedure, "Divide the picture into hexagonal cells",
                           "Covers the layer, or the selected part of it, with hexagonal cells laid from the layer's "
                           "top-left corner, each filled with the colour at its centre. Alpha stays as it was.",
                           "Cellumbra", "MIT licence", "2026", "_Cellumbra...", "RGB*, GRAY*", GIMP_PLUGIN,
                           G_N_ELEMENTS(arguments), 0, arguments, nullptr);
    gimp_plugin_menu_register(procedure, "<Image>/Filters/Artistic");
}

void run(const gchar* name, gint n_params, const GimpParam* params, gint* n_return_values, GimpParam** return_values)
{
    static GimpParam values[2];
    static gchar message[160];
    *n_return_values = 1;
    *return_values = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = GIMP_PDB_SUCCESS;
    // A refused call says why, in GIMP's error message.
    auto refuse = [&](GimpPDBStatusType status) {
        values[0].data.d_status = status;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = message;
        *n_return_values = 2;
    };
    if (n_params < 3) {
        g_snprintf(message, sizeof message, "%s takes run-mode, image, drawable and size", procedure);
        return refuse(GIMP_PDB_CALLING_ERROR);
    }
    const auto mode = GimpRunMode(params[0].data.d_int32);
    const gint32 drawable = params[2].data.d_drawable;
    Values chosen = last_values();
    if (mode == GIMP_RUN_NONINTERACTIVE) {
        if (n_params != 4) {
            g_snprintf(message, sizeof message, "%s takes run-mode, image, drawable and size", procedure);
            return refuse(GIMP_PDB_CALLING_ERROR);
        }
        // Refused, not clamped: a script that asks for another size than it
        // gets would go on unaware.
        chosen.size = params[3].data.d_int32;
        if (chosen.size < smallest_size || chosen.size > largest_size) {
            g_snprintf(message, sizeof message, "Cellumbra: the size is %d; it must lie in 1..100",
                       int(params[3].data.d_int32));
            return refuse(GIMP_PDB_CALLING_ERROR);
        }
    }
    if (!gimp_drawable_is_rgb(drawable) && !gimp_drawable_is_gray(drawable)) {
        g_snprintf(message, sizeof message, "Cellumbra works on RGB and grey layers, not on indexed ones");
        return refuse(GIMP_PDB_EXECUTION_ERROR);
    }
    gegl_init(nullptr, nullptr);
    if (mode == GIMP_RUN_INTERACTIVE && !ask_for_values(drawable, chosen)) {
        values[0].data.d_status = GIMP_PDB_CANCEL;
        return;
    }
    apply_cells(drawable, chosen.size);
    if (mode == GIMP_RUN_INTERACTIVE) keep_values(chosen);
    if (mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
}

} // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

MAIN()
