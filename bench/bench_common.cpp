#include "bench/bench_common.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace bench {

namespace {

MemoryHost* active_host;

unsigned char* area_start(const Rect16& rect, const Picture& picture)
{
    if (rect.top >= rect.bottom || rect.left >= rect.right) return nullptr;
    if (rect.top < 0 || rect.left < 0 || rect.bottom > picture.height || rect.right > picture.width)
        return nullptr;
    auto* base = const_cast<unsigned char*>(picture.pixels.data());
    return base + size_t(rect.top) * size_t(picture.row_bytes()) + size_t(rect.left) * size_t(picture.planes);
}

OSErr PS_CDECL serve_areas()
{
    MemoryHost& host = *active_host;
    FilterRecord& r = host.record;
    if (++host.requests == 1) host.first_request = seconds_now();
    r.inData = area_start(r.inRect, *host.input);
    r.inRowBytes = host.input->row_bytes();
    r.outData = area_start(r.outRect, *host.output);
    r.outRowBytes = host.output->row_bytes();
    r.maskData = nullptr;
    r.maskRowBytes = 0;
    return noErr;
}

Boolean PS_CDECL never_abort()
{
    return 0;
}

void PS_CDECL ignore_progress(int32, int32) {}

} // namespace

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0) return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median of a[i] / b[i]: two ways timed back to back in each repetition
// share whatever load the machine had then, and their ratio leaves most of it
// out.
double paired_median(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) ratios.push_back(a[i] / b[i]);
    return median(ratios);
}

double seconds_now()
{
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

Picture make_picture(int32_t width, int32_t height, int32_t planes)
{
    Picture p;
    p.width = width;
    p.height = height;
    p.planes = planes;
    p.pixels.resize(size_t(width) * size_t(height) * size_t(planes));
    uint32_t noise = 12345;
    unsigned char* q = p.pixels.data();
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t z = 0; z < planes; ++z) {
                noise = noise * 1664525u + 1013904223u;
                const int32_t field = z == 0 ? x * 255 / std::max(1, width - 1)
                                    : z == 1 ? y * 255 / std::max(1, height - 1)
                                             : (x + y) * 255 / std::max(1, width + height - 2);
                *q++ = static_cast<unsigned char>((field + int32_t(noise >> 28)) & 0xFF);
            }
    return p;
}

void MemoryHost::prepare(const Picture& in, Picture& out, int32_t max_space)
{
    input = &in;
    output = &out;
    requests = 0;
    first_request = 0;
    record = FilterRecord{};
    platform = PlatformData{};
    record.abortProc = never_abort;
    record.progressProc = ignore_progress;
    record.imageSize.h = static_cast<int16>(in.width);
    record.imageSize.v = static_cast<int16>(in.height);
    record.wholeSize = record.imageSize;
    record.planes = static_cast<int16>(in.planes);
    record.filterRect = Rect16{0, 0, static_cast<int16>(in.height), static_cast<int16>(in.width)};
    record.maxSpace = max_space;
    record.imageMode = plugInModeRGBColor;
    std::memcpy(record.backColor, "\xff\xff\xff", 4);
    std::memcpy(record.foreColor, "\0\0\0", 4);
    record.platformData = &platform;
    record.advanceState = serve_areas;
    record.inputRate = record.maskRate = 0x10000;
    active_host = this;
}

namespace {

// The rows a band of the cells reads beyond its own at size s: 2s - 1 above,
// 2s below, which the plug-in asks for with every band.
int32_t reach_rows(int32_t s)
{
    return 4 * s - 1;
}

} // namespace

int32_t planned_band_rows(int32_t max_space, const Picture& picture, int32_t s)
{
    const int32_t whole = max_space / ((2 * picture.planes + 2) * (picture.width + 4));
    if (whole >= picture.height) return picture.height;
    return (max_space / ((picture.planes + 1) * (picture.width + 4)) - reach_rows(s)) / 2;
}

