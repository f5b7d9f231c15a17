#include "win/support/band_warning.h"

#include <windows.h>

#include <sstream>

#include "win/support/wait.h"

namespace wintest {

namespace {
const char* const warning_caption = "The functions src and dr,dg,db could possibly not work as desired!";
}

int answered_warnings(const std::string& host_err, std::string* last_text)
{
    const std::string head = std::string("filterhost: message box \"") + warning_caption + "\": ";
    int count = 0;
    std::istringstream lines(host_err);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, head.size(), head) != 0)
            continue;
        ++count;
        if (last_text != nullptr)
            *last_text = line.substr(head.size());
    }
    return count;
}

WarningWatcher::WarningWatcher()
{
    thread_ = CreateThread(nullptr, 0, watch, this, 0, nullptr);
}

void WarningWatcher::stop()
{
    stop_ = true;
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
}

DWORD WINAPI WarningWatcher::watch(void* self)
{
    auto& me = *static_cast<WarningWatcher*>(self);
    HWND answered = nullptr;
    // Answers every box until told to stop; the bound is only a safety net.
    wait_until([&] {
        if (HWND box = FindWindowA(nullptr, warning_caption)) {
            if (box != answered) {
                char text[256] = {};
                GetDlgItemTextA(box, 0xFFFF, text, sizeof text); // a message box's text control
                me.text_ = text;
                ++me.boxes_;
                answered = box;
            }
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        return bool(me.stop_);
    }, 15 * 60 * 1000);
    return 0;
}

} // namespace wintest
