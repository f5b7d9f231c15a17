// The cell pattern: first the Main block alone against a recording table of
// built-ins, then whole pictures run through the shell, with the block
// through its table entry and bound into the pixel walk, on the host's thread
// alone and spread over 2, 3 and 7 threads. Every expected
// centre comes from a brute-force search over the lattice, not from the
// kernel's quarter rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "filter/cellumbra_kernel.h"
#include "runtime/kernel.h"
#include "settings/settings.h"
#include "runtime/host_calls.h"
#include "runtime/parallel_band.h"
#include "runtime/worker_pool.h"
#include "shell/band_plan.h"
#include "shell/shell.h"
#include "support/cell_reference.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"

namespace {

using Point = CellCentre;

// ---------------------------------------------------------------- the block

struct Recorder {
    int32_t size = 0;
    std::vector<int32_t> slider_calls;
    std::vector<std::array<int32_t, 3>> src_calls;
};
Recorder recorder;

int32_t recording_slider(int32_t i)
{
    recorder.slider_calls.push_back(i);
    return recorder.size;
}

int32_t recording_src(int32_t x, int32_t y, int32_t z)
{
    recorder.src_calls.push_back({x, y, z});
    return 200 + z;
}

BuiltinTable recording_table()
{
    BuiltinTable table = builtin_table;
    table.slider = recording_slider;
    table.src = recording_src;
    return table;
}

// Runs the block once for pixel (x, y) at size s and returns the position it
// sampled, after checking the calls that every pixel makes.
Point centre_taken(int32_t x, int32_t y, int32_t s)
{
    recorder = Recorder{};
    recorder.size = s;
    KernelVariables vars{};
    vars.v[slot::x] = x;
    vars.v[slot::y] = y;
    const BuiltinTable table = recording_table();
    cellumbra_main(vars, table);

    EXPECT_EQ(recorder.slider_calls, std::vector<int32_t>{0});
    if (recorder.src_calls.size() != 3) {
        ADD_FAILURE() << "src called " << recorder.src_calls.size() << " times";
        return {INT32_MIN, INT32_MIN};
    }
    const auto& first = recorder.src_calls[0];
    for (int32_t plane = 0; plane < 3; ++plane) {
        const auto& call = recorder.src_calls[plane];
        EXPECT_EQ(call[2], plane);
        EXPECT_EQ(call[0], first[0]);
        EXPECT_EQ(call[1], first[1]);
    }
    return {first[0], first[1]};
}

TEST(CellBlock, WritesTheThreeSamplesAndItsOwnVariablesOnly)
{
    recorder = Recorder{};
    recorder.size = 10;
    KernelVariables vars;
    for (int k = 0; k < slot::count; ++k) vars.v[k] = 1000 + k;
    vars.v[slot::x] = 65;
    vars.v[slot::y] = 5;
    const KernelVariables before = vars;
    const BuiltinTable table = recording_table();
    cellumbra_main(vars, table);

    EXPECT_EQ(vars.v[slot::out_red], 200);
    EXPECT_EQ(vars.v[slot::out_green], 201);
    EXPECT_EQ(vars.v[slot::out_blue], 202);
    // s, cx, cy, kx, ky as the block leaves them.
    EXPECT_EQ(vars.v[35], 10);
    EXPECT_EQ(vars.v[36], 60);
    EXPECT_EQ(vars.v[37], 0);
    EXPECT_EQ(vars.v[38], 0);
    EXPECT_EQ(vars.v[39], 0);
    for (int k = 0; k < slot::count; ++k) {
        if (k <= slot::out_blue || (k >= 35 && k <= 39)) continue;
        EXPECT_EQ(vars.v[k], before.v[k]) << "slot " << k; // out_alpha passes through
    }
}

TEST(CellBlock, TakesTheNearestCentreOfTheTile)
{
    EXPECT_EQ(centre_taken(65, 5, 10), (Point{60, 0}));   // upper-left corner of tile 1
    EXPECT_EQ(centre_taken(85, 15, 10), (Point{90, 20})); // tile middle
    EXPECT_EQ(centre_taken(30, 20, 10), (Point{30, 20})); // a middle keeps its own colour
    EXPECT_EQ(centre_taken(3, 2, 2), (Point{6, 4}));      // as far from (0, 0): the middle wins
    EXPECT_EQ(centre_taken(119, 79, 10), (Point{120, 80})); // beyond the tile, lower right
    EXPECT_EQ(centre_taken(0, 0, 1), (Point{0, 0}));
}

TEST(CellBlock, TileMidLinesBelongToTheRightAndLowerQuarters)
{
    // On ty = 2s the upper and lower corners are equally near; the lower one wins.
    EXPECT_EQ(centre_taken(0, 20, 10), (Point{0, 40}));
    EXPECT_EQ(centre_taken(0, 19, 10), (Point{0, 0}));
    EXPECT_EQ(centre_taken(59, 20, 10), (Point{60, 40}));
    EXPECT_EQ(centre_taken(61, 20, 10), (Point{60, 40}));
    // On tx = 3s the middle is always nearer than either corner.
    for (int32_t y = 0; y < 40; ++y) EXPECT_EQ(centre_taken(30, y, 10), (Point{30, 20})) << y;
}

TEST(CellBlock, AgreesWithTheNearestCentreEverywhereInTwoTiles)
{
    std::vector<int32_t> sizes;
    for (int32_t s = 1; s <= 13; ++s) sizes.push_back(s);
    sizes.push_back(100);
    for (int32_t s : sizes) {
        int failures = 0;
        const int32_t step = s > 20 ? 7 : 1; // every pixel is too slow under the sanitizers
        for (int32_t y = 0; y < 8 * s + 3 && failures < 5; ++y)
            for (int32_t x = y % step; x < 12 * s + 3 && failures < 5; x += step) {
                const Point want = nearest_centre(x, y, s);
                const Point got = centre_taken(x, y, s);
                if (!(got == want)) {
                    ++failures;
                    ADD_FAILURE() << "size " << s << " pixel (" << x << ", " << y << "): took "
                                  << got << ", nearest is " << want;
                }
            }
    }
}

TEST(CellBlock, StaysExactForLargeSizesAndFarPixels)
{
    // Far beyond the dialog's range, still below the size at which a squared
    // distance of a 16-bit picture would leave 32 bits.
    for (int32_t s : {100, 1000, 5000, 12000})
        for (int32_t y = 0; y < 32768; y += 1237)
            for (int32_t x = 0; x < 32768; x += 1009)
                ASSERT_EQ(centre_taken(x, y, s), nearest_centre(x, y, s))
                    << "size " << s << " pixel (" << x << ", " << y << ")";
    // The remainders stay exact up to the largest coordinate a kernel variable
    // can hold (a centre beyond it wraps, as kernel arithmetic does).
    for (int32_t s = 1; s <= 2000; s += (s < 50 ? 1 : 37))
        for (int32_t x : {INT32_MAX, INT32_MAX - 1, INT32_MAX - 6 * s, 1 << 30, (1 << 30) - 1, 2147480000})
            ASSERT_EQ(centre_taken(x, x / 3, s), nearest_centre(x, x / 3, s))
                << "size " << s << " pixel (" << x << ", " << x / 3 << ")";
}

TEST(CellBlock, ReadsExactlyAsFarAsItsDeclaredReach)
{
    // One tile holds every case: the pattern repeats from tile to tile.
    for (int32_t s : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 37, 100}) {
        KernelReach measured{}, declared{};
        const int32_t controls[16] = {s};
        ASSERT_TRUE(cellumbra_reach(controls, declared)) << s;
        const int32_t x0 = 6 * s * 3, y0 = 4 * s * 5; // away from the picture's edge
        for (int32_t y = y0; y < y0 + std::max(4 * s, 1); ++y)
            for (int32_t x = x0; x < x0 + std::max(6 * s, 1); ++x) {
                const Point c = centre_taken(x, y, s);
                measured.above = std::max(measured.above, y - c.y);
                measured.below = std::max(measured.below, c.y - y);
                measured.left = std::max(measured.left, x - c.x);
                measured.right = std::max(measured.right, c.x - x);
            }
        EXPECT_EQ(measured.above, declared.above) << s;
        EXPECT_EQ(measured.below, declared.below) << s;
        EXPECT_EQ(measured.left, declared.left) << s;
        EXPECT_EQ(measured.right, declared.right) << s;
    }
    // Beyond the exact range the kernel may read anywhere: nothing is declared.
    KernelReach reach{};
    for (int32_t s : {-1, INT32_MIN, 12001, INT32_MAX}) {
        const int32_t controls[16] = {s};
        EXPECT_FALSE(cellumbra_reach(controls, reach)) << s;
    }
}

