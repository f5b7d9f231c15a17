#include "win/support/band_warning.h"

#include <windows.h>

#include <sstream>


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

} // namespace wintest
