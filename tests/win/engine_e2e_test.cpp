// The run engine inside the real 32-bit plug-in, driven by filterhost under
// Wine: CellumbraCopy.8bf hands every pixel through the kernel variables
// (copied, or inverted while slider 2 is set), so the output shows which
// pixels were visited and that every byte went back where it came from,
// whatever the band plan, selection or plane count. The band warning is a
// real message box, which filterhost answers and reports itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "win/support/band_warning.h"
#include "win/support/host_runner.h"
#include "win/support/pictures.h"

using namespace wintest;

namespace {

struct Outcome {
    RunResult host;
    int warnings = 0;
    std::string warning_text;
    TestPicture picture; // empty when the host wrote none
    std::vector<std::string> requests; // "advanceState" lines of the trace that ask for a band
    std::string last_request;          // the last "advanceState" line of all
    std::string summary;
};

// Bytes of maxSpace that give bands of `rows` rows.
std::string max_space_for(int rows, const TestPicture& in)
{
    return std::to_string(rows * (2 * in.planes + 2) * (in.width + 4));
}

struct EngineEndToEnd : ::testing::Test {
    std::string dir;

    void SetUp() override
    {
        dir = scratch_dir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    // One start selector of CellumbraCopy.8bf on `in`, traced.
    Outcome run(const TestPicture& in, bool invert, std::vector<std::string> options)
    {
        const std::string input = dir + "\\in.png", output = dir + "\\out.png";
        EXPECT_TRUE(write_png(input, in));
        DeleteFileA(output.c_str());
        options.insert(options.begin(), {"--quiet", "--trace", "--set-slider", invert ? "2=1" : "2=0"});
        if (in.planes == 4) options.push_back("--rgba");
        if (in.planes == 1) options.push_back("--gray");
        options.insert(options.end(), {in_build_dir("CellumbraCopy.8bf"), input, output});
        Outcome o;
        o.host = run_filterhost(options);
        o.warnings = answered_warnings(o.host.err, &o.warning_text);
        if (file_exists(output)) read_picture(output, o.picture, in.planes);
        std::istringstream lines(o.host.out);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("advanceState ", 0) == 0) {
                o.last_request = line;
                // Requests for bands; the dialog's hand-back asks for nothing.
                if (line.find(" in=0,0,0,0 ") == std::string::npos) o.requests.push_back(line);
            }
            if (line.rfind("summary ", 0) == 0) o.summary = line;
        }
        return o;
    }
};

// The top row of the inRect asked for in a traced request ("in=T,L,B,R").
int requested_in_top(const std::string& request)
{
    int top = -1, left, bottom, right;
    const size_t at = request.find(" in=");
    if (at != std::string::npos) std::sscanf(request.c_str() + at, " in=%d,%d,%d,%d", &top, &left, &bottom, &right);
    return top;
}

TEST_F(EngineEndToEnd, CopiesReproduceThePictureForEveryBandPlanSelectionAndPlaneCount)
{
    struct Case {
        int planes, rows;
        const char* selection; // --select-rect, or null
        int selected_pixels;
    };
    const Case cases[] = {
        {3, 90, nullptr, 64 * 90}, {3, 16, nullptr, 64 * 90},        {3, 0, "5,3,60,88", 55 * 85},
        {4, 7, nullptr, 64 * 90},  {4, 16, "5,3,60,88", 55 * 85},   {4, 90, "0,40,64,41", 64},
    };
    for (const Case& c : cases) {
        const TestPicture in = make_coordinate_picture(64, 90, c.planes);
        // Rows 0 stands for a maxSpace too small for one row: one row per band.
        std::vector<std::string> options = {"--max-space", c.rows ? max_space_for(c.rows, in) : "100"};
        if (c.selection) options.insert(options.end(), {"--select-rect", c.selection});
        const Outcome o = run(in, false, options);
        const std::string what = std::to_string(c.planes) + " planes, " + std::to_string(c.rows) + " rows" +
                                 (c.selection ? std::string(", selection ") + c.selection : std::string());
        ASSERT_EQ(o.host.exit_code, 0) << what << "\n" << o.host.err;
        EXPECT_TRUE(same_picture(o.picture, in)) << what;
        EXPECT_EQ(o.warnings, c.rows == 90 ? 0 : 1) << what;
        const int total = 64 * 90;
        EXPECT_NE(o.summary.find(" last=" + std::to_string(c.selected_pixels) + "/" + std::to_string(total) + " "),
                  std::string::npos)
            << what << ": " << o.summary;
        const int bands = c.rows ? (90 + c.rows - 1) / c.rows : 90;
        EXPECT_EQ(int(o.requests.size()), bands + 1) << what << ": the first band twice, then one request per band";
    }
}

