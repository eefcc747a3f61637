// escape_board_text: the output holds no control byte but tab, newline and carriage return, and
// is the input with exactly those other control bytes written as \xNN.
#include "fuzz_check.h"
#include "link/console.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text = fuzz::as_text(data, size);
    std::string safe = escape_board_text(text);
    FUZZ_CHECK(fuzz::is_terminal_safe(safe));
    static const char kHex[] = "0123456789abcdef";
    std::size_t at = 0;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        bool escaped = (byte < 0x20 || byte == 0x7F) && c != '\t' && c != '\n' && c != '\r';
        if (escaped) {
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
