#include "win/support/pictures.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "support/cell_reference.h"

// Only the decoder: the reference host's picture code writes the files, but
// it reads none without being told its plane count.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
// And its compressor and checksum, for the chunks the tests write.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_IMAGE_WRITE_STATIC
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

using Bytes = std::vector<unsigned char>;

namespace {

void put_be(Bytes& out, size_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

size_t get_be(const Bytes& b, size_t at, int bytes)
{
    size_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | b[at + size_t(i)];
    return v;
}

Bytes png_chunk(const char* type, const Bytes& data)
{
    Bytes c;
    put_be(c, data.size(), 4);
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    put_be(c, stbiw__crc32(c.data() + 4, int(data.size() + 4)), 4);
    return c;
}

Bytes jpeg_segment(unsigned char marker, const std::string& heading, const unsigned char* data, size_t size)
{
    Bytes s = {0xFF, marker};
    put_be(s, 2 + heading.size() + size, 2);
    s.insert(s.end(), heading.begin(), heading.end());
    s.insert(s.end(), data, data + size);
    return s;
}

const std::string icc_heading("ICC_PROFILE\0", 12);

} // namespace

Bytes made_up_profile(size_t size, const char* space)
{
    Bytes p(size);
    for (size_t i = 0; i < size; ++i)
        p[i] = static_cast<unsigned char>(i * 31 + i / 251);
    for (int i = 0; i < 4; ++i) {
        p[size_t(i)] = static_cast<unsigned char>(size >> (24 - 8 * i));
        p[16 + size_t(i)] = static_cast<unsigned char>(space[i]);
    }
    return p;
}

Bytes exif_with_orientation(unsigned char value, bool intel)
{
    Bytes e = intel ? Bytes{'I', 'I', '*', 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, value, 0, 0, 0, 0, 0, 0, 0}
                    : Bytes{'M', 'M', 0, '*', 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, value, 0, 0, 0, 0, 0, 0};
    const char camera[] = "a camera of the tests";
    e.insert(e.end(), camera, camera + sizeof camera);
    return e;
}

Bytes with_metadata(Bytes file, const FileMetadata& m, size_t part)
{
    Bytes extra;
    size_t at;
    if (file[0] == 0x89) {
        if (!m.icc.empty()) {
            int size = 0;
            unsigned char* packed = stbi_zlib_compress(const_cast<unsigned char*>(m.icc.data()), int(m.icc.size()),
                                                       &size, 8);
            Bytes data = {'m', 'a', 'd', 'e', ' ', 'u', 'p', 0, 0};
            data.insert(data.end(), packed, packed + size);
            std::free(packed);
            extra = png_chunk("iCCP", data);
        }
        if (!m.exif.empty()) {
            const Bytes c = png_chunk("eXIf", m.exif);
            extra.insert(extra.end(), c.begin(), c.end());
        }
        at = 33; // after the header chunk
    } else {
        if (!m.exif.empty())
            extra = jpeg_segment(0xE1, std::string("Exif\0\0", 6), m.exif.data(), m.exif.size());
        const size_t count = (m.icc.size() + part - 1) / part;
        for (size_t k = 0; k < count; ++k) {
            const Bytes s = jpeg_segment(0xE2, icc_heading + char(k + 1) + char(count), m.icc.data() + k * part,
                                         std::min(part, m.icc.size() - k * part));
            extra.insert(extra.end(), s.begin(), s.end());
        }
        at = 2; // right after the start marker
    }
    file.insert(file.begin() + long(at), extra.begin(), extra.end());
    return file;
}

FileMetadata metadata_of(const Bytes& b)
{
    FileMetadata m;
    if (b.size() > 8 && b[0] == 0x89) {
        for (size_t i = 8; i + 12 <= b.size(); i += 12 + get_be(b, i, 4)) {
            const std::string type(b.begin() + long(i) + 4, b.begin() + long(i) + 8);
            const Bytes data(b.begin() + long(i) + 8, b.begin() + long(i + 8 + get_be(b, i, 4)));
            if (type == "eXIf")
                m.exif = data;
            if (type == "iCCP") {
                const size_t z = std::strlen(reinterpret_cast<const char*>(data.data())) + 2;
                int size = 0;
                char* icc = stbi_zlib_decode_malloc(reinterpret_cast<const char*>(data.data()) + z,
                                                    int(data.size() - z), &size);
                m.icc.assign(icc, icc + size);
                std::free(icc);
            }
        }
        return m;
    }
    // JPEG: segments up to the scan; profile parts must come numbered in order.
    for (size_t i = 2; i + 4 <= b.size() && b[i + 1] != 0xDA; i += 2 + get_be(b, i + 2, 2)) {
        const Bytes data(b.begin() + long(i) + 4, b.begin() + long(i + 2 + get_be(b, i + 2, 2)));
        const std::string text(data.begin(), data.end());
        if (b[i + 1] == 0xE1 && text.compare(0, 6, std::string("Exif\0\0", 6)) == 0)
            m.exif.assign(data.begin() + 6, data.end());
        if (b[i + 1] == 0xE2 && text.compare(0, 12, icc_heading) == 0 &&
            size_t(data[12]) == m.icc.size() / 65519 + 1)
            m.icc.insert(m.icc.end(), data.begin() + 14, data.end());
    }
    return m;
}

Bytes cmyk_jpeg()
{
    Bytes j = {0xFF, 0xD8};
    const auto add = [&](const Bytes& s) { j.insert(j.end(), s.begin(), s.end()); };
    // Adobe's segment, transform 0: the four components are C, M, Y and K.
    add({0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 0});
    Bytes dqt = {0xFF, 0xDB, 0, 67, 0};
    dqt.resize(dqt.size() + 64, 1);
    add(dqt);
    add({0xFF, 0xC0, 0, 20, 8, 0, 8, 0, 8, 4, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0, 4, 0x11, 0});
    // One code each, one bit long: DC difference 0, and end of block.
    for (unsigned char table : {0x00, 0x10}) {
        Bytes dht = {0xFF, 0xC4, 0, 20, table, 1};
        dht.resize(dht.size() + 15, 0);
        dht.push_back(0);
        add(dht);
    }
    add({0xFF, 0xDA, 0, 14, 4, 1, 0, 2, 0, 3, 0, 4, 0, 0, 63, 0});
    add({0x00, 0xFF, 0xD9}); // four blocks of two zero bits
    return j;
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
