// The cell pattern computed the slow way: a search over the lattice of cell
// centres, independent of the kernel's quarter rule, that every test of the
// filter's output compares with.
#pragma once

#include <cstdint>
#include <ostream>

struct CellCentre {
    int32_t x, y;
    bool operator==(const CellCentre& o) const { return x == o.x && y == o.y; }
    bool operator!=(const CellCentre& o) const { return !(*this == o); }
};

std::ostream& operator<<(std::ostream& os, const CellCentre& c);

// The nearest cell centre of pixel (x, y) for size s > 0, found among the
// corners and middles of the 3 x 3 tiles of 6s x 4s around the pixel. Ties go
// to a middle, then to the lower, then to the right centre. Size 0 gives the
// pixel itself.
CellCentre nearest_centre(int32_t x, int32_t y, int32_t s);
