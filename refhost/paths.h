// Names of files as filterhost meets them on its command line.
#pragma once

#include <string>

// "NUL", "COM1", ... when the file part of `path` names a Windows device
// (whatever its case and extension, as Windows reads it); empty otherwise.
std::string reserved_device_name(const std::string& path);

// The folder part of `path` ("." when it has none; "C:\" kept whole).
std::string folder_of(const std::string& path);
