// The GIMP 2.10 plug-in through the real GIMP, in a profile of its own
// (HOME and the XDG folders inside a scratch folder), against the plug-in's
// run through the fake host on the same pixels: batch calls from Script-Fu,
// and the window driven as a user drives it, under a private X server.
#include <gtest/gtest.h>

#include <gegl.h>
#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "runtime/kernel.h"
#include "shell/shell.h"
#include "support/cell_reference.h"
#include "support/fake_host.h"
#include "support/fake_platform.h"
#include "support/product_run.h"
#include "gegl/gegl_file.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

struct Picture {
    int32_t width = 0, height = 0, planes = 0;
    Bytes pixels;
    unsigned char* at(int32_t x, int32_t y) { return &pixels[(size_t(y) * size_t(width) + size_t(x)) * size_t(planes)]; }
};

// Every position its own colour; alpha varies apart from the colours and is
// never 0, so that no exporter may drop a colour.
Picture painted(int32_t width, int32_t height, int32_t planes)
{
    Picture p{width, height, planes, Bytes(size_t(width) * size_t(height) * size_t(planes))};
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            unsigned char* q = p.at(x, y);
            const bool grey = planes < 3;
            q[0] = uint8_t(x * 3 + y);
            if (!grey) q[1] = uint8_t(y * 5 + (x >> 8)), q[2] = uint8_t(x * 7 + y * 13);
            if (planes == 2 || planes == 4) q[planes - 1] = uint8_t(1 + (x ^ (y * 3)) % 255);
        }
    return p;
}

Picture with_planes(const Picture& in, int32_t planes);

// The plug-in's own result through the fake host, its block bound as the
// product binds it; with a selection, the host's rectangular one. The
// plug-in takes RGB alone: a grey picture's are its cells on (Y, Y, Y), grey
// again.
Picture plugin_cells(const Picture& in, int32_t size, const Rect16* selection = nullptr)
{
    if (in.planes < 3) return with_planes(plugin_cells(with_planes(in, in.planes + 2), size, selection), in.planes);
    FakeHost host(in.width, in.height, in.planes);
    host.source = host.picture = in.pixels;
    if (selection) host.select(*selection);
    EXPECT_EQ(run_product_cells(host, size), noErr);
    return Picture{in.width, in.height, in.planes, host.picture};
}

// Grey (with alpha) as RGB(A), and back: the colour planes (Y, Y, Y) are one.
Picture with_planes(const Picture& in, int32_t planes)
{
    Picture out{in.width, in.height, planes, Bytes(size_t(in.width) * size_t(in.height) * size_t(planes))};
    const bool alpha = planes == 2 || planes == 4;
    for (size_t k = 0; k < size_t(in.width) * size_t(in.height); ++k) {
        const unsigned char* from = &in.pixels[k * size_t(in.planes)];
        unsigned char* to = &out.pixels[k * size_t(planes)];
        for (int32_t c = 0; c < (alpha ? planes - 1 : planes); ++c) to[c] = from[0];
        if (alpha) to[planes - 1] = from[in.planes - 1];
    }
    return out;
}

bool write_png(const std::string& path, const Picture& p)
{
    return stbi_write_png(path.c_str(), p.width, p.height, p.planes, p.pixels.data(), p.width * p.planes) != 0;
}

// The stored bytes of a PNG as its own planes; empty when it cannot be read.
Picture read_png(const std::string& path)
{
    Picture p;
    unsigned char* data = stbi_load(path.c_str(), &p.width, &p.height, &p.planes, 0);
    if (!data) return {};
    p.pixels.assign(data, data + size_t(p.width) * size_t(p.height) * size_t(p.planes));
    stbi_image_free(data);
    return p;
}

