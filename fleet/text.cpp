#include "text.h"

#include <algorithm>
#include <cstdio>

#include "link/console.h"
#include "os/terminal.h"

namespace fleet {
namespace {

bool is_plain_argument(const std::string& argument) {
    return !argument.empty() &&
           argument.find_first_of(" \t\n'\"\\$`*?;&|<>()#~") == std::string::npos;
}

bool is_continuation(std::string_view text, std::size_t at, unsigned char low = 0x80,
                     unsigned char high = 0xBF) {
    if (at >= text.size()) {
        return false;
    }
    auto byte = static_cast<unsigned char>(text[at]);
    return byte >= low && byte <= high;
}

// The length of the well-formed UTF-8 character text begins with (1 for ASCII), 0 when its first
// byte begins none. The second byte's range is narrower after some first bytes: no overlong forms,
// no surrogates, nothing above U+10FFFF.
std::size_t utf8_character_length(std::string_view text) {
    auto first = static_cast<unsigned char>(text[0]);
    if (first < 0x80) {
        return 1;
    }
    std::size_t length = first >= 0xC2 && first <= 0xDF   ? 2
                         : first >= 0xE0 && first <= 0xEF ? 3
                         : first >= 0xF0 && first <= 0xF4 ? 4
                                                          : 0;
    unsigned char low = first == 0xE0 ? 0xA0 : first == 0xF0 ? 0x90 : 0x80;
    unsigned char high = first == 0xED ? 0x9F : first == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || !is_continuation(text, 1, low, high)) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!is_continuation(text, i)) {
            return 0;
        }
    }
    return length;
}

std::string hex_escape(unsigned char byte) {
    static const char kHex[] = "0123456789abcdef";
    return {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
}

}  // namespace

std::vector<std::string_view> split_lines(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

std::string quote(std::string_view text) {
    // Built by appending: GCC 12 at -O3 takes "'" + std::string for overlapping copies.
    std::string quoted;
    quoted.reserve(text.size() + 2);
    return quoted.append("'").append(text).append("'");
}

std::string_view trim(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r";
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string one_line(std::string_view text, StrayC1 stray) {
    std::string escaped = escape_board_text(text);
    std::string safe;
    for (std::string_view rest = escaped; !rest.empty();) {
        std::size_t length = utf8_character_length(rest);
        auto byte = static_cast<unsigned char>(rest[0]);
        bool stray_c1 = length == 0 && byte >= 0x80 && byte <= 0x9F;
        std::size_t step = length == 0 ? 1 : length;
        if (byte == '\t' || byte == '\r' || byte == '\n' ||
            (stray_c1 && stray == StrayC1::control)) {
            safe += hex_escape(byte);
        } else {
            safe.append(rest.substr(0, step));
        }
        rest.remove_prefix(step);
    }
    return safe;
}

std::string one_line(std::string_view text) {
    return one_line(text, terminal::stray_c1_is_control() ? StrayC1::control : StrayC1::letter);
}

std::string fit(std::string_view text, std::size_t width) {
    if (text.size() <= width) {
        return std::string(text);
    }
    std::size_t cut = width < 3 ? width : width - 3;
    // A cut inside a UTF-8 letter would leave half of it, which terminals show as garbage.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(text.substr(0, cut)) + (width < 3 ? "" : "...");
}

std::string pad(std::string_view text, std::size_t width) {
    std::string padded(text);
    if (padded.size() < width) {
        padded.append(width - padded.size(), ' ');
    }
    return padded;
}

std::vector<std::string> format_table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const std::vector<std::string>& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::vector<std::string> lines;
    for (const std::vector<std::string>& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += i + 1 < row.size() ? pad(row[i], widths[i] + 2) : row[i];
        }
        lines.push_back(std::string(trim(line)));
    }
    return lines;
}

std::string format_seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string format_elapsed(double seconds) {
    long total = seconds < 0 ? 0 : static_cast<long>(seconds);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    }
    return text;
}

std::string shell_line(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& argument : argv) {
        line += line.empty() ? "" : " ";
        if (is_plain_argument(argument)) {
            line += argument;
            continue;
        }
        line += "'";
        for (char c : argument) {
            line += c == '\'' ? "'\\''" : std::string(1, c);
        }
        line += "'";
    }
    return line;
}

}  // namespace fleet
