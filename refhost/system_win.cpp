// The Windows side of refhost/system.h.
#include "refhost/system.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include "refhost/paths.h"

std::wstring widen(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], n);
    return wide;
}

std::string narrow(const std::wstring& wide)
{
    if (wide.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(std::max(n, 0)), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &utf8[0], n, nullptr, nullptr);
    return utf8;
}

std::vector<std::string> command_line_arguments()
{
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; argv != nullptr && i < count; ++i)
        args.push_back(narrow(argv[i]));
    LocalFree(argv);
    return args;
}

std::string system_error_text(unsigned long code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return "no such file";
    case ERROR_PATH_NOT_FOUND:
        return "no such folder";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "another program has the file open";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "the disk is full";
    case ERROR_WRITE_PROTECT:
        return "the disk is write-protected";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return "not enough memory";
    case ERROR_INVALID_NAME:
        // Names that are fine on Linux meet this under Wine.
        return "Windows allows none of : * ? \" < > | in a file name; the file needs another name";
    default:
        break;
    }
    wchar_t buf[512] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                             512, nullptr);
    while (n > 0 && (buf[n - 1] == L'\n' || buf[n - 1] == L'\r' || buf[n - 1] == L' ' || buf[n - 1] == L'.'))
        buf[--n] = L'\0';
    return n > 0 ? narrow(buf) : "system error " + std::to_string(code);
}

namespace {

std::atomic<int> interrupts{0};
// The new file of a replace in progress, for a second Ctrl-C to take along.
std::atomic<const wchar_t*> pending_file{nullptr};

BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (interrupts++ > 0) {
        // The person insists: go now, leaving the target as it is.
        if (const wchar_t* file = pending_file.load())
            DeleteFileW(file);
        ExitProcess(exit_interrupted);
    }
    return TRUE;
}

// Test-only: a write of more than this many bytes in total fails as on a
// full disk, so that tests can fill a disk without having one.
uint64_t disk_full_after()
{
    const char* v = std::getenv("FILTERHOST_TEST_DISK_FULL_AFTER");
    return v && *v ? std::strtoull(v, nullptr, 10) : UINT64_MAX;
}

// The file a name leads to: a symbolic link given as the output stays a
// link, and the file it points to is replaced, through a new file beside that
// file (a rename cannot cross disks). A name of no file yet is its own.
std::wstring final_name(const std::wstring& name)
{
    HANDLE file = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return name;
    std::vector<wchar_t> buf(32768);
    const DWORD n = GetFinalPathNameByHandleW(file, buf.data(), DWORD(buf.size()), FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (n == 0 || n >= buf.size())
        return name;
    std::wstring found(buf.data(), n);
    if (found.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + found.substr(8);
    return found.compare(0, 4, L"\\\\?\\") == 0 ? found.substr(4) : found;
}

} // namespace

void catch_interrupts()
{
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool interrupted()
{
    return interrupts.load() > 0;
}

void pause_for_test(const char* phase)
{
    static bool paused = false;
    // Asked once: the filtering phase asks at every row.
    static const char* const at = std::getenv("FILTERHOST_TEST_PAUSE_AT");
    if (paused || at == nullptr || std::strcmp(at, phase) != 0)
        return;
    paused = true;
    say(std::string("test pause while ") + phase);
    for (int waited = 0; waited < 60000 && !interrupted(); waited += 10)
        Sleep(10);
}

bool read_whole_file(const std::string& path, std::vector<unsigned char>& bytes, std::string& error)
{
    const std::wstring name = widen(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "it is a folder";
        return false;
    }
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = system_error_text(GetLastError());
        return false;
    }
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) != 0;
    if (ok && uint64_t(size.QuadPart) > usable_memory() / 2) {
        CloseHandle(file);
        error = "too large to read (" + std::to_string(size.QuadPart) + " bytes)";
        return false;
    }
    if (ok) {
        bytes.resize(size_t(size.QuadPart));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            DWORD got = 0;
            const DWORD want = DWORD(std::min<size_t>(bytes.size() - done, 1 << 24));
            ok = ReadFile(file, bytes.data() + done, want, &got, nullptr) && got > 0;
            done += got;
        }
    }
    if (!ok)
        error = system_error_text(GetLastError());
    CloseHandle(file);
    return ok;
}

