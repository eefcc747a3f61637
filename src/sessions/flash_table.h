// The flash configuration table: area type names, the area reply parser, and the row and total
// line formats. Pure functions; the report dialogue prints what they return.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The numeric type of a flash area as the board sends it.
using AreaType = std::int32_t;

// The values of one area row. They persist from one area reply to the next, so a reply that parses
// only partly keeps the previous values of the fields it could not read.
struct AreaRow {
    std::uint32_t start = 0;
    std::uint32_t end = 0;  // inclusive
    AreaType type = 0;
};

inline constexpr std::string_view kFlashConfigStartTag = "<FLASH_CONFIG_START>";
inline constexpr std::string_view kFlashConfigDataTag = "<FLASH_CONFIG_DATA>";
inline constexpr std::string_view kFlashConfigEndTag = "<FLASH_CONFIG_END>";

// The rule above and below the column heading and under the last row (79 dashes and a newline).
inline constexpr const char* kFlashTableRule =
    "-------------------------------------------------------------------------------\n";

// Printed when the board starts its map: "OK." ending the probe's line, the title, the column
// heading between two rules.
inline constexpr const char* kFlashTableHeader =
    "OK.\n"
    "                           Flash memory configuration\n"
    "-------------------------------------------------------------------------------\n"
    "      Address Range     |          Area Name          |          Size\n"
    "-------------------------------------------------------------------------------\n";

// The display text of an area type; "Unknown" for anything outside 0 to 7.
const char* area_type_name(AreaType type);

// Reads "<FLASH_CONFIG_DATA> start end type" into row as far as it parses: start and end in
// hexadecimal (optional sign and 0x, either case; only the low 32 bits are kept), type in decimal
// (saturated to the AreaType range). Blanks between the fields are optional, as in a scan pattern.
// Returns how many fields were read; the fields not read keep their values.
int parse_area_reply(std::string_view reply, AreaRow& row);

// The size of an area in bytes, end - start + 1 modulo 2^32.
std::uint32_t area_size(const AreaRow& row);

// One table row: "0x%08X - 0x%08X | %-27s | %7u (%4uK) bytes\n" with the addresses, the type name,
// the size and the size in whole KiB.
std::string format_area_row(const AreaRow& row);

// The total size in MiB from an end reply, read as atof reads the text after the tag and one
// separator character; 0 when there is no number.
double read_total_size(std::string_view reply);

// The total line for total_mib: whole MiB without decimals, below 1 MiB as whole KiB, otherwise
// MiB with three decimals.
std::string format_total_line(double total_mib);
