// The GEGL operation through the real GEGL library and the module as it
// ships, against the plug-in's whole-picture run of the same picture through
// the fake host (one band, no selection), the code the Windows builds run.
// One table: pictures and their formats, GEGL's threads, and how the result
// is asked for (the whole picture through a sink, scattered small requests,
// requests along the edges), each at sizes across 1..100.
#include <gtest/gtest.h>

#include <gegl.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/kernel.h"
#include "runtime/run_state.h"
#include "shell/shell.h"
#include "support/cell_reference.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"

namespace {

const char* format_name(int32_t planes)
{
    return planes == 4 ? "R'G'B'A u8" : "R'G'B' u8";
}

// Every position of a picture has its own colour, and alpha differs from the
// three planes the cells move.
void paint(FakeHost& host)
{
    for (int32_t y = 0; y < host.height; ++y)
        for (int32_t x = 0; x < host.width; ++x) {
            unsigned char* p = &host.source[host.offset(y, x)];
            p[0] = static_cast<unsigned char>(x * 3 + y);
            p[1] = static_cast<unsigned char>(y * 5 + (x >> 8));
            p[2] = static_cast<unsigned char>(x * 7 + y * 13);
            if (host.planes > 3) p[3] = static_cast<unsigned char>(x ^ (y * 3) ^ 0x5A);
        }
    host.picture = host.source;
}

// The plug-in's result on the whole picture, as the product binds its block.
std::vector<unsigned char> plugin_cells(FakeHost& host, int32_t size)
{
    ScopedModuleState state;
    fake_platform.reset();
    parameters_requested = 0; // the dialog accepts at once with control_values
    bind_filter_blocks();
    const int32_t saved = control_values[0];
    control_values[0] = size;
    EXPECT_EQ(host.run(), noErr);
    control_values[0] = saved;
    return host.picture;
}

enum class Ask { whole, scattered, edges };

struct Case {
    int32_t width, height, planes;
    int32_t threads; // GEGL_THREADS
    Ask ask;
    int32_t x0 = 0, y0 = 0; // where the picture lies in GEGL's plane
    const char* stored = nullptr; // the source buffer's format, if not 8-bit R'G'B'(A)
};

// The rectangles asked for, inside the picture (relative to its corner).
std::vector<GeglRectangle> requests(const Case& c, uint32_t seed)
{
    const int32_t w = c.width, h = c.height;
    if (c.ask == Ask::whole) return {};
    std::vector<GeglRectangle> rects;
    if (c.ask == Ask::edges) {
        for (int32_t k : {1, 3}) {
            rects.push_back({0, 0, w, std::min(k, h)});
            rects.push_back({0, std::max(0, h - k), w, std::min(k, h)});
            rects.push_back({0, 0, std::min(k, w), h});
            rects.push_back({std::max(0, w - k), 0, std::min(k, w), h});
        }
        rects.push_back({std::max(0, w - 5), std::max(0, h - 5), std::min(5, w), std::min(5, h)});
        return rects;
    }
    std::mt19937 random(seed);
    for (int i = 0; i < 12; ++i) {
        const int32_t rw = 1 + int32_t(random() % uint32_t(std::min(w, 17)));
        const int32_t rh = 1 + int32_t(random() % uint32_t(std::min(h, 17)));
        rects.push_back({int32_t(random() % uint32_t(w - rw + 1)), int32_t(random() % uint32_t(h - rh + 1)), rw, rh});
    }
    return rects;
}

// The operation's result over `rect` (relative to the picture's corner).
struct Graph {
    GeglNode* root = gegl_node_new();
    GeglBuffer* input;
    GeglNode* cells;
    const Case c;

    Graph(const Case& pic, const std::vector<unsigned char>& pixels, int32_t size) : c(pic)
    {
        const GeglRectangle extent{c.x0, c.y0, c.width, c.height};
        input = gegl_buffer_new(&extent, babl_format(c.stored ? c.stored : format_name(c.planes)));
        if (!pixels.empty()) // else left unwritten: GEGL makes no tile for it
            gegl_buffer_set(input, &extent, 0, babl_format(format_name(c.planes)), pixels.data(), GEGL_AUTO_ROWSTRIDE);
        GeglNode* source = gegl_node_new_child(root, "operation", "gegl:buffer-source", "buffer", input, nullptr);
        cells = gegl_node_new_child(root, "operation", "cellumbra:cells", "size", size, nullptr);
        gegl_node_link(source, cells);
    }
    ~Graph()
    {
        g_object_unref(root);
        g_object_unref(input);
    }

