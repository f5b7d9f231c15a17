// cellumbra_bench --host: the main job's own costs beside the plug-in's.
//
// 1. The filtering phase of the reference host (filterhost.exe --times, its
//    own words for how long the phase took, from its "filtering" line to
//    "done") on a 4000 x 3000 RGB and RGBA picture, beside the plug-in's own
//    start selector on the same picture served straight from memory
//    (MemoryHost): what the host adds to the filter.
// 2. The whole host process on a 52-megapixel JPEG (reading, filtering,
//    writing a JPEG) beside the same process reading and writing it alone
//    (--no-filter): what filtering adds to a photo's round trip.
// Both are timed back to back in every repetition, so that the load of the
// moment falls on both; the ratios printed are medians of each repetition's.
#include "bench/bench_host.h"
#include "bench/bench_common.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "refhost/picture.h"

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool save(const bench::Picture& p, const std::string& path)
{
    ::Picture picture;
    picture.width = p.width;
    picture.height = p.height;
    picture.planes = p.planes;
    picture.pixels = p.pixels;
    std::string error;
    if (save_picture(path, picture, error)) return true;
    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
    return false;
}

// One filterhost run: its wall time from start to exit, its exit code and
// the phases it printed with --times (ms by name).
struct HostRun {
    double seconds = 0;
    DWORD code = 1;
    std::map<std::string, double> ms;
};

HostRun run_host(const std::string& folder, const std::string& arguments)
{
    HostRun run;
    const std::string log = folder + "host-bench\\host.log";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return run;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process = {};
    std::string line = "\"" + folder + "filterhost.exe\" " + arguments;
    const double start = now();
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        run.seconds = now() - start;
        GetExitCodeProcess(process.hProcess, &run.code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    if (FILE* f = std::fopen(log.c_str(), "rb")) {
        char text[2048] = {};
        std::fread(text, 1, sizeof text - 1, f);
        std::fclose(f);
        if (run.code != 0) std::fprintf(stderr, "filterhost %s: exit %lu\n%s", arguments.c_str(), run.code, text);
        if (const char* times = std::strstr(text, "times in ms:")) {
            times += std::strlen("times in ms:");
            char name[64];
            double value = 0;
            int used = 0;
            while (std::sscanf(times, " %63[a-z_]=%lf%n", name, &value, &used) == 2) {
                run.ms[name] = value;
                times += used;
            }
        }
    }
    return run;
}

struct Options {
    int reps = 5;
    int32_t width = 4000, height = 3000;
    int32_t big_width = 8832, big_height = 5888;
    int32_t size = 12; // the main job's default cell size
};

} // namespace

