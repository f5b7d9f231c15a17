// Pictures as the host keeps them: 8 bits per plane, planes interleaved, rows
// packed without padding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t planes = 0;
    std::vector<unsigned char> pixels; // width * height * planes bytes

    unsigned char* at(int32_t x, int32_t y)
    {
        return pixels.data() + (size_t(y) * size_t(width) + size_t(x)) * size_t(planes);
    }
    const unsigned char* at(int32_t x, int32_t y) const
    {
        return pixels.data() + (size_t(y) * size_t(width) + size_t(x)) * size_t(planes);
    }
    size_t row_bytes() const { return size_t(width) * size_t(planes); }
};

// Reads PNG, JPEG, BMP (and whatever else the decoder knows) converted to
// `planes` planes: 1 grey, 3 RGB, 4 RGBA (opaque alpha where the file has none).
bool load_picture(const std::string& path, int32_t planes, Picture& picture, std::string& error);

// Writes by the file's extension: .png, .bmp, .jpg or .jpeg.
bool save_picture(const std::string& path, const Picture& picture, std::string& error);

// True when save_picture knows the extension of `path`.
bool picture_format_known(const std::string& path);
