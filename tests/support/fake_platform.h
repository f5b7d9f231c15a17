// A recording stand-in for the operating system, shared by the unit tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct FakePlatform {
    struct Box {
        intptr_t owner;
        std::string text;
        std::string caption;
        uint32_t style;
    };
    struct DialogCall {
        int32_t show_dialog;
        intptr_t parent;
    };
    std::vector<Box> boxes;
    std::vector<DialogCall> dialog_calls;
    int32_t dialog_result = 1;
    std::function<int32_t()> on_dialog; // runs inside the dialog, e.g. to render a preview
    intptr_t active_window = 0;
    std::string executable_path = "C:\\Programs\\host.exe";
    double calendar_seconds = 1.0e9;
    int32_t time_of_day_ms = 0;
    bool fail_allocations = false;
    int allocations = 0;
    int ensure_key_calls = 0;

    void reset();
};

extern FakePlatform fake_platform;
