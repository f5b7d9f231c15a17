// Faults the engine fuzzer found in the preview, each kept as the smallest
// case that showed it. Under the native sanitizers an overflow aborts the test.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "runtime/host_calls.h"
#include "shell/shell.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"
#include "ui/preview_logic.h"
#include "ui/model.h"
#include "ui/preview_render.h"

namespace {

struct GreyCanvas final : PreviewCanvas {
    struct Grey {
        int32_t left, top, right, bottom;
    };
    std::vector<Grey> greys;
    void* device_context() override { return this; }
    void fill_grey(int32_t l, int32_t t, int32_t r, int32_t b) override { greys.push_back({l, t, r, b}); }
    void draw_line(PreviewPen, int32_t, int32_t, int32_t, int32_t) override {}
};

// The last visible column was client_w - 1 in 32 bits: a client extent of
// INT32_MIN overflowed. Any extent with nothing to show now gives an empty view.
TEST(PreviewRegression, ClientExtentAtTheInt32LimitsGivesAnEmptyOrClippedView)
{
    EXPECT_TRUE(preview_view(INT32_MIN, 192, 100, 80, 1, 0, 0).empty());
    EXPECT_TRUE(preview_view(192, INT32_MIN, 100, 80, 1, 0, 0).empty());
    const PreviewView v = preview_view(INT32_MAX, INT32_MAX, 100, 80, 1, 0, 0);
    EXPECT_EQ(v.last_col, 99);
    EXPECT_EQ(v.last_row, 79);
}

// The grey margin reached to client_w + 1, which overflowed at INT32_MAX.
TEST(PreviewRegression, GreyMarginOfAClientAtInt32MaxStopsAtTheLimit)
{
    ScopedModuleState state;
    fake_platform.reset();
    PreviewModel model;
    FakeHost host(20, 10, 3);
    run_state.filter_record = &host.record;
    reset_preview_state(model);
    run_state.zoom_factor = 1;

    GreyCanvas shown;
    render_preview(model, shown, INT32_MAX, INT32_MAX, 0);
    ASSERT_EQ(host.requests.size(), 1u);
    ASSERT_EQ(shown.greys.size(), 2u);
    EXPECT_EQ(shown.greys[0].left, 19);
    EXPECT_EQ(shown.greys[0].right, INT32_MAX);
    EXPECT_EQ(shown.greys[1].top, 9);
    EXPECT_EQ(shown.greys[1].bottom, INT32_MAX);

    GreyCanvas nothing; // an empty view greys the whole control and asks for nothing
    render_preview(model, nothing, INT32_MIN, INT32_MAX, 0);
    EXPECT_EQ(host.requests.size(), 1u);
    ASSERT_EQ(nothing.greys.size(), 1u);
    EXPECT_EQ(nothing.greys[0].bottom, INT32_MAX);
    reset_preview_state(model);
}

} // namespace
