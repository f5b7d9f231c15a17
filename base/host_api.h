// The host's filter plug-in records, callbacks and constants, declared once.
// Every host record the plug-in touches goes through this header. Hosts pack
// FilterRecord to 4 bytes and lay out every other record naturally; in 32 bits
// both give the same bytes, in 64 bits they do not. The offsets are checked at
// compile time in both Windows builds, where a single byte off would break
// every real host.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define PS_CDECL __cdecl
#else
#define PS_CDECL
#endif

typedef int16_t int16;
typedef int32_t int32;
typedef uint16_t uint16;
typedef uint32_t uint32;
typedef unsigned char Boolean;
typedef int32_t Fixed;
typedef int16_t OSErr;

struct Point16 {
    int16 v; // vertical first: imageSize.v is the height
    int16 h;
};

struct Rect16 {
    int16 top, left, bottom, right; // bottom and right exclusive
};

struct VRect {
    int32 top, left, bottom, right;
};

struct RGBColor {
    uint16 red, green, blue;
};

struct PlugInMonitor {
    Fixed gamma, redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY, ambient;
};

// The records below the host reads from the plug-in (or hands over) keep their
// natural alignment: inside pack(4) the pointers of a 64-bit build would move
// 4 bytes early and a real host would read zeros or half pointers.

struct PSPixelMask {
    PSPixelMask* next;
    void* maskData;
    int32 rowBytes;
    int32 colBytes;
    int32 maskDescription; // 0 = simple mask
};

struct PSPixelMap {
    int32 version;
    VRect bounds;
    int32 imageMode;
    int32 rowBytes;
    int32 colBytes;
    int32 planeBytes;
    void* baseAddr;
    void* mat;
    PSPixelMask* masks;
    int32 maskPhaseRow;
    int32 maskPhaseCol;
};

struct ColorServicesInfo {
    int32 infoSize;
    int16 selector;
    int16 sourceSpace;
    int16 resultSpace;
    Boolean resultGamutInfoValid;
    Boolean resultInGamut;
    void* reservedSourceSpaceInfo;
    void* reservedResultSpaceInfo;
    int16 colorComponents[4];
    void* reserved;
    union {
        unsigned char* pickerPrompt; // length-prefixed string
        void* globalPointer;
        int32 specialColorID;
    } selectorParameter;
};

typedef Boolean(PS_CDECL* TestAbortProc)(void);
typedef void(PS_CDECL* ProgressProc)(int32 done, int32 total);
typedef OSErr(PS_CDECL* AdvanceStateProc)(void);
typedef OSErr(PS_CDECL* DisplayPixelsProc)(const PSPixelMap* source, const VRect* srcRect,
                                           int32 dstRow, int32 dstCol, void* platformContext);
typedef OSErr(PS_CDECL* ColorServicesProc)(ColorServicesInfo* info);

// The record that platformData points to; only its first field is defined.
struct PlatformData {
    intptr_t hwnd;
};

#pragma pack(push, 4)