TEST(CellBlock, SizeZeroCopiesEveryPixel)
{
    for (int32_t y : {0, 1, 7, 4000})
        for (int32_t x : {0, 1, 5, 32767}) EXPECT_EQ(centre_taken(x, y, 0), (Point{x, y}));
}

TEST(CellBlock, AnySizeRunsWithoutTrapOrOverflow)
{
    // Sizes the dialog never allows: the sanitizers of the native build turn
    // any division trap or signed overflow into a failure here. Everywhere,
    // the answer depends on the pixel and its size alone: the same in reverse
    // order, when every size follows another than before.
    const int32_t sizes[] = {-1, -2, -100, INT32_MIN, INT32_MIN + 1, INT32_MAX, 1 << 30, 357913942, 715827883};
    const int32_t positions[] = {0, 1, 32767, INT32_MAX};
    std::vector<Point> forward, backward;
    for (int32_t s : sizes)
        for (int32_t x : positions)
            for (int32_t y : positions) forward.push_back(centre_taken(x, y, s));
    for (int k = int(std::size(sizes)) - 1; k >= 0; --k)
        for (int i = 3; i >= 0; --i)
            for (int j = 3; j >= 0; --j) backward.push_back(centre_taken(positions[i], positions[j], sizes[k]));
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(forward, backward);
}

