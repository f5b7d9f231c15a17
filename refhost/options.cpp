#include "refhost/options.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

const char* const help_text =
    "Usage: filterhost [options] PLUGIN.8bf INPUT [OUTPUT]\n"
    "       filterhost --about PLUGIN.8bf\n"
    "\n"
    "Runs a filter plug-in on a picture the way an image editor does: loads the\n"
    "module, finds its entry point in its PIPL resource, sends prepare, start,\n"
    "continue (while the plug-in still asks for areas) and finish, serves every\n"
    "advanceState request and writes the result to OUTPUT (.png, .bmp, .jpg; the\n"
    "format follows the extension). Without OUTPUT nothing is written.\n"
    "INPUT may be PNG, JPEG or BMP.\n"
    "\n"
    "Running:\n"
    "  --dialog                 send the parameters selector first, so the plug-in\n"
    "                           shows its dialog; the host window is shown\n"
    "  --about                  send only the about selector\n"
    "  --settings SIZE          same as --set-slider 1=SIZE\n"
    "  --set-slider K=V         store V for slider K (1-8) before the run, the way a\n"
    "                           host repeats a filter with its last settings\n"
    "  --set-check K=V          store V (0 or 1) for check box K (1 or 2)\n"
    "                           Settings go to the plug-in's registry value\n"
    "                           HKCU\\Software\\Orv-Tinctora\\<category>\\<title>\\SliderSettings\n"
    "                           (64 bytes; bytes of other controls are kept)\n"
    "\n"
    "The picture:\n"
    "  --rgb                    3 planes, RGB mode (default)\n"
    "  --rgba                   4 planes, RGB mode with transparency\n"
    "  --gray                   1 plane, grayscale mode (imageMode 1)\n"
    "  --filter-rect L,T,R,B    filter only this part (right and bottom exclusive)\n"
    "  --select-rect L,T,R,B    a rectangular selection: filterRect is its bounds\n"
    "                           and maskData is 255 inside, 0 outside\n"
    "  --select-ellipse L,T,R,B an elliptical selection inside that box\n"
    "  --foreground R,G,B       foreground colour (default 0,0,0)\n"
    "  --background R,G,B       background colour (default 255,255,255)\n"
    "  --max-space BYTES        maxSpace (default 104857600)\n"
    "  --high-buffers           place the image buffers top-down, above 2 GiB in\n"
    "                           the 32-bit host and above 4 GiB in the 64-bit one\n"
    "\n"
    "Host services:\n"
    "  --color-answer R,G,B     colorServices answers this colour without a dialog\n"
    "  --no-color-services      leave colorServices null\n"
    "  --omit NAME[,NAME...]    leave callbacks null: abortProc, progressProc,\n"
    "                           advanceState, displayPixels, colorServices\n"
    "  --fail-advance N[:CODE]  the N-th advanceState call fails with CODE\n"
    "                           (default -108) and delivers nothing\n"
    "  --cancel-after-progress N\n"
    "                           abortProc answers 1 from its N-th call on\n"
    "\n"
    "Output:\n"
    "  --trace                  print every selector, advanceState request and\n"
    "                           write-back on standard output\n"
    "  --quiet                  no progress bar on standard error\n"
    "  -h, --help               this text\n"
    "\n"
    "Areas are delivered exactly as requested, cut to the picture unless the\n"
    "plug-in asks for padding; at a sampling rate of N (inputRate, maskRate in\n"
    "16.16, whole part) pixel (x,y) is picture pixel (x*N,y*N). Output delivered\n"
    "at a rate other than 1 never reaches the picture.\n"
    "\n"
    "Exit codes: 0 done; 1 bad command line; 2 picture unreadable or not\n"
    "writable; 3 the plug-in returned an error code; 4 the plug-in was cancelled\n"
    "(-128); 5 not a loadable filter plug-in; 6 the plug-in crashed.\n";

namespace {

bool parse_int(const std::string& text, long long low, long long high, int32_t& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < low || v > high)
        return false;
    value = int32_t(v);
    return true;
}

bool parse_list(const std::string& text, size_t count, long long low, long long high,
                std::vector<int32_t>& values)
{
    values.clear();
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        int32_t v = 0;
        if (!parse_int(item, low, high, v))
            return false;
        values.push_back(v);
    }
    return values.size() == count && (text.empty() || text.back() != ',');
}

bool parse_area(const std::string& text, Area& area)
{
    std::vector<int32_t> v;
    if (!parse_list(text, 4, 0, 32767, v) || v[0] >= v[2] || v[1] >= v[3])
        return false;
    area = {v[0], v[1], v[2], v[3]};
    return true;
}

bool parse_colour(const std::string& text, unsigned char colour[3])
{
    std::vector<int32_t> v;
    if (!parse_list(text, 3, 0, 255, v))
        return false;
    for (int i = 0; i < 3; ++i)
        colour[i] = static_cast<unsigned char>(v[i]);
    return true;
}

// "K=V" with K in [klow, khigh].
bool parse_assignment(const std::string& text, int32_t klow, int32_t khigh, int32_t& key, int32_t& value)
{
    size_t eq = text.find('=');
    return eq != std::string::npos && parse_int(text.substr(0, eq), klow, khigh, key) &&
           parse_int(text.substr(eq + 1), INT32_MIN, INT32_MAX, value);
}

} // namespace