TEST_F(EngineEndToEnd, InvertingShowsEveryWrittenPixelAndNoOther)
{
    const TestPicture in = make_coordinate_picture(64, 90, 4);
    for (const char* kind : {"--select-rect", "--select-ellipse"}) {
        const Outcome o = run(in, true, {"--max-space", max_space_for(16, in), kind, "6,9,58,81"});
        ASSERT_EQ(o.host.exit_code, 0) << kind << "\n" << o.host.err;
        ASSERT_EQ(o.picture.planes, 4) << kind;
        int inverted = 0;
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 64; ++x) {
                const unsigned char* a = in.at(x, y);
                const unsigned char* b = o.picture.at(x, y);
                const bool changed = b[0] != a[0];
                const bool in_box = x >= 6 && x < 58 && y >= 9 && y < 81;
                ASSERT_TRUE(!changed || in_box) << kind << " wrote outside the selection at " << x << "," << y;
                for (int z = 0; z < 3; ++z)
                    ASSERT_EQ(b[z], changed ? 255 - a[z] : a[z]) << kind << " at " << x << "," << y << " plane " << z;
                ASSERT_EQ(b[3], a[3]) << kind << " alpha at " << x << "," << y;
                inverted += changed;
            }
        if (std::string(kind) == "--select-rect") {
            EXPECT_EQ(inverted, 52 * 72);
        } else {
            // The ellipse's mask: its middle inverted, the corners of its box kept.
            EXPECT_GT(inverted, 52 * 72 / 2);
            EXPECT_LT(inverted, 52 * 72);
            EXPECT_NE(o.picture.at(32, 45)[0], in.at(32, 45)[0]);
            EXPECT_EQ(o.picture.at(6, 9)[0], in.at(6, 9)[0]);
            EXPECT_EQ(o.picture.at(57, 80)[0], in.at(57, 80)[0]);
        }
    }
}

TEST_F(EngineEndToEnd, TheBandWarningIsAMessageBoxTheUserAnswers)
{
    const TestPicture in = make_coordinate_picture(40, 30, 3);
    const Outcome o = run(in, true, {"--max-space", max_space_for(10, in)});
    ASSERT_EQ(o.host.exit_code, 0) << o.host.err;
    EXPECT_EQ(o.warnings, 1);
    EXPECT_EQ(o.warning_text.rfind("The picture is too big to be processed in one pass!", 0), 0u) << o.warning_text;
    // After OK the run went on over all three bands.
    ASSERT_EQ(o.requests.size(), 4u);
    EXPECT_EQ(requested_in_top(o.requests[3]), 20);
    EXPECT_EQ(o.picture.at(39, 29)[1], 255 - in.at(39, 29)[1]);
}

TEST_F(EngineEndToEnd, GrayscaleReachesTheWarningThenEndsWithBadMode)
{
    const TestPicture in = make_coordinate_picture(40, 30, 1);
    const Outcome o = run(in, true, {"--max-space", max_space_for(10, in)});
    EXPECT_EQ(o.host.exit_code, 3) << o.host.err;
    EXPECT_NE(o.host.err.find("-30101"), std::string::npos) << o.host.err;
    EXPECT_EQ(o.warnings, 1);
    EXPECT_TRUE(o.requests.empty()) << "nothing asked of the host";
}

TEST_F(EngineEndToEnd, CancelEndsWithUserCanceledAndAsksForNoLaterBand)
{
    const TestPicture in = make_coordinate_picture(40, 50, 3);
    // Bands of 10 rows; the abort test after the third row of the band at row 10.
    const Outcome o = run(in, true, {"--max-space", max_space_for(10, in), "--cancel-after-progress", "13"});
    EXPECT_EQ(o.host.exit_code, 4) << o.host.err;
    EXPECT_NE(o.host.err.find("userCanceledErr"), std::string::npos) << o.host.err;
    ASSERT_EQ(o.requests.size(), 3u);
    EXPECT_EQ(requested_in_top(o.requests[0]), 0);
    EXPECT_EQ(requested_in_top(o.requests[1]), 0);
    EXPECT_EQ(requested_in_top(o.requests[2]), 10);
}

TEST_F(EngineEndToEnd, HostFailuresEndTheRunWithAnErrorNeverWithSuccess)
{
    const TestPicture in = make_coordinate_picture(40, 50, 3);
    {
        // The band at row 20 cannot be delivered (the dialog's hand-back is the first call).
        const Outcome o = run(in, true, {"--max-space", max_space_for(10, in), "--fail-advance", "5"});
        EXPECT_EQ(o.host.exit_code, 3) << o.host.err;
        EXPECT_NE(o.host.err.find("-108"), std::string::npos) << o.host.err;
        ASSERT_EQ(o.requests.size(), 4u);
        EXPECT_EQ(requested_in_top(o.requests[3]), 20);
        EXPECT_NE(o.last_request.find("result=-108"), std::string::npos) << "no request after the failed one";
        EXPECT_TRUE(o.picture.pixels.empty());
    }
    {
        const Outcome o = run(in, true, {"--omit", "advanceState"});
        EXPECT_EQ(o.host.exit_code, 3) << o.host.err;
        EXPECT_NE(o.host.err.find("-30100"), std::string::npos) << o.host.err;
    }
}

} // namespace
