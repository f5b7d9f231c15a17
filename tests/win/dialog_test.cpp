// The parameters dialog as a user meets it: the real plug-in is loaded into
// this process, a small host serves it a picture, and a second thread drives
// the dialog the way a user would while ENTRYPOINT waits in its modal loop.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include "stb_image_write.h"

#include "shell/host_api.h"

namespace {

typedef void(__cdecl* EntryPoint)(int16 selector, void* record, intptr_t* data, int16* result);

const char key_path[] = "Software\\Orv-Tinctora\\Tinctora\\Cellumbra";
const int image_width = 600;
const int image_height = 400;

// ---------------------------------------------------------------- the host

// Serves every requested area sampled at the requested rate, and takes back
// the output of full-rate requests into its result picture.
struct TinyHost {
    std::vector<unsigned char> source;
    std::vector<unsigned char> result;
    FilterRecord record{};
    PlatformData platform{};
    std::vector<unsigned char> in_buffer, out_buffer;
    Rect16 served_out{};
    int served_planes = 0;
    int served_factor = 0;
    int advance_calls = 0;
    int colour_calls = 0;
    std::string colour_prompt;

    void reset()
    {
        source.resize(size_t(image_width) * image_height * 3);
        for (int y = 0; y < image_height; ++y)
            for (int x = 0; x < image_width; ++x) {
                unsigned char* p = &source[(size_t(y) * image_width + x) * 3];
                const double dx = x - 380.0, dy = y - 140.0;
                const double sun = std::exp(-(dx * dx + dy * dy) / 9000.0);
                const double hill = y > 260 + 40 * std::sin(x / 70.0) ? 1.0 : 0.0;
                p[0] = static_cast<unsigned char>(40 + 200 * sun + 30 * hill + 60.0 * x / image_width);
                p[1] = static_cast<unsigned char>(90 + 120 * sun * 0.8 + 90 * hill - 40.0 * y / image_height);
                p[2] = static_cast<unsigned char>(200 - 150 * hill + 30 * std::sin(x / 23.0 + y / 31.0));
            }
        result = source;
        in_buffer.clear();
        out_buffer.clear();
        served_out = Rect16{};
        served_factor = 0;
        advance_calls = 0;
        colour_calls = 0;
        colour_prompt.clear();
        record = FilterRecord{};
        platform = PlatformData{};
        record.imageSize.h = image_width;
        record.imageSize.v = image_height;
        record.planes = 3;
        record.filterRect = Rect16{0, 0, image_height, image_width};
        record.maxSpace = 64 << 20;
        record.imageMode = plugInModeRGBColor;
        record.platformData = &platform;
        record.inputRate = record.maskRate = 1 << 16;
        record.advanceState = &advance_state;
        record.displayPixels = &display_pixels;
        record.abortProc = [](void) -> Boolean { return 0; };
        record.progressProc = [](int32, int32) {};
        record.supportsPadding = 1;
        record.colorServices = &choose_colour;
    }

    // The output of a full-rate request goes into the result when the next
    // request comes (or the command ends).
    void take_back_output()
    {
        if (served_factor != 1 || out_buffer.empty()) return;
        const Rect16 r = served_out;
        const int cols = r.right - r.left;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                for (int p = 0; p < served_planes && p < 3; ++p)
                    if (x >= 0 && y >= 0 && x < image_width && y < image_height)
                        result[(size_t(y) * image_width + x) * 3 + p] =
                            out_buffer[(size_t(y - r.top) * cols + (x - r.left)) * served_planes + p];
        out_buffer.clear();
    }

    void serve(const Rect16& r, int lo, int hi, int factor, std::vector<unsigned char>& buffer,
               void*& data, int32& row_bytes)
    {
        const int rows = r.bottom - r.top, cols = r.right - r.left, planes = hi - lo + 1;
        if (rows <= 0 || cols <= 0 || planes <= 0 || lo < 0 || hi > 2) {
            buffer.clear();
            data = nullptr;
            row_bytes = 0;
            return;
        }
        buffer.assign(size_t(rows) * cols * planes, 0);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x) {
                int sx = (r.left + x) * factor, sy = (r.top + y) * factor;
                sx = sx < 0 ? 0 : (sx >= image_width ? image_width - 1 : sx);
                sy = sy < 0 ? 0 : (sy >= image_height ? image_height - 1 : sy);
                for (int p = 0; p < planes; ++p)
                    buffer[(size_t(y) * cols + x) * planes + p] =
                        source[(size_t(sy) * image_width + sx) * 3 + lo + p];
            }
        data = buffer.data();
        row_bytes = cols * planes;
    }

