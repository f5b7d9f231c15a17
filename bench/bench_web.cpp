// The page's module under Node, as a child that answers one line per run:
// the benchmark writes a size, the child runs the module's cells over the
// whole picture and answers its seconds and a hash of the bytes it wrote.
#include "bench/bench_web.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <sys/wait.h>

namespace bench {
namespace {

// 32-bit FNV-1a, as the child computes it.
uint32_t fnv(const std::vector<unsigned char>& bytes)
{
    uint32_t h = 2166136261u;
    for (unsigned char b : bytes) h = (h ^ b) * 16777619u;
    return h;
}

struct Child {
    pid_t pid = -1;
    FILE* to = nullptr;
    FILE* from = nullptr;

    bool start(const std::vector<std::string>& args)
    {
        int down[2], up[2];
        if (pipe(down) != 0 || pipe(up) != 0) return false;
        pid = fork();
        if (pid == 0) {
            dup2(down[0], 0), dup2(up[1], 1);
            close(down[1]), close(up[0]);
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(down[0]), close(up[1]);
        to = fdopen(down[1], "w");
        from = fdopen(up[0], "r");
        return pid > 0 && to && from;
    }
    bool ask(int32_t size, double& seconds, uint32_t& hash)
    {
        std::fprintf(to, "%d\n", size);
        std::fflush(to);
        char line[128];
        return std::fgets(line, sizeof line, from) && std::sscanf(line, "%lf %u", &seconds, &hash) == 2;
    }
    ~Child()
    {
        if (to) std::fclose(to);
        if (from) std::fclose(from);
        if (pid > 0) waitpid(pid, nullptr, 0);
    }
};

} // namespace

int run_web_benchmark(PluginDriver& plugin, const Options& options, const char* script, const char* wasm)
{
    const Picture in = make_picture(options.width, options.height, 3);
    Picture out = in;
    const std::string picture_file = "web-bench-picture.raw";
    if (FILE* f = std::fopen(picture_file.c_str(), "wb")) {
        std::fwrite(in.pixels.data(), 1, in.pixels.size(), f);
        std::fclose(f);
    } else {
        std::fprintf(stderr, "web benchmark: cannot write %s\n", picture_file.c_str());
        return 1;
    }
    Child node;
    if (!node.start({"node", script, wasm, picture_file, std::to_string(in.width), std::to_string(in.height)})) {
        std::fprintf(stderr, "web benchmark: cannot start node\n");
        return 1;
    }
    std::printf("Cellumbra benchmark, the browser page's WebAssembly kernel under Node beside the %s build\n",
                plugin.build_name());
    std::printf("picture %d x %d RGB, %d runs per size. ns per pixel: the module's cells over the whole picture\n"
                "(one call, one thread), and the plug-in's run from its first request for image data to the\n"
                "start selector's return (block bound, one thread, one band), timed back to back in every\n"
                "repetition; \"ratio\": the median of each repetition's module / plug-in.\n",
                in.width, in.height, options.repetitions);
    set_thread_setting(1);
    plugin.use_table(false);
    MemoryHost host;
    const double pixels = double(in.width) * in.height;
    struct Case {
        int32_t size;
        std::vector<double> module, native;
        bool identical = true;
    };
    std::vector<Case> cases;
    for (int32_t size : options.sizes) cases.push_back(Case{size, {}, {}, true});
    int failures = 0;
    for (int rep = 0; rep < options.repetitions; ++rep)
        for (Case& c : cases) {
            plugin.set_size(c.size);
            host.prepare(in, out, max_space_for_rows(in.height, in, c.size));
            const RunResult r = plugin.start(host.record);
            if (r.result != 0) ++failures;
            c.native.push_back(host.requests > 0 ? r.end - host.first_request : r.seconds);
            double seconds = 0;
            uint32_t hash = 0;
            if (!node.ask(c.size, seconds, hash)) {
                std::fprintf(stderr, "web benchmark: no answer from node\n");
                return 1;
            }
            c.module.push_back(seconds);
            if (hash != fnv(out.pixels)) c.identical = false;
        }
    std::printf("%5s %12s %12s %12s %12s %7s %7s %9s\n", "size", "module med.", "module min", "plug-in med.",
                "plug-in min", "ratio", "min r.", "identical");
    for (const Case& c : cases) {
        std::vector<double> ratios;
        for (size_t i = 0; i < c.module.size(); ++i) ratios.push_back(c.module[i] / c.native[i]);
        const double module_min = *std::min_element(c.module.begin(), c.module.end());
        const double native_min = *std::min_element(c.native.begin(), c.native.end());
        std::printf("%5d %9.2f ns %9.2f ns %9.2f ns %9.2f ns %7.2f %7.2f %9s\n", c.size,
                    median(c.module) * 1e9 / pixels, module_min * 1e9 / pixels, median(c.native) * 1e9 / pixels,
                    native_min * 1e9 / pixels, median(ratios), module_min / native_min, c.identical ? "yes" : "NO");
        if (!c.identical) ++failures;
    }
    std::remove(picture_file.c_str());
    return failures == 0 ? 0 : 1;
}

} // namespace bench
