#include "flash_map.h"

#include <gtest/gtest.h>

using sim::AreaType;
using sim::FlashArea;

TEST(SimFlashMap, SixteenMebibytesAsDelivered) {
    sim::FlashLayout layout(16);
    std::vector<FlashArea> expected{
        {0x00000000, 0x0000FFFF, AreaType::rom},
        {0x00010000, 0x0003FFFF, AreaType::registry},
        {0x00040000, 0x0033FFFF, AreaType::system},
        {0x00340000, 0x005FFFFF, AreaType::free},
        {0x00600000, 0x007BFFFF, AreaType::reserve_system},
        {0x007C0000, 0x009FFFFF, AreaType::free_for_reserve},
        {0x00A00000, 0x00DFFFFF, AreaType::file_system},
        {0x00E00000, 0x00EFFFFF, AreaType::user},
        {0x00F00000, 0x00FFFFFF, AreaType::free},
    };
    EXPECT_EQ(sim::flash_areas(layout, sim::FlashContents{}), expected);
    std::vector<std::string> replies = sim::flash_config_replies(layout, sim::FlashContents{});
    ASSERT_EQ(replies.size(), 11u);
    EXPECT_EQ(replies.front(), "<FLASH_CONFIG_START>");
    EXPECT_EQ(replies[1], "<FLASH_CONFIG_DATA> 0x00000000 0x0000FFFF 7");
    EXPECT_EQ(replies[6], "<FLASH_CONFIG_DATA> 0x007C0000 0x009FFFFF 1");
    EXPECT_EQ(replies.back(), "<FLASH_CONFIG_END> 16");
}

TEST(SimFlashMap, EmptyRegionsJoinIntoOneFreeArea) {
    sim::FlashLayout layout(16);
    sim::FlashContents empty{false, 0, 0, false, false};
    std::vector<FlashArea> expected{
        {0x00000000, 0x0000FFFF, AreaType::rom},
        {0x00010000, 0x005FFFFF, AreaType::free},
        {0x00600000, 0x009FFFFF, AreaType::free_for_reserve},
        {0x00A00000, 0x00FFFFFF, AreaType::free},
    };
    EXPECT_EQ(sim::flash_areas(layout, empty), expected);
}

TEST(SimFlashMap, ImagesTakeWholeSectorsAndTheSystemRegionGrowsWithTheFlash) {
    sim::FlashLayout layout(64);
    EXPECT_EQ(layout.system.begin, 0x40000u);
    EXPECT_EQ(layout.system.end, 54u * 1024 * 1024);
    EXPECT_EQ(layout.unused.end, 64u * 1024 * 1024);
    sim::FlashContents contents;
    contents.system_bytes = 1;
    contents.reserve_bytes = 65537;
    std::vector<FlashArea> areas = sim::flash_areas(layout, contents);
    ASSERT_GE(areas.size(), 6u);
    EXPECT_EQ(areas[2], (FlashArea{0x00040000, 0x0004FFFF, AreaType::system}));
    EXPECT_EQ(areas[4], (FlashArea{0x03600000, 0x0361FFFF, AreaType::reserve_system}));

    sim::FlashLayout largest(sim::kMaxFlashMib);
    EXPECT_EQ(sim::flash_areas(largest, contents).back().end, 0xFFFFFFFFu);
}
