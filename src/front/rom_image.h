// What makes a file a bootloader (ROM) image that updaterom may write: its exact size and a
// signature in the text of its header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// A bootloader image is exactly 64 KiB.
inline constexpr std::uint64_t kRomImageSize = 65536;

// The header window whose text carries the signature.
inline constexpr std::size_t kRomHeaderSize = 128;

// The signatures of the known board families, tested in this order.
inline constexpr std::array<std::string_view, 8> rom_signature_table = {
    "KRD/4Q, Rel. B, ROM-Version:",  "KRD4/Q, Rel. B, ROM-Version:",
    "PLN7/ZE, Rel. A, ROM-Version:", "PLN7/ZE, Rel. B, ROM-Version:",
    "PLN7/ZE, Rel. C, ROM-Version:", "PGR/ZE, Rel. B, ROM-Version:",
    "PGR/ZE, Rel. C, ROM-Version:",  "PLN7/HTY, Rel. B, ROM-Version:",
};

// True when the header window (the first kRomHeaderSize bytes of the image, or fewer) holds a
// signature of the table in its text before the first zero byte, or begins with "BOOT".
bool has_rom_signature(std::string_view header);
