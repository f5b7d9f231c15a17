// A Windows test program that crashes, for the test of the test machinery
// (win/crash_test.sh): built, linked and run like every Windows test, but
// never one of them. CRASH_PROBE=unfiltered takes the test programs' crash
// words away first, so that the crash takes Wine's own way; CRASH_PROBE=exit0
// ends it with exit 0 and not a word in mid-test, as a crashed program whose
// debugger was ended by hand once did.
#include <cstdlib>
#include <cstring>

#include <windows.h>

#include <gtest/gtest.h>

TEST(Probe, DereferencesNull)
{
    const char* how = std::getenv("CRASH_PROBE");
    if (how != nullptr && std::strcmp(how, "unfiltered") == 0)
        SetUnhandledExceptionFilter(nullptr);
    if (how != nullptr && std::strcmp(how, "exit0") == 0)
        ExitProcess(0);
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}
