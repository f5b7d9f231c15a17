// The built plug-in as a host sees it: its exports, its imports, its property
// list, and the selectors answered through the real ENTRYPOINT.
#include <windows.h>
#include <winver.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/host_api.h"
#include "win/support/wait.h"

namespace {

const char* const plugin_file = "Cellumbra.8bf";

std::vector<unsigned char> read_file(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// What a loader and a host check first in each build: the PE machine, the
// optional header's kind, and the property naming the entry point.
#ifdef _WIN64
const WORD expected_machine = 0x8664;
const WORD expected_magic = 0x20b; // PE32+
const char* const entry_key = "8664";
#else
const WORD expected_machine = 0x14c;
const WORD expected_magic = 0x10b; // PE32
const char* const entry_key = "wx86";
#endif

// The property list built here from its description, independently of the
// .rc. The two builds' lists differ only in the entry point's key.
std::vector<unsigned char> expected_pipl()
{
    std::vector<unsigned char> d;
    auto u16 = [&](uint16_t v) { d.push_back(v & 0xFF); d.push_back(v >> 8); };
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) d.push_back((v >> (8 * i)) & 0xFF); };
    auto code = [&](const char* c) { for (int i = 3; i >= 0; --i) d.push_back(c[i]); };
    auto prop = [&](const char* key, uint32_t len) { code("8BIM"); code(key); u32(0); u32(len); };
    auto pstring24 = [&](const char* s) {
        size_t n = std::strlen(s);
        d.push_back(static_cast<unsigned char>(n));
        d.insert(d.end(), s, s + n);
        d.resize(d.size() + 24 - 1 - n, 0);
    };
    u16(1); u32(0); u32(7);
    prop("kind", 4); code("8BFM");
    prop("name", 24); pstring24("Cellumbra");
    prop("catg", 24); pstring24("Tinctora");
    prop("vers", 4); u32(0x00040000);
    prop(entry_key, 12); for (char c : std::string("ENTRYPOINT\0\0", 12)) d.push_back(c);
    prop("mode", 4); d.push_back(0x50); d.push_back(0); d.push_back(0); d.push_back(0);
    prop("fici", 28); for (int i = 0; i < 7; ++i) { d.push_back(1); d.push_back(1); d.push_back(7); d.push_back(0); }
    return d;
}

TEST(PluginFile, CarriesTheExactPropertyList)
{
    HMODULE data = LoadLibraryExA(plugin_file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    HRSRC res = FindResourceA(data, MAKEINTRESOURCEA(16000), "PIPL");
    ASSERT_NE(res, nullptr);
    DWORD size = SizeofResource(data, res);
    const unsigned char* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(data, res)));
    ASSERT_NE(bytes, nullptr);
    std::vector<unsigned char> actual(bytes, bytes + size);
    EXPECT_EQ(size, 222u);
    std::vector<unsigned char> expected = expected_pipl();
    ASSERT_EQ(expected.size(), 222u);
    EXPECT_EQ(actual, expected);
    FreeLibrary(data);
}

// Reads the PE headers of the file itself: what a loader would see. PE32 and
// PE32+ share the file header; their optional headers differ in size.
struct PeImage {
    std::vector<unsigned char> file;
    const IMAGE_NT_HEADERS32* nt = nullptr; // the file header and, for PE32, the optional header
    const IMAGE_NT_HEADERS64* nt64 = nullptr; // set for PE32+
    const IMAGE_SECTION_HEADER* sections = nullptr;

