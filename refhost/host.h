// The host of one filterhost run: the picture, the plug-in, the record it
// shares with the plug-in, the callbacks behind that record and the order in
// which the selectors are sent.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "refhost/area_server.h"
#include "refhost/options.h"
#include "refhost/picture.h"
#include "refhost/pipl.h"
#include "base/host_api.h"
#include "refhost/progress.h"
#include "refhost/system.h"

using PluginEntry = void(PS_CDECL*)(int16 selector, void* record, intptr_t* data, int16* result);

struct PluginModule {
    void* module = nullptr; // HMODULE
    PluginEntry entry = nullptr;
    PiplInfo pipl;
};

// The maxSpace the record offers: the option's, or what the process can
// still use, at most max_space_cap.
int32 offered_max_space(const HostOptions& options);

// Loads the module and finds its entry point through its PIPL resource.
bool load_plugin(const std::string& path, PluginModule& plugin, std::string& error);

// Writes the given control values into the plug-in's stored settings,
// keeping the bytes of every other control.
bool store_settings(const PiplInfo& pipl, const HostOptions& options, std::string& error);

// The host's own window: owner of the plug-in's dialogs, showing the picture.
intptr_t create_host_window(const Picture* picture, bool visible, const std::string& title);
void destroy_host_window(intptr_t window);
// Handles the messages waiting for this thread's windows.
void pump_window_messages();
// The system's colour chooser, owned by `owner` and preset with `rgb`; false
// when the person cancels it, else the chosen colour is in `rgb`.
bool choose_colour(intptr_t owner, unsigned char rgb[3]);

// Exits the process with a message when anything raises an exception the
// program does not handle, naming the selector that was running.
void install_crash_report();

// Where a run's time goes, in seconds (filterhost --times).
struct RunTimes {
    double reading = 0, preparing = 0, window = 0, filtering = 0, writing = 0;
    double selectors = 0; // inside the plug-in's entry point, callbacks included
    double callbacks = 0; // inside the host's callbacks
    double progress = 0;  // of which abortProc and progressProc
    double start = 0;     // the plug-in's own part of the start selector: without its callbacks
};

class Host {
public:
    Host(const HostOptions& options, const PluginModule& plugin);
    ~Host();

    // Loads the picture and builds the selection. Returns an exit code.
    int prepare_picture();
    // Sends the selectors in a host's order and writes the result. Returns an exit code.
    int run();
    int run_about();
    // --no-filter: writes the picture as read.
    int run_no_filter();

    // The callbacks of the record.
    Boolean abort_proc();
    void progress_proc(int32 done, int32 total);
    OSErr advance_state();
    OSErr display_pixels(const PSPixelMap* source, const VRect* area, int32 row, int32 col, void* context);
    OSErr color_services(ColorServicesInfo* info);

private:
    void fill_record();
    int16 call_selector(int16 selector, void* record);
    int report_result(int16 selector, int16 result);
    OSErr deliver_for_continue();
    void trace_request(const char* via, int32 number, const FilterRecord& requested, OSErr result);
    void finish_progress(bool succeeded);
    int interrupted_exit();
    void note_callback(); // counts callbacks made on another thread than the host's
    void print_times() const;
    // Writes `picture` to the output, saying the phase for a large one; an exit code.
    int write_picture(const Picture& picture);
    double now() const; // seconds, when times are kept
    friend class CallbackTime;

    const HostOptions& options_;
    const PluginModule& plugin_;
    Picture source_;
    Picture destination_;
    Picture selection_;
    bool has_selection_ = false;
    Rect16 filter_rect_{};
    std::unique_ptr<AreaServer> areas_;
    // Zeroed, and as long as the hosts of this architecture make it (452 bytes
    // in 32 bits, 556 in 64), whatever the plug-in reads.
    FilterRecord record_{};
    static_assert(sizeof(FilterRecord) >= (sizeof(void*) == 8 ? 556 : 452), "FilterRecord size");
    PlatformData platform_{};
    intptr_t window_ = 0;
    intptr_t data_ = 0;

    int32 advance_calls_ = 0;
    int32 abort_calls_ = 0;
    int32 progress_calls_ = 0;
    int32 last_done_ = 0, last_total_ = 0;
    int32 display_calls_ = 0;
    std::chrono::steady_clock::time_point last_pump_{};
    int32 color_calls_ = 0;
    uint32_t host_thread_ = 0;
    int32 foreign_thread_calls_ = 0;
    int threads_before_ = 0, threads_during_ = 0; // of the start selector, when traced
    ProgressReport progress_;
    RunTimes times_;
    AreaTimes area_times_;
    std::unique_ptr<MessageBoxAnswerer> answerer_;
};