    static OSErr PS_CDECL advance_state();
    static OSErr PS_CDECL display_pixels(const PSPixelMap* source, const VRect* area, int32 row, int32 column,
                                         void* context);
    // The host's colour picker, as a user who always picks pure red.
    static OSErr PS_CDECL choose_colour(ColorServicesInfo* info);
};

TinyHost host;

OSErr PS_CDECL TinyHost::advance_state()
{
    FilterRecord& r = host.record;
    ++host.advance_calls;
    host.take_back_output();
    int factor = r.inputRate >> 16;
    if (factor < 1) factor = 1;
    host.serve(r.inRect, r.inLoPlane, r.inHiPlane, factor, host.in_buffer, r.inData, r.inRowBytes);
    host.serve(r.outRect, r.outLoPlane, r.outHiPlane, factor, host.out_buffer, r.outData, r.outRowBytes);
    host.served_out = r.outRect;
    host.served_planes = r.outHiPlane - r.outLoPlane + 1;
    host.served_factor = factor;
    r.maskData = nullptr;
    return noErr;
}

OSErr PS_CDECL TinyHost::display_pixels(const PSPixelMap* map, const VRect* area, int32 row, int32 column,
                                        void* context)
{
    if (!map || !area || !map->baseAddr || !context) return noErr;
    const int w = area->right - area->left, h = area->bottom - area->top;
    if (w <= 0 || h <= 0) return noErr;
    std::vector<unsigned char> bgr(size_t(w) * h * 4);
    const auto* base = static_cast<const unsigned char*>(map->baseAddr);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned char* px =
                base + size_t(area->top + y) * map->rowBytes + size_t(area->left + x) * map->colBytes;
            unsigned char* out = &bgr[(size_t(y) * w + x) * 4];
            out[0] = px[2 * map->planeBytes];
            out[1] = px[map->planeBytes];
            out[2] = px[0];
            out[3] = 0;
        }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(static_cast<HDC>(context), column, row, w, h, 0, 0, 0, h, bgr.data(), &info,
                      DIB_RGB_COLORS);
    return noErr;
}

OSErr PS_CDECL TinyHost::choose_colour(ColorServicesInfo* info)
{
    ++host.colour_calls;
    if (!info) return noErr;
    if (const unsigned char* prompt = info->selectorParameter.pickerPrompt)
        host.colour_prompt.assign(reinterpret_cast<const char*>(prompt + 1), prompt[0]);
    info->colorComponents[0] = 255;
    info->colorComponents[1] = 0;
    info->colorComponents[2] = 0;
    return noErr;
}

// ------------------------------------------------------------ the registry

void delete_settings()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Orv-Tinctora");
}

void store_value(const char* name, const void* data, DWORD size, const char* path = key_path)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void store_sliders(const int32_t (&values)[16])
{
    store_value("SliderSettings", values, sizeof values);
}

std::vector<unsigned char> stored_value(const char* name, const char* path = key_path)
{
    std::vector<unsigned char> bytes;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return bytes;
    DWORD size = 0, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_BINARY) {
        bytes.resize(size);
        RegQueryValueExA(key, name, nullptr, &type, bytes.data(), &size);
    }
    RegCloseKey(key);
    return bytes;
}

// Entry `index` of a stored value, or -1 when it is not there.
int32_t stored_entry(const char* name, int index, const char* path = key_path)
{
    std::vector<unsigned char> bytes = stored_value(name, path);
    int32_t entry = -1;
    if (bytes.size() >= size_t(index + 1) * 4) std::memcpy(&entry, bytes.data() + index * 4, 4);
    return entry;
}