    explicit PeImage(const char* path) : file(read_file(path))
    {
        if (file.size() < sizeof(IMAGE_DOS_HEADER)) return;
        auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
        if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
        if (size_t(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64) > file.size()) return;
        nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(file.data() + dos->e_lfanew);
        if (nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            nt64 = reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt);
        sections = IMAGE_FIRST_SECTION(nt);
    }
    const unsigned char* at_rva(DWORD rva) const
    {
        for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return file.data() + s.PointerToRawData + (rva - s.VirtualAddress);
        }
        return nullptr;
    }
    const IMAGE_DATA_DIRECTORY& directory(int index) const
    {
        return nt64 ? nt64->OptionalHeader.DataDirectory[index] : nt->OptionalHeader.DataDirectory[index];
    }
    WORD subsystem() const { return nt64 ? nt64->OptionalHeader.Subsystem : nt->OptionalHeader.Subsystem; }
    // Names longer than eight bytes ("/4") stand in the string table behind the symbols.
    std::string section_name(int index) const
    {
        const char* raw = reinterpret_cast<const char*>(sections[index].Name);
        std::string name(raw, strnlen(raw, IMAGE_SIZEOF_SHORT_NAME));
        if (name.size() < 2 || name[0] != '/') return name;
        const size_t at = nt->FileHeader.PointerToSymbolTable + nt->FileHeader.NumberOfSymbols * 18 +
                          std::strtoul(name.c_str() + 1, nullptr, 10);
        if (at >= file.size()) return name;
        return std::string(reinterpret_cast<const char*>(file.data() + at), strnlen(reinterpret_cast<const char*>(file.data() + at), file.size() - at));
    }
};

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A 64-bit host refuses a 32-bit DLL and the other way round.
TEST(PluginFile, IsADllOfItsBuildsArchitectureThatImportsOnlyWindowsOwnLibraries)
{
    PeImage pe(plugin_file);
    ASSERT_NE(pe.nt, nullptr);
    EXPECT_EQ(pe.nt->FileHeader.Machine, expected_machine);
    EXPECT_EQ(pe.nt->OptionalHeader.Magic, expected_magic);
    EXPECT_TRUE(pe.nt->FileHeader.Characteristics & IMAGE_FILE_DLL);

    const std::vector<std::string> windows_own = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll",
                                                   "advapi32.dll", "shell32.dll", "msvcrt.dll", "comdlg32.dll"};
    const auto& dir = pe.directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    auto desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(pe.at_rva(dir.VirtualAddress));
    ASSERT_NE(desc, nullptr);
    std::vector<std::string> imported;
    for (; desc->Name; ++desc) imported.push_back(lower(reinterpret_cast<const char*>(pe.at_rva(desc->Name))));
    EXPECT_FALSE(imported.empty());
    for (const auto& name : imported)
        EXPECT_NE(std::find(windows_own.begin(), windows_own.end(), name), windows_own.end())
            << name << " is not part of Windows";
}

// What ships: a GUI library (it has windows of its own) without symbols or
// debug information, which stay beside the build and are found through the
// debug link, and without a path of the machine that built it.
TEST(PluginFile, IsTheStrippedGuiLibraryThatShips)
{
    PeImage pe(plugin_file);
    ASSERT_NE(pe.nt, nullptr);
    EXPECT_EQ(pe.subsystem(), IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(pe.nt->FileHeader.NumberOfSymbols, 0u);
    std::vector<std::string> names;
    for (int i = 0; i < pe.nt->FileHeader.NumberOfSections; ++i) names.push_back(pe.section_name(i));
    for (const auto& name : names) EXPECT_NE(name.rfind(".debug", 0), 0u) << name;
    EXPECT_NE(std::find(names.begin(), names.end(), ".gnu_debuglink"), names.end());
    EXPECT_EQ(pe.nt->FileHeader.TimeDateStamp, 0u) << "a link time makes every build differ";

    const std::string text(pe.file.begin(), pe.file.end());
    for (const char* folder : {CELLUMBRA_SOURCE_DIR, CELLUMBRA_BINARY_DIR})
        EXPECT_EQ(text.find(folder), std::string::npos) << folder;
}

TEST(PluginFile, ExportsOnlyTheUndecoratedEntryPoint)
{
    PeImage pe(plugin_file);
    ASSERT_NE(pe.nt, nullptr);
    const auto& dir = pe.directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(pe.at_rva(dir.VirtualAddress));
    ASSERT_NE(exports, nullptr);
    ASSERT_EQ(exports->NumberOfNames, 1u);
    auto names = reinterpret_cast<const DWORD*>(pe.at_rva(exports->AddressOfNames));
    EXPECT_STREQ(reinterpret_cast<const char*>(pe.at_rva(names[0])), "ENTRYPOINT");
}

// What the file's properties in Windows and a host's plug-in list show.
TEST(PluginFile, CarriesItsVersionAndNames)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(plugin_file, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(plugin_file, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    char numeric[64];
    std::snprintf(numeric, sizeof numeric, "%lu.%lu.%lu", fixed->dwFileVersionMS >> 16,
                  fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16);
    EXPECT_EQ(std::string(numeric), CELLUMBRA_VERSION_TEXT);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_DLL));
    auto text = [&](const char* name) {
        char* value = nullptr;
        UINT chars = 0;
        const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars) || !value)
            return std::string("(missing)");
        return std::string(value);
    };
    EXPECT_EQ(text("FileVersion"), CELLUMBRA_VERSION_TEXT);
    EXPECT_EQ(text("ProductVersion"), CELLUMBRA_VERSION_TEXT);
    EXPECT_EQ(text("ProductName"), "Cellumbra");
    EXPECT_EQ(text("FileDescription").rfind("Cellumbra ", 0), 0u) << text("FileDescription");
    EXPECT_NE(text("FileDescription").find(sizeof(void*) == 8 ? "64-bit" : "32-bit"), std::string::npos);
    // The rights holder by the one name the About box and the licence use.
    EXPECT_EQ(text("CompanyName"), "the Cellumbra authors");
    EXPECT_NE(text("LegalCopyright").find("the Cellumbra authors"), std::string::npos) << text("LegalCopyright");
}

