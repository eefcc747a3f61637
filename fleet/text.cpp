#include "text.h"

#include <algorithm>
#include <cstdio>

#include "link/console.h"

namespace fleet {
namespace {

bool is_plain_argument(const std::string& argument) {
    return !argument.empty() &&
           argument.find_first_of(" \t\n'\"\\$`*?;&|<>()#~") == std::string::npos;
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

std::string one_line(std::string_view text) {
    std::string safe;
    for (char c : escape_board_text(text)) {
        if (c == '\r' || c == '\n') {
            safe += c == '\r' ? "\\x0d" : "\\x0a";
        } else {
            safe += c;
        }
    }
    return safe;
}

std::string fit(std::string_view text, std::size_t width) {
    if (text.size() <= width) {
        return std::string(text);
    }
    if (width < 3) {
        return std::string(text.substr(0, width));
    }
    return std::string(text.substr(0, width - 3)) + "...";
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
