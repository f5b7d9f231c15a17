#include "refhost/pixel_map.h"

#include <algorithm>

#include <windows.h>

#include "refhost/area_server.h"

namespace {

// Plug-ins build mask chains themselves; a chain longer than this is taken
// to be a loop.
constexpr int max_masks = 16;

unsigned char checker(int32 row, int32 col)
{
    return (((row >> 3) + (col >> 3)) & 1) ? 204 : 255;
}

} // namespace

OSErr pixel_map_to_bgr(const PSPixelMap& map, const VRect& area, BgrImage& image)
{
    image = BgrImage();
    if (map.baseAddr == nullptr)
        return paramErr;
    if (map.imageMode != plugInModeGrayScale && map.imageMode != plugInModeRGBColor)
        return filterBadMode;
    const int32 top = std::max(area.top, map.bounds.top);
    const int32 left = std::max(area.left, map.bounds.left);
    const int32 bottom = std::min(area.bottom, map.bounds.bottom);
    const int32 right = std::min(area.right, map.bounds.right);
    if (top >= bottom || left >= right)
        return noErr;
    const int64_t width = int64_t(right) - left;
    const int64_t height = int64_t(bottom) - top;
    if (width * height > (int64_t(1) << 26))
        return memFullErr;

    // Masks exist only from version 1 of the record on; a version 0 map may
    // be shorter than the fields that hold them.
    const PSPixelMask* masks[max_masks];
    int mask_count = 0;
    if (map.version >= 1) {
        for (const PSPixelMask* m = map.masks; m != nullptr && mask_count < max_masks; m = m->next)
            if (m->maskData != nullptr)
                masks[mask_count++] = m;
    }

    image.top = top;
    image.left = left;
    image.width = int32(width);
    image.height = int32(height);
    image.stride = (image.width * 3 + 3) & ~3;
    image.bits.assign(size_t(image.stride) * size_t(image.height), 0);
    const unsigned char* base = static_cast<const unsigned char*>(map.baseAddr);
    const bool grey = map.imageMode == plugInModeGrayScale;
    for (int32 r = top; r < bottom; ++r) {
        unsigned char* dst = image.bits.data() + size_t(r - top) * size_t(image.stride);
        for (int32 c = left; c < right; ++c, dst += 3) {
            const intptr_t offset =
                intptr_t(r - map.bounds.top) * map.rowBytes + intptr_t(c - map.bounds.left) * map.colBytes;
            const unsigned char* px = base + offset;
            int red = px[0];
            int green = grey ? red : px[map.planeBytes];
            int blue = grey ? red : px[2 * intptr_t(map.planeBytes)];
            if (mask_count > 0) {
                int alpha = 255;
                for (int i = 0; i < mask_count; ++i) {
                    const unsigned char* m = static_cast<const unsigned char*>(masks[i]->maskData) +
                                             intptr_t(r - map.bounds.top) * masks[i]->rowBytes +
                                             intptr_t(c - map.bounds.left) * masks[i]->colBytes;
                    alpha = (alpha * *m + 127) / 255;
                }
                const int back = checker(r + map.maskPhaseRow, c + map.maskPhaseCol);
                red = (red * alpha + back * (255 - alpha) + 127) / 255;
                green = (green * alpha + back * (255 - alpha) + 127) / 255;
                blue = (blue * alpha + back * (255 - alpha) + 127) / 255;
            }
            dst[0] = static_cast<unsigned char>(blue);
            dst[1] = static_cast<unsigned char>(green);
            dst[2] = static_cast<unsigned char>(red);
        }
    }
    return noErr;
}

OSErr draw_pixel_map(void* device_context, const PSPixelMap* source, const VRect* area, int32 dstRow,
                     int32 dstCol)
{
    if (device_context == nullptr || source == nullptr || area == nullptr)
        return paramErr;
    BgrImage image;
    OSErr err = pixel_map_to_bgr(*source, *area, image);
    if (err != noErr || image.width == 0)
        return err;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    int lines = SetDIBitsToDevice(static_cast<HDC>(device_context), dstCol + (image.left - area->left),
                                  dstRow + (image.top - area->top), DWORD(image.width), DWORD(image.height),
                                  0, 0, 0, UINT(image.height), image.bits.data(), &info, DIB_RGB_COLORS);
    return lines == 0 ? paramErr : OSErr(noErr);
}