struct FilterRecord {
    int32 serial;
    TestAbortProc abortProc;
    ProgressProc progressProc;
    void* parameters;
    Point16 imageSize;
    int16 planes;
    Rect16 filterRect;
    RGBColor background;
    RGBColor foreground;
    int32 maxSpace;
    int32 bufferSpace;
    Rect16 inRect;
    int16 inLoPlane, inHiPlane;
    Rect16 outRect;
    int16 outLoPlane, outHiPlane;
    void* inData;
    int32 inRowBytes;
    void* outData;
    int32 outRowBytes;
    Boolean isFloating, haveMask, autoMask;
    Rect16 maskRect;
    void* maskData;
    int32 maskRowBytes;
    unsigned char backColor[4]; // red, green, blue, 0
    unsigned char foreColor[4];
    uint32 hostSig;
    void* hostProcs;
    int16 imageMode;
    Fixed imageHRes, imageVRes;
    Point16 floatCoord, wholeSize;
    PlugInMonitor monitor;
    void* platformData;
    void* bufferProcs;
    void* resourceProcs;
    void* processEvent;
    DisplayPixelsProc displayPixels;
    void* handleProcs;
    Boolean supportsDummyChannels, supportsAlternateLayouts;
    int16 wantLayout;
    int16 filterCase;
    int16 dummyPlaneValue;
    void* premiereHook;
    AdvanceStateProc advanceState;
    Boolean supportsAbsolute, wantsAbsolute;
    void* getPropertyObsolete;
    Boolean cannotUndo;
    Boolean supportsPadding;
    int16 inputPadding, outputPadding, maskPadding;
    char samplingSupport, reservedByte;
    Fixed inputRate, maskRate;
    ColorServicesProc colorServices;
    int16 inLayerPlanes, inTransparencyMask, inLayerMasks, inInvertedLayerMasks, inNonLayerPlanes;
    int16 outLayerPlanes, outTransparencyMask, outLayerMasks, outInvertedLayerMasks, outNonLayerPlanes;
    int16 absLayerPlanes, absTransparencyMask, absLayerMasks, absInvertedLayerMasks, absNonLayerPlanes;
    int16 inPreDummyPlanes, inPostDummyPlanes, outPreDummyPlanes, outPostDummyPlanes;
    int32 inColumnBytes, inPlaneBytes, outColumnBytes, outPlaneBytes;
    void* imageServicesProcs;
    void* propertyProcs;
    int16 inTileHeight, inTileWidth;
    Point16 inTileOrigin;
    int16 absTileHeight, absTileWidth;
    Point16 absTileOrigin;
    int16 outTileHeight, outTileWidth;
    Point16 outTileOrigin;
    int16 maskTileHeight, maskTileWidth;
    Point16 maskTileOrigin;
    void* descriptorParameters;
    void* errorString;
    void* channelPortProcs;
    void* documentInfo;
    void* sSPBasic;
    void* plugInRef;
    int32 depth;
#if INTPTR_MAX == INT64_MAX
    // 64-bit hosts lay these out before the reserved bytes; the plug-in never
    // reads them, they only keep the record as long as the host's.
    void* iccProfileData;
    int32 iccProfileSize;
    int32 canUseICCProfiles;
    char reserved[54];
#else
    char reserved[66];
#endif
};

#pragma pack(pop)

// Selectors of ENTRYPOINT.
enum : int16 {
    filterSelectorAbout = 0,
    filterSelectorParameters = 1,
    filterSelectorPrepare = 2,
    filterSelectorStart = 3,
    filterSelectorContinue = 4,
    filterSelectorFinish = 5,
};

enum : int16 {
    plugInModeGrayScale = 1,
    plugInModeRGBColor = 3,
};

enum : int16 {
    noErr = 0,
    userCanceledErr = -128,
    memFullErr = -108,
    filterBadParameters = -30100, // the host's record or data cannot drive a run
    filterBadMode = -30101,
};

enum : int16 {
    plugIncolorServicesChooseColor = 0,
    plugIncolorServicesRGBSpace = 0,
};

