// A band of a block declared pixel-local spread over the run's threads
// (ParallelBand), or walked on the host's thread alone when filter_band hands
// the walk no pool: the walk that a bound pixel-local block instantiates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <thread>

#include "runtime/pixel_loop.h"
#include "runtime/worker_pool.h"

// The band's rows spread over the run's threads. Each thread takes the next
// row not yet taken, waits until it lies within the pool's window, saves the
// host's bytes of it unless it is the next row to be reported, walks it with
// its own copy of the variables, and marks it done. The host's thread (worker 0) works rows as well and, between them,
// makes the host calls for every row finished so far in row order: the pixel
// count, the abort test and progress, exactly as walk_rows makes them. A
// cancel stops every thread before its next row, and every row after the one
// it stopped at gets the host's bytes back: the picture one thread leaves.
template <class Block, int Layout, bool HasMask>
struct ParallelBand final : BandJob {
    const BandWalk& walk;
    const SamplingView view;
    const KernelVariables start; // the variables every thread begins from
    WorkerPool& pool;
    int32_t reported = 0; // rows whose host calls are made
    bool cancelled = false;

    const size_t row_out_bytes; // of outRect's width

    ParallelBand(const BandWalk& w, const SamplingView& v, size_t out_bytes)
        : walk(w), view(v), start(kernel_vars), pool(*w.workers), row_out_bytes(out_bytes) {}

    // The host calls for the finished rows at the front of the band; false
    // once the host asked to cancel.
    bool report_rows(bool wait)
    {
        using namespace pass_detail;
        const FilterRecord& fr = walk.record;
        const Rect16 o = fr.outRect;
        const int32_t rows = o.bottom - o.top;
        while (!cancelled && reported < rows) {
            if (!pool.row_finished(reported)) {
                if (!wait) break;
                std::this_thread::yield();
                continue;
            }
            ++reported;
            count_pixels(o.right - o.left);
            if (!report_row(fr)) {
                cancelled = true;
                pool.stop();
            } else {
                pool.rows_reported(reported);
            }
        }
        return !cancelled;
    }

    void work(int32_t worker) override
    {
        using namespace pass_detail;
        const Rect16 o = walk.record.outRect;
        KernelVariables vars = start;
        int32_t last_row = -1, last_column = 0;
        for (int32_t i; (i = pool.take_row()) >= 0;) {
            // The host's thread makes the calls that move the window on.
            while (!pool.within_window(i) && !pool.stopped()) {
                if (worker == 0) report_rows(false);
                std::this_thread::yield();
            }
            if (pool.stopped()) break;
            const RowBytes row = row_bytes(walk.buffers, i);
            // The next row to be reported has no abort test before it: no
            // cancel can ask for its bytes back.
            if (!pool.is_front(i)) pool.save_row(i, row.out, row_out_bytes);
            const int32_t last =
                pixel_local_row<Block, Layout, HasMask>(walk.setup, view, vars, row, o.top + i, o.left, o.right);
            if (last >= o.left) last_row = o.top + i, last_column = last;
            pool.finish_row(i);
            if (worker == 0 && !report_rows(false)) break;
        }
        if (worker == 0) report_rows(true);
        WorkerResult& result = pool.result(worker);
        result.vars = vars;
        result.last_row = last_row;
        result.last_column = last_column;
    }
};

template <class Block, int Layout, bool HasMask>
int16 parallel_band(const BandWalk& walk)
{
    WorkerPool& pool = *walk.workers;
    run_state.current_pass = walk.setup.pass;
    const Rect16 o = walk.record.outRect;
    pool.begin_band(o.bottom - o.top);
    const size_t out_bytes = size_t(o.right - o.left) * size_t(pass_detail::pixel_stride_of(Layout));
    ParallelBand<Block, Layout, HasMask> band(walk, sampling_view(), out_bytes);
    pool.run(band);
    // The row whose abort test said cancel keeps its cells, as on one thread.
    if (band.cancelled)
        pool.restore_rows_after(band.reported - 1, walk.buffers.out, walk.buffers.out_row_bytes, out_bytes);
    // The copy of the thread that processed the band's last processed pixel.
    const WorkerResult* last = nullptr;
    for (int32_t w = 0; w < pool.count(); ++w)
        if (pool.result(w).last_row >= 0 && (!last || pool.result(w).last_row > last->last_row)) last = &pool.result(w);
    const int16 result = band.cancelled ? userCanceledErr : noErr;
    if (!last) return result;
    KernelVariables vars = last->vars;
    return leave_band(vars, last->last_row, last->last_column, result);
}

// Over the run's threads when filter_band hands the walk the pool, else on
// the host's thread alone, row by row in the same code.
template <class Block, int Layout, bool HasMask>
int16 pixel_local_layout(const BandWalk& walk)
{
    return walk.workers ? parallel_band<Block, Layout, HasMask>(walk) : pixel_local_band<Block, Layout, HasMask>(walk);
}

// The walk of a bound block that its filter declares pixel-local.
template <class Block>
int16 pixel_local_walk(const BandWalk& walk)
{
    const bool mask = walk.buffers.mask != nullptr;
    if (walk.setup.layout == 3)
        return mask ? pixel_local_layout<Block, 3, true>(walk) : pixel_local_layout<Block, 3, false>(walk);
    return mask ? pixel_local_layout<Block, 4, true>(walk) : pixel_local_layout<Block, 4, false>(walk);
}
