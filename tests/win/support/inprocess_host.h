// A small host inside the test process, for tests that meet the real
// parameters dialog: the plug-in is loaded with LoadLibrary, a FilterRecord
// serves every requested area from a three-plane picture, displayPixels draws
// what it is given and colorServices answers as a user who picks pure red.
// A thread of the test plays the user while ENTRYPOINT waits in the dialog.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/host_api.h"
#include "win/support/raw_records.h"

namespace wintest {

typedef void(__cdecl* EntryPoint)(int16 selector, void* record, intptr_t* data, int16* result);

// One call of displayPixels: when it came, and how many areas had been
// asked for by then (two displays of one paint: the picture, then its cells).
struct Display {
    DWORD at;
    int paint;
};

class InProcessHost {
public:
    int width = 0, height = 0;
    std::vector<unsigned char> source; // three planes interleaved, rows packed
    std::vector<unsigned char> result; // the source with what full-rate requests wrote back
    FilterRecord record{};
    PlatformData platform{};
    // Bytes past the end of every delivered row, so that rows are found by
    // rowBytes only.
    int in_padding = 0, out_padding = 0;
    // Non-zero: advanceState fails with this code for every area asked for.
    std::atomic<int> fail_code{0};
    int colour_calls = 0;
    ColorServicesInfo colour_seen{};
    std::string prompt_seen; // the picker's prompt as given, length byte first
    // What advanceState leaves in maskData.
    void* mask_data = nullptr;
    // The first displayPixels and colorServices arguments as raw memory.
    RawRecords raw;

    HMODULE plugin = nullptr;
    EntryPoint entry = nullptr;

    // A new picture of `width` x `height`, `paint` giving each pixel's
    // colour, and a fresh record to serve it with; rows unpadded, nothing
    // recorded yet.
    void reset(int width, int height, const std::function<void(int x, int y, unsigned char* rgb)>& paint);

    // A fresh load each time: what the plug-in keeps lives as long as the module.
    void load(const char* file);
    void unload();

    // One filter command: parameters (when asked for), prepare, start,
    // finish. `user` runs on a thread of its own while start waits; whatever
    // dialog captioned `caption` is still open after it gets cancelled, so a
    // failing check cannot hang the run. `done` turns true when start returns.
    int16 run_command(bool parameters, const char* caption,
                      const std::function<void(const std::atomic<bool>& done)>& user);

    // What the prompt says, without its length byte.
    std::string prompt_text() const;
    // The area of the last request that asked for one.
    Rect16 last_request();
    // Times at which filtered renderings were shown (the second display of a paint).
    std::vector<DWORD> filtered_since(DWORD since);
    std::vector<Display> displays_copy();

private:
    void serve(const Rect16& r, int lo, int hi, int factor, int padding, std::vector<unsigned char>& buffer,
               void*& data, int32& row_bytes);
    void take_back_output();

    static OSErr PS_CDECL advance_state();
    static OSErr PS_CDECL display_pixels(const PSPixelMap* source, const VRect* area, int32 row, int32 column,
                                         void* context);
    static OSErr PS_CDECL colour_services(ColorServicesInfo* info);

    std::vector<unsigned char> in_buffer_, out_buffer_;
    Rect16 served_out_{};
    int served_planes_ = 0, served_factor_ = 0;
    int32 served_out_row_bytes_ = 0;
    std::mutex lock_; // the user's thread reads what the dialog's thread records
    std::vector<Rect16> requests_;
    std::vector<Display> displays_;
};

// The one host of this process: the callbacks a host hands a plug-in carry
// no context of their own.
InProcessHost& in_process_host();

} // namespace wintest
