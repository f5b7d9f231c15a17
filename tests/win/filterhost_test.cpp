// filterhost.exe as a whole through its command line: exits, the service a
// probe plug-in sees, whole runs and the windows it owns.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "win/support/wait.h"

using namespace wintest;

// ------------------------------------------------------------ filterhost.exe


TEST(FilterhostExits, ExplainsBadCommandLinesAndFiles)
{
    const std::string dir = scratch_dir("exits");
    const std::string input = sample_input(dir, 8, 8);
    const std::string plugin = in_build_dir("Cellumbra.8bf");

    RunResult r = run_filterhost({"--help"});
    EXPECT_EQ(exit_ok, r.exit_code);
    for (const char* option :
         {"--dialog", "--about", "--settings", "--set-slider", "--rgba", "--gray", "--select-rect",
          "--select-ellipse", "--filter-rect", "--max-space", "--color-answer", "--no-color-services",
          "--fail-advance", "--cancel-after-progress", "--trace", "--quiet", "--omit", "--private-display",
          "--progress", "130 interrupted"})
        EXPECT_TRUE(contains(r.out, option)) << option;

    r = run_filterhost({"--bogus", plugin, input});
    EXPECT_EQ(exit_usage, r.exit_code);
    EXPECT_TRUE(contains(r.err, "unknown option --bogus"));
    r = run_filterhost({plugin});
    EXPECT_EQ(exit_usage, r.exit_code);
    r = run_filterhost({"--select-rect", "5,5,2,9", plugin, input});
    EXPECT_EQ(exit_usage, r.exit_code);
    r = run_filterhost({plugin, input, dir + "\\out.tif"});
    EXPECT_EQ(exit_usage, r.exit_code);

    r = run_filterhost({plugin, dir + "\\missing.png", dir + "\\out.png"});
    EXPECT_EQ(exit_picture, r.exit_code);
    EXPECT_TRUE(contains(r.err, "missing.png': no such file")) << r.err;
    const std::string garbage = dir + "\\garbage.png";
    write_text_file(garbage, "not a picture at all");
    r = run_filterhost({plugin, garbage, dir + "\\out.png"});
    EXPECT_EQ(exit_picture, r.exit_code);
    EXPECT_FALSE(file_exists(dir + "\\out.png"));

    const std::string fake = dir + "\\fake.8bf";
    write_text_file(fake, "MZ but nothing else");
    r = run_filterhost({fake, input});
    EXPECT_EQ(exit_not_plugin, r.exit_code);
    EXPECT_TRUE(contains(r.err, "is not a loadable module")) << r.err;

    char system_dir[MAX_PATH];
    GetSystemDirectoryA(system_dir, MAX_PATH);
    r = run_filterhost({std::string(system_dir) + "\\comdlg32.dll", input});
    EXPECT_EQ(exit_not_plugin, r.exit_code);
    EXPECT_TRUE(contains(r.err, "no PIPL resource")) << r.err;

    r = run_filterhost({dir + "\\absent.8bf", input});
    EXPECT_EQ(exit_not_plugin, r.exit_code);
    EXPECT_TRUE(contains(r.err, "does not exist")) << r.err;
}

// ------------------------------------------------- filterhost with a probe
//
// HostProbe.8bf replays a script of advanceState requests from its Start
// block and records what filterhost delivered; see tests/plugins/HostProbe.cpp.

