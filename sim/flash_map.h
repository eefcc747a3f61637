// The simulated board's flash memory: fixed regions for the bootloader, the registry, the system,
// the reserve system, the flash file system and the user area, what each holds, and the map of
// typed areas that the board reports for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// The numbers the board sends for the types of its flash areas.
enum class AreaType : int {
    free = 0,
    free_for_reserve = 1,
    user = 2,
    system = 3,
    file_system = 4,
    reserve_system = 5,
    registry = 6,
    rom = 7,
};

// One area of the map; end is the last byte's address.
struct FlashArea {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    AreaType type = AreaType::free;

    bool operator==(const FlashArea&) const = default;
};

// A region of the flash, first byte and one past its last.
struct Region {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;

    std::uint64_t size() const { return end - begin; }
};

// Where each region lies in a flash of total_mib mebibytes: the bootloader and the registry at the
// bottom, the reserve system (4 MiB), the file system (4 MiB), the user area (1 MiB) and 1 MiB
// never used at the top, and the system region in between, which grows with the flash.
struct FlashLayout {
    explicit FlashLayout(std::uint32_t total_mib);

    std::uint32_t total_mib;
    Region rom;
    Region registry;
    Region system;
    Region reserve;
    Region file_system;
    Region user;
    Region unused;
};

// What the flash holds. Images occupy their region from its start, in whole 64 KiB sectors.
struct FlashContents {
    bool registry = true;
    std::uint64_t system_bytes = 3 * 1024 * 1024;
    std::uint64_t reserve_bytes = 1792 * 1024;
    bool file_system = true;
    bool user = true;
};

// The smallest flash the layout fits in, and the largest whose addresses fit in 32 bits.
inline constexpr std::uint32_t kMinFlashMib = 16;
inline constexpr std::uint32_t kMaxFlashMib = 4096;

// The map of the flash in address order. Empty parts of the reserve region are "free for reserve
// system", every other empty part is free; neighbouring free areas are shown as one.
std::vector<FlashArea> flash_areas(const FlashLayout& layout, const FlashContents& contents);

// The replies to "<GETCONFIG>": the start, one data reply per area and the end with the total
// size in MiB.
std::vector<std::string> flash_config_replies(const FlashLayout& layout,
                                              const FlashContents& contents);

}  // namespace sim
