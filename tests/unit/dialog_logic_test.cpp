// The dialog's arithmetic: slider steps, typed-value correction, zoom and pan.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "settings/settings.h"
#include "ui/dialog_logic.h"

namespace {

TEST(SliderClamp, RaisesToMinimumThenLowersToMaximum)
{
    EXPECT_EQ(clamp_slider_value(0, 1, 100), 1);
    EXPECT_EQ(clamp_slider_value(250, 1, 100), 100);
    EXPECT_EQ(clamp_slider_value(42, 1, 100), 42);
    EXPECT_EQ(clamp_slider_value(INT32_MIN, 1, 100), 1);
    EXPECT_EQ(clamp_slider_value(INT32_MAX, 1, 100), 100);
    // A minimum above the maximum: the maximum wins.
    EXPECT_EQ(clamp_slider_value(0, 50, 10), 10);
    EXPECT_EQ(clamp_slider_value(70, 50, 10), 10);
}

TEST(SliderScroll, LinesStopAtTheEnds)
{
    EXPECT_EQ(scrolled_slider_value(scroll_line_up, 0, 5, 1, 100), 4);
    EXPECT_EQ(scrolled_slider_value(scroll_line_up, 0, 1, 1, 100), 1);
    EXPECT_EQ(scrolled_slider_value(scroll_line_down, 0, 99, 1, 100), 100);
    EXPECT_EQ(scrolled_slider_value(scroll_line_down, 0, 100, 1, 100), 100);
}

TEST(SliderScroll, PagesMoveByAnEighthOfTheRangeAndStopAtTheEnds)
{
    // (100 - 1) / 8 = 12.
    EXPECT_EQ(scrolled_slider_value(scroll_page_down, 0, 50, 1, 100), 62);
    EXPECT_EQ(scrolled_slider_value(scroll_page_up, 0, 50, 1, 100), 38);
    EXPECT_EQ(scrolled_slider_value(scroll_page_down, 0, 95, 1, 100), 100);
    EXPECT_EQ(scrolled_slider_value(scroll_page_up, 0, 5, 1, 100), 1);
    // A range narrower than 8 has no page step.
    EXPECT_EQ(scrolled_slider_value(scroll_page_down, 0, 3, 0, 7), 3);
    // A negative range: (-10 - -100) / 8 = 11.
    EXPECT_EQ(scrolled_slider_value(scroll_page_up, 0, -20, -100, -10), -31);
}

TEST(SliderScroll, PagesOverTheWidestRangeDoNotOverflow)
{
    // (INT32_MAX - INT32_MIN) / 8 = 536870911.
    EXPECT_EQ(scrolled_slider_value(scroll_page_down, 0, 0, INT32_MIN, INT32_MAX), 536870911);
    EXPECT_EQ(scrolled_slider_value(scroll_page_down, 0, INT32_MAX - 5, INT32_MIN, INT32_MAX), INT32_MAX);
    EXPECT_EQ(scrolled_slider_value(scroll_page_up, 0, INT32_MIN + 5, INT32_MIN, INT32_MAX), INT32_MIN);
}

TEST(SliderScroll, ThumbEndsAndUnknownCodes)
{
    EXPECT_EQ(scrolled_slider_value(scroll_thumb_track, 37, 5, 1, 100), 37);
    EXPECT_EQ(scrolled_slider_value(scroll_thumb_position, 80, 5, 1, 100), 80);
    // The high word is a signed 16-bit position.
    EXPECT_EQ(scrolled_slider_value(scroll_thumb_track, 0xFFF6, 0, -50, 50), -10);
    // A forged position outside the range stays in it.
    EXPECT_EQ(scrolled_slider_value(scroll_thumb_track, 500, 5, 1, 100), 100);
    EXPECT_EQ(scrolled_slider_value(scroll_top, 0, 50, 1, 100), 1);
    EXPECT_EQ(scrolled_slider_value(scroll_bottom, 0, 50, 1, 100), 100);
    EXPECT_EQ(scrolled_slider_value(8, 0, 50, 1, 100), 50); // end of tracking
    EXPECT_EQ(scrolled_slider_value(-1, 0, 50, 1, 100), 50);
}

TEST(TypedValue, InRangeIsTakenAsItStands)
{
    TypedValue t = correct_typed_value(42, true, 1, 100);
    EXPECT_EQ(t.value, 42);
    EXPECT_FALSE(t.rewrite);
}

TEST(TypedValue, OutOfRangeIsPulledInAndRewritten)
{
    TypedValue high = correct_typed_value(250, true, 1, 100);
    EXPECT_EQ(high.value, 100);
    EXPECT_TRUE(high.rewrite);
    TypedValue low = correct_typed_value(0, true, 1, 100);
    EXPECT_EQ(low.value, 1);
    EXPECT_TRUE(low.rewrite);
}

TEST(TypedValue, AnEmptyBoxBecomesTheValueNearestZero)
{
    // Not a number reads as 0: lo when lo > 0, hi when hi < 0, else 0.
    TypedValue positive = correct_typed_value(0, false, 1, 100);
    EXPECT_EQ(positive.value, 1);
    EXPECT_TRUE(positive.rewrite);
    TypedValue negative = correct_typed_value(12345, false, -100, -5);
    EXPECT_EQ(negative.value, -5);
    EXPECT_TRUE(negative.rewrite);
    TypedValue spanning = correct_typed_value(0, false, -100, 100);
    EXPECT_EQ(spanning.value, 0);
    EXPECT_TRUE(spanning.rewrite); // the box gets its "0" back
}

TEST(TypedValue, ARewrittenValueReadsBackAsFinalEvenWithAnInvertedRange)
{
    // The rewritten text comes back through the same rule; it must settle at
    // once, or the box's change notifications would never end.
    for (int32_t typed : {-1000, 0, 10, 30, 50, 1000}) {
        TypedValue first = correct_typed_value(typed, true, 50, 10);
        TypedValue second = correct_typed_value(first.value, true, 50, 10);
        EXPECT_EQ(second.value, first.value) << typed;
        EXPECT_FALSE(second.rewrite) << typed;
    }
}

TEST(FitZoom, SmallestFactorAtWhichTheWholeImageFits)
{
    EXPECT_EQ(fit_zoom_factor(192, 192, 1000, 800), 6);
    EXPECT_EQ(fit_zoom_factor(192, 192, 192, 192), 1);
    EXPECT_EQ(fit_zoom_factor(192, 192, 193, 10), 2);
    EXPECT_EQ(fit_zoom_factor(192, 192, 10, 385), 3);
    EXPECT_EQ(fit_zoom_factor(192, 192, 1, 1), 1);
    EXPECT_EQ(fit_zoom_factor(192, 192, 32767, 32767), 171);
}

TEST(FitZoom, EmptyClientAreaOrImageGivesOne)
{
    EXPECT_EQ(fit_zoom_factor(0, 0, 1000, 800), 1);
    EXPECT_EQ(fit_zoom_factor(0, 192, 1000, 800), 5); // the other axis still counts
    EXPECT_EQ(fit_zoom_factor(-4, -4, 1000, 800), 1);
    EXPECT_EQ(fit_zoom_factor(192, 192, 0, 0), 1);
    EXPECT_EQ(fit_zoom_factor(192, 192, -32768, -1), 1);
}

TEST(ZoomButtons, PlusLowersTheFactorAndShiftGoesToOne)
{
    ZoomView v = zoom_button(true, false, {4, 0, 0}, 6, 192, 192);
    EXPECT_EQ(v.zoom, 3);
    EXPECT_EQ(zoom_button(true, false, {1, 0, 0}, 6, 192, 192).zoom, 1);
    EXPECT_EQ(zoom_button(true, true, {6, 0, 0}, 6, 192, 192).zoom, 1);
}

TEST(ZoomButtons, MinusRaisesTheFactorUpToTheMaximumAndShiftGoesThere)
{
    EXPECT_EQ(zoom_button(false, false, {3, 0, 0}, 6, 192, 192).zoom, 4);
    EXPECT_EQ(zoom_button(false, false, {6, 0, 0}, 6, 192, 192).zoom, 6);
    EXPECT_EQ(zoom_button(false, true, {2, 0, 0}, 6, 192, 192).zoom, 6);
}

TEST(ZoomButtons, TheImagePointInTheMiddleStaysInTheMiddle)
{
    // Centre at 6: ((96 + 10) * 6, (96 + 0) * 6) = (636, 576); at 1 the pan
    // puts that point at (96, 96): 636 - 96 = 540, 576 - 96 = 480.
    ZoomView v = zoom_button(true, true, {6, 10, 0}, 6, 192, 192);
    EXPECT_EQ(v.zoom, 1);
    EXPECT_EQ(v.pan_x, 540);
    EXPECT_EQ(v.pan_y, 480);
    // Back out to 6: 636 / 6 - 96 = 10 again.
    ZoomView back = zoom_button(false, true, v, 6, 192, 192);
    EXPECT_EQ(back.pan_x, 10);
    EXPECT_EQ(back.pan_y, 0);
    // Divisions truncate toward zero: (64 + 0) * 2 / 3 - 64 = 42 - 64 = -22.
    ZoomView odd = zoom_button(false, false, {2, 0, -100}, 6, 128, 128);
    EXPECT_EQ(odd.pan_x, -22);
    EXPECT_EQ(odd.pan_y, (64 - 100) * 2 / 3 - 64);
}

TEST(ZoomButtons, ExtremePansAndABrokenMaximumStaySafe)
{
    ZoomView far = zoom_button(false, false, {1, INT32_MAX, INT32_MIN}, 32767, 192, 192);
    EXPECT_EQ(far.zoom, 2);
    EXPECT_EQ(far.pan_x, (static_cast<int64_t>(INT32_MAX) + 96) / 2 - 96);
    EXPECT_EQ(far.pan_y, (static_cast<int64_t>(INT32_MIN) + 96) / 2 - 96);
    ZoomView from_huge = zoom_button(true, true, {32767, INT32_MAX, 0}, 32767, 192, 192);
    EXPECT_EQ(from_huge.pan_x, INT32_MAX);
    // A maximum of 0 never becomes a divisor.
    EXPECT_EQ(zoom_button(false, true, {1, 5, 5}, 0, 192, 192).zoom, 1);
}

TEST(ZoomText, ReadsOneToNForAnyFactor)
{
    char text[16];
    format_zoom_text(text, sizeof text, 6);
    EXPECT_STREQ(text, "1:6");
    format_zoom_text(text, sizeof text, INT32_MIN);
    EXPECT_STREQ(text, "1:-2147483648");
    char tiny[3] = {'x', 'x', 'x'};
    format_zoom_text(tiny, sizeof tiny, 171);
    EXPECT_STREQ(tiny, "1:");
}

TEST(DefinitionText, EmptySliderLabelsAreNamedAndOthersKept)
{
    char empty[32] = {};
    fill_empty_slider_label(empty, 3);
    EXPECT_STREQ(empty, "Slider 3:");
    char named[32] = "Size:";
    fill_empty_slider_label(named, 1);
    EXPECT_STREQ(named, "Size:");
}

TEST(DefinitionText, AFullFieldIsCutAtItsEnd)
{
    char field[4] = {'a', 'b', 'c', 'd'}; // no terminator
    char out[16];
    copy_field_text(out, sizeof out, field, sizeof field);
    EXPECT_STREQ(out, "abcd");
    char small[3];
    copy_field_text(small, sizeof small, field, sizeof field);
    EXPECT_STREQ(small, "ab");
    copy_field_text(out, sizeof out, "Size:\0der", 10);
    EXPECT_STREQ(out, "Size:");
}

TEST(Swatches, OnlyUsedColoursThatExistAreLive)
{
    EXPECT_TRUE(swatch_is_live(1, 2));
    EXPECT_FALSE(swatch_is_live(2, 2));
    EXPECT_FALSE(swatch_is_live(0, 0));
    EXPECT_FALSE(swatch_is_live(-1, 6));
    EXPECT_TRUE(swatch_is_live(7, 100));
    EXPECT_FALSE(swatch_is_live(8, 100)); // control 409 with too large a count
}

TEST(StoredValue, ShortValuesReplaceLeadingBytesOnly)
{
    int32_t values[16];
    for (int i = 0; i < 16; ++i) values[i] = 100 + i;
    const int32_t stored[2] = {7, -8};
    apply_stored_value(values, sizeof values, true, true, stored, sizeof stored);
    EXPECT_EQ(values[0], 7);
    EXPECT_EQ(values[1], -8);
    for (int i = 2; i < 16; ++i) EXPECT_EQ(values[i], 100 + i);
}

TEST(StoredValue, FailedOrMistypedReadsLeaveZeros)
{
    int32_t values[16];
    const unsigned char garbage[64] = {1, 2, 3, 4, 5};
    for (bool ok : {false, true}) {
        for (bool binary : {false, true}) {
            if (ok && binary) continue;
            std::memset(values, 0x55, sizeof values);
            apply_stored_value(values, sizeof values, ok, binary, garbage, sizeof garbage);
            for (int32_t v : values) EXPECT_EQ(v, 0) << ok << binary;
        }
    }
}

TEST(StoredValue, AnOverlongReportIsCutToTheArray)
{
    uint32_t colours[8] = {};
    unsigned char data[40];
    std::memset(data, 0xAB, sizeof data);
    apply_stored_value(colours, sizeof colours, true, true, data, sizeof data);
    for (uint32_t c : colours) EXPECT_EQ(c, 0xABABABABu);
}

TEST(ModuleDir, CutAtTheLastBackslash)
{
    char path[64] = "C:\\Hosts\\Plug-ins\\Cellumbra.8bf";
    cut_at_last_backslash(path);
    EXPECT_STREQ(path, "C:\\Hosts\\Plug-ins");
    char bare[16] = "Cellumbra.8bf";
    cut_at_last_backslash(bare);
    EXPECT_STREQ(bare, "Cellumbra.8bf");
}

} // namespace
