#include "refhost/options.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

const char* const help_text =
    "Usage: filterhost [options] PLUGIN.8bf INPUT [OUTPUT]\n"
    "       filterhost --about PLUGIN.8bf\n"
    "       filterhost --no-filter [options] INPUT OUTPUT\n"
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
    "                           shows its dialog; the host window is shown. Needs a\n"
    "                           display a person sees\n"
    "  --private-display        allow --dialog and --about on a display nobody sees\n"
    "                           (tests that drive the windows themselves)\n"
    "  --about                  send only the about selector\n"
    "  --no-filter              read INPUT and write OUTPUT without a plug-in (how\n"
    "                           long reading and writing take alone)\n"
    "  --settings SIZE          same as --set-slider 1=SIZE\n"
    "  --set-slider K=V         store V for slider K (1-8) before the run, the way a\n"
    "                           host repeats a filter with its last settings\n"
    "  --set-check K=V          store V (0 or 1) for check box K (1 or 2)\n"
    "                           Settings go to the plug-in's registry value\n"
    "                           HKCU\\Software\\Orv-Tinctora\\<category>\\<title>\\SliderSettings\n"
    "                           (64 bytes; bytes of other controls are kept)\n"
    "\n"
    "The picture:\n"
    "  --rgb                    3 planes, RGB mode (default for pictures without\n"
    "                           transparency)\n"
    "  --rgba                   4 planes, RGB mode with transparency (default for\n"
    "                           pictures with transparency)\n"
    "  --gray                   1 plane, grayscale mode (imageMode 1)\n"
    "  --filter-rect L,T,R,B    filter only this part (right and bottom exclusive)\n"
    "  --select-rect L,T,R,B    a rectangular selection: filterRect is its bounds\n"
    "                           and maskData is 255 inside, 0 outside\n"
    "  --select-ellipse L,T,R,B an elliptical selection inside that box\n"
    "  --foreground R,G,B       foreground colour (default 0,0,0)\n"
    "  --background R,G,B       background colour (default 255,255,255)\n"
    "  --max-space BYTES        maxSpace (default: the memory the process can still\n"
    "                           use, at most 1073741824, as real hosts offer)\n"
    "  --high-buffers           place the image buffers top-down, above 2 GiB in\n"
    "                           the 32-bit host and above 4 GiB in the 64-bit one\n"
    "  --keep-orientation       filter a photo as stored and keep its EXIF\n"
    "                           orientation tag (default: turn it upright as the\n"
    "                           tag says, as editors do, and set the tag to 1)\n"
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
    "  --quiet                  no progress on standard error\n"
    "  --times                  at the end, how long each phase took on standard\n"
    "                           error in ms: reading, filtering and its parts\n"
    "                           (the plug-in's own time, serving input and output\n"
    "                           areas, taking output back, allocating, first\n"
    "                           touch, freeing, progress), writing\n"
    "  --progress bar|lines     a bar redrawn in place (default on a console), or a\n"
    "                           line at the start and one at the end (default\n"
    "                           otherwise; a launcher that sees a terminal where\n"
    "                           Windows sees none asks for bar)\n"
    "  -h, --help               this text\n"
    "  --                       what follows are file names, even when they begin\n"
    "                           with '-'\n"
    "\n"
    "Message boxes of the plug-in are answered by the host with their default\n"
    "button, and their caption and text printed, unless --dialog or --about runs\n"
    "on a display a person sees; there a colour request keeps the colour\n"
    "offered unless --color-answer is given. The progress bar is drawn on a console,\n"
    "below a line that names the picture; in a log there is a line at the start\n"
    "and one at the end. A picture of 8 megapixels or more shows its reading (a\n"
    "bar) and its writing (a line) too. The output is written\n"
    "to a new file beside OUTPUT that replaces it only when whole; OUTPUT may be\n"
    "INPUT. Runs of one plug-in wait for each other, since its stored settings\n"
    "are shared.\n"
    "\n"
    "Areas are delivered exactly as requested, cut to the picture unless the\n"
    "plug-in asks for padding; at a sampling rate of N (inputRate, maskRate in\n"
    "16.16, whole part) pixel (x,y) is picture pixel (x*N,y*N). Output delivered\n"
    "at a rate other than 1 never reaches the picture.\n"
    "\n"
    "Exit codes: 0 done; 1 bad command line (or --dialog without a display);\n"
    "2 picture unreadable or not writable; 3 the plug-in returned an error code;\n"
    "4 the plug-in was cancelled (-128); 5 not a loadable filter plug-in; 6 the\n"
    "plug-in crashed; 130 interrupted (Ctrl-C), nothing written.\n";

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

