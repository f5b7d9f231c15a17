// The library's Windows boundary: the exported entry point and the attach and
// detach notifications. Everything they do is forwarded to plain functions.
#include <windows.h>
#include <commctrl.h>

#include "runtime/kernel.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "ui/preview.h"

extern "C" __declspec(dllexport) void __cdecl ENTRYPOINT(int16 selector, void* record, intptr_t* data,
                                                         int16* result)
{
    dispatch_selector(selector, record, data, result);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        InitCommonControls();
        register_preview_class(reinterpret_cast<intptr_t>(instance)); // failure only means no preview
        bind_filter_blocks();
        format_settings_key_path();
    } else if (reason == DLL_PROCESS_DETACH) {
        unregister_preview_class(reinterpret_cast<intptr_t>(instance));
    }
    return TRUE;
}