// "" when equal, else where they first differ.
std::string difference(const Picture& got, const Picture& want)
{
    if (got.pixels.empty()) return "no picture";
    if (got.width != want.width || got.height != want.height || got.planes != want.planes)
        return "a picture of " + std::to_string(got.width) + " x " + std::to_string(got.height) + " x " +
               std::to_string(got.planes) + " planes";
    const auto d = std::mismatch(got.pixels.begin(), got.pixels.end(), want.pixels.begin());
    if (d.first == got.pixels.end()) return "";
    const size_t k = size_t(d.first - got.pixels.begin());
    const size_t pixel = k / size_t(got.planes);
    return "pixel (" + std::to_string(pixel % size_t(got.width)) + ", " + std::to_string(pixel / size_t(got.width)) +
           ") plane " + std::to_string(k % size_t(got.planes)) + " is " + std::to_string(*d.first) +
           ", the plug-in gives " + std::to_string(*d.second);
}

std::string output_of(const std::string& command, int* status = nullptr)
{
    std::string output;
    FILE* run = popen((command + " 2>&1").c_str(), "r");
    char line[1024];
    while (run && std::fgets(line, sizeof line, run)) output += line;
    const int s = run ? pclose(run) : -1;
    if (status) *status = s;
    return output;
}

// Polls `done` every 50 ms for at most `seconds`.
bool wait_for(const std::function<bool()>& done, double seconds)
{
    for (int k = 0; k < int(seconds * 20); ++k) {
        if (done()) return true;
        g_usleep(50000);
    }
    return done();
}

// A fresh GIMP profile in a scratch folder: GIMP, GTK and GLib find nothing
// of the user's, and the plug-in is installed where GIMP 2.10 looks.
struct Profile {
    std::string dir;
    std::string plugin;
    std::vector<std::string> env;

    Profile()
    {
        gchar* made = g_dir_make_tmp("cellumbra-gimp-XXXXXX", nullptr);
        dir = made;
        g_free(made);
        const fs::path folder = fs::path(dir) / "config/GIMP/2.10/plug-ins";
        fs::create_directories(folder);
        plugin = (folder / "cellumbra").string();
        fs::copy_file(CELLUMBRA_GIMP_PLUGIN, plugin);
        env = {"HOME=" + dir, "XDG_CONFIG_HOME=" + dir + "/config", "XDG_DATA_HOME=" + dir + "/data",
               "XDG_CACHE_HOME=" + dir + "/cache", "GIMP2_DIRECTORY="};
    }
    ~Profile() { fs::remove_all(dir); }
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    std::string path(const std::string& name) const { return dir + "/" + name; }
    // A command with this profile's environment (GIMP2_DIRECTORY empty: unset for GIMP).
    std::string command(const std::string& what) const
    {
        std::string line = "env -u GIMP2_DIRECTORY";
        for (const std::string& e : env)
            if (e.rfind("GIMP2_DIRECTORY", 0) != 0) line += " '" + e + "'";
        return line + " " + what;
    }
    // gimp -i with one -b for each script, then a quit; ended if a fault
    // keeps it from finishing.
    std::string batch(const std::vector<std::string>& scripts, int* status = nullptr) const
    {
        std::string line = "timeout -k 5 180 gimp -i -d -f";
        for (const std::string& s : scripts) line += " -b '" + s + "'";
        return output_of(command(line + " -b '(gimp-quit 0)'"), status);
    }
};

// Script-Fu: load `in`, apply the plug-in (`call` names the run mode and
// size), export the layer to `out` keeping every stored colour.
std::string filter_script(const std::string& in, const std::string& out, const std::string& call,
                          const std::string& before = "")
{
    return "(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"" + in + "\" \"" + in +
           "\"))) (layer (car (gimp-image-get-active-layer image)))) " + before + " (plug-in-cellumbra " + call + ") (file-png-save2 RUN-NONINTERACTIVE image layer \"" + out + "\" \"" + out +
           "\" 0 9 0 0 0 0 0 0 1) (gimp-image-delete image))";
}

// Script-Fu's way to say plug-in-cellumbra RUN-NONINTERACTIVE image layer size.
std::string with_size(int32_t size)
{
    return "RUN-NONINTERACTIVE image layer " + std::to_string(size);
}

