// HLS built-ins: both conversions on a fresh cache, and the one cache the two
// directions share.
#include <gtest/gtest.h>

#include <array>

#include "runtime/builtins.h"
#include "runtime/kernel.h"

namespace {

using Rgb = std::array<int32_t, 3>;

struct Hls : ::testing::Test {
    KernelVariables saved = kernel_vars;
    void SetUp() override { reset_colour_cache(); }
    void TearDown() override
    {
        kernel_vars = saved;
        reset_colour_cache();
    }
    static Rgb output() { return {kernel_vars.v[slot::out_red], kernel_vars.v[slot::out_green], kernel_vars.v[slot::out_blue]}; }
    static Rgb fresh_set(int32_t h, int32_t l, int32_t s)
    {
        reset_colour_cache();
        EXPECT_EQ(set_hls(h, l, s), 0);
        return output();
    }
    static int32_t fresh_hue(int32_t r, int32_t g, int32_t b)
    {
        reset_colour_cache();
        return hue_of(r, g, b);
    }
};

TEST_F(Hls, Analysis)
{
    EXPECT_EQ(fresh_hue(0, 255, 0), 341);
    EXPECT_EQ(fresh_hue(0, 0, 255), 682);
    EXPECT_EQ(fresh_hue(255, 255, 0), 170);
    EXPECT_EQ(fresh_hue(255, 0, 255), 853);
    EXPECT_EQ(fresh_hue(200, 100, 50), 57);
    EXPECT_EQ(lightness_of(200, 100, 50), 125);
    EXPECT_EQ(saturation_of(200, 100, 50), 153);
    EXPECT_EQ(saturation_of(255, 200, 200), 255); // the denominator above lightness 128
    EXPECT_EQ(fresh_hue(300, -5, 0), 0);          // clamped to (255, 0, 0)
    EXPECT_EQ(lightness_of(255, 0, 0), 127);
    EXPECT_EQ(saturation_of(255, 0, 0), 255);
}

TEST_F(Hls, Synthesis)
{
    EXPECT_EQ(fresh_set(0, 127, 255), (Rgb{254, 0, 0}));
    EXPECT_EQ(fresh_set(0, 128, 255), (Rgb{255, 1, 1}));
    EXPECT_EQ(fresh_set(341, 127, 255), (Rgb{1, 254, 0}));
    EXPECT_EQ(fresh_set(682, 127, 255), (Rgb{0, 1, 254}));
    EXPECT_EQ(fresh_set(-1, 127, 255), (Rgb{254, 0, 1}));
    EXPECT_EQ(fresh_set(1023, 127, 255), (Rgb{254, 0, 1}));
    EXPECT_EQ(fresh_set(5, 100, 0), (Rgb{100, 100, 100}));
    EXPECT_EQ(fresh_set(0, 999, -3), (Rgb{255, 255, 255}));
    kernel_vars.v[slot::out_alpha] = 77;
    set_hls(0, 127, 255);
    EXPECT_EQ(kernel_vars.v[slot::out_alpha], 77);
}

TEST_F(Hls, OneCacheAnswersBothDirections)
{
    set_hls(1000, 100, 0);
    EXPECT_EQ(output(), (Rgb{100, 100, 100}));
    EXPECT_EQ(hue_of(100, 100, 100), 1000);
    EXPECT_EQ(fresh_hue(100, 100, 100), 0);

    // After an analysis, set_hls with exactly its values gives the colour back.
    const int32_t h = hue_of(200, 100, 50), l = lightness_of(200, 100, 50), s = saturation_of(200, 100, 50);
    set_hls(h, l, s);
    EXPECT_EQ(output(), (Rgb{200, 100, 50}));
    set_hls(h, l, s - 1);
    EXPECT_NE(output(), (Rgb{200, 100, 50}));
    // A fresh cache matches no valid colour, not even black.
    reset_colour_cache();
    EXPECT_EQ(fresh_set(0, 0, 0), (Rgb{0, 0, 0}));
}

} // namespace
