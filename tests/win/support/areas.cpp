#include "win/support/areas.h"

#include <windows.h>

#include <cstring>

#include "refhost/area_server.h"
#include "win/support/pictures.h"

namespace wintest {

Rect16 rect(int top, int left, int bottom, int right)
{
    return Rect16{int16(top), int16(left), int16(bottom), int16(right)};
}

FilterRecord request(const Rect16& in, const Rect16& out, const Rect16& mask, int planes)
{
    FilterRecord r;
    std::memset(&r, 0, sizeof r);
    r.planes = int16(planes);
    r.inRect = in;
    r.outRect = out;
    r.maskRect = mask;
    r.inHiPlane = r.outHiPlane = int16(planes - 1);
    r.inputRate = r.maskRate = 1 << 16;
    r.inputPadding = r.outputPadding = r.maskPadding = plugInDoesNotWantPadding;
    return r;
}

// Every byte of `data` (rows of `row_bytes` over `area`, planes lo..lo+n-1)
// against the coordinate picture seen at `factor`.
::testing::AssertionResult holds_source(const void* data, int32 row_bytes, const Rect16& area, int lo, int n,
                                        int factor)
{
    if (data == nullptr)
        return ::testing::AssertionFailure() << "no data";
    if (row_bytes != (area.right - area.left) * n)
        return ::testing::AssertionFailure() << "row bytes " << row_bytes;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            for (int c = 0; c < n; ++c) {
                const unsigned char got = p[(y - area.top) * row_bytes + (x - area.left) * n + c];
                const unsigned char want = coordinate_value(x * factor, y * factor, lo + c);
                if (got != want)
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y << " plane " << lo + c
                                                         << ": " << int(got) << " instead of " << int(want);
            }
    return ::testing::AssertionSuccess();
}

bool inaccessible(const void* address)
{
    MEMORY_BASIC_INFORMATION info;
    return VirtualQuery(address, &info, sizeof info) == sizeof info &&
           (info.State != MEM_COMMIT || (info.Protect & PAGE_NOACCESS) != 0);
}

} // namespace wintest
