// The reference host: its area service, pixel-map drawing and PIPL reading
// in-process, and filterhost.exe as a whole through its command line.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include <windows.h>

// The host's units are built into this test as well, so that they can be
// driven directly, with exact records, besides through filterhost.exe.
#include "refhost/area_server.cpp"
#include "refhost/host.cpp"
#include "refhost/host_win.cpp"
#include "refhost/options.cpp"
#include "refhost/picture.cpp"
#include "refhost/pipl.cpp"
#include "refhost/pixel_map.cpp"
#include "refhost/selection.cpp"

#include "win/support/host_runner.h"
#include "win/support/pictures.h"

using namespace wintest;

namespace {

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

bool same_rect(const Rect16& a, const Rect16& b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
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

} // namespace

// ------------------------------------------------------------ area service

TEST(AreaService, DeliversExactlyTheRequestedAreasAtFactorOne)
{
    const Picture source = make_coordinate_picture(40, 30, 3);
    Picture dest = source;
    AreaServer server(source, dest, nullptr);
    FilterRecord r = request(rect(2, 3, 9, 11), rect(4, 5, 6, 10), rect(0, 0, 0, 0), 3);
    ASSERT_EQ(noErr, server.serve(r));
    EXPECT_TRUE(holds_source(r.inData, r.inRowBytes, r.inRect, 0, 3, 1));
    EXPECT_TRUE(holds_source(r.outData, r.outRowBytes, r.outRect, 0, 3, 1));
    EXPECT_EQ(nullptr, r.maskData);
    // The byte after each buffer is not the plug-in's to touch.
    EXPECT_TRUE(inaccessible(static_cast<unsigned char*>(r.inData) + 7 * r.inRowBytes));
    EXPECT_TRUE(inaccessible(static_cast<unsigned char*>(r.outData) + 2 * r.outRowBytes));

    // A plane range: planes 1 and 2 only, two bytes a pixel.
    r.inLoPlane = 1;
    r.inHiPlane = 2;
    ASSERT_EQ(noErr, server.serve(r));
    EXPECT_TRUE(holds_source(r.inData, r.inRowBytes, r.inRect, 1, 2, 1));
}

TEST(AreaService, DeliversReducedPicturesAtWholeSamplingFactors)
{
    const Picture source = make_coordinate_picture(40, 30, 4);
    Picture dest = source;
    AreaServer server(source, dest, nullptr);
    // 3 * 65537: a rate a little above 3 still means factor 3. The reduced
    // picture is 14 x 10; its last pixel is source pixel (39, 27).
    FilterRecord r = request(rect(0, 0, 10, 14), rect(1, 2, 5, 9), rect(0, 0, 0, 0), 4);
    r.inputRate = 3 * 65537;
    ASSERT_EQ(noErr, server.serve(r));
    EXPECT_TRUE(same_rect(r.inRect, rect(0, 0, 10, 14)));
    EXPECT_TRUE(holds_source(r.inData, r.inRowBytes, r.inRect, 0, 4, 3));
    EXPECT_TRUE(holds_source(r.outData, r.outRowBytes, r.outRect, 0, 4, 3));

    EXPECT_EQ(1, AreaServer::sampling_factor(65536));
    EXPECT_EQ(1, AreaServer::sampling_factor(65537));
    EXPECT_EQ(1, AreaServer::sampling_factor(0));
    EXPECT_EQ(1, AreaServer::sampling_factor(-5 * 65536));
    EXPECT_EQ(32, AreaServer::sampling_factor(32 * 65537));
}

TEST(AreaService, CutsAreasToThePictureUnlessPaddingIsWanted)
{
    const Picture source = make_coordinate_picture(20, 10, 3);
    Picture dest = source;
    AreaServer server(source, dest, nullptr);

    FilterRecord r = request(rect(-2, 15, 4, 25), rect(8, -3, 14, 2), rect(0, 0, 0, 0), 3);
    ASSERT_EQ(noErr, server.serve(r));
    EXPECT_TRUE(same_rect(r.inRect, rect(0, 15, 4, 20)));
    EXPECT_TRUE(holds_source(r.inData, r.inRowBytes, r.inRect, 0, 3, 1));
    EXPECT_TRUE(same_rect(r.outRect, rect(8, 0, 10, 2)));
    EXPECT_TRUE(holds_source(r.outData, r.outRowBytes, r.outRect, 0, 3, 1));

    // Wholly outside: nothing, and no buffer.
    r = request(rect(10, 0, 12, 5), rect(0, 30, 5, 40), rect(0, 0, 0, 0), 3);
    ASSERT_EQ(noErr, server.serve(r));
    EXPECT_EQ(nullptr, r.inData);
    EXPECT_EQ(nullptr, r.outData);
    EXPECT_EQ(0, r.inRowBytes);

    // A pad value: the whole area, the pad beyond the picture.
    r = request(rect(-1, 18, 2, 22), rect(0, 0, 0, 0), rect(0, 0, 0, 0), 3);
    r.inputPadding = 255;
    ASSERT_EQ(noErr, server.serve(r));
    ASSERT_TRUE(same_rect(r.inRect, rect(-1, 18, 2, 22)));
    ASSERT_EQ(12, r.inRowBytes);
    const unsigned char* p = static_cast<const unsigned char*>(r.inData);
    for (int y = -1; y < 2; ++y)
        for (int x = 18; x < 22; ++x)
            for (int c = 0; c < 3; ++c) {
                const bool inside = y >= 0 && x < 20;
                EXPECT_EQ(inside ? coordinate_value(x, y, c) : 255, p[(y + 1) * 12 + (x - 18) * 3 + c])
                    << x << "," << y;
            }

    // Edge replication: beyond the picture, the nearest edge pixel.
    r.inputPadding = plugInWantsEdgeReplication;
    ASSERT_EQ(noErr, server.serve(r));
    p = static_cast<const unsigned char*>(r.inData);
    EXPECT_EQ(coordinate_value(18, 0, 0), p[0]);                  // (18,-1) takes (18,0)
    EXPECT_EQ(coordinate_value(19, 0, 1), p[3 * 3 + 1]);          // (21,-1) takes (19,0)
    EXPECT_EQ(coordinate_value(19, 1, 2), p[2 * 12 + 3 * 3 + 2]); // (21,1) takes (19,1)

    r.inputPadding = plugInWantsErrorOnBoundsException;
    EXPECT_EQ(paramErr, server.serve(r));
    EXPECT_EQ(nullptr, r.inData);
}

TEST(AreaService, RefusesPlaneRangesThePictureDoesNotHave)
{
    const Picture source = make_coordinate_picture(8, 8, 3);
    Picture dest = source;
    AreaServer server(source, dest, nullptr);
    FilterRecord r = request(rect(0, 0, 8, 8), rect(0, 0, 8, 8), rect(0, 0, 0, 0), 3);
    r.outHiPlane = 3;
    EXPECT_EQ(paramErr, server.serve(r));
    EXPECT_EQ(nullptr, r.inData);
    EXPECT_EQ(nullptr, r.outData);
    r.outHiPlane = 2;
    r.inLoPlane = 2;
    r.inHiPlane = 1;
    EXPECT_EQ(paramErr, server.serve(r));
    // An empty area asks for no planes at all.
    r.inRect = rect(0, 0, 0, 0);
    EXPECT_EQ(noErr, server.serve(r));
}

TEST(AreaService, DeliversTheSelectionAsMaskAtTheMaskRate)
{
    const Picture source = make_coordinate_picture(30, 20, 3);
    Picture dest = source;
    Picture selection;
    Rect16 bounds;
    ASSERT_TRUE(make_selection(HostOptions::Selection::rect, Area{5, 4, 17, 12}, 30, 20, selection, bounds));
    EXPECT_TRUE(same_rect(bounds, rect(4, 5, 12, 17)));
    AreaServer server(source, dest, &selection);

    FilterRecord r = request(rect(0, 0, 0, 0), rect(0, 0, 0, 0), rect(2, 3, 14, 20), 3);
    ASSERT_EQ(noErr, server.serve(r));
    ASSERT_NE(nullptr, r.maskData);
    ASSERT_EQ(17, r.maskRowBytes);
    const unsigned char* m = static_cast<const unsigned char*>(r.maskData);
    for (int y = 2; y < 14; ++y)
        for (int x = 3; x < 20; ++x)
            EXPECT_EQ(x >= 5 && x < 17 && y >= 4 && y < 12 ? 255 : 0, m[(y - 2) * 17 + (x - 3)])
                << x << "," << y;

    // At factor 2 pixel (x, y) of the mask is the selection at (2x, 2y).
    r.maskRate = 2 << 16;
    r.maskRect = rect(0, 0, 10, 15);
    ASSERT_EQ(noErr, server.serve(r));
    m = static_cast<const unsigned char*>(r.maskData);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 15; ++x)
            EXPECT_EQ(2 * x >= 5 && 2 * x < 17 && 2 * y >= 4 && 2 * y < 12 ? 255 : 0, m[y * 15 + x]);

