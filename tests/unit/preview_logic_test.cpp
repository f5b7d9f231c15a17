// The preview's arithmetic and one paint of it against a fake host whose
// buffers are exactly as large as the area requested and are freed when the
// host takes them back, so the sanitizers see any stray access.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "runtime/definition.h"
#include "runtime/builtins.h"
#include "runtime/kernel.h"
#include "runtime/host_calls.h"
#include "shell/shell.h"
#include "support/fake_platform.h"
#include "ui/colour.h"
#include "ui/preview_logic.h"
#include "ui/model.h"
#include "ui/preview_render.h"

namespace {

// ---------------------------------------------------------------- arithmetic

TEST(PreviewView, SmallImageAtFactorOneLeavesTheLastColumnAndRowToTheMargin)
{
    const PreviewView v = preview_view(192, 192, 100, 80, 1, 0, 0);
    EXPECT_EQ(v.last_col, 99);
    EXPECT_EQ(v.last_row, 79);
    const Rect16 r = preview_request_rect(v);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 99);
    EXPECT_EQ(r.bottom, 79);
}

TEST(PreviewView, PanStopsShortOfTheLastColumnAndAtZero)
{
    // 1000 columns in 192: columns 808 to 998 are the furthest one can see.
    PreviewView v = preview_view(192, 192, 1000, 1000, 1, 5000, -40);
    EXPECT_EQ(v.pan_x, 808);
    EXPECT_EQ(v.pan_y, 0);
    EXPECT_EQ(preview_request_rect(v).right, 808 + 191);
    v = preview_view(192, 192, 1000, 1000, 1, 808, 500);
    EXPECT_EQ(v.pan_x, 808);
    EXPECT_EQ(v.pan_y, 500);
    // A picture that fits never pans; extreme drags do not overflow.
    v = preview_view(192, 192, 1000, 800, 6, INT32_MAX, INT32_MIN);
    EXPECT_EQ(v.pan_x, 0);
    EXPECT_EQ(v.pan_y, 0);
    EXPECT_EQ(v.last_col, 165);
    EXPECT_EQ(v.last_row, 132);
}

TEST(PreviewView, PictureSmallerThanTheFactorShowsNothing)
{
    EXPECT_TRUE(preview_view(192, 192, 3, 5000, 27, 0, 0).empty());
    EXPECT_TRUE(preview_view(192, 192, 1, 1, 1, 0, 0).empty()); // one pixel: lastCol 0
    EXPECT_TRUE(preview_view(0, 0, 100, 100, 1, 0, 0).empty());
    EXPECT_TRUE(preview_view(192, 192, 100, 100, 0, 0, 0).last_col == 99); // factor 0 counts as 1
    const Rect16 r = preview_request_rect(preview_view(192, 192, 3, 5000, 27, 7, 7));
    EXPECT_EQ(r.right - r.left, 0);
}

TEST(PreviewMouse, RightClickPicksTheCentreAndTheMarkCrossesThere)
{
    const PreviewPoint c = picked_centre(5, 0, 20, 10, 4, 1000, 800);
    EXPECT_EQ(c.x, 100);
    EXPECT_EQ(c.y, 40);
    const int32_t centre[2] = {c.x, c.y};
    const PreviewView v = preview_view(192, 192, 1000, 800, 4, 5, 0);
    const CentreMark m = centre_mark(1, centre, 4, v);
    ASSERT_TRUE(m.shown);
    EXPECT_EQ(m.x, 20);
    EXPECT_EQ(m.y, 10);
    EXPECT_FALSE(centre_mark(0, centre, 4, v).shown);
    const int32_t image_centre[2] = {-1, 40};
    EXPECT_FALSE(centre_mark(1, image_centre, 4, v).shown);
    const int32_t off_view[2] = {4 * (5 + 192), 40};
    EXPECT_FALSE(centre_mark(1, off_view, 4, v).shown);
    // The view's last column and row still carry the mark; one further does not.
    ASSERT_EQ(v.last_col, 191);
    ASSERT_EQ(v.last_row, 191);
    const int32_t corner[2] = {4 * (5 + 191), 4 * 191};
    const CentreMark at_corner = centre_mark(1, corner, 4, v);
    ASSERT_TRUE(at_corner.shown);
    EXPECT_EQ(at_corner.x, 191);
    EXPECT_EQ(at_corner.y, 191);
    const int32_t past_column[2] = {4 * (5 + 192), 4 * 191}, past_row[2] = {4 * (5 + 191), 4 * 192};
    EXPECT_FALSE(centre_mark(1, past_column, 4, v).shown);
    EXPECT_FALSE(centre_mark(1, past_row, 4, v).shown);
}

