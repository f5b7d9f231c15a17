// The real Cellumbra.8bf in filterhost, as a host repeating the filter runs it:
// the cell size comes from the stored "SliderSettings", the start selector
// arrives without a parameters selector, and the dialog accepts at once. Every
// output byte is compared with a brute-force search of the nearest cell centre.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/cell_reference.h"
#include "win/support/band_warning.h"
#include "win/support/host_runner.h"
#include "win/support/pictures.h"
#include "win/support/stored_settings.h"

using namespace wintest;

namespace {

struct Area {
    int left, top, right, bottom; // right and bottom exclusive
};

// The picture the filter should give: inside `area`, planes 0-2 from the
// nearest centre clamped into the picture's columns and the rows of the
// pixel's band (band_rows: the picture's height when every band holds the
// rows its cells read); everything else, and the fourth plane, as it was.
TestPicture expected_cells(const TestPicture& in, int32_t s, int band_rows, Area area)
{
    TestPicture want = in;
    for (int y = area.top; y < area.bottom; ++y) {
        const int band_first = y / band_rows * band_rows;
        const int band_last = std::min(in.height, band_first + band_rows) - 1;
        for (int x = area.left; x < area.right; ++x) {
            const CellCentre c = nearest_centre(x, y, s);
            const unsigned char* from = in.at(std::clamp(c.x, 0, in.width - 1), std::clamp(c.y, band_first, band_last));
            std::copy(from, from + 3, want.at(x, y));
        }
    }
    return want;
}

struct CellsEndToEnd : ::testing::Test {
    std::string dir;
    RunResult last; // of the latest run

