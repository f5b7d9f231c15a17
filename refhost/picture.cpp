#include "refhost/picture.h"

#include <algorithm>
#include <cctype>
#include <cstring>

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

} // namespace

bool load_picture(const std::string& path, int32_t planes, Picture& picture, std::string& error)
{
    int width = 0, height = 0, file_planes = 0;
    unsigned char* data = stbi_load(path.c_str(), &width, &height, &file_planes, planes);
    if (data == nullptr) {
        const char* reason = stbi_failure_reason();
        error = "cannot read picture '" + path + "': " + (reason ? reason : "unknown reason");
        return false;
    }
    // The host interface counts rows and columns in 16 bits.
    if (width > 32767 || height > 32767) {
        stbi_image_free(data);
        error = "picture '" + path + "' is " + std::to_string(width) + "x" + std::to_string(height) +
                "; the filter interface allows at most 32767 pixels a side";
        return false;
    }
    picture.width = width;
    picture.height = height;
    picture.planes = planes;
    picture.pixels.assign(data, data + size_t(width) * size_t(height) * size_t(planes));
    stbi_image_free(data);
    return true;
}

bool picture_format_known(const std::string& path)
{
    std::string ext = extension_of(path);
    return ext == "png" || ext == "bmp" || ext == "jpg" || ext == "jpeg";
}

bool save_picture(const std::string& path, const Picture& picture, std::string& error)
{
    std::string ext = extension_of(path);
    int ok = 0;
    const int w = picture.width, h = picture.height, n = picture.planes;
    const void* data = picture.pixels.data();
    if (ext == "png")
        ok = stbi_write_png(path.c_str(), w, h, n, data, int(picture.row_bytes()));
    else if (ext == "bmp")
        ok = stbi_write_bmp(path.c_str(), w, h, n, data);
    else if (ext == "jpg" || ext == "jpeg")
        ok = stbi_write_jpg(path.c_str(), w, h, n, data, 95);
    else {
        error = "unknown picture format '." + ext + "' for '" + path + "' (use .png, .bmp or .jpg)";
        return false;
    }
    if (!ok) {
        error = "cannot write picture '" + path + "'";
        return false;
    }
    return true;
}