TEST(PreviewMouse, PickedCentreStaysInsideThePictureAndADragMovesTheImageWithTheMouse)
{
    const PreviewPoint far = picked_centre(INT32_MAX, 10, 30000, 30000, 32, 1000, 800);
    EXPECT_EQ(far.x, 999);
    EXPECT_EQ(far.y, 799);
    const PreviewPoint before = picked_centre(0, 0, -12, -3, 4, 1000, 800);
    EXPECT_EQ(before.x, 0);
    EXPECT_EQ(before.y, 0);
    const PreviewPoint p = preview_image_point(5, 7, 20, -10);
    EXPECT_EQ(p.x, 25);
    EXPECT_EQ(p.y, -3);

    // Dragging moves the image with the mouse: the pan goes the other way,
    // and wraps rather than overflows before the next paint clamps it.
    const PreviewPoint dragged = dragged_pan(100, 50, 30, 30, 10, 45);
    EXPECT_EQ(dragged.x, 120);
    EXPECT_EQ(dragged.y, 35);
    EXPECT_EQ(dragged_pan(INT32_MAX, INT32_MIN, 5, 5, 4, 6).x, INT32_MIN);
    EXPECT_EQ(dragged_pan(INT32_MAX, INT32_MIN, 5, 5, 4, 6).y, INT32_MAX);
}

// A 500 ms timer and refresh requests on one clock: how many filtered
// renderings, and when.
struct Timeline {
    PreviewFlags flags{};
    std::vector<int> renderings;
    void run(const std::vector<int>& changes, int until)
    {
        size_t next = 0;
        for (int t = 0; t <= until; t += 10) {
            while (next < changes.size() && changes[next] == t) {
                on_preview_refresh(flags);
                ++next;
            }
            if (t > 0 && t % 500 == 0 && on_preview_timer(flags)) renderings.push_back(t);
        }
    }
};

TEST(PreviewDebounce, TwoChangesThreeHundredMillisecondsApartGiveOneRendering)
{
    for (int first : {0, 100, 250, 420}) {
        Timeline tl;
        tl.run({first, first + 300}, 5000);
        ASSERT_EQ(tl.renderings.size(), 1u) << first;
        const int after = tl.renderings[0] - (first + 300);
        EXPECT_GT(after, 500) << first;
        EXPECT_LE(after, 1000) << first;
        EXPECT_EQ(tl.flags.render_filtered, 1);
    }
}

TEST(PreviewDebounce, DragShowsUnfilteredAndReleaseRendersWithinATick)
{
    PreviewFlags f{};
    f.render_filtered = 1;
    on_preview_drag(f);
    EXPECT_EQ(f.render_filtered, 0);
    EXPECT_FALSE(on_preview_timer(f)); // nothing owed while dragging
    on_preview_release(f);
    EXPECT_TRUE(on_preview_timer(f));
    EXPECT_EQ(f.render_filtered, 1);
    EXPECT_FALSE(on_preview_timer(f));
}

// ---------------------------------------------------------------- host buffers