// A 16-bit RGBA PNG of random values, alpha never near 0 so that no
// conversion or exporter may drop a colour.
bool write_png16(const std::string& path, int32_t width, int32_t height)
{
    std::mt19937 random(3);
    std::vector<uint16_t> values(size_t(width) * size_t(height) * 4);
    for (size_t k = 0; k < values.size(); ++k) values[k] = uint16_t(k % 4 == 3 ? 8192 + random() % 57344 : random());
    const GeglRectangle extent{0, 0, width, height};
    GeglBuffer* buffer = gegl_buffer_new(&extent, babl_format("R'G'B'A u16"));
    gegl_buffer_set(buffer, &extent, 0, babl_format("R'G'B'A u16"), values.data(), GEGL_AUTO_ROWSTRIDE);
    gegl_save_png(buffer, path, 16);
    g_object_unref(buffer);
    return fs::exists(path);
}

// "" when `after` holds the cells of `before` at `size`, stored value for
// stored value (each pixel's colour from its nearest centre, its alpha its
// own), both files read in the format GEGL loads them in; else where not.
std::string deep_difference(const std::string& before, const std::string& after, int32_t size)
{
    GeglBuffer* in = gegl_file(before);
    GeglBuffer* out = gegl_file(after);
    std::string said;
    // gegl:load gives an empty picture for a file that is not there.
    if (!in || !out || gegl_buffer_get_width(in) == 0) said = "no picture";
    const Babl* format = in ? gegl_buffer_get_format(in) : nullptr;
    if (said.empty() && (gegl_buffer_get_width(in) != gegl_buffer_get_width(out) ||
                         gegl_buffer_get_height(in) != gegl_buffer_get_height(out) ||
                         gegl_buffer_get_format(out) != format))
        said = std::string("a picture of another shape or format: ") + babl_get_name(gegl_buffer_get_format(out));
    if (said.empty()) {
        const int32_t width = gegl_buffer_get_width(in), height = gegl_buffer_get_height(in);
        const size_t pixel = size_t(babl_format_get_bytes_per_pixel(format));
        const size_t kept = babl_format_has_alpha(format) ? pixel / size_t(babl_format_get_n_components(format)) : 0;
        Bytes a(size_t(width) * size_t(height) * pixel), b(a.size());
        gegl_buffer_get(in, nullptr, 1.0, format, a.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
        gegl_buffer_get(out, nullptr, 1.0, format, b.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
        for (int32_t y = 0; y < height && said.empty(); ++y)
            for (int32_t x = 0; x < width && said.empty(); ++x) {
                const CellCentre c = nearest_centre(x, y, size);
                const size_t at = (size_t(y) * size_t(width) + size_t(x)) * pixel;
                const size_t from =
                    (size_t(std::min(c.y, height - 1)) * size_t(width) + size_t(std::min(c.x, width - 1))) * pixel;
                if (!std::equal(&b[at], &b[at] + pixel - kept, &a[from]) ||
                    !std::equal(&b[at] + pixel - kept, &b[at] + pixel, &a[at] + pixel - kept))
                    said = "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") of " + babl_get_name(format) +
                           " is not its cell's";
            }
    }
    if (in) g_object_unref(in);
    if (out) g_object_unref(out);
    return said;
}

TEST(GimpPlugin, BatchCallsGiveThePluginsBytesAndRefuseSizesOutsideTheRange)
{
    const Profile profile;
    struct Case {
        const char* name;
        Picture in;
        int32_t size;
        const Rect16* selection; // in the layer's own coordinates
        std::string before;      // Script-Fu run before the plug-in
    };
    const Rect16 selected{12, 7, 80, 53}; // rows 12..79, columns 7..52
    // Within the layer: 46 x 68 from (7, 12).
    const std::string select = "(gimp-image-select-rectangle image CHANNEL-OP-REPLACE 7 12 46 68)";
    // The layer moved 13 right and 7 down in a larger image.
    const std::string moved = "(gimp-image-resize image 100 120 13 7)";
    const Case cases[] = {
        {"rgb", painted(173, 91, 3), 9, nullptr, ""},
        {"rgba", painted(150, 97, 4), 5, nullptr, ""},
        {"grey", painted(131, 77, 1), 7, nullptr, ""},
        {"grey-alpha", painted(90, 61, 2), 4, nullptr, ""},
        {"selection", painted(64, 90, 3), 5, &selected, select},
        {"largest", painted(301, 203, 3), 100, nullptr, ""},
        // The cells start at the layer's corner, wherever the layer lies.
        {"moved", painted(64, 90, 4), 6, nullptr, moved},
        {"moved-selection", painted(64, 90, 3), 5, &selected,
         moved + " (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 20 19 46 68)"},
        // A 16-bit layer is read and written through its 8-bit values,
        // which widen to 16 bits and back exactly.
        {"16-bit", painted(77, 59, 4), 3, nullptr, "(gimp-image-convert-precision image PRECISION-U16-GAMMA)"},
    };
    std::vector<std::string> scripts;
    for (const Case& c : cases) {
        ASSERT_TRUE(write_png(profile.path(std::string(c.name) + ".png"), c.in));
        scripts.push_back(filter_script(profile.path(std::string(c.name) + ".png"),
                                        profile.path(std::string(c.name) + "-out.png"), with_size(c.size), c.before));
    }
    // Every precision, linear and perceptual, RGB and grey, from a 16-bit
    // PNG of random values: the layer as converted (GIMP refuses a
    // conversion to the precision it has) exported as TIFF, which keeps the
    // precision, before and after the plug-in; every stored value in its cell.
    struct Deep {
        const char* precision;
        bool grey;
    };
    const Deep deep[] = {{"U8-GAMMA", false},    {"U8-LINEAR", false},    {"U16-GAMMA", false},
                         {"U16-LINEAR", false},  {"U32-GAMMA", false},    {"U32-LINEAR", false},
                         {"HALF-GAMMA", false},  {"HALF-LINEAR", false},  {"FLOAT-GAMMA", false},
                         {"FLOAT-LINEAR", false}, {"DOUBLE-LINEAR", false}, {"U16-GAMMA", true},
                         {"FLOAT-LINEAR", true}};
    const int32_t deep_size = 3;
    ASSERT_TRUE(write_png16(profile.path("deep.png"), 83, 61));
    for (const Deep& d : deep) {
        const std::string name = profile.path(std::string(d.precision) + (d.grey ? "-grey" : ""));
        scripts.push_back("(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"" + profile.path("deep.png") +
                          "\" \"deep.png\"))) (layer (car (gimp-image-get-active-layer image)))) " +
                          (d.grey ? "(gimp-image-convert-grayscale image) " : "") +
                          "(if (not (= (car (gimp-image-get-precision image)) PRECISION-" + d.precision +
                          ")) (gimp-image-convert-precision image PRECISION-" + d.precision +
                          ")) (gimp-file-save RUN-NONINTERACTIVE image layer \"" + name + "-before.tif\" \"x\") " +
                          "(plug-in-cellumbra " + with_size(deep_size) +
                          ") (gimp-file-save RUN-NONINTERACTIVE image layer \"" + name + "-after.tif\" \"x\") " +
                          "(gimp-image-delete image))");
    }
    // Refused, each in a call of its own: no export follows a failed call.
    for (int32_t size : {0, 101})
        scripts.push_back(filter_script(profile.path("rgb.png"), profile.path("refused-" + std::to_string(size) + ".png"),
                                        with_size(size)));
    const std::string said = profile.batch(scripts);

    for (const Case& c : cases)
        EXPECT_EQ(difference(read_png(profile.path(std::string(c.name) + "-out.png")),
                             plugin_cells(c.in, c.size, c.selection)),
                  "")
            << c.name << ", size " << c.size << "\n" << said;
    for (const Deep& d : deep) {
        const std::string name = profile.path(std::string(d.precision) + (d.grey ? "-grey" : ""));
        EXPECT_EQ(deep_difference(name + "-before.tif", name + "-after.tif", deep_size), "")
            << d.precision << (d.grey ? " grey" : "") << "\n" << said;
    }
    for (int32_t size : {0, 101}) {
        EXPECT_FALSE(fs::exists(profile.path("refused-" + std::to_string(size) + ".png"))) << size;
        EXPECT_NE(said.find("plug-in-cellumbra failed on invalid input arguments: Cellumbra: the size is " +
                            std::to_string(size) + "; it must lie in 1..100"),
                  std::string::npos)
            << said;
    }
}

// ------------------------------------------------------------- the window

// A child process of the test, ended with it.
struct Child {
    GPid pid = 0;
    ~Child() { stop(); }
    void stop()
    {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = 0;
    }
    bool running()
    {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) != 0) pid = 0; // reaped: gone
        return pid > 0;
    }
};

