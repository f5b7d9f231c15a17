#include "settings/settings.h"

#include <cstdio>
#include <cstring>

#include "runtime/definition.h"
#include "runtime/run_state.h"

SettingsKey settings_key;

void format_settings_key_path()
{
    // Bounded by the field sizes: the record is trusted, but a text that
    // fills its field has no terminator of its own.
    std::snprintf(settings_key.path, sizeof settings_key.path, "Software\\Orv-Tinctora\\%.*s\\%.*s",
                  static_cast<int>(sizeof filter_definition.category), filter_definition.category,
                  static_cast<int>(sizeof filter_definition.title), filter_definition.title);
}

void cut_at_last_backslash(char* path)
{
    if (!path) return;
    char* last = std::strrchr(path, '\\');
    if (last) *last = '\0';
}

void apply_stored_value(void* target, size_t target_size, bool read_ok, bool is_binary,
                        const void* data, size_t length)
{
    if (!target) return;
    if (!read_ok || !is_binary || !data) {
        std::memset(target, 0, target_size);
        return;
    }
    // A short value replaces its leading bytes only; a longer one never gets
    // here because the registry refuses it for the buffer size asked.
    std::memcpy(target, data, length < target_size ? length : target_size);
}