TEST(PreviewCopy, CopiesRowByRowWithEachBuffersOwnRowBytes)
{
    // Three rows of 4 pixels × 3 planes = 12 bytes; input rows of 13, output of 16.
    std::vector<unsigned char> in(3 * 13), out(3 * 16, 0xEE);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i);
    copy_area_rows(out.data(), 16, in.data(), 13, 3, 12);
    for (int r = 0; r < 3; ++r) {
        for (int b = 0; b < 12; ++b) EXPECT_EQ(out[r * 16 + b], r * 13 + b);
        for (int b = 12; b < 16; ++b) EXPECT_EQ(out[r * 16 + b], 0xEE); // row padding untouched
    }
    // Never more of a row than the narrower buffer holds.
    std::vector<unsigned char> narrow(3 * 8, 0);
    copy_area_rows(narrow.data(), 8, in.data(), 13, 3, 12);
    EXPECT_EQ(narrow[8], 13);
    // Nothing at all from nothing.
    copy_area_rows(nullptr, 16, in.data(), 13, 3, 12);
    copy_area_rows(out.data(), 16, nullptr, 13, 3, 12);
    copy_area_rows(out.data(), -16, in.data(), 13, 3, 12);
    copy_area_rows(out.data(), 16, in.data(), 13, -1, 12);
}

TEST(PreviewArea, OnlyTheRequestedAreaWithWholeRowsIsAccepted)
{
    std::vector<unsigned char> in(2 * 30), out(2 * 30);
    FilterRecord fr{};
    const Rect16 want{4, 10, 6, 20}; // 2 rows, 10 columns
    fr.inRect = fr.outRect = want;
    fr.inData = in.data();
    fr.outData = out.data();
    fr.inRowBytes = fr.outRowBytes = 30;
    DeliveredArea a = accept_delivered_area(fr, want, 3);
    EXPECT_TRUE(a.valid);
    EXPECT_TRUE(area_still_delivered(a, &fr));

    in[30 + 9 * 3] = 77; // row 5, column 19
    EXPECT_EQ(*delivered_input_pixel(a, &fr, 500, 500), 77); // clamped to the last pixel
    EXPECT_EQ(delivered_input_pixel(a, &fr, -5, -5), in.data());

    FilterRecord other = fr;
    EXPECT_FALSE(area_still_delivered(a, &other)) << "another record";
    fr.inRect = fr.outRect = fr.maskRect = Rect16{0, 0, 0, 0}; // handed back
    EXPECT_FALSE(area_still_delivered(a, &fr));
    EXPECT_EQ(delivered_input_pixel(a, &fr, 12, 5), nullptr);

    fr.inRect = fr.outRect = want;
    fr.inRowBytes = 29; // a row shorter than 10 pixels
    EXPECT_FALSE(accept_delivered_area(fr, want, 3).valid);
    fr.inRowBytes = 30;
    fr.outData = nullptr;
    EXPECT_FALSE(accept_delivered_area(fr, want, 3).valid);
    fr.outData = out.data();
    fr.outRect.bottom = 5; // the host shrank the area
    EXPECT_FALSE(accept_delivered_area(fr, want, 3).valid);
}

// ---------------------------------------------------------------- a paint

struct FakeHost;
FakeHost* host = nullptr;

// Serves areas of a picture sampled at inputRate, in buffers of exactly the
// requested size with rows of different lengths for input and output.
struct FakeHost {
    int32_t width, height, planes;
    std::vector<unsigned char> picture;
    std::unique_ptr<unsigned char[]> in, out;
    FilterRecord record{};
    int requests = 0;
    OSErr answer = noErr;
    struct Shown {
        VRect bounds;
        void* dc;
        std::vector<unsigned char> pixels; // the shown area's planes, row by row
    };
    std::vector<Shown> shown;

    FakeHost(int32_t w, int32_t h, int32_t p) : width(w), height(h), planes(p), picture(w * h * p)
    {
        for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<unsigned char>(i * 7 + i / 3);
        record.imageSize = Point16{static_cast<int16>(h), static_cast<int16>(w)};
        record.planes = static_cast<int16>(p);
        record.imageMode = plugInModeRGBColor;
        record.advanceState = &FakeHost::advance_state;
        record.displayPixels = &FakeHost::display_pixels;
        host = this;
    }
    ~FakeHost() { host = nullptr; }