struct Desktop {
    const Profile& profile;
    Child xvfb, gimp;
    int xvfb_out = -1;
    std::string display;

    explicit Desktop(const Profile& p) : profile(p) {}
    ~Desktop()
    {
        gimp.stop();
        xvfb.stop();
        if (xvfb_out >= 0) close(xvfb_out);
    }

    // A private X server: it names its display on the pipe when it is ready.
    bool start_display()
    {
        const char* argv[] = {"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", nullptr};
        gint out = -1;
        if (!g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), nullptr,
                                      GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                                  G_SPAWN_STDERR_TO_DEV_NULL),
                                      nullptr, nullptr, &xvfb.pid, nullptr, &out, nullptr, nullptr))
            return false;
        // Read up to the line's end, and the pipe kept open while the server
        // runs: a server whose write finds the pipe closed ends at once.
        display = ":";
        char c = 0;
        while (read(out, &c, 1) == 1 && c != '\n') display += c;
        if (xvfb_out >= 0) close(xvfb_out);
        xvfb_out = out;
        return display.size() > 1;
    }

    bool start_gimp(const std::string& picture)
    {
        std::vector<std::string> env = profile.env;
        env.erase(std::remove(env.begin(), env.end(), std::string("GIMP2_DIRECTORY=")), env.end());
        env.push_back("DISPLAY=" + display);
        for (const char* keep : {"PATH", "LANG"})
            if (const char* v = g_getenv(keep)) env.push_back(std::string(keep) + "=" + v);
        std::vector<const char*> envp;
        for (const std::string& e : env) envp.push_back(e.c_str());
        envp.push_back(nullptr);
        const std::string log = profile.path("gimp.log");
        const char* argv[] = {"sh", "-c", "exec gimp -d -f \"$0\" >\"$1\" 2>&1", picture.c_str(), log.c_str(), nullptr};
        return g_spawn_async(nullptr, const_cast<gchar**>(argv), const_cast<gchar**>(envp.data()),
                             GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr, nullptr,
                             &gimp.pid, nullptr);
    }

    // The server and GIMP with `picture`, until its window (matching
    // `pattern`) shows or either of them ends.
    std::string start(const std::string& picture, const std::string& pattern)
    {
        if (!start_display() || !start_gimp(picture)) return "";
        std::string id;
        wait_for([&] { return !(id = window(pattern)).empty() || !xvfb.running() || !gimp.running(); }, 120);
        return id;
    }

    std::string xdotool(const std::string& args) const
    {
        std::string out = output_of("DISPLAY=" + display + " xdotool " + args);
        out.erase(out.find_last_not_of("\n") + 1);
        return out;
    }
    // The visible window whose name matches the pattern, or "".
    std::string window(const std::string& pattern) const
    {
        const std::string found = xdotool("search --onlyvisible --name '" + pattern + "'");
        return found.empty() || !std::isdigit(static_cast<unsigned char>(found[0])) ? "" : found.substr(0, found.find('\n'));
    }
    std::string wait_window(const std::string& pattern, double seconds = 60) const
    {
        std::string id;
        wait_for([&] { return !(id = window(pattern)).empty(); }, seconds);
        return id;
    }
    bool wait_gone(const std::string& pattern, double seconds = 30) const
    {
        return wait_for([&] { return window(pattern).empty(); }, seconds);
    }
    std::string name(const std::string& id) const { return xdotool("getwindowname " + id); }
    // Keys and text go to the window that has the keyboard focus.
    void focus(const std::string& id) const { xdotool("windowfocus --sync " + id); }
    void keys(const std::string& id, const std::string& keys) const
    {
        focus(id);
        xdotool("key --clearmodifiers " + keys);
    }
    void type(const std::string& id, const std::string& text) const
    {
        focus(id);
        xdotool("type --delay 20 '" + text + "'");
    }
    // Pictures of the window until `shown` holds for one; the last is kept at `path`.
    bool capture(const std::string& id, const std::string& path, const std::function<bool(const Picture&)>& shown) const
    {
        const std::string take = "DISPLAY=" + display + " import -window " + id + " " + path;
        return wait_for([&] { return output_of(take).empty() && shown(read_png(path)); }, 10);
    }
};

