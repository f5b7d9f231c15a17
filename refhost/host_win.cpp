// The host's Windows edges: loading the module, its stored settings, the
// host window and its messages, the colour chooser and the crash report.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <windows.h>
#include <commdlg.h>

#include "refhost/host.h"
#include "refhost/pixel_map.h"

volatile int16 running_selector = -1;

bool load_plugin(const std::string& path, PluginModule& plugin, std::string& error)
{
    const std::wstring name = widen(path);
    if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error = "'" + path + "' does not exist";
        return false;
    }
    HMODULE module = LoadLibraryExW(name.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        error = "'" + path + "' is not a loadable module: " + system_error_text(GetLastError());
        return false;
    }
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(16000), "PIPL");
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        FreeLibrary(module);
        error = "'" + path + "' is not a filter plug-in: it has no PIPL resource 16000";
        return false;
    }
    std::string reason;
    if (!parse_pipl(static_cast<const unsigned char*>(bytes), SizeofResource(module, resource),
                    native_entry_key(), plugin.pipl, reason)) {
        FreeLibrary(module);
        error = "'" + path + "' has a damaged PIPL resource: " + reason;
        return false;
    }
    if (plugin.pipl.kind != "8BFM") {
        FreeLibrary(module);
        error = "'" + path + "' is not a filter plug-in (its PIPL kind is '" + plugin.pipl.kind + "')";
        return false;
    }
    if (plugin.pipl.entry.empty()) {
        FreeLibrary(module);
        error = "'" + path + "' names no entry point for this platform (PIPL '" +
                std::string(native_entry_key()) + "')";
        return false;
    }
    FARPROC entry = GetProcAddress(module, plugin.pipl.entry.c_str());
    if (entry == nullptr) {
        FreeLibrary(module);
        error = "'" + path + "' does not export its entry point '" + plugin.pipl.entry + "'";
        return false;
    }
    plugin.module = module;
    plugin.entry = reinterpret_cast<PluginEntry>(reinterpret_cast<void*>(entry));
    return true;
}

bool store_settings(const PiplInfo& pipl, const HostOptions& options, std::string& error)
{
    if (pipl.category.empty() || pipl.name.empty()) {
        error = "the plug-in's PIPL has no name or category to find its settings by";
        return false;
    }
    const std::string path = "Software\\Orv-Tinctora\\" + pipl.category + "\\" + pipl.name;
    HKEY key = nullptr;
    char key_class[] = "Filter settings";
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, key_class, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        error = "cannot open HKCU\\" + path + ": " + system_error_text(DWORD(status));
        return false;
    }
    // Sixteen little-endian 32-bit values; keep what is stored for the others.
    unsigned char bytes[64] = {};
    DWORD type = 0, size = sizeof bytes;
    if (RegQueryValueExA(key, "SliderSettings", nullptr, &type, bytes, &size) != ERROR_SUCCESS ||
        type != REG_BINARY)
        std::memset(bytes, 0, sizeof bytes);
    for (const auto& setting : options.settings) {
        const uint32_t v = uint32_t(setting.second);
        unsigned char* p = bytes + 4 * setting.first;
        p[0] = static_cast<unsigned char>(v);
        p[1] = static_cast<unsigned char>(v >> 8);
        p[2] = static_cast<unsigned char>(v >> 16);
        p[3] = static_cast<unsigned char>(v >> 24);
    }
    status = RegSetValueExA(key, "SliderSettings", 0, REG_BINARY, bytes, sizeof bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        error = "cannot write HKCU\\" + path + "\\SliderSettings: " + system_error_text(DWORD(status));
        return false;
    }
    return true;
}

// ------------------------------------------------------------- host window

