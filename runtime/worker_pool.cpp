#include "runtime/worker_pool.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<int32_t> threads_alive{0}, threads_started{0};

// The count a setting holds, or 0.
int32_t asked_count(const char* setting)
{
    if (setting && setting[0] >= '1' && setting[0] <= '9') {
        int32_t n = 0;
        const char* p = setting;
        while (*p >= '0' && *p <= '9' && n <= max_workers) n = n * 10 + (*p++ - '0');
        if (*p == '\0' && n <= max_workers) return n;
    }
    return 0;
}

} // namespace

int32_t worker_count_from(const char* setting, int32_t processors)
{
    if (const int32_t n = asked_count(setting)) return n;
    if (processors < 1) return 1;
    return processors < default_worker_cap ? processors : default_worker_cap;
}

// The processors of the process's own group: where its threads run unless
// they are placed elsewhere one by one, which these are not.
int32_t planned_worker_count()
{
    return worker_count_from(std::getenv("CELLUMBRA_THREADS"), int32_t(std::thread::hardware_concurrency()));
}

bool worker_count_asked()
{
    return asked_count(std::getenv("CELLUMBRA_THREADS")) != 0;
}

WorkerPool::WorkerPool(int32_t workers, int32_t rows, size_t row_bytes)
{
    if (workers < 2 || rows < 2 || row_bytes == 0) return;
    if (workers > max_workers) workers = max_workers;
    // Two rows a thread ahead of the host calls keep every thread busy while
    // the host's thread walks a row of its own between its calls.
    const int32_t window = rows < 2 * workers + 2 ? rows : 2 * workers + 2;
    if (row_bytes > SIZE_MAX / size_t(window)) return;
    row_state_.reset(new (std::nothrow) std::atomic<unsigned char>[size_t(rows)]);
    saved_rows_.reset(new (std::nothrow) unsigned char[size_t(window) * row_bytes]);
    results_.reset(new (std::nothrow) WorkerResult[size_t(workers)]);
    threads_.reset(new (std::nothrow) WorkerThread[size_t(workers)]);
    starts_.reset(new (std::nothrow) ThreadStart[size_t(workers)]);
    if (!row_state_ || !saved_rows_ || !results_ || !threads_ || !starts_) return;
    row_capacity_ = rows;
    window_ = window;
    saved_row_bytes_ = row_bytes;
    count_ = workers;
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quitting_.store(true, std::memory_order_relaxed);
    }
    wake_.notify_all();
    for (int32_t i = 1; i <= started_; ++i) join_worker_thread(threads_[i]);
    threads_alive.fetch_sub(started_);
}

int32_t WorkerPool::live_threads()
{
    return threads_alive.load();
}

int32_t WorkerPool::started_threads()
{
    return threads_started.load();
}

void WorkerPool::thread_entry(void* start)
{
    const ThreadStart* s = static_cast<const ThreadStart*>(start);
    s->pool->thread_main(s->worker);
}

void WorkerPool::start_threads()
{
    // A thread the system refuses leaves the pool with those it has.
    while (started_ + 1 < count_) {
        const int32_t worker = started_ + 1;
        starts_[worker] = ThreadStart{this, worker};
        if (!start_worker_thread(threads_[worker], &WorkerPool::thread_entry, &starts_[worker])) break;
        ++started_;
        threads_alive.fetch_add(1);
        threads_started.fetch_add(1);
    }
    count_ = started_ + 1;
}

void WorkerPool::begin_band(int32_t rows)
{
    band_rows_ = rows;
    for (int32_t r = 0; r < rows; ++r) row_state_[r].store(0, std::memory_order_relaxed);
    next_row_.store(0, std::memory_order_relaxed);
    front_.store(0, std::memory_order_relaxed);
    stopped_.store(false, std::memory_order_relaxed);
}

void WorkerPool::save_row(int32_t row, const unsigned char* out, size_t bytes)
{
    // Row `row` - window_, the slot's last tenant, lies before the front:
    // its abort test let it stand, and its bytes are not needed again.
    std::memcpy(&saved_rows_[size_t(row % window_) * saved_row_bytes_], out, bytes);
    row_state_[row].store(state_saved, std::memory_order_relaxed);
}

void WorkerPool::restore_rows_after(int32_t row, unsigned char* out, intptr_t out_row_bytes, size_t bytes)
{
    for (int32_t r = row + 1; r < band_rows_; ++r)
        if (row_state_[r].load(std::memory_order_acquire) & state_saved)
            std::memcpy(out + r * out_row_bytes, &saved_rows_[size_t(r % window_) * saved_row_bytes_], bytes);
}

int32_t WorkerPool::take_row()
{
    if (stopped_.load(std::memory_order_relaxed)) return -1;
    const int32_t row = next_row_.fetch_add(1, std::memory_order_relaxed);
    return row < band_rows_ ? row : -1;
}

void WorkerPool::start()
{
    if (tried_) return;
    tried_ = true;
    start_threads();
}

void WorkerPool::run(BandJob& job)
{
    start();
    if (started_ == 0) {
        job.work(0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &job;
        running_.store(started_, std::memory_order_relaxed);
        generation_.store(generation_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
    wake_.notify_all();
    job.work(0);
    // The others end within a row of the host's thread: waiting on the
    // condition variable would cost more (under Wine, a trip to its server).
    while (running_.load(std::memory_order_acquire) != 0) std::this_thread::yield();
    job_ = nullptr;
}

void WorkerPool::thread_main(int32_t worker)
{
    uint32_t seen = 0;
    for (;;) {
        // The next band follows as soon as the host has handed the last one
        // back and delivered it: a short look before sleeping catches it
        // without the wake-up's cost. Not before the first band: a new
        // thread that sleeps is woken on an idle processor, one that looks
        // may share its creator's for milliseconds.
        for (int spin = 0; seen != 0 && spin < 2000 && generation_.load(std::memory_order_acquire) == seen &&
                           !quitting_.load(std::memory_order_relaxed);
             ++spin)
            std::this_thread::yield();
        BandJob* job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] {
                return quitting_.load(std::memory_order_relaxed) || generation_.load(std::memory_order_relaxed) != seen;
            });
            if (quitting_.load(std::memory_order_relaxed)) return;
            seen = generation_.load(std::memory_order_relaxed);
            job = job_;
        }
        job->work(worker);
        running_.fetch_sub(1, std::memory_order_release);
    }
}
