// The FilterPreview window class. A plain window for now: it paints itself
// and accepts the dialog's messages.
#include <windows.h>

#include "ui/preview.h"

namespace {

LRESULT CALLBACK preview_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_USER:
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
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