namespace {

const wchar_t window_class[] = L"FilterHostWindow";
const Picture* shown_picture = nullptr;

void paint_picture(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    if (shown_picture != nullptr && !shown_picture->pixels.empty()) {
        const Picture& p = *shown_picture;
        PSPixelMap map = {};
        map.version = 1;
        map.bounds = {0, 0, p.height, p.width};
        map.imageMode = p.planes == 1 ? plugInModeGrayScale : plugInModeRGBColor;
        map.rowBytes = int32(p.row_bytes());
        map.colBytes = p.planes;
        map.planeBytes = 1;
        map.baseAddr = const_cast<unsigned char*>(p.pixels.data());
        BgrImage image;
        if (pixel_map_to_bgr(map, map.bounds, image) == noErr && image.width > 0) {
            // Fit the picture into the window, never enlarged.
            const double scale = std::min(
                1.0, std::min(double(client.right) / image.width, double(client.bottom) / image.height));
            BITMAPINFO info = {};
            info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            info.bmiHeader.biWidth = image.width;
            info.bmiHeader.biHeight = -image.height;
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 24;
            info.bmiHeader.biCompression = BI_RGB;
            SetStretchBltMode(dc, HALFTONE);
            StretchDIBits(dc, 0, 0, int(image.width * scale), int(image.height * scale), 0, 0, image.width,
                          image.height, image.bits.data(), &info, DIB_RGB_COLORS, SRCCOPY);
        }
    }
    EndPaint(window, &paint);
}

LRESULT CALLBACK host_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_PAINT:
        paint_picture(window);
        return 0;
    case WM_CLOSE:
        // The run decides when the window goes, not the close box.
        ShowWindow(window, SW_MINIMIZE);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

} // namespace

intptr_t create_host_window(const Picture* picture, bool visible, const std::string& title)
{
    shown_picture = picture;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = host_window_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = window_class;
    RegisterClassW(&wc);
    int width = 640, height = 480;
    if (picture != nullptr && picture->width > 0) {
        width = std::min(std::max(picture->width, 320), 1000);
        height = std::min(std::max(picture->height, 240), 750);
    }
    RECT frame = {0, 0, width, height};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    HWND window = CreateWindowExW(0, window_class, widen(title).c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                  nullptr, instance, nullptr);
    if (window != nullptr && visible) {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    return reinterpret_cast<intptr_t>(window);
}

void destroy_host_window(intptr_t window)
{
    DestroyWindow(reinterpret_cast<HWND>(window));
    shown_picture = nullptr;
}

// ------------------------------------------------------------ crash report

namespace {

LONG WINAPI report_crash(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* e = info->ExceptionRecord;
    const int16 selector = running_selector;
    if (selector >= 0)
        std::fprintf(stderr, "filterhost: the plug-in crashed during selector %d: exception 0x%08lx at %p",
                     selector, static_cast<unsigned long>(e->ExceptionCode), e->ExceptionAddress);
    else
        std::fprintf(stderr, "filterhost: crashed: exception 0x%08lx at %p",
                     static_cast<unsigned long>(e->ExceptionCode), e->ExceptionAddress);
    if (e->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && e->NumberParameters >= 2)
        std::fprintf(stderr, " (%s address %p)", e->ExceptionInformation[0] ? "writing" : "reading",
                     reinterpret_cast<void*>(e->ExceptionInformation[1]));
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::fflush(stdout);
    ExitProcess(exit_plugin_crashed);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

void install_crash_report()
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(report_crash);
}

void pump_window_messages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool choose_colour(intptr_t owner, unsigned char rgb[3])
{
    static COLORREF custom[16];
    CHOOSECOLORA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = reinterpret_cast<HWND>(owner);
    choose.rgbResult = RGB(rgb[0], rgb[1], rgb[2]);
    choose.lpCustColors = custom;
    choose.Flags = CC_RGBINIT | CC_FULLOPEN | CC_ANYCOLOR;
    if (!ChooseColorA(&choose))
        return false;
    rgb[0] = GetRValue(choose.rgbResult);
    rgb[1] = GetGValue(choose.rgbResult);
    rgb[2] = GetBValue(choose.rgbResult);
    return true;
}
