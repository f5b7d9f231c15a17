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

// Reads PNG, JPEG or BMP converted to `planes` planes: 1 grey, 3 RGB, 4 RGBA
// (opaque alpha where the file has none); 0 takes RGBA when the file has
// transparency and RGB otherwise. `notes`, when given, receives a sentence
// for every change a person may not expect (16 to 8 bits, grey or palette to
// RGB, transparency dropped, an orientation tag not applied).
bool load_picture(const std::string& path, int32_t planes, Picture& picture, std::string& error,
                  std::vector<std::string>* notes = nullptr);

// Why a file that was read is no picture this host takes, in a person's
// words; empty when it looks like a whole PNG, JPEG or BMP. Only the
// headers are looked at: a BMP shorter than its headers promise is refused
// here, since the decoder would fill the missing rows with black.
std::string picture_file_problem(const std::vector<unsigned char>& bytes);

// Writes by the file's extension: .png, .bmp, .jpg or .jpeg, through a new
// file that replaces `path` only once it is whole (refhost/system.h).
bool save_picture(const std::string& path, const Picture& picture, std::string& error);

// True when save_picture knows the extension of `path`.
bool picture_format_known(const std::string& path);