// Whether the part of `b` from (bx, by) equals that of `a` from (ax, ay),
// width x height pixels, RGB or the first three planes.
bool same_part(const Picture& a, int32_t ax, int32_t ay, const Picture& b, int32_t bx, int32_t by, int32_t width,
               int32_t height)
{
    for (int32_t r = 0; r < height; ++r)
        for (int32_t c = 0; c < width; ++c) {
            const unsigned char* p = &a.pixels[(size_t(ay + r) * size_t(a.width) + size_t(ax + c)) * size_t(a.planes)];
            const unsigned char* q = &b.pixels[(size_t(by + r) * size_t(b.width) + size_t(bx + c)) * size_t(b.planes)];
            if (!std::equal(p, p + 3, q)) return false;
        }
    return true;
}

// Whether the part of `picture` from (x, y), width x height, appears in
// `screen` pixel for pixel, and where.
bool shows(const Picture& screen, const Picture& picture, int32_t x, int32_t y, int32_t width, int32_t height,
           int32_t* at_x = nullptr, int32_t* at_y = nullptr)
{
    if (screen.planes < 3 || picture.planes < 3) return false;
    for (int32_t sy = 0; sy + height <= screen.height; ++sy)
        for (int32_t sx = 0; sx + width <= screen.width; ++sx)
            if (same_part(picture, x, y, screen, sx, sy, width, height)) {
                if (at_x) *at_x = sx, *at_y = sy;
                return true;
            }
    return false;
}