    // Without a selection there is no mask, whatever is asked.
    AreaServer plain(source, dest, nullptr);
    ASSERT_EQ(noErr, plain.serve(r));
    EXPECT_EQ(nullptr, r.maskData);
}

TEST(AreaService, EllipticSelectionHoldsThePixelsWhoseCentreIsInside)
{
    Picture mask;
    Rect16 bounds;
    ASSERT_TRUE(make_selection(HostOptions::Selection::ellipse, Area{10, 20, 50, 40}, 64, 64, mask, bounds));
    EXPECT_TRUE(same_rect(bounds, rect(20, 10, 40, 50)));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const double dx = (x + 0.5 - 30.0) / 20.0, dy = (y + 0.5 - 30.0) / 10.0;
            EXPECT_EQ(dx * dx + dy * dy <= 1.0 ? 255 : 0, *mask.at(x, y)) << x << "," << y;
        }
    EXPECT_FALSE(make_selection(HostOptions::Selection::rect, Area{70, 70, 80, 80}, 64, 64, mask, bounds));
}

TEST(AreaService, TakesOutputBackOnlyFromFactorOneRequests)
{
    const Picture source = make_coordinate_picture(16, 12, 3);
    Picture dest = source;
    AreaServer server(source, dest, nullptr);

    // A preview at factor 2 scribbles over its output: the picture stays.
    FilterRecord r = request(rect(0, 0, 6, 8), rect(0, 0, 6, 8), rect(0, 0, 0, 0), 3);
    r.inputRate = 2 << 16;
    ASSERT_EQ(noErr, server.serve(r));
    std::memset(r.outData, 1, size_t(6 * r.outRowBytes));
    // The plug-in writes plane 1 of a factor-1 area.
    r = request(rect(0, 0, 0, 0), rect(3, 4, 5, 9), rect(0, 0, 0, 0), 3);
    r.outLoPlane = r.outHiPlane = 1;
    ASSERT_EQ(noErr, server.serve(r));
    EXPECT_EQ(dest.pixels, source.pixels);
    EXPECT_EQ(5, r.outRowBytes);
    std::memset(r.outData, 0, size_t(2 * r.outRowBytes));
    void* first = r.outData;

    // The next request takes it back, and hands out what the picture holds now.
    r.outLoPlane = 0;
    r.outHiPlane = 2;
    ASSERT_EQ(noErr, server.serve(r));
    EXPECT_NE(first, r.outData);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x)
            for (int c = 0; c < 3; ++c) {
                const bool written = c == 1 && y >= 3 && y < 5 && x >= 4 && x < 9;
                EXPECT_EQ(written ? 0 : coordinate_value(x, y, c), dest.at(x, y)[c])
                    << x << "," << y << "," << c;
            }
    EXPECT_EQ(0, static_cast<unsigned char*>(r.outData)[1]);
    EXPECT_EQ(coordinate_value(4, 3, 0), static_cast<unsigned char*>(r.outData)[0]);

    // The input is always the picture as it was.
    r.inRect = rect(3, 4, 5, 9);
    ASSERT_EQ(noErr, server.serve(r));
    EXPECT_TRUE(holds_source(r.inData, r.inRowBytes, r.inRect, 0, 3, 1));

    // Writing back twice changes nothing more; release clears the record.
    std::memset(r.outData, 9, size_t(2 * r.outRowBytes));
    server.write_back();
    Picture after = dest;
    server.write_back();
    EXPECT_EQ(after.pixels, dest.pixels);
    server.release(r);
    EXPECT_EQ(nullptr, r.outData);
    EXPECT_EQ(nullptr, r.inData);
}

