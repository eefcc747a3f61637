// sim::printable_datagram, the simulator's log of any datagram: printable ASCII only, each byte
// shown as itself, "\\" or \xHH, so the log reads back to the datagram's first max_bytes bytes.
#include <string>

#include "fuzz_check.h"
#include "wire.h"

namespace {

int hex_value(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::size_t max_bytes = data[0];
    std::string_view datagram = fuzz::as_text(data + 1, size - 1);
    std::string log = sim::printable_datagram(datagram, max_bytes);
    for (char c : log) {
        FUZZ_CHECK(c >= 0x20 && c < 0x7F);
    }
    std::string shown = datagram.size() > max_bytes
                            ? "... (" + std::to_string(datagram.size()) + " bytes)"
                            : std::string();
    FUZZ_CHECK(log.ends_with(shown));
    std::string_view escaped(log.data(), log.size() - shown.size());
    std::string decoded;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            decoded += escaped[i];
        } else if (i + 1 < escaped.size() && escaped[i + 1] == '\\') {
            decoded += '\\';
            ++i;
        } else {
            FUZZ_CHECK(i + 3 < escaped.size() && escaped[i + 1] == 'x');
            int high = hex_value(escaped[i + 2]);
            int low = hex_value(escaped[i + 3]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            decoded += static_cast<char>(high * 16 + low);
            i += 3;
        }
    }
    FUZZ_CHECK(decoded == datagram.substr(0, max_bytes));
    return 0;
}
