// The band warning the plug-in shows for a picture taller than one band is a
// real message box; this answers it as the user would.
#pragma once

#include <atomic>
#include <string>

namespace wintest {

// Presses OK on every band warning that appears while it lives, counts the
// boxes it answered and keeps the text of the last one.
class WarningWatcher {
public:
    WarningWatcher();
    ~WarningWatcher() { stop(); }
    WarningWatcher(const WarningWatcher&) = delete;
    WarningWatcher& operator=(const WarningWatcher&) = delete;

    void stop();
    int boxes() const { return boxes_; }
    std::string text() const { return text_; }

private:
    static unsigned long __stdcall watch(void* self);

    void* thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<int> boxes_{0};
    std::string text_; // written by the watcher thread only before stop() returns
};

} // namespace wintest
