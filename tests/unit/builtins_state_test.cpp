// Put array, random generator, controls, colours and the abort test, each
// group starting from the state a freshly loaded module has.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "runtime/definition.h"
#include "runtime/builtins.h"
#include "runtime/kernel.h"
#include "settings/settings.h"
#include "runtime/host_calls.h"
#include "shell/shell.h"
#include "support/fake_platform.h"

namespace {

// Saves every global these built-ins read and gives each test a fresh module.
struct ModuleState : ::testing::Test {
    FilterDefinition definition = filter_definition;
    int32_t controls[16];
    RunState run = run_state;

    void SetUp() override
    {
        std::memcpy(controls, control_values, sizeof controls);
        fake_platform.reset();
        reset_state_builtins();
        run_state.current_pass = Start;
        run_state.mode = RunMode::real_run;
    }
    void TearDown() override
    {
        reset_state_builtins();
        filter_definition = definition;
        std::memcpy(control_values, controls, sizeof controls);
        run_state = run;
        fake_platform.reset();
    }
    static std::vector<int32_t> cells(int32_t from, int32_t count)
    {
        std::vector<int32_t> v;
        for (int32_t i = 0; i < count; ++i) v.push_back(fetch(from + i));
        return v;
    }
    static void calls_before_a_test()
    {
        for (int i = 0; i < 10000; ++i) ASSERT_EQ(test_abort(), 0);
    }
};

// The documented generator, computed independently.
int32_t first_draw(uint32_t seed)
{
    return int32_t(((seed * 1103515245u + 12345u) >> 16) & 0x7FFF);
}

using V = std::vector<int32_t>;
using PutArray = ModuleState;

TEST_F(PutArray, CellsOfTheDefinedCountFreshAtEveryStart)
{
    create_put_array();
    EXPECT_EQ(fetch(255), 0);
    EXPECT_EQ(put(7, 255), 7);
    EXPECT_EQ(fetch(255), 7);
    EXPECT_EQ(put(7, 256), 0);
    EXPECT_EQ(put(7, -1), 0);
    create_put_array();
    EXPECT_EQ(fetch(255), 0);
    filter_definition.put_array_size = 0;
    create_put_array();
    EXPECT_EQ(put(1, 255), 1);
    EXPECT_EQ(put(1, 256), 0);
    EXPECT_TRUE(fake_platform.boxes.empty());
}

TEST_F(PutArray, FailedAllocationIsReportedAndLeavesNoCells)
{
    fake_platform.fail_allocations = true;
    fake_platform.active_window = 0x4242;
    create_put_array();
    ASSERT_EQ(fake_platform.boxes.size(), 1u);
    EXPECT_EQ(fake_platform.boxes[0].text, "Cannot initialize put array (internal error)!");
    EXPECT_EQ(fake_platform.boxes[0].caption, "Glyphsmithery Error");
    EXPECT_EQ(fake_platform.boxes[0].owner, 0x4242);
    EXPECT_EQ(fake_platform.boxes[0].style & 0xF0u, 0x10u);
    EXPECT_EQ(put(1, 0), 0);
    EXPECT_EQ(sort_range(0, 1), 1);
    EXPECT_EQ(fill_gamma(100, 0, 3), 0);
}

TEST_F(PutArray, FillGamma)
{
    create_put_array();
    EXPECT_EQ(fill_gamma(100, 0, 3), 0);
    EXPECT_EQ(cells(0, 3), (V{0, 127, 255}));
    EXPECT_EQ(fill_gamma(200, 0, 3), 0);
    EXPECT_EQ(cells(0, 3), (V{0, 180, 255}));
    run_state.current_pass = Interpass;
    EXPECT_EQ(fill_gamma(50, 0, 3), 0);
    EXPECT_EQ(cells(0, 3), (V{0, 63, 255}));
    EXPECT_EQ(fill_gamma(100, 250, 11), 0);
    EXPECT_EQ(cells(250, 6), (V{0, 25, 51, 76, 102, 127}));
    EXPECT_EQ(fill_gamma(100, -2, 5), 0);
    EXPECT_EQ(cells(0, 4), (V{127, 191, 255, 0}));
    EXPECT_EQ(fill_gamma(100, INT_MIN, INT_MAX), 0); // nothing to write, and no long loop
    EXPECT_EQ(fill_gamma(0, 0, 10), 1);
    EXPECT_EQ(fill_gamma(100, 0, 1), 1);
    run_state.current_pass = Main;
    EXPECT_EQ(fill_gamma(100, 5, 3), 1);
    EXPECT_EQ(cells(5, 3), (V{0, 0, 0}));
}

TEST_F(PutArray, SortRange)
{
    create_put_array();
    const V values = {5, -3, INT_MAX, INT_MIN, 0};
    for (int32_t i = 0; i < 5; ++i) put(values[i], 10 + i);
    EXPECT_EQ(sort_range(10, 5), 0);
    EXPECT_EQ(cells(10, 5), (V{INT_MIN, -3, 0, 5, INT_MAX}));
    EXPECT_EQ(sort_range(250, 7), 1);
    EXPECT_EQ(sort_range(3, 0), 1);
    EXPECT_EQ(sort_range(-1, 2), 1);
    EXPECT_EQ(sort_range(INT_MAX, INT_MAX), 1);
}

using Random = ModuleState;

TEST_F(Random, DrawsAndBounds)
{
    random_seed(1);
    EXPECT_EQ(random_between(0, 32767), 16838);
    random_seed(12345);
    EXPECT_EQ(random_between(5, 5), 5);
    const uint32_t after_one = 12345u * 1103515245u + 12345u;
    EXPECT_EQ(random_between(0, 32767), first_draw(after_one));
    // Chosen: b < a runs from a (r = 0) toward b; wide spans are exact.
    random_seed(1);
    EXPECT_EQ(random_between(10, 0), 10 - 16838 * 10 / 32767);
    random_seed(1);
    EXPECT_EQ(random_between(INT_MIN, INT_MAX), int32_t(INT_MIN + 16838 * 0xFFFFFFFFll / 32767));
}

TEST_F(Random, ClockSeedRoundsToWholeSeconds)
{
    fake_platform.calendar_seconds = 1700000000.5;
    seed_random_from_clock();
    EXPECT_EQ(random_between(0, 32767), first_draw(1700000001u));
    fake_platform.calendar_seconds = 1700000000.49;
    seed_random_from_clock();
    EXPECT_EQ(random_between(0, 32767), first_draw(1700000000u));
    fake_platform.calendar_seconds = 4294967296.0 + 5.0; // the low 32 bits
    seed_random_from_clock();
    EXPECT_EQ(random_between(0, 32767), first_draw(5u));
}

using Controls = ModuleState;

TEST_F(Controls, SlidersAndCheckBoxes)
{
    for (int i = 0; i < 16; ++i) control_values[i] = 100 + i;
    EXPECT_EQ(slider(0), 100);
    EXPECT_EQ(slider(8), 0);
    EXPECT_EQ(slider(-1), 0);
    EXPECT_EQ(check(0), 115);
    EXPECT_EQ(check(1), 114);
    EXPECT_EQ(check(2), 0);
}

TEST_F(Controls, SliderRamp)
{
    control_values[0] = 100;
    control_values[1] = 200;
    EXPECT_EQ(slider_ramp(0, 50), 255);
    EXPECT_EQ(slider_ramp(0, 150), 128);
    EXPECT_EQ(slider_ramp(0, 250), 0);
    control_values[0] = 200;
    control_values[1] = 100;
    EXPECT_EQ(slider_ramp(0, 150), 127);
    EXPECT_EQ(slider_ramp(4, 77), 77);
    // Chosen: computed exactly, so even absurd slider values give 0..255.
    control_values[2] = INT_MIN;
    control_values[3] = INT_MAX;
    EXPECT_EQ(slider_ramp(1, 0), 128);
}

TEST_F(Controls, SliderScaled)
{
    filter_definition.controls[0].min_value = 1;
    filter_definition.controls[0].max_value = 100;
    control_values[0] = 50;
    EXPECT_EQ(slider_scaled(0, 0, 1000), 505);
    EXPECT_EQ(slider_scaled(9, 3, 1000), 3);
    filter_definition.controls[1].min_value = 5; // chosen: no range yields a
    filter_definition.controls[1].max_value = 5;
    EXPECT_EQ(slider_scaled(1, 3, 1000), 3);
    filter_definition.controls[2].min_value = INT_MIN; // span wraps to -1
    filter_definition.controls[2].max_value = INT_MAX;
    control_values[2] = INT_MIN;
    EXPECT_EQ(slider_scaled(2, 0, 1), INT_MIN);
}

TEST_F(Controls, ColourComponents)
{
    run_state.pixel_context.fore_colour[0] = 11;
    run_state.pixel_context.back_colour[2] = 66;
    filter_definition.custom_colours[1] = 0x00FFEEDD;
    filter_definition.custom_colours[7] = 0x00000009;
    filter_definition.colour_count = 2;
    EXPECT_EQ(color_component(-1, 0), 11);
    EXPECT_EQ(color_component(-2, 2), 66);
    EXPECT_EQ(color_component(-1, 3), 0);
    EXPECT_EQ(color_component(1, 2), 0xFF);
    EXPECT_EQ(color_component(2, 0), 0);
    filter_definition.colour_count = 0;
    EXPECT_EQ(color_component(0, 0), 0);
    filter_definition.colour_count = 1000; // only eight colours exist
    EXPECT_EQ(color_component(7, 0), 9);
    EXPECT_EQ(color_component(8, 0), 0);
}

using AbortTest = ModuleState;

int host_abort_calls;
Boolean PS_CDECL cancelling_abort()
{
    ++host_abort_calls;
    return 1;
}

TEST_F(AbortTest, AsksTheHostOnEvery10001stCall)
{
    FilterRecord host{};
    host.abortProc = cancelling_abort;
    run_state.filter_record = &host;
    host_abort_calls = 0;
    calls_before_a_test();
    EXPECT_EQ(host_abort_calls, 0);
    EXPECT_EQ(test_abort(), 1);
    EXPECT_EQ(host_abort_calls, 1);
    run_state.mode = RunMode::rendering_stopped; // a stopped preview asks the host too
    calls_before_a_test();
    EXPECT_EQ(test_abort(), 1);
    EXPECT_EQ(host_abort_calls, 2);
}

TEST_F(AbortTest, StopsAPreviewAfterTwoSecondsAlsoAcrossMidnight)
{
    begin_rendering(1000);
    fake_platform.time_of_day_ms = 3000; // exactly 2000 ms: not yet
    calls_before_a_test();
    EXPECT_EQ(test_abort(), 0);
    fake_platform.time_of_day_ms = 3500;
    calls_before_a_test();
    EXPECT_EQ(test_abort(), 1);
    EXPECT_EQ(run_state.mode, RunMode::rendering_stopped);

    begin_rendering(86399000);
    fake_platform.time_of_day_ms = 1500; // 2500 ms later
    calls_before_a_test();
    EXPECT_EQ(test_abort(), 1);
    // A clock far outside the day is corrected without looping.
    begin_rendering(INT_MAX);
    fake_platform.time_of_day_ms = INT_MIN;
    calls_before_a_test();
    const int64_t elapsed = ((int64_t(INT_MIN) - INT_MAX) % 86400000 + 86400000) % 86400000;
    EXPECT_EQ(test_abort(), elapsed > 2000 ? 1 : 0);
}

} // namespace
