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

// True when the text holds no control byte but tab, newline and carriage return.
inline bool is_terminal_safe(std::string_view text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        bool control = byte < 0x20 || byte == 0x7F;
        if (control && c != '\t' && c != '\n' && c != '\r') {
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
