// Placeholder: registry persistence comes with the settings work.
#include <windows.h>

#include "settings/settings.h"

void ensure_settings_key() {}
void load_settings() {}
void save_settings() {}
