// What filterhost shows of the plug-in's progress on standard error: a bar
// redrawn in place on a console; in a log or pipe, where a redrawn bar is a
// pile of carriage returns, one line at the start and one at the end.
#pragma once

#include <cstdint>
#include <string>

class ProgressReport {
public:
    ProgressReport(bool terminal, bool quiet) : terminal_(terminal), quiet_(quiet) {}

    // Each returns the text to print, empty for nothing.
    std::string start(const std::string& what);
    std::string update(int32_t done, int32_t total);
    // A successful run ends at 100%, also when the plug-in counted only the
    // selected pixels of a larger total.
    std::string finish(bool succeeded);

private:
    std::string bar() const;

    bool terminal_, quiet_;
    bool started_ = false, drawn_ = false;
    int percent_ = -1;
};
