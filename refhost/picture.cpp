#include "refhost/picture.h"
#include "refhost/block_pool.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
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
// Only the formats the host takes: no other decoder guesses at a file
// whose header failed its own.
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
// A second guard behind the host's own limits, which come first.
#define STBI_MAX_DIMENSIONS 65535
// A decoded picture's block, once its pixels are copied out, serves an image
// area later (refhost/block_pool.h).
#define STBI_MALLOC(bytes) block_pool::decoder_malloc(bytes)
#define STBI_REALLOC_SIZED(block, old_bytes, new_bytes) block_pool::decoder_realloc(block, old_bytes, new_bytes)
#define STBI_FREE(block) block_pool::decoder_free(block)
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

using Bytes = std::vector<unsigned char>;

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

bool is_jpeg_name(const std::string& ext) { return ext == "jpg" || ext == "jpeg"; }

uint32_t get_le(const Bytes& b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | b[at + size_t(i)];
    return v;
}

uint32_t get_be(const Bytes& b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | b[at + size_t(i)];
    return v;
}

void put_be(Bytes& out, uint32_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

bool is_png(const Bytes& b)
{
    return b.size() >= 8 && std::memcmp(b.data(), "\x89PNG\r\n\x1a\n", 8) == 0;
}
bool is_jpeg(const Bytes& b)
{
    return b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF;
}
bool is_bmp(const Bytes& b)
{
    return b.size() >= 2 && b[0] == 'B' && b[1] == 'M';
}

const char* const damaged = "the file is damaged or cut short";

// Bits per pixel of a BMP, 0 when its headers are cut.
uint32_t bmp_bits(const Bytes& b)
{
    if (b.size() < 18)
        return 0;
    const uint32_t header = get_le(b, 14, 4);
    if (header == 12)
        return b.size() >= 26 ? get_le(b, 24, 2) : 0;
    return b.size() >= 30 ? get_le(b, 28, 2) : 0;
}

// The decoder trusts a JPEG's Huffman tables: more than 256 codes in one
// table would write past its arrays, and a scan that names a table no
// segment defined before it would decode with memory never written. Every
// table and scan it could meet is checked: in segments, found by their
// lengths as the decoder finds them, and at every marker within coded data,
// where it may resume.
bool jpeg_tables_sound(const Bytes& b)
{
    const auto byte = [&](size_t at) -> size_t { return at < b.size() ? b[at] : 0; }; // zeros past the end, as read
    bool defined[2][4] = {}; // [DC, AC][table]
    bool progressive = false;
    size_t i = 2;
    while (i + 1 < b.size()) {
        const unsigned char marker = b[i + 1];
        if (b[i] != 0xFF || marker == 0xFF) { // coded data, junk or fill bytes
            ++i;
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9)) { // no length
            i += 2;
            continue;
        }
        const size_t length = byte(i + 2) << 8 | byte(i + 3);
        if (marker == 0xC4) {
            long left = long(length) - 2;
            for (size_t at = i + 4; left > 0 && at < b.size();) {
                const size_t kind = byte(at) >> 4, table = byte(at) & 15;
                if (kind <= 1 && table <= 3)
                    defined[kind][table] = true;
                size_t codes = 0;
                for (size_t k = 1; k <= 16; ++k)
                    codes += byte(at + k);
                if (codes > 256)
                    return false;
                left -= long(17 + codes);
                at += 17 + codes;
            }
        } else if (marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE) {
            progressive = true;
        } else if (marker == 0xDA) {
            // A progressive scan of DC coefficients reads a DC table in its
            // first pass only, one of AC coefficients an AC table; any other
            // scan reads both.
            const size_t components = byte(i + 4), selectors = i + 5;
            const size_t first = byte(selectors + 2 * components), refining = byte(selectors + 2 * components + 2) >> 4;
            const bool dc = !progressive || (first == 0 && refining == 0), ac = !progressive || first != 0;
            for (size_t k = 0; k < components; ++k) {
                const size_t tables = byte(selectors + 2 * k + 1);
                if ((dc && (tables >> 4 > 3 || !defined[0][tables >> 4])) || (ac && (tables & 15) > 3) ||
                    (ac && !defined[1][tables & 15]))
                    return false;
            }
        }
        i += length >= 2 ? 2 + length : 2;
    }
    return true;
}

