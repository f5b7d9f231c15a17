// The real Cellumbra.8bf in filterhost, as a host repeating the filter runs it:
// the cell size comes from the stored "SliderSettings", the start selector
// arrives without a parameters selector, and the dialog accepts at once. Every
// output byte is compared with a brute-force search of the nearest cell centre.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "win/support/host_runner.h"
#include "win/support/pictures.h"

using namespace wintest;

namespace {

struct Centre {
    int32_t x, y;
};

// The nearest corner or middle of the 6s x 4s tiles around the pixel; ties
// go to a middle, then to the lower, then to the right centre.
Centre nearest_centre(int32_t x, int32_t y, int32_t s)
{
    const int64_t w = 6 * int64_t{s}, h = 4 * int64_t{s};
    const int64_t i0 = x / w, j0 = y / h;
    int64_t best_x = 0, best_y = 0, best_d = INT64_MAX;
    bool best_middle = false;
    for (int64_t i = i0 - 1; i <= i0 + 1; ++i)
        for (int64_t j = j0 - 1; j <= j0 + 1; ++j)
            for (bool middle : {false, true}) {
                const int64_t cx = w * i + (middle ? 3 * int64_t{s} : 0);
                const int64_t cy = h * j + (middle ? 2 * int64_t{s} : 0);
                const int64_t d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                bool better = d < best_d;
                if (d == best_d)
                    better = middle != best_middle ? middle : (cy > best_y || (cy == best_y && cx > best_x));
                if (better) {
                    best_d = d;
                    best_x = cx;
                    best_y = cy;
                    best_middle = middle;
                }
            }
    return {int32_t(best_x), int32_t(best_y)};
}

struct Area {
    int left, top, right, bottom; // right and bottom exclusive
};

// The picture the filter should give: inside `area`, planes 0-2 from the
// nearest centre clamped into the picture's columns and the rows of the
// pixel's band; everything else, and the fourth plane, as it was.
TestPicture expected_cells(const TestPicture& in, int32_t s, int band_rows, Area area)
{
    TestPicture want = in;
    for (int y = area.top; y < area.bottom; ++y) {
        const int band_top = y / band_rows * band_rows;
        const int band_last = std::min(in.height, band_top + band_rows) - 1;
        for (int x = area.left; x < area.right; ++x) {
            const Centre c = nearest_centre(x, y, s);
            const unsigned char* from = in.at(std::clamp(c.x, 0, in.width - 1), std::clamp(c.y, band_top, band_last));
            std::copy(from, from + 3, want.at(x, y));
        }
    }
    return want;
}

::testing::AssertionResult same_picture(const TestPicture& got, const TestPicture& want)
{
    if (got.width != want.width || got.height != want.height || got.planes != want.planes)
        return ::testing::AssertionFailure() << "picture is " << got.width << " x " << got.height << " x "
                                             << got.planes;
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x)
            for (int z = 0; z < want.planes; ++z)
                if (got.at(x, y)[z] != want.at(x, y)[z])
                    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") plane " << z << " is "
                                                         << int(got.at(x, y)[z]) << ", want " << int(want.at(x, y)[z]);
    return ::testing::AssertionSuccess();
}

const char* const settings_key = "Software\\Orv-Tinctora\\Tinctora\\Cellumbra";

