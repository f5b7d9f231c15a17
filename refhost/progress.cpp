#include "refhost/progress.h"

#include <algorithm>

std::string ProgressReport::start(const std::string& what, const std::string& done)
{
    started_ = true;
    drawn_ = false;
    percent_ = -1;
    done_ = done;
    return quiet_ ? std::string() : "filterhost: " + what + "\n";
}

std::string ProgressReport::bar() const
{
    const int filled = percent_ * 40 / 100;
    std::string text = "\r[" + std::string(size_t(filled), '#') + std::string(size_t(40 - filled), '.') + "] ";
    const std::string number = std::to_string(percent_);
    return text + std::string(3 - std::min<size_t>(3, number.size()), ' ') + number + "%";
}

std::string ProgressReport::update(int64_t done, int64_t total)
{
    int64_t percent = total > 0 ? done * 100 / total : 0;
    percent = std::min<int64_t>(std::max<int64_t>(percent, 0), 100);
    if (!started_ || percent == percent_)
        return std::string();
    percent_ = int(percent);
    if (quiet_ || !terminal_)
        return std::string();
    drawn_ = true;
    return bar();
}

std::string ProgressReport::finish(bool succeeded)
{
    if (!started_)
        return std::string();
    started_ = false;
    if (succeeded)
        percent_ = 100;
    if (quiet_)
        return std::string();
    if (terminal_) {
        if (succeeded)
            return bar() + "\n";
        return drawn_ ? "\n" : std::string();
    }
    return succeeded && !done_.empty() ? "filterhost: " + done_ + " (100%)\n" : std::string();
}