// ----------------------------------------------------------- whole pictures

// Every position of a picture up to 256 a side has its own colour, and the
// fourth plane differs from the three the kernel samples.
void paint_positions(FakeHost& host)
{
    for (int32_t y = 0; y < host.height; ++y)
        for (int32_t x = 0; x < host.width; ++x) {
            unsigned char* p = &host.source[host.offset(y, x)];
            p[0] = static_cast<unsigned char>(x);
            p[1] = static_cast<unsigned char>(y);
            p[2] = static_cast<unsigned char>(x * 7 + y * 13);
            if (host.planes > 3) p[3] = static_cast<unsigned char>(x ^ (y * 3) ^ 0x5A);
        }
    host.picture = host.source;
}

// The host's picture after a run, computed without the kernel: pixels that
// filterRect or a zero mask byte leave out keep their bytes; every other
// pixel takes planes 0-2 from its nearest centre, clamped into the rows of its
// band (band_rows: the whole picture when the bands hold every row a cell
// reads) and the picture's columns, and keeps its fourth plane.
std::vector<unsigned char> expected_picture(const FakeHost& host, int32_t s, int32_t band_rows)
{
    std::vector<unsigned char> want = host.source;
    const Rect16 f = host.record.filterRect;
    for (int32_t y = f.top; y < f.bottom; ++y) {
        const int32_t band_first = y / band_rows * band_rows;
        const int32_t band_last = std::min(host.height, band_first + band_rows) - 1;
        for (int32_t x = f.left; x < f.right; ++x) {
            if (!host.selection.empty() && host.selection[size_t(y) * size_t(host.width) + size_t(x)] == 0)
                continue;
            const Point c = nearest_centre(x, y, s);
            const int32_t cx = std::clamp(c.x, 0, host.width - 1);
            const int32_t cy = std::clamp(c.y, band_first, band_last);
            for (int32_t z = 0; z < 3; ++z) want[host.offset(y, x) + size_t(z)] = host.source_at(cy, cx, z);
        }
    }
    return want;
}

// A pixel-local block that inverts its pixel, bound as the product binds its
// own. `slow` makes a row take long enough for the other threads to race
// ahead; `at_row`, called at the first pixel of every row on the thread that
// walks it, lets a test hold a thread there, so that the others are surely
// ahead of it whatever the scheduler does.
struct LatchCells {
    static inline bool slow = false;
    static inline std::function<void(int32_t row)> at_row;

