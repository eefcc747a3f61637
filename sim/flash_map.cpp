#include "flash_map.h"

#include <cstdio>

namespace sim {

namespace {

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;
constexpr std::uint64_t kSector = 64 * kKiB;

std::uint64_t whole_sectors(std::uint64_t bytes) {
    return (bytes + kSector - 1) / kSector * kSector;
}

// Appends [begin, end) as an area, joining it to a free area right before it.
void add_area(std::vector<FlashArea>& areas, std::uint64_t begin, std::uint64_t end,
              AreaType type) {
    if (begin >= end) {
        return;
    }
    auto last = static_cast<std::uint32_t>(end - 1);
    if (type == AreaType::free && !areas.empty() && areas.back().type == AreaType::free &&
        areas.back().end + std::uint64_t{1} == begin) {
        areas.back().end = last;
        return;
    }
    areas.push_back({static_cast<std::uint32_t>(begin), last, type});
}

// An image at the start of its region and the empty rest.
void add_image_region(std::vector<FlashArea>& areas, const Region& region, std::uint64_t bytes,
                      AreaType image_type, AreaType empty_type) {
    std::uint64_t image_end = region.begin + whole_sectors(bytes);
    if (image_end > region.end) {
        image_end = region.end;
    }
    add_area(areas, region.begin, image_end, image_type);
    add_area(areas, image_end, region.end, empty_type);
}

}  // namespace

FlashLayout::FlashLayout(std::uint32_t mib) : total_mib(mib) {
    std::uint64_t top = std::uint64_t{mib} * kMiB;
    rom = {0, 64 * kKiB};
    registry = {rom.end, 256 * kKiB};
    unused = {top - kMiB, top};
    user = {unused.begin - kMiB, unused.begin};
    file_system = {user.begin - 4 * kMiB, user.begin};
    reserve = {file_system.begin - 4 * kMiB, file_system.begin};
    system = {registry.end, reserve.begin};
}

std::vector<FlashArea> flash_areas(const FlashLayout& layout, const FlashContents& contents) {
    std::vector<FlashArea> areas;
    add_area(areas, layout.rom.begin, layout.rom.end, AreaType::rom);
    add_area(areas, layout.registry.begin, layout.registry.end,
             contents.registry ? AreaType::registry : AreaType::free);
    add_image_region(areas, layout.system, contents.system_bytes, AreaType::system, AreaType::free);
    add_image_region(areas, layout.reserve, contents.reserve_bytes, AreaType::reserve_system,
                     AreaType::free_for_reserve);
    add_area(areas, layout.file_system.begin, layout.file_system.end,
             contents.file_system ? AreaType::file_system : AreaType::free);
    add_area(areas, layout.user.begin, layout.user.end,
             contents.user ? AreaType::user : AreaType::free);
    add_area(areas, layout.unused.begin, layout.unused.end, AreaType::free);
    return areas;
}

std::vector<std::string> flash_config_replies(const FlashLayout& layout,
                                              const FlashContents& contents) {
    std::vector<std::string> replies{"<FLASH_CONFIG_START>"};
    char line[64];
    for (const FlashArea& area : flash_areas(layout, contents)) {
        std::snprintf(line, sizeof line, "<FLASH_CONFIG_DATA> 0x%08X 0x%08X %d",
                      static_cast<unsigned>(area.start), static_cast<unsigned>(area.end),
                      static_cast<int>(area.type));
        replies.emplace_back(line);
    }
    replies.push_back("<FLASH_CONFIG_END> " + std::to_string(layout.total_mib));
    return replies;
}

}  // namespace sim