int32_t max_space_for_rows(int32_t rows, const Picture& picture, int32_t s)
{
    if (rows >= picture.height) return rows * (2 * picture.planes + 2) * (picture.width + 4);
    return (2 * rows + reach_rows(s)) * (picture.planes + 1) * (picture.width + 4);
}

// The cells of one band: every band the plug-in plans holds the rows its cells read.
void specialised_cells(const Picture& in, Picture& out, int32_t s)
{
    const int32_t band_rows = in.height;
    const int32_t width = in.width, height = in.height, planes = in.planes;
    const size_t row_bytes = size_t(in.row_bytes());
    const int32_t tile_w = 6 * s, tile_h = 4 * s;
    const int32_t s2 = 2 * s, s3 = 3 * s, s4 = 4 * s, s6 = 6 * s;
    for (int32_t top = 0; top < height; top += band_rows) {
        const int32_t last = std::min(height, top + band_rows) - 1;
        for (int32_t y = top; y <= last; ++y) {
            const int32_t ty = y % tile_h;
            const bool upper = ty < s2;
            const int32_t dy_corner = upper ? ty : s4 - ty;
            const int32_t dy_middle = ty - s2;
            const int32_t dy2_corner = dy_corner * dy_corner, dy2_middle = dy_middle * dy_middle;
            const int32_t corner_y = std::max(top, std::min(last, y - ty + (upper ? 0 : s4)));
            const int32_t middle_y = std::max(top, std::min(last, y - ty + s2));
            const unsigned char* corner_row = in.pixels.data() + size_t(corner_y) * row_bytes;
            const unsigned char* middle_row = in.pixels.data() + size_t(middle_y) * row_bytes;
            unsigned char* o = out.pixels.data() + size_t(y) * row_bytes;
            for (int32_t x = 0; x < width; ++x, o += planes) {
                const int32_t tx = x % tile_w;
                const bool left = tx < s3;
                const int32_t dx_corner = left ? tx : s6 - tx;
                const int32_t dx_middle = tx - s3;
                const unsigned char* p;
                if (dx_corner * dx_corner + dy2_corner < dx_middle * dx_middle + dy2_middle)
                    p = corner_row + size_t(std::min(width - 1, x - tx + (left ? 0 : s6))) * planes;
                else
                    p = middle_row + size_t(std::min(width - 1, x - tx + s3)) * planes;
                o[0] = p[0];
                o[1] = p[1];
                o[2] = p[2];
            }
        }
    }
}

Options parse_options(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!std::strcmp(a, "--reps") && next) {
            o.repetitions = std::max(1, std::atoi(next));
            ++i;
        } else if (!std::strcmp(a, "--size") && next) {
            // --size WxH: a smaller picture for a quick look
            std::sscanf(next, "%dx%d", &o.width, &o.height);
            o.many_band_rows = std::max(1, o.height / 10);
            ++i;
        } else {
            std::fprintf(stderr, "usage: %s [--reps N] [--size WxH]\n", argv[0]);
            std::exit(2);
        }
    }
    return o;
}

void set_thread_setting(int32_t threads)
{
    static std::string setting; // putenv keeps the string itself
    setting = "CELLUMBRA_THREADS=" + (threads > 0 ? std::to_string(threads) : std::string()); // empty: unset
#ifdef _WIN32
    _putenv(setting.c_str());
#else
    putenv(const_cast<char*>(setting.c_str()));
#endif
}

namespace {

// The times of one way of running the block over one case.
struct PathRuns {
    std::vector<double> passes;
    bool ran = true, identical = true;
    size_t first_difference = SIZE_MAX;
};

double ns(double seconds, double pixels)
{
    return seconds * 1e9 / pixels;
}

} // namespace

int run_thread_tables(PluginDriver& driver, const Options& options, const Picture& in);
int run_copy_table(PluginDriver& driver, const Options& options);

