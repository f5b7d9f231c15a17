// Sampling while the pixel loop walks a band: src trusts the band the walk
// has checked only until the host is called or the walk ends, so buffers the
// host hands over in a callback, and any change after the walk, are read as
// they are.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "runtime/builtins.h"
#include "runtime/host_calls.h"
#include "shell/shell.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"

namespace {

// What the block sampled, pixel by pixel: src at its own position, plane 0.
std::vector<int32_t> samples;
void sample_block(KernelVariables& v, const BuiltinTable& builtins)
{
    samples.push_back(builtins.src(v.v[slot::x], v.v[slot::y], 0));
}

// A second input buffer with the same layout as the delivered one but every
// byte inverted, which a callback hands over in place of the first. The
// first stays alive: the walk itself still addresses it.
struct Replacement {
    std::unique_ptr<unsigned char[]> bytes;
    FilterRecord* record = nullptr;
    bool handed_over = false;

    void prepare(FilterRecord& r)
    {
        record = &r;
        handed_over = false;
        const size_t size = size_t(r.inRect.bottom - r.inRect.top) * size_t(r.inRowBytes);
        bytes.reset(new unsigned char[size]);
        const auto* old = static_cast<const unsigned char*>(r.inData);
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(255 - old[i]);
    }
    void hand_over()
    {
        if (handed_over) return;
        handed_over = true;
        record->inData = bytes.get();
    }
};
Replacement replacement;

Boolean PS_CDECL abort_handing_over()
{
    replacement.hand_over();
    return 0;
}
void PS_CDECL progress_handing_over(int32, int32)
{
    replacement.hand_over();
}

struct BandSampling : ::testing::Test {
    ScopedModuleState state;
    PixelContext saved_context = run_state.pixel_context;
    std::unique_ptr<FakeHost> host;

    void SetUp() override
    {
        fake_platform.reset();
        samples.clear();
        for (auto& b : kernel_blocks) b = nullptr;
        kernel_blocks[0] = sample_block;
        run_state.zoom_factor = 1;
        run_state.mode = RunMode::real_run;
    }
    void TearDown() override { run_state.pixel_context = saved_context; }