// ------------------------------------------------------------ PIPL reading

namespace {

void put_code(std::string& s, const char* code)
{
    for (int i = 3; i >= 0; --i)
        s += code[i];
}
void put_u32(std::string& s, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s += char(v >> (8 * i));
}
void put_property(std::string& s, const char* key, const std::string& data)
{
    put_code(s, "8BIM");
    put_code(s, key);
    put_u32(s, 0);
    put_u32(s, uint32_t(data.size()));
    s += data;
    s.append((4 - data.size() % 4) % 4, '\0');
}
std::string pipl(int count_extra = 0)
{
    std::string s("\x01\x00", 2);
    put_u32(s, 0);
    put_u32(s, uint32_t(5 + count_extra));
    std::string kind;
    put_code(kind, "8BFM");
    put_property(s, "kind", kind);
    put_property(s, "name",
                 std::string("\x09"
                             "Cellumbra\0",
                             11));
    put_property(s, "catg",
                 std::string("\x08"
                             "Tinctora\0",
                             10));
    put_property(s, "8664", std::string("Entry64\0", 8));
    put_property(s, "wx86", std::string("ENTRYPOINT\0\0", 12));
    return s;
}

bool parse(const std::string& s, const char* key, PiplInfo& info, std::string& error)
{
    return parse_pipl(reinterpret_cast<const unsigned char*>(s.data()), s.size(), key, info, error);
}

} // namespace

TEST(PiplReading, FindsKindTextsAndTheEntryOfEachPlatform)
{
    PiplInfo info;
    std::string error;
    const std::string list = pipl();
    ASSERT_TRUE(parse(list, "wx86", info, error)) << error;
    EXPECT_EQ("8BFM", info.kind);
    EXPECT_EQ("ENTRYPOINT", info.entry);
    EXPECT_EQ("Cellumbra", info.name);
    EXPECT_EQ("Tinctora", info.category);
    ASSERT_TRUE(parse(list, "8664", info, error));
    EXPECT_EQ("Entry64", info.entry);
    EXPECT_STREQ(sizeof(void*) == 8 ? "8664" : "wx86", native_entry_key());
}

TEST(PiplReading, RejectsDamagedListsWithoutReadingPastThem)
{
    PiplInfo info;
    std::string error;
    const std::string list = pipl();
    // A count larger than the properties present.
    EXPECT_FALSE(parse(pipl(1), "wx86", info, error));
    EXPECT_NE(std::string::npos, error.find("truncated"));
    // Cut inside the last property's data: every prefix is refused or read
    // safely, never beyond its end (the copy has no slack after it).
    for (size_t n = 0; n < list.size() - 3; ++n) {
        std::vector<unsigned char> prefix(list.begin(), list.begin() + n);
        EXPECT_FALSE(parse_pipl(prefix.data(), prefix.size(), "wx86", info, error)) << n;
    }
    std::string wrong = list;
    wrong[0] = 2;
    EXPECT_FALSE(parse(wrong, "wx86", info, error));
    // A name whose length byte claims more than the property holds.
    std::string s("\x01\x00", 2);
    put_u32(s, 0);
    put_u32(s, 1);
    put_property(s, "name",
                 std::string("\xff"
                             "ab",
                             3));
    ASSERT_TRUE(parse(s, "wx86", info, error));
    EXPECT_EQ("ab", info.name);
}

// ------------------------------------------------------------ displayPixels

namespace {

PSPixelMap map_of(const void* data, int rows, int cols, int row_bytes, int col_bytes, int plane_bytes,
                  int mode = plugInModeRGBColor)
{
    PSPixelMap m;
    std::memset(&m, 0, sizeof m);
    m.version = 1;
    m.bounds = {10, 20, 10 + rows, 20 + cols};
    m.imageMode = mode;
    m.rowBytes = row_bytes;
    m.colBytes = col_bytes;
    m.planeBytes = plane_bytes;
    m.baseAddr = const_cast<void*>(data);
    return m;
}

} // namespace

TEST(DisplayPixels, ConvertsInterleavedPlanarAndGreyMaps)
{
    // 2 x 3 pixels, interleaved RGB with 2 bytes of row padding.
    const unsigned char rgb[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0};
    PSPixelMap m = map_of(rgb, 2, 3, 11, 3, 1);
    BgrImage image;
    ASSERT_EQ(noErr, pixel_map_to_bgr(m, m.bounds, image));
    ASSERT_EQ(3, image.width);
    ASSERT_EQ(12, image.stride);
    EXPECT_EQ(3, image.bits[0]);
    EXPECT_EQ(1, image.bits[2]);
    EXPECT_EQ(19, image.bits[12 + 6]);
    EXPECT_EQ(17, image.bits[12 + 8]);

    // The same picture in planes of 6 bytes each.
    const unsigned char planar[] = {1, 4, 7, 11, 14, 17, 2, 5, 8, 12, 15, 18, 3, 6, 9, 13, 16, 19};
    PSPixelMap p = map_of(planar, 2, 3, 3, 1, 6);
    BgrImage image2;
    ASSERT_EQ(noErr, pixel_map_to_bgr(p, p.bounds, image2));
    EXPECT_EQ(image.bits, image2.bits);

    // Only part of it, cut to the bounds: columns 21-22 of row 11.
    VRect part = {11, 21, 40, 40};
    ASSERT_EQ(noErr, pixel_map_to_bgr(p, part, image2));
    ASSERT_EQ(2, image2.width);
    ASSERT_EQ(1, image2.height);
    EXPECT_EQ(11, image2.top);
    EXPECT_EQ(21, image2.left);
    EXPECT_EQ(16, image2.bits[0]);
    EXPECT_EQ(14, image2.bits[2]);

    const unsigned char grey[] = {50, 60};
    PSPixelMap g = map_of(grey, 1, 2, 2, 1, 1, plugInModeGrayScale);
    ASSERT_EQ(noErr, pixel_map_to_bgr(g, g.bounds, image));
    EXPECT_EQ(60, image.bits[3]);
    EXPECT_EQ(60, image.bits[5]);

    g.imageMode = 4;
    EXPECT_EQ(filterBadMode, pixel_map_to_bgr(g, g.bounds, image));
    g.imageMode = plugInModeGrayScale;
    g.baseAddr = nullptr;
    EXPECT_EQ(paramErr, pixel_map_to_bgr(g, g.bounds, image));
}

