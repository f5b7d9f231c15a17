// The parameters dialog as a user meets it: the real plug-in is loaded into
// this process, a small host serves it a picture, and a second thread drives
// the dialog the way a user would while ENTRYPOINT waits in its modal loop.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/host_api.h"
#include "support/cell_reference.h"
#include "win/support/dialog_driver.h"
#include "win/support/inprocess_host.h"
#include "win/support/pictures.h"
#include "win/support/stored_settings.h"
#include "win/support/wait.h"

using namespace wintest;

namespace {

const int image_width = 600;
const int image_height = 400;

InProcessHost& host = in_process_host();

// A sun over hills: smooth areas and edges, so that the cells show.
void paint_landscape(int x, int y, unsigned char* p)
{
    const double dx = x - 380.0, dy = y - 140.0;
    const double sun = std::exp(-(dx * dx + dy * dy) / 9000.0);
    const double hill = y > 260 + 40 * std::sin(x / 70.0) ? 1.0 : 0.0;
    p[0] = static_cast<unsigned char>(40 + 200 * sun + 30 * hill + 60.0 * x / image_width);
    p[1] = static_cast<unsigned char>(90 + 120 * sun * 0.8 + 90 * hill - 40.0 * y / image_height);
    p[2] = static_cast<unsigned char>(200 - 150 * hill + 30 * std::sin(x / 23.0 + y / 31.0));
}

// ------------------------------------------------------------ the registry

void store_sliders(const int32_t (&values)[16])
{
    store_value("SliderSettings", values, sizeof values);
}

std::vector<unsigned char> stored_value(const char* name, const char* path = settings_key)
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
int32_t stored_entry(const char* name, int index, const char* path = settings_key)
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

// Pixels of the result that differ from the cell pattern of size s: each
// takes the colour of its nearest centre, clamped into the picture.
int count_cell_mismatches(int s, const std::vector<unsigned char>& source, const std::vector<unsigned char>& out)
{
    int mismatches = 0;
    for (int y = 0; y < image_height; ++y)
        for (int x = 0; x < image_width; ++x) {
            const CellCentre c = nearest_centre(x, y, s);
            const int bx = std::min(c.x, image_width - 1), by = std::min(c.y, image_height - 1);
            if (std::memcmp(&out[(size_t(y) * image_width + x) * 3], &source[(size_t(by) * image_width + bx) * 3],
                            3) != 0)
                ++mismatches;
        }
    return mismatches;
}

// ------------------------------------------------------------ the user

bool shown(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item && (GetWindowLongPtrA(item, GWL_STYLE) & WS_VISIBLE) != 0;
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
    BITMAPINFO info = bgra_bitmap_info(w, h);
    std::vector<unsigned char> bgra(size_t(w) * h * 4);
    GetDIBits(memory, bitmap, 0, h, bgra.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return write_png(path, from_bgra(w, h, bgra));
}

// ------------------------------------------------------------ the runs

struct Dialog : ::testing::Test {
    const char* plugin_file = "Cellumbra.8bf";
    const char* caption = "Cellumbra";
    Driver driver;

    void SetUp() override
    {
        delete_settings();
        host.reset(image_width, image_height, paint_landscape);
        host.load(plugin_file);
    }
    void TearDown() override { host.unload(); }

    // One filter command; `user` runs on its own thread with the dialog's
    // window, or with null when no dialog showed up in time.
    int16 run(bool parameters, const std::function<void(HWND)>& user)
    {
        return host.run_command(parameters, caption, [&](const std::atomic<bool>& done) {
            user(wait_for_dialog(caption, parameters ? 15000 : 3000, &done));
        });
    }
};

TEST_F(Dialog, ShowsOnlyTheSizeRowClampsTypedAndPagedValuesZoomsAndSavesOnOk)
{
    bool reached_ok = false;
    DWORD typed = 0;
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
            // Keystrokes after a correction replace the corrected text.
            press_keys(dialog, 301, "\b5");
            EXPECT_EQ(text_of(dialog, 301), "5");
            EXPECT_EQ(trackbar_position(dialog), 5);
            press_keys(dialog, 301, "\b500");
            EXPECT_EQ(text_of(dialog, 301), "100");
            press_keys(dialog, 301, "\b\b\b7");
            EXPECT_EQ(text_of(dialog, 301), "7");

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
            const int fit = fit_factor(GetDlgItem(dialog, 100), image_width, image_height);
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
            typed = GetTickCount();
        });
        // A picture of the dialog once its preview shows the filtered cells.
        EXPECT_TRUE(wait_until([&] { return !host.filtered_since(typed).empty(); })) << "no filtered preview";
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
    // The user does nothing: the command must end by itself. (Wine may flash
    // the template's visible dialog for an instant before it ends itself, so
    // whether a window was glimpsed is not what is checked.)
    const int16 result = run(false, [](HWND) {});
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
    std::string found;
    wait_until([&] {
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
        if (lines != count) return false;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        found = text;
        return true;
    }, timeout_ms);
    return found;
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
            EXPECT_EQ(host.prompt_text(), " Glyphsmithery: Select Color");
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