    static OSErr advance_state()
    {
        FakeHost& h = *host;
        FilterRecord& fr = h.record;
        ++h.requests;
        h.in.reset(); // earlier buffers are gone; the record keeps stale pointers
        h.out.reset();
        if (h.answer != noErr) return h.answer;
        const Rect16 r = fr.inRect;
        const int32_t rows = r.bottom - r.top, cols = r.right - r.left;
        if (rows <= 0 || cols <= 0) return noErr;
        const int32_t z = fr.inputRate >> 16;
        fr.inRowBytes = cols * h.planes + 1;
        fr.outRowBytes = cols * h.planes + 6;
        h.in.reset(new unsigned char[rows * fr.inRowBytes]);
        h.out.reset(new unsigned char[rows * fr.outRowBytes]);
        std::memset(h.out.get(), 0x5A, rows * fr.outRowBytes);
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x)
                std::memcpy(&h.in[y * fr.inRowBytes + x * h.planes],
                            h.source((r.left + x) * z, (r.top + y) * z), h.planes);
        fr.inData = h.in.get();
        fr.outData = h.out.get();
        return noErr;
    }
    static OSErr display_pixels(const PSPixelMap* map, const VRect* rect, int32 row, int32 col, void* dc)
    {
        Shown s{*rect, dc, {}};
        const auto* base = static_cast<const unsigned char*>(map->baseAddr);
        const int32_t cols = rect->right - rect->left;
        for (int32_t y = 0; y < rect->bottom - rect->top; ++y)
            s.pixels.insert(s.pixels.end(), base + y * map->rowBytes, base + y * map->rowBytes + cols * map->colBytes);
        host->shown.push_back(std::move(s));
        return noErr;
    }
    const unsigned char* source(int32_t x, int32_t y) const
    {
        return &picture[(static_cast<size_t>(y) * width + x) * planes];
    }
};

struct RecordingCanvas final : PreviewCanvas {
    struct Op {
        char kind; // 'g' grey, 'w' white line, 'b' black line
        int32_t a, b, c, d;
    };
    std::vector<Op> ops;
    void* device_context() override { return this; }
    void fill_grey(int32_t l, int32_t t, int32_t r, int32_t b) override { ops.push_back({'g', l, t, r, b}); }
    void draw_line(PreviewPen pen, int32_t x0, int32_t y0, int32_t x1, int32_t y1) override
    {
        ops.push_back({pen == PreviewPen::white ? 'w' : 'b', x0, y0, x1, y1});
    }
    int count(char kind) const
    {
        int n = 0;
        for (const Op& op : ops) n += op.kind == kind;
        return n;
    }
};

// Inverts the three colour planes; polls the abort test like a looping kernel.
int abort_polls_per_pixel = 0;
int32_t clock_step_ms = 0;
void invert_block(KernelVariables& v, const BuiltinTable& builtins)
{
    for (int i = 0; i < abort_polls_per_pixel; ++i) {
        fake_platform.time_of_day_ms += clock_step_ms;
        if (builtins.test_abort()) break;
    }
    v.v[slot::out_red] = 255 - v.v[slot::in_red];
    v.v[slot::out_green] = 255 - v.v[slot::in_green];
    v.v[slot::out_blue] = 255 - v.v[slot::in_blue];
}

struct PreviewPaint : ::testing::Test {
    PreviewModel model;
    FilterDefinition saved_definition = filter_definition;
    KernelBlock saved_blocks[4];
    void SetUp() override
    {
        fake_platform.reset();
        fake_platform.time_of_day_ms = 12 * 3600000;
        std::memcpy(saved_blocks, kernel_blocks, sizeof saved_blocks);
        kernel_blocks[0] = invert_block;
        kernel_blocks[1] = kernel_blocks[2] = kernel_blocks[3] = nullptr;
        abort_polls_per_pixel = 0;
        reset_preview_state(model);
        model.flags = PreviewFlags{0, 0, 1, 1};
        model.filtering_on = 1;
        run_state.zoom_factor = 1;
        run_state.mode = RunMode::real_run;
        filter_definition.centre_pick = 0;
        filter_definition.stored_centre[0] = filter_definition.stored_centre[1] = -1;
    }
    void TearDown() override
    {
        std::memcpy(kernel_blocks, saved_blocks, sizeof saved_blocks);
        filter_definition = saved_definition;
        run_state.filter_record = nullptr;
        model.area = DeliveredArea{};
        run_state.zoom_factor = 1;
        run_state.mode = RunMode::real_run;
    }
    void use(FakeHost& h)
    {
        run_state.filter_record = &h.record;
        run_state.pixel_context = PixelContext{};
        run_state.pixel_context.image_width = h.width;
        run_state.pixel_context.image_height = h.height;
        run_state.pixel_context.image_planes = h.planes;
        run_state.pixel_context.pixel_stride = h.planes;
    }
};