TEST(DisplayPixels, CompositesMaskChainsOverACheckerboard)
{
    const unsigned char rgb[] = {100, 100, 100, 100, 100, 100};
    const unsigned char clear[] = {0, 255};
    const unsigned char half[] = {128, 128};
    PSPixelMask second = {nullptr, const_cast<unsigned char*>(half), 2, 1, 0};
    PSPixelMask first = {&second, const_cast<unsigned char*>(clear), 2, 1, 0};
    PSPixelMap m = map_of(rgb, 1, 2, 6, 3, 1);
    m.masks = &first;
    BgrImage image;
    ASSERT_EQ(noErr, pixel_map_to_bgr(m, m.bounds, image));
    // Pixel 0 fully masked: the checkerboard square of (10, 20) is grey.
    EXPECT_EQ(204, image.bits[0]);
    // Pixel 1 half covered: 100 over grey 204.
    EXPECT_EQ((100 * 128 + 204 * 127 + 127) / 255, image.bits[3]);

    // A map of version 0 has no masks.
    m.version = 0;
    ASSERT_EQ(noErr, pixel_map_to_bgr(m, m.bounds, image));
    EXPECT_EQ(100, image.bits[0]);

    // A chain that loops on itself ends.
    PSPixelMask loop = {nullptr, const_cast<unsigned char*>(half), 2, 1, 0};
    loop.next = &loop;
    m.version = 1;
    m.masks = &loop;
    EXPECT_EQ(noErr, pixel_map_to_bgr(m, m.bounds, image));
}

TEST(DisplayPixels, DrawsIntoADeviceContextAtTheGivenPlace)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = -16;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(nullptr, bitmap);
    HGDIOBJ old = SelectObject(dc, bitmap);
    std::memset(bits, 0, 16 * 16 * 4);

    std::vector<unsigned char> rgb(4 * 3 * 3);
    for (int i = 0; i < 12; ++i) {
        rgb[i * 3] = static_cast<unsigned char>(10 * i);
        rgb[i * 3 + 1] = 200;
        rgb[i * 3 + 2] = static_cast<unsigned char>(255 - i);
    }
    PSPixelMap m = map_of(rgb.data(), 3, 4, 12, 3, 1);
    // Rows 11-12, columns 21-23 of the map, drawn at row 5, column 7.
    VRect area = {11, 21, 13, 24};
    ASSERT_EQ(noErr, draw_pixel_map(dc, &m, &area, 5, 7));
    GdiFlush();
    const uint32_t* px = static_cast<const uint32_t*>(bits);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            uint32_t want = 0;
            if (y >= 5 && y < 7 && x >= 7 && x < 10) {
                const int i = (y - 5 + 1) * 4 + (x - 7 + 1);
                want = uint32_t(10 * i) << 16 | 200u << 8 | uint32_t(255 - i);
            }
            EXPECT_EQ(want, px[y * 16 + x] & 0xFFFFFF) << x << "," << y;
        }
    EXPECT_EQ(paramErr, draw_pixel_map(nullptr, &m, &area, 0, 0));
    EXPECT_EQ(paramErr, draw_pixel_map(dc, nullptr, &area, 0, 0));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

// ------------------------------------------------------------ colour services

TEST(ColorServices, AnswersWithTheGivenColourAndRefusesBadRecords)
{
    HostOptions options;
    options.has_color_answer = true;
    options.color_answer[0] = 12;
    options.color_answer[1] = 34;
    options.color_answer[2] = 56;
    PluginModule plugin;
    Host host(options, plugin);
    ColorServicesInfo info;
    std::memset(&info, 0, sizeof info);
    info.infoSize = sizeof info;
    info.selector = plugIncolorServicesChooseColor;
    info.colorComponents[0] = 300;
    EXPECT_EQ(noErr, host.color_services(&info));
    EXPECT_EQ(12, info.colorComponents[0]);
    EXPECT_EQ(34, info.colorComponents[1]);
    EXPECT_EQ(56, info.colorComponents[2]);

    info.infoSize = 20;
    EXPECT_EQ(paramErr, host.color_services(&info));
    EXPECT_EQ(paramErr, host.color_services(nullptr));
    info.infoSize = sizeof info;
    info.selector = 1; // conversion: only RGB to RGB
    info.sourceSpace = info.resultSpace = 0;
    EXPECT_EQ(noErr, host.color_services(&info));
    info.resultSpace = 2;
    EXPECT_EQ(paramErr, host.color_services(&info));
}

namespace {

struct ButtonPress {
    int button;
    bool pressed;
};

// Waits for a dialog of this process and presses `button` in it.
DWORD WINAPI press_in_dialog(void* param)
{
    ButtonPress* press = static_cast<ButtonPress*>(param);
    HWND dialog = reinterpret_cast<HWND>(wait_for_window(GetCurrentProcessId(), "#32770", 20000));
    if (dialog != nullptr) {
        Sleep(200);
        press->pressed = PostMessageA(dialog, WM_COMMAND, press->button, 0) != 0;
    }
    return 0;
}

} // namespace

