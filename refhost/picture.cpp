#include "refhost/picture.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "refhost/system.h"

// The decoders are third-party code; their warnings are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
// File-local, so that another copy of the decoders can sit beside it.
#define STB_IMAGE_STATIC
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

std::string extension_of(const std::string& path)
{
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string();
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

uint32_t get_le(const std::vector<unsigned char>& b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | b[at + size_t(i)];
    return v;
}

bool is_png(const std::vector<unsigned char>& b)
{
    return b.size() >= 8 && std::memcmp(b.data(), "\x89PNG\r\n\x1a\n", 8) == 0;
}
bool is_jpeg(const std::vector<unsigned char>& b)
{
    return b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF;
}
bool is_bmp(const std::vector<unsigned char>& b)
{
    return b.size() >= 2 && b[0] == 'B' && b[1] == 'M';
}

const char* const damaged = "the file is damaged or cut short";

// Bits per pixel of a BMP, 0 when its headers are cut.
uint32_t bmp_bits(const std::vector<unsigned char>& b)
{
    if (b.size() < 18)
        return 0;
    const uint32_t header = get_le(b, 14, 4);
    if (header == 12)
        return b.size() >= 26 ? get_le(b, 24, 2) : 0;
    return b.size() >= 30 ? get_le(b, 28, 2) : 0;
}

// The value of the orientation tag of a JPEG's EXIF block; 1 (upright) when
// there is none.
int jpeg_orientation(const std::vector<unsigned char>& b)
{
    size_t i = 2;
    while (i + 4 <= b.size() && b[i] == 0xFF) {
        const unsigned char marker = b[i + 1];
        if (marker == 0xDA || marker == 0xD9)
            break;
        const size_t length = size_t(b[i + 2]) << 8 | b[i + 3];
        if (marker == 0xE1 && length >= 16 && i + 2 + length <= b.size() &&
            std::memcmp(&b[i + 4], "Exif\0\0", 6) == 0) {
            const size_t tiff = i + 10, end = i + 2 + length;
            const bool le = b[tiff] == 'I';
            // Offsets come from the file: reckoned in 64 bits, so that none wraps.
            auto get = [&](uint64_t at, int bytes) -> uint32_t {
                if (at + uint64_t(bytes) > end)
                    return 0;
                uint32_t v = 0;
                for (int k = 0; k < bytes; ++k)
                    v = le ? v | uint32_t(b[at + size_t(k)]) << (8 * k) : v << 8 | b[at + size_t(k)];
                return v;
            };
            const uint64_t ifd = tiff + uint64_t(get(tiff + 4, 4));
            const uint32_t count = get(ifd, 2);
            for (uint32_t k = 0; k < count && ifd + 2 + 12 * (uint64_t(k) + 1) <= end; ++k) {
                const uint64_t entry = ifd + 2 + 12 * uint64_t(k);
                if (get(entry, 2) == 0x0112)
                    return int(get(entry + 8, 2));
            }
            return 1;
        }
        i += 2 + length;
    }
    return 1;
}

} // namespace

std::string picture_file_problem(const std::vector<unsigned char>& b)
{
    if (!is_png(b) && !is_jpeg(b) && !is_bmp(b))
        return "not a PNG, JPEG or BMP picture";
    if (!is_bmp(b))
        return std::string();
    if (b.size() < 26)
        return damaged;
    const uint32_t offset = get_le(b, 10, 4), header = get_le(b, 14, 4);
    const uint64_t bits = bmp_bits(b);
    uint64_t width, height, compression = 0, image_size = 0;
    if (header == 12) {
        width = get_le(b, 18, 2);
        height = get_le(b, 20, 2);
    } else {
        if (b.size() < 38)
            return damaged;
        width = uint64_t(std::abs(int64_t(int32_t(get_le(b, 18, 4)))));
        height = uint64_t(std::abs(int64_t(int32_t(get_le(b, 22, 4)))));
        compression = get_le(b, 30, 4);
        image_size = get_le(b, 34, 4);
    }
    // Beyond these the sizes below could overflow; the decoder refuses such pictures anyway.
    if (width > (1u << 24) || height > (1u << 24) || bits > 64)
        return std::string();
    uint64_t needed = offset;
    if (compression == 0 || compression == 3 || compression == 6)
        needed += (width * bits + 31) / 32 * 4 * height; // uncompressed rows, padded to 4 bytes
    else
        needed += image_size; // run-length coded: the header's own count
    return b.size() < needed ? damaged : std::string();
}

