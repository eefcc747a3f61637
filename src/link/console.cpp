#include "link/console.h"

#include <cstdarg>
#include <cstdio>

void print_out(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

void print_err(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

std::string escape_board_text(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string safe;
    safe.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        bool control = byte < 0x20 || byte == 0x7F;
        if (!control || c == '\t' || c == '\n' || c == '\r') {
            safe.push_back(c);
            continue;
        }
        safe += "\\x";
        safe.push_back(kHex[byte >> 4]);
        safe.push_back(kHex[byte & 0x0F]);
    }
    return safe;
}
