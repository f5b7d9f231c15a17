#include "settings/settings.h"

#include <cstdio>

#include "filter/definition.h"

int32_t control_values[16];
char settings_key_path[256];
char module_dir[256];
int32_t key_known;

void format_settings_key_path()
{
    std::snprintf(settings_key_path, sizeof settings_key_path, "Software\\Orv-Tinctora\\%s\\%s",
                  filter_definition.category, filter_definition.title);
}