    template <class Builtins>
    void operator()(KernelVariables& vars, Builtins& builtins)
    {
        if (vars.v[slot::x] == 0 && at_row) at_row(vars.v[slot::y]);
        if (slow) {
            volatile int32_t spin = 0;
            for (int i = 0; i < 2000; ++i) spin = spin + i;
        }
        for (int z = 0; z < 3; ++z) vars.v[slot::out_red + z] = 255 - vars.v[slot::in_red + z];
    }
    static void entry(KernelVariables& vars, const BuiltinTable& builtins)
    {
        LatchCells block;
        block(vars, builtins);
    }
    static int16_t walk(const BandWalk& walk) { return pixel_local_walk<LatchCells>(walk); }
    static void bind(bool slow_rows, std::function<void(int32_t)> hook = {})
    {
        slow = slow_rows;
        at_row = std::move(hook);
        kernel_blocks[0] = entry;
        kernel_binding.bound[0] = BoundBlock{entry, walk, true};
        kernel_binding.reach = nullptr;
    }
    static void unbind() { at_row = nullptr; }
};

// Polls until `done` holds or ten seconds pass; false on the timeout, which a
// latch takes for "this will not happen" and goes on.
template <class Condition>
bool wait_for(Condition done)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done())
        if (std::chrono::steady_clock::now() > give_up) return false;
        else std::this_thread::yield();
    return true;
}

// CELLUMBRA_THREADS as a person sets it; 0 removes it.
void set_threads(int32_t n)
{
    const std::string value = n > 0 ? std::to_string(n) : std::string();
#ifdef _WIN32
    _putenv(("CELLUMBRA_THREADS=" + value).c_str());
#else
    if (n > 0)
        setenv("CELLUMBRA_THREADS", value.c_str(), 1);
    else
        unsetenv("CELLUMBRA_THREADS");
#endif
}

// The parameter: the block through the table (0), or bound into the walk as
// the product binds it, pixel-local, with that many threads.
struct CellPicture : ::testing::TestWithParam<int32_t> {
    ScopedModuleState state;
    int32_t saved_size = control_values[0];

    void SetUp() override
    {
        fake_platform.reset();
        parameters_requested = 0; // the dialog accepts at once with control_values
        kernel_blocks[0] = cellumbra_main;
        kernel_blocks[1] = kernel_blocks[2] = kernel_blocks[3] = nullptr;
        kernel_binding.bound[0] = GetParam() ? cellumbra_main_binding() : BoundBlock{};
        kernel_binding.reach = cellumbra_reach;
        set_threads(GetParam() > 0 ? GetParam() : 1);
        run_state.split_min_pixels = 0; // every band of two rows or more is split
    }
    void TearDown() override
    {
        LatchCells::unbind();
        control_values[0] = saved_size;
        set_threads(0);
    }

    // The maxSpace that plans bands of `rows` rows without reach (0: the
    // whole picture in one band).
    static void plan_bands(FakeHost& host, int32_t rows)
    {
        if (rows > 0) host.record.maxSpace = rows * (2 * host.planes + 2) * (host.width + 4);
    }

    // Runs the filter at size s and compares every byte of the host's
    // picture; `clamped_rows`: bands of that many rows that miss rows the
    // cells read (0: the picture of one band).
    void check_run(FakeHost& host, int32_t s, int32_t clamped_rows = 0)
    {
        paint_positions(host);
        control_values[0] = s;
        fake_platform.boxes.clear();
        ASSERT_EQ(host.run(), noErr);
        ASSERT_EQ(host.foreign_thread_calls, 0);
        ASSERT_EQ(WorkerPool::live_threads(), 0);
        // The warning says exactly when the bands miss rows.
        ASSERT_EQ(fake_platform.boxes.size(), clamped_rows > 0 ? 1u : 0u);
        const std::vector<unsigned char> want =
            expected_picture(host, s, clamped_rows > 0 ? clamped_rows : host.height);
        for (size_t i = 0; i < want.size(); ++i)
            if (host.picture[i] != want[i]) {
                const size_t pixel = i / size_t(host.planes);
                FAIL() << "size " << s << ", " << host.width << " x " << host.height << " x " << host.planes
                       << ": pixel (" << pixel % size_t(host.width) << ", " << pixel / size_t(host.width)
                       << ") plane " << i % size_t(host.planes) << " is " << int(host.picture[i]) << ", want "
                       << int(want[i]);
            }
    }
};