// Host records in the layout of the build: 32-bit hosts' offsets in a 32-bit
// build, 64-bit hosts' in a 64-bit one (the native tree checks those too).
#define PS_CHECK(type, field, offset) static_assert(offsetof(type, field) == (offset), #type "." #field)
static_assert(sizeof(Point16) == 4 && sizeof(Rect16) == 8 && sizeof(VRect) == 16, "rects");
static_assert(sizeof(RGBColor) == 6 && sizeof(PlugInMonitor) == 40, "colour records");
#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(FilterRecord) == 452, "FilterRecord size");
PS_CHECK(FilterRecord, serial, 0);
PS_CHECK(FilterRecord, abortProc, 4);
PS_CHECK(FilterRecord, progressProc, 8);
PS_CHECK(FilterRecord, parameters, 12);
PS_CHECK(FilterRecord, imageSize, 16);
PS_CHECK(FilterRecord, planes, 20);
PS_CHECK(FilterRecord, filterRect, 22);
PS_CHECK(FilterRecord, background, 30);
PS_CHECK(FilterRecord, foreground, 36);
PS_CHECK(FilterRecord, maxSpace, 44);
PS_CHECK(FilterRecord, bufferSpace, 48);
PS_CHECK(FilterRecord, inRect, 52);
PS_CHECK(FilterRecord, inLoPlane, 60);
PS_CHECK(FilterRecord, inHiPlane, 62);
PS_CHECK(FilterRecord, outRect, 64);
PS_CHECK(FilterRecord, outLoPlane, 72);
PS_CHECK(FilterRecord, outHiPlane, 74);
PS_CHECK(FilterRecord, inData, 76);
PS_CHECK(FilterRecord, inRowBytes, 80);
PS_CHECK(FilterRecord, outData, 84);
PS_CHECK(FilterRecord, outRowBytes, 88);
PS_CHECK(FilterRecord, isFloating, 92);
PS_CHECK(FilterRecord, haveMask, 93);
PS_CHECK(FilterRecord, autoMask, 94);
PS_CHECK(FilterRecord, maskRect, 96);
PS_CHECK(FilterRecord, maskData, 104);
PS_CHECK(FilterRecord, maskRowBytes, 108);
PS_CHECK(FilterRecord, backColor, 112);
PS_CHECK(FilterRecord, foreColor, 116);
PS_CHECK(FilterRecord, hostSig, 120);
PS_CHECK(FilterRecord, hostProcs, 124);
PS_CHECK(FilterRecord, imageMode, 128);
PS_CHECK(FilterRecord, imageHRes, 132);
PS_CHECK(FilterRecord, imageVRes, 136);
PS_CHECK(FilterRecord, floatCoord, 140);
PS_CHECK(FilterRecord, wholeSize, 144);
PS_CHECK(FilterRecord, monitor, 148);
PS_CHECK(FilterRecord, platformData, 188);
PS_CHECK(FilterRecord, bufferProcs, 192);
PS_CHECK(FilterRecord, resourceProcs, 196);
PS_CHECK(FilterRecord, processEvent, 200);
PS_CHECK(FilterRecord, displayPixels, 204);
PS_CHECK(FilterRecord, handleProcs, 208);
PS_CHECK(FilterRecord, supportsDummyChannels, 212);
PS_CHECK(FilterRecord, supportsAlternateLayouts, 213);
PS_CHECK(FilterRecord, wantLayout, 214);
PS_CHECK(FilterRecord, filterCase, 216);
PS_CHECK(FilterRecord, dummyPlaneValue, 218);
PS_CHECK(FilterRecord, premiereHook, 220);
PS_CHECK(FilterRecord, advanceState, 224);
PS_CHECK(FilterRecord, supportsAbsolute, 228);
PS_CHECK(FilterRecord, wantsAbsolute, 229);
PS_CHECK(FilterRecord, getPropertyObsolete, 232);
PS_CHECK(FilterRecord, cannotUndo, 236);
PS_CHECK(FilterRecord, supportsPadding, 237);
PS_CHECK(FilterRecord, inputPadding, 238);
PS_CHECK(FilterRecord, outputPadding, 240);
PS_CHECK(FilterRecord, maskPadding, 242);
PS_CHECK(FilterRecord, samplingSupport, 244);
PS_CHECK(FilterRecord, reservedByte, 245);
PS_CHECK(FilterRecord, inputRate, 248);
PS_CHECK(FilterRecord, maskRate, 252);
PS_CHECK(FilterRecord, colorServices, 256);
PS_CHECK(FilterRecord, inLayerPlanes, 260);
PS_CHECK(FilterRecord, inTransparencyMask, 262);
PS_CHECK(FilterRecord, inLayerMasks, 264);
PS_CHECK(FilterRecord, inInvertedLayerMasks, 266);
PS_CHECK(FilterRecord, inNonLayerPlanes, 268);
PS_CHECK(FilterRecord, outLayerPlanes, 270);
PS_CHECK(FilterRecord, outNonLayerPlanes, 278);
PS_CHECK(FilterRecord, absLayerPlanes, 280);
PS_CHECK(FilterRecord, absNonLayerPlanes, 288);
PS_CHECK(FilterRecord, inPreDummyPlanes, 290);
PS_CHECK(FilterRecord, inPostDummyPlanes, 292);
PS_CHECK(FilterRecord, outPreDummyPlanes, 294);
PS_CHECK(FilterRecord, outPostDummyPlanes, 296);
PS_CHECK(FilterRecord, inColumnBytes, 300);
PS_CHECK(FilterRecord, inPlaneBytes, 304);
PS_CHECK(FilterRecord, outColumnBytes, 308);
PS_CHECK(FilterRecord, outPlaneBytes, 312);
PS_CHECK(FilterRecord, imageServicesProcs, 316);
PS_CHECK(FilterRecord, propertyProcs, 320);
PS_CHECK(FilterRecord, inTileHeight, 324);
PS_CHECK(FilterRecord, inTileWidth, 326);
PS_CHECK(FilterRecord, inTileOrigin, 328);
PS_CHECK(FilterRecord, absTileHeight, 332);
PS_CHECK(FilterRecord, absTileWidth, 334);
PS_CHECK(FilterRecord, absTileOrigin, 336);
PS_CHECK(FilterRecord, outTileHeight, 340);
PS_CHECK(FilterRecord, outTileWidth, 342);
PS_CHECK(FilterRecord, outTileOrigin, 344);
PS_CHECK(FilterRecord, maskTileHeight, 348);
PS_CHECK(FilterRecord, maskTileWidth, 350);
PS_CHECK(FilterRecord, maskTileOrigin, 352);
PS_CHECK(FilterRecord, descriptorParameters, 356);
PS_CHECK(FilterRecord, errorString, 360);
PS_CHECK(FilterRecord, channelPortProcs, 364);
PS_CHECK(FilterRecord, documentInfo, 368);
PS_CHECK(FilterRecord, sSPBasic, 372);
PS_CHECK(FilterRecord, plugInRef, 376);
PS_CHECK(FilterRecord, depth, 380);
PS_CHECK(FilterRecord, reserved, 384);

