// The GEGL operation through the real GEGL library and the module as it
// ships, against the plug-in's whole-picture run through the fake host (one
// band, no selection), the code the Windows builds run. One table: pictures,
// their formats, GEGL's threads and how the result is asked for (whole
// through a sink, scattered small requests, along the edges), each at sizes
// across 1..100.
#include <gtest/gtest.h>

#include <gegl.h>
#include <operation/gegl-operation.h>
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
#include "support/product_run.h"
#include "gegl/gegl_file.h"

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
    EXPECT_EQ(run_product_cells(host, size), noErr);
    return host.picture;
}

enum class Ask { whole, scattered, edges };

struct Case {
    int32_t width, height, planes, threads; // threads: GEGL_THREADS
    Ask ask;
    int32_t x0 = 0, y0 = 0;       // where the picture lies in GEGL's plane
    const char* stored = nullptr; // the source buffer's format, if not 8-bit R'G'B'(A)
    const char* works_in = nullptr; // the format the operation must ask for, if not 8-bit R'G'B'(A)
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
        // Stored otherwise: the operation works in the picture's own format,
        // without adding alpha, and a grey picture is filtered as grey.
        {61, 37, 4, 4, Ask::whole, 0, 0, "RGBA float", "RGBA float"},
        {33, 21, 3, 1, Ask::whole, 0, 0, "R'G'B' u16", "R'G'B' u16"},
        {45, 33, 3, 1, Ask::scattered, 0, 0, "Y u16", "Y u16"}, {50, 20, 4, 4, Ask::edges, 0, 0, "Y'A u8", "Y'A u8"},
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
            // The format asked for, once rendered: GEGL's conversions would
            // hide a plane added or a grey spread to RGB.
            const Babl* asked = gegl_operation_get_format(gegl_node_get_gegl_operation(graph.cells), "output");
            if (size == 1)
                EXPECT_STREQ(babl_get_name(asked), c.works_in ? c.works_in : babl_get_name(format_of(c.planes)))
                    << where;
        }
    }
    g_object_set(gegl_config(), "threads", 1, nullptr);
}

// The bytes of a picture stored in `format`, `bytes` a pixel: random bits
// (any NaN payload, infinity or denormal a float or half may hold), and for
// float pictures every third value one that a conversion would change.
Bytes random_pixels(int32_t pixels, const Babl* format, std::mt19937& random)
{
    Bytes out(size_t(pixels) * size_t(babl_format_get_bytes_per_pixel(format)));
    for (unsigned char& b : out) b = uint8_t(random());
    if (std::string(babl_get_name(babl_format_get_type(format, 0))) == "float") {
        const uint32_t specials[] = {0x7fc12345u /* NaN, payload */, 0xffa00001u /* signalling NaN */, 0x80000000u /* -0 */,
                                     0u, 0x7149f2cau /* 1e30 */, 0xc0200000u /* -2.5 */, 0x40600000u /* 3.5 */,
                                     0xbe800000u /* -0.25 */, 0x7f800000u /* infinity */};
        for (size_t k = 0; k + 4 <= out.size(); k += 12)
            std::memcpy(&out[k], &specials[(k / 12) % (sizeof specials / sizeof *specials)], 4);
    }
    return out;
}

// The cells computed the slow way on stored pixels: each pixel's colour bytes
// from its nearest centre, clamped to the picture, its alpha bytes its own.
Bytes expected_cells(const Bytes& in, int32_t width, int32_t height, int32_t size, size_t pixel, size_t kept)
{
    Bytes out(in.size());
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const CellCentre c = nearest_centre(x, y, size);
            const size_t at = (size_t(y) * size_t(width) + size_t(x)) * pixel;
            const size_t from = (size_t(std::clamp(c.y, 0, height - 1)) * size_t(width) +
                                 size_t(std::clamp(c.x, 0, width - 1))) * pixel;
            std::memcpy(&out[at], &in[from], pixel - kept);
            std::memcpy(&out[at + pixel - kept], &in[at + pixel - kept], kept);
        }
    return out;
}

