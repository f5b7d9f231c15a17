// The browser page's WebAssembly module: the filter's cell map
// (filter/cell_map.cpp, compiled again for wasm32), which moves whole pixels
// of any model and depth as the plug-in's Main block chooses them, and PNG
// and JPEG decoders. The page decodes PNG here rather than
// through the browser because a canvas multiplies colour by alpha on the way
// in and so loses the colour under transparent pixels, which a cell takes
// when its centre lies there, and JPEG because the browser converts its
// colours by the photo's profile, so that the stored values are lost. Memory comes from the C library's allocator, which
// grows the module's memory; the page hands pictures in and out through it.
#include <cstdint>
#include <cstdlib>

#include "filter/cell_map.h"

#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
// An inconsistency the decoder asserts is a fault in it: stop there.
#define STBI_ASSERT(x) ((x) ? (void)0 : __builtin_trap())
#define STB_IMAGE_IMPLEMENTATION
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wunused-function"
#include "stb_image.h"
#pragma clang diagnostic pop

#define EXPORT(name) extern "C" __attribute__((export_name(#name)))

EXPORT(reserve) unsigned char* reserve(uint32_t bytes) { return static_cast<unsigned char*>(malloc(bytes)); }
EXPORT(release) void release(void* p) { free(p); }

// What the header of a PNG or JPEG says, into info[0..3]: width, height, the planes
// it holds (1 grey, 2 grey and alpha, 3 colour, 4 colour and alpha; a palette
// gives 3, or 4 with a transparency chunk) and its bits a sample, 8 or 16.
// False when it is no PNG or JPEG stb can read (arithmetic coding, 12 bits).
EXPORT(image_info) bool image_info(const unsigned char* data, uint32_t length, int32_t* info)
{
    int w = 0, h = 0, components = 0;
    if (length > INT32_MAX || !stbi_info_from_memory(data, int(length), &w, &h, &components)) return false;
    info[0] = w, info[1] = h, info[2] = components;
    info[3] = stbi_is_16_bit_from_memory(data, int(length)) ? 16 : 8;
    return true;
}

// The picture's pixels with `planes` planes interleaved, at the depth it is
// stored in (16-bit samples in the machine's order, every value kept); null
// when it cannot be decoded or memory runs out.
EXPORT(image_decode) void* image_decode(const unsigned char* data, uint32_t length, int32_t planes, int32_t bits)
{
    int w = 0, h = 0, components = 0;
    if (length > INT32_MAX) return nullptr;
    if (bits == 16) return stbi_load_16_from_memory(data, int(length), &w, &h, &components, planes);
    return stbi_load_from_memory(data, int(length), &w, &h, &components, planes);
}

// The cells of rows top..bottom - 1 of a picture of any model and depth
// (grey, grey and alpha, 16 bits a sample): whole pixels of pixel_bytes moved
// along the rows' runs, their first colour_bytes from the centre and the
// alpha after them kept per pixel, as the kernel keeps the fourth plane.
// False for a size the map does not serve.
EXPORT(cells_stored)
bool cells_stored(const unsigned char* in, unsigned char* out, int32_t width, int32_t height, int32_t pixel_bytes,
                  int32_t colour_bytes, int32_t size, int32_t top, int32_t bottom)
{
    if (width < 1 || height < 1 || pixel_bytes < 1 || pixel_bytes > 8 || colour_bytes < 1 ||
        colour_bytes > pixel_bytes || top < 0 || bottom > height || top >= bottom)
        return false;
    size = size < 1 ? 1 : size > 100 ? 100 : size;
    const intptr_t row = intptr_t(width) * pixel_bytes;
    CellRun* runs = static_cast<CellRun*>(malloc(cell_run_capacity(size, width) * sizeof(CellRun)));
    if (!runs) return false;
    const CellSource source{in, row, {0, 0, width, height}};
    const PixelBytes format{uint32_t(pixel_bytes), uint32_t(colour_bytes), uint32_t(pixel_bytes - colour_bytes)};
    const bool done = cell_copy_area(size, source, in + top * row, row, out + top * row, row, format, 0, top, width,
                                     bottom, runs);
    free(runs);
    return done;
}

// The cells of rows top..bottom - 1 of an 8-bit picture width x height with
// `planes` planes (3 or 4, the fourth kept per pixel) at `size`, read from
// the whole picture at `in` and written at the same place in `out`. Called
// band by band, so the page can abandon a picture between bands; every band
// reads the whole picture, so the result does not depend on the bands.
EXPORT(cells)
void cells(const unsigned char* in, unsigned char* out, int32_t width, int32_t height, int32_t planes, int32_t size,
           int32_t top, int32_t bottom)
{
    if (planes == 3 || planes == 4) cells_stored(in, out, width, height, planes, 3, size, top, bottom);
}

