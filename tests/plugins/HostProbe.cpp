// HostProbe.8bf: a build of the plug-in that probes the host it runs in. Its
// Start block replays a script of advanceState requests and records what the
// host delivered; its Main block either keeps the output the host handed out
// or inverts the input, so the picture a host writes shows every area the
// plug-in was given.
//
// HOSTPROBE_SCRIPT  file of requests, one a line, of key=value words:
//   in=T,L,B,R inPlanes=LO,HI out=T,L,B,R outPlanes=LO,HI mask=T,L,B,R
//   inputRate=N maskRate=N inputPadding=P outputPadding=P maskPadding=P
//   fill=V      after the request, set every byte of outData to V
//   overrun=1   after the request, write one byte past the end of outData
// Unset rectangles are empty, planes 0..planes-1, rates 65536, paddings -2.
// HOSTPROBE_OUT     file that receives, per request, "request N result R"
//                   and per area "NAME T L B R ROWBYTES" and its bytes in hex.
// HOSTPROBE_MAIN    "invert" to write 255 - input; otherwise the Main block
//                   leaves the output as delivered.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <windows.h>

#include "runtime/kernel.h"
#include "runtime/host_calls.h"
#include "shell/shell.h"

namespace {

std::string environment(const char* name)
{
    char buf[1024];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

bool parse_numbers(const char* text, int* values, int count)
{
    for (int i = 0; i < count; ++i) {
        char* end = nullptr;
        values[i] = int(std::strtol(text, &end, 10));
        if (end == text)
            return false;
        text = end + (*end == ',' ? 1 : 0);
    }
    return true;
}

void set_rect(Rect16& r, const char* text)
{
    int v[4];
    if (parse_numbers(text, v, 4))
        r = {int16(v[0]), int16(v[1]), int16(v[2]), int16(v[3])};
}

void dump_area(FILE* out, const char* name, const Rect16& r, const void* data, int32 row_bytes)
{
    std::fprintf(out, "%s %d %d %d %d %d", name, r.top, r.left, r.bottom, r.right, data ? row_bytes : 0);
    if (data != nullptr) {
        const int rows = r.bottom > r.top ? r.bottom - r.top : 0;
        const unsigned char* p = static_cast<const unsigned char*>(data);
        std::fputc(' ', out);
        for (long i = 0; i < long(rows) * row_bytes; ++i)
            std::fprintf(out, "%02x", p[i]);
    }
    std::fputc('\n', out);
}

void replay_script()
{
    FilterRecord* rec = run_state.filter_record;
    const std::string script_path = environment("HOSTPROBE_SCRIPT");
    if (rec == nullptr || rec->advanceState == nullptr || script_path.empty())
        return;
    FILE* script = std::fopen(script_path.c_str(), "r");
    FILE* out = std::fopen(environment("HOSTPROBE_OUT").c_str(), "w");
    if (script == nullptr || out == nullptr) {
        if (script)
            std::fclose(script);
        if (out)
            std::fclose(out);
        return;
    }
    const FilterRecord saved = *rec;
    char line[1024];
    int number = 0;
    while (std::fgets(line, sizeof line, script)) {
        if (line[0] == '\n' || line[0] == '#')
            continue;
        rec->inRect = rec->outRect = rec->maskRect = Rect16{0, 0, 0, 0};
        rec->inLoPlane = rec->outLoPlane = 0;
        rec->inHiPlane = rec->outHiPlane = int16(rec->planes - 1);
        rec->inputRate = rec->maskRate = 65536;
        rec->inputPadding = rec->outputPadding = rec->maskPadding = -2;
        int fill = -1;
        bool overrun = false;
        for (char* word = std::strtok(line, " \t\r\n"); word; word = std::strtok(nullptr, " \t\r\n")) {
            char* eq = std::strchr(word, '=');
            if (!eq)
                continue;
            *eq = '\0';
            const std::string key = word;
            const char* value = eq + 1;
            int v[2] = {0, 0};
            if (key == "in")
                set_rect(rec->inRect, value);
            else if (key == "out")
                set_rect(rec->outRect, value);
            else if (key == "mask")
                set_rect(rec->maskRect, value);
            else if (key == "inPlanes" && parse_numbers(value, v, 2))
                rec->inLoPlane = int16(v[0]), rec->inHiPlane = int16(v[1]);
            else if (key == "outPlanes" && parse_numbers(value, v, 2))
                rec->outLoPlane = int16(v[0]), rec->outHiPlane = int16(v[1]);
            else if (key == "inputRate")
                rec->inputRate = std::atoi(value);
            else if (key == "maskRate")
                rec->maskRate = std::atoi(value);
            else if (key == "inputPadding")
                rec->inputPadding = int16(std::atoi(value));
            else if (key == "outputPadding")
                rec->outputPadding = int16(std::atoi(value));
            else if (key == "maskPadding")
                rec->maskPadding = int16(std::atoi(value));
            else if (key == "fill")
                fill = std::atoi(value);
            else if (key == "overrun")
                overrun = std::atoi(value) != 0;
        }
        const OSErr result = rec->advanceState();
        std::fprintf(out, "request %d result %d\n", ++number, result);
        dump_area(out, "in", rec->inRect, rec->inData, rec->inRowBytes);
        dump_area(out, "out", rec->outRect, rec->outData, rec->outRowBytes);
        dump_area(out, "mask", rec->maskRect, rec->maskData, rec->maskRowBytes);
        std::fflush(out);
        const long out_size = rec->outData && rec->outRect.bottom > rec->outRect.top
                                  ? long(rec->outRect.bottom - rec->outRect.top) * rec->outRowBytes
                                  : 0;
        if (fill >= 0 && out_size > 0)
            std::memset(rec->outData, fill, size_t(out_size));
        if (overrun && rec->outData)
            static_cast<volatile unsigned char*>(rec->outData)[out_size] = 1;
    }
    std::fclose(script);
    std::fclose(out);

    // Hand the shell back the band it had asked for before the Start block.
    rec->inRect = saved.inRect;
    rec->outRect = saved.outRect;
    rec->maskRect = saved.maskRect;
    rec->inLoPlane = saved.inLoPlane;
    rec->inHiPlane = saved.inHiPlane;
    rec->outLoPlane = saved.outLoPlane;
    rec->outHiPlane = saved.outHiPlane;
    rec->inputRate = saved.inputRate;
    rec->maskRate = saved.maskRate;
    rec->inputPadding = saved.inputPadding;
    rec->outputPadding = saved.outputPadding;
    rec->maskPadding = saved.maskPadding;
    rec->advanceState();
}

bool inverting = false;

void probe_start(KernelVariables&, const BuiltinTable&)
{
    const std::string mode = environment("HOSTPROBE_MAIN");
    inverting = mode == "invert";
    replay_script();
}

void probe_main(KernelVariables& vars, const BuiltinTable&)
{
    const unsigned char* in = run_state.pixel_context.in_ptr;
    const unsigned char* out = run_state.pixel_context.out_ptr;
    const int planes = run_state.pixel_context.pixel_stride;
    for (int p = 0; p < planes && p < 4; ++p)
        vars.v[slot::out_red + p] = inverting ? 255 - in[p] : out[p];
}

} // namespace

void bind_filter_blocks()
{
    kernel_blocks[0] = probe_main;  // Main
    kernel_blocks[1] = nullptr;     // Prepass
    kernel_blocks[2] = probe_start; // Start
    kernel_blocks[3] = nullptr;     // Interpass
}
