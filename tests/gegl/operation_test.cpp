// The GEGL operation through the real GEGL library and the module as it
// ships, against the plug-in's whole-picture run through the fake host (one
// band, no selection), the code the Windows builds run. One table: pictures,
// their formats, GEGL's threads and how the result is asked for (whole
// through a sink, scattered small requests, along the edges), each at sizes
// across 1..100.
#include <gtest/gtest.h>

#include <gegl.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
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

using Bytes = std::vector<unsigned char>;

const Babl* format_of(int32_t planes)
{
    return babl_format(planes == 4 ? "R'G'B'A u8" : "R'G'B' u8");
}

// Every position has its own colour; alpha differs from the planes the cells move.
void paint(FakeHost& host)
{
    for (int32_t y = 0; y < host.height; ++y)
        for (int32_t x = 0; x < host.width; ++x) {
            unsigned char* p = &host.source[host.offset(y, x)];
            p[0] = uint8_t(x * 3 + y), p[1] = uint8_t(y * 5 + (x >> 8)), p[2] = uint8_t(x * 7 + y * 13);
            if (host.planes > 3) p[3] = uint8_t(x ^ (y * 3) ^ 0x5A);
        }
    host.picture = host.source;
}

// The plug-in's result on the whole picture, its block bound as the product binds it.
Bytes plugin_cells(FakeHost& host, int32_t size)
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
    int32_t width, height, planes, threads; // threads: GEGL_THREADS
    Ask ask;
    int32_t x0 = 0, y0 = 0;       // where the picture lies in GEGL's plane
    const char* stored = nullptr; // the source buffer's format, if not 8-bit R'G'B'(A)
};

// The rectangles asked for, relative to the picture's corner.
std::vector<GeglRectangle> requests(const Case& c, uint32_t seed)
{
    const int32_t w = c.width, h = c.height;
    std::vector<GeglRectangle> rects;
    if (c.ask == Ask::edges)
        for (int32_t k : {1, 3})
            rects.insert(rects.end(), {{0, 0, w, std::min(k, h)}, {0, std::max(0, h - k), w, std::min(k, h)},
                                       {0, 0, std::min(k, w), h}, {std::max(0, w - k), 0, std::min(k, w), h}});
    std::mt19937 random(seed);
    for (int i = 0; c.ask == Ask::scattered && i < 12; ++i) {
        const int32_t rw = 1 + int32_t(random() % uint32_t(std::min(w, 17)));
        const int32_t rh = 1 + int32_t(random() % uint32_t(std::min(h, 17)));
        rects.push_back({int32_t(random() % uint32_t(w - rw + 1)), int32_t(random() % uint32_t(h - rh + 1)), rw, rh});
    }
    return rects;
}

// A buffer source holding the picture (left unwritten when `pixels` is
// empty: GEGL then makes no tile), and the operation after it.
struct Graph {
    const Case c;
    GeglNode* root = gegl_node_new();
    GeglBuffer* input;
    GeglNode* cells;

    Graph(const Case& pic, const Bytes& pixels, int32_t size) : c(pic)
    {
        const GeglRectangle extent{c.x0, c.y0, c.width, c.height};
        input = gegl_buffer_new(&extent, c.stored ? babl_format(c.stored) : format_of(c.planes));
        if (!pixels.empty()) gegl_buffer_set(input, &extent, 0, format_of(c.planes), pixels.data(), GEGL_AUTO_ROWSTRIDE);
        GeglNode* source = gegl_node_new_child(root, "operation", "gegl:buffer-source", "buffer", input, nullptr);
        cells = gegl_node_new_child(root, "operation", "cellumbra:cells", "size", size, nullptr);
        gegl_node_link(source, cells);
    }
    ~Graph()
    {
        g_object_unref(root);
        g_object_unref(input);
    }

