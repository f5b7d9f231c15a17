// The reference host's units in-process, with exact records: its area
// service, PIPL reading, pixel-map drawing and colour services.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <windows.h>

#include "refhost/area_server.h"
#include "refhost/block_pool.h"
#include "refhost/host.h"
#include "refhost/options.h"
#include "refhost/paths.h"
#include "refhost/picture.h"
#include "refhost/pipl.h"
#include "refhost/pixel_map.h"
#include "refhost/progress.h"
#include "refhost/selection.h"
#include "refhost/system.h"

#include "support/cell_reference.h"
#include "win/support/areas.h"
#include "win/support/host_runner.h"
#include "win/support/pictures.h"
#include "win/support/wait.h"

using namespace wintest;

// ------------------------------------------------------------ picture files

TEST(PictureFiles, SaysWhatTheOutputCannotHoldAndDropsDamagedProfiles)
{
    Picture p = make_coordinate_picture(12, 8, 3);
    std::vector<unsigned char> png, jpeg;
    std::string error;
    ASSERT_TRUE(encode_picture("a.png", p, png, error) && encode_picture("a.jpg", p, jpeg, error)) << error;
    // A PNG's EXIF block may outgrow the one segment a JPEG gives it.
    const FileMetadata big = {made_up_profile(200, "RGB "), std::vector<unsigned char>(70000, 'x')};
    Picture read;
    std::vector<std::string> notes;
    ASSERT_TRUE(decode_picture(with_metadata(png, big), 0, 1 << 20, read, error, &notes)) << error;
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(std::vector<std::string>{"too large for a JPEG: 'b.jpg' is written without the picture's EXIF block "
                                       "(70000 bytes)"},
              output_notes(read, "b.jpg"));
    std::vector<unsigned char> out;
    ASSERT_TRUE(encode_picture("b.jpg", read, out, error)) << error;
    EXPECT_TRUE(metadata_of(out).exif.empty());
    EXPECT_TRUE(metadata_of(out).icc == big.icc);

    // A profile in parts numbered 1, 3, 3; and pixels beyond the budget.
    std::vector<unsigned char> parts = with_metadata(jpeg, {made_up_profile(300, "RGB "), {}}, 100);
    const unsigned char second[] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 2, 3};
    std::search(parts.begin(), parts.end(), second, second + 14)[12] = 3;
    notes.clear();
    ASSERT_TRUE(decode_picture(parts, 0, 1 << 20, read, error, &notes)) << error;
    EXPECT_EQ(std::vector<std::string>{"the picture's colour profile is damaged; it is dropped"}, notes);
    EXPECT_TRUE(read.icc_profile.empty());
    EXPECT_FALSE(decode_picture(jpeg, 4, 12 * 8 * 4 - 1, read, error));
    EXPECT_EQ("not enough memory for a 12 x 8 picture (its pixels take 1 MB; 0 MB can be spared)", error);
    // A pixel chunk that claims a gigabyte in a file of a few hundred bytes is
    // damaged, said before the decoder grows its buffer to the claim.
    std::vector<unsigned char> claim = png;
    const unsigned char idat[] = {'I', 'D', 'A', 'T'};
    const auto at = std::search(claim.begin(), claim.end(), idat, idat + 4) - claim.begin();
    ASSERT_LT(size_t(at), claim.size());
    claim[size_t(at) - 4] = 0x40;
    EXPECT_FALSE(decode_picture(claim, 0, 1 << 20, read, error));
    EXPECT_EQ("the file is damaged or cut short", error);
}

// Cameras write EXIF in either byte order; the tag is read and rewritten in
// the block's own.
TEST(PictureFiles, TurnsPhotosUprightWhateverTheExifByteOrder)
{
    for (bool intel : {false, true})
        for (unsigned char tag : {3, 6, 8}) {
            Picture p = make_coordinate_picture(5, 3, 3);
            p.exif = exif_with_orientation(tag, intel);
            EXPECT_FALSE(turn_upright(p).empty()) << int(tag) << (intel ? " Intel" : " Motorola");
            EXPECT_EQ(tag == 3 ? 5 : 3, p.width) << int(tag);
            EXPECT_TRUE(p.exif == exif_with_orientation(1, intel)) << int(tag) << (intel ? " Intel" : " Motorola");
        }
}

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
    // An area that ends exactly at the picture's right and bottom edges lies
    // inside it: the whole picture, at factor 1 and reduced (7 x 4 at 3).
    for (const int factor : {1, 3}) {
        const Rect16 whole = factor == 1 ? rect(0, 0, 10, 20) : rect(0, 0, 4, 7);
        r = request(whole, whole, rect(0, 0, 0, 0), 3);
        r.inputRate = r.maskRate = factor << 16;
        r.inputPadding = r.outputPadding = plugInWantsErrorOnBoundsException;
        ASSERT_EQ(noErr, server.serve(r)) << "factor " << factor;
        EXPECT_TRUE(same_rect(r.inRect, whole));
        EXPECT_TRUE(holds_source(r.inData, r.inRowBytes, r.inRect, 0, 3, factor));
        EXPECT_TRUE(holds_source(r.outData, r.outRowBytes, r.outRect, 0, 3, factor));
    }
}

