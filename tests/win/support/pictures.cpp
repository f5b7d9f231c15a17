#include "win/support/pictures.h"

#include <algorithm>

#include "support/cell_reference.h"

// Only the decoder: the reference host's picture code writes the files, but
// it reads none without being told its plane count.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

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

TestPicture from_bgra(int width, int height, const std::vector<unsigned char>& bgra)
{
    TestPicture p;
    p.width = width;
    p.height = height;
    p.planes = 3;
    p.pixels.resize(size_t(width) * height * 3);
    for (size_t i = 0; i < size_t(width) * height; ++i) {
        p.pixels[i * 3] = bgra[i * 4 + 2];
        p.pixels[i * 3 + 1] = bgra[i * 4 + 1];
        p.pixels[i * 3 + 2] = bgra[i * 4];
    }
    return p;
}

bool write_png(const std::string& path, const TestPicture& p)
{
    std::string error;
    return save_picture(path, p, error);
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

::testing::AssertionResult same_picture(const TestPicture& got, const TestPicture& want)
{
    if (got.width != want.width || got.height != want.height || got.planes != want.planes)
        return ::testing::AssertionFailure() << "picture is " << got.width << " x " << got.height << " x "
                                             << got.planes;
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x)
            for (int z = 0; z < want.planes; ++z)
                if (got.at(x, y)[z] != want.at(x, y)[z])
                    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") plane " << z << " is "
                                                         << int(got.at(x, y)[z]) << ", want " << int(want.at(x, y)[z]);
    return ::testing::AssertionSuccess();
}

std::string sample_input(const std::string& dir, int width, int height, int planes)
{
    const std::string path = dir + "\\input.png";
    EXPECT_TRUE(write_png(path, make_coordinate_picture(width, height, planes)));
    return path;
}

TestPicture cells_of(const TestPicture& in, int size)
{
    TestPicture want = in;
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            const CellCentre c = nearest_centre(x, y, size);
            const unsigned char* from =
                in.at(std::clamp(c.x, 0, in.width - 1), std::clamp(c.y, 0, in.height - 1));
            std::copy(from, from + 3, want.at(x, y));
        }
    return want;
}

} // namespace wintest
