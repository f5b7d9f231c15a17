// The preview as a user sees it: a test build of the plug-in is loaded into
// this process, a small host serves it a picture and draws what displayPixels
// is given, and a second thread plays the user while ENTRYPOINT waits in the
// dialog's modal loop. What the preview shows is read back from the screen.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
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

// The picture's size: 600 x 400 unless a test needs another.
int image_width = 600;
int image_height = 400;
const int preview_id = 100;

struct Rgb {
    unsigned char r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};

std::ostream& operator<<(std::ostream& os, const Rgb& c)
{
    return os << "(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

// Every pixel distinct enough to tell where it came from, none white, black
// or light grey, so the marks the preview draws cannot be taken for picture.
Rgb source_at(int x, int y)
{
    return Rgb{static_cast<unsigned char>(30 + x * 170 / image_width),
               static_cast<unsigned char>(30 + y * 170 / image_height),
               static_cast<unsigned char>(30 + (x * 7 + y * 13) % 160)};
}

Rgb inverted(Rgb c)
{
    return Rgb{static_cast<unsigned char>(255 - c.r), static_cast<unsigned char>(255 - c.g),
               static_cast<unsigned char>(255 - c.b)};
}

InProcessHost& host = in_process_host();

// ---------------------------------------------------------------- the screen

// A window's client area as it stands on the screen, row by row.
struct Capture {
    int width = 0, height = 0;
    std::vector<unsigned char> bgra;
    Rgb at(int x, int y) const
    {
        const unsigned char* p = &bgra[(size_t(y) * width + x) * 4];
        return Rgb{p[2], p[1], p[0]};
    }
};

// Read from the window's own device context, not the screen's: what the
// window drew is there at once, before the system shows it.
Capture capture(HWND window)
{
    RECT r;
    GetClientRect(window, &r);
    Capture c;
    c.width = r.right;
    c.height = r.bottom;
    HDC source = GetDC(window);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, c.width, c.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, c.width, c.height, source, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = bgra_bitmap_info(c.width, c.height);
    c.bgra.resize(size_t(c.width) * c.height * 4);
    GetDIBits(memory, bitmap, 0, c.height, c.bgra.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, source);
    return c;
}

// The dialog's face into the build's artifacts folder.
void save_dialog_picture(HWND dialog, const char* name)
{
    CreateDirectoryA("artifacts", nullptr);
    const Capture c = capture(dialog);
    EXPECT_TRUE(write_png(std::string("artifacts\\") + name, from_bgra(c.width, c.height, c.bgra))) << name;
}

// ---------------------------------------------------------------- expectations

int factor_for(HWND preview)
{
    return fit_factor(preview, image_width, image_height);
}

struct Extent {
    int last_col, last_row;
};

Extent extent_at(HWND preview, int z)
{
    RECT r;
    GetClientRect(preview, &r);
    return Extent{std::min<int>(r.right - 1, image_width / z - 1), std::min<int>(r.bottom - 1, image_height / z - 1)};
}

// What the host delivered for preview pixel (x, y) at factor z and pan (0, 0).
Rgb delivered(int x, int y, int z)
{
    return source_at(x * z, y * z);
}

// The cell colour of preview pixel (x, y): the nearest centre in full-image
// coordinates, read from the delivered area clamped into it.
Rgb expected_cell(int x, int y, int z, int s, const Extent& e)
{
    const CellCentre c = nearest_centre(x * z, y * z, s);
    const int col = std::min(c.x / z, e.last_col - 1), row = std::min(c.y / z, e.last_row - 1);
    return delivered(col, row, z);
}

const Rgb light_grey{192, 192, 192};
const Rgb white{255, 255, 255};
const Rgb black{0, 0, 0};

// ---------------------------------------------------------------- the user

void type_size(HWND dialog, const char* text)
{
    type_into(dialog, 301, text);
}

void mouse(HWND preview, UINT message, WPARAM keys, int x, int y)
{
    SendMessageA(preview, message, keys, MAKELPARAM(x, y));
}

// The preview's owed paint, done now.
void repaint(HWND window)
{
    UpdateWindow(window);
}

Rgb swatch_colour(HWND dialog, int id)
{
    HWND swatch = GetDlgItem(dialog, id);
    InvalidateRect(swatch, nullptr, FALSE);
    UpdateWindow(swatch);
    RECT r;
    GetClientRect(swatch, &r);
    return capture(swatch).at(r.right / 2, r.bottom / 2);
}

Rgb colour_of(uint32_t value)
{
    return Rgb{static_cast<unsigned char>(value & 0xFF), static_cast<unsigned char>((value >> 8) & 0xFF),
               static_cast<unsigned char>((value >> 16) & 0xFF)};
}

BOOL CALLBACK collect_text(HWND child, LPARAM out)
{
    char text[512] = {};
    GetWindowTextA(child, text, sizeof text);
    *reinterpret_cast<std::string*>(out) += std::string(text) + "|";
    return TRUE;
}

std::string texts_of(HWND window)
{
    std::string all;
    EnumChildWindows(window, collect_text, reinterpret_cast<LPARAM>(&all));
    return all;
}

// ---------------------------------------------------------------- the runs

// The colours the dialog loads: without a stored value they would all be black.
const uint32_t stored_colours[8] = {0x00204080, 0x00806040};

void store_colours()
{
    store_value("CustomColors", stored_colours, sizeof stored_colours);
}

// Every pixel's colour as the host serves it.
void paint_source(int x, int y, unsigned char* p)
{
    const Rgb c = source_at(x, y);
    p[0] = c.r, p[1] = c.g, p[2] = c.b;
}

struct Preview : ::testing::Test {
    Driver driver;

    void load(const char* name, int width = 600, int height = 400)
    {
        image_width = width;
        image_height = height;
        delete_settings();
        host.reset(width, height, paint_source);
        host.in_padding = 1; // rows of their own length in each buffer
        host.out_padding = 5;
        host.load(name);
    }
    void TearDown() override { host.unload(); }

    // One filter command with the dialog; `user` runs on its own thread with
    // the dialog and its preview. Whatever it leaves open is cancelled.
    int16 run(const std::function<void(HWND dialog, HWND preview)>& user)
    {
        return host.run_command(true, "Cellumbra", [&](const std::atomic<bool>& done) {
            if (HWND dialog = wait_for_dialog("Cellumbra", 15000, &done))
                user(dialog, GetDlgItem(dialog, preview_id));
            else
                ADD_FAILURE() << "no dialog captioned Cellumbra appeared";
            host.fail_code = 0;
        });
    }
};

// Waits for a filtered rendering after `since` (a tick count); true when one came.
bool filtered_after(DWORD since)
{
    return wait_until([&] { return !host.filtered_since(since).empty(); });
}

// Counts preview pixels of the shown image that differ from the cells of size s.
int cell_mismatches(const Capture& c, int z, int s, const Extent& e)
{
    int wrong = 0;
    for (int y = 0; y < e.last_row; ++y)
        for (int x = 0; x < e.last_col; ++x)
            if (!(c.at(x, y) == expected_cell(x, y, z, s, e))) ++wrong;
    return wrong;
}

int unfiltered_mismatches(const Capture& c, int z, const Extent& e, int pan_x = 0, int pan_y = 0)
{
    int wrong = 0;
    for (int y = 0; y < e.last_row; ++y)
        for (int x = 0; x < e.last_col; ++x)
            if (!(c.at(x, y) == delivered(pan_x + x, pan_y + y, z))) ++wrong;
    return wrong;
}

TEST_F(Preview, ShowsTheViewAtOnceAndTheCellsAboutASecondAfterAChange)
{
    load("Cellumbra.8bf");
    run([&](HWND dialog, HWND preview) {
        const int z = factor_for(preview);
        const Extent e = extent_at(preview, z);
        driver.on_dialog_thread([&] {
            repaint(preview);
            const Capture c = capture(preview);
            EXPECT_EQ(unfiltered_mismatches(c, z, e), 0) << "the first paint shows the picture unfiltered";
            EXPECT_EQ(c.at(e.last_col, 5), light_grey);
            EXPECT_EQ(c.at(5, e.last_row), light_grey);
            EXPECT_EQ(c.at(c.width - 1, c.height - 1), light_grey);
        });
        const Rect16 asked = host.last_request();
        EXPECT_EQ(asked.right - asked.left, e.last_col);
        EXPECT_EQ(asked.bottom - asked.top, e.last_row);

        ASSERT_TRUE(filtered_after(0)) << "the opening's own rendering";
        DWORD changed = 0;
        driver.on_dialog_thread([&] {
            type_size(dialog, "10");
            type_size(dialog, "7"); // the second change restarts the wait: one rendering, of size 7
            changed = GetTickCount();
        });
        ASSERT_TRUE(filtered_after(changed));
        // The one check of the debounce on screen; its exact timing is tested
        // on a simulated clock. Never sooner than the timer allows.
        EXPECT_GE(host.filtered_since(changed)[0] - changed, 450u);
        driver.on_dialog_thread([&] {
            const Capture c = capture(preview);
            EXPECT_EQ(cell_mismatches(c, z, 7, e), 0) << "cells of size 7 at 1:" << z;
            EXPECT_EQ(c.at(e.last_col + 2, 5), light_grey);
            save_dialog_picture(dialog, "preview.png");
        });

        // The trackbar, moved by its own key, refreshes the preview as typing does.
        DWORD slid = 0;
        driver.on_dialog_thread([&] {
            SendDlgItemMessageA(dialog, 201, WM_KEYDOWN, VK_RIGHT, 0);
            EXPECT_EQ(text_of(dialog, 301), "8");
            slid = GetTickCount();
        });
        ASSERT_TRUE(filtered_after(slid)) << "no filtered rendering after the trackbar moved";
        driver.on_dialog_thread([&] { EXPECT_EQ(cell_mismatches(capture(preview), z, 8, e), 0); });
    });
}

TEST_F(Preview, DraggingPansAndShowsTheUnfilteredViewUntilRelease)
{
    load("Cellumbra.8bf");
    run([&](HWND dialog, HWND preview) {
        driver.on_dialog_thread([&] {
            type_size(dialog, "9");
            click(dialog, 91, true); // 1:1, so the picture is larger than the preview
            repaint(preview);
        });
        ASSERT_TRUE(filtered_after(0));
        const Extent e = extent_at(preview, 1);
        DWORD pressed = 0;
        driver.on_dialog_thread([&] {
            const Rect16 before = host.last_request(); // the zoom kept the middle in place
            ASSERT_GE(before.left, 40);
            ASSERT_GE(before.top, 30);
            pressed = GetTickCount();
            mouse(preview, WM_LBUTTONDOWN, MK_LBUTTON, 100, 100);
            mouse(preview, WM_MOUSEMOVE, MK_LBUTTON, 140, 130);
            repaint(preview);
            const Rect16 r = host.last_request();
            EXPECT_EQ(r.left, before.left - 40);
            EXPECT_EQ(r.top, before.top - 30);
            EXPECT_EQ(unfiltered_mismatches(capture(preview), 1, e, r.left, r.top), 0);
            // Far beyond the picture's end: the pan stops at its limits.
            mouse(preview, WM_MOUSEMOVE, MK_LBUTTON, -3000, -3000);
            repaint(preview);
            const Rect16 limit = host.last_request();
            EXPECT_EQ(limit.right, image_width - 1);
            EXPECT_EQ(limit.bottom, image_height - 1);
        });
        // Longer than the timer needs to owe a rendering twice over.
        EXPECT_TRUE(holds_for([&] { return host.filtered_since(pressed).empty(); }, 1300))
            << "no filtered rendering while the button is down";
        DWORD released = 0;
        driver.on_dialog_thread([&] {
            mouse(preview, WM_LBUTTONUP, 0, -3000, -3000);
            released = GetTickCount();
        });
        EXPECT_TRUE(filtered_after(released)) << "the release brings the filtered view back";
    });
}

TEST_F(Preview, WithFilteringUncheckedOnlyThePictureShows)
{
    load("Cellumbra.8bf");
    run([&](HWND dialog, HWND preview) {
        ASSERT_TRUE(filtered_after(0));
        const int z = factor_for(preview);
        // Counted on the dialog thread, which draws every rendering: a
        // repaint of the filtered view just before the click is not one
        // after it, even within the same millisecond.
        size_t before = 0;
        driver.on_dialog_thread([&] {
            click(dialog, 93);
            before = host.filtered_since(0).size();
            EXPECT_EQ(IsDlgButtonChecked(dialog, 93), static_cast<UINT>(BST_UNCHECKED));
            repaint(preview);
            type_size(dialog, "15");
        });
        EXPECT_TRUE(holds_for([&] { return host.filtered_since(0).size() == before; }, 1400));
        driver.on_dialog_thread([&] { EXPECT_EQ(unfiltered_mismatches(capture(preview), z, extent_at(preview, z)), 0); });
    });
}

TEST_F(Preview, AFailedRequestShowsFilterErrorWithItsCodeAndDrawsNothing)
{
    load("Cellumbra.8bf");
    run([&](HWND, HWND preview) {
        ASSERT_TRUE(filtered_after(0));
        const size_t shown_before = host.displays_copy().size();
        host.fail_code = -108;
        InvalidateRect(preview, nullptr, FALSE);
        HWND box = wait_for_dialog("Filter Error", 5000);
        ASSERT_NE(box, nullptr) << "no box captioned Filter Error";
        EXPECT_NE(texts_of(box).find("Error -108 in advanceState!\nInternal error - please report to the authors!"),
                  std::string::npos)
            << texts_of(box);
        EXPECT_EQ(host.displays_copy().size(), shown_before) << "nothing drawn";
        EXPECT_TRUE(holds_for([&] { return !FindWindowExA(nullptr, box, "#32770", "Filter Error"); }, 1200))
            << "timer ticks while the box is up add no second box";
        host.fail_code = 0;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(wait_until([&] { return !IsWindow(box); }, 2000));
    });
}

TEST_F(Preview, ASlowKernelIsCutAfterAboutTwoSecondsUnderAWhiteCross)
{
    load("CellumbraSlow.8bf");
    run([&](HWND dialog, HWND preview) {
        const int z = factor_for(preview);
        const Extent e = extent_at(preview, z);
        // The opening's rendering: due within a second, cut two seconds later.
        int filtered_paint = -1;
        DWORD took = 0;
        wait_until([&] {
            const std::vector<Display> shown = host.displays_copy();
            for (size_t i = 1; i < shown.size(); ++i)
                if (shown[i].paint == shown[i - 1].paint) {
                    filtered_paint = shown[i].paint;
                    took = shown[i].at - shown[i - 1].at;
                }
            return filtered_paint >= 0;
        });
        ASSERT_GE(filtered_paint, 0) << "no filtered rendering";
        EXPECT_GE(took, 1900u);
        EXPECT_LE(took, 2700u) << "a three-second kernel must be cut after about two";
        driver.on_dialog_thread([&] {
            const Capture c = capture(preview);
            // The cross from corner to corner.
            for (int k = 8; k < c.height - 8; k += 16) {
                const int x = k * c.width / c.height;
                bool found = false;
                for (int dx = -1; dx <= 1; ++dx) found = found || c.at(x + dx, k) == white;
                EXPECT_TRUE(found) << "white cross at row " << k;
                found = false;
                for (int dx = -1; dx <= 1; ++dx) found = found || c.at(c.width - 1 - x + dx, k) == white;
                EXPECT_TRUE(found) << "white cross at row " << k;
            }
            // Two thirds of three seconds: the top rows done, the bottom ones not.
            EXPECT_EQ(c.at(20, 3), inverted(delivered(20, 3, z)));
            EXPECT_EQ(c.at(e.last_col - 3, 2), inverted(delivered(e.last_col - 3, 2, z)));
            EXPECT_EQ(c.at(20, e.last_row - 2), delivered(20, e.last_row - 2, z));
            save_dialog_picture(dialog, "preview_cut.png");
        });
    });
}

TEST_F(Preview, HostPickerChoosesTheSwatchColourAndItsAbsenceChangesNothing)
{
    load("CellumbraPick.8bf");
    store_colours();
    run([&](HWND dialog, HWND) {
        driver.on_dialog_thread([&] {
            EXPECT_EQ(swatch_colour(dialog, 402), colour_of(0x00806040));
            click(dialog, 402);
            ASSERT_EQ(host.colour_calls, 1);
            EXPECT_EQ(host.colour_seen.infoSize, int32(sizeof(void*) == 8 ? 56 : 36)); // the hosts' sizes
            EXPECT_EQ(host.colour_seen.selector, 0);
            EXPECT_EQ(host.colour_seen.sourceSpace, 0);
            EXPECT_EQ(host.colour_seen.resultSpace, 0);
            EXPECT_EQ(host.colour_seen.colorComponents[0], 0x40);
            EXPECT_EQ(host.colour_seen.colorComponents[1], 0x60);
            EXPECT_EQ(host.colour_seen.colorComponents[2], 0x80);
            EXPECT_EQ(host.colour_seen.colorComponents[3], 0);
            EXPECT_EQ(host.prompt_seen, std::string("\x1c Glyphsmithery: Select Color"));
            EXPECT_EQ(swatch_colour(dialog, 402), (Rgb{255, 0, 0}));
            EXPECT_EQ(swatch_colour(dialog, 401), colour_of(0x00204080)) << "the other swatch keeps its colour";

            click(dialog, 403); // beyond colour_count: nothing
            EXPECT_EQ(host.colour_calls, 1);

            host.record.colorServices = nullptr;
            click(dialog, 401);
            EXPECT_EQ(swatch_colour(dialog, 401), colour_of(0x00204080));
        });
    });
}

TEST_F(Preview, EyedropperFollowsTheMouseSurvivesAPanAndIsFixedByShiftClick)
{
    load("CellumbraPick.8bf");
    store_colours();
    run([&](HWND dialog, HWND preview) {
        const int z = factor_for(preview);
        DWORD fixed_at = 0;
        driver.on_dialog_thread([&] {
            repaint(preview);
            click(dialog, 401, true);
            mouse(preview, WM_MOUSEMOVE, 0, 30, 20);
            EXPECT_EQ(swatch_colour(dialog, 401), delivered(30, 20, z));
            // The eyedropper, tip at (6, 24), is the cursor now.
            HCURSOR picker = LoadCursorA(host.plugin, "FPICKER");
            ASSERT_NE(picker, nullptr);
            EXPECT_EQ(GetCursor(), picker);
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(picker, &info));
            EXPECT_FALSE(info.fIcon);
            EXPECT_EQ(info.xHotspot, 6u);
            EXPECT_EQ(info.yHotspot, 24u);
            BITMAP mask{};
            GetObjectA(info.hbmMask, sizeof mask, &mask);
            EXPECT_EQ(mask.bmWidth, 32);
            EXPECT_EQ(mask.bmHeight, 64) << "monochrome: AND and XOR masks in one bitmap";
            EXPECT_EQ(info.hbmColor, nullptr);
            DeleteObject(info.hbmMask);

            // A plain drag pans (at 1:1 the picture is larger than the view)
            // and the pick goes on afterwards.
            click(dialog, 91, true);
            repaint(preview);
            const Rect16 before = host.last_request();
            mouse(preview, WM_LBUTTONDOWN, MK_LBUTTON, 100, 100);
            mouse(preview, WM_MOUSEMOVE, MK_LBUTTON, 110, 105);
            repaint(preview);
            mouse(preview, WM_LBUTTONUP, 0, 110, 105);
            EXPECT_EQ(GetCursor(), picker);
            const Rect16 panned = host.last_request();
            EXPECT_EQ(panned.left, before.left - 10);
            EXPECT_EQ(panned.top, before.top - 5);
            mouse(preview, WM_MOUSEMOVE, 0, 10, 10);
            const Rgb tracked = delivered(panned.left + 10, panned.top + 10, 1);
            EXPECT_EQ(swatch_colour(dialog, 401), tracked);

            // The zoom hands the areas back: nothing is read until the next paint.
            click(dialog, 92, true);
            mouse(preview, WM_MOUSEMOVE, 0, 12, 12);
            EXPECT_EQ(swatch_colour(dialog, 401), tracked);
            click(dialog, 91, true);
            repaint(preview);
            const Rect16 view = host.last_request();

            set_shift(true);
            mouse(preview, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, 20, 25);
            set_shift(false);
            mouse(preview, WM_LBUTTONUP, 0, 20, 25);
            const Rgb fixed = delivered(view.left + 20, view.top + 25, 1);
            EXPECT_EQ(swatch_colour(dialog, 401), fixed);
            mouse(preview, WM_MOUSEMOVE, 0, 90, 90);
            EXPECT_EQ(swatch_colour(dialog, 401), fixed) << "the pick is over";
            EXPECT_NE(GetCursor(), picker);
            fixed_at = GetTickCount();
        });
        EXPECT_TRUE(filtered_after(fixed_at)) << "the filtered preview returns";
    });
}