// Every area the host may be asked for, byte for byte against the picture
// read a pixel at a time: rows copied whole where the planes lie packed, a
// pixel at a time elsewhere (plane ranges, reduced pictures, padding and
// edges), and output taken back the same ways.
TEST(AreaService, EveryAreaHoldsThePictureByteForByte)
{
    struct Case {
        int planes, lo, hi, factor, padding;
        Rect16 area;
    };
    const Rect16 areas[] = {rect(0, 0, 9, 13), rect(2, 3, 7, 11), rect(-2, -3, 4, 5), rect(5, 9, 12, 17),
                            rect(-1, -2, 11, 15), rect(-4, 14, -1, 18), rect(10, -5, 12, -1)};
    const int paddings[] = {plugInDoesNotWantPadding, 7, plugInWantsEdgeReplication};
    std::vector<Case> cases;
    for (int planes : {1, 3, 4})
        for (int lo = 0; lo < planes; ++lo)
            for (int hi : {lo, planes - 1})
                for (int factor : {1, 2, 3})
                    for (int padding : paddings)
                        for (const Rect16& area : areas)
                            cases.push_back({planes, lo, hi, factor, padding, area});
    for (const Case& c : cases) {
        const Picture source = make_coordinate_picture(13, 9, c.planes);
        Picture dest = source;
        AreaServer server(source, dest, nullptr);
        FilterRecord r = request(c.area, c.area, rect(0, 0, 0, 0), c.planes);
        r.inLoPlane = r.outLoPlane = int16(c.lo);
        r.inHiPlane = r.outHiPlane = int16(c.hi);
        r.inputRate = c.factor << 16;
        r.inputPadding = r.outputPadding = int16(c.padding);
        ASSERT_EQ(noErr, server.serve(r));
        const std::string name = "planes " + std::to_string(c.lo) + "-" + std::to_string(c.hi) + " of " +
                                 std::to_string(c.planes) + ", factor " + std::to_string(c.factor) + ", padding " +
                                 std::to_string(c.padding) + ", area " + std::to_string(c.area.top) + "," +
                                 std::to_string(c.area.left) + "," + std::to_string(c.area.bottom) + "," +
                                 std::to_string(c.area.right);
        const int n = c.hi - c.lo + 1;
        const int w = (13 + c.factor - 1) / c.factor, h = (9 + c.factor - 1) / c.factor;
        const Rect16 got = r.inRect;
        ASSERT_TRUE(same_rect(got, r.outRect)) << name;
        if (c.padding == plugInDoesNotWantPadding)
            ASSERT_TRUE(same_rect(got, rect(std::max<int>(c.area.top, 0), std::max<int>(c.area.left, 0),
                                            std::min<int>(c.area.bottom, h), std::min<int>(c.area.right, w))) ||
                        AreaServer::empty(got))
                << name;
        else
            ASSERT_TRUE(same_rect(got, c.area)) << name;
        if (AreaServer::empty(got))
            continue;
        ASSERT_EQ((got.right - got.left) * n, r.inRowBytes) << name;
        int wrong = 0;
        for (int y = got.top; y < got.bottom; ++y)
            for (int x = got.left; x < got.right; ++x)
                for (int p = 0; p < n; ++p) {
                    const bool inside = x >= 0 && y >= 0 && x < w && y < h;
                    const int sx = std::min(std::max(x, 0), w - 1) * c.factor;
                    const int sy = std::min(std::max(y, 0), h - 1) * c.factor;
                    const int want = !inside && c.padding >= 0 ? c.padding : coordinate_value(sx, sy, c.lo + p);
                    const size_t at = size_t(y - got.top) * size_t(r.inRowBytes) + size_t((x - got.left) * n + p);
                    wrong += static_cast<unsigned char*>(r.inData)[at] != want;
                    wrong += static_cast<unsigned char*>(r.outData)[at] != want;
                }
        EXPECT_EQ(0, wrong) << name;

        // Output written over the whole area reaches the picture at factor 1
        // only, inside it only, in the planes asked for only.
        for (int i = 0; i < r.outRowBytes * (got.bottom - got.top); ++i)
            static_cast<unsigned char*>(r.outData)[i] = static_cast<unsigned char>(200 + i % 50);
        server.write_back();
        wrong = 0;
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 13; ++x)
                for (int p = 0; p < c.planes; ++p) {
                    const bool written = c.factor == 1 && x >= got.left && x < got.right && y >= got.top &&
                                         y < got.bottom && p >= c.lo && p <= c.hi;
                    const int i = (y - got.top) * r.outRowBytes + (x - got.left) * n + (p - c.lo);
                    wrong += dest.at(x, y)[p] != (written ? 200 + i % 50 : coordinate_value(x, y, p));
                }
        EXPECT_EQ(0, wrong) << name;
    }
}