int run_benchmark(PluginDriver& driver, const Options& options)
{
    const Picture in = make_picture(options.width, options.height, 3);
    Picture out = in, reference = in;
    const Picture tiny = make_picture(1, 1, 3);
    Picture tiny_out = tiny;
    MemoryHost host;
    int failures = 0;

    std::printf("Cellumbra benchmark, %s build\n", driver.build_name());
    std::printf("picture %d x %d RGB, %d runs per case and way. Times are ns per pixel from the run's first\n"
                "request for image data (after the dialog, the settings and the band plan) to the start\n"
                "selector's return, which leaves out the fixed cost that under Wine is large and varies.\n"
                "\"bound\": the product, its block compiled into the pixel loop; \"table\": the same block\n"
                "through its entry and the table of built-ins. Each repetition runs every case in turn, each\n"
                "case the specialised loop, bound and table back to back. \"ratio\": the median of each\n"
                "repetition's ratio to that loop, which leaves out most of a burst of load from elsewhere;\n"
                "\"min r.\": the ratio of the minimums.\n",
                options.width, options.height, options.repetitions);
    std::printf("allocations: %s\n", driver.allocation_note());
    std::printf("This table runs the plug-in on one thread (CELLUMBRA_THREADS=1); the threads follow it.\n");
    set_thread_setting(1);

    // What a run costs apart from its pixels: dialog at once, settings, plan.
    std::vector<double> fixed_times;
    driver.set_size(5);
    driver.use_table(false);
    for (int rep = 0; rep < options.repetitions; ++rep) {
        host.prepare(tiny, tiny_out, 1 << 20);
        fixed_times.push_back(driver.start(host.record).seconds);
    }
    std::printf("fixed cost of a start selector (1 x 1 picture): median %.1f us, minimum %.1f us\n\n",
                median(fixed_times) * 1e6, *std::min_element(fixed_times.begin(), fixed_times.end()) * 1e6);

    std::printf("%5s %5s %5s %13s %20s %20s %7s %5s %9s\n", "size", "bands", "rows", "specialised",
                "bound", "table", "allocs", "boxes", "identical");
    std::printf("%5s %5s %5s %6s %6s %6s %6s %6s %6s %6s %6s %7s %5s %9s\n", "", "", "/band", "median", "min",
                "median", "ratio", "min r.", "median", "ratio", "min r.", "per run", "", "");
    const double pixels = double(in.width) * in.height;
    struct Case {
        int32_t size, bands, band_rows, max_space;
        PathRuns paths[2]; // bound, table
        std::vector<double> loop_times;
        int64_t min_allocs = INT64_MAX, max_allocs = 0, boxes = 0;
        std::string detail;
    };
    std::vector<Case> cases;
    for (int32_t rows : {in.height, options.many_band_rows}) {
        for (int32_t size : options.sizes) {
            const int32_t max_space = max_space_for_rows(rows, in, size);
            const int32_t band_rows = planned_band_rows(max_space, in, size);
            cases.emplace_back();
            Case& c = cases.back();
            c.size = size;
            c.bands = (in.height + band_rows - 1) / band_rows;
            c.band_rows = band_rows;
            c.max_space = max_space;
        }
    }
    // Every repetition takes every case in turn: a burst of load from
    // elsewhere then falls on one repetition of several cases, not on most
    // repetitions of one, and leaves the medians alone.
    for (int rep = 0; rep < options.repetitions; ++rep)
        for (Case& c : cases) {
            driver.set_size(c.size);
            const double t0 = seconds_now();
            specialised_cells(in, reference, c.size);
            c.loop_times.push_back(seconds_now() - t0);
            for (int table = 0; table < 2; ++table) {
                PathRuns& path = c.paths[table];
                driver.use_table(table != 0);
                std::memcpy(out.pixels.data(), in.pixels.data(), in.pixels.size());
                host.prepare(in, out, c.max_space);
                const RunResult r = driver.start(host.record);
                if (r.result != 0) path.ran = false;
                path.passes.push_back(host.requests > 0 ? r.end - host.first_request : r.seconds);
                c.min_allocs = std::min(c.min_allocs, r.allocations);
                c.max_allocs = std::max(c.max_allocs, r.allocations);
                c.boxes = r.message_boxes;
                c.detail = r.allocation_detail;
                if (out.pixels != reference.pixels && path.identical) {
                    path.identical = false;
                    path.first_difference = size_t(std::mismatch(out.pixels.begin(), out.pixels.end(),
                                                                 reference.pixels.begin()).first -
                                                   out.pixels.begin());
                }
            }
        }
    std::string shown_detail; // the allocation breakdown, printed when it changes
    for (const Case& c : cases) {
        const double loop_ns = ns(median(c.loop_times), pixels);
        const double loop_min_ns = ns(*std::min_element(c.loop_times.begin(), c.loop_times.end()), pixels);
        double path_ns[2], ratio[2], min_ratio[2];
        bool all_identical = true, all_ran = true;
        for (int p = 0; p < 2; ++p) {
            const PathRuns& path = c.paths[p];
            path_ns[p] = ns(median(path.passes), pixels);
            ratio[p] = paired_median(path.passes, c.loop_times);
            min_ratio[p] = ns(*std::min_element(path.passes.begin(), path.passes.end()), pixels) / loop_min_ns;
            all_identical = all_identical && path.ran && path.identical;
            all_ran = all_ran && path.ran;
        }
        if (!all_identical) ++failures;
        char allocs[32];
        if (c.min_allocs == c.max_allocs)
            std::snprintf(allocs, sizeof allocs, "%lld", (long long)c.max_allocs);
        else
            std::snprintf(allocs, sizeof allocs, "%lld-%lld", (long long)c.min_allocs, (long long)c.max_allocs);
        std::printf("%5d %5d %5d %6.2f %6.2f %6.2f %6.2f %6.2f %6.2f %6.2f %6.2f %7s %5lld %9s\n", c.size, c.bands,
                    c.band_rows, loop_ns, loop_min_ns, path_ns[0], ratio[0], min_ratio[0], path_ns[1], ratio[1],
                    min_ratio[1], allocs, (long long)c.boxes, !all_ran ? "RUN FAILED" : all_identical ? "yes" : "NO");
        if (!c.detail.empty() && c.detail != shown_detail) std::printf("%17s%s\n", "", c.detail.c_str());
        shown_detail = c.detail;
        for (int p = 0; p < 2; ++p) {
            const size_t i = c.paths[p].first_difference;
            if (i == SIZE_MAX) continue;
            const size_t pixel = i / size_t(in.planes);
            std::printf("%17s%s: first difference at (%d, %d) plane %d\n", "", p ? "table" : "bound",
                        int(pixel % size_t(in.width)), int(pixel / size_t(in.width)), int(i % size_t(in.planes)));
        }
    }
    std::fflush(stdout);
    failures += run_copy_table(driver, options);
    failures += run_thread_tables(driver, options, in);
    if (failures)
        std::printf("\n%d case(s) did not match the specialised loop byte for byte\n", failures);
    return failures ? 1 : 0;
}