TEST_F(PreviewPaint, RequestsTheVisibleAreaSampledAtTheZoomAndGreysTheRest)
{
    FakeHost h(1000, 800, 3);
    use(h);
    run_state.zoom_factor = 6;
    model.pan_x = 40;
    model.pan_y = -3;
    h.record.maskRect = Rect16{7, 9, 60, 70}; // left over: the request must empty it
    RecordingCanvas canvas;
    render_preview(model, canvas, 192, 192, 0);

    const FilterRecord& fr = h.record;
    EXPECT_EQ(model.pan_x, 0); // 166 columns fit entirely
    EXPECT_EQ(model.pan_y, 0);
    EXPECT_EQ(fr.outRect.left, 0);
    EXPECT_EQ(fr.outRect.right, 165);
    EXPECT_EQ(fr.outRect.bottom, 132);
    EXPECT_EQ(std::memcmp(&fr.inRect, &fr.outRect, sizeof(Rect16)), 0);
    EXPECT_TRUE(same_rect(fr.maskRect, Rect16{0, 0, 0, 0}));
    EXPECT_EQ(fr.inHiPlane, 2);
    EXPECT_EQ(fr.outHiPlane, 2);
    EXPECT_EQ(fr.inputPadding, 255);
    EXPECT_EQ(fr.maskPadding, 255);
    EXPECT_EQ(fr.inputRate, 6 * 65536);

    ASSERT_EQ(canvas.count('g'), 2);
    EXPECT_EQ(canvas.ops[0].a, 165);
    EXPECT_EQ(canvas.ops[0].c, 193);
    EXPECT_EQ(canvas.ops[1].b, 132);
    ASSERT_EQ(h.shown.size(), 1u) << "unfiltered only";
    EXPECT_EQ(h.shown[0].dc, &canvas);
    // The shown pixel (10, 20) is picture pixel (60, 120): the output holds the input.
    EXPECT_EQ(std::memcmp(&h.shown[0].pixels[(20 * 165 + 10) * 3], h.source(60, 120), 3), 0);
}

TEST_F(PreviewPaint, FilteredPaintShowsTheKernelThenGivesTheHostItsImageBack)
{
    FakeHost h(300, 200, 4);
    use(h);
    RecordingCanvas canvas;
    render_preview(model, canvas, 192, 192, 1);
    ASSERT_EQ(h.shown.size(), 2u);
    const unsigned char* src = h.source(7, 9);
    const unsigned char* shown = &h.shown[1].pixels[(9 * 191 + 7) * 4];
    EXPECT_EQ(shown[0], 255 - src[0]);
    EXPECT_EQ(shown[2], 255 - src[2]);
    EXPECT_EQ(shown[3], src[3]); // alpha passes
    EXPECT_EQ(run_state.mode, RunMode::real_run);
    EXPECT_EQ(canvas.count('w'), 0);
    // The host's output buffer holds the unchanged view again.
    const FilterRecord& fr = h.record;
    for (int y = 0; y < 191; y += 37)
        EXPECT_EQ(std::memcmp(static_cast<unsigned char*>(fr.outData) + y * fr.outRowBytes,
                              static_cast<unsigned char*>(fr.inData) + y * fr.inRowBytes, 191 * 4), 0);
}

TEST_F(PreviewPaint, NoKernelWhenFilteringIsOffOrTheKernelSwitchedOff)
{
    FakeHost h(300, 200, 3);
    use(h);
    RecordingCanvas canvas;
    model.filtering_on = 0;
    render_preview(model, canvas, 192, 192, 1);
    model.filtering_on = 1;
    model.flags.kernel_enabled = 0;
    render_preview(model, canvas, 192, 192, 1);
    EXPECT_EQ(h.shown.size(), 2u) << "one display per paint: unfiltered";
}