// What a JPEG holds at most: an EXIF block in one APP1 segment after its
// "Exif\0\0", a profile in 255 APP2 segments after their 14-byte heading.
constexpr size_t jpeg_exif_max = 65535 - 2 - 6;
constexpr size_t icc_part_max = 65535 - 2 - 14;
constexpr size_t icc_max = 255 * icc_part_max;
const unsigned char icc_heading[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};

// What a file says besides its pixels.
struct FileFacts {
    Bytes icc;
    Bytes exif;
    bool icc_damaged = false;
    bool cmyk = false;
    // A chunk that claims more bytes than the file holds: the decoder would
    // first grow its buffer to the claim, gigabytes for a few bytes of file.
    bool chunk_overruns = false;
    std::vector<std::string> dropped; // what cannot be carried over, in words
};

void drop(FileFacts& facts, const char* what)
{
    if (std::find(facts.dropped.begin(), facts.dropped.end(), what) == facts.dropped.end())
        facts.dropped.push_back(what);
}

void read_jpeg_facts(const Bytes& b, FileFacts& facts)
{
    // A profile comes in numbered parts, each naming the count.
    std::vector<Bytes> parts;
    std::vector<bool> seen;
    size_t i = 2;
    while (i + 4 <= b.size() && b[i] == 0xFF) {
        const unsigned char marker = b[i + 1];
        if (marker == 0xFF) { // fill byte
            ++i;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break;
        const size_t length = get_be(b, i + 2, 2);
        if (length < 2 || i + 2 + length > b.size())
            break;
        const size_t at = i + 4, n = length - 2;
        const auto starts = [&](const void* tag, size_t size) {
            return n >= size && std::memcmp(&b[at], tag, size) == 0;
        };
        if (marker == 0xE1 && starts("Exif\0\0", 6)) {
            if (facts.exif.empty())
                facts.exif.assign(b.begin() + long(at + 6), b.begin() + long(at + n));
        } else if (marker == 0xE1) {
            drop(facts, "XMP data");
        } else if (marker == 0xE2 && starts(icc_heading, 12) && n >= 14) {
            const size_t number = b[at + 12], count = b[at + 13];
            if (parts.empty() && count > 0) {
                parts.resize(count);
                seen.resize(count);
            }
            if (number == 0 || number > parts.size() || count != parts.size() || seen[number - 1])
                facts.icc_damaged = true;
            else {
                parts[number - 1].assign(b.begin() + long(at + 14), b.begin() + long(at + n));
                seen[number - 1] = true;
            }
        } else if (marker == 0xED) {
            drop(facts, "IPTC data");
        } else if (marker >= 0xE2 && marker <= 0xEF && marker != 0xEE) { // 0xEE: the colour transform, applied
            drop(facts, "other application data");
        } else if (marker == 0xFE) {
            drop(facts, "comment");
        } else if (marker == 0xE0 && starts("JFIF\0", 5) && n >= 8 && b[at + 7] != 0) {
            drop(facts, "resolution");
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (n >= 6 && b[at + 5] == 4)
                facts.cmyk = true;
        }
        i += 2 + length;
    }
    if (std::find(seen.begin(), seen.end(), false) != seen.end())
        facts.icc_damaged = true;
    if (!facts.icc_damaged)
        for (const Bytes& part : parts)
            facts.icc.insert(facts.icc.end(), part.begin(), part.end());
}

// A zlib stream inflated into at most icc_max bytes, in steps so that a
// small profile takes little memory.
bool inflate_bounded(const unsigned char* data, size_t size, Bytes& out)
{
    if (size > size_t(INT_MAX))
        return false;
    for (size_t room = size_t(1) << 16;; room = std::min(room * 16, icc_max)) {
        out.resize(room);
        const int got = stbi_zlib_decode_buffer(reinterpret_cast<char*>(out.data()), int(room),
                                                reinterpret_cast<const char*>(data), int(size));
        if (got >= 0) {
            out.resize(size_t(got));
            return true;
        }
        const char* reason = stbi_failure_reason();
        if (room == icc_max || reason == nullptr || std::strcmp(reason, "output buffer limit") != 0) {
            out.clear();
            return false;
        }
    }
}

void read_png_facts(const Bytes& b, FileFacts& facts)
{
    bool gamma = false, srgb = false, icc = false;
    size_t i = 8;
    while (i + 12 <= b.size()) {
        const uint64_t length = get_be(b, i, 4);
        if (i + 12 + length > b.size()) {
            facts.chunk_overruns = true;
            break;
        }
        const size_t at = i + 8, n = size_t(length);
        const auto is = [&](const char* type) { return std::memcmp(&b[i + 4], type, 4) == 0; };
        if (is("IEND"))
            break;
        if (is("iCCP") && !icc) {
            icc = true;
            // A name of 1 to 79 bytes, its zero, the method (0, zlib), the stream.
            const unsigned char* end = &b[at] + n;
            const unsigned char* zero = std::find(&b[at], end, 0);
            if (zero == end || end - zero < 2 || zero[1] != 0 ||
                !inflate_bounded(zero + 2, size_t(end - zero - 2), facts.icc))
                facts.icc_damaged = true;
        } else if (is("eXIf")) {
            if (facts.exif.empty())
                facts.exif.assign(b.begin() + long(at), b.begin() + long(at + n));
        } else if (is("tEXt") || is("zTXt") || is("iTXt")) {
            drop(facts, "text");
        } else if (is("pHYs")) {
            drop(facts, "resolution");
        } else if (is("gAMA") || is("cHRM")) {
            gamma = true;
        } else if (is("sRGB")) {
            srgb = true;
        }
        i += 12 + n;
    }
    // Beside a profile or the sRGB mark, viewers ignore them.
    if (gamma && !srgb && !icc)
        drop(facts, "gamma");
}

// Where the value of the orientation tag of an EXIF block (from its TIFF
// header on) lies, 0 when there is none.
size_t exif_orientation_at(const Bytes& t)
{
    if (t.size() < 8 || (t[0] != 'I' && t[0] != 'M'))
        return 0;
    const bool le = t[0] == 'I';
    // Offsets come from the file: reckoned in 64 bits, so that none wraps.
    const auto get = [&](uint64_t at, int bytes) -> uint32_t {
        if (at + uint64_t(bytes) > t.size())
            return 0;
        return le ? get_le(t, size_t(at), bytes) : get_be(t, size_t(at), bytes);
    };
    const uint64_t ifd = get(4, 4);
    const uint32_t count = get(ifd, 2);
    for (uint32_t k = 0; k < count && ifd + 2 + 12 * (uint64_t(k) + 1) <= t.size(); ++k) {
        const uint64_t entry = ifd + 2 + 12 * uint64_t(k);
        if (get(entry, 2) == 0x0112)
            return size_t(entry + 8);
    }
    return 0;
}

// The orientation tag's value; 1 (upright) when there is none.
int exif_orientation(const Bytes& t)
{
    const size_t at = exif_orientation_at(t);
    return at == 0 ? 1 : int(t[0] == 'I' ? get_le(t, at, 2) : get_be(t, at, 2));
}

// The colour space an ICC profile is for, in words ("RGB", "grey", "CMYK").
std::string profile_space(const Bytes& icc)
{
    const std::string space(icc.begin() + 16, icc.begin() + 20);
    if (space == "RGB ")
        return "RGB";
    if (space == "GRAY")
        return "grey";
    for (char c : space)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != ' ')
            return "an unknown colour space";
    return space.substr(0, space.find_last_not_of(' ') + 1);
}