bool load_picture(const std::string& path, int32_t planes, Picture& picture, std::string& error,
                  std::vector<std::string>* notes)
{
    std::vector<unsigned char> bytes;
    std::string why;
    if (!read_whole_file(path, bytes, why)) {
        error = "cannot read '" + path + "': " + why;
        return false;
    }
    why = picture_file_problem(bytes);
    int width = 0, height = 0, file_planes = 0;
    if (why.empty() && !stbi_info_from_memory(bytes.data(), int(bytes.size()), &width, &height, &file_planes))
        why = damaged;
    // The host interface counts rows and columns in 16 bits.
    if (why.empty() && (width > 32767 || height > 32767))
        why = "too large: " + std::to_string(width) + " x " + std::to_string(height) +
              " (the filter interface takes at most 32767 pixels a side)";
    if (!why.empty()) {
        error = "cannot read '" + path + "': " + why;
        return false;
    }
    const bool has_alpha = file_planes == 2 || file_planes == 4;
    if (planes == 0)
        planes = has_alpha ? 4 : 3;
    unsigned char* data = stbi_load_from_memory(bytes.data(), int(bytes.size()), &width, &height, &file_planes,
                                                planes);
    if (data == nullptr) {
        const char* reason = stbi_failure_reason();
        error = "cannot read '" + path + "': " +
                (reason && std::strcmp(reason, "outofmem") == 0
                     ? "not enough memory for a " + std::to_string(width) + " x " + std::to_string(height) +
                           " picture"
                     : std::string(damaged));
        return false;
    }
    picture.width = width;
    picture.height = height;
    picture.planes = planes;
    picture.pixels.assign(data, data + size_t(width) * size_t(height) * size_t(planes));
    stbi_image_free(data);

    if (notes != nullptr) {
        if (stbi_is_16_bit_from_memory(bytes.data(), int(bytes.size())))
            notes->push_back("the picture has 16 bits per channel; it is filtered and written with 8");
        const bool palette = (is_png(bytes) && bytes.size() > 25 && bytes[25] == 3) ||
                             (is_bmp(bytes) && bmp_bits(bytes) <= 8);
        if (palette && planes > 1)
            notes->push_back("the picture has a colour palette; it is filtered and written as RGB");
        else if (file_planes <= 2 && planes > 2)
            notes->push_back("the picture is grey; it is filtered and written as RGB");
        if (has_alpha && planes != 4)
            notes->push_back("the picture's transparency is dropped (filtered without alpha)");
        const int orientation = is_jpeg(bytes) ? jpeg_orientation(bytes) : 1;
        if (orientation >= 2 && orientation <= 8)
            notes->push_back("the JPEG's orientation tag (" + std::to_string(orientation) +
                             ") is not applied: the picture is filtered and written as stored, so a viewer "
                             "may show it turned");
    }
    return true;
}

bool picture_format_known(const std::string& path)
{
    std::string ext = extension_of(path);
    return ext == "png" || ext == "bmp" || ext == "jpg" || ext == "jpeg";
}

namespace {

void append_bytes(void* context, void* data, int size)
{
    auto* out = static_cast<std::vector<unsigned char>*>(context);
    const unsigned char* p = static_cast<const unsigned char*>(data);
    out->insert(out->end(), p, p + size);
}

} // namespace

bool save_picture(const std::string& path, const Picture& picture, std::string& error)
{
    std::string ext = extension_of(path);
    int ok = 0;
    const int w = picture.width, h = picture.height, n = picture.planes;
    const void* data = picture.pixels.data();
    std::vector<unsigned char> bytes;
    if (ext == "png")
        ok = stbi_write_png_to_func(append_bytes, &bytes, w, h, n, data, int(picture.row_bytes()));
    else if (ext == "bmp")
        ok = stbi_write_bmp_to_func(append_bytes, &bytes, w, h, n, data);
    else if (ext == "jpg" || ext == "jpeg")
        ok = stbi_write_jpg_to_func(append_bytes, &bytes, w, h, n, data, 95);
    else {
        error = "unknown picture format '." + ext + "' for '" + path + "' (use .png, .bmp or .jpg)";
        return false;
    }
    if (!ok) {
        error = "cannot write '" + path + "': the picture could not be encoded";
        return false;
    }
    return replace_file(path, bytes, error);
}
