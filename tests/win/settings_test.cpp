// The settings against the real registry of a Wine prefix: key creation, the
// rules for missing, short, long and mistyped values, full writes, and a key
// that the user may not open.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

// The test drives load_settings and save_settings directly, without a dialog.
#include "runtime/definition.h"
#include "runtime/run_state.h"
#include "settings/settings.h"

namespace {

const char root_path[] = "Software\\Orv-Tinctora";
const char key_path[] = "Software\\Orv-Tinctora\\Tinctora\\Cellumbra";

void set_raw_value(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

struct StoredValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<unsigned char> bytes;
};

StoredValue read_raw_value(const char* name)
{
    StoredValue v;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
        v.present = true;
        v.bytes.resize(size);
        RegQueryValueExA(key, name, nullptr, &v.type, v.bytes.data(), &size);
    }
    RegCloseKey(key);
    return v;
}

// A DACL without entries: nobody gets any access but the owner's right to
// change the DACL again.
void lock_key(bool locked)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key_path, 0, WRITE_DAC, &key), ERROR_SUCCESS);
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ACL empty;
    InitializeAcl(&empty, sizeof empty, ACL_REVISION);
    // Unlocked: a null DACL, which grants everything.
    SetSecurityDescriptorDacl(&sd, TRUE, locked ? &empty : nullptr, FALSE);
    ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
    RegCloseKey(key);
}

bool key_exists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

struct Settings : ::testing::Test {
    void SetUp() override
    {
        format_settings_key_path();
        unlock_if_present(); // a locked key left by an aborted run
        RegDeleteTreeA(HKEY_CURRENT_USER, root_path);
        settings_key.known = 0;
        fill_memory();
    }
    void TearDown() override { unlock_if_present(); }
    static void unlock_if_present()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key_path, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return;
        RegCloseKey(key);
        lock_key(false);
    }
    // Recognisable contents, so a value that is left alone can be told from
    // one that was replaced or zeroed.
    static void fill_memory()
    {
        for (int i = 0; i < 16; ++i) control_values[i] = 1000 + i;
        for (int i = 0; i < 8; ++i) filter_definition.custom_colours[i] = 0x00101010u * (i + 1);
    }
    static void expect_memory_untouched()
    {
        for (int i = 0; i < 16; ++i) EXPECT_EQ(control_values[i], 1000 + i) << i;
        for (int i = 0; i < 8; ++i) EXPECT_EQ(filter_definition.custom_colours[i], 0x00101010u * (i + 1)) << i;
    }
    static void create_key() { set_raw_value("Placeholder", REG_DWORD, "\0\0\0\0", 4); }
};

TEST_F(Settings, KeyPathComesFromCategoryAndTitle)
{
    EXPECT_STREQ(settings_key.path, key_path);
}