namespace {

struct ProbeArea {
    Rect16 rect{};
    int32 row_bytes = 0;
    bool has_data = false;
    std::vector<unsigned char> bytes;
};

struct ProbeRequest {
    int result = 0;
    ProbeArea in, out, mask;
};

struct ProbeRun {
    RunResult run;
    std::vector<ProbeRequest> requests;
};

ProbeArea parse_area(std::istringstream& line)
{
    ProbeArea a;
    std::string name, hex;
    int t, l, b, r;
    line >> name >> t >> l >> b >> r >> a.row_bytes >> hex;
    a.rect = rect(t, l, b, r);
    a.has_data = !hex.empty();
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        a.bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return a;
}

ProbeRun run_probe(const std::string& dir, const std::string& script, std::vector<std::string> args,
                   const std::string& main_mode = "keep")
{
    write_text_file(dir + "\\script.txt", script);
    ScopedEnv script_env("HOSTPROBE_SCRIPT", dir + "\\script.txt");
    ScopedEnv out_env("HOSTPROBE_OUT", dir + "\\probe.txt");
    ScopedEnv main_env("HOSTPROBE_MAIN", main_mode);
    DeleteFileA((dir + "\\probe.txt").c_str());
    args.insert(args.begin(), {"--quiet", "--trace"});
    ProbeRun p;
    p.run = run_filterhost(args);
    std::istringstream text(read_text_file(dir + "\\probe.txt"));
    std::string line;
    while (std::getline(text, line)) {
        if (line.compare(0, 8, "request ") != 0)
            continue;
        ProbeRequest q;
        std::istringstream head(line);
        std::string word;
        int number;
        head >> word >> number >> word >> q.result;
        std::string in, out, mask;
        std::getline(text, in);
        std::getline(text, out);
        std::getline(text, mask);
        std::istringstream a(in), b(out), c(mask);
        q.in = parse_area(a);
        q.out = parse_area(b);
        q.mask = parse_area(c);
        p.requests.push_back(q);
    }
    return p;
}

// The probe's areas as the in-process checks see them.
::testing::AssertionResult area_holds_source(const ProbeArea& a, int lo, int n, int factor)
{
    if (!a.has_data)
        return ::testing::AssertionFailure() << "no data";
    return holds_source(a.bytes.data(), a.row_bytes, a.rect, lo, n, factor);
}

} // namespace

TEST(FilterhostService, DeliversEveryScriptedRequestExactly)
{
    const std::string dir = scratch_dir("service");
    const std::string input = sample_input(dir, 40, 30);
    ProbeRun p = run_probe(dir,
                           "in=2,3,9,11\n"
                           "in=0,0,10,14 out=1,2,5,9 inputRate=196611\n"
                           "in=-2,35,4,45 out=28,-3,33,2\n"
                           "in=-1,38,2,42 inputPadding=0\n"
                           "in=0,0,30,40 inPlanes=1,2 mask=0,0,30,40\n"
                           "in=40,0,45,10\n",
                           {in_build_dir("HostProbe.8bf"), input});
    ASSERT_EQ(exit_ok, p.run.exit_code) << p.run.err;
    ASSERT_EQ(6u, p.requests.size()) << p.run.out;
    for (const ProbeRequest& q : p.requests)
        EXPECT_EQ(noErr, q.result);

    EXPECT_TRUE(area_holds_source(p.requests[0].in, 0, 3, 1));
    EXPECT_FALSE(p.requests[0].out.has_data);

    EXPECT_TRUE(area_holds_source(p.requests[1].in, 0, 3, 3));
    EXPECT_TRUE(area_holds_source(p.requests[1].out, 0, 3, 3));

    EXPECT_TRUE(same_rect(p.requests[2].in.rect, rect(0, 35, 4, 40)));
    EXPECT_TRUE(area_holds_source(p.requests[2].in, 0, 3, 1));
    EXPECT_TRUE(same_rect(p.requests[2].out.rect, rect(28, 0, 30, 2)));
    EXPECT_TRUE(area_holds_source(p.requests[2].out, 0, 3, 1));

    const ProbeArea& padded = p.requests[3].in;
    ASSERT_TRUE(same_rect(padded.rect, rect(-1, 38, 2, 42)));
    ASSERT_EQ(36u, padded.bytes.size());
    EXPECT_EQ(0, padded.bytes[0]);                                   // (38,-1) padding
    EXPECT_EQ(coordinate_value(39, 0, 2), padded.bytes[12 + 3 + 2]); // (39,0)
    EXPECT_EQ(0, padded.bytes[12 + 6]);                              // (40,0) padding

    EXPECT_TRUE(area_holds_source(p.requests[4].in, 1, 2, 1));
    EXPECT_FALSE(p.requests[4].mask.has_data) << "no selection, no mask";
    EXPECT_FALSE(p.requests[5].in.has_data);

    // The trace shows the probe's requests in order, with their rates.
    const size_t first = p.run.out.find("in=2,3,9,11 inPlanes=0-2");
    const size_t second = p.run.out.find("in=0,0,10,14 inPlanes=0-2 out=1,2,5,9 outPlanes=0-2 "
                                         "mask=0,0,0,0 inputRate=196611");
    EXPECT_NE(std::string::npos, first) << p.run.out;
    EXPECT_NE(std::string::npos, second);
    EXPECT_LT(first, second);
    EXPECT_NE(std::string::npos, p.run.out.find("gotIn=0,35,4,40"));
}