TEST(ColorServices, OpensTheColourChooserPresetWithTheComponents)
{
    HostOptions options;
    PluginModule plugin;
    Host host(options, plugin);
    for (const int button : {IDOK, IDCANCEL}) {
        ColorServicesInfo info;
        std::memset(&info, 0, sizeof info);
        info.infoSize = sizeof info;
        info.colorComponents[0] = 30;
        info.colorComponents[1] = 60;
        info.colorComponents[2] = 90;
        ButtonPress press = {button, false};
        HANDLE helper = CreateThread(nullptr, 0, press_in_dialog, &press, 0, nullptr);
        const OSErr err = host.color_services(&info);
        WaitForSingleObject(helper, 30000);
        CloseHandle(helper);
        ASSERT_TRUE(press.pressed);
        // OK keeps the preset, which the chooser showed; Cancel changes nothing.
        EXPECT_EQ(button == IDOK ? noErr : userCanceledErr, err);
        EXPECT_EQ(30, info.colorComponents[0]);
        EXPECT_EQ(60, info.colorComponents[1]);
        EXPECT_EQ(90, info.colorComponents[2]);
    }
}

// ------------------------------------------------------------ filterhost.exe

namespace {

std::string sample_input(const std::string& dir, int width, int height, int planes = 3)
{
    const std::string path = dir + "\\input.png";
    EXPECT_TRUE(write_png(path, make_coordinate_picture(width, height, planes)));
    return path;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(FilterhostExits, ExplainsBadCommandLinesAndFiles)
{
    const std::string dir = scratch_dir("exits");
    const std::string input = sample_input(dir, 8, 8);
    const std::string plugin = in_build_dir("Cellumbra.8bf");

    RunResult r = run_filterhost({"--help"});
    EXPECT_EQ(exit_ok, r.exit_code);
    for (const char* option :
         {"--dialog", "--about", "--settings", "--set-slider", "--rgba", "--gray", "--select-rect",
          "--select-ellipse", "--filter-rect", "--max-space", "--color-answer", "--no-color-services",
          "--fail-advance", "--cancel-after-progress", "--trace", "--quiet", "--omit"})
        EXPECT_TRUE(contains(r.out, option)) << option;

    r = run_filterhost({"--bogus", plugin, input});
    EXPECT_EQ(exit_usage, r.exit_code);
    EXPECT_TRUE(contains(r.err, "unknown option --bogus"));
    r = run_filterhost({plugin});
    EXPECT_EQ(exit_usage, r.exit_code);
    r = run_filterhost({"--select-rect", "5,5,2,9", plugin, input});
    EXPECT_EQ(exit_usage, r.exit_code);
    r = run_filterhost({plugin, input, dir + "\\out.tif"});
    EXPECT_EQ(exit_usage, r.exit_code);

    r = run_filterhost({plugin, dir + "\\missing.png", dir + "\\out.png"});
    EXPECT_EQ(exit_picture, r.exit_code);
    EXPECT_TRUE(contains(r.err, "cannot read picture")) << r.err;
    const std::string garbage = dir + "\\garbage.png";
    write_text_file(garbage, "not a picture at all");
    r = run_filterhost({plugin, garbage, dir + "\\out.png"});
    EXPECT_EQ(exit_picture, r.exit_code);
    EXPECT_FALSE(file_exists(dir + "\\out.png"));

    const std::string fake = dir + "\\fake.8bf";
    write_text_file(fake, "MZ but nothing else");
    r = run_filterhost({fake, input});
    EXPECT_EQ(exit_not_plugin, r.exit_code);
    EXPECT_TRUE(contains(r.err, "is not a loadable module")) << r.err;

    char system_dir[MAX_PATH];
    GetSystemDirectoryA(system_dir, MAX_PATH);
    r = run_filterhost({std::string(system_dir) + "\\comdlg32.dll", input});
    EXPECT_EQ(exit_not_plugin, r.exit_code);
    EXPECT_TRUE(contains(r.err, "no PIPL resource")) << r.err;

    r = run_filterhost({dir + "\\absent.8bf", input});
    EXPECT_EQ(exit_not_plugin, r.exit_code);
    EXPECT_TRUE(contains(r.err, "does not exist")) << r.err;
}

// ------------------------------------------------- filterhost with a probe
//
// HostProbe.8bf replays a script of advanceState requests from its Start
// block and records what filterhost delivered; see tests/plugins/HostProbe.cpp.

namespace {

struct ProbeArea {
    Rect16 rect{};
    int32 row_bytes = 0;
    bool has_data = false;
    std::vector<unsigned char> bytes;
};

struct ProbeRequest {
    int result = 0;
    ProbeArea in, out, mask;
};

struct ProbeRun {
    RunResult run;
    std::vector<ProbeRequest> requests;
};

ProbeArea parse_area(std::istringstream& line)
{
    ProbeArea a;
    std::string name, hex;
    int t, l, b, r;
    line >> name >> t >> l >> b >> r >> a.row_bytes >> hex;
    a.rect = rect(t, l, b, r);
    a.has_data = !hex.empty();
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        a.bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return a;
}

ProbeRun run_probe(const std::string& dir, const std::string& script, std::vector<std::string> args,
                   const std::string& main_mode = "keep")
{
    write_text_file(dir + "\\script.txt", script);
    ScopedEnv script_env("HOSTPROBE_SCRIPT", dir + "\\script.txt");
    ScopedEnv out_env("HOSTPROBE_OUT", dir + "\\probe.txt");
    ScopedEnv main_env("HOSTPROBE_MAIN", main_mode);
    DeleteFileA((dir + "\\probe.txt").c_str());
    args.insert(args.begin(), {"--quiet", "--trace"});
    ProbeRun p;
    p.run = run_filterhost(args);
    std::istringstream text(read_text_file(dir + "\\probe.txt"));
    std::string line;
    while (std::getline(text, line)) {
        if (line.compare(0, 8, "request ") != 0)
            continue;
        ProbeRequest q;
        std::istringstream head(line);
        std::string word;
        int number;
        head >> word >> number >> word >> q.result;
        std::string in, out, mask;
        std::getline(text, in);
        std::getline(text, out);
        std::getline(text, mask);
        std::istringstream a(in), b(out), c(mask);
        q.in = parse_area(a);
        q.out = parse_area(b);
        q.mask = parse_area(c);
        p.requests.push_back(q);
    }
    return p;
}

// The probe's areas as the in-process checks see them.
::testing::AssertionResult area_holds_source(const ProbeArea& a, int lo, int n, int factor)
{
    if (!a.has_data)
        return ::testing::AssertionFailure() << "no data";
    return holds_source(a.bytes.data(), a.row_bytes, a.rect, lo, n, factor);
}

int count_lines(const std::string& text, const std::string& start)
{
    int n = 0;
    std::istringstream s(text);
    std::string line;
    while (std::getline(s, line))
        n += line.compare(0, start.size(), start) == 0;
    return n;
}

} // namespace

TEST(FilterhostService, DeliversEveryScriptedRequestExactly)
{
    const std::string dir = scratch_dir("service");
    const std::string input = sample_input(dir, 40, 30);
    ProbeRun p = run_probe(dir,
                           "in=2,3,9,11\n"
                           "in=0,0,10,14 out=1,2,5,9 inputRate=196611\n"
                           "in=-2,35,4,45 out=28,-3,33,2\n"
                           "in=-1,38,2,42 inputPadding=0\n"
                           "in=0,0,30,40 inPlanes=1,2 mask=0,0,30,40\n"
                           "in=40,0,45,10\n",
                           {in_build_dir("HostProbe.8bf"), input});
    ASSERT_EQ(exit_ok, p.run.exit_code) << p.run.err;
    ASSERT_EQ(6u, p.requests.size()) << p.run.out;
    for (const ProbeRequest& q : p.requests)
        EXPECT_EQ(noErr, q.result);

    EXPECT_TRUE(area_holds_source(p.requests[0].in, 0, 3, 1));
    EXPECT_FALSE(p.requests[0].out.has_data);

    EXPECT_TRUE(area_holds_source(p.requests[1].in, 0, 3, 3));
    EXPECT_TRUE(area_holds_source(p.requests[1].out, 0, 3, 3));

    EXPECT_TRUE(same_rect(p.requests[2].in.rect, rect(0, 35, 4, 40)));
    EXPECT_TRUE(area_holds_source(p.requests[2].in, 0, 3, 1));
    EXPECT_TRUE(same_rect(p.requests[2].out.rect, rect(28, 0, 30, 2)));
    EXPECT_TRUE(area_holds_source(p.requests[2].out, 0, 3, 1));

    const ProbeArea& padded = p.requests[3].in;
    ASSERT_TRUE(same_rect(padded.rect, rect(-1, 38, 2, 42)));
    ASSERT_EQ(36u, padded.bytes.size());
    EXPECT_EQ(0, padded.bytes[0]);                                   // (38,-1) padding
    EXPECT_EQ(coordinate_value(39, 0, 2), padded.bytes[12 + 3 + 2]); // (39,0)
    EXPECT_EQ(0, padded.bytes[12 + 6]);                              // (40,0) padding

    EXPECT_TRUE(area_holds_source(p.requests[4].in, 1, 2, 1));
    EXPECT_FALSE(p.requests[4].mask.has_data) << "no selection, no mask";
    EXPECT_FALSE(p.requests[5].in.has_data);

    // The trace shows the probe's requests in order, with their rates.
    const size_t first = p.run.out.find("in=2,3,9,11 inPlanes=0-2");
    const size_t second = p.run.out.find("in=0,0,10,14 inPlanes=0-2 out=1,2,5,9 outPlanes=0-2 "
                                         "mask=0,0,0,0 inputRate=196611");
    EXPECT_NE(std::string::npos, first) << p.run.out;
    EXPECT_NE(std::string::npos, second);
    EXPECT_LT(first, second);
    EXPECT_NE(std::string::npos, p.run.out.find("gotIn=0,35,4,40"));
}

TEST(FilterhostService, DeliversTheSelectionAsMask)
{
    const std::string dir = scratch_dir("mask");
    const std::string input = sample_input(dir, 40, 30);
    ProbeRun p = run_probe(dir, "mask=0,0,30,40\nmask=0,0,15,20 maskRate=131072\n",
                           {"--select-ellipse", "5,4,31,22", in_build_dir("HostProbe.8bf"), input});
    ASSERT_EQ(exit_ok, p.run.exit_code) << p.run.err;
    ASSERT_EQ(2u, p.requests.size());
    auto selected = [](int x, int y) {
        const double dx = (x + 0.5 - 18.0) / 13.0, dy = (y + 0.5 - 13.0) / 9.0;
        return dx * dx + dy * dy <= 1.0;
    };
    const ProbeArea& full = p.requests[0].mask;
    ASSERT_EQ(40, full.row_bytes);
    ASSERT_EQ(1200u, full.bytes.size());
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            EXPECT_EQ(selected(x, y) ? 255 : 0, full.bytes[y * 40 + x]) << x << "," << y;
    const ProbeArea& half = p.requests[1].mask;
    ASSERT_EQ(300u, half.bytes.size());
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 20; ++x)
            EXPECT_EQ(selected(2 * x, 2 * y) ? 255 : 0, half.bytes[y * 20 + x]) << x << "," << y;
}

TEST(FilterhostService, WritesBackOnlyWhatThePlugInWroteAtFactorOne)
{
    const std::string dir = scratch_dir("writeback");
    const std::string input = sample_input(dir, 40, 30);
    const std::string output = dir + "\\out.png";
    ProbeRun p = run_probe(dir,
                           "out=2,3,6,10 fill=200\n"
                           "in=0,0,15,20 out=0,0,15,20 inputRate=131072 fill=7\n"
                           "out=10,20,12,25 outPlanes=1,1 fill=0\n",
                           {in_build_dir("HostProbe.8bf"), input, output});
    ASSERT_EQ(exit_ok, p.run.exit_code) << p.run.err;
    TestPicture result;
    ASSERT_TRUE(read_picture(output, result));
    ASSERT_EQ(40, result.width);
    ASSERT_EQ(3, result.planes);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            for (int c = 0; c < 3; ++c) {
                int want = coordinate_value(x, y, c);
                if (y >= 2 && y < 6 && x >= 3 && x < 10)
                    want = 200;
                if (c == 1 && y >= 10 && y < 12 && x >= 20 && x < 25)
                    want = 0;
                ASSERT_EQ(want, result.at(x, y)[c]) << x << "," << y << " plane " << c;
            }
}

TEST(FilterhostService, FailsTheChosenCallAndReportsCrashes)
{
    const std::string dir = scratch_dir("failures");
    const std::string input = sample_input(dir, 20, 10);
    const std::string probe = in_build_dir("HostProbe.8bf");
    const std::string script = "in=0,0,4,4\nin=0,0,5,5\n";
    // Number the script's second request by the plug-in's calls before it
    // (the cut ends inside its own trace line, which counts too).
    ProbeRun first = run_probe(dir, script, {probe, input});
    ASSERT_EQ(exit_ok, first.run.exit_code) << first.run.err;
    const size_t at = first.run.out.find("in=0,0,5,5");
    ASSERT_NE(std::string::npos, at);
    const int number = count_lines(first.run.out.substr(0, at), "advanceState ");

    ProbeRun p = run_probe(dir, script, {"--fail-advance", std::to_string(number) + ":-50", probe, input});
    ASSERT_EQ(2u, p.requests.size()) << p.run.out;
    EXPECT_EQ(noErr, p.requests[0].result);
    EXPECT_EQ(-50, p.requests[1].result);
    EXPECT_FALSE(p.requests[1].in.has_data);
    EXPECT_NE(std::string::npos, p.run.out.find("result=-50"));

    // One byte past the output buffer: the host's guard page stops it.
    p = run_probe(dir, "out=0,0,3,3 overrun=1\n", {probe, input, dir + "\\out.png"});
    EXPECT_EQ(exit_plugin_crashed, p.run.exit_code);
    EXPECT_TRUE(contains(p.run.err, "the plug-in crashed during selector 3")) << p.run.err;
    EXPECT_TRUE(contains(p.run.err, "writing address")) << p.run.err;
    EXPECT_FALSE(file_exists(dir + "\\out.png"));
}

// ------------------------------------------------------- whole runs

TEST(FilterhostRun, ChangesOnlyTheSelectionAndKeepsEveryPlane)
{
    const std::string dir = scratch_dir("selection");
    const std::string input = sample_input(dir, 48, 32, 4);
    const std::string output = dir + "\\out.png";
    ProbeRun p = run_probe(
        dir, "", {"--rgba", "--select-ellipse", "6,3,40,29", in_build_dir("HostProbe.8bf"), input, output},
        "invert");
    ASSERT_EQ(exit_ok, p.run.exit_code) << p.run.err;
    TestPicture result;
    ASSERT_TRUE(read_picture(output, result));
    ASSERT_EQ(4, result.planes);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) {
            const double dx = (x + 0.5 - 23.0) / 17.0, dy = (y + 0.5 - 16.0) / 13.0;
            const bool inside = dx * dx + dy * dy <= 1.0;
            for (int c = 0; c < 4; ++c) {
                const int source = coordinate_value(x, y, c);
                ASSERT_EQ(inside ? 255 - source : source, result.at(x, y)[c]) << x << "," << y << "," << c;
            }
        }
    // filterRect is the selection's bounds (34 x 26): only those pixels are visited.
    EXPECT_NE(std::string::npos, p.run.out.find("last=884/1536")) << p.run.out;
}

