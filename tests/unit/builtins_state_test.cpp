// Put array, random generator, controls, colours and the abort test: the
// built-ins with module state, each group starting from the state a freshly
// loaded module has.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "filter/definition.h"
#include "runtime/builtins.h"
#include "runtime/kernel.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "support/fake_platform.h"
#include "ui/preview_state.h"

namespace {

// Saves every global these built-ins read, and gives each test a fresh module.
struct ModuleState : ::testing::Test {
    FilterDefinition definition = filter_definition;
    int32_t controls[16];
    PixelContext context = pixel_context;
    KernelPass pass = current_pass;
    int32_t preview_time = preview_start_time;
    FilterRecord* record = filter_record;

    void SetUp() override
    {
        std::memcpy(controls, control_values, sizeof controls);
        fake_platform.reset();
        reset_state_builtins();
        current_pass = Start;
        preview_start_time = 0;
    }
    void TearDown() override
    {
        reset_state_builtins();
        filter_definition = definition;
        std::memcpy(control_values, controls, sizeof controls);
        pixel_context = context;
        current_pass = pass;
        preview_start_time = preview_time;
        filter_record = record;
        fake_platform.reset();
    }
};

// The generator as documented, computed here independently.
struct Lcg {
    uint32_t state;
    int32_t next()
    {
        state = state * 1103515245u + 12345u;
        return int32_t((state >> 16) & 0x7FFF);
    }
};

using PutArray = ModuleState;

TEST_F(PutArray, HoldsTheDefinedNumberOfCells)
{
    filter_definition.put_array_size = 256;
    create_put_array();
    EXPECT_EQ(fetch(255), 0);
    EXPECT_EQ(put(7, 255), 7);
    EXPECT_EQ(fetch(255), 7);
    EXPECT_EQ(put(7, 256), 0);
    EXPECT_EQ(put(7, -1), 0);
    EXPECT_EQ(fetch(256), 0);
    EXPECT_EQ(fetch(-1), 0);
    EXPECT_EQ(fetch(INT_MIN), 0);
    EXPECT_TRUE(fake_platform.boxes.empty());
}

TEST_F(PutArray, SizeBelowOneMeansTwoHundredFiftySix)
{
    for (int32_t size : {0, -5, INT_MIN}) {
        filter_definition.put_array_size = size;
        create_put_array();
        EXPECT_EQ(put(1, 255), 1) << size;
        EXPECT_EQ(put(1, 256), 0) << size;
    }
    filter_definition.put_array_size = 3;
    create_put_array();
    EXPECT_EQ(put(9, 2), 9);
    EXPECT_EQ(put(9, 3), 0);
}

TEST_F(PutArray, EveryStartGetsAFreshZeroArray)
{
    create_put_array();
    put(42, 10);
    create_put_array();
    EXPECT_EQ(fetch(10), 0);
    EXPECT_EQ(fake_platform.allocations, 2);
}

TEST_F(PutArray, FailedAllocationIsReportedAndLeavesNoCells)
{
    create_put_array();
    put(5, 0);
    fake_platform.fail_allocations = true;
    fake_platform.active_window = 0x4242;
    create_put_array();
    ASSERT_EQ(fake_platform.boxes.size(), 1u);
    const auto& box = fake_platform.boxes[0];
    EXPECT_EQ(box.text, "Cannot initialize put array (internal error)!");
    EXPECT_EQ(box.caption, "Glyphsmithery Error");
    EXPECT_EQ(box.owner, 0x4242);
    EXPECT_EQ(box.style & 0xF0u, 0x10u); // error icon
    EXPECT_EQ(fetch(0), 0);
    EXPECT_EQ(put(1, 0), 0);
    EXPECT_EQ(sort_range(0, 1), 1);
    EXPECT_EQ(fill_gamma(100, 0, 3), 0); // stops at the (empty) end at once
}

TEST_F(PutArray, FillGammaWritesThePowerCurve)
{
    create_put_array();
    auto cells = [](int32_t from, int32_t count) {
        std::vector<int32_t> v;
        for (int32_t i = 0; i < count; ++i) v.push_back(fetch(from + i));
        return v;
    };
    using V = std::vector<int32_t>;
    EXPECT_EQ(fill_gamma(100, 0, 3), 0);
    EXPECT_EQ(cells(0, 3), (V{0, 127, 255}));
    EXPECT_EQ(fill_gamma(200, 0, 3), 0);
    EXPECT_EQ(cells(0, 3), (V{0, 180, 255}));
    current_pass = Interpass;
    EXPECT_EQ(fill_gamma(50, 0, 3), 0);
    EXPECT_EQ(cells(0, 3), (V{0, 63, 255}));
    // Cut at the end of the array, and started before its beginning.
    EXPECT_EQ(fill_gamma(100, 250, 11), 0);
    EXPECT_EQ(cells(250, 6), (V{0, 25, 51, 76, 102, 127}));
    EXPECT_EQ(fill_gamma(100, -2, 5), 0);
    EXPECT_EQ(cells(0, 4), (V{127, 191, 255, 0}));
    EXPECT_EQ(fill_gamma(100, INT_MIN, INT_MAX), 0); // nothing to write, and no long loop
}

TEST_F(PutArray, FillGammaRefusals)
{
    create_put_array();
    put(9, 1);
    current_pass = Main;
    EXPECT_EQ(fill_gamma(100, 0, 3), 1);
    current_pass = Prepass;
    EXPECT_EQ(fill_gamma(100, 0, 3), 1);
    current_pass = Start;
    EXPECT_EQ(fill_gamma(0, 0, 10), 1);
    EXPECT_EQ(fill_gamma(-100, 0, 10), 1);
    EXPECT_EQ(fill_gamma(100, 0, 1), 1);
    EXPECT_EQ(fetch(1), 9);
}

TEST_F(PutArray, SortRangeSortsSignedAndRefusesOutsideTheArray)
{
    create_put_array();
    const int32_t values[] = {5, -3, INT_MAX, INT_MIN, 0};
    for (int32_t i = 0; i < 5; ++i) put(values[i], 10 + i);
    EXPECT_EQ(sort_range(10, 5), 0);
    EXPECT_EQ(fetch(10), INT_MIN);
    EXPECT_EQ(fetch(11), -3);
    EXPECT_EQ(fetch(12), 0);
    EXPECT_EQ(fetch(13), 5);
    EXPECT_EQ(fetch(14), INT_MAX);
    EXPECT_EQ(sort_range(250, 7), 1);
    EXPECT_EQ(sort_range(3, 0), 1);
    EXPECT_EQ(sort_range(-1, 2), 1);
    EXPECT_EQ(sort_range(INT_MAX, INT_MAX), 1);
    EXPECT_EQ(sort_range(0, 256), 0);
}

using Random = ModuleState;

TEST_F(Random, SeedOneFirstDraw)
{
    random_seed(1);
    EXPECT_EQ(random_between(0, 32767), 16838);
}

TEST_F(Random, EveryCallDrawsOnceAndStaysWithinItsBounds)
{
    random_seed(12345);
    Lcg lcg{12345};
    EXPECT_EQ(random_between(5, 5), 5);
    lcg.next();
    EXPECT_EQ(random_between(0, 32767), lcg.next());
    for (int i = 0; i < 200; ++i) {
        const int32_t r = lcg.next();
        EXPECT_EQ(random_between(-100, 100), -100 + r * 200 / 32767);
    }
}

TEST_F(Random, ReversedBoundsRunFromAToB)
{
    // Chosen: with b < a the result moves from a (r = 0) toward b.
    random_seed(1); // first draw 16838
    EXPECT_EQ(random_between(10, 0), 10 - 16838 * 10 / 32767);
    Lcg lcg{99};
    random_seed(99);
    for (int i = 0; i < 200; ++i) {
        const int32_t r = lcg.next();
        const int32_t v = random_between(INT_MAX, INT_MIN);
        EXPECT_EQ(v, int32_t(int64_t(INT_MAX) - int64_t(r) * 0xFFFFFFFFll / 32767));
    }
}

TEST_F(Random, WideRangesAreExactProportions)
{
    Lcg lcg{7};
    random_seed(7);
    for (int i = 0; i < 200; ++i) {
        const int64_t r = lcg.next();
        EXPECT_EQ(random_between(INT_MIN, INT_MAX), int32_t(INT_MIN + r * 0xFFFFFFFFll / 32767));
        EXPECT_EQ(random_between(0, 1000000), int32_t(lcg.next() * 1000000ll / 32767));
    }
}

TEST_F(Random, ClockSeedRoundsToWholeSeconds)
{
    fake_platform.calendar_seconds = 1700000000.5;
    seed_random_from_clock();
    EXPECT_EQ(random_between(0, 32767), (Lcg{1700000001u}.next()));
    fake_platform.calendar_seconds = 1700000000.49;
    seed_random_from_clock();
    EXPECT_EQ(random_between(0, 32767), (Lcg{1700000000u}.next()));
    // Beyond 32 bits the low 32 bits of the count seed it.
    fake_platform.calendar_seconds = 4294967296.0 + 5.0;
    seed_random_from_clock();
    EXPECT_EQ(random_between(0, 32767), (Lcg{5u}.next()));
}

using Controls = ModuleState;

TEST_F(Controls, SlidersAndCheckBoxes)
{
    for (int i = 0; i < 16; ++i) control_values[i] = 100 + i;
    EXPECT_EQ(slider(0), 100);
    EXPECT_EQ(slider(7), 107);
    EXPECT_EQ(slider(8), 0);
    EXPECT_EQ(slider(-1), 0);
    EXPECT_EQ(check(0), 115);
    EXPECT_EQ(check(1), 114);
    EXPECT_EQ(check(2), 0);
    EXPECT_EQ(check(-1), 0);
}

TEST_F(Controls, SliderRampBetweenAPairOfSliders)
{
    control_values[0] = 100;
    control_values[1] = 200;
    EXPECT_EQ(slider_ramp(0, 50), 255);
    EXPECT_EQ(slider_ramp(0, 150), 128);
    EXPECT_EQ(slider_ramp(0, 250), 0);
    control_values[0] = 200;
    control_values[1] = 100;
    EXPECT_EQ(slider_ramp(0, 150), 127);
    EXPECT_EQ(slider_ramp(0, 50), 0);
    EXPECT_EQ(slider_ramp(0, 250), 255);
    EXPECT_EQ(slider_ramp(4, 77), 77);
    EXPECT_EQ(slider_ramp(-1, 77), 77);
    control_values[6] = 30;
    control_values[7] = 30;
    EXPECT_EQ(slider_ramp(3, -9), -9);
    // Chosen: values far outside any slider range still give 0..255.
    control_values[2] = INT_MIN;
    control_values[3] = INT_MAX;
    EXPECT_EQ(slider_ramp(1, 0), 255 - int32_t(2147483648ll * 255 / 4294967295ll));
}

TEST_F(Controls, SliderScaledMapsTheRawValue)
{
    filter_definition.controls[0].min_value = 1;
    filter_definition.controls[0].max_value = 100;
    control_values[0] = 50;
    EXPECT_EQ(slider_scaled(0, 0, 1000), 505);
    EXPECT_EQ(slider_scaled(9, 3, 1000), 3);
    EXPECT_EQ(slider_scaled(-1, 3, 1000), 3);
    // Chosen: a slider without a range yields a.
    filter_definition.controls[1].min_value = 5;
    filter_definition.controls[1].max_value = 5;
    control_values[1] = 5;
    EXPECT_EQ(slider_scaled(1, 3, 1000), 3);
    // 32-bit throughout: a span that wraps to -1 with the quotient INT_MIN / -1.
    filter_definition.controls[2].min_value = INT_MIN;
    filter_definition.controls[2].max_value = INT_MAX;
    control_values[2] = INT_MIN;
    EXPECT_EQ(slider_scaled(2, 0, 1), INT_MIN);
}

TEST_F(Controls, ColourComponents)
{
    const unsigned char fore[3] = {11, 22, 33}, back[3] = {44, 55, 66};
    std::memcpy(pixel_context.fore_colour, fore, 3);
    std::memcpy(pixel_context.back_colour, back, 3);
    filter_definition.custom_colours[0] = 0x00332211;
    filter_definition.custom_colours[1] = 0x00FFEEDD;
    filter_definition.colour_count = 2;
    EXPECT_EQ(color_component(-1, 0), 11);
    EXPECT_EQ(color_component(-2, 2), 66);
    EXPECT_EQ(color_component(-1, 3), 0);
    EXPECT_EQ(color_component(-1, -1), 0);
    EXPECT_EQ(color_component(0, 0), 0x11);
    EXPECT_EQ(color_component(1, 2), 0xFF);
    EXPECT_EQ(color_component(2, 0), 0);
    EXPECT_EQ(color_component(-3, 0), 0);
    filter_definition.colour_count = 0;
    EXPECT_EQ(color_component(0, 0), 0);
    // Only eight colours exist, whatever the count claims.
    filter_definition.colour_count = 1000;
    filter_definition.custom_colours[7] = 0x00000009;
    EXPECT_EQ(color_component(7, 0), 9);
    EXPECT_EQ(color_component(8, 0), 0);
    EXPECT_EQ(reserved_zero(5, 6), 0);
}

using AbortTest = ModuleState;

int host_abort_calls;
Boolean PS_CDECL cancelling_abort()
{
    ++host_abort_calls;
    return 1;
}

TEST_F(AbortTest, AsksTheHostOnEvery10001stCallOfARealRun)
{
    FilterRecord record{};
    record.abortProc = cancelling_abort;
    filter_record = &record;
    host_abort_calls = 0;
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(test_abort(), 0);
    EXPECT_EQ(host_abort_calls, 0);
    EXPECT_EQ(test_abort(), 1);
    EXPECT_EQ(host_abort_calls, 1);
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(test_abort(), 0);
    preview_start_time = -1; // a stopped preview asks the host too
    EXPECT_EQ(test_abort(), 1);
    EXPECT_EQ(host_abort_calls, 2);
    record.abortProc = nullptr;
    for (int i = 0; i < 10000; ++i) test_abort();
    EXPECT_EQ(test_abort(), 0);
}

TEST_F(AbortTest, StopsAPreviewAfterTwoSeconds)
{
    filter_record = nullptr;
    preview_start_time = 1000;
    fake_platform.time_of_day_ms = 3500;
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(test_abort(), 0);
    EXPECT_EQ(test_abort(), 1);
    EXPECT_EQ(preview_start_time, -1);

    preview_start_time = 1000;
    fake_platform.time_of_day_ms = 3000; // exactly 2000 ms: not yet
    for (int i = 0; i < 10000; ++i) test_abort();
    EXPECT_EQ(test_abort(), 0);
    EXPECT_EQ(preview_start_time, 1000);
}

TEST_F(AbortTest, APreviewSpanningMidnight)
{
    preview_start_time = 86399000;
    fake_platform.time_of_day_ms = 500; // 1500 ms later
    for (int i = 0; i < 10000; ++i) test_abort();
    EXPECT_EQ(test_abort(), 0);
    fake_platform.time_of_day_ms = 1500; // 2500 ms later
    for (int i = 0; i < 10000; ++i) test_abort();
    EXPECT_EQ(test_abort(), 1);
    // A clock reading far outside the day is handled without looping.
    preview_start_time = INT_MAX;
    fake_platform.time_of_day_ms = INT_MIN;
    for (int i = 0; i < 10000; ++i) test_abort();
    const int64_t elapsed = ((int64_t(INT_MIN) - INT_MAX) % 86400000 + 86400000) % 86400000;
    EXPECT_EQ(test_abort(), elapsed > 2000 ? 1 : 0);
}

} // namespace
