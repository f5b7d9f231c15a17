#include "win/support/dialog_driver.h"

#include "win/support/wait.h"

namespace wintest {

namespace {

const char driver_class[] = "TestDialogDriver";

LRESULT CALLBACK driver_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_APP) {
        (*reinterpret_cast<std::function<void()>*>(lparam))();
        return 1;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

} // namespace

Driver::Driver()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = driver_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = driver_class;
    RegisterClassA(&wc);
    window_ = CreateWindowA(driver_class, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

Driver::~Driver()
{
    DestroyWindow(window_);
}

bool Driver::on_dialog_thread(std::function<void()> fn) const
{
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(window_, WM_APP, 0, reinterpret_cast<LPARAM>(&fn), SMTO_NORMAL, 20000, &answer) &&
           answer == 1;
}

HWND wait_for_dialog(const char* caption, unsigned timeout_ms, const std::atomic<bool>* gave_up)
{
    HWND dialog = nullptr;
    wait_until([&] {
        dialog = FindWindowA("#32770", caption);
        if (dialog && !IsWindowVisible(dialog)) dialog = nullptr;
        return dialog || (gave_up && *gave_up);
    }, timeout_ms);
    return dialog;
}

void set_shift(bool down)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

void click(HWND dialog, int id, bool with_shift)
{
    const bool shift_was_down = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    set_shift(with_shift);
    SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0);
    set_shift(shift_was_down);
}

void type_into(HWND dialog, int id, const char* text)
{
    SendDlgItemMessageA(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void press_keys(HWND dialog, int id, const char* keys)
{
    HWND box = GetDlgItem(dialog, id);
    SetFocus(box);
    SendMessageA(box, EM_SETSEL, 0x7fff, 0x7fff); // the caret at the end, as after a click there
    for (const char* k = keys; *k; ++k) {
        const UINT vk = *k == '\b' ? VK_BACK : static_cast<UINT>(VkKeyScanA(*k) & 0xff);
        const UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
        PostMessageA(box, WM_KEYDOWN, vk, 1 | (scan << 16));
        PostMessageA(box, WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
        // Each key is handled before the next, as typing is.
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (IsDialogMessageA(dialog, &m)) continue;
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
    }
}

std::string text_of(HWND dialog, int id)
{
    char text[256] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

int fit_factor(HWND preview, int width, int height)
{
    RECT r;
    GetClientRect(preview, &r);
    const int fx = (width - 1) / r.right + 1, fy = (height - 1) / r.bottom + 1;
    return fx > fy ? fx : fy;
}

BITMAPINFO bgra_bitmap_info(int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

} // namespace wintest