// The product on one thread against a copy of the same picture, timed in
// the same repetitions: what moving the cells' bytes costs beyond moving the
// bytes at all, for three and four planes (the fourth kept).
int run_copy_table(PluginDriver& driver, const Options& options)
{
    int failures = 0;
    const int32_t size = 12;
    driver.use_table(false);
    driver.set_size(size);
    set_thread_setting(1);
    std::printf("\nagainst a copy: the bound block at size %d on one thread, the picture in one band, from the\n"
                "first request for image data to the return, beside memcpy of the same picture (ns per pixel,\n"
                "medians of %d runs; \"ratio\": the median of each repetition's ratio to the copy)\n",
                size, options.repetitions);
    std::printf("%6s %9s %9s %7s %9s\n", "planes", "memcpy", "plug-in", "ratio", "identical");
    for (int32_t planes : {3, 4}) {
        const Picture in = make_picture(options.width, options.height, planes);
        Picture out = in, reference = in, copy = in;
        specialised_cells(in, reference, size);
        MemoryHost host;
        std::vector<double> copies, runs;
        bool same = true;
        const int32_t max_space = max_space_for_rows(in.height, in, size);
        for (int rep = 0; rep < options.repetitions; ++rep) {
            const double t0 = seconds_now();
            std::memcpy(copy.pixels.data(), in.pixels.data(), in.pixels.size());
            copies.push_back(seconds_now() - t0);
            std::memcpy(out.pixels.data(), in.pixels.data(), in.pixels.size());
            host.prepare(in, out, max_space);
            const RunResult r = driver.start(host.record);
            runs.push_back(host.requests > 0 ? r.end - host.first_request : r.seconds);
            if (r.result != 0 || out.pixels != reference.pixels) same = false;
        }
        const double pixels = double(in.width) * in.height;
        std::printf("%6d %9.3f %9.3f %7.2f %9s\n", planes, ns(median(copies), pixels), ns(median(runs), pixels),
                    paired_median(runs, copies), same ? "yes" : "NO");
        if (!same) ++failures;
    }
    std::fflush(stdout);
    return failures;
}

