#include "wire.h"

#include <charconv>

namespace sim {

namespace {

constexpr std::string_view kEndLoadTag = "<END_LOAD> ";
constexpr std::string_view kReleaseMark = ", Rel.";
constexpr std::size_t kRomHeadLength = 128;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::uint32_t add_to_checksum(std::uint32_t sum, std::uint64_t offset, std::string_view bytes) {
    std::size_t i = 0;
    // Bytes up to the next word boundary, then whole words, then the tail.
    for (; i < bytes.size() && (offset + i) % 4 != 0; ++i) {
        auto shift = 24 - 8 * ((offset + i) % 4);
        sum += static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << shift;
    }
    for (; i + 4 <= bytes.size(); i += 4) {
        sum += static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 24 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 2])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 3]));
    }
    for (; i < bytes.size(); ++i) {
        auto shift = 24 - 8 * ((offset + i) % 4);
        sum += static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << shift;
    }
    return sum;
}

std::optional<std::uint32_t> parse_end_load(std::string_view datagram) {
    if (datagram.size() % 2 != 0 || datagram.substr(0, kEndLoadTag.size()) != kEndLoadTag ||
        datagram.back() != '\0') {
        return std::nullopt;
    }
    std::string_view number = datagram.substr(kEndLoadTag.size());
    number.remove_suffix(1);
    if (!number.empty() && number.back() == ' ') {
        number.remove_suffix(1);
    }
    bool negative = !number.empty() && number.front() == '-';
    if (negative) {
        number.remove_prefix(1);
    }
    if (number.empty() || number.front() < '0' || number.front() > '9') {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), magnitude);
    if (error != std::errc() || end != number.data() + number.size()) {
        return std::nullopt;
    }
    if (negative ? magnitude > 0x80000000u : magnitude > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    auto value = static_cast<std::uint32_t>(magnitude);
    return negative ? static_cast<std::uint32_t>(0u - value) : value;
}

std::string rom_board_type(std::string_view image_head) {
    std::string_view head = image_head.substr(0, kRomHeadLength);
    head = head.substr(0, head.find('\0'));
    std::size_t mark = head.find(kReleaseMark);
    if (mark == std::string_view::npos) {
        return {};
    }
    std::size_t begin = mark;
    while (begin > 0 && !is_blank(head[begin - 1])) {
        --begin;
    }
    return std::string(head.substr(begin, mark - begin));
}

std::string_view without_trailing_zeros(std::string_view datagram) {
    while (!datagram.empty() && datagram.back() == '\0') {
        datagram.remove_suffix(1);
    }
    return datagram;
}

std::string printable_datagram(std::string_view datagram, std::size_t max_bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < datagram.size() && i < max_bytes; ++i) {
        auto byte = static_cast<unsigned char>(datagram[i]);
        if (byte == '\\') {
            text += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            text += static_cast<char>(byte);
        } else {
            text += "\\x";
            text += kHex[byte >> 4];
            text += kHex[byte & 0x0F];
        }
    }
    if (datagram.size() > max_bytes) {
        text += "... (" + std::to_string(datagram.size()) + " bytes)";
    }
    return text;
}

}  // namespace sim
