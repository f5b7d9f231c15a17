#include "refhost/paths.h"

#include <cctype>

std::string reserved_device_name(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\:");
    std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
    // Windows ignores everything from the first dot, and spaces before it.
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
        base == "CONOUT$")
        return base;
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
        base[3] >= '1' && base[3] <= '9')
        return base;
    return std::string();
}

std::string folder_of(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    if (slash == 0 || (slash == 2 && path[1] == ':'))
        return path.substr(0, slash + 1);
    return path.substr(0, slash);
}
