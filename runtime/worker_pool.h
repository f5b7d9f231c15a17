// The threads of one real run, for blocks declared pixel-local: the rows of a
// band are handed out to them one at a time, while the host's thread works
// rows too and alone makes every host call, once per row and in row order.
// No row is taken more than a window of rows ahead of the host calls, and
// every row taken ahead of them is saved first, so that a cancel can put
// back the host's bytes of every row after the one it stopped at.
// The pool lives inside the start selector: its threads start before the
// first band is requested when the planned bands are worth splitting, and are
// joined before the selector returns.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "runtime/kernel.h"
#include "runtime/run_state.h"
#include "runtime/worker_thread.h"

// The count that CELLUMBRA_THREADS asks for when it holds exactly a number
// from 1 to 64; otherwise the logical processors, at most default_worker_cap.
// One means the single-thread walk, as before there were workers.
constexpr int32_t max_workers = 64;
constexpr int32_t default_worker_cap = 16;
int32_t worker_count_from(const char* setting, int32_t processors);
int32_t planned_worker_count(); // from the environment and this machine
bool worker_count_asked();      // CELLUMBRA_THREADS holds a count

// Bands of fewer pixels (run_state.split_min_pixels) are walked on the host's
// thread alone: starting the threads for them can cost more than they save.
inline bool worth_splitting(int32_t rows, int32_t width)
{
    return rows >= 2 && int64_t{rows} * width >= run_state.split_min_pixels;
}

// Whether a run of a picture of this many pixels starts threads at all. A
// block whose rows are copies needs copies_split_factor times the smallest
// split band, unless CELLUMBRA_THREADS asks for a count: that count then
// serves every band worth splitting, as for any other block.
inline bool worth_threads(int64_t picture_pixels, bool copies_rows, bool count_asked)
{
    return !copies_rows || count_asked ||
           picture_pixels >= int64_t{run_state.split_min_pixels} * copies_split_factor;
}

// What one worker leaves behind after a band: its copy of the variables and
// the last pixel it processed (row -1: none).
struct alignas(64) WorkerResult {
    KernelVariables vars;
    int32_t last_row, last_column;
};

// The work of one band. `work` runs on every thread of the pool at once, the
// host's thread with index 0.
struct BandJob {
    virtual void work(int32_t worker) = 0;

protected:
    ~BandJob() = default;
};

class WorkerPool {
public:
    // `workers` threads in all, the host's included; rows: the tallest band;
    // row_bytes: the widest output row a band may have.
    WorkerPool(int32_t workers, int32_t rows, size_t row_bytes);
    ~WorkerPool(); // stops and joins every thread
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Threads that can work, the host's included: 1 when nothing could be set
    // up (the walk then stays on the host's thread).
    int32_t count() const { return count_; }
    // Whether a band of these rows, each of these output bytes, can be spread.
    bool can_spread(int32_t rows, size_t row_bytes) const
    {
        return rows <= row_capacity_ && row_bytes <= saved_row_bytes_;
    }

    // Rows 0..rows-1 of a band, handed out in increasing order.
    void begin_band(int32_t rows);
    int32_t take_row(); // -1: none left, or the band was stopped
    // A row may be walked once it lies within the window of the rows whose
    // host calls are made.
    bool within_window(int32_t row) const { return row < front_.load(std::memory_order_acquire) + window_; }
    bool is_front(int32_t row) const { return row == front_.load(std::memory_order_acquire); }
    // Keeps the host's bytes of a row before it is walked.
    void save_row(int32_t row, const unsigned char* out, size_t bytes);
    void finish_row(int32_t row) { row_state_[row].fetch_or(state_finished, std::memory_order_release); }
    bool row_finished(int32_t row) const { return row_state_[row].load(std::memory_order_acquire) & state_finished; }
    // The host's thread: the abort test of rows 0..rows-1 let them stand.
    void rows_reported(int32_t rows) { front_.store(rows, std::memory_order_release); }
    void stop() { stopped_.store(true, std::memory_order_relaxed); }
    bool stopped() const { return stopped_.load(std::memory_order_relaxed); }
    // After run returns: the host's bytes back into every row after `row`
    // that a thread began; `out` is row 0's output.
    void restore_rows_after(int32_t row, unsigned char* out, intptr_t out_row_bytes, size_t bytes);

    // Starts the threads, once: before the first band is requested, so that
    // they are ready by the time it arrives, or else at the first run.
    void start();
    // Runs job.work on every thread and returns when all have returned.
    void run(BandJob& job);

    WorkerResult& result(int32_t worker) { return results_[worker]; }

    // Test hooks: threads not yet joined, and threads ever started.
    static int32_t live_threads();
    static int32_t started_threads();

private:
    enum : unsigned char { state_saved = 1, state_finished = 2 }; // bits of a row's state
    struct ThreadStart {
        WorkerPool* pool;
        int32_t worker;
    };
    static void thread_entry(void* start);
    void thread_main(int32_t worker);
    void start_threads();

    int32_t count_ = 1;
    int32_t row_capacity_ = 0;
    int32_t window_ = 0;
    size_t saved_row_bytes_ = 0;
    std::unique_ptr<std::atomic<unsigned char>[]> row_state_;
    std::unique_ptr<unsigned char[]> saved_rows_; // window_ rows, row i in slot i % window_
    std::unique_ptr<WorkerResult[]> results_;
    std::unique_ptr<WorkerThread[]> threads_;
    std::unique_ptr<ThreadStart[]> starts_;
    int32_t started_ = 0;
    bool tried_ = false;

    std::atomic<int32_t> next_row_{0};
    std::atomic<int32_t> front_{0}; // rows whose abort test let them stand
    int32_t band_rows_ = 0;
    std::atomic<bool> stopped_{false};

    std::mutex mutex_;
    std::condition_variable wake_;
    BandJob* job_ = nullptr;
    std::atomic<uint32_t> generation_{0};
    std::atomic<int32_t> running_{0}; // threads other than the host's still in the band
    std::atomic<bool> quitting_{false};
};