int32_t stored_size()
{
    return stored_entry("SliderSettings", 0);
}

// ------------------------------------------------------------ the cells

// The picture the cell pattern of size s must give, from a brute-force search
// of the nearest cell centre; pixels with two nearest centres are skipped (-1).
int count_cell_mismatches(int s, const std::vector<unsigned char>& source, const std::vector<unsigned char>& out)
{
    int mismatches = 0;
    const int tw = 6 * s, th = 4 * s;
    for (int y = 0; y < image_height; ++y)
        for (int x = 0; x < image_width; ++x) {
            const int ox = x - x % tw, oy = y - y % th;
            const int centres[5][2] = {
                {ox, oy}, {ox + tw, oy}, {ox, oy + th}, {ox + tw, oy + th}, {ox + 3 * s, oy + 2 * s}};
            long best = -1, second = -1;
            int bx = 0, by = 0;
            for (const auto& c : centres) {
                const long d = long(c[0] - x) * (c[0] - x) + long(c[1] - y) * (c[1] - y);
                if (best < 0 || d < best) {
                    second = best;
                    best = d;
                    bx = c[0];
                    by = c[1];
                } else if (second < 0 || d < second) {
                    second = d;
                }
            }
            if (best == second) continue;
            bx = bx >= image_width ? image_width - 1 : bx;
            by = by >= image_height ? image_height - 1 : by;
            if (std::memcmp(&out[(size_t(y) * image_width + x) * 3], &source[(size_t(by) * image_width + bx) * 3],
                            3) != 0)
                ++mismatches;
        }
    return mismatches;
}

// ------------------------------------------------------------ the user

// Runs a piece of the user's script on the dialog's own thread: key states
// and the dialog's replies are then exactly what the dialog sees.
LRESULT CALLBACK driver_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_APP) {
        (*reinterpret_cast<std::function<void()>*>(lparam))();
        return 1;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

struct Driver {
    HWND window = nullptr;
    Driver()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = driver_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "DialogTestDriver";
        RegisterClassA(&wc);
        window = CreateWindowA("DialogTestDriver", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }
    ~Driver() { DestroyWindow(window); }
    // From the user's thread: runs fn on the dialog's thread and waits for it.
    bool on_dialog_thread(std::function<void()> fn) const
    {
        DWORD_PTR answer = 0;
        return SendMessageTimeoutA(window, WM_APP, 0, reinterpret_cast<LPARAM>(&fn), SMTO_NORMAL, 20000, &answer) &&
               answer == 1;
    }
};

HWND wait_for_dialog(const char* caption, unsigned timeout_ms, const std::atomic<bool>& command_done)
{
    for (unsigned waited = 0; waited < timeout_ms && !command_done; waited += 50) {
        HWND dialog = FindWindowA("#32770", caption);
        if (dialog && IsWindowVisible(dialog)) return dialog;
        Sleep(50);
    }
    return nullptr;
}

std::string text_of(HWND dialog, int id)
{
    char text[256] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

bool shown(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item && (GetWindowLongPtrA(item, GWL_STYLE) & WS_VISIBLE) != 0;
}

void type_into(HWND dialog, int id, const char* text)
{
    SendDlgItemMessageA(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void scroll(HWND dialog, int code, int position = 0)
{
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(code, position),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, 201)));
}

LRESULT trackbar_position(HWND dialog)
{
    return SendDlgItemMessageA(dialog, 201, TBM_GETPOS, 0, 0);
}

void click(HWND dialog, int id, bool with_shift = false)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    const BYTE before = keys[VK_SHIFT];
    keys[VK_SHIFT] = with_shift ? 0x80 : 0;
    SetKeyboardState(keys);
    SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0);
    keys[VK_SHIFT] = before;
    SetKeyboardState(keys);
}

// The colour at the middle of a control, as painted on the screen.
COLORREF colour_in(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    UpdateWindow(item);
    RECT r;
    GetClientRect(item, &r);
    HDC dc = GetDC(item);
    const COLORREF colour = GetPixel(dc, r.right / 2, r.bottom / 2);
    ReleaseDC(item, dc);
    return colour;
}