TEST_F(Settings, FirstStartCreatesTheKeyWithItsClassAndTheNextOneFindsIt)
{
    ensure_settings_key();
    ASSERT_TRUE(key_exists());
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key_path, 0, KEY_READ, &key), ERROR_SUCCESS);
    char key_class[64] = {};
    DWORD class_length = sizeof key_class;
    ASSERT_EQ(RegQueryInfoKeyA(key, key_class, &class_length, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_STREQ(key_class, "Filter settings");
    EXPECT_EQ(settings_key.known, 0); // only an open marks the key as known
    EXPECT_FALSE(read_raw_value("SliderSettings").present);

    ensure_settings_key();
    EXPECT_EQ(settings_key.known, 1);

    // The module's folder: this program's own, without the last backslash.
    char expected[MAX_PATH];
    GetModuleFileNameA(nullptr, expected, sizeof expected);
    *std::strrchr(expected, '\\') = '\0';
    EXPECT_STREQ(settings_key.module_dir, expected);
}

TEST_F(Settings, MissingValuesGiveZeros)
{
    create_key();
    load_settings();
    for (int32_t v : control_values) EXPECT_EQ(v, 0);
    for (uint32_t c : filter_definition.custom_colours) EXPECT_EQ(c, 0u);
}

TEST_F(Settings, ValuesOfAnotherTypeGiveZeros)
{
    const DWORD number = 55;
    set_raw_value("SliderSettings", REG_DWORD, &number, sizeof number);
    set_raw_value("CustomColors", REG_SZ, "red", 4);
    load_settings();
    for (int32_t v : control_values) EXPECT_EQ(v, 0);
    for (uint32_t c : filter_definition.custom_colours) EXPECT_EQ(c, 0u);
}

TEST_F(Settings, ValuesLongerThanTheirArraysGiveZerosNotTheirLeadingBytes)
{
    for (DWORD extra : {1u, 200u}) {
        fill_memory();
        std::vector<unsigned char> sliders(64 + extra, 0x7F), colours(32 + extra, 0x7F);
        set_raw_value("SliderSettings", REG_BINARY, sliders.data(), static_cast<DWORD>(sliders.size()));
        set_raw_value("CustomColors", REG_BINARY, colours.data(), static_cast<DWORD>(colours.size()));
        load_settings();
        for (int32_t v : control_values) EXPECT_EQ(v, 0) << extra;
        for (uint32_t c : filter_definition.custom_colours) EXPECT_EQ(c, 0u) << extra;
    }
}

TEST_F(Settings, ShortValuesReplaceOnlyTheirLeadingBytes)
{
    const int32_t two_sliders[2] = {42, -7};
    set_raw_value("SliderSettings", REG_BINARY, two_sliders, sizeof two_sliders);
    const uint32_t one_colour = 0x000000FF;
    set_raw_value("CustomColors", REG_BINARY, &one_colour, sizeof one_colour);
    load_settings();
    EXPECT_EQ(control_values[0], 42);
    EXPECT_EQ(control_values[1], -7);
    for (int i = 2; i < 16; ++i) EXPECT_EQ(control_values[i], 1000 + i) << i;
    EXPECT_EQ(filter_definition.custom_colours[0], 0x000000FFu);
    for (int i = 1; i < 8; ++i) EXPECT_EQ(filter_definition.custom_colours[i], 0x00101010u * (i + 1)) << i;

    // An empty binary value is a short one: nothing to replace.
    fill_memory();
    set_raw_value("SliderSettings", REG_BINARY, nullptr, 0);
    set_raw_value("CustomColors", REG_BINARY, nullptr, 0);
    load_settings();
    expect_memory_untouched();
}

TEST_F(Settings, SavedValuesAreWrittenInFullAndReadBackAsAnyInt32)
{
    create_key();
    const int32_t extremes[] = {INT32_MIN, -1, 0, 1, INT32_MAX};
    for (int i = 0; i < 16; ++i) control_values[i] = extremes[i % 5];
    control_values[15] = 1; // check box 1 checked
    control_values[14] = 0; // check box 2 not
    filter_definition.custom_colours[0] = 0x00D37C1E;
    save_settings();

    StoredValue sliders = read_raw_value("SliderSettings");
    StoredValue colours = read_raw_value("CustomColors");
    ASSERT_TRUE(sliders.present);
    ASSERT_TRUE(colours.present);
    EXPECT_EQ(sliders.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(colours.type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(sliders.bytes.size(), 64u);
    ASSERT_EQ(colours.bytes.size(), 32u);
    // Little-endian signed 32-bit, slider 1 first; check box 1 last.
    EXPECT_EQ(std::vector<unsigned char>(sliders.bytes.begin(), sliders.bytes.begin() + 4),
              (std::vector<unsigned char>{0x00, 0x00, 0x00, 0x80}));
    EXPECT_EQ(std::vector<unsigned char>(sliders.bytes.begin() + 56, sliders.bytes.end()),
              (std::vector<unsigned char>{0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(std::vector<unsigned char>(colours.bytes.begin(), colours.bytes.begin() + 4),
              (std::vector<unsigned char>{0x1E, 0x7C, 0xD3, 0x00}));

    int32_t saved[16];
    std::memcpy(saved, control_values, sizeof saved);
    fill_memory();
    load_settings();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(control_values[i], saved[i]) << i;
    EXPECT_EQ(filter_definition.custom_colours[0], 0x00D37C1Eu);
}

TEST_F(Settings, AKeyTheUserMayNotOpenLeavesMemoryAloneAndGetsNothingWritten)
{
    const int32_t stored[16] = {5, 6, 7};
    set_raw_value("SliderSettings", REG_BINARY, stored, sizeof stored);
    lock_key(true);
    ASSERT_FALSE(key_exists()) << "the lock must deny access for this test to mean anything";

    load_settings();
    expect_memory_untouched();

    save_settings();
    ensure_settings_key(); // neither opens nor creates it; says nothing
    EXPECT_EQ(settings_key.known, 0);

    lock_key(false);
    StoredValue sliders = read_raw_value("SliderSettings");
    ASSERT_TRUE(sliders.present);
    EXPECT_EQ(std::memcmp(sliders.bytes.data(), stored, sizeof stored), 0);
    EXPECT_FALSE(read_raw_value("CustomColors").present);
}

} // namespace
