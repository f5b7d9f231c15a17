// The pixel loop over whole runs: every band written where it should be and
// nowhere else, the selection mask, cancel and progress between rows, the
// preview's stop, and buffers that do not describe what the loop would touch.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/definition.h"
#include "runtime/host_calls.h"
#include "shell/band_plan.h"
#include "shell/shell.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"

namespace {

void copy_block(KernelVariables& v, const BuiltinTable&)
{
    for (int k = 0; k < 4; ++k) v.v[slot::out_red + k] = v.v[slot::in_red + k];
}

// Every plane changes, alpha included, so a pixel written twice or in the
// wrong place shows.
void invert_block(KernelVariables& v, const BuiltinTable&)
{
    for (int k = 0; k < 4; ++k) v.v[slot::out_red + k] = 255 - v.v[slot::in_red + k];
}

std::vector<std::pair<int32_t, int32_t>> visited; // (row, column)
void visit_block(KernelVariables&, const BuiltinTable&)
{
    visited.emplace_back(run_state.pixel_context.row, run_state.pixel_context.column);
}

struct Loop : ::testing::Test {
    ScopedModuleState state;
    void SetUp() override
    {
        fake_platform.reset();
        visited.clear();
        run_state.host_kind = HostKind::unknown;
        parameters_requested = 1;
        for (auto& b : kernel_blocks) b = nullptr;
    }
    static Rect16 rect(int top, int left, int bottom, int right)
    {
        return Rect16{int16(top), int16(left), int16(bottom), int16(right)};
    }
    // Inside `area` every plane up to the fourth inverted; everything else as the host had it.
    static void expect_inverted_in(const FakeHost& host, Rect16 area)
    {
        for (int32_t r = 0; r < host.height; ++r)
            for (int32_t c = 0; c < host.width; ++c)
                for (int32_t z = 0; z < host.planes; ++z) {
                    const bool inside = r >= area.top && r < area.bottom && c >= area.left && c < area.right;
                    const int expected = inside && z < 4 ? 255 - host.source_at(r, c, z) : host.source_at(r, c, z);
                    ASSERT_EQ(host.picture_at(r, c, z), expected) << "row " << r << " column " << c << " plane " << z;
                }
    }
};

TEST_F(Loop, ACopyReproducesThePictureForEveryBandPlanAndPlaneCount)
{
    kernel_blocks[0] = copy_block;
    for (int32_t planes : {3, 4, 5}) {
        for (int32_t rows : {1, 7, 64, 200}) {
            FakeHost host(37, 64, planes);
            host.record.maxSpace = (2 * planes + 2) * (37 + 4) * rows;
            // The host's output starts out different from its source, so every
            // byte the copy should write is seen written.
            for (auto& b : host.picture) b = static_cast<unsigned char>(~b);
            ASSERT_EQ(host.run(), noErr);
            ASSERT_EQ(band_plan.height, rows < 64 ? rows : 64);
            for (int32_t r = 0; r < 64; ++r)
                for (int32_t c = 0; c < 37; ++c)
                    for (int32_t z = 0; z < planes; ++z) {
                        const int expected = z < 4 ? host.source_at(r, c, z) : static_cast<unsigned char>(~host.source_at(r, c, z));
                        ASSERT_EQ(host.picture_at(r, c, z), expected) << planes << " planes, " << rows << " rows";
                    }
        }
    }
}

TEST_F(Loop, MaskedOutPixelsKeepTheHostsBytesAndStillCount)
{
    kernel_blocks[0] = invert_block;
    FakeHost host(30, 40, 4);
    host.record.maxSpace = 10 * 34 * 16; // 16-row bands
    host.select(rect(5, 3, 35, 20));
    // Holes in the selection: every third pixel of it has mask 0, others partial values.
    for (int32_t r = 5; r < 35; ++r)
        for (int32_t c = 3; c < 20; ++c) host.selection[size_t(r) * 30 + size_t(c)] = (r + c) % 3 == 0 ? 0 : 1 + (r * c) % 255;
    ASSERT_EQ(host.run(), noErr);
    for (int32_t r = 0; r < 40; ++r)
        for (int32_t c = 0; c < 30; ++c) {
            const bool selected = r >= 5 && r < 35 && c >= 3 && c < 20 && (r + c) % 3 != 0;
            for (int32_t z = 0; z < 4; ++z)
                ASSERT_EQ(host.picture_at(r, c, z), selected ? 255 - host.source_at(r, c, z) : host.source_at(r, c, z))
                    << r << " " << c;
        }
    EXPECT_EQ(run_state.pixels_done, 30 * 17);
    ASSERT_FALSE(host.progress.empty());
    EXPECT_EQ(host.progress.back().first, 30 * 17);
    EXPECT_LT(host.progress.back().first, host.progress.back().second);
}

TEST_F(Loop, WithoutMaskDataEveryPixelIsProcessedAndTheMaskReads255)
{
    static std::vector<int32_t> masks;
    masks.clear();
    filter_definition.variable_use_flags[Main][slot::mask] = 1;
    kernel_blocks[0] = [](KernelVariables& v, const BuiltinTable&) { masks.push_back(v.v[slot::mask]); };
    FakeHost host(6, 4, 3);
    host.record.filterRect = rect(1, 1, 3, 5);
    ASSERT_EQ(host.run(), noErr);
    EXPECT_EQ(masks, std::vector<int32_t>(8, 255));
}

TEST_F(Loop, ProgressOncePerRowAndPixelsVisitedInOrder)
{
    kernel_blocks[0] = visit_block;
    FakeHost host(5, 7, 3);
    host.record.maxSpace = 8 * 9 * 3; // 3-row bands
    ASSERT_EQ(host.run(), noErr);
    ASSERT_EQ(host.progress.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(host.progress[i].first, 5 * int32_t(i + 1));
        EXPECT_EQ(host.progress[i].second, 35);
    }
    EXPECT_EQ(host.abort_calls, 7);
    ASSERT_EQ(visited.size(), 35u);
    for (size_t i = 0; i < 35; ++i) EXPECT_EQ(visited[i], std::make_pair(int32_t(i / 5), int32_t(i % 5)));
}

TEST_F(Loop, AHostWithoutAbortOrProgressGetsNeither)
{
    kernel_blocks[0] = invert_block;
    FakeHost host(5, 7, 3);
    host.record.abortProc = nullptr;
    host.record.progressProc = nullptr;
    ASSERT_EQ(host.run(), noErr);
    expect_inverted_in(host, rect(0, 0, 7, 5));
}

TEST_F(Loop, CancelAfterTheThirdRowOfABandLeavesTheLaterRowsAlone)
{
    kernel_blocks[0] = invert_block;
    FakeHost host(8, 30, 3);
    host.record.maxSpace = 8 * 12 * 10; // bands at rows 0, 10, 20
    host.abort_from_call = 13;          // the third row of the band at row 10
    EXPECT_EQ(host.run(), userCanceledErr);
    EXPECT_EQ(host.abort_calls, 13);
    EXPECT_EQ(host.progress.size(), 12u) << "no progress for the cancelled row";
    EXPECT_EQ(host.requested_band_tops(), (std::vector<int32_t>{0, 0, 10})) << "no later band asked for";
    expect_inverted_in(host, rect(0, 0, 13, 8));
    // The rectangles still describe the band that was running.
    EXPECT_EQ(host.record.outRect.top, 10);
    EXPECT_EQ(band_plan.top, 10);
}

TEST_F(Loop, CancelInThePrepassStartsNoMainPass)
{
    kernel_blocks[0] = invert_block;
    kernel_blocks[1] = visit_block;
    FakeHost host(8, 30, 3);
    host.abort_from_call = 2;
    EXPECT_EQ(host.run(), userCanceledErr);
    EXPECT_EQ(visited.size(), 16u);
    EXPECT_EQ(host.picture, host.source);
    EXPECT_EQ(host.requests.size(), 1u);
}

// ------------------------------------------------ filter_band on its own

struct Band : Loop {
    std::unique_ptr<FakeHost> host;
    void deliver(int32_t width, int32_t height, int32_t planes, Rect16 out)
    {
        host.reset(new FakeHost(width, height, planes));
        run_state.filter_record = &host->record;
        FilterRecord& r = host->record;
        r.inRect = rect(0, 0, height, width);
        r.outRect = r.maskRect = out;
        r.inLoPlane = r.outLoPlane = 0;
        r.inHiPlane = r.outHiPlane = int16(planes - 1);
        ASSERT_EQ(host->deliver(), noErr);
        run_state.pixel_context.image_width = width;
        run_state.pixel_context.image_height = height;
        run_state.pixel_context.pixel_stride = planes;
        run_state.pixels_done = 0;
    }
};

TEST_F(Band, ThePreviewStopEndsTheBandAfterTheCurrentPixel)
{
    static int count;
    count = 0;
    kernel_blocks[0] = [](KernelVariables& v, const BuiltinTable&) {
        v.v[slot::out_red] = 0;
        if (++count == 5) run_state.mode = RunMode::rendering_stopped;
    };
    deliver(4, 4, 3, rect(0, 0, 4, 4));
    begin_rendering(1000);
    EXPECT_EQ(filter_band(false, Main), noErr);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(run_state.pixels_done, 5);
    EXPECT_TRUE(host->progress.empty());
    EXPECT_EQ(host->abort_calls, 0) << "the preview asks the host nothing";
    host->take_back_output();
    EXPECT_EQ(host->picture_at(1, 0, 0), 0) << "the fifth pixel was stored";
    EXPECT_EQ(host->picture_at(1, 1, 0), host->source_at(1, 1, 0));
}

TEST_F(Band, AStaleMaskPointerBesideAnEmptyMaskRectIsNoMask)
{
    kernel_blocks[0] = visit_block;
    deliver(6, 3, 3, rect(0, 0, 3, 6));
    static unsigned char stale[1] = {0};
    host->record.maskData = stale;
    host->record.maskRowBytes = 1;
    host->record.maskRect = rect(0, 0, 0, 0);
    EXPECT_EQ(filter_band(false, Main), noErr);
    EXPECT_EQ(visited.size(), 18u);
}

TEST_F(Band, BuffersThatCannotHoldTheAreaAreNeverTouched)
{
    kernel_blocks[0] = visit_block;
    struct Case {
        const char* what;
        void (*spoil)(FilterRecord&);
    };
    const Case cases[] = {
        {"outRect beyond inRect", [](FilterRecord& r) { r.outRect.bottom = r.inRect.bottom + 1; }},
        {"mask shorter than outRect", [](FilterRecord& r) { r.maskRect.bottom -= 1; }},
        {"mask rows too short", [](FilterRecord& r) { r.maskRowBytes = 2; }},
        {"no input", [](FilterRecord& r) { r.inData = nullptr; }},
        {"input rows too short", [](FilterRecord& r) { r.inRowBytes = 17; }},
        {"output rows too short", [](FilterRecord& r) { r.outRowBytes = 17; }},
        {"plane ranges narrower than a pixel", [](FilterRecord& r) { r.inHiPlane = r.outHiPlane = 1; }},
    };
    for (const Case& c : cases) {
        deliver(6, 3, 3, rect(0, 0, 3, 6));
        host->select(rect(0, 0, 3, 6));
        host->record.maskRect = rect(0, 0, 3, 6);
        ASSERT_EQ(host->deliver(), noErr);
        c.spoil(host->record);
        EXPECT_EQ(filter_band(true, Main), filterBadParameters) << c.what;
        EXPECT_TRUE(visited.empty()) << c.what;
        EXPECT_EQ(run_state.pixels_done, 0) << c.what;
        EXPECT_TRUE(host->progress.empty()) << c.what;
    }
    deliver(6, 3, 3, rect(0, 0, 3, 6));
    run_state.pixel_context.pixel_stride = 0;
    EXPECT_EQ(filter_band(true, Main), filterBadParameters) << "a stride of 0";
    run_state.filter_record = nullptr;
    EXPECT_EQ(filter_band(true, Main), filterBadParameters) << "no record";
    EXPECT_TRUE(visited.empty());
}

TEST_F(Band, AnEmptyOutRectVisitsNothingAndAsksNothing)
{
    kernel_blocks[0] = visit_block;
    deliver(6, 3, 3, rect(2, 0, 2, 6));
    host->record.outData = nullptr; // nothing to deliver for an empty area
    EXPECT_EQ(filter_band(true, Main), noErr);
    EXPECT_TRUE(visited.empty());
    EXPECT_EQ(host->abort_calls, 0);
}

TEST_F(Band, AnEmptyPassStillWalksAndCounts)
{
    deliver(6, 3, 3, rect(0, 0, 3, 6));
    EXPECT_EQ(filter_band(true, Prepass), noErr);
    EXPECT_EQ(run_state.current_pass, Prepass);
    EXPECT_EQ(run_state.pixels_done, 18);
    EXPECT_EQ(host->progress.size(), 3u);
    EXPECT_EQ(run_state.pixel_context.row, 2);
    EXPECT_EQ(run_state.pixel_context.column, 5);
}

} // namespace
