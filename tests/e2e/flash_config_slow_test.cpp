// A configuration report whose board falls silent in the middle of the table.
#include <gtest/gtest.h>

#include <string>

#include "e2e/fake_board.h"

namespace {

TEST(FlashConfigSlow, SilenceDuringTheRowsTimesOut) {
    e2e::FakeBoard board([](e2e::FakeBoard& b, const std::string& d) {
        if (d == "<VERSION>") {
            b.reply("<VERSION> Talvium 1.0");
        } else if (d == "<GETCONFIG>") {
            b.reply("<FLASH_CONFIG_START>");
            b.reply("<FLASH_CONFIG_DATA> 0 3FFFF 7");
        }
    });
    const e2e::RunResult r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "getconfig"});
    const std::string header =
        "OK.\n"
        "                           Flash memory configuration\n"
        "-------------------------------------------------------------------------------\n"
        "      Address Range     |          Area Name          |          Size\n"
        "-------------------------------------------------------------------------------\n";
    // No progress characters and no repeat of the request while the table is printed.
    EXPECT_EQ(r.out, e2e::connecting_line(board.port()) + "." + header +
                         "0x00000000 - 0x0003FFFF | ROM                         |  262144 ( 256K) "
                         "bytes\n"
                         "timeout.\nTarget system not responding.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_GT(r.seconds, 19.0);
    EXPECT_EQ(board.count_received("<GETCONFIG>"), 1);
}

}  // namespace
