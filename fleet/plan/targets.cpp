#include "plan/targets.h"

#include "text.h"

namespace fleet {
namespace {

// The lines of a target file: text up to a "#" and without blanks around it, with line numbers.
std::vector<std::pair<int, std::string>> target_lines(const std::string& text) {
    std::vector<std::pair<int, std::string>> lines;
    int number = 0;
    for (std::string_view line : split_lines(text)) {
        ++number;
        std::string_view content = trim(line.substr(0, line.find('#')));
        if (!content.empty()) {
            lines.emplace_back(number, std::string(content));
        }
    }
    return lines;
}

void add_one(TargetList& list, std::string_view text, const std::string& origin) {
    ParsedTarget parsed = parse_target(text);
    if (!parsed.target) {
        list.errors.push_back(origin + ": " + parsed.error);
        return;
    }
    for (const Target& earlier : list.targets) {
        if (earlier.address == parsed.target->address && earlier.port == parsed.target->port) {
            list.errors.push_back(origin + ": " + earlier.text() + " is given twice (first " +
                                  earlier.origin + ")");
            return;
        }
    }
    parsed.target->origin = origin;
    list.targets.push_back(*parsed.target);
}

}  // namespace

std::string Target::text() const {
    return format_ipv4(address) + ":" + std::to_string(port);
}

std::optional<std::uint32_t> parse_number(std::string_view text, std::uint32_t low,
                                          std::uint32_t high) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> parse_ipv4(std::string_view text) {
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        std::size_t dot = part < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view number = text.substr(0, dot);
        std::optional<std::uint32_t> value = parse_number(number, 0, 255);
        if (!value || (number.size() > 1 && number[0] == '0')) {
            return std::nullopt;
        }
        address = (address << 8) | *value;
        text.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    return address;
}

std::string format_ipv4(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

ParsedTarget parse_target(std::string_view text) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return {std::nullopt, quote(text) + " is not ADDRESS:PORT"};
    }
    std::optional<std::uint32_t> address = parse_ipv4(text.substr(0, colon));
    if (!address) {
        return {std::nullopt,
                quote(text.substr(0, colon)) + " is not an IPv4 address such as 10.10.10.10"};
    }
    std::optional<std::uint32_t> port = parse_number(text.substr(colon + 1), 1, 65535);
    if (!port) {
        return {std::nullopt, quote(text.substr(colon + 1)) + " is not a port from 1 to 65535"};
    }
    return {Target{*address, static_cast<std::uint16_t>(*port), ""}, ""};
}

void add_targets(TargetList& list, std::string_view argument, std::string_view origin,
                 const std::optional<std::string>& file_text) {
    if (!argument.starts_with('@')) {
        add_one(list, argument, std::string(origin));
        return;
    }
    std::string file(argument.substr(1));
    if (!file_text) {
        list.errors.push_back(std::string(origin) + ": cannot read the target file '" + file + "'");
        return;
    }
    std::vector<std::pair<int, std::string>> lines = target_lines(*file_text);
    if (lines.empty()) {
        list.errors.push_back(std::string(origin) + ": the target file '" + file +
                              "' holds no target");
    }
    for (const auto& [number, text] : lines) {
        add_one(list, text, file + " line " + std::to_string(number));
    }
}

ParsedRange parse_range(std::string_view text) {
    std::size_t slash = text.find('/');
    std::optional<std::uint32_t> address =
        parse_ipv4(slash == std::string_view::npos ? text : text.substr(0, slash));
    if (slash == std::string_view::npos || !address) {
        return {std::nullopt, quote(text) + " is not ADDRESS/BITS"};
    }
    std::optional<std::uint32_t> bits = parse_number(text.substr(slash + 1), 0, 32);
    if (!bits) {
        return {std::nullopt, quote(text.substr(slash + 1)) + " is not 0 to 32 bits"};
    }
    if (*bits < kWidestScan) {
        return {std::nullopt,
                "a scan covers at most a /20 (4094 addresses), not a /" + std::to_string(*bits)};
    }
    std::uint32_t mask = *bits == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> *bits);
    return {Range{*address & mask, static_cast<int>(*bits)}, ""};
}

std::vector<std::uint32_t> host_addresses(const Range& range) {
    std::uint32_t count = 1u << (32 - range.bits);
    std::vector<std::uint32_t> hosts;
    std::uint32_t first = count > 2 ? 1 : 0;
    std::uint32_t end = count > 2 ? count - 1 : count;
    for (std::uint32_t i = first; i < end; ++i) {
        hosts.push_back(range.network + i);
    }
    return hosts;
}

}  // namespace fleet
