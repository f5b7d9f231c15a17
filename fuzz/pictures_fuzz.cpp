// libFuzzer target for the reference host's picture readers: arbitrary
// bytes through the decoding that filterhost uses for PNG, JPEG and BMP,
// with a small memory budget so that a header promising a huge picture is
// refused before any allocation. Whatever decodes is written again as PNG,
// JPEG and BMP and read back: the pixels' shape and the profile and EXIF
// that the format holds must come back unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "refhost/picture.h"

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "pictures_fuzz: does not hold: %s\n", what);
    std::abort();
}
#define require(holds) ((holds) ? void() : broken(#holds))

// Small enough that one run stays quick, large enough for real decoding.
constexpr uint64_t budget = 4u << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<unsigned char> bytes(data, data + size);
    // The plane counts the host asks for: as the file has it, grey, RGBA.
    const int32_t planes = int32_t(size % 3 == 0 ? 0 : size % 3 == 1 ? 1 : 4);
    Picture picture;
    std::string why;
    std::vector<std::string> notes;
    if (!decode_picture(bytes, planes, budget, picture, why, &notes)) {
        require(!why.empty());
        return 0;
    }
    require(picture.width > 0 && picture.height > 0 && picture.width <= 32767 && picture.height <= 32767);
    require(picture.planes >= 1 && picture.planes <= 4 && (planes == 0 || picture.planes == planes));
    require(picture.pixels.size() == size_t(picture.width) * size_t(picture.height) * size_t(picture.planes));
    if (picture.pixels.size() > (64u << 10))
        return 0; // encoding large pictures only slows the run
    for (const char* name : {"out.png", "out.jpg", "out.bmp"}) {
        std::vector<unsigned char> written;
        std::string error;
        require(encode_picture(name, picture, written, error));
        const std::vector<std::string> lost = output_notes(picture, name);
        Picture again;
        require(decode_picture(written, picture.planes, budget, again, why));
        require(again.width == picture.width && again.height == picture.height);
        if (std::string(name) == "out.png") {
            require(again.icc_profile == picture.icc_profile && again.exif == picture.exif);
            require(again.pixels == picture.pixels);
        } else if (std::string(name) == "out.jpg") {
            // An EXIF block beyond one segment is left out, and said so.
            const bool exif_fits = picture.exif.size() <= 65535 - 8;
            require(again.icc_profile == picture.icc_profile);
            require(again.exif == (exif_fits ? picture.exif : std::vector<unsigned char>()));
            bool said = false;
            for (const std::string& note : lost)
                said = said || note.find("EXIF") != std::string::npos;
            require(exif_fits || said);
        } else if (std::string(name) == "out.bmp") {
            require(again.icc_profile.empty() && again.exif.empty());
        }
    }
    return 0;
}
