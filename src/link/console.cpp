#include "link/console.h"

#include <cstdarg>
#include <cstdio>

namespace {

void print_to(std::FILE* stream, const char* format, std::va_list args) {
    std::vfprintf(stream, format, args);
    std::fflush(stream);
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