TEST(FilterhostService, DeliversTheSelectionAsMask)
{
    const std::string dir = scratch_dir("mask");
    const std::string input = sample_input(dir, 40, 30);
    ProbeRun p = run_probe(dir, "mask=0,0,30,40\nmask=0,0,15,20 maskRate=131072\n",
                           {"--select-ellipse", "5,4,31,22", in_build_dir("HostProbe.8bf"), input});
    ASSERT_EQ(exit_ok, p.run.exit_code) << p.run.err;
    ASSERT_EQ(2u, p.requests.size());
    auto selected = [](int x, int y) {
        const double dx = (x + 0.5 - 18.0) / 13.0, dy = (y + 0.5 - 13.0) / 9.0;
        return dx * dx + dy * dy <= 1.0;
    };
    const ProbeArea& full = p.requests[0].mask;
    ASSERT_EQ(40, full.row_bytes);
    ASSERT_EQ(1200u, full.bytes.size());
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            EXPECT_EQ(selected(x, y) ? 255 : 0, full.bytes[y * 40 + x]) << x << "," << y;
    const ProbeArea& half = p.requests[1].mask;
    ASSERT_EQ(300u, half.bytes.size());
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 20; ++x)
            EXPECT_EQ(selected(2 * x, 2 * y) ? 255 : 0, half.bytes[y * 20 + x]) << x << "," << y;
}

TEST(FilterhostService, WritesBackOnlyWhatThePlugInWroteAtFactorOne)
{
    const std::string dir = scratch_dir("writeback");
    const std::string input = sample_input(dir, 40, 30);
    const std::string output = dir + "\\out.png";
    ProbeRun p = run_probe(dir,
                           "out=2,3,6,10 fill=200\n"
                           "in=0,0,15,20 out=0,0,15,20 inputRate=131072 fill=7\n"
                           "out=10,20,12,25 outPlanes=1,1 fill=0\n",
                           {in_build_dir("HostProbe.8bf"), input, output});
    ASSERT_EQ(exit_ok, p.run.exit_code) << p.run.err;
    TestPicture result;
    ASSERT_TRUE(read_picture(output, result));
    ASSERT_EQ(40, result.width);
    ASSERT_EQ(3, result.planes);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            for (int c = 0; c < 3; ++c) {
                int want = coordinate_value(x, y, c);
                if (y >= 2 && y < 6 && x >= 3 && x < 10)
                    want = 200;
                if (c == 1 && y >= 10 && y < 12 && x >= 20 && x < 25)
                    want = 0;
                ASSERT_EQ(want, result.at(x, y)[c]) << x << "," << y << " plane " << c;
            }
}

TEST(FilterhostService, FailsTheChosenCallAndReportsCrashes)
{
    const std::string dir = scratch_dir("failures");
    const std::string input = sample_input(dir, 20, 10);
    const std::string probe = in_build_dir("HostProbe.8bf");
    const std::string script = "in=0,0,4,4\nin=0,0,5,5\n";
    // Number the script's second request by the plug-in's calls before it
    // (the cut ends inside its own trace line, which counts too).
    ProbeRun first = run_probe(dir, script, {probe, input});
    ASSERT_EQ(exit_ok, first.run.exit_code) << first.run.err;
    const size_t at = first.run.out.find("in=0,0,5,5");
    ASSERT_NE(std::string::npos, at);
    const int number = count_lines(first.run.out.substr(0, at), "advanceState ");

    ProbeRun p = run_probe(dir, script, {"--fail-advance", std::to_string(number) + ":-50", probe, input});
    ASSERT_EQ(2u, p.requests.size()) << p.run.out;
    EXPECT_EQ(noErr, p.requests[0].result);
    EXPECT_EQ(-50, p.requests[1].result);
    EXPECT_FALSE(p.requests[1].in.has_data);
    EXPECT_NE(std::string::npos, p.run.out.find("result=-50"));

    // One byte past the output buffer: the host's guard page stops it.
    p = run_probe(dir, "out=0,0,3,3 overrun=1\n", {probe, input, dir + "\\out.png"});
    EXPECT_EQ(exit_plugin_crashed, p.run.exit_code);
    EXPECT_TRUE(contains(p.run.err, "the plug-in crashed during selector 3")) << p.run.err;
    EXPECT_TRUE(contains(p.run.err, "writing address")) << p.run.err;
    EXPECT_FALSE(file_exists(dir + "\\out.png"));
}

