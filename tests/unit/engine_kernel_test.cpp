// run_kernel_pass and the variables a block sees: the slots the shell fills,
// what it stores, which optional values the use flags switch on, and how the
// variables live through a run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "runtime/definition.h"
#include "runtime/builtins.h"
#include "runtime/host_calls.h"
#include "shell/shell.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"

namespace {

KernelVariables seen;      // the variables as the last block call found them
KernelPass seen_pass;      // the current pass during that call
int calls;
std::vector<KernelVariables> per_call;

void snapshot_block(KernelVariables& v, const BuiltinTable&)
{
    seen = v;
    seen_pass = run_state.current_pass;
    ++calls;
}

constexpr int32_t untouched = 0x5EED;

struct Kernel : ::testing::Test {
    ScopedModuleState state;
    std::unique_ptr<unsigned char[]> in, out;

    void SetUp() override
    {
        fake_platform.reset();
        std::memset(filter_definition.variable_use_flags, 0, sizeof filter_definition.variable_use_flags);
        for (auto& b : kernel_blocks) b = nullptr;
        calls = 0;
        per_call.clear();
        run_state.zoom_factor = 1;
        run_state.mode = RunMode::real_run;
        run_state.pixel_context = PixelContext{};
        run_state.pixel_context.image_width = 101;
        run_state.pixel_context.image_height = 51;
        run_state.pixel_context.image_planes = 3;
        run_state.pixel_context.pixel_stride = 3;
    }
    // One pixel in exact-size heap blocks, so a read or write past it is caught.
    void pixel(std::initializer_list<unsigned char> bytes)
    {
        const size_t n = bytes.size();
        in.reset(new unsigned char[n]);
        out.reset(new unsigned char[n]);
        std::copy(bytes.begin(), bytes.end(), in.get());
        std::memset(out.get(), 0xAB, n);
        run_state.pixel_context.in_ptr = in.get();
        run_state.pixel_context.out_ptr = out.get();
        run_state.pixel_context.pixel_stride = int32_t(n);
    }
    void flag(KernelPass pass, std::initializer_list<int> slots)
    {
        for (int s : slots) filter_definition.variable_use_flags[pass][s] = 1;
    }
    void fill_untouched()
    {
        for (int32_t& s : kernel_vars.v) s = untouched;
    }
};

TEST_F(Kernel, StartZeroesEverySlotAndRenewsThePutArrayEvenWithoutABlock)
{
    fill_untouched();
    run_kernel_pass(Start);
    for (int32_t s : kernel_vars.v) ASSERT_EQ(s, 0);
    EXPECT_EQ(run_state.current_pass, Start);
    EXPECT_EQ(put(42, 3), 42);
    EXPECT_EQ(fetch(3), 42);
    run_kernel_pass(Start);
    EXPECT_EQ(fetch(3), 0) << "every Start begins with a fresh array";
}

TEST_F(Kernel, AnEmptyBlockPreparesAndStoresNothing)
{
    pixel({1, 2, 3});
    fill_untouched();
    run_kernel_pass(Main);
    EXPECT_EQ(run_state.current_pass, Main);
    EXPECT_EQ(kernel_vars.v[slot::in_red], untouched);
    EXPECT_EQ(kernel_vars.v[slot::x], untouched);
    EXPECT_EQ(out[0], 0xAB);
}

TEST_F(Kernel, ChannelsAndCoordinatesAreFilledForEveryPixelPass)
{
    kernel_blocks[0] = kernel_blocks[1] = snapshot_block;
    pixel({10, 20, 30});
    run_state.pixel_context.column = 7;
    run_state.pixel_context.row = 9;
    for (KernelPass pass : {Prepass, Main}) {
        fill_untouched();
        run_kernel_pass(pass);
        EXPECT_EQ(seen_pass, pass);
        EXPECT_EQ(run_state.current_pass, pass) << "stays set after the call";
        const int32_t* v = seen.v;
        EXPECT_EQ(v[slot::in_red], 10);
        EXPECT_EQ(v[slot::in_green], 20);
        EXPECT_EQ(v[slot::in_blue], 30);
        EXPECT_EQ(v[slot::out_red], 10);
        EXPECT_EQ(v[slot::out_blue], 30);
        EXPECT_EQ(v[slot::in_alpha], 255);
        EXPECT_EQ(v[slot::out_alpha], 255);
        EXPECT_EQ(v[slot::x], 7);
        EXPECT_EQ(v[slot::y], 9);
        // Nothing flagged: no optional slot is written.
        for (int s = slot::luma; s <= slot::previewing; ++s)
            if (s != slot::x && s != slot::y) EXPECT_EQ(v[s], untouched) << s;
    }
}

TEST_F(Kernel, StartAndInterpassSeeTheLastPixelPositionAndNoChannels)
{
    kernel_blocks[2] = kernel_blocks[3] = snapshot_block;
    flag(Interpass, {slot::luma, slot::mask, slot::width});
    pixel({1, 2, 3});
    run_state.pixel_context.column = 5;
    run_state.pixel_context.row = 6;
    run_kernel_pass(Start);
    EXPECT_EQ(seen.v[slot::x], 5);
    EXPECT_EQ(seen.v[slot::in_red], 0);
    fill_untouched();
    run_kernel_pass(Interpass);
    EXPECT_EQ(seen.v[slot::y], 6);
    EXPECT_EQ(seen.v[slot::in_red], untouched);
    EXPECT_EQ(seen.v[slot::luma], untouched) << "colour values belong to pixel passes";
    EXPECT_EQ(seen.v[slot::mask], untouched) << "so does the mask";
    EXPECT_EQ(seen.v[slot::width], 101);
}

TEST_F(Kernel, LumaAndChromaTruncateTowardZero)
{
    kernel_blocks[0] = snapshot_block;
    flag(Main, {slot::luma, slot::chroma_u, slot::chroma_v});
    struct Case {
        unsigned char r, g, b;
        int luma, u, v;
    };
    const Case cases[] = {
        {255, 255, 255, 254, 0, 0},
        {255, 0, 0, 75, -18, 77},
        {0, 255, 0, 149, -36, -64},
        {0, 0, 255, 28, 55, -12},
        {0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        pixel({c.r, c.g, c.b});
        run_kernel_pass(Main);
        EXPECT_EQ(seen.v[slot::luma], c.luma) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_EQ(seen.v[slot::chroma_u], c.u) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_EQ(seen.v[slot::chroma_v], c.v) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
}

TEST_F(Kernel, AngleAndRadiusMeasureFromTheImageCentre)
{
    kernel_blocks[0] = snapshot_block;
    flag(Main, {slot::angle, slot::radius});
    pixel({0, 0, 0});
    // 101 x 51: the centre is (50, 25), whatever the effect centre says.
    run_state.pixel_context.centre_column = 3;
    run_state.pixel_context.centre_row = 4;
    run_state.pixel_context.column = 50;
    run_state.pixel_context.row = 25;
    run_kernel_pass(Main);
    EXPECT_EQ(seen.v[slot::radius], 0);
    EXPECT_EQ(seen.v[slot::angle], 256);
    run_state.pixel_context.column = 100;
    run_state.pixel_context.row = 50;
    run_kernel_pass(Main);
    EXPECT_EQ(seen.v[slot::radius], int(std::sqrt(50.0 * 50 + 25 * 25)));
    EXPECT_EQ(seen.v[slot::angle], 75); // atan(25 / 50) in units of pi / 512, truncated
}

TEST_F(Kernel, ThePreviewScalesCoordinatesByTheZoomFactor)
{
    kernel_blocks[0] = snapshot_block;
    flag(Main, {slot::radius, slot::previewing});
    pixel({0, 0, 0});
    run_state.pixel_context.image_width = 200;
    run_state.pixel_context.image_height = 100;
    run_state.zoom_factor = 4;
    begin_rendering(12345);
    run_state.pixel_context.column = 10;
    run_state.pixel_context.row = 3;
    run_kernel_pass(Main);
    EXPECT_EQ(seen.v[slot::x], 40);
    EXPECT_EQ(seen.v[slot::y], 12);
    EXPECT_EQ(seen.v[slot::radius], int(std::sqrt(60.0 * 60 + 38 * 38))); // from (100, 50) to (40, 12)
    EXPECT_EQ(seen.v[slot::previewing], 1);
    run_state.mode = RunMode::rendering_stopped; // a stopped preview is still a preview
    run_kernel_pass(Main);
    EXPECT_EQ(seen.v[slot::previewing], 1);
    run_state.zoom_factor = 1;
    run_state.mode = RunMode::real_run;
    run_kernel_pass(Main);
    EXPECT_EQ(seen.v[slot::x], 10);
    EXPECT_EQ(seen.v[slot::previewing], 0);
}

TEST_F(Kernel, HostValuesAndMaskAreCopiedWhenFlagged)
{
    kernel_blocks[1] = snapshot_block;
    flag(Prepass, {slot::width, slot::height, slot::planes, slot::max_radius, slot::back_red, slot::back_green,
                   slot::back_blue, slot::fore_red, slot::fore_green, slot::fore_blue, slot::centre_x,
                   slot::centre_y, slot::mask});
    pixel({0, 0, 0});
    run_state.pixel_context.half_diagonal = 56;
    const unsigned char back[3] = {1, 2, 3}, fore[3] = {4, 5, 6};
    std::memcpy(run_state.pixel_context.back_colour, back, 3);
    std::memcpy(run_state.pixel_context.fore_colour, fore, 3);
    run_state.pixel_context.centre_column = 8;
    run_state.pixel_context.centre_row = 9;
    run_kernel_pass(Prepass);
    const int32_t expected[] = {101, 51, 3, 56, 1, 2, 3, 4, 5, 6, 8, 9};
    for (int k = 0; k < 12; ++k) EXPECT_EQ(seen.v[slot::width + k], expected[k]) << slot::width + k;
    EXPECT_EQ(seen.v[slot::mask], 255) << "no mask: fully selected";
    unsigned char mask_byte = 77;
    run_state.pixel_context.mask_ptr = &mask_byte;
    run_kernel_pass(Prepass);
    EXPECT_EQ(seen.v[slot::mask], 77);
}

TEST_F(Kernel, StoredChannelsAreClampedAndOnlyThePixelsPlanesWritten)
{
    static int32_t outputs[4];
    kernel_blocks[0] = [](KernelVariables& v, const BuiltinTable&) {
        std::memcpy(&v.v[slot::out_red], outputs, sizeof outputs);
    };
    const int32_t values[4] = {-5, 300, 128, 1000};
    std::memcpy(outputs, values, sizeof outputs);

    pixel({9, 9, 9});
    run_kernel_pass(Main);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 255);
    EXPECT_EQ(out[2], 128); // and nothing after the third byte: the block is three bytes long

    pixel({9, 9, 9, 9});
    run_kernel_pass(Main);
    EXPECT_EQ(out[3], 255);

    pixel({9, 9, 9, 9, 9, 9});
    run_kernel_pass(Main);
    EXPECT_EQ(out[3], 255);
    EXPECT_EQ(out[4], 0xAB) << "planes beyond the fourth are never written";
    EXPECT_EQ(out[5], 0xAB);

    pixel({9, 9, 9, 40});
    outputs[3] = -1;
    run_kernel_pass(Prepass); // a Prepass stores nothing
    EXPECT_EQ(out[3], 0xAB);
}

TEST_F(Kernel, AlphaIsReadFromTheFourthPlaneOnly)
{
    kernel_blocks[0] = snapshot_block;
    pixel({1, 2, 3, 40, 50});
    run_kernel_pass(Main);
    EXPECT_EQ(seen.v[slot::in_alpha], 40);
    EXPECT_EQ(seen.v[slot::out_alpha], 40);
    EXPECT_EQ(out[3], 40);
    EXPECT_EQ(out[4], 0xAB);
}

TEST_F(Kernel, PixelsWithFewerThanThreePlanesAreNeverReadOrWrittenPastTheirEnd)
{
    kernel_blocks[0] = [](KernelVariables& v, const BuiltinTable& b) {
        snapshot_block(v, b);
        v.v[slot::out_red] = 11;
        v.v[slot::out_green] = 22;
        v.v[slot::out_blue] = 33;
    };
    pixel({70});
    run_kernel_pass(Main);
    EXPECT_EQ(seen.v[slot::in_red], 70);
    EXPECT_EQ(seen.v[slot::in_green], 70);
    EXPECT_EQ(seen.v[slot::in_blue], 70);
    EXPECT_EQ(seen.v[slot::in_alpha], 255);
    EXPECT_EQ(out[0], 11);

    pixel({70, 80});
    run_kernel_pass(Main);
    EXPECT_EQ(seen.v[slot::in_green], 80);
    EXPECT_EQ(seen.v[slot::in_blue], 70);
    EXPECT_EQ(out[0], 11);
    EXPECT_EQ(out[1], 22);
}

// ---------------------------------------------------- variables over a run

int32_t run_number;
std::vector<int32_t> main_saw; // user_vars[0] as each Main call found it
int32_t prepass_first_saw;

void count_in_prepass(KernelVariables& v, const BuiltinTable&)
{
    if (v.v[slot::user_vars + 1] == 0) prepass_first_saw = v.v[slot::user_vars];
    v.v[slot::user_vars + 1] = 1;
    ++v.v[slot::user_vars];
}

void read_in_main(KernelVariables& v, const BuiltinTable&)
{
    main_saw.push_back(v.v[slot::user_vars]);
    v.v[slot::user_vars] += 1000;
}

TEST_F(Kernel, UserVariablesLiveThroughARunAndStartAgainAtZero)
{
    kernel_blocks[0] = read_in_main;
    kernel_blocks[1] = count_in_prepass;
    for (run_number = 0; run_number < 2; ++run_number) {
        main_saw.clear();
        prepass_first_saw = -1;
        FakeHost host(4, 3, 3);
        EXPECT_EQ(host.run(), noErr);
        EXPECT_EQ(prepass_first_saw, 0) << "run " << run_number;
        // Twelve Prepass pixels, then every Main pixel sees the one before it.
        ASSERT_EQ(main_saw.size(), 12u);
        for (size_t i = 0; i < main_saw.size(); ++i) EXPECT_EQ(main_saw[i], 12 + 1000 * int32_t(i));
    }
}

TEST_F(Kernel, TheEffectCentreIsTheStoredOneOnlyWhenBothCoordinatesAreSet)
{
    kernel_blocks[0] = snapshot_block;
    flag(Main, {slot::centre_x, slot::centre_y, slot::max_radius});
    struct Case {
        int32_t x, y, want_x, want_y;
    };
    const Case cases[] = {{-1, -1, 50, 25}, {7, -1, 50, 25}, {-1, 7, 50, 25}, {0, 0, 0, 0}, {70, 40, 70, 40}};
    for (const Case& c : cases) {
        filter_definition.stored_centre[0] = c.x;
        filter_definition.stored_centre[1] = c.y;
        FakeHost host(101, 51, 3);
        EXPECT_EQ(host.run(), noErr);
        EXPECT_EQ(seen.v[slot::centre_x], c.want_x) << c.x << "," << c.y;
        EXPECT_EQ(seen.v[slot::centre_y], c.want_y) << c.x << "," << c.y;
    }
    FakeHost square(100, 100, 3);
    square.run();
    EXPECT_EQ(seen.v[slot::max_radius], 70);
    FakeHost wide(640, 480, 3);
    wide.run();
    EXPECT_EQ(seen.v[slot::max_radius], 400);
}

} // namespace
