// Test pictures: made so that every pixel tells where it came from, and
// written and read as files the way filterhost reads and writes them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "refhost/picture.h"

namespace wintest {

// Interleaved planes, rows packed: the reference host's own pictures.
using TestPicture = ::Picture;

// Plane 0 is the column, plane 1 the row (both modulo 256), plane 2 a mix
// of both and plane 3 another, so a pixel delivered from the wrong place or
// the wrong plane never matches by chance in pictures up to 256 a side.
unsigned char coordinate_value(int x, int y, int plane);
TestPicture make_coordinate_picture(int width, int height, int planes);

// Three planes from rows of 32-bit BGRA pixels, as Windows bitmaps hold them.
TestPicture from_bgra(int width, int height, const std::vector<unsigned char>& bgra);

bool write_png(const std::string& path, const TestPicture& picture);
// A coordinate picture written as `dir`\input.png; its path.
std::string sample_input(const std::string& dir, int width, int height, int planes = 3);
// The product's picture at cell size `size` in one band, computed the slow way.
TestPicture cells_of(const TestPicture& in, int size);
// Reads any picture with the planes the file has (or `planes` if non-zero).
bool read_picture(const std::string& path, TestPicture& picture, int planes = 0);

// Metadata as a file carries it: an ICC profile and an EXIF block (from its
// TIFF header on).
struct FileMetadata {
    std::vector<unsigned char> icc, exif;
};
// A made-up profile of `size` bytes for the colour space `space` ("RGB ",
// "CMYK"): a valid header's size and space, the rest a pattern.
std::vector<unsigned char> made_up_profile(size_t size, const char* space);
// An EXIF block whose one tag says orientation `value`, and some camera text:
// in Motorola byte order, or with `intel` in Intel order.
std::vector<unsigned char> exif_with_orientation(unsigned char value, bool intel = false);
// A PNG or JPEG file (as written by stb) with the metadata written into it:
// PNG iCCP and eXIf chunks; a JPEG APP1 segment and APP2 segments of at
// most `part` profile bytes each.
std::vector<unsigned char> with_metadata(std::vector<unsigned char> file, const FileMetadata& m, size_t part = 65519);
// The metadata found in a PNG or JPEG file, read independently of the host.
FileMetadata metadata_of(const std::vector<unsigned char>& file);
// An 8 x 8 CMYK JPEG (Adobe transform 0), every sample 128.
std::vector<unsigned char> cmyk_jpeg();

// Every byte the same, or where the first difference lies.
::testing::AssertionResult same_picture(const TestPicture& got, const TestPicture& want);

} // namespace wintest
