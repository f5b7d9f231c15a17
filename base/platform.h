// The few services of the operating system that the portable shell and
// run-time need. The plug-in implements them with Windows calls (in *_win.cpp
// files); unit tests link a recording fake instead.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Message box styles, with the values Windows gives them.
enum : uint32_t {
    box_ok = 0x0,
    box_icon_error = 0x10,
    box_icon_exclamation = 0x30,
    box_icon_information = 0x40,
};

// The handle of the module this code is linked into: the plug-in's DLL, or
// a test's program. Its resources and its folder are found through it.
intptr_t own_module();

int show_message(intptr_t owner, const char* text, const char* caption, uint32_t style);
intptr_t active_window();
// Full path of the host program's executable; an empty string when unknown.
void host_executable_path(char* buf, size_t size);
// Seconds since 1970 with their fraction.
double calendar_seconds();
// Milliseconds since midnight, system time.
int32_t time_of_day_ms();
// Zero-filled local memory; null when it cannot be had.
void* alloc_zeroed(size_t bytes);
void release(void* block);

} // namespace platform