// Every depth, model and encoding the operation copies whole, bit for bit,
// against the cells computed independently on the stored bytes: the result
// is in the picture's own format and keeps each pixel's alpha. Premultiplied
// pictures are worked on with alpha apart, and a model a copy cannot serve
// falls back to 8-bit R'G'B' with a warning that names it.
TEST(CellsOperation, KeepsEveryStoredValueAtEveryDepth)
{
    const Babl* wide = babl_space_from_chromaticities("cellumbra-deep", 0.3127, 0.3290, 0.64, 0.33, 0.21, 0.71, 0.15,
                                                      0.06, babl_trc_gamma(2.2), nullptr, nullptr, BABL_SPACE_FLAG_NONE);
    struct DeepCase {
        const char* stored;
        bool in_wide_space;
        const char* works_in; // the format it must ask for
        int32_t threads, x0, y0;
        const char* warning = nullptr; // in what the operation warns, if it must
    };
    const DeepCase cases[] = {
        {"R'G'B'A u8", false, "R'G'B'A u8", 1, 0, 0},       {"R'G'B' u16", false, "R'G'B' u16", 4, -13, 7},
        {"RGBA u16", true, "RGBA u16", 1, 0, 0},            {"Y u16", false, "Y u16", 4, 5, -3},
        {"Y'A u16", false, "Y'A u16", 1, 0, 0},             {"RGBA u32", false, "RGBA u32", 4, 0, 0},
        {"R'G'B' half", false, "R'G'B' half", 1, 0, 0},    {"YA half", false, "YA half", 4, 0, 0},
        {"RGBA float", false, "RGBA float", 4, -129, 65},   {"R'G'B' float", true, "R'G'B' float", 1, 0, 0},
        {"Y float", false, "Y float", 1, 0, 0},             {"R~G~B~A float", false, "R~G~B~A float", 4, 0, 0},
        {"R'G'B'A double", false, "R'G'B'A double", 1, 0, 0},
        {"RaGaBaA float", false, "RGBA float", 4, 0, 0},    {"Y'aA u16", false, "Y'A u16", 1, 0, 0},
        {"CMYKA float", false, "R'G'B'A u8", 1, 0, 0, "CMYKA float"},
    };
    std::mt19937 random(7);
    const int32_t width = 157, height = 93;
    for (const DeepCase& d : cases) {
        g_object_set(gegl_config(), "threads", d.threads, nullptr);
        const Babl* space = d.in_wide_space ? wide : nullptr;
        const Babl* stored = babl_format_with_space(d.stored, space);
        const Babl* works = babl_format_with_space(d.works_in, space);
        const size_t pixel = size_t(babl_format_get_bytes_per_pixel(works));
        const size_t kept = babl_format_has_alpha(works) ? pixel / size_t(babl_format_get_n_components(works)) : 0;
        const Bytes pixels = random_pixels(width * height, stored, random);
        for (int32_t size : {1, 3, 20, 100}) {
            const Case c{width, height, 0, d.threads, Ask::scattered, d.x0, d.y0};
            const GeglRectangle extent{c.x0, c.y0, width, height};
            GeglNode* root = gegl_node_new();
            GeglBuffer* input = gegl_buffer_new(&extent, stored);
            gegl_buffer_set(input, &extent, 0, stored, pixels.data(), GEGL_AUTO_ROWSTRIDE);
            // The stored values as the operation must see them.
            Bytes seen(size_t(width) * size_t(height) * pixel);
            gegl_buffer_get(input, &extent, 1.0, works, seen.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
            GeglNode* source = gegl_node_new_child(root, "operation", "gegl:buffer-source", "buffer", input, nullptr);
            GeglNode* cells = gegl_node_new_child(root, "operation", "cellumbra:cells", "size", size, nullptr);
            GeglBuffer* result = nullptr;
            GeglNode* sink = gegl_node_new_child(root, "operation", "gegl:buffer-sink", "buffer", &result, nullptr);
            gegl_node_link_many(source, cells, sink, nullptr);
            std::string warned;
            const guint handler = g_log_set_handler(
                nullptr, G_LOG_LEVEL_WARNING,
                [](const gchar*, GLogLevelFlags, const gchar* message, gpointer text) {
                    *static_cast<std::string*>(text) += message;
                },
                &warned);
            gegl_node_process(sink);
            g_log_remove_handler(nullptr, handler);
            const std::string where = std::string(d.stored) + ", size " + std::to_string(size) + ": ";
            ASSERT_NE(result, nullptr) << where;
            const Bytes want = expected_cells(seen, width, height, size, pixel, kept);
            EXPECT_STREQ(babl_get_name(gegl_buffer_get_format(result)), babl_get_name(works)) << where;
            EXPECT_EQ(babl_format_get_space(gegl_buffer_get_format(result)), babl_format_get_space(works)) << where;
            Bytes got(want.size());
            gegl_buffer_get(result, &extent, 1.0, works, got.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
            const size_t k = size_t(std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin());
            EXPECT_EQ(k, got.size()) << where << "pixel (" << k / pixel % size_t(width) << ", " << k / pixel / size_t(width)
                                     << ") byte " << k % pixel << " differs";
            // Small requests: GEGL's chunks at any origin and size.
            for (const GeglRectangle& r : requests(c, uint32_t(size))) {
                Bytes part(size_t(r.width) * size_t(r.height) * pixel);
                const GeglRectangle at{r.x + c.x0, r.y + c.y0, r.width, r.height};
                gegl_node_blit(cells, 1.0, &at, works, part.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
                for (int32_t row = 0; row < r.height; ++row)
                    ASSERT_TRUE(std::equal(part.begin() + long(size_t(row) * size_t(r.width) * pixel),
                                           part.begin() + long(size_t(row + 1) * size_t(r.width) * pixel),
                                           want.begin() + long((size_t(r.y + row) * size_t(width) + size_t(r.x)) * pixel)))
                        << where << "request " << r.x << ", " << r.y << ", " << r.width << " x " << r.height;
            }
            if (d.warning)
                EXPECT_NE(warned.find(d.warning), std::string::npos) << where << "warned: " << warned;
            else
                EXPECT_EQ(warned, "") << where;
            g_object_unref(result);
            g_object_unref(root);
            g_object_unref(input);
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

// A PNG file's chunks, in order, each whole: length, type, data and check.
std::vector<std::string> chunks_of(const std::string& path)
{
    gchar* text = nullptr;
    gsize length = 0;
    std::vector<std::string> chunks;
    if (!g_file_get_contents(path.c_str(), &text, &length, nullptr)) return chunks;
    const std::string file(text, length);
    g_free(text);
    for (size_t at = 8; at + 12 <= file.size();) {
        const size_t n = size_t(uint8_t(file[at])) << 24 | size_t(uint8_t(file[at + 1])) << 16 |
                         size_t(uint8_t(file[at + 2])) << 8 | uint8_t(file[at + 3]);
        if (n > file.size() - at - 12) break;
        chunks.push_back(file.substr(at, n + 12));
        at += n + 12;
    }
    return chunks;
}

std::string type_of(const std::string& chunk)
{
    return chunk.substr(4, 4);
}

// The chunks that say how the stored values are meant.
std::vector<std::string> colours_of(const std::vector<std::string>& chunks)
{
    std::vector<std::string> colours;
    for (const std::string& c : chunks)
        if (type_of(c) == "iCCP" || type_of(c) == "gAMA" || type_of(c) == "cHRM" || type_of(c) == "sRGB")
            colours.push_back(c);
    return colours;
}

// 0 grey, 2 RGB, 4 grey and alpha, 6 RGBA.
int colour_type_of(const std::vector<std::string>& chunks)
{
    return !chunks.empty() && type_of(chunks[0]) == "IHDR" && chunks[0].size() == 25 ? uint8_t(chunks[0][17]) : -1;
}

// The stored values of a PNG as GEGL loads it: in the file's own space.
Bytes stored_values(const std::string& path, int32_t planes)
{
    GeglBuffer* loaded = gegl_file(path);
    Bytes values;
    if (!loaded) return values;
    const Babl* space = babl_format_get_space(gegl_buffer_get_format(loaded));
    const char* encodings[] = {"Y' u8", "Y'A u8", "R'G'B' u8", "R'G'B'A u8"};
    values.resize(size_t(gegl_buffer_get_width(loaded)) * size_t(gegl_buffer_get_height(loaded)) * size_t(planes));
    gegl_buffer_get(loaded, nullptr, 1.0, babl_format_with_space(encodings[planes - 1], space), values.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(loaded);
    return values;
}

// Through the gegl tool, from file to file: PNGs whose stored values are the
// same, their colours told in each way, in RGB, RGBA, grey and grey with
// alpha. The output is the plug-in's cells on the stored values (for grey, its
// RGB run on Y, Y, Y, one plane taken back), in the picture's own planes, and
// keeps the colour chunks that gegl:pixelize at size 1 keeps; pixelize writes
// every picture as RGBA, so a grey one is held to the file GEGL writes
// without an operation.
TEST(CellsOperation, TheGeglToolGivesThePluginsCellsOnTheStoredValuesInThePicturesOwnColours)
{
    struct FileCase {
        const char* what;
        const char* encoding; // as stored
        bool wide;            // in a wide-gamut space of gamma 2.2, else in sRGB
        const char* told;     // the colour chunks kept of those GEGL writes
        int colour_type;
        int32_t size;
    };
    // Without sRGB, GEGL's gAMA and cHRM are those other programs write for
    // an sRGB picture: to GEGL a space of their own.
    const FileCase cases[] = {
        {"RGBA as GEGL writes it", "R'G'B'A u8", false, "gAMA sRGB cHRM", 6, 9},
        {"plain RGB", "R'G'B' u8", false, "", 2, 4},
        {"RGB with a wide-gamut profile", "R'G'B' u8", true, "iCCP", 2, 4},
        {"RGBA with a wide-gamut profile", "R'G'B'A u8", true, "iCCP", 6, 3},
        {"RGB with gAMA and cHRM", "R'G'B' u8", false, "gAMA cHRM", 2, 4},
        {"plain grey", "Y' u8", false, "", 0, 4},
        {"grey with alpha", "Y'A u8", false, "", 4, 2},
    };
    // The white and primaries of a common print-work space; GEGL writes it
    // as an ICC profile.
    const Babl* wide = babl_space_from_chromaticities("cellumbra-wide", 0.3127, 0.3290, 0.64, 0.33, 0.21, 0.71, 0.15,
                                                      0.06, babl_trc_gamma(2.2), nullptr, nullptr, BABL_SPACE_FLAG_NONE);
    gchar* dir = g_dir_make_tmp("cellumbra-gegl-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    const std::string in = std::string(dir) + "/in.png", out = std::string(dir) + "/out.png",
                      reference = std::string(dir) + "/reference.png";
    for (const FileCase& f : cases) {
        const Babl* format = babl_format_with_space(f.encoding, f.wide ? wide : nullptr);
        const int32_t stored = babl_format_get_n_components(format), walked = stored < 3 ? stored + 2 : stored;
        const Case c{173, 91, stored, 1, Ask::whole};
        // The plug-in's picture, and the same values stored: for grey, plane
        // 0 and alpha of it.
        FakeHost host(c.width, c.height, walked);
        paint(host);
        Bytes values;
        for (size_t p = 0; p < host.source.size(); p += size_t(walked)) {
            unsigned char* pixel = &host.source[p];
            if (stored < 3) pixel[1] = pixel[2] = pixel[0];
            values.insert(values.end(), pixel, pixel + (stored < 3 ? 1 : 3));
            if (stored % 2 == 0) values.push_back(pixel[3]);
        }
        host.picture = host.source;
        const Bytes cells = plugin_cells(host, f.size);
        Bytes want;
        for (size_t p = 0; p < cells.size(); p += size_t(walked)) {
            want.insert(want.end(), cells.begin() + long(p), cells.begin() + long(p) + (stored < 3 ? 1 : 3));
            if (stored % 2 == 0) want.push_back(cells[p + 3]);
        }
        {
            const GeglRectangle extent{0, 0, c.width, c.height};
            GeglBuffer* buffer = gegl_buffer_new(&extent, format);
            gegl_buffer_set(buffer, &extent, 0, format, values.data(), GEGL_AUTO_ROWSTRIDE);
            gegl_save_png(buffer, in, 8);
            g_object_unref(buffer);
        }
        std::string file = "\x89PNG\r\n\x1a\n";
        for (const std::string& c : chunks_of(in))
            if (type_of(c) == "IHDR" || type_of(c) == "IDAT" || type_of(c) == "IEND" ||
                std::string(f.told).find(type_of(c)) != std::string::npos)
                file += c;
        g_file_set_contents(in.c_str(), file.data(), gssize(file.size()), nullptr);
        ASSERT_EQ(colour_type_of(chunks_of(in)), f.colour_type) << f.what;

        // GEGL's own file beside, on another core.
        int status = 0;
        const std::string said = output_of(
            "gegl '" + in + "' -o '" + reference + "'" + (stored < 3 ? "" : " -- gegl:pixelize size-x=1 size-y=1") +
                " & gegl '" + in + "' -o '" + out + "' -- cellumbra:cells size=" + std::to_string(f.size) +
                "; cells=$?; wait $! && exit $cells",
            status);
        EXPECT_EQ(status, 0) << f.what << ": " << said;
        const std::vector<std::string> written = chunks_of(out), kept = colours_of(chunks_of(reference));
        EXPECT_EQ(colour_type_of(written), f.colour_type) << f.what;
        EXPECT_TRUE(colours_of(written) == kept) << f.what << ": the colour chunks differ from GEGL's own";

        const Bytes got = stored_values(out, stored);
        ASSERT_EQ(got.size(), want.size()) << f.what;
        int worst = 0;
        for (size_t k = 0; k < got.size(); ++k) worst = std::max(worst, std::abs(int(got[k]) - int(want[k])));
        EXPECT_EQ(first_difference(c, {0, 0, c.width, c.height}, got, want), "")
            << f.what << ", size " << f.size << ": up to " << worst << " levels off";
    }
    for (const std::string& file : {in, out, reference}) g_remove(file.c_str());
    g_rmdir(dir);
    g_free(dir);
}

// Through the gegl tool, deep files stay deep: a 16-bit PNG comes out a
// 16-bit PNG and a float TIFF (HDR and negative values too) a float TIFF,
// every value kept where the cells put it.
TEST(CellsOperation, TheGeglToolKeepsEveryValueOfDeepFiles)
{
    struct FileCase {
        const char* file;
        const char* stored;
        const char* saver;
    };
    const FileCase cases[] = {{"in.png", "R'G'B'A u16", "gegl:png-save"}, {"in.tif", "RGBA float", "gegl:tiff-save"}};
    gchar* dir = g_dir_make_tmp("cellumbra-deep-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    std::mt19937 random(11);
    const int32_t width = 173, height = 91, size = 4;
    for (const FileCase& f : cases) {
        const std::string in = std::string(dir) + "/" + f.file, out = std::string(dir) + "/out" + (f.file + 2);
        const Babl* stored = babl_format(f.stored);
        const bool floating = babl_format_get_type(stored, 0) == babl_type("float");
        const GeglRectangle extent{0, 0, width, height};
        std::vector<uint16_t> wide(size_t(width) * size_t(height) * 4);
        std::vector<float> real(wide.size());
        for (size_t k = 0; k < wide.size(); ++k) {
            wide[k] = uint16_t(random());
            const float hdr[] = {3.5f, -0.25f, 1e30f, -0.0f};
            real[k] = k % 7 == 0 ? hdr[k / 7 % 4] : float(int32_t(random() % 20000u) - 5000) / 9973.0f;
        }
        {
            GeglBuffer* buffer = gegl_buffer_new(&extent, stored);
            gegl_buffer_set(buffer, &extent, 0, stored, floating ? static_cast<void*>(real.data()) : wide.data(),
                            GEGL_AUTO_ROWSTRIDE);
            GeglNode* root = gegl_node_new();
            GeglNode* source = gegl_node_new_child(root, "operation", "gegl:buffer-source", "buffer", buffer, nullptr);
            GeglNode* save = gegl_node_new_child(root, "operation", f.saver, "path", in.c_str(), nullptr);
            if (!floating) gegl_node_set(save, "bitdepth", 16, nullptr);
            gegl_node_link(source, save);
            gegl_node_process(save);
            g_object_unref(root);
            g_object_unref(buffer);
        }
        int status = 0;
        const std::string said = output_of("gegl '" + in + "' -o '" + out + "' -- cellumbra:cells size=" +
                                               std::to_string(size), status);
        EXPECT_EQ(status, 0) << f.file << ": " << said;
        GeglBuffer* before = gegl_file(in);
        GeglBuffer* after = gegl_file(out);
        ASSERT_TRUE(before && after) << f.file << ": " << said;
        const Babl* format = gegl_buffer_get_format(before);
        ASSERT_EQ(babl_format_get_type(format, 0), babl_format_get_type(stored, 0)) << f.file;
        EXPECT_STREQ(babl_get_name(gegl_buffer_get_format(after)), babl_get_name(format)) << f.file;
        const size_t pixel = size_t(babl_format_get_bytes_per_pixel(format));
        Bytes values(size_t(width) * size_t(height) * pixel), got(values.size());
        gegl_buffer_get(before, &extent, 1.0, format, values.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
        gegl_buffer_get(after, &extent, 1.0, format, got.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
        const Bytes want = expected_cells(values, width, height, size, pixel,
                                          babl_format_has_alpha(format) ? pixel / 4 : 0);
        const size_t k = size_t(std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin());
        EXPECT_EQ(k, got.size()) << f.file << ": pixel (" << k / pixel % size_t(width) << ", "
                                 << k / pixel / size_t(width) << ") byte " << k % pixel << " differs";
        if (!floating) {
            // Every alpha value is kept: far more than 8 bits hold.
            std::vector<bool> seen(65536);
            size_t distinct = 0;
            for (size_t p = 0; p + 1 < got.size(); p += 2) {
                const unsigned v = unsigned(got[p]) | unsigned(got[p + 1]) << 8;
                distinct += !seen[v];
                seen[v] = true;
            }
            EXPECT_GT(distinct, 10000u) << f.file;
        }
        g_object_unref(before);
        g_object_unref(after);
        for (const std::string& file : {in, out}) g_remove(file.c_str());
    }
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