std::string megabytes(uint64_t bytes, bool round_up = true)
{
    return std::to_string((bytes + (round_up ? (1u << 20) - 1 : 0)) >> 20) + " MB";
}

std::string joined(const std::vector<std::string>& words)
{
    std::string s;
    for (size_t i = 0; i < words.size(); ++i)
        s += (i == 0 ? "" : i + 1 == words.size() ? " and " : ", ") + words[i];
    return s;
}

} // namespace

std::string picture_file_problem(const Bytes& b)
{
    if (b.empty())
        return "the file is empty (0 bytes)";
    if (!is_png(b) && !is_jpeg(b) && !is_bmp(b))
        return "not a PNG, JPEG or BMP picture";
    if (is_jpeg(b))
        return jpeg_tables_sound(b) ? std::string() : damaged;
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

namespace {

// The file in memory as the decoder's reader, telling how far it has got.
struct ProgressReader {
    const Bytes& bytes;
    DecodeProgress& progress;
    size_t at = 0, told = 0;

    static int read(void* user, char* data, int size)
    {
        auto& r = *static_cast<ProgressReader*>(user);
        const size_t n = std::min(size_t(std::max(size, 0)), r.bytes.size() - r.at);
        std::memcpy(data, r.bytes.data() + r.at, n);
        r.at += n;
        // About every percent: the decoder reads in small pieces.
        if (r.at - r.told >= r.bytes.size() / 100 + 1) {
            r.told = r.at;
            r.progress.advance(r.at, r.bytes.size());
        }
        return int(n);
    }
    static void skip(void* user, int n)
    {
        auto& r = *static_cast<ProgressReader*>(user);
        r.at = n < 0 ? r.at - std::min(r.at, size_t(-int64_t(n))) : std::min(r.bytes.size(), r.at + size_t(n));
    }
    static int eof(void* user)
    {
        auto& r = *static_cast<ProgressReader*>(user);
        return r.at >= r.bytes.size();
    }
};

} // namespace

bool decode_picture(const Bytes& bytes, int32_t planes, uint64_t max_bytes, Picture& picture, std::string& why,
                    std::vector<std::string>* notes, DecodeProgress* progress)
{
    why = picture_file_problem(bytes);
    if (why.empty() && bytes.size() > size_t(INT_MAX))
        why = "too large a file for this host (" + megabytes(bytes.size()) + ")";
    int width = 0, height = 0, file_planes = 0;
    if (why.empty() && !stbi_info_from_memory(bytes.data(), int(bytes.size()), &width, &height, &file_planes)) {
        const char* reason = stbi_failure_reason();
        why = reason && std::strcmp(reason, "too large") == 0
                  ? "too large: more than 65535 pixels a side (the filter interface takes at most 32767)"
                  : damaged;
    }
    if (why.empty() && (width == 0 || height == 0))
        why = "the picture has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")";
    // The host interface counts rows and columns in 16 bits.
    if (why.empty() && (width > 32767 || height > 32767))
        why = "too large: " + std::to_string(width) + " x " + std::to_string(height) +
              " (the filter interface takes at most 32767 pixels a side)";
    // Every 8 x 8 block of a JPEG takes a bit at least, even in a scan of
    // one colour; a file far shorter would keep the decoder busy on
    // nothing, for minutes at the largest sizes.
    if (why.empty() && is_jpeg(bytes) && uint64_t(bytes.size()) * 8 * 64 < uint64_t(width) * uint64_t(height))
        why = damaged;
    if (!why.empty())
        return false;
    const bool has_alpha = file_planes == 2 || file_planes == 4;
    if (planes == 0)
        planes = has_alpha ? 4 : 3;
    // Found from the header, before the decoder allocates anything.
    const uint64_t need = uint64_t(width) * uint64_t(height) * uint64_t(planes);
    if (need > max_bytes) {
        why = "not enough memory for a " + std::to_string(width) + " x " + std::to_string(height) +
              " picture (its pixels take " + megabytes(need) + "; " + megabytes(max_bytes, false) +
              " can be spared)";
        return false;
    }
    FileFacts facts;
    if (is_png(bytes))
        read_png_facts(bytes, facts);
    else if (is_jpeg(bytes))
        read_jpeg_facts(bytes, facts);
    if (facts.chunk_overruns) {
        why = damaged;
        return false;
    }
    unsigned char* data = nullptr;
    if (progress != nullptr) {
        progress->begin(width, height, planes);
        ProgressReader reader{bytes, *progress};
        const stbi_io_callbacks callbacks = {ProgressReader::read, ProgressReader::skip, ProgressReader::eof};
        data = stbi_load_from_callbacks(&callbacks, &reader, &width, &height, &file_planes, planes);
    } else {
        data = stbi_load_from_memory(bytes.data(), int(bytes.size()), &width, &height, &file_planes, planes);
    }
    if (data == nullptr) {
        const char* reason = stbi_failure_reason();
        why = reason && std::strcmp(reason, "outofmem") == 0
                  ? "not enough memory for a " + std::to_string(width) + " x " + std::to_string(height) + " picture"
                  : std::string(damaged);
        return false;
    }
    picture.width = width;
    picture.height = height;
    picture.planes = planes;
    picture.pixels.assign(data, data + size_t(width) * size_t(height) * size_t(planes));
    stbi_image_free(data);

    // A profile stays only where it describes the planes written.
    picture.icc_profile.clear();
    std::string profile_note;
    if (!facts.icc_damaged && facts.icc.size() >= 128) {
        const std::string space = profile_space(facts.icc), wanted = planes <= 2 ? "grey" : "RGB";
        if (space == wanted)
            picture.icc_profile = std::move(facts.icc);
        else
            profile_note = "the picture's colour profile is for " + space + " and does not fit the " + wanted +
                           " output; it is dropped";
    } else if (facts.icc_damaged || !facts.icc.empty()) {
        profile_note = "the picture's colour profile is damaged; it is dropped";
    }
    picture.exif = std::move(facts.exif);

    if (notes != nullptr) {
        if (stbi_is_16_bit_from_memory(bytes.data(), int(bytes.size())))
            notes->push_back("the picture has 16 bits per channel; it is filtered and written with 8");
        const bool palette = (is_png(bytes) && bytes.size() > 25 && bytes[25] == 3) ||
                             (is_bmp(bytes) && bmp_bits(bytes) <= 8);
        if (facts.cmyk && planes > 2)
            notes->push_back("the picture is CMYK; it is filtered and written as RGB");
        else if (palette && planes > 1)
            notes->push_back("the picture has a colour palette; it is filtered and written as RGB");
        else if (file_planes <= 2 && planes > 2)
            notes->push_back("the picture is grey; it is filtered and written as RGB");
        if (has_alpha && planes != 4)
            notes->push_back("the picture's transparency is dropped (filtered without alpha)");
        if (!profile_note.empty())
            notes->push_back(profile_note);
        if (!facts.dropped.empty())
            notes->push_back("the picture's " + joined(facts.dropped) + (facts.dropped.size() == 1 ? " is" : " are") +
                             " not carried over (only the colour profile and EXIF are)");
    }
    return true;
}