// Large areas go through the pool of blocks: a request still never gets the
// previous request's addresses, a block waiting in the pool faults as a freed
// one does, a reused block is filled like a new one, and the decoder's
// blocks keep their bytes when they grow.
TEST(AreaService, LargeAreasReuseBlocksWithoutLettingStalePointersPass)
{
    const Picture source = make_coordinate_picture(1000, 600, 3); // 1.8 MB: through the pool
    Picture dest = source;
    AreaServer server(source, dest, nullptr);
    block_pool::prepare(source.pixels.size(), 2);
    block_pool::wait_prepared();
    FilterRecord r = request(rect(0, 0, 600, 1000), rect(0, 0, 600, 1000), rect(0, 0, 0, 0), 3);
    void* seen_in[4] = {};
    void* seen_out[4] = {};
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(noErr, server.serve(r));
        seen_in[i] = r.inData;
        seen_out[i] = r.outData;
        ASSERT_TRUE(holds_source(r.inData, r.inRowBytes, r.inRect, 0, 3, 1)) << i;
        ASSERT_TRUE(holds_source(r.outData, r.outRowBytes, r.outRect, 0, 3, 1)) << i;
        EXPECT_TRUE(inaccessible(static_cast<unsigned char*>(r.inData) + 600 * r.inRowBytes)) << i;
        EXPECT_TRUE(inaccessible(static_cast<unsigned char*>(r.outData) + 600 * r.outRowBytes)) << i;
        if (i > 0) {
            for (void* now : {r.inData, r.outData})
                for (void* before : {seen_in[i - 1], seen_out[i - 1]})
                    EXPECT_NE(before, now) << i;
            // The previous request's blocks are back in the pool or freed.
            EXPECT_TRUE(inaccessible(seen_in[i - 1])) << i;
            EXPECT_TRUE(inaccessible(seen_out[i - 1])) << i;
        }
    }
    // Blocks were reused: four requests of two blocks each from fewer.
    int reused = 0;
    for (int i = 2; i < 4; ++i)
        for (int j = 0; j < i - 1; ++j)
            reused += (seen_in[i] == seen_in[j] || seen_in[i] == seen_out[j]) +
                      (seen_out[i] == seen_in[j] || seen_out[i] == seen_out[j]);
    EXPECT_GT(reused, 0);
    server.release(r);

    const size_t big = 3 * block_pool::threshold;
    unsigned char* block = static_cast<unsigned char*>(block_pool::decoder_malloc(big));
    ASSERT_NE(nullptr, block);
    for (size_t i = 0; i < big; ++i)
        block[i] = static_cast<unsigned char>(i * 7);
    unsigned char* grown = static_cast<unsigned char*>(block_pool::decoder_realloc(block, big, 2 * big));
    ASSERT_NE(nullptr, grown);
    size_t wrong = 0;
    for (size_t i = 0; i < big; ++i)
        wrong += grown[i] != static_cast<unsigned char>(i * 7);
    EXPECT_EQ(0u, wrong);
    grown[2 * big - 1] = 1;
    block_pool::decoder_free(grown);
    EXPECT_TRUE(inaccessible(grown));
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

    // A padded area wholly right of the picture has nothing to take back.
    r.outRect = rect(2, 20, 4, 24);
    r.outputPadding = 0;
    ASSERT_EQ(noErr, server.serve(r));
    std::memset(r.outData, 7, size_t(2 * r.outRowBytes));
    after = dest;
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

    // Where nobody sees a chooser, the colour offered is kept (clamped) at once.
    HostOptions unseen;
    unseen.answer_boxes = true;
    Host headless(unseen, plugin);
    info.selector = plugIncolorServicesChooseColor;
    info.sourceSpace = plugIncolorServicesRGBSpace;
    info.colorComponents[0] = 300;
    info.colorComponents[1] = 40;
    info.colorComponents[2] = -3;
    EXPECT_EQ(noErr, headless.color_services(&info));
    EXPECT_EQ(255, info.colorComponents[0]);
    EXPECT_EQ(40, info.colorComponents[1]);
    EXPECT_EQ(0, info.colorComponents[2]);
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
        // The chooser fills its controls after it shows; a press before that is lost.
        wait_until([&] { return GetDlgItem(dialog, IDOK) != nullptr && IsWindowEnabled(GetDlgItem(dialog, IDOK)); }, 2000);
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