// ------------------------------------------------------- whole runs

TEST(FilterhostRun, ChangesOnlyTheSelectionAndKeepsEveryPlane)
{
    const std::string dir = scratch_dir("selection");
    const std::string input = sample_input(dir, 48, 32, 4);
    const std::string output = dir + "\\out.png";
    ProbeRun p = run_probe(
        dir, "", {"--rgba", "--select-ellipse", "6,3,40,29", in_build_dir("HostProbe.8bf"), input, output},
        "invert");
    ASSERT_EQ(exit_ok, p.run.exit_code) << p.run.err;
    TestPicture result;
    ASSERT_TRUE(read_picture(output, result));
    ASSERT_EQ(4, result.planes);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) {
            const double dx = (x + 0.5 - 23.0) / 17.0, dy = (y + 0.5 - 16.0) / 13.0;
            const bool inside = dx * dx + dy * dy <= 1.0;
            for (int c = 0; c < 4; ++c) {
                const int source = coordinate_value(x, y, c);
                ASSERT_EQ(inside ? 255 - source : source, result.at(x, y)[c]) << x << "," << y << "," << c;
            }
        }
    // filterRect is the selection's bounds (34 x 26): only those pixels are visited.
    EXPECT_NE(std::string::npos, p.run.out.find("last=884/1536")) << p.run.out;
}

TEST(FilterhostRun, StopsWithoutWritingOnErrorsAndCancel)
{
    const std::string dir = scratch_dir("stops");
    const std::string input = sample_input(dir, 24, 16);
    const std::string output = dir + "\\out.png";
    RunResult r = run_filterhost({"--quiet", "--gray", in_build_dir("Cellumbra.8bf"), input, output});
    EXPECT_EQ(exit_plugin_error, r.exit_code);
    EXPECT_TRUE(contains(r.err, "plug-in error -30101 at start")) << r.err;
    EXPECT_FALSE(file_exists(output));

    ScopedEnv no_script("HOSTPROBE_SCRIPT", "");
    r = run_filterhost(
        {"--quiet", "--trace", "--cancel-after-progress", "3", in_build_dir("HostProbe.8bf"), input, output});
    EXPECT_EQ(exit_cancelled, r.exit_code);
    EXPECT_TRUE(contains(r.err, "cancelled")) << r.err;
    EXPECT_FALSE(file_exists(output));
    EXPECT_EQ(0, count_lines(r.out, "selector 5")) << "no finish after an error";
}

TEST(FilterhostRun, StoresSettingsAndKeepsTheOtherControls)
{
    const char* key_path = "Software\\Orv-Tinctora\\Tinctora\\Cellumbra";
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    unsigned char before[64];
    for (int i = 0; i < 64; ++i)
        before[i] = static_cast<unsigned char>(i + 1);
    RegSetValueExA(key, "SliderSettings", 0, REG_BINARY, before, 64);

    const std::string dir = scratch_dir("settings");
    const std::string input = sample_input(dir, 8, 8);
    ScopedEnv no_script("HOSTPROBE_SCRIPT", "");
    RunResult r = run_filterhost({"--quiet", "--settings", "20", "--set-slider", "3=-7", "--set-check", "1=1",
                                  in_build_dir("HostProbe.8bf"), input});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    unsigned char after[80] = {};
    DWORD type = 0, size = sizeof after;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "SliderSettings", nullptr, &type, after, &size));
    EXPECT_EQ(DWORD(REG_BINARY), type);
    ASSERT_EQ(64u, size);
    unsigned char want[64];
    std::memcpy(want, before, 64);
    const unsigned char size20[4] = {20, 0, 0, 0}, minus7[4] = {0xF9, 0xFF, 0xFF, 0xFF},
                        one[4] = {1, 0, 0, 0};
    std::memcpy(want, size20, 4);
    std::memcpy(want + 8, minus7, 4);
    std::memcpy(want + 60, one, 4);
    EXPECT_EQ(0, std::memcmp(want, after, 64));

    // A value of another type is no base to keep: the rest becomes 0.
    DWORD number = 5;
    RegSetValueExA(key, "SliderSettings", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4);
    r = run_filterhost({"--quiet", "--settings", "9", in_build_dir("HostProbe.8bf"), input});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    size = sizeof after;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "SliderSettings", nullptr, &type, after, &size));
    EXPECT_EQ(DWORD(REG_BINARY), type);
    unsigned char zeros[64] = {9};
    EXPECT_EQ(0, std::memcmp(zeros, after, 64));
    RegCloseKey(key);
}