std::vector<std::string> output_notes(const Picture& picture, const std::string& path)
{
    std::vector<std::string> notes;
    const std::string ext = extension_of(path);
    const bool jpeg = is_jpeg_name(ext), bmp = ext == "bmp";
    if (picture.planes == 4 && jpeg)
        notes.push_back("JPEG keeps no transparency: '" + path + "' is written without it");
    const bool icc_kept = !picture.icc_profile.empty() && !bmp && !(jpeg && picture.icc_profile.size() > icc_max);
    const bool exif_kept = !picture.exif.empty() && !bmp && !(jpeg && picture.exif.size() > jpeg_exif_max);
    std::vector<std::string> lost;
    if (!picture.icc_profile.empty() && !icc_kept)
        lost.push_back("colour profile (" + std::to_string(picture.icc_profile.size()) + " bytes)");
    if (!picture.exif.empty() && !exif_kept)
        lost.push_back("EXIF block (" + std::to_string(picture.exif.size()) + " bytes)");
    if (!lost.empty())
        notes.push_back(std::string(bmp ? "BMP holds no colour profile or EXIF" : "too large for a JPEG") + ": '" +
                        path + "' is written without the picture's " + joined(lost));
    const int orientation = exif_orientation(picture.exif);
    if (orientation >= 2 && orientation <= 8 && !picture.turned_upright)
        notes.push_back("the orientation tag (" + std::to_string(orientation) + ") " +
                        (exif_kept ? "is kept, not applied: the pixels are filtered as stored, and viewers turn "
                                     "the result as they turn the original"
                                   : "is not applied and cannot be kept: viewers show the result turned against "
                                     "the original"));
    return notes;
}

