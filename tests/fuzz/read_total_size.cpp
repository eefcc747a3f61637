// read_total_size with format_total_line: the end reply's total is read as strtod reads the text
// after the tag and one separator (the board's own "<FLASH_CONFIG_END> n" gives n back), and the
// total line is one line of plain text whatever the number.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "sessions/flash_table.h"

namespace {

void check_line(double total) {
    std::string line = format_total_line(total);
    FUZZ_CHECK(line.starts_with("Total size of flash memory "));
    FUZZ_CHECK(line.ends_with(" bytes.\n") && line.find('\n') == line.size() - 1);
    FUZZ_CHECK(fuzz::is_terminal_safe(line));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text = fuzz::as_text(data, size < 127 ? size : 127);
    text = text.substr(0, text.find('\0'));
    std::string reply = ("<FLASH_CONFIG_END> " + std::string(text)).substr(0, 127);
    double total = read_total_size(reply);
    double expected = std::strtod(reply.c_str() + 19, nullptr);
    FUZZ_CHECK(std::memcmp(&total, &expected, sizeof total) == 0 ||
               (std::isnan(total) && std::isnan(expected)));
    check_line(total);

    if (size >= 4) {
        std::uint32_t mib = 0;
        std::memcpy(&mib, data, sizeof mib);
        FUZZ_CHECK(read_total_size("<FLASH_CONFIG_END> " + std::to_string(mib)) == mib);
        check_line(mib);
    }
    if (size >= sizeof(double)) {
        double any = 0;
        std::memcpy(&any, data, sizeof any);
        check_line(any);
    }
    return 0;
}
