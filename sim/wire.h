// The board's side of the wire format: reading the tool's end-of-load message, the transfer
// checksum, the board type named in a bootloader header, and a printable form of any datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// The longest reply the tool can read as text: its reply buffer holds 128 bytes with a zero.
inline constexpr std::size_t kMaxReplyLength = 127;

// The largest data block the tool sends.
inline constexpr std::size_t kMaxBlockLength = 1024;

// Adds bytes that stand at offset within an image to a transfer checksum: the sum modulo 2^32
// of the image's big-endian 32-bit words, the last one padded with zero bytes. Pieces may be
// added in any sizes, as long as each gives its true offset.
std::uint32_t add_to_checksum(std::uint32_t sum, std::uint64_t offset, std::string_view bytes);

// The checksum of an end-of-load message ("<END_LOAD> " and a signed or unsigned 32-bit decimal,
// an optional space, one zero byte, even length in all), as an unsigned 32-bit value. Empty for
// any other datagram.
std::optional<std::uint32_t> parse_end_load(std::string_view datagram);

// The board type that a bootloader names in its header: the word right before the first
// ", Rel." in the header text (the first 128 bytes up to the first zero byte). Empty when there
// is none.
std::string rom_board_type(std::string_view image_head);

// The datagram's text without the zero bytes at its end (the tool sends a few messages with their
// terminating zero).
std::string_view without_trailing_zeros(std::string_view datagram);

// A printable form of a datagram for the log: printable ASCII as it is, a backslash doubled,
// every other byte as \xHH. Datagrams longer than max_bytes show their first max_bytes and
// their length.
std::string printable_datagram(std::string_view datagram, std::size_t max_bytes = 64);

}  // namespace sim
