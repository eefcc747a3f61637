#include "link/console.h"

#include <cstdarg>
#include <cstdio>

namespace {

void print_to(std::FILE* stream, const char* format, std::va_list args) {
    std::vfprintf(stream, format, args);
    std::fflush(stream);
}

bool is_c0_control(unsigned char byte) {
    return (byte < 0x20 || byte == 0x7F) && byte != '\t' && byte != '\n' && byte != '\r';
}

// The second byte of U+0080 to U+009F in UTF-8, whose first byte is 0xC2.
bool is_c1_second_byte(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 && byte <= 0x9F;
}

// A C0 control, or either byte of a C1 control written in UTF-8. A 0xC2 that ends the text counts
// too: the next text printed could begin with the byte that makes it a control. A byte 0x80-0x9F
// on its own stays: the code pages of Windows consoles show it as a letter.
bool escapes_byte_at(std::string_view text, std::size_t i) {
    constexpr char kC1FirstByte = '\xC2';
    if (is_c0_control(static_cast<unsigned char>(text[i]))) {
        return true;
    }
    if (text[i] == kC1FirstByte) {
        return i + 1 == text.size() || is_c1_second_byte(text[i + 1]);
    }
    return is_c1_second_byte(text[i]) && i > 0 && text[i - 1] == kC1FirstByte;
}

}  // namespace

void print_out(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    print_to(stdout, format, args);
    va_end(args);
}

void print_err(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    print_to(stderr, format, args);
    va_end(args);
}

std::string escape_board_text(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string safe;
    safe.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (!escapes_byte_at(text, i)) {
            safe.push_back(text[i]);
            continue;
        }
        safe += "\\x";
        safe.push_back(kHex[byte >> 4]);
        safe.push_back(kHex[byte & 0x0F]);
    }
    return safe;
}