    std::vector<unsigned char> blit(const GeglRectangle& r) const
    {
        std::vector<unsigned char> out(size_t(r.width) * size_t(r.height) * size_t(c.planes));
        const GeglRectangle at{r.x + c.x0, r.y + c.y0, r.width, r.height};
        gegl_node_blit(cells, 1.0, &at, babl_format(format_name(c.planes)), out.data(), GEGL_AUTO_ROWSTRIDE,
                       GEGL_BLIT_DEFAULT);
        return out;
    }

    // Through a sink, as the gegl tool and GIMP render a whole picture.
    std::vector<unsigned char> whole() const
    {
        GeglBuffer* result = nullptr;
        GeglNode* sink = gegl_node_new_child(root, "operation", "gegl:buffer-sink", "buffer", &result, nullptr);
        gegl_node_link(cells, sink);
        gegl_node_process(sink);
        std::vector<unsigned char> out(size_t(c.width) * size_t(c.height) * size_t(c.planes));
        if (!result) return {};
        const GeglRectangle* e = gegl_buffer_get_extent(result);
        EXPECT_EQ(e->x, c.x0);
        EXPECT_EQ(e->y, c.y0);
        EXPECT_EQ(e->width, c.width);
        EXPECT_EQ(e->height, c.height);
        gegl_buffer_get(result, e, 1.0, babl_format(format_name(c.planes)), out.data(), GEGL_AUTO_ROWSTRIDE,
                        GEGL_ABYSS_NONE);
        g_object_unref(result);
        return out;
    }
};

// The first differing byte of `got` (a rectangle of the picture) against the
// plug-in's picture, or an empty string.
std::string first_difference(const Case& c, const GeglRectangle& r, const std::vector<unsigned char>& got,
                             const std::vector<unsigned char>& want)
{
    for (int32_t y = 0; y < r.height; ++y)
        for (int32_t x = 0; x < r.width; ++x)
            for (int32_t z = 0; z < c.planes; ++z) {
                const unsigned char g = got[(size_t(y) * size_t(r.width) + size_t(x)) * size_t(c.planes) + size_t(z)];
                const unsigned char w =
                    want[(size_t(r.y + y) * size_t(c.width) + size_t(r.x + x)) * size_t(c.planes) + size_t(z)];
                if (g != w)
                    return "pixel (" + std::to_string(r.x + x) + ", " + std::to_string(r.y + y) + ") plane " +
                           std::to_string(z) + " is " + std::to_string(g) + ", the plug-in gives " +
                           std::to_string(w);
            }
    return {};
}

void set_gegl_threads(int32_t n)
{
    g_object_set(gegl_config(), "threads", n, nullptr);
}

TEST(CellsOperation, GivesThePluginsBytesForEveryPictureSizeThreadAndRequest)
{
    // Tiles are 128 x 64 here; sides that are not multiples of them, and
    // down to 1 x 1.
    const Case cases[] = {
        {1, 1, 3, 1, Ask::whole},        {1, 1, 4, 4, Ask::whole},        {2, 1, 3, 4, Ask::whole},
        {1, 9, 4, 1, Ask::edges},        {7, 5, 3, 4, Ask::scattered},    {37, 23, 4, 4, Ask::whole},
        {61, 29, 4, 1, Ask::scattered},  {100, 100, 3, 1, Ask::whole},    {100, 100, 4, 4, Ask::whole},
        {97, 83, 3, 4, Ask::scattered},  {129, 65, 4, 4, Ask::edges},     {301, 203, 3, 4, Ask::whole},
        {257, 131, 4, 4, Ask::scattered}, {300, 200, 3, 1, Ask::edges},
        // Elsewhere in GEGL's plane: the cells start at the picture's corner.
        {997, 601, 4, 4, Ask::whole},
        {83, 71, 4, 4, Ask::whole, -37, 19}, {90, 50, 3, 1, Ask::scattered, 1000, -501},
        // Stored otherwise: GEGL converts to 8-bit R'G'B'(A) and back.
        {61, 37, 4, 4, Ask::whole, 0, 0, "RGBA float"}, {45, 33, 3, 1, Ask::scattered, 0, 0, "Y u16"},
        {50, 20, 4, 4, Ask::edges, 0, 0, "Y'A u8"},
    };
    const int32_t sizes[] = {1, 2, 3, 4, 5, 7, 11, 16, 20, 33, 50, 64, 99, 100};
    uint32_t seed = 1;
    for (const Case& c : cases) {
        set_gegl_threads(c.threads);
        for (int32_t size : sizes) {
            FakeHost host(c.width, c.height, c.planes);
            paint(host);
            const Graph graph(c, host.source, size);
            // The plug-in sees the picture as the operation reads it.
            gegl_buffer_get(graph.input, nullptr, 1.0, babl_format(format_name(c.planes)), host.source.data(),
                            GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
            host.picture = host.source;
            const std::vector<unsigned char> want = plugin_cells(host, size);
            const std::string where = std::to_string(c.width) + " x " + std::to_string(c.height) + ", " +
                                      format_name(c.planes) + ", size " + std::to_string(size) + ", " +
                                      std::to_string(c.threads) + " threads: ";
            if (c.ask == Ask::whole) {
                const std::string diff = first_difference(c, {0, 0, c.width, c.height}, graph.whole(), want);
                ASSERT_EQ(diff, "") << where << "whole picture";
            }
            for (const GeglRectangle& r : requests(c, seed++)) {
                const std::string diff = first_difference(c, r, graph.blit(r), want);
                ASSERT_EQ(diff, "") << where << "request " << r.x << ", " << r.y << ", " << r.width << " x "
                                    << r.height;
            }
        }
    }
    set_gegl_threads(1);
}

// An empty picture gives an empty one; on a picture of a million pixels a
// side, a small request reads only around itself (GEGL's buffer holds only
// the tiles written), and its cells start at the picture's corner.
TEST(CellsOperation, AnEmptyOrAHugePictureEndsWell)
{
    const std::vector<unsigned char> none;
    const Graph empty(Case{0, 0, 3, 1, Ask::whole}, none, 5);
    const GeglRectangle nothing = gegl_node_get_bounding_box(empty.cells);
    EXPECT_TRUE(gegl_rectangle_is_empty(&nothing));
    EXPECT_TRUE(empty.whole().empty());

    const int32_t side = 1000000, s = 5, x = side - 40, y = side - 30;
    const Case c{side, side, 3, 4, Ask::whole, -side / 2, 7};
    Graph huge(c, none, s);
    // Position colours around the request, out to the cells' reach.
    const GeglRectangle patch{c.x0 + x - 11, c.y0 + y - 10, 51, 40};
    std::vector<unsigned char> colours(size_t(patch.width) * size_t(patch.height) * 3);
    for (int32_t r = 0; r < patch.height; ++r)
        for (int32_t k = 0; k < patch.width; ++k) {
            unsigned char* p = &colours[(size_t(r) * size_t(patch.width) + size_t(k)) * 3];
            p[0] = static_cast<unsigned char>(k), p[1] = static_cast<unsigned char>(r), p[2] = 77;
        }
    gegl_buffer_set(huge.input, &patch, 0, babl_format("R'G'B' u8"), colours.data(), GEGL_AUTO_ROWSTRIDE);
    const GeglRectangle request{x, y, 40, 30};
    const std::vector<unsigned char> got = huge.blit(request);
    for (int32_t r = 0; r < request.height; ++r)
        for (int32_t k = 0; k < request.width; ++k) {
            const CellCentre centre = nearest_centre(x + k, y + r, s);
            const int32_t cx = std::min(centre.x, side - 1) - (x - 11), cy = std::min(centre.y, side - 1) - (y - 10);
            const unsigned char* p = &got[(size_t(r) * size_t(request.width) + size_t(k)) * 3];
            ASSERT_EQ(p[0], cx) << k << ", " << r;
            ASSERT_EQ(p[1], cy) << k << ", " << r;
            ASSERT_EQ(p[2], 77) << k << ", " << r;
        }
}

std::string module_path()
{
    return CELLUMBRA_GEGL_MODULE_DIR "/cellumbra-cells.so";
}

// The picture of a PNG file as 8-bit R'G'B'A, through GEGL's own loader.
std::vector<unsigned char> load_png(const std::string& path, int32_t& width, int32_t& height)
{
    GeglNode* root = gegl_node_new();
    GeglNode* load = gegl_node_new_child(root, "operation", "gegl:png-load", "path", path.c_str(), nullptr);
    const GeglRectangle box = gegl_node_get_bounding_box(load);
    width = box.width;
    height = box.height;
    std::vector<unsigned char> pixels(size_t(box.width) * size_t(box.height) * 4);
    gegl_node_blit(load, 1.0, &box, babl_format("R'G'B'A u8"), pixels.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
    g_object_unref(root);
    return pixels;
}

TEST(CellsOperation, TheGeglToolTurnsAPngIntoThePluginsCells)
{
    gchar* dir = g_dir_make_tmp("cellumbra-gegl-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    const std::string in = std::string(dir) + "/in.png", out = std::string(dir) + "/out.png";
    // An RGBA picture of odd sides, written as PNG by GEGL.
    const Case c{173, 91, 4, 1, Ask::whole};
    FakeHost host(c.width, c.height, c.planes);
    paint(host);
    {
        const Graph graph(c, host.source, 1);
        GeglNode* save = gegl_node_new_child(graph.root, "operation", "gegl:png-save", "path", in.c_str(), nullptr);
        gegl_node_link(gegl_node_get_producer(graph.cells, "input", nullptr), save);
        gegl_node_process(save);
    }
    const std::string command = "gegl '" + in + "' -o '" + out + "' -- cellumbra:cells size=9 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    int32_t width = 0, height = 0;
    const std::vector<unsigned char> got = load_png(out, width, height);
    ASSERT_EQ(width, c.width);
    ASSERT_EQ(height, c.height);
    EXPECT_EQ(first_difference(c, {0, 0, width, height}, got, plugin_cells(host, 9)), "");
    std::remove(in.c_str());
    std::remove(out.c_str());
    g_rmdir(dir);
    g_free(dir);
}

TEST(CellsOperation, TheModuleExportsOnlyGeglsTwoEntryPoints)
{
    const std::string command = "nm -D --defined-only --format=just-symbols '" + module_path() + "'";
    FILE* nm = popen(command.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::vector<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) names.emplace_back(line, std::strcspn(line, "\n"));
    ASSERT_EQ(pclose(nm), 0) << command;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"gegl_module_query", "gegl_module_register"}));
}

// The module built with ThreadSanitizer, driven by a program built with it
// (tests/gegl/tsan_driver.cpp): GEGL's threads and two of the program's run
// two nodes at once; any report that the suppressions leave fails it.
TEST(CellsOperation, RunsCleanUnderThreadSanitizerWhileGeglCallsItFromSeveralThreads)
{
    const std::string command = "TSAN_OPTIONS='suppressions=" CELLUMBRA_GEGL_TSAN_SUPPRESSIONS
                                " halt_on_error=0' '" CELLUMBRA_GEGL_TSAN_DRIVER "' 2>&1";
    FILE* run = popen(command.c_str(), "r");
    ASSERT_NE(run, nullptr);
    std::string output;
    char line[1024];
    while (std::fgets(line, sizeof line, run)) output += line;
    EXPECT_EQ(pclose(run), 0) << output;
    EXPECT_NE(output.find("every rendering agrees"), std::string::npos) << output;
    EXPECT_EQ(output.find("ThreadSanitizer"), std::string::npos) << output;
}

} // namespace

// GEGL's own modules, which gegl_init loads, keep allocations from libraries
// built without frame pointers, which the leak checker cannot tell from ours;
// the plug-in's code is leak-checked in the unit tests.
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=0";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The module as built, then GEGL's own operations: GEGL_PATH replaces
    // both folders GEGL would search.
    g_setenv("GEGL_PATH", CELLUMBRA_GEGL_MODULE_DIR ":" GEGL_SYSTEM_MODULE_DIR, TRUE);
    gegl_init(&argc, &argv);
    const int result = RUN_ALL_TESTS();
    gegl_exit();
    return result;
}