static_assert(sizeof(PSPixelMap) == 56, "PSPixelMap size");
PS_CHECK(PSPixelMap, version, 0);
PS_CHECK(PSPixelMap, bounds, 4);
PS_CHECK(PSPixelMap, imageMode, 20);
PS_CHECK(PSPixelMap, rowBytes, 24);
PS_CHECK(PSPixelMap, colBytes, 28);
PS_CHECK(PSPixelMap, planeBytes, 32);
PS_CHECK(PSPixelMap, baseAddr, 36);
PS_CHECK(PSPixelMap, mat, 40);
PS_CHECK(PSPixelMap, masks, 44);
PS_CHECK(PSPixelMap, maskPhaseRow, 48);
PS_CHECK(PSPixelMap, maskPhaseCol, 52);

static_assert(sizeof(PSPixelMask) == 20, "PSPixelMask size");
PS_CHECK(PSPixelMask, next, 0);
PS_CHECK(PSPixelMask, maskData, 4);
PS_CHECK(PSPixelMask, rowBytes, 8);
PS_CHECK(PSPixelMask, colBytes, 12);
PS_CHECK(PSPixelMask, maskDescription, 16);

static_assert(sizeof(ColorServicesInfo) == 36, "ColorServicesInfo size");
PS_CHECK(ColorServicesInfo, infoSize, 0);
PS_CHECK(ColorServicesInfo, selector, 4);
PS_CHECK(ColorServicesInfo, sourceSpace, 6);
PS_CHECK(ColorServicesInfo, resultSpace, 8);
PS_CHECK(ColorServicesInfo, resultGamutInfoValid, 10);
PS_CHECK(ColorServicesInfo, resultInGamut, 11);
PS_CHECK(ColorServicesInfo, reservedSourceSpaceInfo, 12);
PS_CHECK(ColorServicesInfo, reservedResultSpaceInfo, 16);
PS_CHECK(ColorServicesInfo, colorComponents, 20);
PS_CHECK(ColorServicesInfo, reserved, 28);
PS_CHECK(ColorServicesInfo, selectorParameter, 32);
static_assert(sizeof(PlatformData) == 4, "PlatformData size");
#elif INTPTR_MAX == INT64_MAX
static_assert(sizeof(FilterRecord) == 556, "FilterRecord size");
PS_CHECK(FilterRecord, serial, 0);
PS_CHECK(FilterRecord, abortProc, 4);
PS_CHECK(FilterRecord, progressProc, 12);
PS_CHECK(FilterRecord, parameters, 20);
PS_CHECK(FilterRecord, imageSize, 28);
PS_CHECK(FilterRecord, planes, 32);
PS_CHECK(FilterRecord, filterRect, 34);
PS_CHECK(FilterRecord, background, 42);
PS_CHECK(FilterRecord, foreground, 48);
PS_CHECK(FilterRecord, maxSpace, 56);
PS_CHECK(FilterRecord, bufferSpace, 60);
PS_CHECK(FilterRecord, inRect, 64);
PS_CHECK(FilterRecord, inLoPlane, 72);
PS_CHECK(FilterRecord, inHiPlane, 74);
PS_CHECK(FilterRecord, outRect, 76);
PS_CHECK(FilterRecord, outLoPlane, 84);
PS_CHECK(FilterRecord, outHiPlane, 86);
PS_CHECK(FilterRecord, inData, 88);
PS_CHECK(FilterRecord, inRowBytes, 96);
PS_CHECK(FilterRecord, outData, 100);
PS_CHECK(FilterRecord, outRowBytes, 108);
PS_CHECK(FilterRecord, isFloating, 112);
PS_CHECK(FilterRecord, haveMask, 113);
PS_CHECK(FilterRecord, autoMask, 114);
PS_CHECK(FilterRecord, maskRect, 116);
PS_CHECK(FilterRecord, maskData, 124);
PS_CHECK(FilterRecord, maskRowBytes, 132);
PS_CHECK(FilterRecord, backColor, 136);
PS_CHECK(FilterRecord, foreColor, 140);
PS_CHECK(FilterRecord, hostSig, 144);
PS_CHECK(FilterRecord, hostProcs, 148);
PS_CHECK(FilterRecord, imageMode, 156);
PS_CHECK(FilterRecord, imageHRes, 160);
PS_CHECK(FilterRecord, imageVRes, 164);
PS_CHECK(FilterRecord, floatCoord, 168);
PS_CHECK(FilterRecord, wholeSize, 172);
PS_CHECK(FilterRecord, monitor, 176);
PS_CHECK(FilterRecord, platformData, 216);
PS_CHECK(FilterRecord, bufferProcs, 224);
PS_CHECK(FilterRecord, resourceProcs, 232);
PS_CHECK(FilterRecord, processEvent, 240);
PS_CHECK(FilterRecord, displayPixels, 248);
PS_CHECK(FilterRecord, handleProcs, 256);
PS_CHECK(FilterRecord, supportsDummyChannels, 264);
PS_CHECK(FilterRecord, supportsAlternateLayouts, 265);
PS_CHECK(FilterRecord, wantLayout, 266);
PS_CHECK(FilterRecord, filterCase, 268);
PS_CHECK(FilterRecord, dummyPlaneValue, 270);
PS_CHECK(FilterRecord, premiereHook, 272);
PS_CHECK(FilterRecord, advanceState, 280);
PS_CHECK(FilterRecord, supportsAbsolute, 288);
PS_CHECK(FilterRecord, wantsAbsolute, 289);
PS_CHECK(FilterRecord, getPropertyObsolete, 292);
PS_CHECK(FilterRecord, cannotUndo, 300);
PS_CHECK(FilterRecord, supportsPadding, 301);
PS_CHECK(FilterRecord, inputPadding, 302);
PS_CHECK(FilterRecord, outputPadding, 304);
PS_CHECK(FilterRecord, maskPadding, 306);
PS_CHECK(FilterRecord, samplingSupport, 308);
PS_CHECK(FilterRecord, reservedByte, 309);
PS_CHECK(FilterRecord, inputRate, 312);
PS_CHECK(FilterRecord, maskRate, 316);
PS_CHECK(FilterRecord, colorServices, 320);
PS_CHECK(FilterRecord, inLayerPlanes, 328);
PS_CHECK(FilterRecord, inTransparencyMask, 330);
PS_CHECK(FilterRecord, inLayerMasks, 332);
PS_CHECK(FilterRecord, inInvertedLayerMasks, 334);
PS_CHECK(FilterRecord, inNonLayerPlanes, 336);
PS_CHECK(FilterRecord, outLayerPlanes, 338);
PS_CHECK(FilterRecord, outNonLayerPlanes, 346);
PS_CHECK(FilterRecord, absLayerPlanes, 348);
PS_CHECK(FilterRecord, absNonLayerPlanes, 356);
PS_CHECK(FilterRecord, inPreDummyPlanes, 358);
PS_CHECK(FilterRecord, inPostDummyPlanes, 360);
PS_CHECK(FilterRecord, outPreDummyPlanes, 362);
PS_CHECK(FilterRecord, outPostDummyPlanes, 364);
PS_CHECK(FilterRecord, inColumnBytes, 368);
PS_CHECK(FilterRecord, inPlaneBytes, 372);
PS_CHECK(FilterRecord, outColumnBytes, 376);
PS_CHECK(FilterRecord, outPlaneBytes, 380);
PS_CHECK(FilterRecord, imageServicesProcs, 384);
PS_CHECK(FilterRecord, propertyProcs, 392);
PS_CHECK(FilterRecord, inTileHeight, 400);
PS_CHECK(FilterRecord, inTileWidth, 402);
PS_CHECK(FilterRecord, inTileOrigin, 404);
PS_CHECK(FilterRecord, absTileHeight, 408);
PS_CHECK(FilterRecord, absTileWidth, 410);
PS_CHECK(FilterRecord, absTileOrigin, 412);
PS_CHECK(FilterRecord, outTileHeight, 416);
PS_CHECK(FilterRecord, outTileWidth, 418);
PS_CHECK(FilterRecord, outTileOrigin, 420);
PS_CHECK(FilterRecord, maskTileHeight, 424);
PS_CHECK(FilterRecord, maskTileWidth, 426);
PS_CHECK(FilterRecord, maskTileOrigin, 428);
PS_CHECK(FilterRecord, descriptorParameters, 432);
PS_CHECK(FilterRecord, errorString, 440);
PS_CHECK(FilterRecord, channelPortProcs, 448);
PS_CHECK(FilterRecord, documentInfo, 456);
PS_CHECK(FilterRecord, sSPBasic, 464);
PS_CHECK(FilterRecord, plugInRef, 472);
PS_CHECK(FilterRecord, depth, 480);
PS_CHECK(FilterRecord, iccProfileData, 484);
PS_CHECK(FilterRecord, iccProfileSize, 492);
PS_CHECK(FilterRecord, canUseICCProfiles, 496);
PS_CHECK(FilterRecord, reserved, 500);

