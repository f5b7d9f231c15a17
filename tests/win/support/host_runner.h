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

bool file_exists(const std::string& path);
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
