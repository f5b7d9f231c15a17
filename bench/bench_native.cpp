// The benchmark in the native build: the plug-in's portable code linked in,
// driven through dispatch_selector as ENTRYPOINT would drive it, with stand-ins
// for the Windows edges that answer at once (the dialog accepts with the size
// under test, the band warning is confirmed, the settings are not touched).
//
// Allocations are counted while the start selector runs: calls of
// platform::alloc_zeroed, of the global operator new, and of malloc, calloc
// and realloc from the plug-in's objects (the link wraps them).
#include <chrono>
#include <cstring>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "bench/bench_common.h"
#include "bench/bench_web.h"
#ifdef CELLUMBRA_BENCH_GEGL
#include <cstring>

#include "bench/bench_gegl.h"
#endif
#include "filter/cell_map.h"
#include "runtime/kernel.h"
#include "settings/settings.h"
#include "base/platform.h"
#include "runtime/host_calls.h"
#include "runtime/worker_pool.h"
#include "shell/shell.h"
#include "ui/dialog.h"

namespace {

struct Counts {
    int64_t alloc_zeroed = 0, operator_new = 0, c_heap = 0, boxes = 0;
};
Counts counts;
bool counting = false;
int32_t size_under_test = 0;

} // namespace

extern "C" {
void* __real_malloc(size_t);
void* __real_calloc(size_t, size_t);
void* __real_realloc(void*, size_t);

void* __wrap_malloc(size_t bytes)
{
    if (counting) ++counts.c_heap;
    return __real_malloc(bytes);
}
void* __wrap_calloc(size_t n, size_t bytes)
{
    if (counting) ++counts.c_heap;
    return __real_calloc(n, bytes);
}
void* __wrap_realloc(void* block, size_t bytes)
{
    if (counting) ++counts.c_heap;
    return __real_realloc(block, bytes);
}
}

