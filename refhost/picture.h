// Pictures as the host keeps them: 8 bits per plane, planes interleaved, rows
// packed without padding, with the file's colour profile and EXIF block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t planes = 0;
    std::vector<unsigned char> pixels; // width * height * planes bytes
    // Carried from the file read to the file written where the output's
    // format holds them: an ICC profile whose colour space fits the planes,
    // and the EXIF block from its TIFF header on (unchanged, but for the
    // orientation tag of a picture turned upright).
    std::vector<unsigned char> icc_profile;
    std::vector<unsigned char> exif;
    bool turned_upright = false;

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

// Told how decoding goes, so that a person waiting on a large picture sees
// it move: begin once the header is read and the picture will be decoded
// (with the planes it will have),
// then advance with the bytes of the file the decoder has taken (a
// baseline JPEG is decoded as it is taken; a PNG is taken first and
// inflated after).
class DecodeProgress {
public:
    virtual ~DecodeProgress() = default;
    virtual void begin(int32_t width, int32_t height, int32_t planes) = 0;
    virtual void advance(size_t done, size_t total) = 0;
};

// Decodes a PNG, JPEG or BMP held in memory, converted to `planes` planes:
// 1 grey, 3 RGB, 4 RGBA (opaque alpha where the file has none); 0 takes RGBA
// when the file has transparency and RGB otherwise. A picture whose pixels
// would take more than `max_bytes` is refused before decoding. On failure
// `why` says why in a person's words. `notes`, when given, receives a
// sentence for every change a person may not expect (16 to 8 bits, grey,
// palette or CMYK to RGB, transparency dropped, a profile or metadata that
// cannot be carried over). Portable: the fuzzer calls it as the host does.
bool decode_picture(const std::vector<unsigned char>& bytes, int32_t planes, uint64_t max_bytes, Picture& picture,
                    std::string& why, std::vector<std::string>* notes = nullptr,
                    DecodeProgress* progress = nullptr);

// Encodes by the extension of `path` (.png, .bmp, .jpg or .jpeg), with the
// picture's profile and EXIF where the format holds them.
bool encode_picture(const std::string& path, const Picture& picture, std::vector<unsigned char>& bytes,
                    std::string& error);

// A sentence for everything of `picture` that a file written as `path`
// cannot hold (transparency in a JPEG, a profile or EXIF in a BMP), and for
// an orientation tag kept without being applied.
std::vector<std::string> output_notes(const Picture& picture, const std::string& path);

// Why a file that was read is no picture this host takes, in a person's
// words; empty when it looks like a whole PNG, JPEG or BMP. Only the
// headers and a JPEG's Huffman tables are looked at: a BMP shorter than its
// headers promise is refused here, since the decoder would fill the missing
// rows with black, and a table the decoder would overrun.
std::string picture_file_problem(const std::vector<unsigned char>& bytes);

// Turns the pixels as the EXIF orientation tag says a viewer shows them, as
// an editor does when it opens a photo, and sets the tag to 1 (upright).
// Returns the sentence that says so; empty, and nothing changed, for an
// upright picture or one without the tag.
std::string turn_upright(Picture& picture);

// True when save_picture knows the extension of `path`.
bool picture_format_known(const std::string& path);

// The file edges of the above (refhost/picture_file.cpp). load_picture
// refuses pictures that the memory left to this process cannot hold.
bool load_picture(const std::string& path, int32_t planes, Picture& picture, std::string& error,
                  std::vector<std::string>* notes = nullptr, DecodeProgress* progress = nullptr);
// Writes through a new file that replaces `path` only once it is whole
// (refhost/system.h).
bool save_picture(const std::string& path, const Picture& picture, std::string& error);