static_assert(sizeof(PSPixelMap) == 72, "PSPixelMap size");
PS_CHECK(PSPixelMap, version, 0);
PS_CHECK(PSPixelMap, bounds, 4);
PS_CHECK(PSPixelMap, imageMode, 20);
PS_CHECK(PSPixelMap, rowBytes, 24);
PS_CHECK(PSPixelMap, colBytes, 28);
PS_CHECK(PSPixelMap, planeBytes, 32);
PS_CHECK(PSPixelMap, baseAddr, 40);
PS_CHECK(PSPixelMap, mat, 48);
PS_CHECK(PSPixelMap, masks, 56);
PS_CHECK(PSPixelMap, maskPhaseRow, 64);
PS_CHECK(PSPixelMap, maskPhaseCol, 68);

static_assert(sizeof(PSPixelMask) == 32, "PSPixelMask size");
PS_CHECK(PSPixelMask, next, 0);
PS_CHECK(PSPixelMask, maskData, 8);
PS_CHECK(PSPixelMask, rowBytes, 16);
PS_CHECK(PSPixelMask, colBytes, 20);
PS_CHECK(PSPixelMask, maskDescription, 24);

static_assert(sizeof(ColorServicesInfo) == 56, "ColorServicesInfo size");
PS_CHECK(ColorServicesInfo, infoSize, 0);
PS_CHECK(ColorServicesInfo, selector, 4);
PS_CHECK(ColorServicesInfo, sourceSpace, 6);
PS_CHECK(ColorServicesInfo, resultSpace, 8);
PS_CHECK(ColorServicesInfo, resultGamutInfoValid, 10);
PS_CHECK(ColorServicesInfo, resultInGamut, 11);
PS_CHECK(ColorServicesInfo, reservedSourceSpaceInfo, 16);
PS_CHECK(ColorServicesInfo, reservedResultSpaceInfo, 24);
PS_CHECK(ColorServicesInfo, colorComponents, 32);
PS_CHECK(ColorServicesInfo, reserved, 40);
PS_CHECK(ColorServicesInfo, selectorParameter, 48);
static_assert(sizeof(PlatformData) == 8, "PlatformData size");
#endif
#undef PS_CHECK