using EntryPoint = void(__cdecl*)(int16 selector, void* record, intptr_t* data, int16* result);

struct LoadedPlugin : ::testing::Test {
    HMODULE module = nullptr;
    EntryPoint entry = nullptr;
    void SetUp() override
    {
        module = LoadLibraryA(plugin_file);
        ASSERT_NE(module, nullptr);
        entry = reinterpret_cast<EntryPoint>(GetProcAddress(module, "ENTRYPOINT"));
        ASSERT_NE(entry, nullptr);
    }
    void TearDown() override
    {
        if (module) FreeLibrary(module);
    }
};

TEST_F(LoadedPlugin, RegistersThePreviewWindowClassWhileLoaded)
{
    WNDCLASSA wc;
    EXPECT_TRUE(GetClassInfoA(module, "FilterPreview", &wc));
    FreeLibrary(module);
    module = nullptr;
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "FilterPreview", &wc));
}

TEST_F(LoadedPlugin, SelectorsOtherThanStartAnswerWithoutTouchingTheRecord)
{
    FilterRecord record{};
    std::memset(&record, 0x5A, sizeof record);
    FilterRecord before = record;
    intptr_t data = 0;
    int16 result = 99;

    entry(filterSelectorParameters, &record, &data, &result);
    EXPECT_EQ(result, 0);
    result = 99;
    entry(filterSelectorPrepare, &record, &data, &result);
    EXPECT_EQ(result, 0);
    EXPECT_NE(data, 0);
    intptr_t kept = 1234;
    entry(filterSelectorPrepare, &record, &kept, &result);
    EXPECT_EQ(kept, 1234);
    for (int16 selector : {int16(4), int16(5), int16(6), int16(200)}) {
        result = 99;
        entry(selector, &record, &data, &result);
        EXPECT_EQ(result, 0) << selector;
    }
    EXPECT_EQ(std::memcmp(&before, &record, sizeof record), 0);
}

// Reads the About box's text the way a user would, then closes it.
TEST_F(LoadedPlugin, AboutShowsTitleAndNoticeAndAnswersSuccess)
{
    std::atomic<bool> done{false};
    std::string seen_text;
    bool owned = true;
    std::thread closer([&] {
        wintest::wait_until([&] {
            HWND box = FindWindowA(nullptr, "About...");
            if (box) {
                owned = GetWindow(box, GW_OWNER) != nullptr;
                char text[600] = {};
                HWND label = GetDlgItem(box, 0xFFFF);
                if (label) GetWindowTextA(label, text, sizeof text);
                seen_text = text;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            }
            return box || done;
        }, 10000);
    });
    int16 result = 1; // as a host that reports anything else than 0 as an error presets it
    intptr_t data = 0;
    entry(filterSelectorAbout, nullptr, &data, &result);
    done = true;
    closer.join();
    EXPECT_EQ(result, noErr);
    EXPECT_FALSE(owned) << "the about selector's box has no owner";
    // The title, the notice line (not repeating the title), then the workshop's line.
    const std::string notice = "Hexagonal cell filter plug-in\r\nCopyright 2026 the Cellumbra authors";
    EXPECT_TRUE(seen_text.rfind("Cellumbra\r\n" + notice, 0) == 0 || seen_text.rfind("Cellumbra\n" + notice, 0) == 0)
        << seen_text;
    EXPECT_NE(seen_text.find("Glyphsmithery"), std::string::npos) << seen_text;
}

} // namespace
