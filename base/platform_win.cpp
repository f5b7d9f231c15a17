// Windows services behind base/platform.h.
#include <windows.h>

#include <cstring>

#include "base/platform.h"

namespace platform {

int show_message(intptr_t owner, const char* text, const char* caption, uint32_t style)
{
    // A host window that is gone would make the box fail unseen: show it unowned.
    HWND window = reinterpret_cast<HWND>(owner);
    if (window && !IsWindow(window)) window = nullptr;
    return MessageBoxA(window, text, caption, style);
}

intptr_t own_module()
{
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&own_module), &module);
    return reinterpret_cast<intptr_t>(module);
}

intptr_t active_window()
{
    return reinterpret_cast<intptr_t>(GetActiveWindow());
}

void host_executable_path(char* buf, size_t size)
{
    if (!buf || size == 0) return;
    DWORD n = GetModuleFileNameA(nullptr, buf, static_cast<DWORD>(size - 1));
    buf[n < size ? n : size - 1] = '\0';
}

double calendar_seconds()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    // 100 ns ticks since 1601 to seconds since 1970.
    return (static_cast<double>(t.QuadPart) - 116444736000000000.0) / 1e7;
}

int32_t time_of_day_ms()
{
    SYSTEMTIME st;
    GetSystemTime(&st);
    return st.wHour * 3600000 + st.wMinute * 60000 + st.wSecond * 1000 + st.wMilliseconds;
}

void* alloc_zeroed(size_t bytes)
{
    return LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, bytes);
}

void release(void* block)
{
    if (block) LocalFree(block);
}

} // namespace platform
