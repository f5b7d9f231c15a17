// The browser page's WebAssembly module: the filter's own Main block through
// the pixel-local row walk (filter/cellumbra_kernel.cpp, compiled again for
// wasm32), and a PNG decoder. The page decodes PNG here rather than through
// the browser because a canvas multiplies colour by alpha on the way in and
// so loses the colour under transparent pixels, which a cell takes when its
// centre lies there. Memory comes from the C library's allocator, which
// grows the module's memory; the page hands pictures in and out through it.
#include <cstdint>
#include <cstdlib>

#include "filter/cellumbra_kernel.h"
#include "runtime/pixel_loop.h"

#define STBI_ONLY_PNG
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

// What the header of a PNG says, into info[0..2]: width, height, and 4 when
// the picture has alpha (grey or colour with alpha, or a palette with a
// transparency chunk), else 3. False when it is no PNG stb can read.
EXPORT(png_info) bool png_info(const unsigned char* data, uint32_t length, int32_t* info)
{
    int w = 0, h = 0, components = 0;
    if (length > INT32_MAX || !stbi_info_from_memory(data, int(length), &w, &h, &components)) return false;
    info[0] = w, info[1] = h, info[2] = components == 2 || components == 4 ? 4 : 3;
    return true;
}

// The picture's pixels with `planes` planes interleaved (3 or 4), 8 bits each
// (16-bit samples keep their high byte); null when it cannot be decoded or
// memory runs out.
EXPORT(png_decode) unsigned char* png_decode(const unsigned char* data, uint32_t length, int32_t planes)
{
    int w = 0, h = 0, components = 0;
    if (length > INT32_MAX) return nullptr;
    return stbi_load_from_memory(data, int(length), &w, &h, &components, planes);
}

// The cells of rows top..bottom - 1 of a picture width x height with
// `planes` planes (3 or 4, the fourth kept per pixel) at `size`, read from
// the whole picture at `in` and written at the same place in `out`. Called
// band by band, so the page can abandon a picture between bands; every band
// reads the whole picture, so the result does not depend on the bands.
EXPORT(cells)
void cells(const unsigned char* in, unsigned char* out, int32_t width, int32_t height, int32_t planes, int32_t size,
           int32_t top, int32_t bottom)
{
    if (width < 1 || height < 1 || (planes != 3 && planes != 4) || top < 0 || bottom > height || top >= bottom)
        return;
    // The plug-in's controls: the size in slider 1, within the dialog's range.
    int32_t controls[8] = {size < 1 ? 1 : size > 100 ? 100 : size};
    const uintptr_t row = uintptr_t(width) * uintptr_t(planes);
    const SamplingView view{in, 0, 0, uint32_t(width - 1), uint32_t(height - 1), uintptr_t(planes), row};
    const BandBuffers buffers{const_cast<unsigned char*>(in) + uintptr_t(top) * row, out + uintptr_t(top) * row,
                              nullptr, intptr_t(row), intptr_t(row), 0};
    cellumbra_walk_rows(controls, view, buffers, planes, 0, top, width, bottom);
}

// RGB pixels as opaque RGBA, for the page's canvases: several times faster
// here than in the worker's script on a large picture.
EXPORT(opaque_rgba) void opaque_rgba(const unsigned char* rgb, unsigned char* rgba, uint32_t pixels)
{
    for (uint32_t i = 0; i < pixels; ++i, rgb += 3, rgba += 4) rgba[0] = rgb[0], rgba[1] = rgb[1], rgba[2] = rgb[2], rgba[3] = 255;
}

// The picture as it is shown when its EXIF orientation (2 to 8) says it is
// stored mirrored or turned: `to` receives it upright, height x width for
// orientations 5 to 8. Browsers turn a PNG by its eXIf chunk as they turn a
// JPEG, so the page does too.
EXPORT(orient)
void orient(const unsigned char* from, unsigned char* to, int32_t width, int32_t height, int32_t planes,
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
            const unsigned char* p = from + (intptr_t(y) * width + x) * planes;
            unsigned char* q = to + (intptr_t(v) * out_width + u) * planes;
            for (int32_t k = 0; k < planes; ++k) q[k] = p[k];
        }
}