TEST_P(CellPicture, EveryPixelTakesItsNearestCentreOnOddAndTinyPictures)
{
    const int32_t shapes[][2] = {{1, 1}, {2, 1}, {1, 9}, {7, 5}, {37, 23}, {100, 100}};
    for (const auto& shape : shapes)
        for (int32_t s : {1, 2, 5, 10, 100}) {
            FakeHost host(shape[0], shape[1], 3);
            check_run(host, s);
            if (HasFatalFailure()) return;
        }
}

TEST_P(CellPicture, FourPlanePicturesKeepTheirAlpha)
{
    for (int32_t s : {1, 3, 8}) {
        FakeHost host(61, 29, 4);
        check_run(host, s);
        if (HasFatalFailure()) return;
    }
}

TEST_P(CellPicture, OnlySelectedPixelsInsideFilterRectChange)
{
    FakeHost host(90, 70, 3);
    host.select(Rect16{9, 13, 61, 80}, 255);
    // Holes and half-strength bytes inside the selection: a zero keeps the
    // host's pixel, any other value is processed in full.
    for (int32_t y = 9; y < 61; ++y)
        for (int32_t x = 13; x < 80; ++x) {
            unsigned char& m = host.selection[size_t(y) * 90 + size_t(x)];
            m = (x + y) % 5 == 0 ? 0 : (x % 3 == 0 ? 1 : 200);
        }
    check_run(host, 4);
}

// Bands that reach as far as the cells read give the picture of one band,
// whatever maxSpace a host offers: down to the least that holds one row with
// its reach, and in the proportions of a host offering 100,000,000 bytes for
// a 4000 x 3000 picture with transparency (two bands of 2497 and 503 rows).
TEST_P(CellPicture, EveryMaxSpaceGivesThePictureOfOneBand)
{
    struct Case {
        int32_t width, height, planes, size;
        int64_t max_space; // negative: in the proportions above
        bool select;
    };
    const Case cases[] = {
        // Half a row of the single-band divisor is (planes + 1) x (width + 4)
        // bytes; a band of h rows with reach r takes 2h + r of them.
        {53, 101, 3, 5, 21 * 4 * 57, false}, // 2s - 1 + 2s = 19 rows of reach: one row a band
        {53, 101, 3, 5, 25 * 4 * 57, false}, // three rows a band
        {53, 101, 3, 5, 59 * 4 * 57, false}, // 20 rows a band
        {120, 90, 4, 7, -1, false},
        {120, 90, 3, 7, -1, false},
        {47, 60, 4, 3, 25 * 5 * 51, true},
        {64, 130, 4, 1, 6 * 5 * 68, true},
        {90, 77, 3, 0, 3 * 4 * 94, false}, // size 0 reads its own pixel alone
    };
    for (const Case& c : cases) {
        FakeHost host(c.width, c.height, c.planes);
        if (c.select) host.select(Rect16{3, 2, int16(c.height - 5), int16(c.width - 7)});
        // 100,000,000 / 40,040 = 2497 of 3000 rows; as many here.
        const int64_t proportional =
            int64_t{100000000} * c.height / 3000 * (2 * c.planes + 2) * (c.width + 4) / 40040;
        host.record.maxSpace = static_cast<int32_t>(c.max_space < 0 ? proportional : c.max_space);
        check_run(host, c.size);
        if (HasFatalFailure()) return;
        EXPECT_GT(host.requested_band_tops().size(), 2u) << c.width << " x " << c.height; // more than one band
    }
}

// Without a declared reach, or when not even one row with it fits, the bands
// are planned as before: the warning, and cells clamped into their band.
TEST_P(CellPicture, BandsWithoutTheReachWarnAndClampIntoTheBand)
{
    {
        FakeHost host(53, 101, 3);
        plan_bands(host, 7);
        check_run(host, 10, 7); // 39 rows of reach do not fit beside one row
    }
    if (HasFatalFailure()) return;
    kernel_binding.reach = nullptr;
    for (int32_t rows : {1, 25}) {
        FakeHost host(53, 101, 3);
        plan_bands(host, rows);
        check_run(host, 5, rows);
        if (HasFatalFailure()) return;
        EXPECT_GT(host.requested_band_tops().size(), size_t(101 / rows)) << rows;
    }
    FakeHost host(47, 60, 4);
    host.select(Rect16{3, 2, 55, 40});
    plan_bands(host, 11);
    check_run(host, 3, 11);
}