// The product over 1, 2, ... threads up to the processors (at least 2), and
// the small pictures around the size below which it stays on one thread.
int run_thread_tables(PluginDriver& driver, const Options& options, const Picture& in)
{
    int failures = 0;
    const int32_t cores = std::max(2, int32_t(std::thread::hardware_concurrency()));
    const int32_t size = 20;
    driver.use_table(false);
    driver.set_size(size);
    Picture out = in, reference = in;
    MemoryHost host;
    const double pixels = double(in.width) * in.height;
    std::printf("\nthreads: the bound block at size %d with CELLUMBRA_THREADS=N, N = 1 to %d. The start selector's\n"
                "whole wall time (median and minimum, ms), which under Wine holds a large fixed cost that no\n"
                "thread shares; the passes from the first request for image data to the return (median ms, ns\n"
                "per pixel), their speed-up against one thread (the median of each repetition's, and that of\n"
                "the minimums) and their ratio to the specialised loop (the median of each repetition's).\n"
                "Each repetition takes both layouts, and every N, in turn.\n",
                size, cores);
    std::printf("%5s %5s %3s %14s %15s %16s %7s %7s %9s\n", "bands", "rows", "N", "whole selector", "passes",
                "speed-up", "vs loop", "allocs", "identical");
    std::printf("%5s %5s %3s %7s %6s %7s %7s %8s %7s %7s %7s %9s\n", "", "", "", "median", "min", "median", "ns/px",
                "median", "min", "", "per run", "");
    struct Layout {
        int32_t bands, band_rows, max_space;
        std::vector<std::vector<double>> whole, passes;
        std::vector<double> loop_times;
        std::vector<int64_t> allocs;
        std::vector<bool> same;
    };
    std::vector<Layout> layouts;
    for (int32_t rows : {in.height, options.many_band_rows}) {
        const int32_t max_space = max_space_for_rows(rows, in, size);
        const int32_t band_rows = planned_band_rows(max_space, in, size);
        const size_t counts = size_t(cores) + 1;
        layouts.emplace_back();
        Layout& l = layouts.back();
        l.bands = (in.height + band_rows - 1) / band_rows;
        l.band_rows = band_rows;
        l.max_space = max_space;
        l.whole.resize(counts);
        l.passes.resize(counts);
        l.allocs.resize(counts);
        l.same.assign(counts, true);
    }
    // As in the first table, every repetition takes both band layouts in turn.
    for (int rep = 0; rep < options.repetitions; ++rep)
        for (Layout& l : layouts) {
            const double t0 = seconds_now();
            specialised_cells(in, reference, size);
            l.loop_times.push_back(seconds_now() - t0);
            for (int32_t n = 1; n <= cores; ++n) {
                set_thread_setting(n);
                std::memcpy(out.pixels.data(), in.pixels.data(), in.pixels.size());
                host.prepare(in, out, l.max_space);
                const RunResult r = driver.start(host.record);
                l.whole[size_t(n)].push_back(r.seconds);
                l.passes[size_t(n)].push_back(host.requests > 0 ? r.end - host.first_request : r.seconds);
                l.allocs[size_t(n)] = r.allocations;
                if (r.result != 0 || out.pixels != reference.pixels) l.same[size_t(n)] = false;
            }
        }
    auto minimum = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    for (const Layout& l : layouts) {
        const double one_min = minimum(l.passes[1]), loop = median(l.loop_times);
        for (int32_t n = 1; n <= cores; ++n) {
            const std::vector<double>& w = l.whole[size_t(n)];
            const std::vector<double>& p = l.passes[size_t(n)];
            std::printf("%5d %5d %3d %7.1f %6.1f %7.1f %7.2f %8.2f %7.2f %7.2f %7lld %9s\n", l.bands, l.band_rows, n,
                        median(w) * 1e3, minimum(w) * 1e3, median(p) * 1e3, ns(median(p), pixels),
                        paired_median(l.passes[1], p), one_min / minimum(p), paired_median(p, l.loop_times),
                        (long long)l.allocs[size_t(n)],
                        l.same[size_t(n)] ? "yes" : "NO");
            if (!l.same[size_t(n)]) ++failures;
        }
        std::printf("%5s %5s %3s specialised loop: median %.1f ms\n", "", "", "", loop * 1e3);
    }
    std::fflush(stdout);

    // Pictures around the smallest picture for which the plug-in, whose rows
    // are copies, starts threads (worth_threads), one band each: one thread
    // against two, from the first request for image data to the selector's
    // return, which takes in the threads' start and join.
    // "forced": the smallest split band set to 0, natively, to show where
    // threads start to pay.
    const bool can_force = driver.set_parallel_threshold(-1);
    std::printf("\npictures at size %d, one band: median us from the first request to the return (%d runs);\n"
                "the plug-in's own choice, CELLUMBRA_THREADS unset (%u processors here)%s\n",
                size, options.repetitions * 5, std::thread::hardware_concurrency(),
                can_force ? ", and 2 threads forced to split every band" : "");
    std::printf("%9s %9s %9s %8s%s\n", "picture", "1 thread", "own", "speed-up", can_force ? "  2 forced  speed-up" : "");
    for (int32_t side : {256, 1024, 2048, 2895, 2896, 3464, 4096}) {
        const Picture small = make_picture(side, side, 3);
        Picture small_out = small;
        std::vector<double> t[3];
        for (int rep = 0; rep < options.repetitions * 5; ++rep)
            for (int way = 0; way < (can_force ? 3 : 2); ++way) {
                set_thread_setting(way == 0 ? 1 : way == 1 ? 0 : 2);
                if (can_force) driver.set_parallel_threshold(way == 2 ? 0 : -1);
                host.prepare(small, small_out, 1 << 30);
                const RunResult r = driver.start(host.record);
                t[way].push_back(host.requests > 0 ? r.end - host.first_request : r.seconds);
            }
        char forced[40] = "";
        if (can_force)
            std::snprintf(forced, sizeof forced, "  %8.1f %8.2f", median(t[2]) * 1e6, median(t[0]) / median(t[2]));
        std::printf("%4dx%-4d %9.1f %9.1f %8.2f%s\n", side, side, median(t[0]) * 1e6, median(t[1]) * 1e6,
                    median(t[0]) / median(t[1]), forced);
        std::fflush(stdout);
    }
    if (can_force) driver.set_parallel_threshold(-1);
    set_thread_setting(1);
    return failures;
}

} // namespace bench