std::string turn_upright(Picture& picture)
{
    const int orientation = exif_orientation(picture.exif);
    if (orientation < 2 || orientation > 8)
        return std::string();
    const size_t w = size_t(picture.width), h = size_t(picture.height), n = size_t(picture.planes);
    // From 5 on, rows and columns trade places.
    const bool across = orientation >= 5;
    const size_t out_w = across ? h : w, out_h = across ? w : h;
    Bytes turned(picture.pixels.size());
    for (size_t y = 0; y < out_h; ++y)
        for (size_t x = 0; x < out_w; ++x) {
            // The stored pixel that shows at (x, y) once the picture is upright.
            size_t sx = x, sy = y;
            switch (orientation) {
            case 2: sx = w - 1 - x; break;
            case 3: sx = w - 1 - x; sy = h - 1 - y; break;
            case 4: sy = h - 1 - y; break;
            case 5: sx = y; sy = x; break;
            case 6: sx = y; sy = h - 1 - x; break;
            case 7: sx = w - 1 - y; sy = h - 1 - x; break;
            case 8: sx = w - 1 - y; sy = x; break;
            }
            std::memcpy(&turned[(y * out_w + x) * n], &picture.pixels[(sy * w + sx) * n], n);
        }
    picture.pixels.swap(turned);
    picture.width = int32_t(out_w);
    picture.height = int32_t(out_h);
    // The rest of the EXIF block travels as it was; only the tag says upright now.
    const size_t at = exif_orientation_at(picture.exif);
    picture.exif[at] = picture.exif[0] == 'I' ? 1 : 0;
    picture.exif[at + 1] = picture.exif[0] == 'I' ? 0 : 1;
    picture.turned_upright = true;
    static const char* const how[] = {"", "", "mirrored", "a half turn", "flipped upside down",
                                      "mirrored, a quarter turn anticlockwise", "a quarter turn clockwise",
                                      "mirrored, a quarter turn clockwise", "a quarter turn anticlockwise"};
    return std::string("the picture is turned upright (") + how[orientation] + ") as its orientation tag (" +
           std::to_string(orientation) + ") asks, as an editor opens it; the output's tag says upright (1). "
           "To filter it as stored, use --keep-orientation";
}

