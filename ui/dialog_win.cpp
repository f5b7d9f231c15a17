// The parameters dialog's Windows edge: it decodes messages and connects the
// controls to the rules in dialog_logic, to the settings and to the preview.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "runtime/definition.h"
#include "settings/settings.h"
#include "base/platform.h"
#include "runtime/host_calls.h"
#include "runtime/run_state.h"
#include "ui/colour.h"
#include "ui/dialog.h"
#include "ui/dialog_logic.h"
#include "ui/model.h"
#include "ui/preview.h"
#include "ui/resource_ids.h"

namespace {

DialogModel* model_of(HWND dialog)
{
    return reinterpret_cast<DialogModel*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

void send_to_preview(HWND dialog, uintptr_t which, intptr_t value)
{
    SendDlgItemMessageA(dialog, IDC_PREVIEW, preview_message, which, value);
}

void repaint_preview(HWND dialog)
{
    InvalidateRect(GetDlgItem(dialog, IDC_PREVIEW), nullptr, FALSE);
}

void show_item(HWND dialog, int id, bool show)
{
    ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOW : SW_HIDE);
}

bool shift_held()
{
    return (GetKeyState(VK_SHIFT) & 0x8000) != 0;
}

SIZE client_size(HWND window)
{
    RECT r = {};
    if (!window || !GetClientRect(window, &r)) return SIZE{0, 0};
    return SIZE{r.right - r.left, r.bottom - r.top};
}

void set_field_text(HWND dialog, int id, const char* field, size_t field_size)
{
    char text[260];
    copy_field_text(text, sizeof text, field, field_size);
    if (id == 0)
        SetWindowTextA(dialog, text);
    else
        SetDlgItemTextA(dialog, id, text);
}

void set_zoom_text(HWND dialog)
{
    char text[16];
    format_zoom_text(text, sizeof text, run_state.zoom_factor);
    SetDlgItemTextA(dialog, IDC_ZOOM_TEXT, text);
}

int32_t preview_fit_zoom_factor(HWND dialog)
{
    SIZE client = client_size(GetDlgItem(dialog, IDC_PREVIEW));
    int32_t width = run_state.filter_record ? run_state.filter_record->imageSize.h : 0;
    int32_t height = run_state.filter_record ? run_state.filter_record->imageSize.v : 0;
    return fit_zoom_factor(client.cx, client.cy, width, height);
}

void set_up_controls(HWND dialog)
{
    for (int k = 1; k <= SLIDER_COUNT; ++k) {
        ControlDef& def = filter_definition.controls[k - 1];
        fill_empty_slider_label(def.label, k);
        set_field_text(dialog, IDC_SLIDER_LABEL_BASE + k, def.label, sizeof def.label);
        const bool shown = def.visible != 0;
        show_item(dialog, IDC_SLIDER_LABEL_BASE + k, shown);
        show_item(dialog, IDC_TRACKBAR_BASE + k, shown);
        show_item(dialog, IDC_VALUE_EDIT_BASE + k, shown);
        SendDlgItemMessageA(dialog, IDC_TRACKBAR_BASE + k, TBM_SETRANGE, TRUE,
                            MAKELPARAM(def.min_value, def.max_value));
        int32_t value = clamp_slider_value(control_values[k - 1], def.min_value, def.max_value);
        control_values[k - 1] = value;
        SendDlgItemMessageA(dialog, IDC_TRACKBAR_BASE + k, TBM_SETPOS, TRUE, value);
        SetDlgItemInt(dialog, IDC_VALUE_EDIT_BASE + k, static_cast<UINT>(value), TRUE);
    }

    const struct {
        int id;
        int entry;
    } boxes[] = {{IDC_CHECK_1, check_box_1_control}, {IDC_CHECK_2, check_box_2_control}};
    for (const auto& box : boxes) {
        const ControlDef& def = filter_definition.controls[box.entry];
        set_field_text(dialog, box.id, def.label, sizeof def.label);
        show_item(dialog, box.id, def.visible != 0);
        // A stored value is any 32-bit number; a check box holds 0 or 1.
        control_values[box.entry] = control_values[box.entry] != 0 ? 1 : 0;
        CheckDlgButton(dialog, box.id, control_values[box.entry] ? BST_CHECKED : BST_UNCHECKED);
    }

    show_item(dialog, IDC_HELP_BUTTON, filter_definition.help_target[0] != '\0');

    if (filter_definition.colour_count < 1) {
        show_item(dialog, IDC_COLOUR_LABEL, false);
        for (int k = 1; k <= SWATCH_COUNT; ++k) show_item(dialog, IDC_SWATCH_BASE + k, false);
    }
}

INT_PTR on_init_dialog(HWND dialog, DialogModel& model)
{
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&model));
    attach_preview_model(reinterpret_cast<intptr_t>(GetDlgItem(dialog, IDC_PREVIEW)), &model.preview);
    set_field_text(dialog, 0, filter_definition.title, sizeof filter_definition.title);
    set_field_text(dialog, IDC_AUTHOR_LINE, filter_definition.author_line,
                   sizeof filter_definition.author_line);
    load_settings();
    set_up_controls(dialog);
    run_state.zoom_factor = run_state.max_zoom_factor = preview_fit_zoom_factor(dialog);
    for (int k = 1; k <= SWATCH_COUNT; ++k)
        InvalidateRect(GetDlgItem(dialog, IDC_SWATCH_BASE + k), nullptr, FALSE);
    send_to_preview(dialog, PreviewKernelSwitch, 1);
    set_zoom_text(dialog);
    if (model.show_dialog == 0) EndDialog(dialog, 1); // no user: accept with what was loaded
    CheckDlgButton(dialog, IDC_FILTERING, BST_CHECKED);
    model.initialising = false;
    return TRUE;
}

