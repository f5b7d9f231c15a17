// The two records a plug-in fills and a host reads, byte by byte, as 32-bit
// and 64-bit hosts lay them out. The offsets are written here from the hosts'
// published layouts, not taken from the plug-in's header: a record declared
// wrongly there passes our own host, which reads it through the same header,
// and fails only in a real one.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "win/support/raw_records.h"

namespace {

struct HostLayout {
    const char* name;
    size_t pointer;
    // PSPixelMap
    size_t map_size, version, bounds, image_mode, row_bytes, col_bytes, plane_bytes, base_addr, mat, masks,
        mask_phase_row, mask_phase_col;
    // PSPixelMask
    size_t mask_size, mask_next, mask_data, mask_row_bytes, mask_col_bytes, mask_description;
    // ColorServicesInfo
    size_t info_size, info_size_field, selector, source_space, result_space, gamut_valid, in_gamut,
        source_space_info, result_space_info, components, reserved, selector_parameter;
};

const HostLayout x86_hosts = {"x86", 4, 56, 0, 4, 20, 24, 28, 32, 36, 40, 44, 48, 52,
                              20, 0, 4, 8, 12, 16,
                              36, 0, 4, 6, 8, 10, 11, 12, 16, 20, 28, 32};
// Natural alignment: every pointer on 8, with padding before baseAddr and
// before reservedSourceSpaceInfo.
const HostLayout x64_hosts = {"x64", 8, 72, 0, 4, 20, 24, 28, 32, 40, 48, 56, 64, 68,
                              32, 0, 8, 16, 20, 24,
                              56, 0, 4, 6, 8, 10, 11, 16, 24, 32, 40, 48};

const HostLayout& this_host = sizeof(void*) == 8 ? x64_hosts : x86_hosts;

template <typename T>
T read_at(const std::vector<unsigned char>& bytes, size_t offset)
{
    T value{};
    if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

uintptr_t pointer_at(const std::vector<unsigned char>& bytes, size_t offset, size_t size)
{
    return size == 8 ? uintptr_t(read_at<uint64_t>(bytes, offset)) : uintptr_t(read_at<uint32_t>(bytes, offset));
}

} // namespace

TEST(HostRecords, PreviewPixelsAndColourRequestReadRightThroughTheHostsLayout)
{
    const HostLayout& L = this_host;
    wintest::RawRecords raw;
    std::string error;
    ASSERT_TRUE(wintest::capture_raw_records("CellumbraPick.8bf", 402, 0x00806040, raw, error)) << error;

    const auto& map = raw.pixel_map;
    std::printf("%s PSPixelMap (%u bytes): version %u bounds %u imageMode %u rowBytes %u colBytes %u planeBytes %u "
                "baseAddr %u mat %u masks %u maskPhaseRow %u maskPhaseCol %u\n",
                L.name, unsigned(L.map_size), unsigned(L.version), unsigned(L.bounds), unsigned(L.image_mode),
                unsigned(L.row_bytes), unsigned(L.col_bytes), unsigned(L.plane_bytes), unsigned(L.base_addr),
                unsigned(L.mat), unsigned(L.masks), unsigned(L.mask_phase_row), unsigned(L.mask_phase_col));
    EXPECT_EQ(read_at<int32_t>(map, L.version), 1);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(read_at<int32_t>(map, L.bounds + 4 * i), raw.out_rect[i]) << "bounds, field " << i;
    EXPECT_EQ(read_at<int32_t>(map, L.image_mode), raw.image_mode);
    EXPECT_EQ(read_at<int32_t>(map, L.row_bytes), raw.out_row_bytes);
    EXPECT_EQ(read_at<int32_t>(map, L.col_bytes), raw.out_planes);
    EXPECT_EQ(read_at<int32_t>(map, L.plane_bytes), 1);
    EXPECT_NE(raw.out_data, 0u);
    EXPECT_EQ(pointer_at(map, L.base_addr, L.pointer), raw.out_data) << "baseAddr";
    EXPECT_EQ(pointer_at(map, L.mat, L.pointer), 0u) << "mat";
    // A floating selection: the map points to a mask of the host's selection.
    const uintptr_t mask_at = pointer_at(map, L.masks, L.pointer);
    ASSERT_NE(mask_at, 0u) << "masks";
    const size_t reach = raw.around_map.size() / 2;
    ASSERT_TRUE(mask_at + reach >= raw.pixel_map_at && mask_at + L.mask_size <= raw.pixel_map_at + reach)
        << "the mask lies beyond the stack kept around the map";
    const std::vector<unsigned char> mask(raw.around_map.begin() + (mask_at + reach - raw.pixel_map_at),
                                          raw.around_map.begin() + (mask_at + reach - raw.pixel_map_at) + L.mask_size);
    std::printf("%s PSPixelMask (%u bytes): next %u maskData %u rowBytes %u colBytes %u maskDescription %u\n", L.name,
                unsigned(L.mask_size), unsigned(L.mask_next), unsigned(L.mask_data), unsigned(L.mask_row_bytes),
                unsigned(L.mask_col_bytes), unsigned(L.mask_description));
    EXPECT_EQ(pointer_at(mask, L.mask_next, L.pointer), 0u) << "next";
    EXPECT_NE(raw.mask_data, 0u);
    EXPECT_EQ(pointer_at(mask, L.mask_data, L.pointer), raw.mask_data) << "maskData";
    EXPECT_EQ(read_at<int32_t>(mask, L.mask_row_bytes), raw.mask_row_bytes);
    EXPECT_EQ(read_at<int32_t>(mask, L.mask_col_bytes), 1);
    EXPECT_EQ(read_at<int32_t>(mask, L.mask_description), 0) << "a simple mask";
    EXPECT_EQ(read_at<int32_t>(map, L.mask_phase_row), 0);
    EXPECT_EQ(read_at<int32_t>(map, L.mask_phase_col), 0);
    EXPECT_EQ(raw.area_at, raw.pixel_map_at + L.bounds) << "the source rectangle is the map's own bounds";

    const auto& info = raw.colour_info;
    std::printf("%s ColorServicesInfo (%u bytes): infoSize %u selector %u sourceSpace %u resultSpace %u "
                "resultGamutInfoValid %u resultInGamut %u reservedSourceSpaceInfo %u reservedResultSpaceInfo %u "
                "colorComponents %u reserved %u selectorParameter %u\n",
                L.name, unsigned(L.info_size), unsigned(L.info_size_field), unsigned(L.selector),
                unsigned(L.source_space), unsigned(L.result_space), unsigned(L.gamut_valid), unsigned(L.in_gamut),
                unsigned(L.source_space_info), unsigned(L.result_space_info), unsigned(L.components),
                unsigned(L.reserved), unsigned(L.selector_parameter));
    EXPECT_EQ(read_at<int32_t>(info, L.info_size_field), int32_t(L.info_size)) << "infoSize";
    EXPECT_EQ(read_at<int16_t>(info, L.selector), 0) << "choose a colour";
    EXPECT_EQ(read_at<int16_t>(info, L.source_space), 0) << "RGB";
    EXPECT_EQ(read_at<int16_t>(info, L.result_space), 0) << "RGB";
    EXPECT_EQ(read_at<uint8_t>(info, L.gamut_valid), 0);
    EXPECT_EQ(read_at<uint8_t>(info, L.in_gamut), 0);
    EXPECT_EQ(pointer_at(info, L.source_space_info, L.pointer), 0u);
    EXPECT_EQ(pointer_at(info, L.result_space_info, L.pointer), 0u);
    const int16_t components[4] = {0x40, 0x60, 0x80, 0};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(read_at<int16_t>(info, L.components + 2 * i), components[i]) << "component " << i;
    EXPECT_EQ(pointer_at(info, L.reserved, L.pointer), 0u);
    const auto* prompt = reinterpret_cast<const unsigned char*>(pointer_at(info, L.selector_parameter, L.pointer));
    ASSERT_NE(prompt, nullptr) << "pickerPrompt";
    ASSERT_FALSE(IsBadReadPtr(prompt, 1)) << "pickerPrompt";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(prompt), size_t(prompt[0]) + 1),
              std::string("\x1c Glyphsmithery: Select Color"));
    wintest::release_plugin();
}