TEST(FilterhostRun, WritesTheResultInTheFormatOfItsName)
{
    const std::string dir = scratch_dir("formats");
    const std::string input = sample_input(dir, 30, 20);
    ScopedEnv no_script("HOSTPROBE_SCRIPT", "");
    ScopedEnv invert("HOSTPROBE_MAIN", "invert");
    for (const char* name : {"out.png", "out.bmp", "out.jpg"}) {
        RunResult r = run_filterhost({"--quiet", in_build_dir("HostProbe.8bf"), input, dir + "\\" + name});
        ASSERT_EQ(exit_ok, r.exit_code) << name << ": " << r.err;
    }
    TestPicture png, bmp, jpg;
    ASSERT_TRUE(read_picture(dir + "\\out.png", png));
    ASSERT_TRUE(read_picture(dir + "\\out.bmp", bmp, 3));
    ASSERT_TRUE(read_picture(dir + "\\out.jpg", jpg, 3));
    EXPECT_EQ(255 - coordinate_value(7, 5, 2), png.at(7, 5)[2]);
    EXPECT_EQ(png.pixels, bmp.pixels);
    EXPECT_EQ(30, jpg.width);
    EXPECT_EQ(20, jpg.height);
}

TEST(FilterhostRun, RunsTheProductWithStoredSettings)
{
    const std::string dir = scratch_dir("product");
    const std::string input = sample_input(dir, 64, 48);
    const std::string output = dir + "\\out.png";
    RunResult r = run_filterhost(
        {"--quiet", "--trace", "--settings", "8", in_build_dir("Cellumbra.8bf"), input, output});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_TRUE(contains(r.out, "plugin name=\"Cellumbra\" category=\"Tinctora\" entry=ENTRYPOINT"));
    EXPECT_TRUE(contains(r.out, "selector 5 finish result=0"));
    TestPicture result;
    ASSERT_TRUE(read_picture(output, result));
    EXPECT_EQ(64, result.width);
    EXPECT_EQ(48, result.height);
    EXPECT_EQ(cells_of(make_coordinate_picture(64, 48, 3), 8).pixels, result.pixels) << "cells of the stored size 8";
}

// ------------------------------------------------------- windows