TEST_F(Preview, RightClickSetsTheCentreAndTheCrossHairGoesThroughIt)
{
    load("CellumbraPick.8bf");
    store_colours();
    run([&](HWND, HWND preview) {
        const int z = factor_for(preview);
        const Extent e = extent_at(preview, z);
        const DWORD clicked = GetTickCount();
        driver.on_dialog_thread([&] { mouse(preview, WM_RBUTTONDOWN, MK_RBUTTON, 20, 10); });
        ASSERT_TRUE(filtered_after(clicked));
        driver.on_dialog_thread([&] {
            repaint(preview);
            const Capture c = capture(preview);
            for (int x = 0; x < e.last_col; x += 7) EXPECT_EQ(c.at(x, 10), black) << x;
            for (int y = 0; y < e.last_row; y += 7) EXPECT_EQ(c.at(20, y), black) << y;
            EXPECT_NE(c.at(21, 11), black);
        });
    });
}

INT_PTR CALLBACK plain_dialog_proc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

std::string class_of(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Nothing opens it, but the module carries it for filters that would.
TEST_F(Preview, TheModuleCarriesTheColourSelectorTemplate)
{
    load("Cellumbra.8bf");
    HWND d = CreateDialogParamA(host.plugin, "COLORSEL", nullptr, plain_dialog_proc, 0);
    ASSERT_NE(d, nullptr);
    char caption[64] = {};
    GetWindowTextA(d, caption, sizeof caption);
    EXPECT_STREQ(caption, "Glyphsmithery Color Selector");
    const char* labels[] = {"&Red:", "&Green:", "&Blue:"};
    for (int k = 0; k < 3; ++k) {
        char text[32] = {};
        GetDlgItemTextA(d, 601 + k, text, sizeof text);
        EXPECT_STREQ(text, labels[k]);
        EXPECT_STRCASEEQ(class_of(GetDlgItem(d, 611 + k)).c_str(), "msctls_trackbar32");
        EXPECT_STRCASEEQ(class_of(GetDlgItem(d, 621 + k)).c_str(), "Edit");
    }
    EXPECT_NE(GetDlgItem(d, 630), nullptr) << "the sample frame";
    EXPECT_NE(GetDlgItem(d, IDOK), nullptr);
    EXPECT_NE(GetDlgItem(d, IDCANCEL), nullptr);
    DestroyWindow(d);
}

TEST_F(Preview, FilteredRenderingOfTheDefaultViewOfALargePicture)
{
    load("Cellumbra.8bf", 4000, 3000);
    run([&](HWND dialog, HWND preview) {
        const DWORD typed = GetTickCount();
        driver.on_dialog_thread([&] { type_size(dialog, "12"); });
        ASSERT_TRUE(filtered_after(typed)); // from here on every paint is a filtered one
        std::vector<double> ms;
        driver.on_dialog_thread([&] {
            LARGE_INTEGER frequency, t0, t1;
            QueryPerformanceFrequency(&frequency);
            for (int i = 0; i < 25; ++i) {
                const size_t shown = host.displays_copy().size();
                InvalidateRect(preview, nullptr, FALSE);
                QueryPerformanceCounter(&t0);
                UpdateWindow(preview);
                QueryPerformanceCounter(&t1);
                ASSERT_EQ(host.displays_copy().size(), shown + 2) << "a filtered paint";
                ms.push_back(1000.0 * double(t1.QuadPart - t0.QuadPart) / double(frequency.QuadPart));
            }
        });
        ASSERT_EQ(ms.size(), 25u);
        std::sort(ms.begin(), ms.end());
        const int z = factor_for(preview);
        const Extent e = extent_at(preview, z);
        std::printf("preview: one filtered rendering of the default view (1:%d, %d x %d pixels) of a %d x %d "
                    "picture: median %.2f ms, fastest %.2f ms\n",
                    z, e.last_col, e.last_row, image_width, image_height, ms[ms.size() / 2], ms[0]);
        // A figure, not a check: the benchmark command prints it.
        RecordProperty("filtered_rendering_median_us", int(ms[ms.size() / 2] * 1000));
    });
}

} // namespace