TEST_P(CellPicture, SizeZeroLeavesThePictureAsItWas)
{
    FakeHost host(33, 21, 4);
    paint_positions(host);
    control_values[0] = 0;
    ASSERT_EQ(host.run(), noErr);
    EXPECT_EQ(host.picture, host.source);
}

TEST_P(CellPicture, AnyStoredSizeRunsToTheEnd)
{
    // Sizes no dialog lets through still give a complete run: every centre is
    // clamped into the band, nothing is read or written outside a buffer.
    for (int32_t s : {-1, -7, INT32_MIN, INT32_MAX, 1 << 20, 12345}) {
        FakeHost host(19, 13, 3);
        paint_positions(host);
        control_values[0] = s;
        EXPECT_EQ(host.run(), noErr) << s;
    }
}

// What the host sees besides the picture, and what the run leaves in the
// module, are those of the single walk: the host's calls in the same order
// with the same counts, the variables and the last pixel byte for byte.
TEST_P(CellPicture, HostCallsAndVariablesAreThoseOfTheSingleWalk)
{
    struct Outcome {
        std::vector<std::pair<int32_t, int32_t>> progress;
        int aborts, foreign;
        KernelVariables vars;
        int32_t row, column;
    };
    auto run = [&](int32_t threads) {
        set_threads(threads);
        FakeHost host(83, 67, 4);
        paint_positions(host);
        host.select(Rect16{5, 3, 67, 80});
        for (int32_t y = 5; y < 67; ++y) host.selection[size_t(y) * 83 + 79] = 0; // the last column of each row
        // Bands of 7 rows: the last rows of the band at 56 and the whole last band unselected.
        std::fill(host.selection.begin() + 60 * 83, host.selection.end(), 0);
        plan_bands(host, 13);
        control_values[0] = 3;
        const int32_t started = WorkerPool::started_threads();
        EXPECT_EQ(host.run(), noErr);
        EXPECT_EQ(band_plan.height, 7);
        EXPECT_EQ(WorkerPool::started_threads() - started, kernel_binding.bound[0].pixel_local ? threads - 1 : 0) << threads;
        return Outcome{host.progress, host.abort_calls, host.foreign_thread_calls, kernel_vars,
                       run_state.pixel_context.row, run_state.pixel_context.column};
    };
    if (GetParam() < 2) return;
    const Outcome single = run(1), spread = run(GetParam());
    EXPECT_EQ(spread.progress, single.progress);
    EXPECT_EQ(spread.aborts, single.aborts);
    EXPECT_EQ(spread.foreign, 0);
    EXPECT_EQ(std::memcmp(&spread.vars, &single.vars, sizeof(KernelVariables)), 0);
    EXPECT_EQ(spread.row, single.row);
    EXPECT_EQ(spread.column, single.column);
    // Not declared pixel-local, the same bound block stays on the host's thread.
    kernel_binding.bound[0].pixel_local = false;
    EXPECT_EQ(run(GetParam()).progress, single.progress);
    // Through the table, whose walk keeps the pixel context at every pixel,
    // the run ends on the same pixel: the last selected one.
    kernel_binding.bound[0] = BoundBlock{};
    const Outcome table = run(1);
    EXPECT_EQ(table.progress, single.progress);
    EXPECT_EQ(table.row, single.row);
    EXPECT_EQ(table.column, single.column);
    // And with the block's own variables of that pixel, though the bound walk
    // copies its rows' cells along runs.
    EXPECT_EQ(std::memcmp(&table.vars.v[slot::user_vars], &single.vars.v[slot::user_vars], 5 * sizeof(int32_t)), 0);
}

