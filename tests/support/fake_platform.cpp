// The operating-system services of the portable code, recorded instead of
// performed, so unit tests can see every box shown and control the clocks.
#include "support/fake_platform.h"

#include <cstdlib>
#include <cstring>

#include "settings/settings.h"
#include "ui/dialog.h"

FakePlatform fake_platform;

void FakePlatform::reset()
{
    *this = FakePlatform{};
}

namespace platform {

int show_message(intptr_t owner, const char* text, const char* caption, uint32_t style)
{
    fake_platform.boxes.push_back({owner, text ? text : "", caption ? caption : "", style});
    return 1;
}

intptr_t active_window()
{
    return fake_platform.active_window;
}

void host_executable_path(char* buf, size_t size)
{
    if (!buf || size == 0) return;
    std::strncpy(buf, fake_platform.executable_path.c_str(), size - 1);
    buf[size - 1] = '\0';
}

double calendar_seconds()
{
    return fake_platform.calendar_seconds;
}

int32_t time_of_day_ms()
{
    return fake_platform.time_of_day_ms;
}

void* alloc_zeroed(size_t bytes)
{
    if (fake_platform.fail_allocations) return nullptr;
    ++fake_platform.allocations;
    return std::calloc(bytes ? bytes : 1, 1);
}

void release(void* block)
{
    std::free(block);
}

} // namespace platform

int32_t show_parameters_dialog(int32_t show_dialog, intptr_t parent_window)
{
    fake_platform.dialog_calls.push_back({show_dialog, parent_window});
    if (fake_platform.on_dialog) return fake_platform.on_dialog();
    return fake_platform.dialog_result;
}

void ensure_settings_key()
{
    ++fake_platform.ensure_key_calls;
}

void load_settings() {}
void save_settings() {}
