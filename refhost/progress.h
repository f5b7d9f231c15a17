// What filterhost shows of a run's progress on standard error: a bar
// redrawn in place on a console; in a log or pipe, where a redrawn bar is a
// pile of carriage returns, one line at the start and one at the end. A
// phase (reading, filtering, writing) starts with a line that names the
// picture, on a line of its own on a console too, so that the bar, drawn on
// the line below, never draws over it.
#pragma once

#include <cstdint>
#include <string>

class ProgressReport {
public:
    ProgressReport(bool terminal, bool quiet) : terminal_(terminal), quiet_(quiet) {}

    // Each returns the text to print, empty for nothing. `done`, when given,
    // is said in a log as the phase ends ("filtering done (100%)").
    std::string start(const std::string& what, const std::string& done = std::string());
    std::string update(int64_t done, int64_t total);
    // A successful phase ends at 100%, also when the plug-in counted only
    // the selected pixels of a larger total.
    std::string finish(bool succeeded);

private:
    std::string bar() const;

    bool terminal_, quiet_;
    bool started_ = false, drawn_ = false;
    int percent_ = -1;
    std::string done_;
};