TEST(FilterhostRun, StopsWithoutWritingOnErrorsAndCancel)
{
    const std::string dir = scratch_dir("stops");
    const std::string input = sample_input(dir, 24, 16);
    const std::string output = dir + "\\out.png";
    RunResult r = run_filterhost({"--quiet", "--gray", in_build_dir("Cellumbra.8bf"), input, output});
    EXPECT_EQ(exit_plugin_error, r.exit_code);
    EXPECT_TRUE(contains(r.err, "plug-in error -30101 at start")) << r.err;
    EXPECT_FALSE(file_exists(output));

    ScopedEnv no_script("HOSTPROBE_SCRIPT", "");
    r = run_filterhost(
        {"--quiet", "--trace", "--cancel-after-progress", "3", in_build_dir("HostProbe.8bf"), input, output});
    EXPECT_EQ(exit_cancelled, r.exit_code);
    EXPECT_TRUE(contains(r.err, "cancelled")) << r.err;
    EXPECT_FALSE(file_exists(output));
    EXPECT_EQ(0, count_lines(r.out, "selector 5")) << "no finish after an error";
}

TEST(FilterhostRun, StoresSettingsAndKeepsTheOtherControls)
{
    const char* key_path = "Software\\Orv-Tinctora\\Tinctora\\Cellumbra";
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    unsigned char before[64];
    for (int i = 0; i < 64; ++i)
        before[i] = static_cast<unsigned char>(i + 1);
    RegSetValueExA(key, "SliderSettings", 0, REG_BINARY, before, 64);

    const std::string dir = scratch_dir("settings");
    const std::string input = sample_input(dir, 8, 8);
    ScopedEnv no_script("HOSTPROBE_SCRIPT", "");
    RunResult r = run_filterhost({"--quiet", "--settings", "20", "--set-slider", "3=-7", "--set-check", "1=1",
                                  in_build_dir("HostProbe.8bf"), input});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    unsigned char after[80] = {};
    DWORD type = 0, size = sizeof after;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "SliderSettings", nullptr, &type, after, &size));
    EXPECT_EQ(DWORD(REG_BINARY), type);
    ASSERT_EQ(64u, size);
    unsigned char want[64];
    std::memcpy(want, before, 64);
    const unsigned char size20[4] = {20, 0, 0, 0}, minus7[4] = {0xF9, 0xFF, 0xFF, 0xFF},
                        one[4] = {1, 0, 0, 0};
    std::memcpy(want, size20, 4);
    std::memcpy(want + 8, minus7, 4);
    std::memcpy(want + 60, one, 4);
    EXPECT_EQ(0, std::memcmp(want, after, 64));

    // A value of another type is no base to keep: the rest becomes 0.
    DWORD number = 5;
    RegSetValueExA(key, "SliderSettings", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4);
    r = run_filterhost({"--quiet", "--settings", "9", in_build_dir("HostProbe.8bf"), input});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    size = sizeof after;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "SliderSettings", nullptr, &type, after, &size));
    EXPECT_EQ(DWORD(REG_BINARY), type);
    unsigned char zeros[64] = {9};
    EXPECT_EQ(0, std::memcmp(zeros, after, 64));
    RegCloseKey(key);
}

