#include "win/support/host_runner.h"

#include "win/support/wait.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <windows.h>

namespace wintest {

namespace {

// Quotes one argument so that the child's command-line parser gives it back
// unchanged (backslashes count only before a quote).
std::string quote(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string q = "\"";
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < arg.size() && arg[i] == '\\') {
            ++i;
            ++backslashes;
        }
        if (i == arg.size()) {
            q.append(backslashes * 2, '\\');
            break;
        }
        if (arg[i] == '"') {
            q.append(backslashes * 2 + 1, '\\');
        } else {
            q.append(backslashes, '\\');
        }
        q += arg[i];
    }
    return q + "\"";
}

void remove_tree(const std::string& dir)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = dir + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

std::wstring wide(const std::string& utf8)
{
    std::wstring w(utf8.size(), L'\0');
    w.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &w[0], int(w.size()))));
    return w;
}

HANDLE inheritable_file(const std::string& path, DWORD access, DWORD creation)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

std::string build_dir()
{
    // Test programs lie in a subfolder of the build folder and run with the
    // build folder as working folder; accept either starting point.
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe_dir(path, n);
    exe_dir = exe_dir.substr(0, exe_dir.find_last_of("\\/"));
    const std::string parent = exe_dir.substr(0, exe_dir.find_last_of("\\/"));
    char cwd[MAX_PATH];
    n = GetCurrentDirectoryA(MAX_PATH, cwd);
    for (const std::string& dir : {std::string(cwd, n), exe_dir, parent})
        if (GetFileAttributesA((dir + "\\filterhost.exe").c_str()) != INVALID_FILE_ATTRIBUTES)
            return dir;
    return exe_dir;
}

std::string in_build_dir(const std::string& name)
{
    // Test builds of the plug-in are made in the tests subfolder.
    const std::string dir = build_dir();
    const std::string nested = dir + "\\tests\\" + name;
    if (GetFileAttributesA(nested.c_str()) != INVALID_FILE_ATTRIBUTES)
        return nested;
    return dir + "\\" + name;
}

std::string scratch_dir(const std::string& name)
{
    const std::string root = in_build_dir("test-scratch");
    CreateDirectoryA(root.c_str(), nullptr);
    const std::string dir = root + "\\" + name;
    remove_tree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

bool file_exists(const std::string& path)
{
    return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool write_text_file(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
    return bool(f);
}

std::string read_text_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

ChildProcess::~ChildProcess()
{
    if (process_ != nullptr)
        finish(0);
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args)
{
    // Output goes through files: two pipes read one after the other could
    // fill up and stall the child.
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char out_path[MAX_PATH], err_path[MAX_PATH];
    GetTempFileNameA(temp, "out", 0, out_path);
    GetTempFileNameA(temp, "err", 0, err_path);
    out_path_ = out_path;
    err_path_ = err_path;
    HANDLE out = inheritable_file(out_path, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = inheritable_file(err_path, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE in = inheritable_file("NUL", GENERIC_READ, OPEN_EXISTING);
    out_ = out;
    err_ = err;

    std::string command = quote(program);
    for (const std::string& a : args)
        command += " " + quote(a);
    std::wstring line = wide(command);

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    const bool started = CreateProcessW(wide(program).c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &si, &pi);
    if (in != INVALID_HANDLE_VALUE)
        CloseHandle(in);
    if (!started) {
        start_error_ = "cannot start " + program + ": error " + std::to_string(GetLastError());
        return false;
    }
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    id_ = pi.dwProcessId;
    return true;
}

RunResult ChildProcess::finish(unsigned timeout_ms)
{
    RunResult result;
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, timeout_ms) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 99);
            WaitForSingleObject(process_, 5000);
            result.timed_out = true;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        result.exit_code = int(code);
        CloseHandle(process_);
        process_ = nullptr;
    }
    if (out_ != nullptr)
        CloseHandle(out_);
    if (err_ != nullptr)
        CloseHandle(err_);
    out_ = err_ = nullptr;
    if (!out_path_.empty()) {
        result.out = read_text_file(out_path_);
        result.err = read_text_file(err_path_);
        DeleteFileA(out_path_.c_str());
        DeleteFileA(err_path_.c_str());
        out_path_.clear();
    }
    result.err = start_error_ + result.err;
    return result;
}

namespace {

struct WindowSearch {
    DWORD id;
    const char* window_class;
    HWND found;
};

BOOL CALLBACK match_window(HWND window, LPARAM param)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (id == search->id && IsWindowVisible(window) && std::string(name) == search->window_class) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

intptr_t wait_for_window(unsigned long id, const std::string& window_class, unsigned timeout_ms)
{
    WindowSearch search = {DWORD(id), window_class.c_str(), nullptr};
    wait_until([&] {
        EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    }, timeout_ms);
    return reinterpret_cast<intptr_t>(search.found);
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args, unsigned timeout_ms)
{
    ChildProcess child;
    child.start(program, args);
    return child.finish(timeout_ms);
}

RunResult run_filterhost(const std::vector<std::string>& args, unsigned timeout_ms)
{
    return run_program(in_build_dir("filterhost.exe"), args, timeout_ms);
}

ScopedEnv::ScopedEnv(const std::string& name, const std::string& value) : name_(name)
{
    char buf[4096];
    DWORD n = GetEnvironmentVariableA(name.c_str(), buf, sizeof buf);
    if (n > 0 && n < sizeof buf) {
        had_old_ = true;
        old_.assign(buf, n);
    }
    SetEnvironmentVariableA(name.c_str(), value.c_str());
}

ScopedEnv::~ScopedEnv()
{
    SetEnvironmentVariableA(name_.c_str(), had_old_ ? old_.c_str() : nullptr);
}

std::string ChildProcess::output_so_far() const
{
    return out_path_.empty() ? std::string() : read_text_file(out_path_);
}

int count_lines(const std::string& text, const std::string& start)
{
    int n = 0;
    std::istringstream s(text);
    std::string line;
    while (std::getline(s, line))
        n += line.compare(0, start.size(), start) == 0;
    return n;
}

} // namespace wintest