bool picture_format_known(const std::string& path)
{
    std::string ext = extension_of(path);
    return ext == "png" || ext == "bmp" || is_jpeg_name(ext);
}

namespace {

void append_bytes(void* context, void* data, int size)
{
    auto* out = static_cast<Bytes*>(context);
    const unsigned char* p = static_cast<const unsigned char*>(data);
    out->insert(out->end(), p, p + size);
}

void put_png_chunk(Bytes& out, const char* type, const unsigned char* data, size_t size)
{
    put_be(out, uint32_t(size), 4);
    const size_t from = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    put_be(out, stbiw__crc32(out.data() + from, int(size + 4)), 4);
}

// The profile and EXIF chunks, which go before the pixel data.
bool png_metadata(const Picture& picture, Bytes& out)
{
    if (!picture.icc_profile.empty()) {
        int packed_size = 0;
        unsigned char* packed = stbi_zlib_compress(const_cast<unsigned char*>(picture.icc_profile.data()),
                                                   int(picture.icc_profile.size()), &packed_size, 8);
        if (packed == nullptr)
            return false;
        // Name, its zero, the method (zlib).
        Bytes data = {'I', 'C', 'C', ' ', 'p', 'r', 'o', 'f', 'i', 'l', 'e', 0, 0};
        data.insert(data.end(), packed, packed + packed_size);
        STBIW_FREE(packed);
        put_png_chunk(out, "iCCP", data.data(), data.size());
    }
    if (!picture.exif.empty())
        put_png_chunk(out, "eXIf", picture.exif.data(), picture.exif.size());
    return true;
}

void put_jpeg_segment(Bytes& out, unsigned char marker, const unsigned char* heading, size_t heading_size,
                      const unsigned char* data, size_t size)
{
    out.push_back(0xFF);
    out.push_back(marker);
    put_be(out, uint32_t(2 + heading_size + size), 2);
    out.insert(out.end(), heading, heading + heading_size);
    out.insert(out.end(), data, data + size);
}

void jpeg_metadata(const Picture& picture, Bytes& out)
{
    const Bytes& exif = picture.exif;
    if (!exif.empty() && exif.size() <= jpeg_exif_max)
        put_jpeg_segment(out, 0xE1, reinterpret_cast<const unsigned char*>("Exif\0\0"), 6, exif.data(), exif.size());
    const Bytes& icc = picture.icc_profile;
    if (icc.empty() || icc.size() > icc_max)
        return;
    const size_t count = (icc.size() + icc_part_max - 1) / icc_part_max;
    for (size_t k = 0; k < count; ++k) {
        unsigned char heading[14];
        std::memcpy(heading, icc_heading, 12);
        heading[12] = static_cast<unsigned char>(k + 1);
        heading[13] = static_cast<unsigned char>(count);
        const size_t from = k * icc_part_max;
        put_jpeg_segment(out, 0xE2, heading, 14, icc.data() + from, std::min(icc_part_max, icc.size() - from));
    }
}

} // namespace