    // The operation's result over `r`, relative to the picture's corner.
    Bytes blit(const GeglRectangle& r) const
    {
        Bytes out(size_t(r.width) * size_t(r.height) * size_t(c.planes));
        const GeglRectangle at{r.x + c.x0, r.y + c.y0, r.width, r.height};
        gegl_node_blit(cells, 1.0, &at, format_of(c.planes), out.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
        return out;
    }

    // Through a sink, as the gegl tool and GIMP render a whole picture.
    Bytes whole() const
    {
        GeglBuffer* result = nullptr;
        GeglNode* sink = gegl_node_new_child(root, "operation", "gegl:buffer-sink", "buffer", &result, nullptr);
        gegl_node_link(cells, sink);
        gegl_node_process(sink);
        if (!result) return {};
        const GeglRectangle extent{c.x0, c.y0, c.width, c.height};
        EXPECT_TRUE(gegl_rectangle_equal(gegl_buffer_get_extent(result), &extent));
        Bytes out(size_t(c.width) * size_t(c.height) * size_t(c.planes));
        gegl_buffer_get(result, &extent, 1.0, format_of(c.planes), out.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
        g_object_unref(result);
        return out;
    }
};

// The first byte of `got` (the rectangle r) that differs from the plug-in's picture.
std::string first_difference(const Case& c, const GeglRectangle& r, const Bytes& got, const Bytes& want)
{
    const size_t row = size_t(r.width) * size_t(c.planes);
    for (int32_t y = 0; y < r.height; ++y) {
        const auto g = got.begin() + y * row, w = want.begin() + (size_t(r.y + y) * c.width + r.x) * c.planes;
        const size_t k = size_t(std::mismatch(g, g + row, w).first - g);
        if (k < row)
            return "pixel (" + std::to_string(r.x + int32_t(k) / c.planes) + ", " + std::to_string(r.y + y) +
                   ") plane " + std::to_string(k % c.planes) + " is " + std::to_string(g[k]) +
                   ", the plug-in gives " + std::to_string(w[k]);
    }
    return {};
}

// What a command prints, and its exit status.
std::string output_of(const std::string& command, int& status)
{
    std::string output;
    FILE* run = popen((command + " 2>&1").c_str(), "r");
    char line[1024];
    while (run && std::fgets(line, sizeof line, run)) output += line;
    status = run ? pclose(run) : -1;
    return output;
}

TEST(CellsOperation, GivesThePluginsBytesForEveryPictureSizeThreadAndRequest)
{
    // Tiles are 128 x 64 here: sides that are not multiples of them, down to 1 x 1.
    const Case cases[] = {
        {1, 1, 3, 1, Ask::whole},         {1, 1, 4, 4, Ask::whole},        {2, 1, 3, 4, Ask::whole},
        {1, 9, 4, 1, Ask::edges},         {7, 5, 3, 4, Ask::scattered},    {37, 23, 4, 4, Ask::whole},
        {61, 29, 4, 1, Ask::scattered},   {100, 100, 3, 1, Ask::whole},    {100, 100, 4, 4, Ask::whole},
        {97, 83, 3, 4, Ask::scattered},   {129, 65, 4, 4, Ask::edges},     {301, 203, 3, 4, Ask::whole},
        {257, 131, 4, 4, Ask::scattered}, {300, 200, 3, 1, Ask::edges},    {997, 601, 4, 4, Ask::whole},
        // Elsewhere in GEGL's plane: the cells start at the picture's corner.
        {83, 71, 4, 4, Ask::whole, -37, 19}, {90, 50, 3, 1, Ask::scattered, 1000, -501},
        // Stored otherwise: GEGL converts to 8-bit R'G'B'(A) and back.
        {61, 37, 4, 4, Ask::whole, 0, 0, "RGBA float"}, {45, 33, 3, 1, Ask::scattered, 0, 0, "Y u16"},
        {50, 20, 4, 4, Ask::edges, 0, 0, "Y'A u8"},
    };
    uint32_t seed = 1;
    for (const Case& c : cases) {
        g_object_set(gegl_config(), "threads", c.threads, nullptr);
        for (int32_t size : {1, 2, 3, 4, 5, 7, 11, 16, 20, 33, 50, 64, 99, 100}) {
            FakeHost host(c.width, c.height, c.planes);
            paint(host);
            const Graph graph(c, host.source, size);
            // The plug-in sees the picture as the operation reads it.
            gegl_buffer_get(graph.input, nullptr, 1.0, format_of(c.planes), host.source.data(), GEGL_AUTO_ROWSTRIDE,
                            GEGL_ABYSS_NONE);
            host.picture = host.source;
            const Bytes want = plugin_cells(host, size);
            const std::string where = std::to_string(c.width) + " x " + std::to_string(c.height) + " x " +
                                      std::to_string(c.planes) + ", size " + std::to_string(size) + ", " +
                                      std::to_string(c.threads) + " threads: ";
            if (c.ask == Ask::whole)
                ASSERT_EQ(first_difference(c, {0, 0, c.width, c.height}, graph.whole(), want), "") << where;
            for (const GeglRectangle& r : requests(c, seed++))
                ASSERT_EQ(first_difference(c, r, graph.blit(r), want), "")
                    << where << "request " << r.x << ", " << r.y << ", " << r.width << " x " << r.height;
        }
    }
    g_object_set(gegl_config(), "threads", 1, nullptr);
}

// An empty picture gives an empty one; on a picture of a million pixels a
// side, a small request reads only around itself (GEGL's buffer holds only
// the tiles written), and its cells start at the picture's corner.
TEST(CellsOperation, AnEmptyOrAHugePictureEndsWell)
{
    const Graph empty(Case{0, 0, 3, 1, Ask::whole}, {}, 5);
    const GeglRectangle nothing = gegl_node_get_bounding_box(empty.cells);
    EXPECT_TRUE(gegl_rectangle_is_empty(&nothing));
    EXPECT_TRUE(empty.whole().empty());

    const int32_t side = 1000000, s = 5, x = side - 40, y = side - 30;
    const Graph huge(Case{side, side, 3, 4, Ask::whole, -side / 2, 7}, {}, s);
    // Position colours around the request, out to the cells' reach.
    const GeglRectangle patch{-side / 2 + x - 11, 7 + y - 10, 51, 40};
    Bytes colours;
    for (int32_t r = 0; r < patch.height; ++r)
        for (int32_t k = 0; k < patch.width; ++k) colours.insert(colours.end(), {uint8_t(k), uint8_t(r), 77});
    gegl_buffer_set(huge.input, &patch, 0, format_of(3), colours.data(), GEGL_AUTO_ROWSTRIDE);
    const Bytes got = huge.blit({x, y, 40, 30});
    for (int32_t r = 0; r < 30; ++r)
        for (int32_t k = 0; k < 40; ++k) {
            const CellCentre centre = nearest_centre(x + k, y + r, s);
            const unsigned char want[3] = {uint8_t(std::min(centre.x, side - 1) - (x - 11)),
                                           uint8_t(std::min(centre.y, side - 1) - (y - 10)), 77};
            ASSERT_TRUE(std::equal(want, want + 3, got.begin() + (r * 40 + k) * 3)) << k << ", " << r;
        }
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
    int status = 0;
    const std::string said = output_of("gegl '" + in + "' -o '" + out + "' -- cellumbra:cells size=9", status);
    EXPECT_EQ(status, 0) << said;
    // Read back through GEGL's own loader.
    GeglNode* root = gegl_node_new();
    GeglNode* load = gegl_node_new_child(root, "operation", "gegl:png-load", "path", out.c_str(), nullptr);
    const GeglRectangle box = gegl_node_get_bounding_box(load);
    Bytes got(size_t(c.width) * size_t(c.height) * 4);
    if (box.width == c.width && box.height == c.height)
        gegl_node_blit(load, 1.0, &box, format_of(4), got.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
    g_object_unref(root);
    EXPECT_EQ(box.width, c.width);
    EXPECT_EQ(first_difference(c, {0, 0, c.width, c.height}, got, plugin_cells(host, 9)), "");
    for (const std::string& file : {in, out}) g_remove(file.c_str());
    g_rmdir(dir);
    g_free(dir);
}

TEST(CellsOperation, TheModuleExportsOnlyGeglsTwoEntryPoints)
{
    int status = 0;
    EXPECT_EQ(output_of("nm -D --defined-only --format=just-symbols " CELLUMBRA_GEGL_MODULE_DIR
                        "/cellumbra-cells.so | sort", status),
              "gegl_module_query\ngegl_module_register\n");
    EXPECT_EQ(status, 0);
}

// The module built with ThreadSanitizer, driven by a program built with it
// (tests/gegl/tsan_driver.cpp): GEGL's threads and two of the program's run
// two nodes at once; any report that the suppressions leave fails it.
TEST(CellsOperation, RunsCleanUnderThreadSanitizerWhileGeglCallsItFromSeveralThreads)
{
    int status = 0;
    const std::string output = output_of(
        "TSAN_OPTIONS=suppressions=" CELLUMBRA_GEGL_TSAN_SUPPRESSIONS " " CELLUMBRA_GEGL_TSAN_DRIVER, status);
    EXPECT_EQ(status, 0) << output;
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
