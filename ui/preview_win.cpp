// The FilterPreview window class: decodes its messages and hands them to the
// preview's portable logic; paints through GDI.
#include <windows.h>

#include "base/platform.h"
#include "runtime/host_calls.h"
#include "runtime/run_state.h"
#include "ui/colour.h"
#include "ui/preview.h"
#include "ui/preview_logic.h"
#include "ui/preview_state.h"

namespace {

constexpr UINT_PTR refresh_timer = 1;
constexpr UINT refresh_period_ms = 500;

HCURSOR cursor_arrow, cursor_drag, cursor_picker, current_cursor;
int32_t last_x, last_y;

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
    reset_preview_state();
}

void on_paint(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (dc) {
        RECT client;
        GetClientRect(window, &client);
        GdiCanvas canvas(dc);
        render_preview(canvas, client.right, client.bottom, preview_flags.render_filtered);
    }
    EndPaint(window, &ps);
}

void on_timer(HWND window)
{
    if (on_preview_timer(preview_flags)) InvalidateRect(window, nullptr, FALSE);
}

void on_user(WPARAM wparam, LPARAM lparam)
{
    if (wparam == PreviewRefresh) {
        on_preview_refresh(preview_flags);
    } else if (wparam == PreviewKernelSwitch) {
        preview_flags.kernel_enabled = static_cast<int16_t>(lparam & 0xFFFF);
    }
}

void on_left_down(HWND window, WPARAM keys, int32_t x, int32_t y)
{
    if (pick_mode && (keys & MK_SHIFT)) {
        const PreviewPoint p = preview_image_point(pan_x, pan_y, x, y);
        finish_colour_pick(p.x, p.y, reinterpret_cast<intptr_t>(window));
    }
    use_cursor(cursor_drag);
    last_x = x;
    last_y = y;
    SetCapture(window);
}

void on_mouse_move(HWND window, WPARAM keys, int32_t x, int32_t y)
{
    if (keys & MK_LBUTTON) {
        // Wrapping: many moves between two paints must not overflow; the next
        // paint clamps the pan anyway.
        pan_x = static_cast<int32_t>(static_cast<uint32_t>(pan_x) - static_cast<uint32_t>(x - last_x));
        pan_y = static_cast<int32_t>(static_cast<uint32_t>(pan_y) - static_cast<uint32_t>(y - last_y));
        on_preview_drag(preview_flags);
        InvalidateRect(window, nullptr, FALSE);
    } else if (pick_mode) {
        const PreviewPoint p = preview_image_point(pan_x, pan_y, x, y);
        track_picked_colour(p.x, p.y);
        current_cursor = cursor_picker;
    }
    last_x = x;
    last_y = y;
    SetCursor(current_cursor);
}

void on_left_up()
{
    use_cursor(pick_mode ? cursor_picker : cursor_arrow);
    on_preview_release(preview_flags);
    ReleaseCapture();
}

void on_right_down(int32_t x, int32_t y)
{
    if (pick_effect_centre(x, y)) on_preview_release(preview_flags);
}

LRESULT CALLBACK preview_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE: on_create(window); return 0;
    case WM_PAINT: on_paint(window); return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_TIMER: on_timer(window); return 0;
    case WM_USER: on_user(wparam, lparam); return 0;
    case WM_LBUTTONDOWN: on_left_down(window, wparam, mouse_x(lparam), mouse_y(lparam)); return 0;
    case WM_MOUSEMOVE: on_mouse_move(window, wparam, mouse_x(lparam), mouse_y(lparam)); return 0;
    case WM_LBUTTONUP: on_left_up(); return 0;
    case WM_RBUTTONDOWN: on_right_down(mouse_x(lparam), mouse_y(lparam)); return 0;
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

void unregister_preview_class(intptr_t instance)
{
    UnregisterClassA("FilterPreview", reinterpret_cast<HINSTANCE>(instance));
}
