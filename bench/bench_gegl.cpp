#include "bench/bench_gegl.h"

#include <gegl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {
namespace {

// One way of making cells: a GEGL node over the picture, or the plug-in.
struct Way {
    const char* name;
    GeglNode* node; // null: the plug-in's own run
    std::vector<double> seconds;
    std::vector<unsigned char> result;
};

// The whole picture rendered from `node` into memory, as GIMP and the gegl
// tool ask for it: every chunk through the operation, no cache.
double render(GeglNode* node, const GeglRectangle& whole, std::vector<unsigned char>& out)
{
    const double t0 = seconds_now();
    gegl_node_blit(node, 1.0, &whole, babl_format("R'G'B' u8"), out.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
    return seconds_now() - t0;
}

double plugin_run(PluginDriver& plugin, const Picture& in, Picture& out)
{
    MemoryHost host;
    host.prepare(in, out, 1 << 30); // one band, as a host with the memory gives it
    const RunResult r = plugin.start(host.record);
    return r.result == 0 ? r.end - host.first_request : -1;
}

} // namespace

int run_gegl_benchmark(PluginDriver& plugin, const Options& options)
{
    // gegl:mosaic comes in the GPL3 module, which GEGL loads only for a
    // program that declares that licence, as the gegl tool and GIMP do.
    g_object_set(gegl_config(), "application-license", "GPL3", nullptr);
    g_setenv("GEGL_PATH", CELLUMBRA_GEGL_MODULE_DIR ":" CELLUMBRA_BENCH_MODULE_DIR ":" GEGL_SYSTEM_MODULE_DIR, TRUE);
    gegl_init(nullptr, nullptr);
    int default_threads = 1;
    g_object_get(gegl_config(), "threads", &default_threads, nullptr);

    const Picture picture = make_picture(options.width, options.height, 3);
    const GeglRectangle whole{0, 0, picture.width, picture.height};
    const double pixels = double(picture.width) * picture.height;
    GeglBuffer* input = gegl_buffer_new(&whole, babl_format("R'G'B' u8"));
    gegl_buffer_set(input, &whole, 0, babl_format("R'G'B' u8"), picture.pixels.data(), GEGL_AUTO_ROWSTRIDE);

    std::printf("GEGL %d.%d.%d, %d x %d R'G'B' u8, ns a pixel, median of %d; GEGL threads 1 and its default %d;\n"
                "the plug-in natively in one band, CELLUMBRA_THREADS 1 and its default; mosaic: hexagons,\n"
                "tile size 4 s, no averaging, colour variation, surface, spacing or antialiasing; pixelize:\n"
                "blocks 4 s a side. Ratios: medians of each repetition's, the ways timed back to back.\n\n",
                GEGL_MAJOR_VERSION, GEGL_MINOR_VERSION, GEGL_MICRO_VERSION, picture.width, picture.height,
                options.repetitions, default_threads);
    std::printf("| size | threads | cellumbra:cells | yardstick | gegl:mosaic | gegl:pixelize | plug-in | mosaic / cells | cells / yardstick |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    int status = 0;
    for (int32_t s : options.sizes) {
        GeglNode* root = gegl_node_new();
        GeglNode* source = gegl_node_new_child(root, "operation", "gegl:buffer-source", "buffer", input, nullptr);
        auto add = [&](GeglNode* node) {
            gegl_node_link(source, node);
            return node;
        };
        Way ways[] = {
            {"cells", add(gegl_node_new_child(root, "operation", "cellumbra:cells", "size", s, nullptr)), {}, {}},
            {"yardstick", add(gegl_node_new_child(root, "operation", "cellumbra:yardstick", "size", s, nullptr)), {}, {}},
            {"mosaic", add(gegl_node_new_child(root, "operation", "gegl:mosaic", "tile-type", 1 /* hexagons */,
                                               "tile-size", 4.0 * s, "color-averaging", FALSE, "color-variation", 0.0,
                                               "tile-surface", FALSE, "tile-spacing", 0.0, "antialiasing", FALSE,
                                               nullptr)), {}, {}},
            {"pixelize", add(gegl_node_new_child(root, "operation", "gegl:pixelize", "size-x", 4 * s, "size-y", 4 * s,
                                                 nullptr)), {}, {}},
            {"plug-in", nullptr, {}, {}},
        };
        for (int threads : {1, default_threads}) {
            g_object_set(gegl_config(), "threads", threads, nullptr);
            set_thread_setting(threads == 1 ? 1 : 0);
            plugin.set_size(s);
            for (Way& w : ways) w.seconds.clear();
            for (int rep = 0; rep < options.repetitions; ++rep)
                for (Way& w : ways) {
                    w.result.assign(picture.pixels.size(), 0);
                    Picture out = picture;
                    if (w.node) {
                        w.seconds.push_back(render(w.node, whole, w.result));
                    } else {
                        w.seconds.push_back(plugin_run(plugin, picture, out));
                        w.result = out.pixels;
                    }
                }
            const bool same = ways[0].result == ways[4].result && ways[1].result == ways[4].result;
            if (!same) status = 1;
            std::vector<double> mosaic_ratio, yard_ratio;
            for (int rep = 0; rep < options.repetitions; ++rep) {
                mosaic_ratio.push_back(ways[2].seconds[size_t(rep)] / ways[0].seconds[size_t(rep)]);
                yard_ratio.push_back(ways[0].seconds[size_t(rep)] / ways[1].seconds[size_t(rep)]);
            }
            std::printf("| %d | %d |", s, threads);
            for (Way& w : ways) std::printf(" %.2f |", median(w.seconds) * 1e9 / pixels);
            std::printf(" %.0f | %.2f |%s\n", median(mosaic_ratio), median(yard_ratio),
                        same ? "" : " (NOT THE PLUG-IN'S BYTES)");
        }
        g_object_unref(root);
    }
    g_object_unref(input);
    gegl_exit();
    return status;
}

} // namespace bench
