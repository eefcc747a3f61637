// The flash configuration report run end to end against the fake board.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "e2e/fake_board.h"

namespace {

const std::string kHeader =
    "OK.\n"
    "                           Flash memory configuration\n"
    "-------------------------------------------------------------------------------\n"
    "      Address Range     |          Area Name          |          Size\n"
    "-------------------------------------------------------------------------------\n";
const std::string kRule =
    "-------------------------------------------------------------------------------\n";

// A board that answers the probe and "<GETCONFIG>" with the replies given, in order.
e2e::FakeBoard::Script config_board(std::vector<std::string> replies) {
    return [replies](e2e::FakeBoard& board, const std::string& datagram) {
        if (datagram == "<VERSION>") {
            board.reply("<VERSION> Talvium 1.0");
            return;
        }
        if (datagram != "<GETCONFIG>") {
            return;
        }
        for (const std::string& reply : replies) {
            board.reply(reply);
        }
    };
}

e2e::RunResult run_getconfig(const e2e::FakeBoard& board) {
    return e2e::run_tvflash({"127.0.0.1", board.port_text(), "getconfig"});
}

// The connecting line and the probe's ".".
std::string probed_prefix(const e2e::FakeBoard& board) {
    return e2e::connecting_line(board.port()) + ".";
}

TEST(FlashConfigReport, RealisticMap) {
    e2e::FakeBoard board(config_board({
        "<FLASH_CONFIG_START>",
        "<FLASH_CONFIG_DATA> 00000000 0003FFFF 7",
        "<FLASH_CONFIG_DATA> 00040000 0005FFFF 6",
        "<FLASH_CONFIG_DATA> 0x00060000 0x0045FFFF 3",
        "<FLASH_CONFIG_DATA> 00460000 0085ffff 5",
        "<FLASH_CONFIG_DATA>  00860000\t009FFFFF  2",
        "<FLASH_CONFIG_DATA> A00000 FFFFFF 4",
        "<FLASH_CONFIG_END> 16",
    }));
    const e2e::RunResult r = run_getconfig(board);
    EXPECT_EQ(
        r.out,
        probed_prefix(board) + kHeader +
            "0x00000000 - 0x0003FFFF | ROM                         |  262144 ( 256K) bytes\n"
            "0x00040000 - 0x0005FFFF | Registry                    |  131072 ( 128K) bytes\n"
            "0x00060000 - 0x0045FFFF | System                      | 4194304 (4096K) bytes\n"
            "0x00460000 - 0x0085FFFF | Reserve System              | 4194304 (4096K) bytes\n"
            "0x00860000 - 0x009FFFFF | User                        | 1703936 (1664K) bytes\n"
            "0x00A00000 - 0x00FFFFFF | File System                 | 6291456 (6144K) bytes\n" +
            kRule + "Total size of flash memory 16M bytes.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    // The request goes out once, without a terminating zero.
    EXPECT_EQ(board.received(), (std::vector<std::string>{"<VERSION>", "<GETCONFIG>"}));
}

TEST(FlashConfigReport, OddRowsAndEchoedReplies) {
    e2e::FakeBoard board(config_board({
        "<FLASH_CONFIG_START>",
        "<FLASH_CONFIG_DATA> 0 FFFFFFFF 8",
        "<FLASH_CONFIG_DATA> 1000 13FF -1",
        "<FLASH_CONFIG_DATA> 2000 20FF 255",
        "<FLASH_CONFIG_DATA> 300 zz 1",  // keeps the previous row's end and type
        "<NACK>",
        "<FLASH_CONFIG_DATA> 123456789ABC 200 0",
        "<FLASH_CONFIG_DATA> 0 0 99999999999",
        "board says\x07 hi\n",
        "<FLASH_CONFIG_START>",
        "<FLASH_CONFIG_END> 0.5",
    }));
    const e2e::RunResult r = run_getconfig(board);
    EXPECT_EQ(r.out,
              probed_prefix(board) + kHeader +
                  "0x00000000 - 0xFFFFFFFF | Unknown                     |       0 (   0K) bytes\n"
                  "0x00001000 - 0x000013FF | Unknown                     |    1024 (   1K) bytes\n"
                  "0x00002000 - 0x000020FF | Unknown                     |     256 (   0K) bytes\n"
                  "0x00000300 - 0x000020FF | Unknown                     |    7680 (   7K) bytes\n"
                  "<NACK>"
                  "0x56789ABC - 0x00000200 | Free                        | 2844223301 (2777561K) "
                  "bytes\n"
                  "0x00000000 - 0x00000000 | Unknown                     |       1 (   0K) bytes\n"
                  "board says\\x07 hi\n"
                  "<FLASH_CONFIG_START>" +
                  kRule + "Total size of flash memory 512K bytes.\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(board.count_received("<GETCONFIG>"), 1);
}

TEST(FlashConfigReport, EmptyMapsAndTheirTotals) {
    const struct {
        std::string end;
        std::string total;
    } samples[] = {
        {"<FLASH_CONFIG_END>", "Total size of flash memory 0M bytes.\n"},
        {"<FLASH_CONFIG_END> 0.3", "Total size of flash memory 307K bytes.\n"},
        {"<FLASH_CONFIG_END> 1.5", "Total size of flash memory 1.500M bytes.\n"},
    };
    for (const auto& sample : samples) {
        e2e::FakeBoard board(config_board({"<FLASH_CONFIG_START>", sample.end}));
        const e2e::RunResult r = run_getconfig(board);
        EXPECT_EQ(r.out, probed_prefix(board) + kHeader + kRule + sample.total) << sample.end;
        EXPECT_EQ(r.status, 0) << sample.end;
    }
}

TEST(FlashConfigReport, StartWaitResendsOnNackAndDropsOtherReplies) {
    std::atomic<int> requests{0};
    e2e::FakeBoard board([&](e2e::FakeBoard& b, const std::string& d) {
        if (d == "<VERSION>") {
            b.reply("<VERSION> Talvium 1.0");
            return;
        }
        if (d != "<GETCONFIG>") {
            return;
        }
        const int request = ++requests;
        if (request == 1) {
            b.reply("<NACK>");
        } else if (request == 2) {
            // Dropped without output; the watchdog then repeats the request.
            b.reply("<UPDATING_FLASH>");
            b.reply("<FLASH_CONFIG_DATA> 0 FF 1");
            b.reply("<FLASH_CONFIG_END> 3");
        } else {
            b.reply("<FLASH_CONFIG_START>");
            b.reply("<FLASH_CONFIG_END> 16");
        }
    });
    const e2e::RunResult r = run_getconfig(board);
    const std::string prefix = probed_prefix(board) + "+";
    const std::string end = kHeader + kRule + "Total size of flash memory 16M bytes.\n";
    EXPECT_EQ(r.status, 0);
    ASSERT_TRUE(r.out.starts_with(prefix)) << r.out;
    ASSERT_TRUE(r.out.ends_with(end)) << r.out;
    ASSERT_GE(r.out.size(), prefix.size() + end.size());
    // Only progress characters stand between the "+" and the header.
    const std::string between =
        r.out.substr(prefix.size(), r.out.size() - prefix.size() - end.size());
    EXPECT_EQ(between, std::string(between.size(), '.')) << r.out;
    EXPECT_EQ(board.count_received("<GETCONFIG>"), 3);
}

}  // namespace