TEST_F(PreviewPaint, SlowKernelIsCutAfterTwoSecondsUnderAWhiteCross)
{
    FakeHost h(300, 200, 3);
    use(h);
    abort_polls_per_pixel = 20000; // the clock is asked every 10001st poll
    clock_step_ms = 0;
    // 1 ms of the fake clock per poll batch: about 2000 ms after the start the
    // rendering must stop, long before every pixel is done.
    clock_step_ms = 1;
    RecordingCanvas canvas;
    render_preview(model, canvas, 192, 192, 1);
    EXPECT_EQ(run_state.mode, RunMode::real_run);
    ASSERT_EQ(canvas.count('w'), 2);
    EXPECT_LT(run_state.pixels_done, 191 * 191);
    ASSERT_EQ(h.shown.size(), 2u);
    const unsigned char* first = &h.shown[1].pixels[0];
    EXPECT_EQ(first[0], 255 - h.source(0, 0)[0]) << "the first pixel is filtered";
    const unsigned char* last = &h.shown[1].pixels[(190 * 191 + 190) * 3];
    EXPECT_EQ(last[0], h.source(190, 190)[0]) << "the last is not";
}

TEST_F(PreviewPaint, FailedRequestShowsFilterErrorAndDrawsNothing)
{
    FakeHost h(300, 200, 3);
    use(h);
    h.answer = -108;
    fake_platform.active_window = 4242;
    RecordingCanvas canvas;
    render_preview(model, canvas, 192, 192, 1);
    ASSERT_EQ(fake_platform.boxes.size(), 1u);
    EXPECT_EQ(fake_platform.boxes[0].text, "Error -108 in advanceState!\nInternal error - please report to the authors!");
    EXPECT_EQ(fake_platform.boxes[0].caption, "Filter Error");
    EXPECT_EQ(fake_platform.boxes[0].owner, 4242);
    EXPECT_EQ(fake_platform.boxes[0].style, 0u);
    EXPECT_TRUE(canvas.ops.empty());
    EXPECT_TRUE(h.shown.empty());
    EXPECT_FALSE(model.area.valid);
}

TEST_F(PreviewPaint, HostWithoutBuffersOrTinyPictureIsShownGrey)
{
    FakeHost tiny(3, 5000, 3);
    use(tiny);
    run_state.zoom_factor = 27;
    RecordingCanvas canvas;
    render_preview(model, canvas, 192, 192, 1);
    EXPECT_EQ(tiny.requests, 0);
    ASSERT_EQ(canvas.ops.size(), 1u);
    EXPECT_EQ(canvas.ops[0].kind, 'g');

    // A host that answers noErr and delivers nothing.
    FakeHost h(300, 200, 3);
    use(h);
    run_state.zoom_factor = 1;
    h.record.advanceState = [] { return OSErr{noErr}; };
    RecordingCanvas c2;
    render_preview(model, c2, 192, 192, 1);
    EXPECT_TRUE(h.shown.empty());
    EXPECT_EQ(c2.count('g'), 1);
}

TEST_F(PreviewPaint, CentreMarkCrossesThePickedPoint)
{
    FakeHost h(1000, 800, 3);
    use(h);
    filter_definition.centre_pick = 1;
    run_state.zoom_factor = 4;
    model.pan_x = 5;
    ASSERT_TRUE(pick_effect_centre(model, 20, 10));
    EXPECT_EQ(filter_definition.stored_centre[0], 100);
    EXPECT_EQ(filter_definition.stored_centre[1], 40);
    RecordingCanvas canvas;
    render_preview(model, canvas, 192, 192, 0);
    ASSERT_EQ(canvas.count('b'), 2);
    const auto& horizontal = canvas.ops[canvas.ops.size() - 2];
    const auto& vertical = canvas.ops.back();
    EXPECT_EQ(horizontal.b, 10);
    EXPECT_EQ(horizontal.c, 191);
    EXPECT_EQ(vertical.a, 20);
    EXPECT_EQ(vertical.d, 191);
    filter_definition.centre_pick = 0;
    EXPECT_FALSE(pick_effect_centre(model, 1, 1));
}