// Stores the control values as a host's earlier run of the filter left them.
bool store_slider_settings(int32_t size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, settings_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    int32_t values[16] = {size};
    const LONG rc =
        RegSetValueExA(key, "SliderSettings", 0, REG_BINARY, reinterpret_cast<const BYTE*>(values), sizeof values);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

// Answers the band warning that the plug-in shows for a picture taller than
// one band, as the user would, and counts the boxes it answered.
class WarningConfirmer {
public:
    WarningConfirmer() { thread_ = CreateThread(nullptr, 0, watch, this, 0, nullptr); }
    ~WarningConfirmer()
    {
        stop_ = true;
        if (thread_) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
    }
    WarningConfirmer(const WarningConfirmer&) = delete;
    WarningConfirmer& operator=(const WarningConfirmer&) = delete;

    int boxes() const { return boxes_; }

private:
    static DWORD WINAPI watch(void* self)
    {
        auto& me = *static_cast<WarningConfirmer*>(self);
        HWND answered = nullptr;
        while (!me.stop_) {
            HWND box = FindWindowA(nullptr, "The functions src and dr,dg,db could possibly not work as desired!");
            if (box) {
                if (box != answered) ++me.boxes_;
                answered = box;
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            }
            Sleep(20);
        }
        return 0;
    }

    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<int> boxes_{0};
};

struct CellsEndToEnd : ::testing::Test {
    std::string dir;

    void SetUp() override
    {
        dir = scratch_dir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        // The dialog's at-once ending hides a window; on an X server without a
        // window manager Wine waits seconds for that unless windows are unmanaged.
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
            RegCloseKey(key);
        }
    }

    // Runs the plug-in on `in` with extra filterhost options; the size is
    // already stored. Returns the output read back with the input's planes.
    TestPicture run(const TestPicture& in, std::vector<std::string> options)
    {
        const std::string input = dir + "\\in.png", output = dir + "\\out.png";
        EXPECT_TRUE(write_png(input, in));
        DeleteFileA(output.c_str());
        options.insert(options.begin(), "--quiet");
        if (in.planes == 4) options.push_back("--rgba");
        options.insert(options.end(), {in_build_dir("Cellumbra.8bf"), input, output});
        const RunResult r = run_filterhost(options);
        EXPECT_EQ(0, r.exit_code) << r.out << r.err;
        TestPicture got;
        EXPECT_TRUE(read_picture(output, got, in.planes)) << output;
        return got;
    }

    TestPicture run_at_size(const TestPicture& in, int32_t size, std::vector<std::string> options = {})
    {
        EXPECT_TRUE(store_slider_settings(size));
        return run(in, std::move(options));
    }
};

Area whole(const TestPicture& p)
{
    return {0, 0, p.width, p.height};
}

TEST_F(CellsEndToEnd, StoredSizesGiveTheNearestCentreColours)
{
    const TestPicture in = make_coordinate_picture(97, 61, 3);
    for (int32_t size : {1, 4, 11, 100}) {
        const TestPicture got = run_at_size(in, size);
        EXPECT_TRUE(same_picture(got, expected_cells(in, size, in.height, whole(in)))) << "size " << size;
    }
}

TEST_F(CellsEndToEnd, StoredSizesOutsideTheRangeArePulledIntoIt)
{
    const TestPicture in = make_coordinate_picture(45, 33, 3);
    EXPECT_TRUE(same_picture(run_at_size(in, 0), expected_cells(in, 1, in.height, whole(in))));
    EXPECT_TRUE(same_picture(run_at_size(in, 5000), expected_cells(in, 100, in.height, whole(in))));
}

TEST_F(CellsEndToEnd, TransparentPicturesKeepTheirAlpha)
{
    const TestPicture in = make_coordinate_picture(50, 41, 4);
    EXPECT_TRUE(same_picture(run_at_size(in, 3), expected_cells(in, 3, in.height, whole(in))));
}

TEST_F(CellsEndToEnd, BandsAndSelectionsSampleOnlyWhatTheBandHolds)
{
    const TestPicture in = make_coordinate_picture(64, 90, 3);
    // maxSpace for bands of 16 rows: (2 * planes + 2) bytes per column and row.
    const int rows = 16;
    const std::string max_space = std::to_string(rows * 8 * (in.width + 4));
    {
        WarningConfirmer user;
        EXPECT_TRUE(same_picture(run_at_size(in, 5, {"--max-space", max_space}),
                                 expected_cells(in, 5, rows, whole(in))));
        EXPECT_EQ(1, user.boxes());
    }
    {
        WarningConfirmer user;
        const Area selected{7, 12, 53, 80};
        EXPECT_TRUE(same_picture(run_at_size(in, 5, {"--max-space", max_space, "--select-rect", "7,12,53,80"}),
                                 expected_cells(in, 5, rows, selected)));
        EXPECT_EQ(1, user.boxes());
    }
}

} // namespace
