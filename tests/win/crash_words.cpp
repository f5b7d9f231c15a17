// Linked into every Windows test program: a crash ends the program at once
// with the exception's code as its exit status, and says in which test it
// came and which exception it was. Without it the crash would go to Wine's
// debugger, which the tests' prefixes turn off, and say only Wine's line.
#include <algorithm>
#include <cstdio>

#include <windows.h>

#include <gtest/gtest.h>

namespace {

LONG WINAPI say_crash(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* e = info->ExceptionRecord;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    // Formatted on the stack and written past the C library, whose locks the
    // crashed thread may hold.
    char text[512];
    const int length = std::snprintf(text, sizeof text, "test program crashed%s%s%s%s: exception 0x%08lx at %p\n",
                                     test ? " in " : "", test ? test->test_suite_name() : "", test ? "." : "",
                                     test ? test->name() : "", static_cast<unsigned long>(e->ExceptionCode),
                                     e->ExceptionAddress);
    DWORD written = 0;
    if (length > 0)
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, DWORD(std::min<size_t>(size_t(length), sizeof text - 1)),
                  &written, nullptr);
    TerminateProcess(GetCurrentProcess(), e->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

const bool installed = (SetUnhandledExceptionFilter(say_crash), true);

} // namespace