    // One band of the whole picture, delivered as the shell would ask for it.
    void deliver(int32_t width, int32_t height, int32_t planes)
    {
        host = std::make_unique<FakeHost>(width, height, planes);
        run_state.filter_record = &host->record;
        FilterRecord& r = host->record;
        r.inRect = r.outRect = r.maskRect = Rect16{0, 0, int16(height), int16(width)};
        r.inLoPlane = r.outLoPlane = 0;
        r.inHiPlane = r.outHiPlane = int16(planes - 1);
        ASSERT_EQ(host->deliver(), noErr);
        run_state.pixel_context.image_width = width;
        run_state.pixel_context.image_height = height;
        run_state.pixel_context.pixel_stride = planes;
        run_state.pixels_done = 0;
        replacement.prepare(r);
    }
    int32_t source(int32_t column, int32_t row) const { return host->source_at(row, column, 0); }
};

TEST_F(BandSampling, ABufferHandedOverInARowCallbackIsReadFromTheNextRow)
{
    struct Case {
        const char* what;
        bool abort;
    };
    for (const Case c : {Case{"abortProc", true}, Case{"progressProc", false}}) {
        samples.clear();
        deliver(5, 3, 3);
        if (c.abort)
            host->record.abortProc = abort_handing_over;
        else
            host->record.progressProc = progress_handing_over;
        ASSERT_EQ(filter_band(true, Main), noErr) << c.what;
        ASSERT_EQ(samples.size(), 15u) << c.what;
        for (int32_t i = 0; i < 15; ++i) {
            const int32_t column = i % 5, row = i / 5;
            const int32_t want = row == 0 ? source(column, row) : 255 - source(column, row);
            EXPECT_EQ(samples[size_t(i)], want) << c.what << ": pixel (" << column << ", " << row << ")";
        }
    }
}

TEST_F(BandSampling, ABufferHandedOverWhileABlockAsksForAbortIsReadAtOnce)
{
    // The abort test of a block reaches the host in the middle of a row.
    kernel_blocks[0] = [](KernelVariables& v, const BuiltinTable& builtins) {
        samples.push_back(builtins.src(v.v[slot::x], v.v[slot::y], 0));
        if (run_state.pixel_context.column == 2 && run_state.pixel_context.row == 1) test_host_abort();
        samples.push_back(builtins.src(v.v[slot::x], v.v[slot::y], 0));
    };
    deliver(4, 3, 3);
    host->record.abortProc = abort_handing_over;
    ASSERT_EQ(filter_band(false, Main), noErr);
    ASSERT_EQ(samples.size(), 24u);
    for (int32_t i = 0; i < 12; ++i) {
        const int32_t column = i % 4, row = i / 4;
        const bool after = row > 1 || (row == 1 && column >= 2);
        const int32_t before_call = after && !(row == 1 && column == 2) ? 255 - source(column, row) : source(column, row);
        const int32_t after_call = after ? 255 - source(column, row) : source(column, row);
        EXPECT_EQ(samples[size_t(2 * i)], before_call) << "pixel (" << column << ", " << row << ")";
        EXPECT_EQ(samples[size_t(2 * i + 1)], after_call) << "pixel (" << column << ", " << row << ")";
    }
}

TEST_F(BandSampling, AfterAWalkEveryReadChecksTheRecordAgain)
{
    // However the walk ended, a band changed afterwards without any call is seen.
    enum End { normally, cancelled, preview_stopped };
    for (End end : {normally, cancelled, preview_stopped}) {
        deliver(4, 4, 3);
        if (end == cancelled) host->abort_from_call = 1;
        if (end == preview_stopped) {
            begin_rendering(1000);
            kernel_blocks[0] = [](KernelVariables& v, const BuiltinTable& builtins) {
                sample_block(v, builtins);
                run_state.mode = RunMode::rendering_stopped;
            };
        }
        const int16 result = filter_band(true, Main);
        EXPECT_EQ(result, end == cancelled ? userCanceledErr : noErr);
        run_state.mode = RunMode::real_run;
        kernel_blocks[0] = sample_block;

        replacement.hand_over();
        EXPECT_EQ(src(1, 1, 0), 255 - source(1, 1)) << "end " << end;
        // Only the rectangle changes: the same bytes now stand for rows 2-5.
        host->record.inRect = Rect16{2, 0, 6, 4};
        EXPECT_EQ(src(1, 2, 0), 255 - source(1, 0)) << "end " << end;
    }
}

TEST_F(BandSampling, APreviewWalkDividesPositionsByTheZoom)
{
    // The host delivers the reduced picture; the block asks at full-image
    // positions, two image pixels per delivered pixel.
    kernel_blocks[0] = [](KernelVariables& v, const BuiltinTable& builtins) {
        samples.push_back(builtins.src(v.v[slot::x], v.v[slot::y], 0));
        samples.push_back(builtins.src(v.v[slot::x] + 3, v.v[slot::y] + 1, 1));
    };
    deliver(5, 3, 3);
    run_state.zoom_factor = 2;
    begin_rendering(1000);
    ASSERT_EQ(filter_band(false, Main), noErr);
    ASSERT_EQ(samples.size(), 30u);
    for (int32_t i = 0; i < 15; ++i) {
        const int32_t column = i % 5, row = i / 5;
        EXPECT_EQ(samples[size_t(2 * i)], source(column, row));
        const int32_t right = column + 1 < 5 ? column + 1 : 4; // (2c + 3) / 2, clamped into the band
        EXPECT_EQ(samples[size_t(2 * i + 1)], host->source_at(row, right, 1)) << column << ", " << row;
    }
}

} // namespace