TEST(FilterhostRun, WritesTheResultInTheFormatOfItsName)
{
    const std::string dir = scratch_dir("formats");
    const std::string input = sample_input(dir, 30, 20);
    ScopedEnv no_script("HOSTPROBE_SCRIPT", "");
    ScopedEnv invert("HOSTPROBE_MAIN", "invert");
    for (const char* name : {"out.png", "out.bmp", "out.jpg"}) {
        RunResult r = run_filterhost({"--quiet", in_build_dir("HostProbe.8bf"), input, dir + "\\" + name});
        ASSERT_EQ(exit_ok, r.exit_code) << name << ": " << r.err;
    }
    TestPicture png, bmp, jpg;
    ASSERT_TRUE(read_picture(dir + "\\out.png", png));
    ASSERT_TRUE(read_picture(dir + "\\out.bmp", bmp, 3));
    ASSERT_TRUE(read_picture(dir + "\\out.jpg", jpg, 3));
    EXPECT_EQ(255 - coordinate_value(7, 5, 2), png.at(7, 5)[2]);
    EXPECT_EQ(png.pixels, bmp.pixels);
    EXPECT_EQ(30, jpg.width);
    EXPECT_EQ(20, jpg.height);
}

TEST(FilterhostRun, RunsTheProductWithStoredSettings)
{
    const std::string dir = scratch_dir("product");
    const std::string input = sample_input(dir, 64, 48);
    const std::string output = dir + "\\out.png";
    RunResult r = run_filterhost(
        {"--quiet", "--trace", "--settings", "8", in_build_dir("Cellumbra.8bf"), input, output});
    ASSERT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_TRUE(contains(r.out, "plugin name=\"Cellumbra\" category=\"Tinctora\" entry=ENTRYPOINT"));
    EXPECT_TRUE(contains(r.out, "selector 5 finish result=0"));
    TestPicture result;
    ASSERT_TRUE(read_picture(output, result));
    EXPECT_EQ(64, result.width);
    EXPECT_EQ(48, result.height);
    EXPECT_NE(make_coordinate_picture(64, 48, 3).pixels, result.pixels);
}

