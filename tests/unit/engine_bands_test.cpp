// The first half of a run and the host requests: band plan, warning, mode
// test, rectangles, rates, pass order, and what the run does when the host
// fails, lies about what it delivered or describes a picture that cannot be.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "base/rect.h"
#include "runtime/definition.h"
#include "runtime/builtins.h"
#include "runtime/host_calls.h"
#include "shell/band_plan.h"
#include "shell/shell.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"

namespace {

struct Event {
    KernelPass pass;
    int32_t column, row;
};
std::vector<Event> events;

void record_block(KernelVariables&, const BuiltinTable&)
{
    events.push_back({run_state.current_pass, run_state.pixel_context.column, run_state.pixel_context.row});
}

void invert_block(KernelVariables& v, const BuiltinTable&)
{
    v.v[slot::out_red] = 255 - v.v[slot::in_red];
    v.v[slot::out_green] = 255 - v.v[slot::in_green];
    v.v[slot::out_blue] = 255 - v.v[slot::in_blue];
}

const char* const warning_text = "The picture is too big to be processed in one pass!\n";
const char* const warning_caption = "The functions src and dr,dg,db could possibly not work as desired!";

struct EngineRun : ::testing::Test {
    ScopedModuleState state;
    void SetUp() override
    {
        fake_platform.reset();
        events.clear();
        run_state.host_kind = HostKind::unknown;
        parameters_requested = 1;
        kernel_blocks[0] = record_block; // Main
        kernel_blocks[1] = nullptr;
        kernel_blocks[2] = nullptr;
        kernel_blocks[3] = nullptr;
    }
    size_t warnings() const
    {
        size_t n = 0;
        for (const auto& box : fake_platform.boxes) n += box.caption == warning_caption;
        return n;
    }
    int count(KernelPass pass) const
    {
        int n = 0;
        for (const Event& e : events) n += e.pass == pass;
        return n;
    }
};

Rect16 rect(int top, int left, int bottom, int right)
{
    return Rect16{int16(top), int16(left), int16(bottom), int16(right)};
}


// ---------------------------------------------------------------- band plan

TEST(BandPlan, RowsFollowMaxSpaceAndPlanes)
{
    EXPECT_EQ(plan_band_height(1000000, 3, 1000, 5000), 124); // 1,000,000 / (8 x 1004)
    EXPECT_EQ(plan_band_height(1000000, 4, 1000, 5000), 99);  // 1,000,000 / (10 x 1004)
    EXPECT_EQ(plan_band_height(1000000, 3, 1000, 80), 80);    // the whole picture fits
    // A very wide picture with many planes: the divisor exceeds 32 bits.
    EXPECT_EQ(plan_band_height(INT_MAX, 32767, 32767, 100), 1);
}

TEST(BandPlan, BandsReachAsFarAsTheKernelReadsWhenARowFits)
{
    auto same = [](BandShape a, BandShape b) {
        return a.height == b.height && a.in_above == b.in_above && a.in_below == b.in_below && a.whole == b.whole;
    };
    const KernelReach none{0, 0, 0, 0}, cells{39, 40, 43, 43}, beyond{-3, 900, 0, 0};
    // (1,000,000 / (4 x 1004) - 79) / 2 rows; no reach plans what it always did.
    EXPECT_TRUE(same(plan_bands(1000000, 3, 1000, 5000, &cells), BandShape{85, 39, 40, true}));
    EXPECT_TRUE(same(plan_bands(1000000, 3, 1000, 5000, &none), BandShape{124, 0, 0, true}));
    EXPECT_TRUE(same(plan_bands(1000000, 3, 1000, 124, &cells), BandShape{124, 0, 0, true})); // one band
    // A declaration outside the picture counts what the picture has.
    EXPECT_TRUE(same(plan_bands(1000000, 3, 1000, 500, &beyond), BandShape{124, 0, 0, false}));
    // Not one row beside its reach, or nothing declared: bands as before.
    EXPECT_TRUE(same(plan_bands(80 * 4 * 1004, 3, 1000, 5000, &cells), BandShape{40, 0, 0, false}));
    EXPECT_TRUE(same(plan_bands(81 * 4 * 1004, 3, 1000, 5000, &cells), BandShape{1, 39, 40, true}));
    EXPECT_TRUE(same(plan_bands(1000000, 3, 1000, 5000, nullptr), BandShape{124, 0, 0, false}));
    EXPECT_TRUE(same(plan_bands(INT32_MIN, 3, 1000, 5000, &cells), BandShape{1, 0, 0, false}));
}

TEST(BandPlan, MaxSpaceBelowOneRowGivesOneRowPerBand)
{
    EXPECT_EQ(plan_band_height(8031, 3, 1000, 50), 1); // one byte short of a row
    EXPECT_EQ(plan_band_height(0, 3, 1000, 50), 1);
    EXPECT_EQ(plan_band_height(-5, 3, 1000, 50), 1);
}

TEST_F(EngineRun, WarningOnlyWhenThePictureNeedsMoreThanOneBand)
{
    {
        FakeHost host(1000, 124, 3);
        host.record.maxSpace = 1000000;
        EXPECT_EQ(host.run(), noErr);
        EXPECT_EQ(warnings(), 0u);
        EXPECT_EQ(band_plan.height, 124);
    }
    FakeHost host(1000, 125, 3);
    host.record.maxSpace = 1000000;
    EXPECT_EQ(host.run(), noErr);
    ASSERT_EQ(warnings(), 1u);
    const auto& box = fake_platform.boxes.back();
    EXPECT_EQ(box.text, warning_text);
    EXPECT_EQ(box.owner, 0x1234); // the host window, first field of platformData
    EXPECT_EQ(box.style, 0x30u);  // exclamation, OK
    EXPECT_EQ(band_plan.height, 124);
}

TEST_F(EngineRun, WarningWithoutPlatformDataHasNoOwnerAndFollowsTheDialog)
{
    FakeHost host(40, 30, 4);
    host.record.maxSpace = 10 * 44 * 10; // ten rows of four planes
    host.record.platformData = nullptr;
    fake_platform.on_dialog = [] {
        EXPECT_TRUE(fake_platform.boxes.empty()); // the warning comes after the dialog
        return 1;
    };
    EXPECT_EQ(host.run(), noErr);
    ASSERT_EQ(fake_platform.dialog_calls.size(), 1u);
    EXPECT_EQ(fake_platform.dialog_calls[0].parent, 0);
    ASSERT_EQ(warnings(), 1u);
    EXPECT_EQ(fake_platform.boxes[0].owner, 0);
    EXPECT_EQ(band_plan.height, 10);
    EXPECT_EQ(host.requested_band_tops(), (std::vector<int32_t>{0, 0, 10, 20}));
}

TEST_F(EngineRun, TheDialogFindsThePictureDescribedAndTheGeneratorSeeded)
{
    FakeHost host(640, 480, 4);
    fake_platform.calendar_seconds = 1.0e9 + 0.5; // rounds up
    run_state.pixel_context.in_ptr = host.source.data();     // left over from an earlier run
    run_state.pixel_context.column = 99;
    fake_platform.on_dialog = [] {
        const PixelContext& pc = run_state.pixel_context;
        EXPECT_EQ(fake_platform.ensure_key_calls, 1);
        EXPECT_EQ(pc.in_ptr, nullptr);
        EXPECT_EQ(pc.column, 0);
        EXPECT_EQ(pc.image_width, 640);
        EXPECT_EQ(pc.image_height, 480);
        EXPECT_EQ(pc.image_planes, 4);
        EXPECT_EQ(pc.pixel_stride, 4);
        EXPECT_EQ(pc.half_diagonal, 400);
        EXPECT_EQ(pc.back_colour[0], 10);
        EXPECT_EQ(pc.back_colour[2], 30);
        EXPECT_EQ(pc.fore_colour[1], 210);
        EXPECT_EQ(run_state.zoom_factor, 32);
        EXPECT_EQ(run_state.max_zoom_factor, 32);
        // The first draw of a generator seeded with 1,000,000,001 seconds.
        const uint32_t state = 1000000001u * 1103515245u + 12345u;
        EXPECT_EQ(random_between(0, 32767), int32_t((state >> 16) & 0x7FFF));
        return 1;
    };
    EXPECT_EQ(host.run(), noErr);
    EXPECT_EQ(run_state.zoom_factor, 1);
}

TEST_F(EngineRun, TinyMaxSpaceRunsOneRowPerBandToTheEnd)
{
    FakeHost host(20, 5, 3);
    host.record.maxSpace = 10;
    kernel_blocks[0] = invert_block;
    EXPECT_EQ(host.run(), noErr);
    EXPECT_EQ(band_plan.height, 1);
    EXPECT_EQ(warnings(), 1u);
    EXPECT_EQ(host.requested_band_tops(), (std::vector<int32_t>{0, 0, 1, 2, 3, 4}));
    for (int32_t r = 0; r < 5; ++r)
        for (int32_t c = 0; c < 20; ++c) ASSERT_EQ(host.picture_at(r, c, 1), 255 - host.source_at(r, c, 1));
}

// --------------------------------------------------------- requests and rates

TEST_F(EngineRun, SelectionCrossingBandsGivesEmptyAndCutOutRects)
{
    FakeHost host(1000, 300, 3);
    host.record.maxSpace = 1000000; // 124-row bands
    host.select(rect(200, 100, 300, 900));
    EXPECT_EQ(host.run(), noErr);
    ASSERT_EQ(host.requests.size(), 4u); // band 0 twice, then 124 and 248
    const auto& first = host.requests[0];
    EXPECT_TRUE(same_rect(first.in, rect(0, 0, 124, 1000)));
    EXPECT_EQ(first.out.top, 200);
    EXPECT_EQ(first.out.bottom, 200);
    EXPECT_TRUE(is_empty(first.out));
    EXPECT_TRUE(same_rect(first.mask, first.out));
    const auto& second = host.requests[2];
    EXPECT_TRUE(same_rect(second.in, rect(124, 0, 248, 1000)));
    EXPECT_TRUE(same_rect(second.out, rect(200, 100, 248, 900)));
    EXPECT_TRUE(same_rect(second.mask, second.out));
    EXPECT_TRUE(same_rect(host.requests[3].out, rect(248, 100, 300, 900)));
    for (const auto& r : host.requests) {
        EXPECT_EQ(r.in_lo, 0);
        EXPECT_EQ(r.in_hi, 2);
        EXPECT_EQ(r.out_lo, 0);
        EXPECT_EQ(r.out_hi, 2);
    }
    // Only the pixels of the selection were visited.
    EXPECT_EQ(int(events.size()), 100 * 800);
    EXPECT_EQ(run_state.pixels_done, 100 * 800);
    EXPECT_EQ(run_state.pixels_total, 300 * 1000);
    EXPECT_TRUE(is_empty(host.record.inRect) && is_empty(host.record.outRect) && is_empty(host.record.maskRect));
    EXPECT_EQ(host.record.inRect.top | host.record.inRect.left | host.record.inRect.bottom | host.record.inRect.right, 0);
}

TEST_F(EngineRun, RatesAreOneExceptOneUnitMoreOnTheSecondHost)
{
    {
        FakeHost host(10, 10, 3);
        EXPECT_EQ(host.run(), noErr);
        for (const auto& r : host.requests) {
            EXPECT_EQ(r.input_rate, 65536);
            EXPECT_EQ(r.mask_rate, 65536);
        }
    }
    fake_platform.executable_path = "C:\\Apps\\PHOTOPNT.EXE";
    FakeHost host(10, 10, 3);
    EXPECT_EQ(host.run(), noErr);
    EXPECT_EQ(run_state.host_kind, HostKind::photopnt);
    ASSERT_FALSE(host.requests.empty());
    for (const auto& r : host.requests) {
        EXPECT_EQ(r.input_rate, 65537);
        EXPECT_EQ(r.mask_rate, 65537);
    }
    run_state.zoom_factor = 32; // as in the preview
    call_advance_state();
    EXPECT_EQ(host.requests.back().input_rate, 32 * 65537);
}

TEST_F(EngineRun, WithoutPrepassStartAndInterpassRunOnceAndTheFirstBandIsAskedTwice)
{
    kernel_blocks[2] = record_block; // Start
    kernel_blocks[3] = record_block; // Interpass
    FakeHost host(100, 300, 3);
    host.record.maxSpace = 8 * 104 * 124;
    EXPECT_EQ(host.run(), noErr);
    EXPECT_EQ(host.requested_band_tops(), (std::vector<int32_t>{0, 0, 124, 248}));
    ASSERT_EQ(count(Start), 1);
    ASSERT_EQ(count(Interpass), 1);
    EXPECT_EQ(events.front().pass, Start);
    EXPECT_EQ(events[1].pass, Interpass);
    EXPECT_EQ(count(Main), 30000);
    EXPECT_EQ(run_state.pixels_total, 30000);
    EXPECT_EQ(run_state.pixels_done, 30000);
}

TEST_F(EngineRun, WithPrepassEveryBandIsVisitedTwiceAroundAHandBack)
{
    kernel_blocks[1] = record_block; // Prepass
    kernel_blocks[2] = record_block;
    kernel_blocks[3] = record_block;
    FakeHost host(100, 300, 3);
    host.record.maxSpace = 8 * 104 * 124;
    EXPECT_EQ(host.run(), noErr);
    EXPECT_EQ(run_state.pixels_total, 60000);
    EXPECT_EQ(run_state.pixels_done, 60000);
    // Prepass bands 0, 124, 248; the hand-back; Main bands 0, 124, 248.
    ASSERT_EQ(host.requests.size(), 7u);
    EXPECT_EQ(host.requested_band_tops(), (std::vector<int32_t>{0, 124, 248, 0, 124, 248}));
    EXPECT_TRUE(is_empty(host.requests[3].in) && is_empty(host.requests[3].out) && is_empty(host.requests[3].mask));
    // Start, all Prepass pixels, Interpass, all Main pixels, in that order.
    ASSERT_EQ(events.size(), 1u + 30000 + 1 + 30000);
    EXPECT_EQ(events[0].pass, Start);
    EXPECT_EQ(events[1].pass, Prepass);
    EXPECT_EQ(events[30000].pass, Prepass);
    EXPECT_EQ(events[30001].pass, Interpass);
    EXPECT_EQ(events[30002].pass, Main);
    EXPECT_EQ(events.back().pass, Main);
    EXPECT_EQ(events.back().row, 299);
}

TEST_F(EngineRun, ClearAreaRequestEmptiesEveryRectangleAndAsksTheHost)
{
    FakeHost host(10, 10, 3);
    run_state.filter_record = &host.record;
    host.record.inRect = host.record.outRect = host.record.maskRect = rect(1, 2, 3, 4);
    EXPECT_EQ(clear_area_request(), noErr);
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_TRUE(same_rect(host.requests[0].in, rect(0, 0, 0, 0)));
    EXPECT_TRUE(same_rect(host.requests[0].out, rect(0, 0, 0, 0)));
    EXPECT_TRUE(same_rect(host.requests[0].mask, rect(0, 0, 0, 0)));
    host.remove_callback_advance_state();
    EXPECT_EQ(clear_area_request(), -123);
}

TEST_F(EngineRun, BandRectanglesClampWithTheLowerBoundFirst)
{
    FakeHost host(50, 40, 3);
    run_state.filter_record = &host.record;
    run_state.pixel_context.image_width = 50;
    run_state.pixel_context.image_height = 40;
    band_plan.width = 50;
    band_plan.height = 10;
    host.record.filterRect = rect(5, 30, 35, 20); // left above right
    set_band_rects(0, 30);
    EXPECT_EQ(host.record.outRect.left, 30);  // 0 is below the lower bound
    EXPECT_EQ(host.record.outRect.right, 20); // 50 is above the upper one
    EXPECT_EQ(host.record.outRect.top, 30);
    EXPECT_EQ(host.record.outRect.bottom, 35);
    EXPECT_TRUE(same_rect(host.record.inRect, rect(30, 0, 40, 50)));
}

// -------------------------------------------------------- refusals and modes

TEST_F(EngineRun, GrayscaleShowsTheDialogThenAnswersBadMode)
{
    FakeHost gray(30, 200, 1);
    gray.record.maxSpace = 100 * 4 * 34; // a band plan that needs the warning
    EXPECT_EQ(gray.run(), filterBadMode);
    EXPECT_EQ(fake_platform.dialog_calls.size(), 1u);
    EXPECT_EQ(warnings(), 1u);
    EXPECT_TRUE(gray.requests.empty());
    EXPECT_TRUE(events.empty());

    // An image that claims RGB with fewer than three planes is refused the same way.
    FakeHost two(30, 20, 2);
    two.record.imageMode = plugInModeRGBColor;
    EXPECT_EQ(two.run(), filterBadMode);
    EXPECT_TRUE(two.requests.empty());
}

TEST_F(EngineRun, CancelInTheDialogEndsAtOnceEvenOnGrayscale)
{
    fake_platform.dialog_result = 0;
    FakeHost gray(30, 20, 1);
    EXPECT_EQ(gray.run(), userCanceledErr);
    EXPECT_TRUE(gray.requests.empty());
    EXPECT_TRUE(fake_platform.boxes.empty());
    // A dialog that cannot be created lets the run go on.
    fake_platform.dialog_result = -1;
    FakeHost host(30, 20, 3);
    EXPECT_EQ(host.run(), noErr);
    EXPECT_EQ(count(Main), 600);
}

TEST_F(EngineRun, PicturesThatCannotBePlannedAreRefusedBeforeTheDialog)
{
    run_state.filter_record = nullptr;
    EXPECT_EQ(start_filter(), filterBadParameters);

    struct Case {
        const char* what;
        int width, height, planes;
        Rect16 filter;
    };
    const Case cases[] = {
        {"no columns", 0, 10, 3, rect(0, 0, 10, 0)},
        {"negative rows", 10, -4, 3, rect(0, 0, 0, 10)},
        {"no planes", 10, 10, 0, rect(0, 0, 10, 10)},
        {"negative planes", 10, 10, -3, rect(0, 0, 10, 10)},
        {"filterRect past the right edge", 10, 10, 3, rect(0, 0, 10, 11)},
        {"filterRect above the top", 10, 10, 3, rect(-1, 0, 10, 10)},
        {"filterRect upside down", 10, 10, 3, rect(8, 0, 2, 10)},
        {"the most negative size", -32768, -32768, 3, rect(0, 0, 0, 0)},
    };
    for (const Case& c : cases) {
        fake_platform.reset();
        FakeHost host(10, 10, 3);
        host.record.imageSize = Point16{int16(c.height), int16(c.width)};
        host.record.planes = int16(c.planes);
        host.record.filterRect = c.filter;
        EXPECT_EQ(host.run(), filterBadParameters) << c.what;
        EXPECT_TRUE(fake_platform.dialog_calls.empty()) << c.what;
        EXPECT_TRUE(host.requests.empty()) << c.what;
        EXPECT_EQ(host.picture, host.source) << c.what;
    }
    EXPECT_TRUE(events.empty());

    // An empty filterRect is a picture with nothing to change, not a fault.
    fake_platform.reset();
    FakeHost host(10, 10, 3);
    host.record.filterRect = rect(0, 0, 0, 0);
    EXPECT_EQ(host.run(), noErr);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(host.picture, host.source);
}

// ------------------------------------------------------------- host failures

TEST_F(EngineRun, AFailedRequestEndsTheRunWithTheHostsCode)
{
    kernel_blocks[0] = invert_block;
    for (int failing = 0; failing < 4; ++failing) {
        FakeHost host(20, 40, 3);
        host.record.maxSpace = 8 * 24 * 10; // bands of 10 rows, requests 0, 0, 10, 20, 30
        host.fail_at = failing;
        host.fail_code = memFullErr;
        EXPECT_EQ(host.run(), memFullErr) << failing;
        EXPECT_EQ(int(host.requests.size()), failing + 1) << "no request after the failure";
        // Bands delivered before the failure were filtered; nothing from the failed one on.
        const int32_t done_rows = failing < 2 ? 0 : (failing - 1) * 10;
        for (int32_t r = 0; r < 40; ++r)
            for (int32_t c = 0; c < 20; ++c) {
                const int expected = r < done_rows ? 255 - host.source_at(r, c, 0) : host.source_at(r, c, 0);
                ASSERT_EQ(host.picture_at(r, c, 0), expected) << failing << " " << r << " " << c;
            }
    }
}

TEST_F(EngineRun, StaleBuffersAfterAFailedRequestAreNeverTouched)
{
    kernel_blocks[0] = invert_block;
    FakeHost host(20, 40, 3);
    host.record.maxSpace = 8 * 24 * 10;
    host.fail_at = 3; // the band at row 20; the host leaves the band at row 10 in place
    host.fail_keeps_buffers = true;
    EXPECT_EQ(host.run(), memFullErr);
    for (int32_t r = 0; r < 40; ++r)
        for (int32_t c = 0; c < 20; ++c) {
            const int expected = r < 20 ? 255 - host.source_at(r, c, 2) : host.source_at(r, c, 2);
            ASSERT_EQ(host.picture_at(r, c, 2), expected) << r << " " << c; // the band at 10 inverted once only
        }
}

TEST_F(EngineRun, AHandBackThatFailsEndsTheRun)
{
    kernel_blocks[1] = record_block;
    FakeHost host(10, 10, 3);
    host.fail_at = 1; // the first request, then the hand-back after the Prepass
    host.fail_code = -1;
    EXPECT_EQ(host.run(), -1);
    EXPECT_EQ(count(Main), 0);
}

TEST_F(EngineRun, AHostWithoutAdvanceStateIsNoSilentSuccess)
{
    FakeHost host(10, 10, 3);
    host.remove_callback_advance_state();
    EXPECT_EQ(host.run(), filterBadParameters);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(host.picture, host.source);
    run_state.filter_record = &host.record;
    EXPECT_EQ(call_advance_state(), -123);
}

TEST_F(EngineRun, DeliveriesThatDoNotMatchTheRequestStopTheRunUntouched)
{
    kernel_blocks[0] = invert_block;
    struct Case {
        const char* what;
        std::function<void(FilterRecord&)> tamper;
    };
    const Case cases[] = {
        {"outRect moved", [](FilterRecord& r) { r.outRect.top += 1; r.outRect.bottom += 1; }},
        {"outRect shrunk", [](FilterRecord& r) { r.outRect.bottom -= 1; }},
        {"maskRect taller", [](FilterRecord& r) { r.maskRect.top -= 1; }},
        {"inRect shrunk", [](FilterRecord& r) { r.inRect.right -= 1; }},
        {"inRect moved", [](FilterRecord& r) { r.inRect.left += 1; r.inRect.right += 1; }},
        {"inData missing", [](FilterRecord& r) { r.inData = nullptr; }},
        {"outData missing", [](FilterRecord& r) { r.outData = nullptr; }},
        {"inRowBytes short", [](FilterRecord& r) { r.inRowBytes -= 1; }},
        {"outRowBytes negative", [](FilterRecord& r) { r.outRowBytes = -r.outRowBytes; }},
        {"fewer input planes", [](FilterRecord& r) { r.inHiPlane -= 1; }},
        {"more output planes", [](FilterRecord& r) { r.outHiPlane += 1; }},
        {"maskRect moved", [](FilterRecord& r) { r.maskRect.left += 1; }},
        {"maskRowBytes short", [](FilterRecord& r) { r.maskRowBytes -= 1; }},
    };
    for (const Case& c : cases) {
        FakeHost host(20, 30, 3);
        host.record.maxSpace = 8 * 24 * 10;
        host.select(rect(0, 0, 30, 20));
        int deliveries = 0;
        // The first band is asked twice; the second band's delivery goes wrong.
        host.tamper = [&](FilterRecord& r) {
            if (++deliveries == 3) c.tamper(r);
        };
        EXPECT_EQ(host.run(), filterBadParameters) << c.what;
        EXPECT_EQ(host.requests.size(), 3u) << c.what;
        for (int32_t r = 10; r < 30; ++r)
            for (int32_t col = 0; col < 20; ++col)
                ASSERT_EQ(host.picture_at(r, col, 0), host.source_at(r, col, 0)) << c.what;
    }
}

TEST_F(EngineRun, RowsLongerThanThePixelsNeedAreFine)
{
    kernel_blocks[0] = invert_block;
    FakeHost host(13, 9, 4);
    host.row_padding = 5;
    host.record.maxSpace = 10 * 17 * 4;
    host.select(rect(1, 2, 8, 11));
    EXPECT_EQ(host.run(), noErr);
    for (int32_t r = 0; r < 9; ++r)
        for (int32_t c = 0; c < 13; ++c) {
            const bool in = r >= 1 && r < 8 && c >= 2 && c < 11;
            ASSERT_EQ(host.picture_at(r, c, 1), in ? 255 - host.source_at(r, c, 1) : host.source_at(r, c, 1));
        }
}

// ------------------------------------------------------- drawing and abort

struct Drawn {
    PSPixelMap map;
    PSPixelMask mask;
    bool has_mask;
    VRect src;
    int32 row, col;
    void* context;
} drawn;

OSErr PS_CDECL record_display(const PSPixelMap* map, const VRect* src, int32 row, int32 col, void* context)
{
    drawn.map = *map;
    drawn.has_mask = map->masks != nullptr;
    if (map->masks) drawn.mask = *map->masks;
    drawn.src = *src;
    drawn.row = row;
    drawn.col = col;
    drawn.context = context;
    return 7;
}

TEST_F(EngineRun, DisplayOutputDescribesTheOutputAreaAndItsMask)
{
    FakeHost host(10, 10, 4);
    run_state.filter_record = &host.record;
    FilterRecord& r = host.record;
    unsigned char out[64], mask[16];
    r.outRect = rect(2, 3, 6, 7);
    r.outData = out;
    r.outRowBytes = 16;
    r.outLoPlane = 0;
    r.outHiPlane = 3;
    r.imageMode = plugInModeRGBColor;
    int dc = 0;
    EXPECT_EQ(display_output(&dc, 5, 6), 0); // no displayPixels: nothing drawn
    r.displayPixels = record_display;
    EXPECT_EQ(display_output(&dc, 5, 6), 7);
    EXPECT_EQ(drawn.map.version, 1);
    EXPECT_EQ(drawn.map.bounds.top, 2);
    EXPECT_EQ(drawn.map.bounds.left, 3);
    EXPECT_EQ(drawn.map.bounds.bottom, 6);
    EXPECT_EQ(drawn.map.bounds.right, 7);
    EXPECT_EQ(drawn.src.right, 7);
    EXPECT_EQ(drawn.map.imageMode, plugInModeRGBColor);
    EXPECT_EQ(drawn.map.rowBytes, 16);
    EXPECT_EQ(drawn.map.colBytes, 4);
    EXPECT_EQ(drawn.map.planeBytes, 1);
    EXPECT_EQ(static_cast<const void*>(drawn.map.baseAddr), out);
    EXPECT_EQ(static_cast<const void*>(drawn.map.mat), nullptr);
    EXPECT_EQ(drawn.map.maskPhaseRow, 0);
    EXPECT_FALSE(drawn.has_mask);
    EXPECT_EQ(drawn.row, 5);
    EXPECT_EQ(drawn.col, 6);
    EXPECT_EQ(drawn.context, &dc);

    r.inLayerPlanes = 3;
    r.inTransparencyMask = 1;
    display_output(&dc, 0, 0);
    ASSERT_TRUE(drawn.has_mask);
    EXPECT_EQ(static_cast<const void*>(drawn.mask.maskData), out + 3); // the last interleaved plane
    EXPECT_EQ(drawn.mask.rowBytes, 16);
    EXPECT_EQ(drawn.mask.colBytes, 4);
    EXPECT_EQ(static_cast<const void*>(drawn.mask.next), nullptr);
    EXPECT_EQ(drawn.mask.maskDescription, 0);

    r.isFloating = 1; // a floating selection's mask wins
    r.maskData = mask;
    r.maskRowBytes = 4;
    display_output(&dc, 0, 0);
    ASSERT_TRUE(drawn.has_mask);
    EXPECT_EQ(static_cast<const void*>(drawn.mask.maskData), mask);
    EXPECT_EQ(drawn.mask.rowBytes, 4);
    EXPECT_EQ(drawn.mask.colBytes, 1);
}

TEST_F(EngineRun, HostAbortIsTheLowByteOfAbortProc)
{
    FakeHost host(4, 4, 3);
    run_state.filter_record = &host.record;
    EXPECT_EQ(test_host_abort(), 0);
    host.abort_from_call = 1;
    EXPECT_NE(test_host_abort(), 0);
    host.record.abortProc = nullptr;
    EXPECT_EQ(test_host_abort(), 0);
    run_state.filter_record = nullptr;
    EXPECT_EQ(test_host_abort(), 0);
    EXPECT_EQ(call_advance_state(), -123);
    EXPECT_EQ(display_output(nullptr, 0, 0), 0);
}

TEST(IntegerSquareRoot, CutsTowardZeroAndIsZeroBelowOne)
{
    EXPECT_EQ(integer_square_root(-7), 0);
    EXPECT_EQ(integer_square_root(0), 0);
    EXPECT_EQ(integer_square_root(1), 1);
    EXPECT_EQ(integer_square_root(20000), 141);
    EXPECT_EQ(integer_square_root(640 * 640 + 480 * 480), 800);
    EXPECT_EQ(integer_square_root(46340 * 46340 - 1), 46339);
    EXPECT_EQ(integer_square_root(46340 * 46340), 46340);
    EXPECT_EQ(integer_square_root(INT_MAX), 46340);
}

} // namespace
