// Boards to flash: ADDRESS:PORT on the command line or one a line in a file, IPv4 addresses in
// strict dotted form, and address ranges for the scan.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fleet {

struct Target {
    std::uint32_t address = 0;  // host byte order
    std::uint16_t port = 0;
    std::string origin;  // where it was given, for messages: "argument 2", "boards.txt line 4"

    std::string text() const;  // "127.0.0.2:4000"
};

// Four decimal numbers from 0 to 255 without leading zeros (the tool would read "010" as octal),
// separated by dots; nothing when text is not such an address.
std::optional<std::uint32_t> parse_ipv4(std::string_view text);

// Dotted text of a host-order address.
std::string format_ipv4(std::uint32_t address);

// A decimal number from low to high, digits only.
std::optional<std::uint32_t> parse_number(std::string_view text, std::uint32_t low,
                                          std::uint32_t high);

// ADDRESS:PORT, or the reason it is not one.
struct ParsedTarget {
    std::optional<Target> target;
    std::string error;
};
ParsedTarget parse_target(std::string_view text);

// Targets and every problem found with them (each naming where the target was given).
struct TargetList {
    std::vector<Target> targets;
    std::vector<std::string> errors;
};

// Adds the targets of one command-line argument: ADDRESS:PORT, or @FILE whose text is given as
// file_text (nothing: the file could not be read), one target a line, blank lines and "#"
// comments allowed. Repeated targets, and a file that holds no target, are errors.
void add_targets(TargetList& list, std::string_view argument, std::string_view origin,
                 const std::optional<std::string>& file_text);

// An address range ADDRESS/BITS for the scan: its first address and its prefix length.
struct Range {
    std::uint32_t network = 0;
    int bits = 32;
};
inline constexpr int kWidestScan = 20;  // a /20: 4094 host addresses

// The range of ADDRESS/BITS (BITS from 20 to 32), or the reason it is refused.
struct ParsedRange {
    std::optional<Range> range;
    std::string error;
};
ParsedRange parse_range(std::string_view text);

// The host addresses of a range: all but the network and broadcast addresses, except in a /31
// and a /32, whose every address is a host.
std::vector<std::uint32_t> host_addresses(const Range& range);

}  // namespace fleet