// ---------------------------------------------------------------- colours

ColorServicesInfo seen_info;
std::string seen_prompt;
int16 picked[3];
OSErr picker_answer;
OSErr fake_picker(ColorServicesInfo* info)
{
    seen_info = *info;
    const unsigned char* p = info->selectorParameter.pickerPrompt;
    seen_prompt.assign(reinterpret_cast<const char*>(p), 1 + p[0]);
    for (int i = 0; i < 3; ++i) info->colorComponents[i] = picked[i];
    return picker_answer;
}

TEST_F(PreviewPaint, HostPickerIsPresetWithTheColourAndItsChoiceKept)
{
    FakeHost h(10, 10, 3);
    use(h);
    h.record.colorServices = fake_picker;
    filter_definition.custom_colours[1] = 0x00302010;
    picked[0] = 255, picked[1] = 0, picked[2] = 0;
    picker_answer = noErr;
    choose_colour_with_host(1);
    EXPECT_EQ(seen_info.infoSize, static_cast<int32>(sizeof(ColorServicesInfo)));
    EXPECT_EQ(seen_info.selector, 0);
    EXPECT_EQ(seen_info.sourceSpace, 0);
    EXPECT_EQ(seen_info.resultSpace, 0);
    EXPECT_EQ(seen_info.colorComponents[0], 0x10);
    EXPECT_EQ(seen_info.colorComponents[1], 0x20);
    EXPECT_EQ(seen_info.colorComponents[2], 0x30);
    EXPECT_EQ(seen_info.colorComponents[3], 0);
    EXPECT_EQ(seen_prompt, std::string("\x1c Glyphsmithery: Select Color"));
    EXPECT_EQ(filter_definition.custom_colours[1], 255u);

    // A cancelled or failing picker keeps the colour, whatever it left behind.
    picked[0] = 1, picked[1] = 2, picked[2] = 3;
    picker_answer = userCanceledErr;
    choose_colour_with_host(1);
    EXPECT_EQ(filter_definition.custom_colours[1], 255u);
    // Components wider than a byte give their low byte.
    picked[0] = 300, picked[1] = -4, picked[2] = 128;
    picker_answer = noErr;
    choose_colour_with_host(1);
    EXPECT_EQ(filter_definition.custom_colours[1], 0x80FC2Cu);

    h.record.colorServices = nullptr;
    choose_colour_with_host(1);
    EXPECT_EQ(filter_definition.custom_colours[1], 0x80FC2Cu);
    choose_colour_with_host(-1); // no such colour: nothing happens
    choose_colour_with_host(8);
}

TEST_F(PreviewPaint, EyedropperReadsTheShownAreaAndNothingHandedBack)
{
    FakeHost h(400, 300, 3);
    use(h);
    run_state.zoom_factor = 2;
    RecordingCanvas canvas;
    render_preview(model, canvas, 192, 192, 0);
    begin_colour_pick(model, 0, 402, 1);
    EXPECT_EQ(model.pick_mode, 1);
    ASSERT_TRUE(take_picked_colour(model, 15, 4));
    const unsigned char* p = h.source(30, 8);
    EXPECT_EQ(filter_definition.custom_colours[1], uint32_t{p[0]} | p[1] << 8 | p[2] << 16);
    ASSERT_TRUE(take_picked_colour(model, -50, 9999)); // clamped to the area's edge
    p = h.source(0, 2 * 148);
    EXPECT_EQ(filter_definition.custom_colours[1], uint32_t{p[0]} | p[1] << 8 | p[2] << 16);

    // The dialog zooms: the areas go back to the host, which frees them.
    filter_definition.custom_colours[1] = 7;
    clear_area_request();
    EXPECT_FALSE(take_picked_colour(model, 15, 4));
    EXPECT_EQ(filter_definition.custom_colours[1], 7u);
    begin_colour_pick(model, 0, 402, 9);
    render_preview(model, canvas, 192, 192, 0);
    EXPECT_FALSE(take_picked_colour(model, 15, 4)) << "no ninth colour";
}

} // namespace
