// Running the programs of the Windows build from a test: finding the build
// folder, a scratch folder per test, and filterhost.exe as a child process.
#pragma once

#include <string>
#include <vector>

namespace wintest {

// The Windows build folder, where Cellumbra.8bf and filterhost.exe lie.
std::string build_dir();
// A file of the build: in the build folder, or in its tests subfolder where
// the test builds of the plug-in are made.
std::string in_build_dir(const std::string& name);

// An empty folder for one test under the build folder (emptied if it exists).
std::string scratch_dir(const std::string& name);

// Paths and arguments are UTF-8, so names outside the code page work too.
bool file_exists(const std::string& path);
inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}
// How many lines of `text` begin with `start`.
int count_lines(const std::string& text, const std::string& start);
bool write_text_file(const std::string& path, const std::string& text);
std::string read_text_file(const std::string& path);

struct RunResult {
    int exit_code = -1;
    bool timed_out = false;
    std::string out; // standard output
    std::string err; // standard error
};

// Runs `program` with `args` (quoted as needed) and waits at most
// `timeout_ms`; a program still running then is ended and reported as timed
// out. The child inherits this process's environment.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      unsigned timeout_ms = 60000);

// A program started without waiting, for tests that talk to its windows.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::string& program, const std::vector<std::string>& args);
    unsigned long id() const { return id_; }
    // What it has written to its standard output so far.
    std::string output_so_far() const;
    // Waits at most `timeout_ms`, ending the program if it is still running.
    RunResult finish(unsigned timeout_ms);

private:
    void* process_ = nullptr;
    unsigned long id_ = 0;
    void* out_ = nullptr;
    void* err_ = nullptr;
    std::string out_path_, err_path_, start_error_;
};

// The first visible top-level window of process `id` with the window class
// `window_class` ("#32770" for dialogs and message boxes), waiting at most
// `timeout_ms`; 0 when none appears.
intptr_t wait_for_window(unsigned long id, const std::string& window_class, unsigned timeout_ms);

// filterhost.exe of the build folder.
RunResult run_filterhost(const std::vector<std::string>& args, unsigned timeout_ms = 60000);

// Sets an environment variable for child processes while it lives.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_old_ = false;
};

} // namespace wintest
