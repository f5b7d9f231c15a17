// The benchmark in the Windows build: Cellumbra.8bf loaded with LoadLibrary
// and driven through its exported ENTRYPOINT, as a host drives it. Beside it
// CellumbraTable.8bf, the same plug-in with its block reached through the
// table alone (bench/table_blocks.cpp), is driven the same way.
//
// The cell size reaches the plug-in the way a repeated filter gets it: the
// bench writes "SliderSettings" into the plug-in's registry key, and the start
// selector, with no parameters selector before it, loads it in the dialog's
// at-once ending.
//
// The bench patches the plug-in's import table: the band warning box is
// answered with OK at once (and counted), and every allocation call that the
// plug-in's own code makes through its imports (LocalAlloc, GlobalAlloc,
// HeapAlloc, VirtualAlloc and their re-allocations, and the C run-time's
// malloc, calloc, realloc, which operator new also ends in) is counted while
// the start selector runs. Allocations that Windows makes inside its own calls
// (creating the dialog, reading the registry) are not seen.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench_common.h"
#include "bench/bench_host.h"

namespace {

bool counting = false;
struct Counts {
    int64_t local = 0, global = 0, heap = 0, virt = 0, crt = 0, boxes = 0;
} counts;

#define REAL(name) decltype(&name) real_##name

REAL(LocalAlloc);
REAL(LocalReAlloc);
REAL(GlobalAlloc);
REAL(GlobalReAlloc);
REAL(HeapAlloc);
REAL(HeapReAlloc);
REAL(VirtualAlloc);
REAL(MessageBoxA);
REAL(MessageBoxW);
void* (*real_malloc)(size_t);
void* (*real_calloc)(size_t, size_t);
void* (*real_realloc)(void*, size_t);

HLOCAL WINAPI counting_LocalAlloc(UINT flags, SIZE_T bytes)
{
    if (counting) ++counts.local;
    return real_LocalAlloc(flags, bytes);
}
HLOCAL WINAPI counting_LocalReAlloc(HLOCAL block, SIZE_T bytes, UINT flags)
{
    if (counting) ++counts.local;
    return real_LocalReAlloc(block, bytes, flags);
}
HGLOBAL WINAPI counting_GlobalAlloc(UINT flags, SIZE_T bytes)
{
    if (counting) ++counts.global;
    return real_GlobalAlloc(flags, bytes);
}
HGLOBAL WINAPI counting_GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags)
{
    if (counting) ++counts.global;
    return real_GlobalReAlloc(block, bytes, flags);
}
LPVOID WINAPI counting_HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes)
{
    if (counting) ++counts.heap;
    return real_HeapAlloc(heap, flags, bytes);
}
LPVOID WINAPI counting_HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes)
{
    if (counting) ++counts.heap;
    return real_HeapReAlloc(heap, flags, block, bytes);
}
LPVOID WINAPI counting_VirtualAlloc(LPVOID address, SIZE_T bytes, DWORD type, DWORD protect)
{
    if (counting) ++counts.virt;
    return real_VirtualAlloc(address, bytes, type, protect);
}
void* __cdecl counting_malloc(size_t bytes)
{
    if (counting) ++counts.crt;
    return real_malloc(bytes);
}
void* __cdecl counting_calloc(size_t n, size_t bytes)
{
    if (counting) ++counts.crt;
    return real_calloc(n, bytes);
}
void* __cdecl counting_realloc(void* block, size_t bytes)
{
    if (counting) ++counts.crt;
    return real_realloc(block, bytes);
}
int WINAPI confirm_box_a(HWND, LPCSTR, LPCSTR, UINT)
{
    ++counts.boxes;
    return IDOK;
}
int WINAPI confirm_box_w(HWND, LPCWSTR, LPCWSTR, UINT)
{
    ++counts.boxes;
    return IDOK;
}

// Replaces the module's import of `name` (from any library) with
// `replacement`; keeps the address it held in *original. False when the
// module does not import it.
template <typename Fn>
bool patch_import(HMODULE module, const char* name, Fn replacement, Fn* original)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return false;
    bool found = false;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        const DWORD lookup = imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + lookup);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), name) != 0) continue;
            DWORD old = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
            *original = reinterpret_cast<Fn>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            found = true;
        }
    }
    return found;
}

typedef void(__cdecl* EntryPoint)(int16 selector, void* record, intptr_t* data, int16* result);

