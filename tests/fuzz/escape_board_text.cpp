// escape_board_text: the output holds no control byte but tab, newline and carriage return, no C1
// control written in UTF-8 and no 0xC2 at its end, and is the input with exactly those bytes (the
// 0xC2 and its second byte both) written as \xNN.
#include <vector>

#include "fuzz_check.h"
#include "link/console.h"

namespace {

bool is_c1_second_byte(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F;
}

// The bytes the escaper must write as \xNN, found by pairing each 0xC2 with the byte after it.
std::vector<bool> escaped_bytes_of(std::string_view text) {
    std::vector<bool> escaped(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        bool c0 = (byte < 0x20 || byte == 0x7F) && byte != '\t' && byte != '\n' && byte != '\r';
        escaped[i] = escaped[i] || c0;  // the 0xC2 before may have set it
        if (byte != 0xC2) {
            continue;
        }
        bool last = i + 1 == text.size();
        if (last || is_c1_second_byte(static_cast<unsigned char>(text[i + 1]))) {
            escaped[i] = true;
            if (!last) {
                escaped[i + 1] = true;
            }
        }
    }
    return escaped;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text = fuzz::as_text(data, size);
    std::string safe = escape_board_text(text);
    FUZZ_CHECK(fuzz::is_terminal_safe(safe));
    FUZZ_CHECK(safe.empty() || safe.back() != '\xC2');
    static const char kHex[] = "0123456789abcdef";
    std::vector<bool> escaped = escaped_bytes_of(text);
    std::size_t at = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        auto byte = static_cast<unsigned char>(c);
        if (escaped[i]) {
            const char expected[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
            FUZZ_CHECK(safe.compare(at, 4, expected, 4) == 0);
            at += 4;
        } else {
            FUZZ_CHECK(at < safe.size() && safe[at] == c);
            ++at;
        }
    }
    FUZZ_CHECK(at == safe.size());
    return 0;
}
