#include "support/cell_reference.h"

#include <climits>
#include <initializer_list>

std::ostream& operator<<(std::ostream& os, const CellCentre& c)
{
    return os << "(" << c.x << ", " << c.y << ")";
}

CellCentre nearest_centre(int32_t x, int32_t y, int32_t s)
{
    if (s == 0) return {x, y};
    const int64_t w = 6 * int64_t{s}, h = 4 * int64_t{s};
    const int64_t i0 = x / w, j0 = y / h;
    int64_t best_x = 0, best_y = 0, best_d = INT64_MAX;
    bool best_middle = false;
    for (int64_t i = i0 - 1; i <= i0 + 1; ++i)
        for (int64_t j = j0 - 1; j <= j0 + 1; ++j)
            for (bool middle : {false, true}) {
                const int64_t cx = w * i + (middle ? 3 * int64_t{s} : 0);
                const int64_t cy = h * j + (middle ? 2 * int64_t{s} : 0);
                const int64_t d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                bool better = d < best_d;
                if (d == best_d) {
                    if (middle != best_middle)
                        better = middle;
                    else
                        better = cy > best_y || (cy == best_y && cx > best_x);
                }
                if (better) {
                    best_d = d;
                    best_x = cx;
                    best_y = cy;
                    best_middle = middle;
                }
            }
    return {static_cast<int32_t>(best_x), static_cast<int32_t>(best_y)};
}