// A cancel during the third row of a band: -128 once the host asked, no host
// call after it, every thread joined, and the picture one thread leaves: the
// rows up to the cancelled one filtered, every later row as the host gave it,
// though the threads had walked ahead.
TEST_P(CellPicture, ACancelLeavesThePictureOfOneThread)
{
    FakeHost host(120, 90, 3);
    paint_positions(host);
    plan_bands(host, 40);
    host.abort_from_call = 3;
    control_values[0] = 2;
    EXPECT_EQ(host.run(), userCanceledErr);
    EXPECT_EQ(host.abort_calls, 3);
    EXPECT_EQ(host.progress.size(), 2u);
    EXPECT_EQ(WorkerPool::live_threads(), 0);
    EXPECT_EQ(host.foreign_thread_calls, 0);
    const std::vector<unsigned char> want = expected_picture(host, 2, host.height);
    const size_t cut = 3 * 120 * 3;
    for (size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(host.picture[i], i < cut ? want[i] : host.source[i]) << "row " << i / (120 * 3);
    EXPECT_EQ(host.requested_band_tops().back(), 0); // no later band was asked for
}

// Rows the threads walked ahead of a cancel get the host's bytes back, up to
// the band's last: whichever thread walks the first row holds it until every
// other row of the band is walked, and the host cancels at the first abort
// test, which comes after that row.
TEST_P(CellPicture, ACancelGivesBackEveryRowWalkedAhead)
{
    if (GetParam() < 2) return;
    std::atomic<bool> held{false};
    LatchCells::bind(false, [&](int32_t row) {
        if (row != 0) return;
        held = true;
        const WorkerPool& pool = *run_state.workers;
        wait_for([&] {
            for (int32_t i = 1; i < band_plan.height; ++i)
                if (!pool.row_finished(i)) return false;
            return true;
        });
    });
    FakeHost host(40, 30, 3);
    paint_positions(host);
    plan_bands(host, 5); // within the window of two threads
    host.abort_from_call = 1;
    EXPECT_EQ(host.run(), userCanceledErr);
    ASSERT_EQ(band_plan.height, 5);
    EXPECT_TRUE(held);
    for (int32_t y = 0; y < host.height; ++y)
        for (int32_t x = 0; x < host.width; ++x)
            ASSERT_EQ(host.picture[host.offset(y, x)], y == 0 ? 255 - host.source_at(y, x, 0) : host.source_at(y, x, 0))
                << "row " << y;
}

// With threads, a row's abort test and progress come only once its pixels
// are written: at every progress call, every row counted so far holds its
// cells. With two threads the first row a worker takes is held until the
// host's thread has begun a row two beyond it, so the host surely looks at
// the held row, unwritten, before it is done; with more, slow rows let the
// threads race.
TEST_P(CellPicture, ProgressComesAfterTheRowsPixels)
{
    if (GetParam() < 2) return;
    const std::thread::id host_thread = std::this_thread::get_id();
    std::atomic<int32_t> held_row{-1}, host_row{-1};
    bool host_held = false, host_waited = false;
    if (GetParam() == 2)
        LatchCells::bind(false, [&](int32_t row) {
            if (std::this_thread::get_id() == host_thread) {
                host_row = row;
                if (!host_held) host_held = true, host_waited = wait_for([&] { return held_row >= 0; });
                return;
            }
            int32_t none = -1;
            if (held_row.compare_exchange_strong(none, row)) wait_for([&] { return host_row >= row + 2; });
        });
    else
        LatchCells::bind(true);
    FakeHost host(64, 48, 3);
    paint_positions(host);
    int32_t checked = 0;
    host.on_progress = [&](FilterRecord& fr) {
        const int32_t rows = host.progress.back().first / host.width - fr.outRect.top;
        for (int32_t r = 0; r < rows; ++r)
            for (int32_t x = 0; x < host.width; ++x) {
                const unsigned char* p = static_cast<unsigned char*>(fr.outData) + r * fr.outRowBytes + x * 3;
                ASSERT_EQ(p[0], 255 - host.source_at(fr.outRect.top + r, x, 0)) << "row " << r << " reported unwritten";
            }
        ++checked;
    };
    ASSERT_EQ(host.run(), noErr);
    EXPECT_EQ(checked, host.height);
    EXPECT_GT(WorkerPool::started_threads(), 0);
    if (GetParam() == 2) EXPECT_TRUE(host_waited);
}

// A picture of one band is a band of exactly the planned height, and the
// threads share its rows: the host's thread holds its first row until
// another thread has walked one, which none does while the band stays with
// the host's thread alone.
TEST_P(CellPicture, TheThreadsShareABandOfThePlannedHeight)
{
    if (GetParam() < 2) return;
    const std::thread::id host_thread = std::this_thread::get_id();
    std::atomic<bool> helped{false};
    bool held = false;
    LatchCells::bind(false, [&](int32_t) {
        if (std::this_thread::get_id() != host_thread)
            helped = true;
        else if (!held)
            held = true, wait_for([&] { return helped.load(); });
    });
    FakeHost host(64, 48, 3);
    paint_positions(host);
    ASSERT_EQ(host.run(), noErr);
    EXPECT_EQ(band_plan.height, host.height);
    EXPECT_TRUE(helped) << "the host's thread walked every row";
}

// A band exactly the size of the threshold is spread; one pixel fewer is not.
// A block whose rows are copies starts threads only for a picture of
// copies_split_factor times that, unless a thread count is asked for.
TEST_P(CellPicture, ABandOfExactlyTheThresholdIsSpread)
{
    if (GetParam() < 2) return;
    const int32_t pixels = 64 * 25;
    struct Case {
        bool copies, asked;
        int32_t threshold;
    };
    for (const Case c : {Case{false, true, pixels}, Case{true, true, pixels},
                         Case{true, false, pixels / copies_split_factor}})
        for (int32_t more : {0, 1}) {
            kernel_binding.bound[0].copies_rows = c.copies;
            set_threads(c.asked ? GetParam() : 0);
            const int32_t threads = planned_worker_count();
            FakeHost host(64, 25, 3);
            paint_positions(host);
            run_state.split_min_pixels = c.threshold + more;
            const int32_t started = WorkerPool::started_threads();
            ASSERT_EQ(host.run(), noErr);
            EXPECT_EQ(WorkerPool::started_threads() - started, more ? 0 : threads - 1) << c.copies << c.asked << more;
        }
    set_threads(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Paths, CellPicture, ::testing::Values(0, 1, 2, 3, 7, 64),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return info.param ? "Bound" + std::to_string(info.param) + "Threads" : std::string("Table");
                         });

// Sixteen workers must leave a 32-bit host its address space: each reserves
// a small stack, which a worker reads from inside itself.
TEST(WorkerCount, EveryWorkerReservesASmallStack)
{
    struct Probe final : BandJob {
        size_t reserved[4] = {};
        void work(int32_t worker) override { reserved[worker] = current_stack_reservation(); }
    } probe;
    WorkerPool pool(4, 8, 16);
    ASSERT_EQ(pool.count(), 4);
    pool.run(probe);
    ASSERT_EQ(pool.count(), 4);
    size_t most = worker_stack_reserve;
#ifdef __SANITIZE_THREAD__
    most = 1024 * 1024; // ThreadSanitizer makes every new thread's stack at least about 900 KB
#endif
#ifdef _WIN32
    // Wine rounds every thread's reservation up to 1 MB; the program's own,
    // which a worker would take without asking for less, is 2 MB.
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) most = 1024 * 1024;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(GetModuleHandleA(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(dos) + dos->e_lfanew);
    ASSERT_GT(nt->OptionalHeader.SizeOfStackReserve, most);
#endif
    for (int32_t w = 1; w < 4; ++w) {
        EXPECT_GE(probe.reserved[w], 64u * 1024) << w;
        EXPECT_LE(probe.reserved[w], most) << w;
    }
}

TEST(WorkerCount, OnlyANumberFrom1To64OverridesTheProcessors)
{
    EXPECT_EQ(worker_count_from("1", 8), 1);
    EXPECT_EQ(worker_count_from("7", 2), 7);
    EXPECT_EQ(worker_count_from("64", 2), 64);
    for (const char* ignored : {"0", "65", "100000000000", "-2", " 2", "2 ", "2x", "0x10", "", "two"})
        EXPECT_EQ(worker_count_from(ignored, 6), 6) << ignored;
    EXPECT_EQ(worker_count_from(nullptr, 6), 6);
    EXPECT_EQ(worker_count_from(nullptr, 0), 1);
    EXPECT_EQ(worker_count_from(nullptr, 128), default_worker_cap);
}

} // namespace
