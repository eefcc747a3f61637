// What every fuzz target shares: the entry point libFuzzer calls, and a property check that
// stops the run with the failed condition, in the fuzzer and in the corpus replay alike.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)

namespace fuzz {

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// True when the text holds no control byte but tab, newline and carriage return, and no C1
// control written in UTF-8 (0xC2 followed by 0x80-0x9F).
inline bool is_terminal_safe(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        bool control = byte < 0x20 || byte == 0x7F;
        if (control && byte != '\t' && byte != '\n' && byte != '\r') {
            return false;
        }
        auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            return false;
        }
    }
    return true;
}

// What atoi reads from the start of text, saturated to the int32 range: the reference the
// number readers are held to, taken from strtoll.
inline long long saturated_int32(const std::string& text) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : value;
}

}  // namespace fuzz
