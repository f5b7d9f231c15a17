// What filterhost needs from the system besides the plug-in interface: the
// command line and file names as UTF-8, files opened by wide names, writes
// that replace a file in one step, the terminal, memory, the screen, Ctrl-C
// and a lock between runs. The Windows side lives in system_win.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The program's arguments (without its name), as UTF-8.
std::vector<std::string> command_line_arguments();

// UTF-8 <-> UTF-16 for the wide calls.
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);

// A Windows error code in words: plain ones for what files meet most, else
// the system's own text.
std::string system_error_text(unsigned long code);

// Reads a whole file. On failure `error` says why in plain words ("no such
// file", "access denied").
bool read_whole_file(const std::string& path, std::vector<unsigned char>& bytes, std::string& error);

// Writes `bytes` to a new file beside `path`, checks every write and the
// close, then puts it in the place of `path` in one step. On any failure, or
// when Ctrl-C came meanwhile, the new file is removed and `path` is left as
// it was. Where `path` is a symbolic link, the file it points to is replaced
// and the link stays; other hard links keep the old file.
bool replace_file(const std::string& path, const std::vector<unsigned char>& bytes, std::string& error);

bool is_folder(const std::string& path);

// Before any work: can a picture be written as `path`? The folder must exist
// and take a new file; `path` itself must not be a folder or a device.
bool check_writable(const std::string& path, std::string& error);

// Messages for a person: UTF-8 to a file or pipe, wide text to a console.
void print_text(std::FILE* stream, const std::string& utf8);
bool is_terminal(std::FILE* stream);

// The calling thread's identifier, and the threads this process has now.
uint32_t current_thread_id();
int process_thread_count();

// Bytes that this process can still allocate (address space and commit).
uint64_t usable_memory();

// True when a person can see the windows this process shows: a display is
// there and it is not the private one that tools/wine-run.sh starts for
// runs without a display (it marks those with CELLUMBRA_PRIVATE_DISPLAY=1).
bool screen_is_seen();

// Ctrl-C (and Ctrl-Break, and closing the console) sets a flag instead of
// ending the process at once; a second one ends it.
void catch_interrupts();
bool interrupted();
constexpr int exit_interrupted = 130;

// Test-only: when FILTERHOST_TEST_PAUSE_AT names `phase` ("reading",
// "filtering" or "writing"), the first time the run gets there it says
// "test pause while <phase>" and waits for a Ctrl-C (at most a minute), so
// that a test can interrupt exactly there instead of guessing with sleeps.
void pause_for_test(const char* phase);

// While it lives, every message box the plug-in shows on this thread is
// answered with its default button at once, and its caption and text are
// given to `report` as UTF-8.
class MessageBoxAnswerer {
public:
    using Report = void (*)(const std::string& caption, const std::string& text, const std::string& button);
    explicit MessageBoxAnswerer(Report report);
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

private:
    void* hook_ = nullptr;
};

// A lock shared by every filterhost of one Wine prefix or Windows session,
// named after the plug-in whose stored settings it guards; held until the
// process ends. Returns false (with `error`) only when it cannot be made.
// `on_wait` is called once when another run holds it.
bool hold_settings_lock(const std::string& name, void (*on_wait)(), std::string& error);

// One line for the person running filterhost, on standard error.
inline void say(const std::string& message)
{
    print_text(stderr, "filterhost: " + message + "\n");
}
