#include "bench/bench_gegl.h"

#include <gegl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {
namespace {

// The whole picture rendered from `node` into memory in `format`, as GIMP
// and the gegl tool ask for it: every chunk through the operation, no cache.
double render(GeglNode* node, const GeglRectangle& whole, const Babl* format, std::vector<unsigned char>& out)
{
    const double t0 = seconds_now();
    gegl_node_blit(node, 1.0, &whole, format, out.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
    return seconds_now() - t0;
}

// An operation's renderings and the copy's, back to back, on `threads` of GEGL's.
struct Timings {
    std::vector<double> operation, copy;
};
Timings time_beside_copy(GeglNode* operation, GeglNode* copy, int threads, int repetitions, const GeglRectangle& whole,
                         const Babl* format, std::vector<unsigned char>& operation_out,
                         std::vector<unsigned char>& copy_out)
{
    g_object_set(gegl_config(), "threads", threads, nullptr);
    Timings t;
    for (int rep = 0; rep < repetitions; ++rep) {
        t.operation.push_back(render(operation, whole, format, operation_out));
        t.copy.push_back(render(copy, whole, format, copy_out));
    }
    return t;
}

} // namespace

int run_gegl_benchmark(PluginDriver&, const Options& options)
{
    g_setenv("GEGL_PATH", CELLUMBRA_GEGL_MODULE_DIR ":" GEGL_SYSTEM_MODULE_DIR, TRUE);
    gegl_init(nullptr, nullptr);
    int default_threads = 1;
    g_object_get(gegl_config(), "threads", &default_threads, nullptr);
    std::vector<int32_t> sizes = options.sizes;
    if (std::find(sizes.begin(), sizes.end(), 1) == sizes.end()) sizes.insert(sizes.begin(), 1);

    const Picture picture = make_picture(options.width, options.height, 4);
    const GeglRectangle whole{0, 0, picture.width, picture.height};
    const double pixels = double(picture.width) * picture.height;
    std::printf("GEGL %d.%d.%d, %d x %d, ns a pixel, median of %d; GEGL threads 1 and its default %d. The copy:\n"
                "gegl:nop on the same picture, rendered the same way, into memory of the same format. Ratios:\n"
                "medians of each repetition's, the two timed back to back.\n\n",
                GEGL_MAJOR_VERSION, GEGL_MINOR_VERSION, GEGL_MICRO_VERSION, picture.width, picture.height,
                options.repetitions, default_threads);
    std::printf("| format | size | threads | cellumbra:cells | copy | cells / copy |\n");
    std::printf("|---|---|---|---|---|---|\n");
    int status = 0;
    std::string floor_lines;
    for (const char* name : {"R'G'B'A u8", "RGBA float"}) {
        const Babl* format = babl_format(name);
        GeglBuffer* input = gegl_buffer_new(&whole, format);
        gegl_buffer_set(input, &whole, 0, babl_format("R'G'B'A u8"), picture.pixels.data(), GEGL_AUTO_ROWSTRIDE);
        const size_t bytes = size_t(pixels) * size_t(babl_format_get_bytes_per_pixel(format));
        std::vector<unsigned char> cells_out(bytes), copy_out(bytes);
        for (int32_t s : sizes) {
            GeglNode* root = gegl_node_new();
            GeglNode* source = gegl_node_new_child(root, "operation", "gegl:buffer-source", "buffer", input, nullptr);
            GeglNode* cells = gegl_node_new_child(root, "operation", "cellumbra:cells", "size", s, nullptr);
            GeglNode* copy = gegl_node_new_child(root, "operation", "gegl:nop", nullptr);
            gegl_node_link(source, cells);
            gegl_node_link(source, copy);
            // The 8-bit cells must be the specialised loop's, alpha kept.
            Picture reference = picture;
            specialised_cells(picture, reference, s);
            for (int threads : {1, default_threads}) {
                const Timings t =
                    time_beside_copy(cells, copy, threads, options.repetitions, whole, format, cells_out, copy_out);
                const bool same = bytes != reference.pixels.size() || cells_out == reference.pixels;
                if (!same) status = 1;
                std::printf("| `%s` | %d | %d | %.2f | %.2f | %.2f |%s\n", name, s, threads,
                            median(t.operation) * 1e9 / pixels, median(t.copy) * 1e9 / pixels,
                            paired_median(t.operation, t.copy), same ? "" : " (NOT THE PLUG-IN'S CELLS)");
                std::fflush(stdout);
            }
            g_object_unref(root);
        }
        // What any operation that writes a new picture pays here: GEGL hands
        // it fresh tiles, whose first touch costs the system's page faults,
        // and copies them out again. Float pictures are four times the bytes.
        if (babl_format_get_type(format, 0) == babl_type("float")) {
            GeglNode* root = gegl_node_new();
            GeglNode* source = gegl_node_new_child(root, "operation", "gegl:buffer-source", "buffer", input, nullptr);
            GeglNode* invert = gegl_node_new_child(root, "operation", "gegl:invert-linear", nullptr);
            GeglNode* copy = gegl_node_new_child(root, "operation", "gegl:nop", nullptr);
            gegl_node_link(source, invert);
            gegl_node_link(source, copy);
            for (int threads : {1, default_threads}) {
                const Timings t =
                    time_beside_copy(invert, copy, threads, options.repetitions, whole, format, cells_out, copy_out);
                char line[160];
                std::snprintf(line, sizeof line, "| `%s` | %d | %.2f | %.2f | %.2f |\n", name, threads,
                              median(t.operation) * 1e9 / pixels, median(t.copy) * 1e9 / pixels,
                              paired_median(t.operation, t.copy));
                floor_lines += line;
            }
            g_object_unref(root);
        }
        g_object_unref(input);
    }
    std::printf("\nGEGL's own gegl:invert-linear, the simplest operation that writes a new picture (one read,\n"
                "one write into fresh tiles), timed the same way: the floor of any such operation here.\n\n"
                "| format | threads | gegl:invert-linear | copy | invert / copy |\n|---|---|---|---|---|\n%s",
                floor_lines.c_str());
    gegl_exit();
    return status;
}

} // namespace bench