namespace {
// A sample as 8 bits: 16-bit samples (the machine's order) rounded.
template <int Bits> inline uint32_t sample8(const unsigned char* from, intptr_t i)
{
    if (Bits == 16) return (uint32_t(reinterpret_cast<const uint16_t*>(from)[i]) * 255 + 32767) / 65535;
    return from[i];
}

// Pixels of `Planes` planes (1 grey, 2 grey and alpha, 3 RGB, 4 RGBA) made
// `k` times smaller into 8-bit RGBA, each k x k block (fewer at the right and
// bottom edges) one pixel: its colours weighted by alpha, so that the colour
// under transparent pixels does not tint what is shown, and its alpha the
// mean. k = 1 gives the pixels as they are, as RGBA.
template <int Planes, int Bits>
void shrink_to_rgba(const unsigned char* from, unsigned char* to, int32_t width, int32_t height, int32_t k)
{
    constexpr bool has_alpha = Planes == 2 || Planes == 4;
    constexpr int colours = has_alpha ? Planes - 1 : Planes;
    const int32_t out_width = (width + k - 1) / k, out_height = (height + k - 1) / k;
    for (int32_t oy = 0; oy < out_height; ++oy)
        for (int32_t ox = 0; ox < out_width; ++ox, to += 4) {
            uint64_t sum[colours] = {}, alpha = 0, count = 0;
            for (int32_t y = oy * k; y < oy * k + k && y < height; ++y)
                for (int32_t x = ox * k; x < ox * k + k && x < width; ++x, ++count) {
                    const intptr_t i = (intptr_t(y) * width + x) * Planes;
                    const uint32_t a = has_alpha ? sample8<Bits>(from, i + Planes - 1) : 255;
                    for (int c = 0; c < colours; ++c) sum[c] += uint64_t(sample8<Bits>(from, i + c)) * a;
                    alpha += a;
                }
            for (int c = 0; c < 3; ++c) {
                const uint64_t s = sum[colours == 1 ? 0 : c];
                to[c] = alpha ? static_cast<unsigned char>((s + alpha / 2) / alpha) : 0;
            }
            to[3] = static_cast<unsigned char>((alpha + count / 2) / count);
        }
}
} // namespace

// The picture (planes 1 to 4, 8 or 16 bits) as 8-bit RGBA `k` times smaller
// (1: its own size), for the page's canvases and the browser's JPEG encoder:
// grey spread to the three colours, 16 bits rounded to 8, opaque where there
// is no alpha. Fitted to the window, a large picture is shown smaller: a
// browser drawing the whole bitmap scaled took seconds a frame.
EXPORT(to_rgba)
void to_rgba(const unsigned char* from, unsigned char* rgba, int32_t width, int32_t height, int32_t planes,
             int32_t bits, int32_t k)
{
    if (k < 1) return;
    switch (planes * 100 + bits) {
    case 108: shrink_to_rgba<1, 8>(from, rgba, width, height, k); break;
    case 208: shrink_to_rgba<2, 8>(from, rgba, width, height, k); break;
    case 308: shrink_to_rgba<3, 8>(from, rgba, width, height, k); break;
    case 408: shrink_to_rgba<4, 8>(from, rgba, width, height, k); break;
    case 116: shrink_to_rgba<1, 16>(from, rgba, width, height, k); break;
    case 216: shrink_to_rgba<2, 16>(from, rgba, width, height, k); break;
    case 316: shrink_to_rgba<3, 16>(from, rgba, width, height, k); break;
    case 416: shrink_to_rgba<4, 16>(from, rgba, width, height, k); break;
    }
}

// The picture as it is shown when its EXIF orientation (2 to 8) says it is
// stored mirrored or turned: `to` receives it upright, height x width for
// orientations 5 to 8; pixels of pixel_bytes each. Browsers turn a PNG by its eXIf chunk as they turn a
// JPEG, so the page does too.
EXPORT(orient)
void orient(const unsigned char* from, unsigned char* to, int32_t width, int32_t height, int32_t pixel_bytes,
            int32_t orientation)
{
    const bool turned = orientation >= 5 && orientation <= 8;
    const intptr_t out_width = turned ? height : width;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            int32_t u = x, v = y; // where the pixel is shown
            switch (orientation) {
            case 2: u = width - 1 - x; break;
            case 3: u = width - 1 - x, v = height - 1 - y; break;
            case 4: v = height - 1 - y; break;
            case 5: u = y, v = x; break;
            case 6: u = height - 1 - y, v = x; break;
            case 7: u = height - 1 - y, v = width - 1 - x; break;
            case 8: u = y, v = width - 1 - x; break;
            }
            const unsigned char* p = from + (intptr_t(y) * width + x) * pixel_bytes;
            unsigned char* q = to + (intptr_t(v) * out_width + u) * pixel_bytes;
            for (int32_t k = 0; k < pixel_bytes; ++k) q[k] = p[k];
        }
}