// The image window's title begins with "*" while it holds unsaved changes.
bool changed(const Desktop& d, const std::string& id)
{
    return d.name(id).rfind("*", 0) == 0;
}

// Exports the image through File > Export As to `path`, as PNG with the
// dialog's defaults.
void export_as(const Desktop& d, const std::string& image, const std::string& path)
{
    d.keys(image, "shift+ctrl+e");
    const std::string chooser = d.wait_window("^Export Image$");
    ASSERT_FALSE(chooser.empty()) << "no Export Image dialog";
    d.keys(chooser, "ctrl+a");
    d.type(chooser, path);
    d.keys(chooser, "Return");
    const std::string options = d.wait_window("^Export Image as PNG$");
    ASSERT_FALSE(options.empty()) << "no PNG options";
    d.keys(options, "Return");
    ASSERT_TRUE(d.wait_gone("^Export Image as PNG$"));
    // Written whole once it reads back as a picture.
    ASSERT_TRUE(wait_for([&] { return !read_png(path).pixels.empty(); }, 30)) << path;
}

// Filters > Artistic > Cellumbra... found with "/", the size typed, OK,
// File > Export As; Edit > Undo and Filters > Repeat; the cancel button of
// GIMP's progress on a large picture; and the size typed still there after
// GIMP was quit and started again.
TEST(GimpPlugin, AUserFindsItWithSlashTypesTheSizeExportsRepeatsAndCancels)
{
    const Profile profile;
    // Larger than the dialog's preview, which scrolls over it.
    const Picture in = painted(640, 480, 3);
    const std::string input = profile.path("in.png");
    ASSERT_TRUE(write_png(input, in));
    // Large enough that the run lasts long after its progress shows.
    {
        std::ofstream big(profile.path("big.ppm"), std::ios::binary);
        big << "P6\n8000 6000\n255\n";
        std::string row(8000 * 3, '\0');
        for (int y = 0; y < 6000; ++y) {
            for (int x = 0; x < 8000; ++x) row[size_t(x) * 3] = char(x + y), row[size_t(x) * 3 + 1] = char(y);
            big << row;
        }
    }

    Desktop d(profile);
    const std::string image = d.start(input, "^\\[in\\] .* GIMP$");
    ASSERT_FALSE(image.empty()) << "GIMP showed no window on " << d.display << ":\n"
                                << output_of("cat " + profile.path("gimp.log"));

    // "/": search the actions; the first Return may come before the list
    // holds the entry, so it is pressed again until the dialog shows.
    d.keys(image, "slash");
    const std::string search = d.wait_window("^Search Actions$");
    ASSERT_FALSE(search.empty());
    d.type(search, "Cellumbra");
    std::string dialog;
    for (int k = 0; k < 10 && dialog.empty(); ++k) {
        // Once the search has closed, a Return would reach the dialog.
        if (!d.window("^Search Actions$").empty()) d.keys(search, "Return");
        dialog = d.wait_window("^Cellumbra$", 3);
    }
    ASSERT_FALSE(dialog.empty()) << "the dialog did not open";
    d.keys(dialog, "alt+s ctrl+a");
    d.type(dialog, "7");
    d.keys(dialog, "Tab");
    // The preview shows the picture's corner at 1:1: its cells at the size typed.
    const Picture want = plugin_cells(in, 7);
    const int32_t patch = 48;
    int32_t px = 0, py = 0;
    EXPECT_TRUE(d.capture(dialog, CELLUMBRA_TEST_ARTIFACTS "/gimp-dialog.png",
                          [&](const Picture& seen) { return shows(seen, want, 0, 0, patch, patch, &px, &py); }))
        << "the preview does not show the cells at size 7";
    // Scrolled down with the wheel, it shows the cells of the rows scrolled
    // to, the whole layer's, in the same place.
    d.xdotool("mousemove --window " + dialog + " " + std::to_string(px + patch / 2) + " " +
              std::to_string(py + patch / 2) + " click --repeat 4 --delay 100 5");
    EXPECT_TRUE(d.capture(dialog, CELLUMBRA_TEST_ARTIFACTS "/gimp-dialog-scrolled.png",
                          [&](const Picture& seen) {
                              for (int32_t y = 1; seen.width >= px + patch && seen.height >= py + patch &&
                                                  y + patch <= want.height;
                                   ++y)
                                  for (int32_t x = 0; x + patch <= want.width; ++x)
                                      if (same_part(want, x, y, seen, px, py, patch, patch)) return true;
                              return false;
                          }))
        << "after scrolling, the preview does not show the cells of the rows scrolled to";
    d.keys(dialog, "alt+o");
    ASSERT_TRUE(d.wait_gone("^Cellumbra$"));
    ASSERT_TRUE(wait_for([&] { return changed(d, image); }, 30)) << d.name(image);
    // The canvas (at 100 %) shows the cells once the run is over, inside the
    // layer's dashed border.
    EXPECT_TRUE(d.capture(image, CELLUMBRA_TEST_ARTIFACTS "/gimp-canvas.png",
                          [&](const Picture& seen) { return shows(seen, want, 8, 8, patch, patch); }))
        << "the canvas does not show the cells after OK";

    ASSERT_NO_FATAL_FAILURE(export_as(d, image, profile.path("gui.png")));
    EXPECT_EQ(difference(read_png(profile.path("gui.png")), want), "") << "after OK";

    // One undo step takes it all back; Repeat runs it again at the size typed.
    const std::string exported = d.wait_window("^\\*\\[gui\\] .* GIMP$");
    ASSERT_FALSE(exported.empty()) << d.name(image);
    d.keys(exported, "ctrl+z");
    ASSERT_TRUE(wait_for([&] { return !changed(d, exported); }, 30)) << d.name(exported);
    d.keys(exported, "ctrl+f");
    ASSERT_TRUE(wait_for([&] { return changed(d, exported); }, 30)) << d.name(exported);
    ASSERT_NO_FATAL_FAILURE(export_as(d, exported, profile.path("repeated.png")));
    EXPECT_EQ(difference(read_png(profile.path("repeated.png")), want), "") << "after Repeat";

    // The large picture, and Repeat on it; the progress's Cancel button sits
    // at the right end of the image window's status bar.
    d.keys(exported, "ctrl+o");
    const std::string open = d.wait_window("^Open Image$");
    ASSERT_FALSE(open.empty());
    d.keys(open, "ctrl+l");
    d.type(open, profile.path("big.ppm"));
    d.keys(open, "Return");
    const std::string big = d.wait_window("^\\[big\\] .* GIMP$", 60);
    ASSERT_FALSE(big.empty());
    std::string geometry = d.xdotool("getwindowgeometry --shell " + big);
    int x = 0, y = 0, width = 0, height = 0;
    for (const char* key : {"X=", "Y=", "WIDTH=", "HEIGHT="}) {
        const size_t at = geometry.find(std::string("\n") + key);
        const int value = at == std::string::npos ? 0 : std::atoi(geometry.c_str() + at + 1 + std::strlen(key));
        (key[0] == 'X' ? x : key[0] == 'Y' ? y : key[0] == 'W' ? width : height) = value;
    }
    const std::string cancel = std::to_string(x + width - 249) + " " + std::to_string(y + height - 19);
    d.keys(big, "ctrl+f");
    const std::string running = "pgrep -f '^" + profile.plugin + " '";
    ASSERT_TRUE(wait_for([&] { return !output_of(running).empty(); }, 30)) << "the plug-in did not start";
    // Pressed until the plug-in ends: before its progress shows, the spot is
    // the status bar's text, which takes no click.
    wait_for(
        [&] {
            d.xdotool("mousemove " + cancel + " click 1");
            return output_of(running).empty();
        },
        30);
    // The quit dialog's question comes after everything the run left to do.
    d.keys(big, "ctrl+q");
    const std::string quit = d.wait_window("^Quit GIMP$");
    EXPECT_FALSE(changed(d, big)) << "the cancelled run changed the picture: " << d.name(big);
    ASSERT_FALSE(quit.empty());
    d.keys(quit, "alt+d");
    ASSERT_TRUE(wait_for([&] { return !d.gimp.running(); }, 60)) << "GIMP did not quit";

    // The next session's Repeat, from a script, has the size typed.
    profile.batch({filter_script(input, profile.path("next-session.png"), "RUN-WITH-LAST-VALS image layer 1")});
    EXPECT_EQ(difference(read_png(profile.path("next-session.png")), want), "") << "in the next session";
}

} // namespace

// GEGL's own modules, which gegl_init loads to read and write the deep
// pictures, keep allocations from libraries built without frame pointers,
// which the leak checker cannot tell from ours; the plug-in's code is
// leak-checked in the unit tests.
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=0";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    gegl_init(&argc, &argv);
    const int result = RUN_ALL_TESTS();
    gegl_exit();
    return result;
}
