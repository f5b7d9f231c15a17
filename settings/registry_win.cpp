// The settings in the current user's registry. Every failure is silent: the
// plug-in then works with what it holds in memory.
#include <windows.h>

#include "runtime/definition.h"
#include "settings/settings.h"
#include "base/platform.h"
#include "runtime/run_state.h"

namespace {

const char slider_value_name[] = "SliderSettings";
const char colour_value_name[] = "CustomColors";

HKEY open_settings_key()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, settings_key.path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

void create_settings_key()
{
    char key_class[] = "Filter settings";
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, settings_key.path, 0, key_class, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, &disposition) == ERROR_SUCCESS)
        RegCloseKey(key);
}

void find_module_dir()
{
    // 250 characters asked at most; the terminator is ours, since a cut-off
    // name comes back without one on older systems.
    DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(platform::own_module()), settings_key.module_dir, 250);
    settings_key.module_dir[n <= 250 ? n : 250] = '\0';
    cut_at_last_backslash(settings_key.module_dir);
}

// Reads one value into a scratch buffer of the array's size, so that a failed
// query (too long, missing) can never leave half-written bytes in the array.
template <size_t N>
void read_stored_value(HKEY key, const char* name, unsigned char (&scratch)[N], void* target)
{
    DWORD type = REG_NONE;
    DWORD length = N;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, scratch, &length);
    apply_stored_value(target, N, status == ERROR_SUCCESS, type == REG_BINARY, scratch,
                       length <= N ? length : 0);
}

void write_stored_value(HKEY key, const char* name, const void* data, DWORD size)
{
    RegSetValueExA(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size);
}

} // namespace

void ensure_settings_key()
{
    if (settings_key.known == 1) return;
    find_module_dir();
    if (HKEY key = open_settings_key()) {
        RegCloseKey(key);
        settings_key.known = 1;
        return;
    }
    create_settings_key();
}

void load_settings()
{
    HKEY key = open_settings_key();
    if (!key) return;
    static_assert(sizeof control_values == 64, "SliderSettings is 64 bytes");
    static_assert(sizeof filter_definition.custom_colours == 32, "CustomColors is 32 bytes");
    unsigned char sliders[sizeof control_values];
    unsigned char colours[sizeof filter_definition.custom_colours];
    read_stored_value(key, slider_value_name, sliders, control_values);
    read_stored_value(key, colour_value_name, colours, filter_definition.custom_colours);
    RegCloseKey(key);
}

void save_settings()
{
    HKEY key = open_settings_key();
    if (!key) return;
    write_stored_value(key, slider_value_name, control_values, sizeof control_values);
    write_stored_value(key, colour_value_name, filter_definition.custom_colours,
                       sizeof filter_definition.custom_colours);
    RegCloseKey(key);
}