int run_host_benchmark(bench::PluginDriver& driver, const std::string& folder, int argc, char** argv)
{
    Options o;
    for (int i = 2; i < argc; ++i) {
        const char* a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!std::strcmp(a, "--reps") && next) {
            o.reps = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(a, "--size") && next) {
            std::sscanf(argv[++i], "%dx%d", &o.width, &o.height);
        } else if (!std::strcmp(a, "--big") && next) {
            std::sscanf(argv[++i], "%dx%d", &o.big_width, &o.big_height);
        } else {
            std::fprintf(stderr, "usage: %s --host [--reps N] [--size WxH] [--big WxH]\n", argv[0]);
            return 2;
        }
    }
    const std::string bits = sizeof(void*) == 8 ? "64-bit" : "32-bit";
    const std::string scratch = folder + "host-bench\\";
    CreateDirectoryA(scratch.c_str(), nullptr);
    bool ok = true;

    // ---- the filtering phase beside the plug-in's own start selector
    struct Mode {
        int32_t planes;
        const char* name;
        const char* option;
        std::string file;
        bench::Picture in, out;
        std::vector<double> own, host, in_run; // in_run: the start selector's own part in the host's run
        std::map<std::string, std::vector<double>> parts;
    };
    Mode modes[2] = {{3, "RGB", "--rgb", scratch + "picture-rgb.bmp", {}, {}, {}, {}, {}, {}},
                     {4, "RGBA", "--rgba", scratch + "picture-rgba.bmp", {}, {}, {}, {}, {}, {}}};
    for (Mode& m : modes) {
        m.in = bench::make_picture(o.width, o.height, m.planes);
        m.out = m.in;
        ok = save(m.in, m.file) && ok;
    }
    driver.set_size(o.size);
    const double pixels = double(o.width) * double(o.height);
    for (int rep = 0; rep < o.reps && ok; ++rep) {
        for (Mode& m : modes) {
            bench::MemoryHost memory;
            memory.prepare(m.in, m.out, 1 << 30); // the host's maxSpace: one band
            const bench::RunResult own = driver.start(memory.record);
            const HostRun host = run_host(folder, std::string("--times --quiet ") + m.option + " --settings " +
                                                      std::to_string(o.size) + " \"" + folder +
                                                      "Cellumbra.8bf\" \"" + m.file + "\"");
            if (own.result != 0 || host.code != 0 || !host.ms.count("filtering")) {
                std::fprintf(stderr, "a run failed (plug-in %d, host exit %lu)\n", int(own.result), host.code);
                ok = false;
                break;
            }
            m.own.push_back(own.seconds);
            m.host.push_back(host.ms.at("filtering") / 1e3);
            m.in_run.push_back(host.ms.count("start") ? host.ms.at("start") / 1e3 : 0);
            for (const auto& part : host.ms) m.parts[part.first].push_back(part.second);
        }
    }
    std::printf("%s: the reference host's filtering phase on a %d x %d picture at size %d, beside the "
                "plug-in's own start selector on it (medians of %d interleaved runs; threads as the plug-in "
                "chooses them)\n",
                bits.c_str(), o.width, o.height, o.size, o.reps);
    std::printf("\"plug-in\": its start selector served from memory, without copies, repeated in one process;\n"
                "\"in the run\": its own part of the start selector in the host's run, its first in that process\n");
    std::printf("%-5s %12s %12s %7s %12s %7s   %s\n", "mode", "filtering", "plug-in", "ratio", "in the run", "ratio",
                "the phase's parts in ms (filterhost --times)");
    for (Mode& m : modes) {
        if (m.own.empty()) continue;
        std::string parts;
        for (const char* name : {"plugin", "start", "input", "output", "write_back", "allocation", "first_touch", "freeing",
                                 "progress"}) {
            char part[48];
            std::snprintf(part, sizeof part, "%s%s %.1f", parts.empty() ? "" : ", ", name, bench::median(m.parts[name]));
            parts += part;
        }
        std::printf("%-5s %7.2f ns/px %7.2f ns/px %7.2f %7.2f ns/px %7.2f   %s\n", m.name,
                    bench::median(m.host) * 1e9 / pixels, bench::median(m.own) * 1e9 / pixels, bench::paired_median(m.host, m.own),
                    bench::median(m.in_run) * 1e9 / pixels, bench::paired_median(m.host, m.in_run), parts.c_str());
    }

    // ---- the whole host process on a large JPEG beside reading and writing it alone
    const std::string photo = scratch + "photo.jpg";
    {
        const bench::Picture big = bench::make_picture(o.big_width, o.big_height, 3);
        ok = ok && save(big, photo);
    }
    std::vector<double> job, copy;
    std::map<std::string, std::vector<double>> job_parts, copy_parts;
    for (int rep = 0; rep < o.reps && ok; ++rep) {
        const HostRun filtered = run_host(folder, "--times --quiet --settings " + std::to_string(o.size) + " \"" +
                                                      folder + "Cellumbra.8bf\" \"" + photo + "\" \"" + scratch +
                                                      "photo-cells.jpg\"");
        const HostRun copied =
            run_host(folder, "--times --quiet --no-filter \"" + photo + "\" \"" + scratch + "photo-copy.jpg\"");
        if (filtered.code != 0 || copied.code != 0) {
            ok = false;
            break;
        }
        job.push_back(filtered.seconds);
        copy.push_back(copied.seconds);
        for (const auto& part : filtered.ms) job_parts[part.first].push_back(part.second);
        for (const auto& part : copied.ms) copy_parts[part.first].push_back(part.second);
    }
    if (!job.empty()) {
        std::printf("%s: the whole host process on a %d x %d JPEG at size %d, beside reading and writing it "
                    "alone (--no-filter), from start to exit (medians of %d interleaved runs)\n",
                    bits.c_str(), o.big_width, o.big_height, o.size, int(job.size()));
        std::printf("main job %.2f s (reading %.0f, preparing %.0f, filtering %.0f, writing %.0f ms); "
                    "reading and writing alone %.2f s (reading %.0f, writing %.0f ms); ratio %.2f\n",
                    bench::median(job), bench::median(job_parts["reading"]), bench::median(job_parts["preparing"]),
                    bench::median(job_parts["filtering"]), bench::median(job_parts["writing"]), bench::median(copy),
                    bench::median(copy_parts["reading"]), bench::median(copy_parts["writing"]), bench::paired_median(job, copy));
    }
    for (const char* name : {"picture-rgb.bmp", "picture-rgba.bmp", "photo.jpg", "photo-cells.jpg",
                             "photo-copy.jpg", "host.log"})
        DeleteFileA((scratch + name).c_str());
    RemoveDirectoryA(scratch.c_str());
    return ok ? 0 : 1;
}
