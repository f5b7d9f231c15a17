// Reading a plug-in's PIPL property list: the host learns from it what kind of
// module it holds, its menu texts and the name of its entry point, before it
// ever calls the module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct PiplInfo {
    std::string kind;     // "8BFM" for a filter module
    std::string entry;    // exported entry point for the requested platform key
    std::string name;     // menu title
    std::string category; // menu category
    int32_t property_count = 0;
};

// Parses the list in `data`. `entry_key` is the platform's code point key:
// "wx86" for 32-bit Windows, "8664" for 64-bit. Returns false with a reason in
// `error` when the list is malformed; a missing entry is not an error here.
bool parse_pipl(const unsigned char* data, size_t size, const char* entry_key, PiplInfo& info,
                std::string& error);

// The entry key of the platform this host is built for.
const char* native_entry_key();
