// filterhost.exe as a user meets it: pictures never lost, boxes nobody sees,
// names outside the code page, progress, concurrent runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <windows.h>

#include "refhost/area_server.h"
#include "refhost/host.h"
#include "refhost/options.h"
#include "refhost/paths.h"
#include "refhost/picture.h"
#include "refhost/pipl.h"
#include "refhost/pixel_map.h"
#include "refhost/progress.h"
#include "refhost/selection.h"
#include "refhost/system.h"

#include "support/cell_reference.h"
#include "win/support/areas.h"
#include "win/support/host_runner.h"
#include "win/support/pictures.h"

using namespace wintest;

// ------------------------------------------------------- a user's runs

namespace {

std::vector<std::string> files_in(const std::string& dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(widen(dir + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = narrow(found.cFileName);
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<unsigned char> file_bytes(const std::string& path)
{
    std::vector<unsigned char> bytes;
    std::string error;
    read_whole_file(path, bytes, error);
    return bytes;
}

bool put_bytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::string error;
    return replace_file(path, bytes, error);
}


} // namespace

TEST(FilterhostUser, ReplacesTheOutputOnlyWhenItIsWhole)
{
    const std::string dir = scratch_dir("replace");
    const std::string input = sample_input(dir, 60, 40);
    const std::vector<unsigned char> original = file_bytes(input);
    ScopedEnv no_script("HOSTPROBE_SCRIPT", "");
    ScopedEnv invert("HOSTPROBE_MAIN", "invert");
    const std::string probe = in_build_dir("HostProbe.8bf");
    {
        // The disk fills up while the picture replaces itself.
        ScopedEnv full("FILTERHOST_TEST_DISK_FULL_AFTER", "100");
        RunResult r = run_filterhost({probe, input, input});
        EXPECT_EQ(exit_picture, r.exit_code);
        EXPECT_TRUE(contains(r.err, "the disk is full; the file was not changed")) << r.err;
        EXPECT_EQ(original, file_bytes(input));
        EXPECT_EQ(std::vector<std::string>{"input.png"}, files_in(dir));
    }
    RunResult r = run_filterhost({probe, input, input});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_EQ(std::vector<std::string>{"input.png"}, files_in(dir));
    TestPicture result;
    ASSERT_TRUE(read_picture(input, result));
    EXPECT_EQ(255 - coordinate_value(5, 7, 1), result.at(5, 7)[1]);

    // Names that Windows gives to devices are no files, whatever the case and extension.
    for (const char* name : {"nul.png", "AUX.bmp", "com1.PNG", "Lpt9.jpg", "con.tar.png", "prn .png"}) {
        r = run_filterhost({"--quiet", probe, input, dir + "\\" + name});
        EXPECT_EQ(exit_picture, r.exit_code) << name;
        EXPECT_TRUE(contains(r.err, "names the Windows device")) << name << ": " << r.err;
    }
    EXPECT_EQ("COM3", reserved_device_name("a\\b/Com3.x.jpg"));
    EXPECT_EQ("", reserved_device_name("null.png"));
    EXPECT_EQ("", reserved_device_name("com10.png"));
    EXPECT_EQ("", reserved_device_name("console.png"));
    EXPECT_EQ("NUL", reserved_device_name("C:nul"));

    // Wrong folders are found before any filtering.
    r = run_filterhost({probe, input, dir + "\\no-such-folder\\out.png"});
    EXPECT_EQ(exit_picture, r.exit_code);
    EXPECT_TRUE(contains(r.err, "no-such-folder' does not exist")) << r.err;
    EXPECT_FALSE(contains(r.err, "filtering")) << r.err;
    CreateDirectoryA((dir + "\\folder.png").c_str(), nullptr);
    r = run_filterhost({probe, input, dir + "\\folder.png"});
    EXPECT_EQ(exit_picture, r.exit_code);
    EXPECT_TRUE(contains(r.err, "is a folder")) << r.err;
}

TEST(FilterhostUser, RefusesPicturesItCannotReadInPlainWords)
{
    const std::string dir = scratch_dir("unreadable");
    const std::string plugin = in_build_dir("Cellumbra.8bf");
    TestPicture picture = make_coordinate_picture(40, 30, 3);
    std::string error;
    ASSERT_TRUE(save_picture(dir + "\\whole.bmp", picture, error)) << error;
    ASSERT_TRUE(save_picture(dir + "\\whole.png", picture, error)) << error;
    ASSERT_TRUE(save_picture(dir + "\\whole.jpg", picture, error)) << error;
    for (const char* format : {"bmp", "png", "jpg"}) {
        std::vector<unsigned char> bytes = file_bytes(dir + "\\whole." + format);
        bytes.resize(bytes.size() * 2 / 3);
        const std::string cut = dir + "\\cut." + format;
        ASSERT_TRUE(put_bytes(cut, bytes));
        RunResult r = run_filterhost({"--quiet", plugin, cut, dir + "\\out.png"});
        EXPECT_EQ(exit_picture, r.exit_code) << format;
        EXPECT_TRUE(contains(r.err, "the file is damaged or cut short")) << format << ": " << r.err;
    }
    EXPECT_FALSE(file_exists(dir + "\\out.png"));

    // An IHDR of 40000 x 10: the header alone tells.
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                      0, 0, 0x9c, 0x40, 0, 0, 0, 10, 8, 2, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(put_bytes(dir + "\\wide.png", png));
    write_text_file(dir + "\\text.png", "just some words");
    // Found by fuzzing: a BMP of no columns went to the plug-in. And a
    // JPEG of 2 KB that says 8000 x 8000: decoded, filtered and written.
    std::vector<unsigned char> bmp = file_bytes(dir + "\\whole.bmp");
    std::fill(bmp.begin() + 18, bmp.begin() + 22, 0);
    ASSERT_TRUE(put_bytes(dir + "\\empty.bmp", bmp));
    std::vector<unsigned char> jpeg = file_bytes(dir + "\\whole.jpg");
    const unsigned char sof[] = {0xFF, 0xC0};
    const auto frame = std::search(jpeg.begin(), jpeg.end(), sof, sof + 2);
    ASSERT_NE(jpeg.end(), frame);
    std::copy_n("\x1f\x40\x1f\x40", 4, frame + 5);
    ASSERT_TRUE(put_bytes(dir + "\\bomb.jpg", jpeg));
    ASSERT_TRUE(put_bytes(dir + "\\nothing.png", {}));
    const std::string out = dir + "\\out.png";
    const struct {
        std::vector<std::string> files; // input, output
        int code;
        std::string says;
    } cases[] = {
        {{dir + "\\wide.png", out}, exit_picture, "too large: 40000 x 10"},
        {{dir + "\\text.png", out}, exit_picture, "not a PNG, JPEG or BMP picture"},
        {{dir + "\\nothing.png", out}, exit_picture, "nothing.png': the file is empty (0 bytes)"},
        {{dir + "\\empty.bmp", out}, exit_picture, "the picture has no pixels (0 x 30)"},
        {{dir + "\\bomb.jpg", out}, exit_picture, "the file is damaged or cut short"},
        {{dir + "\\absent.png", out}, exit_picture, "absent.png': no such file"},
        {{dir, out}, exit_picture, "it is a folder"},
        {{dir + "\\whole.png", dir}, exit_usage,
         "'" + dir + "' is a folder; give the output a file name ending in .png, .bmp or .jpg"},
        {{dir + "\\whole.png", dir + "\\out.tif"}, exit_usage, "its name must end in .png, .bmp or .jpg"},
        {{"-whole.png", out}, exit_usage,
         "unknown option -whole.png (for a file whose name begins with '-', put -- before the file names, or "
         "write .\\-whole.png)"},
    };
    for (const auto& c : cases) {
        RunResult r = run_filterhost({"--quiet", plugin, c.files[0], c.files[1]});
        EXPECT_EQ(c.code, r.exit_code) << c.files[0];
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
    }
    // After --, a name that begins with '-' is a file.
    ASSERT_TRUE(CopyFileW(widen(dir + "\\whole.png").c_str(), widen(dir + "\\-whole.png").c_str(), FALSE));
    SetCurrentDirectoryW(widen(dir).c_str());
    RunResult r = run_filterhost({"--quiet", plugin, "--", "-whole.png", "-out.png"});
    SetCurrentDirectoryW(widen(build_dir()).c_str());
    EXPECT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_TRUE(file_exists(dir + "\\-out.png"));
}

TEST(FilterhostUser, AnswersTheBoxesNobodySeesAndOffersWhatRealHostsOffer)
{
    const std::string dir = scratch_dir("boxes");
    const std::string input = sample_input(dir, 64, 90);
    // Too little memory for one row beside the rows its cells read: the
    // plug-in warns in a message box, which the host answers and reports
    // instead of waiting for a click.
    RunResult r = run_filterhost({"--trace", "--settings", "5", "--max-space", "100",
                                  in_build_dir("Cellumbra.8bf"), input, dir + "\\out.png"},
                                 30000);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_TRUE(contains(r.err, "filterhost: message box \"The functions src and dr,dg,db could possibly not work "
                                "as desired!\": The picture is too big to be processed in one pass! [answered OK]\r\n"))
        << r.err;

    // Without --max-space a 24-megapixel photo (6000 x 4000, RGB) is one band.
    r = run_filterhost({"--trace", in_build_dir("Cellumbra.8bf"), input});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    const long long offered = std::atoll(r.out.c_str() + r.out.find("record maxSpace=") + 16);
    EXPECT_GE(offered, 8LL * 6004 * 4000) << r.out;
    EXPECT_LE(offered, 1LL << 30);
    EXPECT_FALSE(contains(r.err, "message box")) << r.err;

    // --about without a display anyone sees prints the box instead (the
    // display of tools/wine-run.sh is marked so; a developer's is not).
    ScopedEnv private_display("CELLUMBRA_PRIVATE_DISPLAY", "1");
    r = run_filterhost({"--about", in_build_dir("Cellumbra.8bf")}, 30000);
    EXPECT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_TRUE(contains(r.err, "filterhost: message box \"About...\": ")) << r.err;

    // --dialog there would wait forever: it stops at once and says why.
    r = run_filterhost({"--dialog", in_build_dir("Cellumbra.8bf"), input, dir + "\\out.png"}, 30000);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(exit_usage, r.exit_code);
    EXPECT_TRUE(contains(r.err, "--dialog needs a display that a person sees")) << r.err;
}

TEST(FilterhostUser, TakesNamesOutsideTheCodePage)
{
    const std::string dir = scratch_dir("names");
    const std::string input = sample_input(dir, 30, 20);
    const std::string cyrillic = dir + "\\снимок.png", cjk = dir + "\\写真.png";
    ASSERT_TRUE(CopyFileW(widen(input).c_str(), widen(cyrillic).c_str(), FALSE));
    RunResult r = run_filterhost({"--quiet", in_build_dir("Cellumbra.8bf"), cyrillic, cjk});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_EQ(file_bytes(dir + "\\写真.png").size() > 100, true);
    // Messages name the files as they are, in UTF-8.
    r = run_filterhost({"--quiet", in_build_dir("Cellumbra.8bf"), dir + "\\нет-写真.png"});
    EXPECT_EQ(exit_picture, r.exit_code);
    EXPECT_TRUE(contains(r.err, "нет-写真.png': no such file")) << r.err;
    // Names that Linux takes and Windows does not: said, and what to do.
    const std::vector<std::string> refused[] = {{dir + "\\what?.png"}, {cyrillic, dir + "\\a<b.png"}};
    for (const std::vector<std::string>& names : refused) {
        std::vector<std::string> args = {"--quiet", in_build_dir("Cellumbra.8bf")};
        args.insert(args.end(), names.begin(), names.end());
        r = run_filterhost(args);
        EXPECT_EQ(exit_picture, r.exit_code);
        EXPECT_TRUE(contains(r.err, "'" + names.back() + "': Windows allows none of : * ? \" < > | in a file name; "
                                    "the file needs another name")) << r.err;
    }
}

namespace {

std::vector<unsigned char> chunk(const char* type, const std::vector<unsigned char>& data)
{
    const uint32_t n = uint32_t(data.size());
    std::vector<unsigned char> c = {static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
                                    static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    c.insert(c.end(), 4, 0); // the decoder does not check the CRC
    return c;
}

// Bytes as a zlib stream of one stored (uncompressed) block.
std::vector<unsigned char> stored_zlib(const std::vector<unsigned char>& data)
{
    const uint16_t n = uint16_t(data.size());
    std::vector<unsigned char> z = {0x78, 0x01, 0x01, static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                    static_cast<unsigned char>(~n), static_cast<unsigned char>(~n >> 8)};
    z.insert(z.end(), data.begin(), data.end());
    uint32_t a = 1, b = 0;
    for (unsigned char c : data) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    const uint32_t adler = b << 16 | a;
    for (int shift = 24; shift >= 0; shift -= 8) z.push_back(static_cast<unsigned char>(adler >> shift));
    return z;
}

// A 2 x 1 grey PNG of 16 bits a sample.
std::vector<unsigned char> grey16_png()
{
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (const auto& c : {chunk("IHDR", {0, 0, 0, 2, 0, 0, 0, 1, 16, 0, 0, 0, 0}), std::vector<unsigned char>()})
        png.insert(png.end(), c.begin(), c.end());
    const std::vector<unsigned char> idat = chunk("IDAT", stored_zlib({0, 0x12, 0x34, 0xab, 0xcd})),
                                     iend = chunk("IEND", {});
    png.insert(png.end(), idat.begin(), idat.end());
    png.insert(png.end(), iend.begin(), iend.end());
    return png;
}

// A 4 x 2 BMP of 8 bits a pixel with a palette of 256 colours.
std::vector<unsigned char> palette_bmp()
{
    std::vector<unsigned char> b(14 + 40 + 1024 + 8, 0);
    const auto put = [&](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b[at + size_t(i)] = static_cast<unsigned char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put(2, uint32_t(b.size()), 4);
    put(10, 14 + 40 + 1024, 4);
    put(14, 40, 4);
    put(18, 4, 4);
    put(22, 2, 4);
    put(26, 1, 2);
    put(28, 8, 2);
    for (int i = 0; i < 256; ++i)
        put(54 + 4 * size_t(i), uint32_t(i * 0x010203), 4);
    for (int i = 0; i < 8; ++i)
        b[14 + 40 + 1024 + size_t(i)] = static_cast<unsigned char>(i * 30);
    return b;
}

// `jpeg` with an EXIF block whose orientation tag says `value`.
std::vector<unsigned char> with_orientation(std::vector<unsigned char> jpeg, unsigned char value)
{
    const std::vector<unsigned char> app1 = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, '*', 0, 0, 0, 8,
                                             0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, value, 0, 0, 0, 0, 0, 0};
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    return jpeg;
}

} // namespace

TEST(FilterhostUser, KeepsTransparencyAndSaysWhatItChanges)
{
    const std::string dir = scratch_dir("changes");
    const std::string plugin = in_build_dir("Cellumbra.8bf"), out = dir + "\\out.png";
    // An RGBA picture, without --rgba: filtered with its alpha plane, written RGBA.
    const TestPicture rgba = make_coordinate_picture(50, 41, 4);
    ASSERT_TRUE(write_png(dir + "\\rgba.png", rgba));
    RunResult r = run_filterhost({"--quiet", "--settings", "3", plugin, dir + "\\rgba.png", out});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_EQ("", r.err);
    TestPicture got;
    ASSERT_TRUE(read_picture(out, got));
    EXPECT_TRUE(same_picture(got, cells_of(rgba, 3)));

    std::string error;
    TestPicture colour = make_coordinate_picture(40, 30, 3);
    ASSERT_TRUE(save_picture(dir + "\\plain.jpg", colour, error));
    ASSERT_TRUE(write_png(dir + "\\grey.png", make_coordinate_picture(20, 10, 1)));
    ASSERT_TRUE(put_bytes(dir + "\\deep.png", grey16_png()));
    ASSERT_TRUE(put_bytes(dir + "\\palette.bmp", palette_bmp()));
    ASSERT_TRUE(put_bytes(dir + "\\turned.jpg", with_orientation(file_bytes(dir + "\\plain.jpg"), 6)));
    // An EXIF block whose directory lies far beyond the file: no tag, no stray read.
    std::vector<unsigned char> wild = with_orientation(file_bytes(dir + "\\plain.jpg"), 6);
    std::fill(wild.begin() + 16, wild.begin() + 20, 0xF0);
    ASSERT_TRUE(put_bytes(dir + "\\wild.jpg", wild));
    const struct {
        std::string input, output;
        std::vector<std::string> said;
    } cases[] = {
        {"rgba.png", "out.jpg", {"JPEG keeps no transparency: '" + dir + "\\out.jpg' is written without it"}},
        {"grey.png", "out.png", {"the picture is grey; it is filtered and written as RGB"}},
        {"deep.png", "out.png", {"16 bits per channel; it is filtered and written with 8", "grey"}},
        {"palette.bmp", "out.png", {"the picture has a colour palette; it is filtered and written as RGB"}},
        {"turned.jpg", "out.png", {"the picture is turned upright (a quarter turn clockwise) as its orientation tag (6) "
                                   "asks, as an editor opens it; the output's tag says upright (1)"}},
        {"plain.jpg", "out.png", {}},
        {"wild.jpg", "out.png", {}},
    };
    for (const auto& c : cases) {
        r = run_filterhost({"--quiet", plugin, dir + "\\" + c.input, dir + "\\" + c.output});
        ASSERT_EQ(exit_ok, r.exit_code) << c.input << ": " << r.err;
        for (const std::string& words : c.said)
            EXPECT_TRUE(contains(r.err, words)) << c.input << ": " << r.err;
        EXPECT_EQ(int(c.said.size() == 2 ? 2 : c.said.size()), count_lines(r.err, "filterhost: ")) << r.err;
        ASSERT_TRUE(read_picture(dir + "\\" + c.output, got));
        EXPECT_EQ(3, got.planes) << c.input;
    }
}

TEST(FilterhostUser, CarriesTheColourProfileAndExifOver)
{
    const std::string dir = scratch_dir("metadata");
    const std::string plugin = in_build_dir("Cellumbra.8bf");
    // Over 64 KB: three APP2 segments in a JPEG (the input's of 40000 bytes).
    const FileMetadata m = {made_up_profile(150000, "RGB "), exif_with_orientation(6)};
    std::string error;
    ASSERT_TRUE(save_picture(dir + "\\plain.png", make_coordinate_picture(40, 30, 3), error)) << error;
    ASSERT_TRUE(save_picture(dir + "\\plain.jpg", make_coordinate_picture(40, 30, 3), error)) << error;
    ASSERT_TRUE(put_bytes(dir + "\\in.png", with_metadata(file_bytes(dir + "\\plain.png"), m)));
    ASSERT_TRUE(put_bytes(dir + "\\in.jpg", with_metadata(file_bytes(dir + "\\plain.jpg"), m, 40000)));
    for (const char* in : {"in.png", "in.jpg"})
        for (const char* out : {"out.png", "out.jpg"}) {
            RunResult r = run_filterhost({"--quiet", "--keep-orientation", plugin, dir + "\\" + in, dir + "\\" + out});
            ASSERT_EQ(exit_ok, r.exit_code) << r.err;
            EXPECT_EQ("filterhost: the orientation tag (6) is kept, not applied: the pixels are filtered as stored, "
                      "and viewers turn the result as they turn the original\r\n",
                      r.err);
            const FileMetadata got = metadata_of(file_bytes(dir + "\\" + out));
            EXPECT_TRUE(got.icc == m.icc) << in << " to " << out << ": " << got.icc.size() << " profile bytes";
            EXPECT_TRUE(got.exif == m.exif) << in << " to " << out;
        }

    // What cannot be carried over is said, a line each.
    ASSERT_TRUE(put_bytes(dir + "\\cmyk.jpg", with_metadata(cmyk_jpeg(), {made_up_profile(300, "CMYK"), {}})));
    const struct {
        std::string input, output;
        std::vector<std::string> said;
    } cases[] = {
        {"in.jpg", "out.bmp", {"BMP holds no colour profile or EXIF: '" + dir + "\\out.bmp' is written without "
                               "the picture's colour profile (150000 bytes) and EXIF block (48 bytes)",
                               "the picture is turned upright (a quarter turn clockwise)"}},
        {"cmyk.jpg", "out.jpg", {"the picture is CMYK; it is filtered and written as RGB",
                                 "the picture's colour profile is for CMYK and does not fit the RGB output; it is "
                                 "dropped"}},
    };
    for (const auto& c : cases) {
        RunResult r = run_filterhost({"--quiet", plugin, dir + "\\" + c.input, dir + "\\" + c.output});
        ASSERT_EQ(exit_ok, r.exit_code) << r.err;
        for (const std::string& words : c.said)
            EXPECT_TRUE(contains(r.err, words)) << r.err;
        EXPECT_EQ(int(c.said.size()), count_lines(r.err, "filterhost: ")) << r.err;
    }
    EXPECT_TRUE(metadata_of(file_bytes(dir + "\\out.jpg")).icc.empty());
}

TEST(FilterhostUser, TurnsPhotosUprightAsEditorsOpenThem)
{
    const std::string dir = scratch_dir("upright");
    ScopedEnv no_script("HOSTPROBE_SCRIPT", "");
    ScopedEnv invert("HOSTPROBE_MAIN", "invert");
    const TestPicture stored = make_coordinate_picture(5, 3, 3);
    ASSERT_TRUE(write_png(dir + "\\plain.png", stored));
    // Which stored corner shows at the upright picture's top left and top
    // right, for each value of the tag: 0 top left, 1 top right, 2 bottom
    // left, 3 bottom right.
    const int corners[9][2] = {{}, {0, 1}, {1, 0}, {3, 2}, {2, 3}, {0, 2}, {2, 0}, {3, 1}, {1, 3}};
    const auto stored_corner = [&](int c) { return stored.at(c % 2 ? 4 : 0, c / 2 ? 2 : 0); };
    for (unsigned char tag = 1; tag <= 8; ++tag) {
        const std::string in = dir + "\\in" + std::to_string(tag) + ".png", out = dir + "\\out.png";
        ASSERT_TRUE(put_bytes(in, with_metadata(file_bytes(dir + "\\plain.png"), {{}, exif_with_orientation(tag)})));
        RunResult r = run_filterhost({"--quiet", in_build_dir("HostProbe.8bf"), in, out});
        ASSERT_EQ(exit_ok, r.exit_code) << r.err;
        EXPECT_EQ(tag == 1 ? 0 : 1, count_lines(r.err, "filterhost: the picture is turned upright")) << r.err;
        TestPicture got;
        ASSERT_TRUE(read_picture(out, got));
        ASSERT_EQ(tag >= 5 ? 3 : 5, got.width) << int(tag);
        for (int side = 0; side < 2; ++side)
            for (int p = 0; p < 3; ++p)
                EXPECT_EQ(255 - stored_corner(corners[tag][side])[p], got.at(side ? got.width - 1 : 0, 0)[p])
                    << "tag " << int(tag) << (side ? ", top right" : ", top left");
        EXPECT_TRUE(metadata_of(file_bytes(out)).exif == exif_with_orientation(1)) << int(tag);
    }
    // As stored, on request: pixels and tag as they were.
    RunResult r = run_filterhost({"--quiet", "--keep-orientation", in_build_dir("HostProbe.8bf"), dir + "\\in6.png",
                                  dir + "\\out.png"});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    TestPicture got;
    ASSERT_TRUE(read_picture(dir + "\\out.png", got));
    EXPECT_EQ(5, got.width);
    EXPECT_TRUE(metadata_of(file_bytes(dir + "\\out.png")).exif == exif_with_orientation(6));
}

TEST(FilterhostUser, WritesTheSameJpegFromBothBuilds)
{
    // A 64-bit prefix runs both hosts, a 32-bit one only its own.
    if (sizeof(void*) == 4)
        GTEST_SKIP() << "the 64-bit build's run of this test compares both hosts";
    const std::string host32 = build_dir() + "\\..\\win32\\filterhost.exe";
    if (!file_exists(host32))
        GTEST_SKIP() << "no 32-bit build beside this one (tools/build.sh win32)";
    // Gradients, noise and fine texture, as in a photo: where float rounding
    // lands on either side of a half often enough to show.
    const std::string dir = scratch_dir("jpeg-bytes");
    TestPicture photo = make_coordinate_picture(640, 480, 3);
    uint32_t seed = 1;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            unsigned char* p = photo.at(x, y);
            seed = seed * 1103515245u + 12345u;
            p[0] = static_cast<unsigned char>(127 + 120 * std::sin(x / 37.0 + y / 53.0) + int(seed >> 29) - 4);
            p[1] = static_cast<unsigned char>(127 + 120 * std::cos(x / 23.0 - y / 41.0) + int(seed >> 26 & 7) - 4);
            p[2] = static_cast<unsigned char>(x * y);
        }
    ASSERT_TRUE(write_png(dir + "\\photo.png", photo));
    for (const std::string& bits : {"32", "64"}) {
        const std::string tree = build_dir() + "\\..\\win" + bits + "\\";
        RunResult r = run_program(tree + "filterhost.exe", {"--quiet", "--settings", "2", tree + "Cellumbra.8bf",
                                                            dir + "\\photo.png", dir + "\\out" + bits + ".jpg"});
        ASSERT_EQ(exit_ok, r.exit_code) << bits << ": " << r.err;
    }
    EXPECT_TRUE(file_bytes(dir + "\\out32.jpg") == file_bytes(dir + "\\out64.jpg"));
}

TEST(FilterhostUser, ShowsProgressTheWayTheTerminalOrLogTakesIt)
{
    // Standard error is a file here: one line at the start, one at the end,
    // and the end says 100% though only the selection was counted.
    const std::string dir = scratch_dir("progress");
    const std::string input = sample_input(dir, 48, 32);
    RunResult r = run_filterhost({"--select-rect", "4,4,20,20", in_build_dir("Cellumbra.8bf"), input});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_EQ("filterhost: filtering '" + input + "' (48 x 32, RGB) with Cellumbra\r\n"
              "filterhost: filtering done (100%)\r\n",
              r.err);

    // A large picture shows its reading and writing too. On a console each
    // phase's bar is redrawn on the line below the one that names the
    // picture and what is done, which it never draws over.
    const std::string large = dir + "\\large.png", out = dir + "\\out.jpg";
    ASSERT_TRUE(write_png(large, make_coordinate_picture(4000, 2000, 3)));
    for (const bool bar : {false, true}) {
        r = run_filterhost({"--progress", bar ? "bar" : "lines", in_build_dir("Cellumbra.8bf"), large, out});
        ASSERT_EQ(exit_ok, r.exit_code) << r.err;
        std::vector<std::string> lines;
        for (size_t at = 0, end; (end = r.err.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(r.err.substr(at, end - at));
        std::vector<std::string> want = {"filterhost: reading '" + large + "' (4000 x 2000)",
                                         "filterhost: filtering '" + large + "' (4000 x 2000, RGB) with Cellumbra",
                                         "filterhost: writing '" + out + "'"};
        want.insert(want.begin() + 2, bar ? "a bar" : "filterhost: filtering done (100%)");
        if (bar)
            want.insert(want.begin() + 1, "a bar");
        ASSERT_EQ(want.size(), lines.size()) << r.err;
        for (size_t i = 0; i < lines.size(); ++i)
            if (want[i] == "a bar")
                EXPECT_TRUE(lines[i].rfind("\r[", 0) == 0 && lines[i].size() > 6 &&
                            lines[i].compare(lines[i].size() - 6, 6, "] 100%") == 0)
                    << lines[i];
            else
                EXPECT_EQ(want[i], lines[i]);
    }

    // On a console the bar is redrawn in place and ends at 100%.
    ProgressReport console(true, false);
    EXPECT_EQ("filterhost: x\n", console.start("x"));
    EXPECT_EQ("\r[" + std::string(22, '#') + std::string(18, '.') + "]  57%", console.update(884, 1536));
    EXPECT_EQ("", console.update(885, 1536));
    EXPECT_EQ("\r[" + std::string(40, '#') + "] 100%\n", console.finish(true));
    ProgressReport failing(true, false);
    failing.start("x");
    failing.update(1, 3);
    EXPECT_EQ("\n", failing.finish(false));
    ProgressReport quiet(false, true);
    EXPECT_EQ("", quiet.start("x") + quiet.update(1, 2) + quiet.finish(true));
}

TEST(FilterhostUser, ConcurrentRunsKeepTheirOwnSizes)
{
    const std::string dir = scratch_dir("concurrent");
    const TestPicture in = make_coordinate_picture(120, 80, 3);
    ASSERT_TRUE(write_png(dir + "\\in.png", in));
    const int sizes[] = {3, 9, 17, 33};
    ChildProcess runs[4];
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(runs[i].start(in_build_dir("filterhost.exe"),
                                  {"--quiet", "--settings", std::to_string(sizes[i]), in_build_dir("Cellumbra.8bf"),
                                   dir + "\\in.png", dir + "\\out" + std::to_string(i) + ".png"}));
    for (int i = 0; i < 4; ++i) {
        const RunResult r = runs[i].finish(60000);
        ASSERT_EQ(exit_ok, r.exit_code) << r.err;
        TestPicture got;
        ASSERT_TRUE(read_picture(dir + "\\out" + std::to_string(i) + ".png", got));
        EXPECT_TRUE(same_picture(got, cells_of(in, sizes[i]))) << "size " << sizes[i];
    }
}