bool is_folder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool check_writable(const std::string& path, std::string& error)
{
    const std::string device = reserved_device_name(path);
    if (!device.empty()) {
        error = "'" + path + "' names the Windows device " + device +
                ", not a file (so do NUL, CON, AUX, PRN, COM1-9 and LPT1-9 with any extension); choose another name";
        return false;
    }
    const std::wstring name = widen(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            error = "'" + path + "' is a folder";
            return false;
        }
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            error = "'" + path + "' is read-only";
            return false;
        }
        HANDLE file = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD type = file != INVALID_HANDLE_VALUE ? GetFileType(file) : FILE_TYPE_DISK;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (type != FILE_TYPE_DISK) {
            error = "'" + path + "' is a device, not a file";
            return false;
        }
    }
    const std::string folder = folder_of(path);
    const DWORD folder_attributes = GetFileAttributesW(widen(folder).c_str());
    if (folder_attributes == INVALID_FILE_ATTRIBUTES) {
        error = "cannot write '" + path + "': the folder '" + folder + "' does not exist";
        return false;
    }
    if (!(folder_attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "cannot write '" + path + "': '" + folder + "' is not a folder";
        return false;
    }
    // The one sure test: make a file there, as the real write will.
    const std::wstring probe = final_name(name) + L".filterhost-probe-" + std::to_wstring(GetCurrentProcessId());
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        error = code == ERROR_INVALID_NAME ? "cannot write '" + path + "': " + system_error_text(code)
                                           : "cannot write in the folder '" + folder + "': " + system_error_text(code);
        return false;
    }
    CloseHandle(file);
    return true;
}

bool replace_file(const std::string& path, const std::vector<unsigned char>& bytes, std::string& error)
{
    const std::wstring target = final_name(widen(path));
    const std::wstring temp = target + L".filterhost-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot write '" + path + "': " + system_error_text(GetLastError());
        return false;
    }
    pending_file = temp.c_str();
    const uint64_t limit = disk_full_after();
    DWORD failure = 0;
    size_t done = 0;
    while (failure == 0 && done < bytes.size() && !interrupted()) {
        DWORD want = DWORD(std::min<size_t>(bytes.size() - done, 1 << 20));
        if (done + want > limit) {
            want = DWORD(limit > done ? limit - done : 0);
            failure = ERROR_DISK_FULL;
        }
        DWORD wrote = 0;
        if (want > 0 && (!WriteFile(file, bytes.data() + done, want, &wrote, nullptr) || wrote != want))
            failure = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        done += wrote;
    }
    pause_for_test("writing");
    if (failure == 0 && !FlushFileBuffers(file))
        failure = GetLastError();
    if (!CloseHandle(file) && failure == 0)
        failure = GetLastError();
    if (failure == 0 && !interrupted() &&
        !MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        failure = GetLastError();
    pending_file = nullptr;
    if (failure != 0 || interrupted()) {
        DeleteFileW(temp.c_str());
        error = interrupted() ? "interrupted; '" + path + "' was not changed"
                              : "cannot write '" + path + "': " + system_error_text(failure) + "; the file was not changed";
        return false;
    }
    return true;
}

bool is_terminal(std::FILE* stream)
{
    DWORD mode = 0;
    HANDLE h = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

void print_text(std::FILE* stream, const std::string& utf8)
{
    std::fflush(stream);
    if (is_terminal(stream)) {
        const std::wstring wide = widen(utf8);
        DWORD wrote = 0;
        WriteConsoleW(GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), wide.data(),
                      DWORD(wide.size()), &wrote, nullptr);
        return;
    }
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}

uint64_t usable_memory()
{
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status))
        return 0;
    return std::min<uint64_t>(status.ullAvailVirtual, status.ullAvailPageFile);
}

