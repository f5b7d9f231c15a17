#include "win/support/stored_settings.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace wintest {

const char settings_key[] = "Software\\Orv-Tinctora\\Tinctora\\Cellumbra";

void delete_settings()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Orv-Tinctora");
}

void store_value(const char* name, const void* data, unsigned long size, const char* path)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size), ERROR_SUCCESS) << name;
    RegCloseKey(key);
}

} // namespace wintest
