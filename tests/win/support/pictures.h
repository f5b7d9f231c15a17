// Test pictures: made so that every pixel tells where it came from, and
// written and read as files the way filterhost reads and writes them.
#pragma once

#include <string>
#include <vector>

namespace wintest {

struct TestPicture {
    int width = 0;
    int height = 0;
    int planes = 0;
    std::vector<unsigned char> pixels; // interleaved, rows packed

    unsigned char* at(int x, int y) { return pixels.data() + (size_t(y) * width + x) * planes; }
    const unsigned char* at(int x, int y) const { return pixels.data() + (size_t(y) * width + x) * planes; }
};

// Plane 0 is the column, plane 1 the row (both modulo 256), plane 2 a mix
// of both and plane 3 another, so a pixel delivered from the wrong place or
// the wrong plane never matches by chance in pictures up to 256 a side.
unsigned char coordinate_value(int x, int y, int plane);
TestPicture make_coordinate_picture(int width, int height, int planes);

bool write_png(const std::string& path, const TestPicture& picture);
// Reads any picture with the planes the file has (or `planes` if non-zero).
bool read_picture(const std::string& path, TestPicture& picture, int planes = 0);

} // namespace wintest