bool write_size_setting(int32_t size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Orv-Tinctora\\Tinctora\\Cellumbra", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    int32_t values[16] = {size};
    const LONG rc = RegSetValueExA(key, "SliderSettings", 0, REG_BINARY,
                                   reinterpret_cast<const BYTE*>(values), sizeof values);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

struct WindowsDriver : bench::PluginDriver {
    EntryPoint bound = nullptr, table = nullptr;
    EntryPoint entry = nullptr; // the one the next start goes to
    intptr_t data = 0;
    std::string hooks;

    bool load(const char* bound_path, const char* table_path)
    {
        return (bound = load_one(bound_path)) && (table = load_one(table_path)) && (entry = bound);
    }

    EntryPoint load_one(const char* path)
    {
        HMODULE module = LoadLibraryA(path);
        if (!module) return nullptr;
        auto found = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, "ENTRYPOINT")));
        if (!found) return nullptr;
        std::string hooked;
        auto hook = [&](const char* name, auto replacement, auto* original) {
            if (!patch_import(module, name, replacement, original)) return;
            hooked += hooked.empty() ? "" : ", ";
            hooked += name;
        };
        hook("LocalAlloc", counting_LocalAlloc, &real_LocalAlloc);
        hook("LocalReAlloc", counting_LocalReAlloc, &real_LocalReAlloc);
        hook("GlobalAlloc", counting_GlobalAlloc, &real_GlobalAlloc);
        hook("GlobalReAlloc", counting_GlobalReAlloc, &real_GlobalReAlloc);
        hook("HeapAlloc", counting_HeapAlloc, &real_HeapAlloc);
        hook("HeapReAlloc", counting_HeapReAlloc, &real_HeapReAlloc);
        hook("VirtualAlloc", counting_VirtualAlloc, &real_VirtualAlloc);
        hook("malloc", counting_malloc, &real_malloc);
        hook("calloc", counting_calloc, &real_calloc);
        hook("realloc", counting_realloc, &real_realloc);
        patch_import(module, "MessageBoxA", confirm_box_a, &real_MessageBoxA);
        patch_import(module, "MessageBoxW", confirm_box_w, &real_MessageBoxW);
        hooks = "calls the plug-in makes through its imports during the start selector (it imports " +
                hooked + "; nothing else that allocates)";
        int16 result = 0;
        FilterRecord record{};
        found(filterSelectorPrepare, &record, &data, &result);
        return found;
    }

    const char* build_name() const override
    {
        return sizeof(void*) == 8 ? "64-bit Windows (Cellumbra.8bf via ENTRYPOINT)"
                                  : "32-bit Windows (Cellumbra.8bf via ENTRYPOINT)";
    }
    const char* allocation_note() const override { return hooks.c_str(); }

    void set_size(int32_t size) override
    {
        if (!write_size_setting(size)) std::fprintf(stderr, "could not write SliderSettings\n");
    }
    void use_table(bool use) override { entry = use ? table : bound; }

    bench::RunResult start(FilterRecord& record) override
    {
        using clock = std::chrono::steady_clock;
        bench::RunResult r;
        int16 result = 0;
        counts = Counts{};
        counting = true;
        const auto t0 = clock::now();
        entry(filterSelectorStart, &record, &data, &result);
        const auto t1 = clock::now();
        counting = false;
        int16 finish_result = 0;
        entry(filterSelectorFinish, &record, &data, &finish_result);
        r.seconds = std::chrono::duration<double>(t1 - t0).count();
        r.end = std::chrono::duration<double>(t1.time_since_epoch()).count();
        r.result = result;
        r.allocations = counts.local + counts.global + counts.heap + counts.virt + counts.crt;
        r.message_boxes = counts.boxes;
        char detail[160];
        std::snprintf(detail, sizeof detail, "(LocalAlloc %lld, GlobalAlloc %lld, HeapAlloc %lld, VirtualAlloc %lld, "
                      "malloc/calloc/realloc %lld)",
                      (long long)counts.local, (long long)counts.global, (long long)counts.heap,
                      (long long)counts.virt, (long long)counts.crt);
        r.allocation_detail = detail;
        return r;
    }
};

} // namespace

int main(int argc, char** argv)
{
    // The plug-ins lie next to the bench in the build folder.
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path - 30);
    if (char* slash = std::strrchr(path, '\\')) slash[1] = '\0';
    const std::string folder = path;
    const std::string bound = folder + "Cellumbra.8bf", table = folder + "CellumbraTable.8bf";

    const bool host = argc > 1 && !std::strcmp(argv[1], "--host");
    const bench::Options options = host ? bench::Options() : bench::parse_options(argc, argv);
    WindowsDriver driver;
    if (!driver.load(bound.c_str(), table.c_str())) {
        std::fprintf(stderr, "cannot load %s and %s or find their ENTRYPOINT\n", bound.c_str(), table.c_str());
        return 2;
    }
    if (host)
        return run_host_benchmark(driver, folder, argc, argv);
    return bench::run_benchmark(driver, options);
}
