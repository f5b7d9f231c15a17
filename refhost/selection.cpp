#include "refhost/selection.h"

#include <algorithm>

bool make_selection(HostOptions::Selection kind, const Area& area, int32 width, int32 height, Picture& mask,
                    Rect16& bounds)
{
    mask.width = width;
    mask.height = height;
    mask.planes = 1;
    mask.pixels.assign(size_t(width) * size_t(height), 0);
    // Doubled coordinates keep the ellipse test in exact integers.
    const int64_t w = int64_t(area.right) - area.left;
    const int64_t h = int64_t(area.bottom) - area.top;
    int32 top = height, left = width, bottom = 0, right = 0;
    for (int32 y = std::max<int32>(area.top, 0); y < std::min<int32>(area.bottom, height); ++y) {
        for (int32 x = std::max<int32>(area.left, 0); x < std::min<int32>(area.right, width); ++x) {
            bool inside = true;
            if (kind == HostOptions::Selection::ellipse) {
                const int64_t dx = 2 * int64_t(x) + 1 - (int64_t(area.left) + area.right);
                const int64_t dy = 2 * int64_t(y) + 1 - (int64_t(area.top) + area.bottom);
                inside = dx * dx * h * h + dy * dy * w * w <= w * w * h * h;
            }
            if (!inside)
                continue;
            *mask.at(x, y) = 255;
            top = std::min(top, y);
            left = std::min(left, x);
            bottom = std::max(bottom, y + 1);
            right = std::max(right, x + 1);
        }
    }
    if (top >= bottom)
        return false;
    bounds = {int16(top), int16(left), int16(bottom), int16(right)};
    return true;
}
