// The benchmark in the native build: the plug-in's portable code linked in,
// driven through dispatch_selector as ENTRYPOINT would drive it, with stand-ins
// for the Windows edges that answer at once (the dialog accepts with the size
// under test, the band warning is confirmed, the settings are not touched).
//
// Allocations are counted while the start selector runs: calls of
// platform::alloc_zeroed, of the global operator new, and of malloc, calloc
// and realloc from the plug-in's objects (the link wraps them).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "bench/bench_common.h"
#include "bench/bench_web.h"
#ifdef CELLUMBRA_BENCH_GEGL
#include <cstring>

#include "bench/bench_gegl.h"
#endif
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
    return bench::run_benchmark(driver, options);
}
