#include "refhost/pipl.h"

#include <cstring>

namespace {

uint32_t read_u32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Four-character codes are stored as little-endian 32-bit numbers whose most
// significant byte is the first character, so the text appears reversed.
std::string code_text(const unsigned char* p)
{
    char c[4] = {char(p[3]), char(p[2]), char(p[1]), char(p[0])};
    return std::string(c, 4);
}

std::string c_string(const unsigned char* p, size_t length)
{
    size_t n = 0;
    while (n < length && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

// A length byte followed by the text; the length never reaches past the data.
std::string pascal_string(const unsigned char* p, size_t length)
{
    if (length == 0)
        return std::string();
    size_t n = p[0];
    if (n > length - 1)
        n = length - 1;
    return std::string(reinterpret_cast<const char*>(p + 1), n);
}

} // namespace

const char* native_entry_key()
{
#if INTPTR_MAX == INT64_MAX
    return "8664";
#else
    return "wx86";
#endif
}

bool parse_pipl(const unsigned char* data, size_t size, const char* entry_key, PiplInfo& info,
                std::string& error)
{
    info = PiplInfo();
    const size_t header = 2 + 4 + 4;
    if (data == nullptr || size < header) {
        error = "property list shorter than its header";
        return false;
    }
    int version = data[0] | data[1] << 8;
    if (version != 1) {
        error = "property list version " + std::to_string(version) + ", expected 1";
        return false;
    }
    uint32_t count = read_u32(data + 6);
    size_t pos = header;
    for (uint32_t i = 0; i < count; ++i) {
        if (size - pos < 16) {
            error = "property list truncated at property " + std::to_string(i + 1) + " of " +
                    std::to_string(count);
            return false;
        }
        std::string vendor = code_text(data + pos);
        std::string key = code_text(data + pos + 4);
        uint32_t length = read_u32(data + pos + 12);
        pos += 16;
        if (length > size - pos) {
            error = "property '" + key + "' claims " + std::to_string(length) +
                    " bytes beyond the end of the list";
            return false;
        }
        const unsigned char* value = data + pos;
        if (vendor == "8BIM") {
            if (key == "kind" && length >= 4)
                info.kind = code_text(value);
            else if (key == entry_key)
                info.entry = c_string(value, length);
            else if (key == "name")
                info.name = pascal_string(value, length);
            else if (key == "catg")
                info.category = pascal_string(value, length);
        }
        // Data is padded to a multiple of 4; tolerate a last property whose
        // padding was cut off.
        size_t padded = (size_t(length) + 3) & ~size_t(3);
        pos += padded <= size - pos ? padded : size - pos;
        info.property_count = int32_t(i + 1);
    }
    return true;
}