bool encode_picture(const std::string& path, const Picture& picture, Bytes& bytes, std::string& error)
{
    std::string ext = extension_of(path);
    int ok = 0;
    const int w = picture.width, h = picture.height, n = picture.planes;
    const void* data = picture.pixels.data();
    bytes.clear();
    Bytes metadata;
    size_t at = 0; // where the metadata goes
    if (ext == "png") {
        ok = stbi_write_png_to_func(append_bytes, &bytes, w, h, n, data, int(picture.row_bytes())) &&
             png_metadata(picture, metadata);
        at = 8 + 12 + 13; // after the signature and the header chunk
    } else if (ext == "bmp") {
        ok = stbi_write_bmp_to_func(append_bytes, &bytes, w, h, n, data);
    } else if (is_jpeg_name(ext)) {
        ok = stbi_write_jpg_to_func(append_bytes, &bytes, w, h, n, data, 95);
        jpeg_metadata(picture, metadata);
        // After the start marker and the JFIF segment, which comes first.
        at = 2;
        if (ok && bytes.size() >= 6 && bytes[2] == 0xFF && bytes[3] == 0xE0)
            at = 4 + get_be(bytes, 4, 2);
    } else {
        error = "unknown picture format '." + ext + "' for '" + path + "' (use .png, .bmp or .jpg)";
        return false;
    }
    if (!ok || at > bytes.size()) {
        error = "cannot write '" + path + "': the picture could not be encoded";
        return false;
    }
    bytes.insert(bytes.begin() + long(at), metadata.begin(), metadata.end());
    return true;
}
