#include "win/support/pictures.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
// File-local, so that another copy of the decoders can sit beside it.
#define STB_IMAGE_STATIC
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace wintest {

unsigned char coordinate_value(int x, int y, int plane)
{
    switch (plane) {
    case 0:
        return static_cast<unsigned char>(x);
    case 1:
        return static_cast<unsigned char>(y);
    case 2:
        return static_cast<unsigned char>(x * 7 + y * 13 + 5);
    default:
        return static_cast<unsigned char>(x * 3 + y * 5 + 101);
    }
}

TestPicture make_coordinate_picture(int width, int height, int planes)
{
    TestPicture p;
    p.width = width;
    p.height = height;
    p.planes = planes;
    p.pixels.resize(size_t(width) * height * planes);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < planes; ++c)
                p.at(x, y)[c] = coordinate_value(x, y, c);
    return p;
}

bool write_png(const std::string& path, const TestPicture& p)
{
    return stbi_write_png(path.c_str(), p.width, p.height, p.planes, p.pixels.data(), p.width * p.planes) !=
           0;
}

bool read_picture(const std::string& path, TestPicture& p, int planes)
{
    int w = 0, h = 0, n = 0;
    unsigned char* data = stbi_load(path.c_str(), &w, &h, &n, planes);
    if (data == nullptr)
        return false;
    p.width = w;
    p.height = h;
    p.planes = planes ? planes : n;
    p.pixels.assign(data, data + size_t(w) * h * p.planes);
    stbi_image_free(data);
    return true;
}

} // namespace wintest