INT_PTR on_scroll(HWND dialog, HWND trackbar, WPARAM wparam)
{
    const int i = trackbar && GetParent(trackbar) == dialog ? GetDlgCtrlID(trackbar) - (IDC_TRACKBAR_BASE + 1) : -1;
    if (i < 0 || i >= SLIDER_COUNT) return FALSE;
    const ControlDef& def = filter_definition.controls[i];
    const int32_t value = scrolled_slider_value(LOWORD(wparam), HIWORD(wparam), control_values[i],
                                                def.min_value, def.max_value);
    control_values[i] = value;
    // The trackbar moved by its own page size; it shows the dialog's value.
    if (SendMessageA(trackbar, TBM_GETPOS, 0, 0) != value) SendMessageA(trackbar, TBM_SETPOS, TRUE, value);
    SetDlgItemInt(dialog, IDC_VALUE_EDIT_BASE + 1 + i, static_cast<UINT>(value), TRUE);
    send_to_preview(dialog, PreviewRefresh, 0);
    return TRUE;
}

void on_value_typed(HWND dialog, DialogModel& model, int id)
{
    if (id == model.rewriting_box) return;
    if (model.initialising) {
        send_to_preview(dialog, PreviewRefresh, 0);
        return;
    }
    const int i = id - (IDC_VALUE_EDIT_BASE + 1);
    const ControlDef& def = filter_definition.controls[i];
    BOOL valid = FALSE;
    const int32_t read = static_cast<int32_t>(GetDlgItemInt(dialog, id, &valid, TRUE));
    const TypedValue typed = correct_typed_value(read, valid != FALSE, def.min_value, def.max_value);
    if (typed.value != control_values[i])
        SendDlgItemMessageA(dialog, IDC_TRACKBAR_BASE + 1 + i, TBM_SETPOS, TRUE, typed.value);
    control_values[i] = typed.value;
    if (typed.rewrite) {
        model.rewriting_box = id;
        SetDlgItemInt(dialog, id, static_cast<UINT>(typed.value), TRUE);
        // The caret would sit in front of the corrected text and glue the
        // next keystroke to it ("1" then 5 gives "51"); selected, it is replaced.
        SendDlgItemMessageA(dialog, id, EM_SETSEL, 0, -1);
        model.rewriting_box = 0;
    }
    send_to_preview(dialog, PreviewRefresh, 0);
}

void on_check_box(HWND dialog, int id)
{
    const int entry = id == IDC_CHECK_1 ? check_box_1_control : check_box_2_control;
    control_values[entry] = IsDlgButtonChecked(dialog, id) == BST_CHECKED ? 1 : 0;
    send_to_preview(dialog, PreviewRefresh, 0);
}

void on_swatch(HWND dialog, DialogModel& model, int id)
{
    const int32_t index = id - (IDC_SWATCH_BASE + 1);
    if (!swatch_is_live(index, filter_definition.colour_count)) return;
    send_to_preview(dialog, PreviewKernelSwitch, 0);
    if (shift_held()) {
        begin_colour_pick(model.preview, reinterpret_cast<intptr_t>(dialog), id, index);
        return;
    }
    choose_colour_with_host(index);
    send_to_preview(dialog, PreviewKernelSwitch, 1);
    send_to_preview(dialog, PreviewRefresh, 0);
    InvalidateRect(GetDlgItem(dialog, id), nullptr, FALSE);
}

void on_zoom(HWND dialog, PreviewModel& preview, bool zoom_in)
{
    const SIZE client = client_size(GetDlgItem(dialog, IDC_PREVIEW));
    const ZoomView view = zoom_button(zoom_in, shift_held(), ZoomView{run_state.zoom_factor, preview.pan_x, preview.pan_y},
                                      run_state.max_zoom_factor, client.cx, client.cy);
    run_state.zoom_factor = view.zoom;
    preview.pan_x = view.pan_x;
    preview.pan_y = view.pan_y;
    clear_area_request();
    repaint_preview(dialog);
    set_zoom_text(dialog);
}

