// The FilterPreview window class: decodes its messages and hands them to the
// preview's portable logic; paints through GDI.
#include <windows.h>

#include "base/platform.h"
#include "runtime/host_calls.h"
#include "runtime/run_state.h"
#include "ui/colour.h"
#include "ui/preview.h"
#include "ui/preview_logic.h"
#include "ui/preview_render.h"

namespace {

constexpr UINT_PTR refresh_timer = 1;
constexpr UINT refresh_period_ms = 500;

HCURSOR cursor_arrow, cursor_drag, cursor_picker, current_cursor;

// The model of the dialog the control sits in, once the dialog has handed it
// over; until then the control only draws nothing.
PreviewModel* model_of(HWND window)
{
    return reinterpret_cast<PreviewModel*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

class GdiCanvas final : public PreviewCanvas {
public:
    explicit GdiCanvas(HDC dc) : dc_(dc) {}
    void* device_context() override { return dc_; }
    void fill_grey(int32_t left, int32_t top, int32_t right, int32_t bottom) override
    {
        // Stock objects: nothing to restore or delete afterwards.
        SelectObject(dc_, GetStockObject(LTGRAY_BRUSH));
        SelectObject(dc_, GetStockObject(NULL_PEN));
        Rectangle(dc_, left, top, right, bottom);
    }
    void draw_line(PreviewPen pen, int32_t x0, int32_t y0, int32_t x1, int32_t y1) override
    {
        SelectObject(dc_, GetStockObject(pen == PreviewPen::white ? WHITE_PEN : BLACK_PEN));
        MoveToEx(dc_, x0, y0, nullptr);
        LineTo(dc_, x1, y1);
    }

private:
    HDC dc_;
};

// Mouse positions are signed: a captured mouse left of or above the control
// reports negative ones.
int32_t mouse_x(LPARAM lparam)
{
    return static_cast<int16_t>(static_cast<uint16_t>(lparam & 0xFFFF));
}

int32_t mouse_y(LPARAM lparam)
{
    return static_cast<int16_t>(static_cast<uint16_t>((lparam >> 16) & 0xFFFF));
}

void use_cursor(HCURSOR cursor)
{
    current_cursor = cursor;
    SetCursor(cursor);
}

void on_create(HWND window)
{
    cursor_arrow = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    cursor_drag = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_SIZEALL));
    cursor_picker = LoadCursorA(reinterpret_cast<HINSTANCE>(platform::own_module()), "FPICKER");
    if (!cursor_picker) cursor_picker = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_CROSS));
    use_cursor(cursor_arrow);
    SetTimer(window, refresh_timer, refresh_period_ms, nullptr);
}

void on_paint(HWND window, PreviewModel* model)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (dc && model) {
        RECT client;
        GetClientRect(window, &client);
        GdiCanvas canvas(dc);
        render_preview(*model, canvas, client.right, client.bottom, model->flags.render_filtered);
    }
    EndPaint(window, &ps);
}

void on_timer(HWND window, PreviewModel& model)
{
    if (on_preview_timer(model.flags)) InvalidateRect(window, nullptr, FALSE);
}

void on_user(PreviewModel& model, WPARAM wparam, LPARAM lparam)
{
    if (wparam == PreviewRefresh) {
        on_preview_refresh(model.flags);
    } else if (wparam == PreviewKernelSwitch) {
        model.flags.kernel_enabled = static_cast<int16_t>(lparam & 0xFFFF);
    }
}

void on_left_down(HWND window, PreviewModel& model, WPARAM keys, int32_t x, int32_t y)
{
    if (model.pick_mode && (keys & MK_SHIFT)) {
        const PreviewPoint p = preview_image_point(model.pan_x, model.pan_y, x, y);
        finish_colour_pick(model, p.x, p.y, reinterpret_cast<intptr_t>(window));
    }
    use_cursor(cursor_drag);
    model.last_x = x;
    model.last_y = y;
    SetCapture(window);
}

void on_mouse_move(HWND window, PreviewModel& model, WPARAM keys, int32_t x, int32_t y)
{
    if (keys & MK_LBUTTON) {
        const PreviewPoint pan = dragged_pan(model.pan_x, model.pan_y, model.last_x, model.last_y, x, y);
        model.pan_x = pan.x;
        model.pan_y = pan.y;
        on_preview_drag(model.flags);
        InvalidateRect(window, nullptr, FALSE);
    } else if (model.pick_mode) {
        const PreviewPoint p = preview_image_point(model.pan_x, model.pan_y, x, y);
        track_picked_colour(model, p.x, p.y);
        current_cursor = cursor_picker;
    }
    model.last_x = x;
    model.last_y = y;
    SetCursor(current_cursor);
}

void on_left_up(PreviewModel& model)
{
    use_cursor(model.pick_mode ? cursor_picker : cursor_arrow);
    on_preview_release(model.flags);
    ReleaseCapture();
}

void on_right_down(PreviewModel& model, int32_t x, int32_t y)
{
    if (pick_effect_centre(model, x, y)) on_preview_release(model.flags);
}

// Messages that need the model wait for the dialog to hand it over.
LRESULT on_model_message(HWND window, PreviewModel& model, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_TIMER: on_timer(window, model); return 0;
    case WM_USER: on_user(model, wparam, lparam); return 0;
    case WM_LBUTTONDOWN: on_left_down(window, model, wparam, mouse_x(lparam), mouse_y(lparam)); return 0;
    case WM_MOUSEMOVE: on_mouse_move(window, model, wparam, mouse_x(lparam), mouse_y(lparam)); return 0;
    case WM_LBUTTONUP: on_left_up(model); return 0;
    case WM_RBUTTONDOWN: on_right_down(model, mouse_x(lparam), mouse_y(lparam)); return 0;
    default: return DefWindowProcA(window, message, wparam, lparam);
    }
}

LRESULT CALLBACK preview_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE: on_create(window); return 0;
    case WM_PAINT: on_paint(window, model_of(window)); return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_TIMER:
    case WM_USER:
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
        if (PreviewModel* model = model_of(window)) return on_model_message(window, *model, message, wparam, lparam);
        return message == WM_TIMER || message == WM_USER ? 0 : DefWindowProcA(window, message, wparam, lparam);
    default: return DefWindowProcA(window, message, wparam, lparam);
    }
}

} // namespace

void register_preview_class(intptr_t instance)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = preview_window_proc;
    wc.hInstance = reinterpret_cast<HINSTANCE>(instance);
    wc.lpszClassName = "FilterPreview";
    RegisterClassA(&wc);
}

void attach_preview_model(intptr_t preview_window, PreviewModel* model)
{
    HWND window = reinterpret_cast<HWND>(preview_window);
    if (!window) return;
    if (model) reset_preview_state(*model);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(model));
}

void unregister_preview_class(intptr_t instance)
{
    UnregisterClassA("FilterPreview", reinterpret_cast<HINSTANCE>(instance));
}
