// Settings kept between runs: the control values and the custom colours.
#pragma once

#include <cstdint>

// Slider k at index k-1; check box 1 at 15, check box 2 at 14.
extern int32_t control_values[16];

extern char settings_key_path[256];
extern char module_dir[256];
extern int32_t key_known;

// Formats settings_key_path from the definition's category and title.
void format_settings_key_path();
void ensure_settings_key();
void load_settings();
void save_settings();