void open_help(HWND dialog)
{
    char target[sizeof filter_definition.help_target + 1];
    copy_field_text(target, sizeof target, filter_definition.help_target, sizeof filter_definition.help_target);
    // Without a help target there is nothing to open; handing the shell an
    // empty name would open the plug-in's folder instead.
    if (target[0] == '\0') return;
    ShellExecuteA(dialog, "open", target, nullptr, settings_key.module_dir[0] ? settings_key.module_dir : nullptr, SW_SHOWNORMAL);
}

INT_PTR on_command(HWND dialog, DialogModel& model, int id, int code)
{
    if (id > IDC_VALUE_EDIT_BASE && id <= IDC_VALUE_EDIT_BASE + SLIDER_COUNT) {
        if (code == EN_CHANGE) on_value_typed(dialog, model, id);
        return TRUE;
    }
    if (id > IDC_SWATCH_BASE && id <= IDC_SWATCH_BASE + SWATCH_COUNT) {
        if (code == BN_CLICKED) on_swatch(dialog, model, id);
        return TRUE;
    }
    switch (id) {
    case IDOK:
        save_settings();
        EndDialog(dialog, 1);
        return TRUE;
    case IDCANCEL: // also Escape and the close box
        EndDialog(dialog, 0);
        return TRUE;
    case IDC_CHECK_1:
    case IDC_CHECK_2:
        if (code == BN_CLICKED) on_check_box(dialog, id);
        return TRUE;
    case IDC_FILTERING:
        if (code == BN_CLICKED) {
            model.preview.filtering_on = IsDlgButtonChecked(dialog, IDC_FILTERING) == BST_CHECKED ? 1 : 0;
            repaint_preview(dialog);
        }
        return TRUE;
    case IDC_ZOOM_IN:
    case IDC_ZOOM_OUT:
        if (code == BN_CLICKED) on_zoom(dialog, model.preview, id == IDC_ZOOM_IN);
        return TRUE;
    case IDC_ABOUT:
        if (code == BN_CLICKED) show_about(reinterpret_cast<intptr_t>(dialog));
        return TRUE;
    case IDC_HELP_BUTTON:
        if (code == BN_CLICKED) open_help(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

void draw_swatch(const DRAWITEMSTRUCT& item)
{
    const int32_t index = static_cast<int32_t>(item.CtlID) - (IDC_SWATCH_BASE + 1);
    HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    if (!swatch_is_live(index, filter_definition.colour_count)) {
        FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
        return;
    }
    SelectObject(dc, GetStockObject(BLACK_PEN));
    // The top byte of a stored colour is meant to be 0; any other value would
    // make Windows read the colour as a palette reference.
    HBRUSH brush = CreateSolidBrush(filter_definition.custom_colours[index] & 0x00FFFFFF);
    if (brush) SelectObject(dc, brush);
    Rectangle(dc, r.left, r.top, r.right, r.bottom);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    if (brush) DeleteObject(brush);
}

INT_PTR CALLBACK parameters_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_INITDIALOG) return on_init_dialog(dialog, *reinterpret_cast<DialogModel*>(lparam));
    DialogModel* model = model_of(dialog);
    if (!model) return FALSE; // before WM_INITDIALOG
    switch (message) {
    case WM_COMMAND:
        return on_command(dialog, *model, LOWORD(wparam), HIWORD(wparam));
    case WM_HSCROLL:
        return on_scroll(dialog, reinterpret_cast<HWND>(lparam), wparam);
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
        if (item && item->CtlID > IDC_SWATCH_BASE && item->CtlID <= IDC_SWATCH_BASE + 9) draw_swatch(*item);
        return TRUE;
    }
    case WM_HELP: // F1 or the caption's help button, even with the Help button hidden
        open_help(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

int32_t show_parameters_dialog(int32_t show_dialog, intptr_t parent_window)
{
    DialogModel model;
    model.show_dialog = show_dialog;
    // A stale owner handle would make the dialog fail with 0, which reads as
    // the user's Cancel; the dialog goes without an owner instead.
    HWND parent = reinterpret_cast<HWND>(parent_window);
    if (parent && !IsWindow(parent)) parent = nullptr;
    INT_PTR result = DialogBoxParamA(reinterpret_cast<HINSTANCE>(platform::own_module()), "FCREATOR", parent,
                                     parameters_dialog_proc, reinterpret_cast<LPARAM>(&model));
    clear_area_request(); // the host may release what the preview asked for
    if (result == 1 || result == 0) return static_cast<int32_t>(result);
    return -1;
}
