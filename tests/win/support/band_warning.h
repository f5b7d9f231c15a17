// The band warning the plug-in shows for a picture taller than one band is a
// real message box. filterhost answers the boxes nobody sees itself and
// prints each one.
#pragma once

#include <string>

namespace wintest {

// The band warnings filterhost answered, counted in its standard error, and
// the text of the last one.
int answered_warnings(const std::string& host_err, std::string* last_text = nullptr);

} // namespace wintest