namespace {

std::string class_of(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string caption_of(HWND window)
{
    char text[128] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

} // namespace

TEST(FilterhostWindows, OwnsThePlugInDialogAndDrawsItsPreview)
{
    const std::string dir = scratch_dir("dialog");
    const std::string input = sample_input(dir, 64, 48);
    const std::string output = dir + "\\out.png";
    for (const int button : {IDOK, IDCANCEL}) {
        DeleteFileA(output.c_str());
        ChildProcess host;
        ASSERT_TRUE(
            host.start(in_build_dir("filterhost.exe"),
                       {"--quiet", "--trace", "--dialog", "--private-display", in_build_dir("Cellumbra.8bf"),
                        input, output}));
        HWND dialog = reinterpret_cast<HWND>(wait_for_window(host.id(), "#32770", 20000));
        ASSERT_NE(nullptr, dialog) << host.finish(0).err;
        EXPECT_EQ("Cellumbra", caption_of(dialog));
        HWND owner = GetWindow(dialog, GW_OWNER);
        ASSERT_NE(nullptr, owner);
        EXPECT_EQ("FilterHostWindow", class_of(owner));
        EXPECT_TRUE(IsWindowVisible(owner));
        // A filtered rendering draws twice in one paint: the picture, then the
        // cells, with no request in between.
        const auto filtered_preview_drawn = [&] {
            std::istringstream lines(host.output_so_far());
            bool drawn_last = false;
            for (std::string line; std::getline(lines, line);) {
                const bool drawn = line.rfind("displayPixels", 0) == 0;
                if (drawn && drawn_last) return true;
                if (drawn || line.rfind("advanceState", 0) == 0) drawn_last = drawn;
            }
            return false;
        };
        EXPECT_TRUE(wait_until(filtered_preview_drawn)) << "no filtered preview";
        PostMessageA(dialog, WM_COMMAND, button, 0);
        RunResult r = host.finish(30000);
        ASSERT_FALSE(r.timed_out);
        EXPECT_TRUE(contains(r.out, "selector 1 parameters result=0")) << r.out;
        EXPECT_TRUE(contains(r.out, "displayPixels version=1")) << r.out;
        EXPECT_EQ(0, count_lines(r.out, "displayPixels") - count_lines(r.out, "displayPixels version=1 "))
            << "every preview drawing has its pixel map";
        EXPECT_FALSE(contains(r.out, "displayPixels result=")) << r.out;
        if (button == IDOK) {
            EXPECT_EQ(exit_ok, r.exit_code) << r.err;
            EXPECT_TRUE(file_exists(output));
        } else {
            EXPECT_EQ(exit_cancelled, r.exit_code) << r.err;
            EXPECT_FALSE(file_exists(output));
        }
    }
}

// An editor's window stays alive while a plug-in works: the host looks at its
// messages between the plug-in's calls, so its window answers within about
// 100 ms all through a run of seconds (Windows calls a window that answers
// nothing for 5 s "Not Responding"). Here 90 to 120 answers came in 2 s, the
// slowest after 30 to 60 ms; a loaded machine may hold back a few.
TEST(FilterhostWindows, AnswersItsMessagesWhileAPlugInRuns)
{
    const std::string dir = scratch_dir("responsive");
    const std::string input = sample_input(dir, 64, 48);
    ChildProcess host;
    ASSERT_TRUE(host.start(in_build_dir("filterhost.exe"),
                           {"--quiet", "--trace", "--dialog", "--private-display", in_build_dir("CellumbraSlow.8bf"),
                            input, dir + "\\out.png"}));
    HWND dialog = reinterpret_cast<HWND>(wait_for_window(host.id(), "#32770", 20000));
    ASSERT_NE(nullptr, dialog) << host.finish(0).err;
    HWND window = GetWindow(dialog, GW_OWNER);
    ASSERT_NE(nullptr, window);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    // The start selector, where the plug-in works, follows Prepare's line.
    const auto running = [&] { return !contains(host.output_so_far(), "selector 3 start"); };
    ASSERT_TRUE(wait_until([&] { return contains(host.output_so_far(), "selector 2 prepare"); }, 20000))
        << host.finish(0).err;
    int answered = 0, prompt = 0;
    while (running()) {
        const DWORD sent = GetTickCount();
        DWORD_PTR answer = 0;
        const bool ok = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer) != 0;
        const DWORD took = GetTickCount() - sent;
        if (!running()) break; // the run ended meanwhile, and the window with it
        ASSERT_TRUE(ok) << "no answer within 1 s after " << answered << " answers";
        ++answered;
        prompt += took <= 100;
    }
    const RunResult r = host.finish(30000);
    EXPECT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_GE(answered, 5) << "the run took too short a time to tell";
    EXPECT_GE(prompt * 10, answered * 9) << prompt << " of " << answered << " answers within 100 ms";
}

TEST(FilterhostWindows, AboutSendsOnlyTheAboutSelector)
{
    ChildProcess host;
    ASSERT_TRUE(host.start(in_build_dir("filterhost.exe"),
                           {"--trace", "--about", "--private-display", in_build_dir("Cellumbra.8bf")}));
    HWND box = reinterpret_cast<HWND>(wait_for_window(host.id(), "#32770", 20000));
    ASSERT_NE(nullptr, box) << host.finish(0).err;
    EXPECT_EQ("About...", caption_of(box));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    RunResult r = host.finish(20000);
    EXPECT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_EQ(1, count_lines(r.out, "selector ")) << r.out;
    EXPECT_TRUE(contains(r.out, "selector 0 about")) << r.out;
}