bool screen_is_seen()
{
    const char* private_display = std::getenv("CELLUMBRA_PRIVATE_DISPLAY");
    if (private_display != nullptr && std::string(private_display) == "1")
        return false;
    // Under Wine the screen is the X display (or Wayland) the program was given.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr) {
        const char* x = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if ((x == nullptr || *x == '\0') && (wayland == nullptr || *wayland == '\0'))
            return false;
    }
    // A service's window station is never shown.
    USEROBJECTFLAGS flags = {};
    if (GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr) &&
        !(flags.dwFlags & WSF_VISIBLE))
        return false;
    return true;
}

// ------------------------------------------------------- message boxes

namespace {

MessageBoxAnswerer::Report box_report = nullptr;
HWND last_answered = nullptr;

std::wstring window_text_of(HWND window)
{
    wchar_t buf[4096] = {};
    GetWindowTextW(window, buf, 4096);
    return buf;
}

std::wstring window_class_of(HWND window)
{
    wchar_t buf[64] = {};
    GetClassNameW(window, buf, 64);
    return buf;
}

// A message box is a dialog with its text in control 0xFFFF and nothing but
// static controls and buttons: never the plug-in's own dialog.
bool is_message_box(HWND window)
{
    if (window_class_of(window) != L"#32770")
        return false;
    HWND text = GetDlgItem(window, 0xFFFF);
    if (text == nullptr || _wcsicmp(window_class_of(text).c_str(), L"Static") != 0)
        return false;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring name = window_class_of(child);
        if (_wcsicmp(name.c_str(), L"Static") != 0 && _wcsicmp(name.c_str(), L"Button") != 0)
            return false;
    }
    return true;
}

LRESULT CALLBACK on_cbt(int code, WPARAM wparam, LPARAM lparam)
{
    if (code == HCBT_ACTIVATE && box_report != nullptr) {
        HWND box = reinterpret_cast<HWND>(wparam);
        if (box != last_answered && is_message_box(box)) {
            last_answered = box;
            const LRESULT def = SendMessageW(box, DM_GETDEFID, 0, 0);
            int id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
            if (GetDlgItem(box, id) == nullptr)
                id = IDCANCEL;
            std::wstring button = window_text_of(GetDlgItem(box, id));
            button.erase(std::remove(button.begin(), button.end(), L'&'), button.end());
            box_report(narrow(window_text_of(box)), narrow(window_text_of(GetDlgItem(box, 0xFFFF))), narrow(button));
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

} // namespace

MessageBoxAnswerer::MessageBoxAnswerer(Report report)
{
    box_report = report;
    hook_ = SetWindowsHookExW(WH_CBT, on_cbt, nullptr, GetCurrentThreadId());
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    if (hook_ != nullptr)
        UnhookWindowsHookEx(static_cast<HHOOK>(hook_));
    box_report = nullptr;
}

// ------------------------------------------------------------------ lock

bool hold_settings_lock(const std::string& name, void (*on_wait)(), std::string& error)
{
    // Backslashes are reserved in object names.
    std::wstring object = L"filterhost-settings-" + widen(name);
    std::replace(object.begin(), object.end(), L'\\', L'/');
    HANDLE mutex = CreateMutexW(nullptr, FALSE, object.c_str());
    if (mutex == nullptr) {
        error = "cannot make the lock that keeps runs apart: " + system_error_text(GetLastError());
        return false;
    }
    bool waited = false;
    for (;;) {
        // An abandoned lock is free: its holder has ended.
        const DWORD got = WaitForSingleObject(mutex, 200);
        if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED)
            return true; // kept until the process ends
        if (got != WAIT_TIMEOUT) {
            error = "cannot take the lock that keeps runs apart: " + system_error_text(GetLastError());
            return false;
        }
        if (interrupted()) {
            error = "interrupted while waiting for another run";
            return false;
        }
        if (!waited && on_wait != nullptr)
            on_wait();
        waited = true;
    }
}

uint32_t current_thread_id()
{
    return GetCurrentThreadId();
}

int process_thread_count()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    const DWORD self = GetCurrentProcessId();
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self) ++count;
    CloseHandle(snapshot);
    return count;
}
