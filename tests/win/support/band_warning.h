// The band warning the plug-in shows for a picture taller than one band is a
// real message box. filterhost answers the boxes nobody sees itself and
// prints each one; in-process hosts need a watcher that answers it as the
// user would.
#pragma once

#include <atomic>
#include <string>

namespace wintest {

// The band warnings filterhost answered, counted in its standard error, and
// the text of the last one.
int answered_warnings(const std::string& host_err, std::string* last_text = nullptr);

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
