// The flash configuration report run end to end against the fake board.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/fake_board.h"
#include "e2e/texts.h"

namespace {

TEST(FlashConfigReport, MapsOddRowsEchoedRepliesAndTotals) {
    const struct {
        std::vector<e2e::Reply> replies;
        std::string shown;  // between the header and the closing rule
        std::string total;
    } samples[] = {
        {{"<FLASH_CONFIG_START>", "<FLASH_CONFIG_DATA> 00000000 0003FFFF 7",
          "<FLASH_CONFIG_DATA> 00040000 0005FFFF 6", "<FLASH_CONFIG_DATA> 0x00060000 0x0045FFFF 3",
          "<FLASH_CONFIG_DATA> 00460000 0085ffff 5", "<FLASH_CONFIG_DATA>  00860000\t009FFFFF  2",
          "<FLASH_CONFIG_DATA> A00000 FFFFFF 4", "<FLASH_CONFIG_END> 16"},
         "0x00000000 - 0x0003FFFF | ROM                         |  262144 ( 256K) bytes\n"
         "0x00040000 - 0x0005FFFF | Registry                    |  131072 ( 128K) bytes\n"
         "0x00060000 - 0x0045FFFF | System                      | 4194304 (4096K) bytes\n"
         "0x00460000 - 0x0085FFFF | Reserve System              | 4194304 (4096K) bytes\n"
         "0x00860000 - 0x009FFFFF | User                        | 1703936 (1664K) bytes\n"
         "0x00A00000 - 0x00FFFFFF | File System                 | 6291456 (6144K) bytes\n",
         "16M"},
        {{"<FLASH_CONFIG_START>", "<FLASH_CONFIG_DATA> 0 FFFFFFFF 8",
          "<FLASH_CONFIG_DATA> 1000 13FF -1", "<FLASH_CONFIG_DATA> 2000 20FF 255",
          "<FLASH_CONFIG_DATA> 300 zz 1",  // keeps the previous row's end and type
          "<NACK>", "<FLASH_CONFIG_DATA> 123456789ABC 200 0", "<FLASH_CONFIG_DATA> 0 0 99999999999",
          "board says\x07 hi\n", "<FLASH_CONFIG_START>", "<FLASH_CONFIG_END> 0.5"},
         "0x00000000 - 0xFFFFFFFF | Unknown                     |       0 (   0K) bytes\n"
         "0x00001000 - 0x000013FF | Unknown                     |    1024 (   1K) bytes\n"
         "0x00002000 - 0x000020FF | Unknown                     |     256 (   0K) bytes\n"
         "0x00000300 - 0x000020FF | Unknown                     |    7680 (   7K) bytes\n"
         "<NACK>"
         "0x56789ABC - 0x00000200 | Free                        | 2844223301 (2777561K) bytes\n"
         "0x00000000 - 0x00000000 | Unknown                     |       1 (   0K) bytes\n"
         "board says\\x07 hi\n"
         "<FLASH_CONFIG_START>",
         "512K"},
        {{"<FLASH_CONFIG_START>", "<FLASH_CONFIG_END>"}, "", "0M"},
        {{"<FLASH_CONFIG_START>", "<FLASH_CONFIG_END> 0.3"}, "", "307K"},
        {{"<FLASH_CONFIG_START>", "<FLASH_CONFIG_END> 1.5"}, "", "1.500M"},
    };
    for (const auto& s : samples) {
        e2e::FakeBoard board(e2e::answering({{"<GETCONFIG>", s.replies}}));
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), {"getconfig"}), 0,
                             e2e::after_probe(board.port()) + e2e::kConfigHeader + s.shown +
                                 e2e::kRule + "Total size of flash memory " + s.total +
                                 " bytes.\n"))
            << s.replies.back().bytes;
        // The request goes out once, without a terminating zero.
        EXPECT_EQ(board.received(), (std::vector<std::string>{"<VERSION>", "<GETCONFIG>"}));
    }
}

TEST(FlashConfigReport, StartWaitResendsOnNackAndDropsOtherReplies) {
    // The second turn is dropped without output; the watchdog then repeats the request.
    e2e::FakeBoard board(e2e::answering_in_turn(
        "<GETCONFIG>", {{"<NACK>"},
                        {"<UPDATING_FLASH>", "<FLASH_CONFIG_DATA> 0 FF 1", "<FLASH_CONFIG_END> 3"},
                        {"<FLASH_CONFIG_START>", "<FLASH_CONFIG_END> 16"}}));
    const e2e::RunResult r = e2e::run_tvflash_on(board.port(), {"getconfig"});
    EXPECT_EQ(r.status, 0);
    // Only progress characters stand between the "+" and the header.
    EXPECT_TRUE(e2e::output_is(
        r.out, {e2e::after_probe(board.port()) + "+",
                {'.', 0, 100},
                e2e::kConfigHeader + e2e::kRule + "Total size of flash memory 16M bytes.\n"}));
    EXPECT_EQ(board.count_received("<GETCONFIG>"), 3);
}

}  // namespace
