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
        {"", ""},
    };
    for (const auto& [raw, shown] : samples) {
        EXPECT_EQ(escape_board_text(raw), shown) << raw;
    }
}
