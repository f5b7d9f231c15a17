// Settings kept between runs: the control values and the custom colours.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the settings live: the registry key of the filter, and the folder of
// the module (the working folder of the help target).
struct SettingsKey {
    char path[256];
    char module_dir[256];
    int32_t known; // opened once; no need to look again
};
extern SettingsKey settings_key;

// Formats settings_key_path from the definition's category and title.
void format_settings_key_path();
void ensure_settings_key();
void load_settings();
void save_settings();

// The portable rules behind the registry calls.
// Cuts a file name at its last backslash (the backslash itself goes); a name
// without one stays whole.
void cut_at_last_backslash(char* path);
// Puts the outcome of reading one stored value into its in-memory array: a
// failed or mistyped read leaves the array all zeros; a good read replaces
// only the leading bytes it delivered.
void apply_stored_value(void* target, size_t target_size, bool read_ok, bool is_binary,
                        const void* data, size_t length);