namespace {

// One row an option: its name, whether it takes a value, and what it does
// with it. A handler answers null when the value is good, else what a good
// value looks like.
struct OptionRow {
    const char* name;
    bool takes_value;
    const char* (*apply)(HostOptions& o, const std::string& name, const std::string& value);
};

const char* parse_omitted(HostOptions& o, const std::string& value)
{
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
            return "abortProc, progressProc, advanceState, displayPixels or colorServices";
    }
    return nullptr;
}

const char* parse_failure(HostOptions& o, const std::string& value)
{
    const size_t colon = value.find(':');
    if (!parse_int(value.substr(0, colon), 1, INT32_MAX, o.fail_advance_call))
        return "N[:CODE] with N from 1";
    if (colon != std::string::npos &&
        (!parse_int(value.substr(colon + 1), -32768, 32767, o.fail_advance_code) || o.fail_advance_code == 0))
        return "CODE must be a non-zero 16-bit number";
    return nullptr;
}

using H = HostOptions;
const char* const area_form = "L,T,R,B with L<R and T<B, 0 to 32767";
const char* const colour_form = "R,G,B from 0 to 255";

const OptionRow option_rows[] = {
    {"--help", false, [](H& o, auto&, auto&) -> const char* { o.help = true; return nullptr; }},
    {"-h", false, [](H& o, auto&, auto&) -> const char* { o.help = true; return nullptr; }},
    {"--about", false, [](H& o, auto&, auto&) -> const char* { o.about = true; return nullptr; }},
    {"--dialog", false, [](H& o, auto&, auto&) -> const char* { o.dialog = true; return nullptr; }},
    {"--private-display", false, [](H& o, auto&, auto&) -> const char* { o.private_display = true; return nullptr; }},
    {"--rgb", false, [](H& o, auto&, auto&) -> const char* { o.planes = 3; return nullptr; }},
    {"--rgba", false, [](H& o, auto&, auto&) -> const char* { o.planes = 4; return nullptr; }},
    {"--gray", false, [](H& o, auto&, auto&) -> const char* { o.planes = 1; return nullptr; }},
    {"--trace", false, [](H& o, auto&, auto&) -> const char* { o.trace = true; return nullptr; }},
    {"--high-buffers", false, [](H& o, auto&, auto&) -> const char* { o.high_buffers = true; return nullptr; }},
    {"--keep-orientation", false, [](H& o, auto&, auto&) -> const char* { o.keep_orientation = true; return nullptr; }},
    {"--quiet", false, [](H& o, auto&, auto&) -> const char* { o.quiet = true; return nullptr; }},
    {"--times", false, [](H& o, auto&, auto&) -> const char* { o.times = true; return nullptr; }},
    {"--no-filter", false, [](H& o, auto&, auto&) -> const char* { o.no_filter = true; return nullptr; }},
    {"--no-color-services", false, [](H& o, auto&, auto&) -> const char* { o.omit_color = true; return nullptr; }},
    {"--settings", true,
     [](H& o, auto&, const std::string& v) -> const char* {
         int32_t size = 0;
         if (!parse_int(v, INT32_MIN, INT32_MAX, size)) return "a whole number";
         o.settings.push_back({0, size});
         return nullptr;
     }},
    {"--set-slider", true,
     [](H& o, auto&, const std::string& v) -> const char* {
         int32_t k = 0, value = 0;
         if (!parse_assignment(v, 1, 8, k, value)) return "K=V with K from 1 to 8";
         o.settings.push_back({k - 1, value});
         return nullptr;
     }},
    {"--set-check", true,
     [](H& o, auto&, const std::string& v) -> const char* {
         int32_t k = 0, value = 0;
         if (!parse_assignment(v, 1, 2, k, value) || (value != 0 && value != 1))
             return "K=V with K 1 or 2 and V 0 or 1";
         // Check box 1 is the last of the sixteen values, check box 2 the one before.
         o.settings.push_back({k == 1 ? 15 : 14, value});
         return nullptr;
     }},
    {"--filter-rect", true,
     [](H& o, auto&, const std::string& v) -> const char* {
         if (!parse_area(v, o.filter_rect)) return area_form;
         o.has_filter_rect = true;
         return nullptr;
     }},
    {"--select-rect", true,
     [](H& o, auto&, const std::string& v) -> const char* {
         if (!parse_area(v, o.selection_area)) return area_form;
         o.selection = H::Selection::rect;
         return nullptr;
     }},
    {"--select-ellipse", true,
     [](H& o, auto&, const std::string& v) -> const char* {
         if (!parse_area(v, o.selection_area)) return area_form;
         o.selection = H::Selection::ellipse;
         return nullptr;
     }},
    {"--foreground", true,
     [](H& o, auto&, const std::string& v) -> const char* { return parse_colour(v, o.foreground) ? nullptr : colour_form; }},
    {"--background", true,
     [](H& o, auto&, const std::string& v) -> const char* { return parse_colour(v, o.background) ? nullptr : colour_form; }},
    {"--color-answer", true,
     [](H& o, auto&, const std::string& v) -> const char* {
         if (!parse_colour(v, o.color_answer)) return colour_form;
         o.has_color_answer = true;
         return nullptr;
     }},
    {"--max-space", true,
     [](H& o, auto&, const std::string& v) -> const char* {
         if (!parse_int(v, 0, INT32_MAX, o.max_space)) return "a number of bytes from 0 to 2147483647";
         o.has_max_space = true;
         return nullptr;
     }},
    {"--progress", true,
     [](H& o, auto&, const std::string& v) -> const char* {
         if (v != "bar" && v != "lines") return "bar or lines";
         o.progress = v == "bar" ? H::Progress::bar : H::Progress::lines;
         return nullptr;
     }},
    {"--omit", true, [](H& o, auto&, const std::string& v) { return parse_omitted(o, v); }},
    {"--fail-advance", true, [](H& o, auto&, const std::string& v) { return parse_failure(o, v); }},
    {"--cancel-after-progress", true,
     [](H& o, auto&, const std::string& v) -> const char* {
         return parse_int(v, 1, INT32_MAX, o.cancel_after_abort_calls) ? nullptr : "a count from 1";
     }},
};

