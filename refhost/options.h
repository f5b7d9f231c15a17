// The command line of filterhost.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Exit codes, documented in the help text; tests and scripts rely on them.
enum ExitCode : int {
    exit_ok = 0,
    exit_usage = 1,          // bad command line
    exit_picture = 2,        // picture unreadable or output not writable
    exit_plugin_error = 3,   // the plug-in answered a selector with an error code
    exit_cancelled = 4,      // the plug-in answered userCanceledErr (-128)
    exit_not_plugin = 5,     // the file is not a loadable filter plug-in
    exit_plugin_crashed = 6, // the plug-in raised an exception the host caught
    // 130: interrupted (Ctrl-C); exit_interrupted in refhost/system.h
};

struct Area {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// Real hosts offer about all the memory they can still use; more than this
// helps no picture the interface can carry.
constexpr int32_t max_space_cap = 1 << 30;

struct HostOptions {
    std::string plugin;
    std::string input;
    std::string output; // empty: the result is not written

    bool help = false;
    bool about = false;
    bool dialog = false;
    bool private_display = false; // windows may go to a display nobody sees
    int32_t planes = 0; // 1 grey, 3 RGB, 4 RGBA; 0 as the file has it (RGBA with transparency, else RGB)

    bool has_filter_rect = false;
    Area filter_rect;
    enum class Selection { none, rect, ellipse } selection = Selection::none;
    Area selection_area;

    bool has_max_space = false; // else what the process can still use, at most max_space_cap
    int32_t max_space = 0;
    bool high_buffers = false;     // image buffers above 2 GiB (32-bit) or 4 GiB (64-bit)
    bool keep_orientation = false; // filter as stored, keeping the EXIF orientation tag
    unsigned char foreground[3] = {0, 0, 0};
    unsigned char background[3] = {255, 255, 255};

    bool has_color_answer = false;
    unsigned char color_answer[3] = {0, 0, 0};

    // Callbacks to leave null in the record.
    bool omit_abort = false, omit_progress = false, omit_advance = false;
    bool omit_display = false, omit_color = false;

    int32_t fail_advance_call = 0; // 1-based; 0 = never
    int32_t fail_advance_code = -108;
    int32_t cancel_after_abort_calls = 0; // 0 = never

    // Stored settings to write before the run: (index into the sixteen
    // values, value).
    std::vector<std::pair<int32_t, int32_t>> settings;

    bool trace = false;
    bool quiet = false;
    bool times = false;     // how long each phase took, on standard error at the end
    bool no_filter = false; // read INPUT and write OUTPUT without a plug-in
    // How progress shows: a redrawn bar, or a line at the start and at the
    // end; automatic draws the bar when standard error is a console.
    enum class Progress { automatic, bar, lines } progress = Progress::automatic;

    // Not options: how filterhost found its surroundings.
    bool answer_boxes = false;      // nobody sees the plug-in's message boxes
    bool progress_terminal = false; // standard error is a console
};

// Fills `options` from the arguments (without the program name). Returns
// false with a message in `error` for a bad command line.
bool parse_options(const std::vector<std::string>& args, HostOptions& options, std::string& error);

extern const char* const help_text;
