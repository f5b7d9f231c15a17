#include "win/support/wait.h"

#include <windows.h>

namespace wintest {

namespace {
// Finer than any timer the plug-in uses, coarse enough not to load the machine.
constexpr DWORD poll_ms = 20;
} // namespace

bool wait_until(const std::function<bool()>& condition, unsigned timeout_ms)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeout_ms) return false;
        Sleep(poll_ms);
    }
}

bool holds_for(const std::function<bool()>& condition, unsigned ms)
{
    return !wait_until([&] { return !condition(); }, ms);
}

} // namespace wintest
