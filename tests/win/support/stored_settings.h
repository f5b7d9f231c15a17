// The plug-in's stored settings in the registry of the test's Wine prefix,
// set up before a run.
#pragma once

namespace wintest {

extern const char settings_key[]; // the product's key below HKEY_CURRENT_USER

// Removes the settings of every filter of the maker.
void delete_settings();
// Stores a REG_BINARY value, as an earlier run would have left it.
void store_value(const char* name, const void* data, unsigned long size, const char* path = settings_key);

} // namespace wintest
