// The pure readers of message text: buffer text, tags and numbers at offsets. The fleet shares
// them with the tool, so they live apart from the link that the rest of framing.cpp needs.
#include <climits>
#include <cstring>

#include "sessions/framing.h"

namespace {

bool is_atoi_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string_view buffer_text(const char* buffer) {
    const void* end = std::memchr(buffer, '\0', kMessageBufferSize - 1);
    std::size_t length = end == nullptr
                             ? kMessageBufferSize - 1
                             : static_cast<std::size_t>(static_cast<const char*>(end) - buffer);
    return {buffer, length};
}

bool has_tag(std::string_view reply, std::string_view tag) {
    return reply.starts_with(tag);
}

std::string_view text_from(std::string_view reply, std::size_t offset) {
    return offset < reply.size() ? reply.substr(offset) : std::string_view{};
}

std::int32_t read_int_at(std::string_view reply, std::size_t offset) {
    std::string_view text = text_from(reply, offset);
    std::size_t i = 0;
    while (i < text.size() && is_atoi_blank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= static_cast<long long>(INT_MAX) + 1) {
            value = value * 10 + (text[i] - '0');
        }
    }
    value = negative ? -value : value;
    value = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : value;
    return static_cast<std::int32_t>(value);
}
