#include "link/console.h"

#include <gtest/gtest.h>

TEST(Console, BoardTextIsEscapedForTheTerminal) {
    const std::pair<std::string, std::string> samples[] = {
        {"Talvium V2.3 (build 17)", "Talvium V2.3 (build 17)"},
        {"tab\there\r\nnext", "tab\there\r\nnext"},
        {"\x1b[2Jcleared", "\\x1b[2Jcleared"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x07\x08\x7f", "\\x07\\x08\\x7f"},
        {"caf\xC3\xA9 \x80\xFF", "caf\xC3\xA9 \x80\xFF"},
        // C1 controls written in UTF-8 (CSI, NEL), and a 0xC2 that a next text could complete;
        // 0x80-0x9F on their own, or as the second byte of other characters, are letters.
        {"\xC2\x9BK \xC2\x85 \xC2\xA0 \xC2\xC2\x80",
         "\\xc2\\x9bK \\xc2\\x85 \xC2\xA0 \xC2\\xc2\\x80"},
        {"end\xC2", "end\\xc2"},
        {"\x9BK \xC4\x85 \xE2\x82\xAC", "\x9BK \xC4\x85 \xE2\x82\xAC"},
        {"", ""},
    };
    for (const auto& [raw, shown] : samples) {
        EXPECT_EQ(escape_board_text(raw), shown) << raw;
    }
}
