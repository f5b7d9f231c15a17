// Host recognition seen from outside: copies of the reference host under the
// names real editors use run a probe plug-in that paints the host kind it
// recognised into the picture.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "win/support/host_runner.h"
#include "win/support/pictures.h"

using namespace wintest;

namespace {

struct Outcome {
    int exit_code = -1;
    int red = -1;           // the host kind the plug-in recognised
    bool rate_65537 = false; // the sampling rate of kind 2 seen in the requests
    std::string log;
};

Outcome run_as(const std::string& exe_name)
{
    Outcome o;
    const std::string dir = scratch_dir("host-" + exe_name);
    const std::string host = dir + "\\" + exe_name;
    if (!CopyFileA(in_build_dir("filterhost.exe").c_str(), host.c_str(), FALSE)) return o;
    const std::string in = dir + "\\in.png", out = dir + "\\out.png";
    TestPicture picture = make_coordinate_picture(8, 6, 3);
    // Red 200 everywhere: a pixel the probe left alone cannot read as a host kind.
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) picture.at(x, y)[0] = 200;
    if (!write_png(in, picture)) return o;
    RunResult r = run_program(host, {"--trace", "--quiet", in_build_dir("HostKindProbe.8bf"), in, out});
    o.exit_code = r.exit_code;
    o.log = r.out + r.err;
    o.rate_65537 = r.out.find("inputRate=65537 maskRate=65537") != std::string::npos;
    TestPicture result;
    if (read_picture(out, result, 3)) o.red = result.at(3, 2)[0];
    return o;
}

TEST(HostDetection, RecognisesEditorsByExecutableNameOnly)
{
    struct Case {
        const char* name;
        int kind;
    } cases[] = {
        // The rules of the name itself are tested on the recognition alone;
        // here, that the running program's own name is what counts.
        {"PHOTOPNT.EXE", 2}, // upper case matches, the extension is ignored
        {"psp", 3},          // no extension at all
        {"filterhost.exe", 0},
    };
    for (const Case& c : cases) {
        Outcome o = run_as(c.name);
        ASSERT_EQ(o.exit_code, 0) << c.name << "\n" << o.log;
        EXPECT_EQ(o.red, c.kind) << c.name;
        // Only the kind-2 host gets the odd sampling rate of 1 + 1/65536.
        EXPECT_EQ(o.rate_65537, c.kind == 2) << c.name << "\n" << o.log;
    }
}

} // namespace