bool parse_options(const std::vector<std::string>& args, HostOptions& o, std::string& error)
{
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool has_inline = false;
        if (name.size() > 2 && name.compare(0, 2, "--") == 0) {
            size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
                has_inline = true;
            }
        }
        auto take = [&](std::string& v) {
            if (has_inline) {
                v = value;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        auto bad = [&](const std::string& what) {
            error = "bad value '" + value + "' for " + name + ": " + what;
            return false;
        };
        auto flag = [&]() {
            if (has_inline) {
                error = "option " + name + " takes no value";
                return false;
            }
            return true;
        };

        if (name == "-h" || name == "--help") {
            o.help = true;
        } else if (name == "--about") {
            if (!flag())
                return false;
            o.about = true;
        } else if (name == "--dialog") {
            if (!flag())
                return false;
            o.dialog = true;
        } else if (name == "--rgb" || name == "--rgba" || name == "--gray") {
            if (!flag())
                return false;
            o.planes = name == "--rgb" ? 3 : name == "--rgba" ? 4 : 1;
        } else if (name == "--trace") {
            if (!flag())
                return false;
            o.trace = true;
        } else if (name == "--high-buffers") {
            if (!flag())
                return false;
            o.high_buffers = true;
        } else if (name == "--quiet") {
            if (!flag())
                return false;
            o.quiet = true;
        } else if (name == "--no-color-services") {
            if (!flag())
                return false;
            o.omit_color = true;
        } else if (name == "--settings") {
            int32_t size = 0;
            if (!take(value))
                return false;
            if (!parse_int(value, INT32_MIN, INT32_MAX, size))
                return bad("a whole number");
            o.settings.push_back({0, size});
        } else if (name == "--set-slider") {
            int32_t k = 0, v = 0;
            if (!take(value))
                return false;
            if (!parse_assignment(value, 1, 8, k, v))
                return bad("K=V with K from 1 to 8");
            o.settings.push_back({k - 1, v});
        } else if (name == "--set-check") {
            int32_t k = 0, v = 0;
            if (!take(value))
                return false;
            if (!parse_assignment(value, 1, 2, k, v) || (v != 0 && v != 1))
                return bad("K=V with K 1 or 2 and V 0 or 1");
            // Check box 1 is the last of the sixteen values, check box 2 the one before.
            o.settings.push_back({k == 1 ? 15 : 14, v});
        } else if (name == "--filter-rect") {
            if (!take(value))
                return false;
            if (!parse_area(value, o.filter_rect))
                return bad("L,T,R,B with L<R and T<B, 0 to 32767");
            o.has_filter_rect = true;
        } else if (name == "--select-rect" || name == "--select-ellipse") {
            if (!take(value))
                return false;
            if (!parse_area(value, o.selection_area))
                return bad("L,T,R,B with L<R and T<B, 0 to 32767");
            o.selection =
                name == "--select-rect" ? HostOptions::Selection::rect : HostOptions::Selection::ellipse;
        } else if (name == "--foreground" || name == "--background" || name == "--color-answer") {
            if (!take(value))
                return false;
            unsigned char* target = name == "--foreground"   ? o.foreground
                                    : name == "--background" ? o.background
                                                             : o.color_answer;
            if (!parse_colour(value, target))
                return bad("R,G,B from 0 to 255");
            if (name == "--color-answer")
                o.has_color_answer = true;
        } else if (name == "--max-space") {
            if (!take(value))
                return false;
            if (!parse_int(value, 0, INT32_MAX, o.max_space))
                return bad("a number of bytes from 0 to 2147483647");
        } else if (name == "--omit") {
            if (!take(value))
                return false;
            std::stringstream ss(value);
            std::string item;
            while (std::getline(ss, item, ',')) {
                if (item == "abortProc")
                    o.omit_abort = true;
                else if (item == "progressProc")
                    o.omit_progress = true;
                else if (item == "advanceState")
                    o.omit_advance = true;
                else if (item == "displayPixels")
                    o.omit_display = true;
                else if (item == "colorServices")
                    o.omit_color = true;
                else
                    return bad("unknown callback '" + item + "'");
            }
        } else if (name == "--fail-advance") {
            if (!take(value))
                return false;
            size_t colon = value.find(':');
            if (!parse_int(value.substr(0, colon), 1, INT32_MAX, o.fail_advance_call))
                return bad("N[:CODE] with N from 1");
            if (colon != std::string::npos &&
                (!parse_int(value.substr(colon + 1), -32768, 32767, o.fail_advance_code) ||
                 o.fail_advance_code == 0))
                return bad("CODE must be a non-zero 16-bit number");
        } else if (name == "--cancel-after-progress") {
            if (!take(value))
                return false;
            if (!parse_int(value, 1, INT32_MAX, o.cancel_after_abort_calls))
                return bad("a count from 1");
        } else if (name.size() > 1 && name[0] == '-') {
            error = "unknown option " + name;
            return false;
        } else {
            positional.push_back(name);
        }
    }
    if (o.help)
        return true;
    if (o.has_filter_rect && o.selection != HostOptions::Selection::none) {
        error = "--filter-rect and a selection exclude each other (a selection sets filterRect)";
        return false;
    }
    const size_t needed = o.about ? 1 : 2;
    if (positional.size() < needed || positional.size() > (o.about ? 1u : 3u)) {
        error = o.about ? "--about takes the plug-in file only" : "expected PLUGIN.8bf INPUT [OUTPUT]";
        return false;
    }
    o.plugin = positional[0];
    if (positional.size() > 1)
        o.input = positional[1];
    if (positional.size() > 2)
        o.output = positional[2];
    return true;
}