void* operator new(size_t bytes)
{
    if (counting) ++counts.operator_new;
    if (void* p = __real_malloc(bytes ? bytes : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t bytes)
{
    return operator new(bytes);
}
void operator delete(void* block) noexcept
{
    std::free(block);
}
void operator delete[](void* block) noexcept
{
    std::free(block);
}
void operator delete(void* block, size_t) noexcept
{
    std::free(block);
}
void operator delete[](void* block, size_t) noexcept
{
    std::free(block);
}

// Stand-ins for the Windows edges. Weak, so that a portable implementation
// that moves into the plug-in's core later takes their place.
namespace platform {

[[gnu::weak]] int show_message(intptr_t, const char*, const char*, uint32_t)
{
    if (counting) ++counts.boxes;
    return 1; // IDOK
}
[[gnu::weak]] intptr_t active_window()
{
    return 0;
}
[[gnu::weak]] void host_executable_path(char* buf, size_t size)
{
    if (buf && size) buf[0] = '\0';
}
[[gnu::weak]] double calendar_seconds()
{
    return 1.0e9;
}
[[gnu::weak]] int32_t time_of_day_ms()
{
    return 0;
}
[[gnu::weak]] void* alloc_zeroed(size_t bytes)
{
    if (counting) ++counts.alloc_zeroed;
    return __real_calloc(bytes ? bytes : 1, 1);
}
[[gnu::weak]] void release(void* block)
{
    std::free(block);
}

} // namespace platform

[[gnu::weak]] int32_t show_parameters_dialog(int32_t, intptr_t)
{
    control_values[0] = size_under_test;
    return 1;
}
[[gnu::weak]] void ensure_settings_key() {}
[[gnu::weak]] void load_settings() {}
[[gnu::weak]] void save_settings() {}

namespace {

// The cell map's own walk (filter/cell_map.h), which the engines other than
// the plug-in's run copy pixels along, in the formats they store pictures
// in, beside memcpy of the same bytes in the same repetitions; on one thread.
int run_map_table(const bench::Options& options)
{
    struct Format {
        const char* name;
        PixelBytes bytes;
    };
    const Format formats[] = {{"u8 RGB", {3, 3, 0}}, {"u8 RGBA", {4, 3, 1}}, {"float RGBA", {16, 12, 4}}};
    const int32_t sizes[] = {1, 5, 20, 100};
    const int32_t w = options.width, h = options.height;
    const double pixels = double(w) * h;
    std::printf("\nthe cell map's walk (cell_copy_area) on one thread, %d x %d, beside memcpy of the same\n"
                "picture: ns per pixel (medians of %d runs) and the median of each repetition's ratio to the copy\n",
                w, h, options.repetitions);
    std::printf("%-11s %7s", "format", "memcpy");
    for (int32_t s : sizes) std::printf("   size %-3d ratio", s);
    std::printf("\n");
    for (const Format& f : formats) {
        const size_t row = size_t(w) * f.bytes.pixel_bytes;
        std::vector<unsigned char> in(row * size_t(h)), out(in.size()), copy(in.size());
        uint32_t noise = 7;
        for (unsigned char& b : in) b = static_cast<unsigned char>((noise = noise * 1664525u + 1013904223u) >> 24);
        std::vector<CellRun> runs(cell_run_capacity(1, w));
        const CellSource source{in.data(), intptr_t(row), CellBounds{0, 0, w, h}};
        std::vector<double> copies;
        std::vector<std::vector<double>> walks(std::size(sizes));
        for (int rep = 0; rep < options.repetitions; ++rep) {
            double t0 = bench::seconds_now();
            std::memcpy(copy.data(), in.data(), in.size());
            copies.push_back(bench::seconds_now() - t0);
            for (size_t k = 0; k < std::size(sizes); ++k) {
                t0 = bench::seconds_now();
                cell_copy_area(sizes[k], source, in.data(), intptr_t(row), out.data(), intptr_t(row), f.bytes, 0, 0, w,
                               h, runs.data());
                walks[k].push_back(bench::seconds_now() - t0);
            }
        }
        std::printf("%-11s %7.3f", f.name, copies.empty() ? 0 : bench::median(copies) * 1e9 / pixels);
        for (size_t k = 0; k < std::size(sizes); ++k)
            std::printf("   %8.3f %5.2f", bench::median(walks[k]) * 1e9 / pixels, bench::paired_median(walks[k], copies));
        std::printf("\n");
    }
    std::fflush(stdout);
    return 0;
}

struct NativeDriver : bench::PluginDriver {
    intptr_t data = 0;

    NativeDriver()
    {
        // What attach and the host's prepare selector do before a start.
        bind_filter_blocks();
        format_settings_key_path();
        int16 result = 0;
        FilterRecord record{};
        dispatch_selector(filterSelectorPrepare, &record, &data, &result);
    }

    const char* build_name() const override
    {
#if defined(__SANITIZE_ADDRESS__)
        return "native (WITH SANITIZERS: figures not representative)";
#else
        return "native";
#endif
    }
    const char* allocation_note() const override
    {
        return "calls of platform::alloc_zeroed, operator new, malloc/calloc/realloc during the start selector";
    }
    void set_size(int32_t size) override { size_under_test = size; }
    bool set_parallel_threshold(int32_t pixels) override
    {
        run_state.split_min_pixels = pixels < 0 ? default_split_min_pixels : pixels;
        return true;
    }
    void use_table(bool table) override
    {
        bind_filter_blocks();
        if (table) kernel_binding.bound[0] = BoundBlock{};
    }

    bench::RunResult start(FilterRecord& record) override
    {
        using clock = std::chrono::steady_clock;
        bench::RunResult r;
        int16 result = 0;
        counts = Counts{};
        counting = true;
        const auto t0 = clock::now();
        dispatch_selector(filterSelectorStart, &record, &data, &result);
        const auto t1 = clock::now();
        counting = false;
        r.seconds = std::chrono::duration<double>(t1 - t0).count();
        r.end = std::chrono::duration<double>(t1.time_since_epoch()).count();
        r.result = result;
        r.allocations = counts.alloc_zeroed + counts.operator_new + counts.c_heap;
        r.message_boxes = counts.boxes;
        char detail[160];
        std::snprintf(detail, sizeof detail, "(alloc_zeroed %lld, operator new %lld, malloc/calloc/realloc %lld)",
                      (long long)counts.alloc_zeroed, (long long)counts.operator_new, (long long)counts.c_heap);
        r.allocation_detail = detail;
        return r;
    }
};

} // namespace

int main(int argc, char** argv)
{
#ifdef CELLUMBRA_BENCH_GEGL
    // --gegl first: the GEGL operation's table instead of the plug-in's.
    const bool gegl = argc > 1 && !std::strcmp(argv[1], "--gegl");
    if (gegl) --argc, ++argv;
#endif
    // --web SCRIPT WASM first: the browser page's module under Node beside the plug-in.
    const bool web = argc > 3 && !std::strcmp(argv[1], "--web");
    const char* web_script = web ? argv[2] : nullptr;
    const char* web_module = web ? argv[3] : nullptr;
    if (web) argc -= 3, argv += 3;
    const bench::Options options = bench::parse_options(argc, argv);
    NativeDriver driver;
    if (web) return bench::run_web_benchmark(driver, options, web_script, web_module);
#ifdef CELLUMBRA_BENCH_GEGL
    if (gegl) return bench::run_gegl_benchmark(driver, options);
#endif
    const int result = bench::run_benchmark(driver, options);
    return run_map_table(options) | result;
}