    void SetUp() override
    {
        dir = scratch_dir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    // Runs the plug-in on `in` with extra filterhost options; the size is
    // already stored. Returns the output read back with the input's planes.
    TestPicture run(const TestPicture& in, std::vector<std::string> options, const char* plugin = "Cellumbra.8bf",
                    int exit_code = 0)
    {
        const std::string input = dir + "\\in.png", output = dir + "\\out.png";
        EXPECT_TRUE(write_png(input, in));
        DeleteFileA(output.c_str());
        options.insert(options.begin(), "--quiet");
        if (in.planes == 4) options.push_back("--rgba");
        options.insert(options.end(), {in_build_dir(plugin), input, output});
        const RunResult r = last = run_filterhost(options);
        EXPECT_EQ(exit_code, r.exit_code) << r.out << r.err;
        TestPicture got;
        if (exit_code == 0) EXPECT_TRUE(read_picture(output, got, in.planes)) << output;
        return got;
    }

    TestPicture run_at_size(const TestPicture& in, int32_t size, std::vector<std::string> options = {})
    {
        // The control values as a host's earlier run of the filter left them.
        const int32_t values[16] = {size};
        store_value("SliderSettings", values, sizeof values);
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

// Bands that reach as far as the cells read give the cells of one band,
// with no warning, for 3 and 4 planes, with a selection too. Bands too small
// for one row and its reach warn and sample only what the band holds.
TEST_F(CellsEndToEnd, EveryBandPlanGivesTheCellsOfOneBand)
{
    for (int planes : {3, 4}) {
        const TestPicture in = make_coordinate_picture(64, 90, planes);
        // Rows of (2 * planes + 2) bytes a column: 16 of them leave 6 rows a
        // band beside the 19 rows of reach at size 5.
        const std::string max_space = std::to_string(16 * (2 * planes + 2) * (in.width + 4));
        EXPECT_TRUE(same_picture(run_at_size(in, 5, {"--max-space", max_space}),
                                 expected_cells(in, 5, in.height, whole(in))))
            << planes;
        EXPECT_EQ(0, answered_warnings(last.err));
        const Area selected{7, 12, 53, 80};
        EXPECT_TRUE(same_picture(run_at_size(in, 5, {"--max-space", max_space, "--select-rect", "7,12,53,80"}),
                                 expected_cells(in, 5, in.height, selected)))
            << planes;
        EXPECT_EQ(0, answered_warnings(last.err));
    }
    const TestPicture in = make_coordinate_picture(64, 90, 3);
    EXPECT_TRUE(same_picture(run_at_size(in, 5, {"--max-space", "100"}), expected_cells(in, 5, 1, whole(in))));
    EXPECT_EQ(1, answered_warnings(last.err));
}

// Hosts may hand out buffers above 2 GiB (a large-address-aware 32-bit host)
// or 4 GiB (a 64-bit one), where a pointer cut to 32 bits or compared as a
// signed number goes wrong. Bands and a selection put input, output and mask
// there; the host refuses to run if it could not place them that high.
TEST_F(CellsEndToEnd, BuffersAboveTheThirtyTwoBitSignedRangeGiveTheSameCells)
{
    const TestPicture in = make_coordinate_picture(64, 90, 3);
    const std::string max_space = std::to_string(16 * 8 * (in.width + 4));
    const Area selected{7, 12, 53, 80};
    EXPECT_TRUE(same_picture(
        run_at_size(in, 5, {"--high-buffers", "--max-space", max_space, "--select-rect", "7,12,53,80"}),
        expected_cells(in, 5, in.height, selected)));
    EXPECT_EQ(0, answered_warnings(last.err));
}

// The process's threads before the start selector, at most while it ran and
// after it, as a traced run of filterhost reports them.
struct Threads {
    int before = -1, during = -1, after = -1;
};
Threads threads_of(const RunResult& r)
{
    Threads t;
    const size_t at = r.out.find("threads before=");
    if (at != std::string::npos)
        std::sscanf(r.out.c_str() + at, "threads before=%d during=%d after=%d", &t.before, &t.during, &t.after);
    return t;
}

// The real run spread over 1, 2, 3 and 7 threads: the same cells on an odd
// size, in a band above the plug-in's smallest split band and one below it,
// with a selection and transparency, buffers above the 32-bit signed range;
// every host call on the host's thread (filterhost fails a run otherwise);
// the threads there while it ran, gone when it returned.
TEST_F(CellsEndToEnd, EveryThreadCountGivesTheSameCellsFromTheHostsThread)
{
    const TestPicture in = make_coordinate_picture(1041, 1031, 4);
    // Bands of 1010 rows beside the 27 rows of reach at size 7.
    const std::string max_space = std::to_string(1024 * 10 * (in.width + 4));
    const Area selected{3, 5, 1038, 1031};
    const TestPicture want = expected_cells(in, 7, in.height, selected);
    for (int threads : {1, 2, 3, 7}) {
        const ScopedEnv env("CELLUMBRA_THREADS", std::to_string(threads));
        const TestPicture got = run_at_size(
            in, 7, {"--trace", "--high-buffers", "--max-space", max_space, "--select-rect", "3,5,1038,1031"});
        EXPECT_TRUE(same_picture(got, want)) << threads << " threads";
        const Threads t = threads_of(last);
        EXPECT_EQ(t.during - t.before, threads - 1) << last.out;
        EXPECT_EQ(t.after, t.before) << last.out;
    }
}

TEST_F(CellsEndToEnd, ACancelWithWorkersEndsTheRunWithNothingLeftRunning)
{
    const TestPicture in = make_coordinate_picture(1041, 1031, 3);
    const ScopedEnv env("CELLUMBRA_THREADS", "3");
    const int32_t values[16] = {4};
    store_value("SliderSettings", values, sizeof values);
    run(in, {"--trace", "--cancel-after-progress", "150"}, "Cellumbra.8bf", 4);
    EXPECT_NE(last.err.find("userCanceledErr"), std::string::npos) << last.err;
    const Threads t = threads_of(last);
    EXPECT_EQ(t.during - t.before, 2) << last.out;
    EXPECT_EQ(t.after, t.before) << last.out;
}

// A bound block that is not declared pixel-local numbers the pixels through
// the cell array: in order, every one on the host's thread, with 7 threads
// allowed.
TEST_F(CellsEndToEnd, ABlockNotDeclaredPixelLocalRunsInPixelOrderOnTheHostsThread)
{
    const TestPicture in = make_coordinate_picture(1041, 1031, 3);
    const ScopedEnv env("CELLUMBRA_THREADS", "7");
    const TestPicture got = run(in, {"--trace"}, "CellumbraOrder.8bf");
    ASSERT_EQ(got.width, in.width);
    for (int n = 0; n < in.width * in.height; ++n) {
        const unsigned char* p = got.at(n % in.width, n / in.width);
        ASSERT_EQ(p[0] | p[1] << 8, n & 0xFFFF) << "pixel " << n;
        ASSERT_EQ(p[2], 0) << "pixel " << n;
    }
    const Threads t = threads_of(last);
    EXPECT_EQ(t.during, t.before) << last.out;
}

} // namespace