int fit_factor(HWND dialog)
{
    RECT r;
    GetClientRect(GetDlgItem(dialog, 100), &r);
    const int fx = (image_width - 1) / r.right + 1, fy = (image_height - 1) / r.bottom + 1;
    return fx > fy ? fx : fy;
}

// The dialog as it stands on the screen, into a PNG. Without a window
// manager on the test display nobody draws the frame and caption on screen,
// so they are drawn here around the client area taken from the screen.
bool save_screenshot(HWND dialog, const char* path)
{
    RECT window, client;
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    POINT origin = {0, 0};
    ClientToScreen(dialog, &origin);
    const int w = window.right - window.left, h = window.bottom - window.top;
    const int cx = origin.x - window.left, cy = origin.y - window.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT frame = {0, 0, w, h};
    FillRect(memory, &frame, GetSysColorBrush(COLOR_3DFACE));
    DrawEdge(memory, &frame, EDGE_RAISED, BF_RECT);
    const int border = GetSystemMetrics(SM_CXDLGFRAME);
    RECT caption = {border, border, w - border, cy - 1};
    DrawCaption(dialog, memory, &caption, DC_ACTIVE | DC_TEXT | DC_GRADIENT);
    BitBlt(memory, cx, cy, client.right, client.bottom, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<unsigned char> bgra(size_t(w) * h * 4);
    GetDIBits(memory, bitmap, 0, h, bgra.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::vector<unsigned char> rgb(size_t(w) * h * 3);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        rgb[i * 3] = bgra[i * 4 + 2];
        rgb[i * 3 + 1] = bgra[i * 4 + 1];
        rgb[i * 3 + 2] = bgra[i * 4];
    }
    return stbi_write_png(path, w, h, 3, rgb.data(), w * 3) != 0;
}

// ------------------------------------------------------------ the runs

struct Dialog : ::testing::Test {
    const char* plugin_file = "Cellumbra.8bf";
    const char* caption = "Cellumbra";
    HMODULE plugin = nullptr;
    EntryPoint entry = nullptr;
    Driver driver;

    void SetUp() override
    {
        delete_settings();
        host.reset();
        // A fresh load each time: the parameters flag lives as long as the module.
        plugin = LoadLibraryA(plugin_file);
        ASSERT_NE(plugin, nullptr) << plugin_file << " must lie below the working directory";
        entry = reinterpret_cast<EntryPoint>(GetProcAddress(plugin, "ENTRYPOINT"));
        ASSERT_NE(entry, nullptr);
    }
    void TearDown() override
    {
        if (plugin) FreeLibrary(plugin);
    }

    // One filter command; `user` runs on its own thread with the dialog's
    // window, or with null when no dialog showed up in time. Whatever the
    // script leaves open is cancelled, so a failing check cannot hang the run.
    int16 run(bool parameters, const std::function<void(HWND)>& user)
    {
        int16 result = 0;
        intptr_t data = 0;
        if (parameters) entry(filterSelectorParameters, &host.record, &data, &result);
        entry(filterSelectorPrepare, &host.record, &data, &result);
        std::atomic<bool> done{false};
        std::thread user_thread([&] {
            HWND dialog = wait_for_dialog(caption, parameters ? 15000 : 3000, done);
            user(dialog);
            // Whatever is still open after the script gets cancelled.
            for (int i = 0; i < 100 && !done; ++i) {
                if (HWND left = FindWindowA("#32770", caption)) PostMessageA(left, WM_COMMAND, IDCANCEL, 0);
                Sleep(100);
            }
        });
        int16 start_result = 0;
        entry(filterSelectorStart, &host.record, &data, &start_result);
        done = true;
        user_thread.join();
        host.take_back_output();
        entry(filterSelectorFinish, &host.record, &data, &result);
        return start_result;
    }
};

TEST_F(Dialog, ShowsOnlyTheSizeRowClampsTypedAndPagedValuesZoomsAndSavesOnOk)
{
    bool reached_ok = false;
    const int16 result = run(true, [&](HWND dialog) {
        ASSERT_NE(dialog, nullptr) << "no dialog captioned Cellumbra appeared";
        driver.on_dialog_thread([&] {
            // Only "Size:" and its trackbar and box; the frames stay.
            EXPECT_EQ(text_of(dialog, 101), "Size:");
            for (int id : {101, 201, 301, 491, 492, 493, 494, 495, 496, 100, 91, 92, 93, 1, 2, 10})
                EXPECT_TRUE(shown(dialog, id)) << id;
            for (int k = 2; k <= 8; ++k)
                for (int base : {100, 200, 300}) EXPECT_FALSE(shown(dialog, base + k)) << base + k;
            for (int id : {501, 502, 400, 401, 402, 403, 404, 405, 406, 12}) EXPECT_FALSE(shown(dialog, id)) << id;
            EXPECT_EQ(IsDlgButtonChecked(dialog, 93), static_cast<UINT>(BST_CHECKED));
            EXPECT_NE(text_of(dialog, 65533), "");

            // No stored settings: the size opens at its minimum.
            EXPECT_EQ(text_of(dialog, 301), "1");
            EXPECT_EQ(trackbar_position(dialog), 1);

            type_into(dialog, 301, "250");
            EXPECT_EQ(text_of(dialog, 301), "100");
            EXPECT_EQ(trackbar_position(dialog), 100);
            type_into(dialog, 301, "");
            EXPECT_EQ(text_of(dialog, 301), "1");

            type_into(dialog, 301, "95");
            EXPECT_EQ(trackbar_position(dialog), 95);
            scroll(dialog, TB_PAGEDOWN);
            EXPECT_EQ(text_of(dialog, 301), "100");
            EXPECT_EQ(trackbar_position(dialog), 100);
            type_into(dialog, 301, "5");
            scroll(dialog, TB_PAGEUP);
            EXPECT_EQ(text_of(dialog, 301), "1");
            scroll(dialog, TB_PAGEDOWN); // 1 + 99 / 8
            EXPECT_EQ(text_of(dialog, 301), "13");
            EXPECT_EQ(trackbar_position(dialog), 13);
            scroll(dialog, TB_THUMBTRACK, 37);
            EXPECT_EQ(text_of(dialog, 301), "37");
            scroll(dialog, TB_LINEUP);
            EXPECT_EQ(text_of(dialog, 301), "36");

            // The zoom: fitted at first, "+" shows more detail, Shift jumps.
            const int fit = fit_factor(dialog);
            ASSERT_GT(fit, 1);
            const std::string fitted = "1:" + std::to_string(fit);
            EXPECT_EQ(text_of(dialog, 110), fitted);
            click(dialog, 92);
            EXPECT_EQ(text_of(dialog, 110), fitted); // already at the largest factor
            click(dialog, 91);
            EXPECT_EQ(text_of(dialog, 110), "1:" + std::to_string(fit - 1));
            click(dialog, 91, true);
            EXPECT_EQ(text_of(dialog, 110), "1:1");
            click(dialog, 92, true);
            EXPECT_EQ(text_of(dialog, 110), fitted);

            type_into(dialog, 301, "12");
        });
        // Let the preview settle into its filtered rendering, then keep a picture of it.
        Sleep(2000);
        driver.on_dialog_thread([&] {
            CreateDirectoryA("artifacts", nullptr);
            EXPECT_TRUE(save_screenshot(dialog, "artifacts\\dialog.png"));
            type_into(dialog, 301, "20");
            reached_ok = true;
            click(dialog, IDOK);
        });
    });
    ASSERT_TRUE(reached_ok);
    EXPECT_EQ(result, noErr);
    // OK stored the size and both values in full, and the run used it.
    EXPECT_EQ(stored_value("SliderSettings").size(), 64u);
    EXPECT_EQ(stored_value("CustomColors").size(), 32u);
    EXPECT_EQ(stored_size(), 20);
    EXPECT_EQ(count_cell_mismatches(20, host.source, host.result), 0);
}

TEST_F(Dialog, CancelEndsTheCommandAndStoresNothing)
{
    int32_t stored[16] = {30};
    store_sliders(stored);
    const std::vector<unsigned char> before = stored_value("SliderSettings");
    const int16 result = run(true, [&](HWND dialog) {
        ASSERT_NE(dialog, nullptr);
        driver.on_dialog_thread([&] {
            EXPECT_EQ(text_of(dialog, 301), "30"); // loaded
            type_into(dialog, 301, "60");
            click(dialog, IDCANCEL);
        });
    });
    EXPECT_EQ(result, userCanceledErr);
    EXPECT_EQ(stored_value("SliderSettings"), before);
    EXPECT_TRUE(stored_value("CustomColors").empty());
    EXPECT_EQ(host.result, host.source);
}

TEST_F(Dialog, TheCloseBoxCancelsToo)
{
    const int16 result = run(true, [&](HWND dialog) {
        ASSERT_NE(dialog, nullptr);
        SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(result, userCanceledErr);
    EXPECT_TRUE(stored_value("SliderSettings").empty());
}

TEST_F(Dialog, WithoutAParametersRequestItAcceptsAtOnceWithClampedStoredSettingsAndSavesNothing)
{
    int32_t stored[16] = {250};
    stored[15] = 7; // a check box value no check box could hold
    store_sliders(stored);
    const std::vector<unsigned char> before = stored_value("SliderSettings");
    bool dialog_seen = false;
    const int16 result = run(false, [&](HWND dialog) { dialog_seen = dialog != nullptr; });
    EXPECT_FALSE(dialog_seen);
    EXPECT_EQ(result, noErr);
    EXPECT_EQ(stored_value("SliderSettings"), before);
    EXPECT_EQ(count_cell_mismatches(100, host.source, host.result), 0);
}

TEST_F(Dialog, AStaleOwnerWindowStillGetsADialog)
{
    HWND gone = CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    host.platform.hwnd = reinterpret_cast<intptr_t>(gone);
    bool dialog_seen = false;
    const int16 result = run(true, [&](HWND dialog) {
        dialog_seen = dialog != nullptr;
        if (dialog) driver.on_dialog_thread([&] { click(dialog, IDOK); });
    });
    EXPECT_TRUE(dialog_seen);
    EXPECT_EQ(result, noErr);
}

// The probe definition: sliders 1, 3, 4, 5, both check boxes, two live
// colours and a help target.
struct ProbeDialog : Dialog {
    static constexpr const char* probe_key = "Software\\Orv-Tinctora\\Tinctora\\DialogProbe";
    ProbeDialog()
    {
        plugin_file = "tests\\DialogProbe.8bf";
        caption = "DialogProbe";
    }
};

// The last of the first `count` lines of a text file, once they are all
// there; empty when they did not come within the time.
std::string wait_for_line(const char* path, int count, unsigned timeout_ms)
{
    for (unsigned waited = 0; waited < timeout_ms; waited += 100) {
        std::string text;
        int lines = 0;
        if (FILE* f = std::fopen(path, "r")) {
            char line[MAX_PATH] = {};
            while (lines < count && std::fgets(line, sizeof line, f) && std::strchr(line, '\n')) {
                text = line;
                ++lines;
            }
            std::fclose(f);
        }
        if (lines == count) {
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
                text.pop_back();
            return text;
        }
        Sleep(100);
    }
    return std::string();
}

TEST_F(ProbeDialog, ShowsDeclaredRowsNamesEmptyLabelsAndKeepsEveryValueInItsRange)
{
    int32_t sliders[16] = {5, 0, 0, 30, 0};
    sliders[15] = 7; // check box 1, stored as no check box would store it
    store_value("SliderSettings", sliders, sizeof sliders, probe_key);
    // Colour 1 blue with a stray top byte, colour 2 green.
    const uint32_t colours[8] = {0x01FF0000, 0x0000FF00};
    store_value("CustomColors", colours, sizeof colours, probe_key);

    char folder[MAX_PATH];
    GetFullPathNameA("tests", sizeof folder, folder, nullptr);
    // The help target records the folder it was opened in, a line per opening.
    DeleteFileA("tests\\help-opened.txt");
    if (FILE* f = std::fopen("tests\\probe-help.cmd", "w")) {
        std::fputs("@echo %CD%>> help-opened.txt\n", f);
        std::fclose(f);
    }

    const int16 result = run(true, [&](HWND dialog) {
        ASSERT_NE(dialog, nullptr);
        driver.on_dialog_thread([&] {
            EXPECT_EQ(text_of(dialog, 103), "Slider 3:");
            EXPECT_EQ(text_of(dialog, 104), "Upside:");
            EXPECT_EQ(text_of(dialog, 501), "Sharpen");
            EXPECT_EQ(text_of(dialog, 502), "");
            for (int id : {101, 103, 104, 105, 201, 203, 204, 205, 301, 303, 304, 305, 501, 502, 400, 401, 402, 403,
                           404, 405, 406, 12})
                EXPECT_TRUE(shown(dialog, id)) << id;
            for (int id : {102, 106, 107, 108, 202, 206, 207, 208, 302, 306, 307, 308})
                EXPECT_FALSE(shown(dialog, id)) << id;

            // Stored values pulled into their ranges; the maximum wins over a
            // larger minimum; the check box holds 1.
            EXPECT_EQ(text_of(dialog, 301), "5");
            EXPECT_EQ(text_of(dialog, 304), "10");
            EXPECT_EQ(text_of(dialog, 305), "-10");
            EXPECT_EQ(IsDlgButtonChecked(dialog, 501), static_cast<UINT>(BST_CHECKED));
            EXPECT_EQ(IsDlgButtonChecked(dialog, 502), static_cast<UINT>(BST_UNCHECKED));

            // A rewritten box settles at once, even where lo > hi.
            type_into(dialog, 304, "30");
            EXPECT_EQ(text_of(dialog, 304), "10");
            type_into(dialog, 305, "");
            EXPECT_EQ(text_of(dialog, 305), "-10");

            // Live swatches paint their colour (the stray byte ignored), the
            // others light grey; a click past colour_count does nothing.
            EXPECT_EQ(colour_in(dialog, 401), RGB(0, 0, 255));
            EXPECT_EQ(colour_in(dialog, 402), RGB(0, 255, 0));
            EXPECT_EQ(colour_in(dialog, 403), RGB(192, 192, 192));
            click(dialog, 403);
            EXPECT_EQ(host.colour_calls, 0);
            click(dialog, 401);
            EXPECT_EQ(host.colour_calls, 1);
            EXPECT_EQ(host.colour_prompt, " Glyphsmithery: Select Color");
            EXPECT_EQ(colour_in(dialog, 401), RGB(255, 0, 0));

            click(dialog, 501); // off
            click(dialog, 502); // on
            click(dialog, 12);
        });
        // The help target runs with the plug-in's folder as working directory.
        EXPECT_STRCASEEQ(wait_for_line("tests\\help-opened.txt", 1, 15000).c_str(), folder)
            << "Help did not open the help target in the plug-in's folder";
        driver.on_dialog_thread([&] {
            HELPINFO help = {};
            help.cbSize = sizeof help;
            SendMessageA(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
        });
        EXPECT_STRCASEEQ(wait_for_line("tests\\help-opened.txt", 2, 15000).c_str(), folder)
            << "F1 did not open the help target in the plug-in's folder";
        driver.on_dialog_thread([&] { click(dialog, IDOK); });
    });
    EXPECT_EQ(result, noErr);
    EXPECT_EQ(stored_entry("SliderSettings", 0, probe_key), 5);
    EXPECT_EQ(stored_entry("SliderSettings", 3, probe_key), 10);
    EXPECT_EQ(stored_entry("SliderSettings", 4, probe_key), -10);
    EXPECT_EQ(stored_entry("SliderSettings", 14, probe_key), 1); // check box 2
    EXPECT_EQ(stored_entry("SliderSettings", 15, probe_key), 0); // check box 1
    EXPECT_EQ(stored_entry("CustomColors", 0, probe_key), 0x000000FF);
    EXPECT_EQ(stored_entry("CustomColors", 1, probe_key), 0x0000FF00);
}

} // namespace
