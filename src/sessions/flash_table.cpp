#include "sessions/flash_table.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

// White space as a scan pattern skips it.
bool is_scan_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void skip_blanks(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && is_scan_blank(text[pos])) {
        ++pos;
    }
}

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Skips an optional sign at pos; true when it was a minus.
bool skip_sign(std::string_view text, std::size_t& pos) {
    if (pos >= text.size() || (text[pos] != '+' && text[pos] != '-')) {
        return false;
    }
    return text[pos++] == '-';
}

// Reads a hexadecimal field as a scan pattern's %X does, modulo 2^32, so a number of any width
// keeps its low 32 bits and a minus sign negates it as an unsigned conversion would. A "0x" with
// no digit after it reads as 0, the way the C library takes it. On success pos moves past it.
bool scan_hex32(std::string_view text, std::size_t& pos, std::uint32_t& value) {
    std::size_t at = pos;
    skip_blanks(text, at);
    const bool negative = skip_sign(text, at);
    bool has_digits = false;
    if (at + 1 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X')) {
        at += 2;
        has_digits = true;
    }
    std::uint32_t result = 0;
    for (; at < text.size() && hex_digit_value(text[at]) >= 0; ++at) {
        result = result * 16u + static_cast<std::uint32_t>(hex_digit_value(text[at]));
        has_digits = true;
    }
    if (!has_digits) {
        return false;
    }
    value = negative ? 0u - result : result;
    pos = at;
    return true;
}

// Reads a decimal field as %d does, saturated to the int32 range instead of overflowing.
bool scan_int32(std::string_view text, std::size_t& pos, std::int32_t& value) {
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 31;  // the magnitude of the int32 minimum
    std::size_t at = pos;
    skip_blanks(text, at);
    const bool negative = skip_sign(text, at);
    const std::size_t digits_start = at;
    std::uint64_t magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[at] - '0');
        if (magnitude > kLimit) {
            magnitude = kLimit;
        }
    }
    if (at == digits_start) {
        return false;
    }
    if (negative) {
        value = static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
    } else {
        value = static_cast<std::int32_t>(std::min<std::uint64_t>(magnitude, kLimit - 1));
    }
    pos = at;
    return true;
}

}  // namespace

const char* area_type_name(AreaType type) {
    static constexpr const char* kNames[] = {
        "Free",        "Free for Reserve System", "User",     "System",
        "File System", "Reserve System",          "Registry", "ROM",
    };
    const auto index = static_cast<std::uint32_t>(type);
    if (index >= std::size(kNames)) {
        return "Unknown";
    }
    return kNames[index];
}

int parse_area_reply(std::string_view reply, AreaRow& row) {
    if (!reply.starts_with(kFlashConfigDataTag)) {
        return 0;
    }
    std::size_t pos = kFlashConfigDataTag.size();
    if (!scan_hex32(reply, pos, row.start)) {
        return 0;
    }
    if (!scan_hex32(reply, pos, row.end)) {
        return 1;
    }
    if (!scan_int32(reply, pos, row.type)) {
        return 2;
    }
    return 3;
}

std::uint32_t area_size(const AreaRow& row) {
    return row.end - row.start + 1u;
}

std::string format_area_row(const AreaRow& row) {
    const std::uint32_t size = area_size(row);
    char line[128];
    std::snprintf(line, sizeof line,
                  "0x%08" PRIX32 " - 0x%08" PRIX32 " | %-27s | %7" PRIu32 " (%4" PRIu32
                  "K) bytes\n",
                  row.start, row.end, area_type_name(row.type), size, size / 1024u);
    return line;
}

double read_total_size(std::string_view reply) {
    constexpr std::size_t kOffset = kFlashConfigEndTag.size() + 1;
    if (reply.size() <= kOffset) {
        return 0;
    }
    // strtod reads what atof reads, but an out-of-range number gives infinity instead of undefined
    // behaviour.
    const std::string number(reply.substr(kOffset));
    return std::strtod(number.c_str(), nullptr);
}

std::string format_total_line(double total_mib) {
    // Room for the widest double printed without decimals, plus the text around it.
    char line[512];
    double whole = 0;
    if (std::modf(total_mib, &whole) == 0) {
        std::snprintf(line, sizeof line, "Total size of flash memory %.fM bytes.\n", total_mib);
    } else if (total_mib < 1.0) {
        std::snprintf(line, sizeof line, "Total size of flash memory %.fK bytes.\n",
                      total_mib * 1024);
    } else {
        std::snprintf(line, sizeof line, "Total size of flash memory %.3fM bytes.\n", total_mib);
    }
    return line;
}