const OptionRow* find_option(const std::string& name)
{
    for (const OptionRow& row : option_rows)
        if (name == row.name)
            return &row;
    return nullptr;
}

} // namespace

bool parse_options(const std::vector<std::string>& args, HostOptions& o, std::string& error)
{
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "--") {
            positional.insert(positional.end(), args.begin() + long(i) + 1, args.end());
            break;
        }
        std::string value;
        bool has_inline = false;
        if (name.size() > 2 && name.compare(0, 2, "--") == 0) {
            const size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
                has_inline = true;
            }
        }
        const OptionRow* row = find_option(name);
        if (!row) {
            if (name.size() > 1 && name[0] == '-') {
                error = "unknown option " + name;
                // Most likely a file, such as "-1.png": a person needs the way round.
                if (name.find_first_of("./\\") != std::string::npos)
                    error += " (for a file whose name begins with '-', put -- before the file names, or write "
                             ".\\" + name + ")";
                return false;
            }
            positional.push_back(name);
            continue;
        }
        if (!row->takes_value && has_inline) {
            error = "option " + name + " takes no value";
            return false;
        }
        if (row->takes_value && !has_inline) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (const char* wanted = row->apply(o, name, value)) {
            error = "bad value '" + value + "' for " + name + ": " + wanted;
            return false;
        }
    }
    if (o.help)
        return true;
    if (o.has_filter_rect && o.selection != HostOptions::Selection::none) {
        error = "--filter-rect and a selection exclude each other (a selection sets filterRect)";
        return false;
    }
    if (o.no_filter) {
        if (o.about || o.dialog) {
            error = "--no-filter runs no plug-in: it excludes --about and --dialog";
            return false;
        }
        if (positional.size() != 2) {
            error = "--no-filter takes INPUT OUTPUT";
            return false;
        }
        o.input = positional[0];
        o.output = positional[1];
        return true;
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