// ------------------------------------------------------- windows

namespace {

std::string class_of(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string caption_of(HWND window)
{
    char text[128] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

} // namespace

TEST(FilterhostWindows, OwnsThePlugInDialogAndDrawsItsPreview)
{
    const std::string dir = scratch_dir("dialog");
    const std::string input = sample_input(dir, 64, 48);
    const std::string output = dir + "\\out.png";
    for (const int button : {IDOK, IDCANCEL}) {
        DeleteFileA(output.c_str());
        ChildProcess host;
        ASSERT_TRUE(
            host.start(in_build_dir("filterhost.exe"),
                       {"--quiet", "--trace", "--dialog", in_build_dir("Cellumbra.8bf"), input, output}));
        HWND dialog = reinterpret_cast<HWND>(wait_for_window(host.id(), "#32770", 20000));
        ASSERT_NE(nullptr, dialog) << host.finish(0).err;
        EXPECT_EQ("Cellumbra", caption_of(dialog));
        HWND owner = GetWindow(dialog, GW_OWNER);
        ASSERT_NE(nullptr, owner);
        EXPECT_EQ("FilterHostWindow", class_of(owner));
        EXPECT_TRUE(IsWindowVisible(owner));
        // Long enough for the filtered preview (one to two timer periods).
        Sleep(2000);
        PostMessageA(dialog, WM_COMMAND, button, 0);
        RunResult r = host.finish(30000);
        ASSERT_FALSE(r.timed_out);
        EXPECT_TRUE(contains(r.out, "selector 1 parameters result=0")) << r.out;
        EXPECT_TRUE(contains(r.out, "displayPixels version=1")) << r.out;
        EXPECT_EQ(0, count_lines(r.out, "displayPixels") - count_lines(r.out, "displayPixels version=1 "))
            << "every preview drawing has its pixel map";
        EXPECT_FALSE(contains(r.out, "displayPixels result=")) << r.out;
        if (button == IDOK) {
            EXPECT_EQ(exit_ok, r.exit_code) << r.err;
            EXPECT_TRUE(file_exists(output));
        } else {
            EXPECT_EQ(exit_cancelled, r.exit_code) << r.err;
            EXPECT_FALSE(file_exists(output));
        }
    }
}

TEST(FilterhostWindows, AboutSendsOnlyTheAboutSelector)
{
    ChildProcess host;
    ASSERT_TRUE(
        host.start(in_build_dir("filterhost.exe"), {"--trace", "--about", in_build_dir("Cellumbra.8bf")}));
    HWND box = reinterpret_cast<HWND>(wait_for_window(host.id(), "#32770", 20000));
    ASSERT_NE(nullptr, box) << host.finish(0).err;
    EXPECT_EQ("About...", caption_of(box));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    RunResult r = host.finish(20000);
    EXPECT_EQ(exit_ok, r.exit_code) << r.err;
    EXPECT_EQ(1, count_lines(r.out, "selector ")) << r.out;
    EXPECT_TRUE(contains(r.out, "selector 0 about")) << r.out;
}
