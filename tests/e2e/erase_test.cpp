// The erase dialogue run end to end against the fake board.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "e2e/fake_board.h"

namespace {

using namespace std::chrono_literals;
using Handler = std::function<void(e2e::FakeBoard&, const std::string&)>;

const std::string kStarted = "OK.\nFlash memory is being erased...";
const std::string kErased = "OK.\nFlash memory has been successfully erased.\n";

// A board that answers the probe and hands every other datagram to handler.
e2e::FakeBoard::Script probed(Handler handler) {
    return [handler](e2e::FakeBoard& board, const std::string& datagram) {
        if (datagram == "<VERSION>") {
            board.reply("<VERSION> Talvium 1.0");
            return;
        }
        handler(board, datagram);
    };
}

// A board that starts erasing on command and at once gives result.
e2e::FakeBoard::Script erasing_board(const std::string& command, const std::string& result) {
    return probed([command, result](e2e::FakeBoard& board, const std::string& datagram) {
        if (datagram == command) {
            board.reply("<ERASE_START>");
            board.reply(result);
        }
    });
}

e2e::RunResult run_command(const e2e::FakeBoard& board, const std::string& word) {
    return e2e::run_tvflash({"127.0.0.1", board.port_text(), word});
}

// The connecting line and the probe's ".".
std::string probed_prefix(const e2e::FakeBoard& board) {
    return e2e::connecting_line(board.port()) + ".";
}

TEST(EraseDialogue, EachCommandSendsItsTextAndSucceeds) {
    const struct {
        std::string word;
        std::string command;
    } samples[] = {
        {"erase", "<ERASE>"},
        {"erasesys", "<ERASESYS>"},
        {"eraseuser", "<ERASEUSER>"},
        {"erasereserve", "<ERASERESERVE>"},
        {"eraseregistry", "<ERASEREGISTRY>"},
        {"erasedisk", "<ERASEDISK>"},
    };
    for (const auto& sample : samples) {
        e2e::FakeBoard board(erasing_board(sample.command, "<ERASE_OK>"));
        const e2e::RunResult r = run_command(board, sample.word);
        EXPECT_EQ(r.out, probed_prefix(board) + kStarted + kErased) << sample.word;
        EXPECT_EQ(r.err, "") << sample.word;
        EXPECT_EQ(r.status, 0) << sample.word;
        // The command goes out once, without a terminating zero.
        EXPECT_EQ(board.received(), (std::vector<std::string>{"<VERSION>", sample.command}))
            << sample.word;
    }
}

TEST(EraseDialogue, VerdictsAndTheirStatus) {
    const struct {
        std::string result;
        std::string verdict;
        int status;
    } samples[] = {
        {"<ERASE_OK> after 12 s", kErased, 0},
        {"<NO_SYS_AREA>", "FAILED (suitable for erasure data not found inside System Area).\n", 1},
        {"<NO_RESERVE>", "FAILED (reserve system not found inside flash memory).\n", 1},
        {"<NO_FLASH_FILE_SYSTEM>", "FAILED (flash file system not found inside flash memory).\n",
         1},
        {"<FILE_SYSTEM_PRESENCE_ERROR>",
         "FAILED (existing flash file system will be destroyed if this operation proceeds).\n", 1},
    };
    for (const auto& sample : samples) {
        e2e::FakeBoard board(erasing_board("<ERASEUSER>", sample.result));
        const e2e::RunResult r = run_command(board, "eraseuser");
        EXPECT_EQ(r.out, probed_prefix(board) + kStarted + sample.verdict) << sample.result;
        EXPECT_EQ(r.err, "") << sample.result;
        EXPECT_EQ(r.status, sample.status) << sample.result;
    }
}

TEST(EraseDialogue, ErrorCodes) {
    const struct {
        std::string result;
        std::string code;
    } samples[] = {
        {"<ERASE_ERROR> 17", "17"},
        {"<ERASE_ERROR>", "0"},
        {"<ERASE_ERROR> -3", "-3"},
        {"<ERASE_ERROR>17", "7"},  // the character after the tag is skipped whatever it is
    };
    for (const auto& sample : samples) {
        e2e::FakeBoard board(erasing_board("<ERASEDISK>", sample.result));
        const e2e::RunResult r = run_command(board, "erasedisk");
        EXPECT_EQ(r.out, probed_prefix(board) + kStarted +
                             "ERR.\nERROR: unsuccessful erase of flash memory (code " +
                             sample.code + ").\n")
            << sample.result;
        EXPECT_EQ(r.status, 1) << sample.result;
    }
}

TEST(EraseDialogue, NackAndUpdatingNoticeInTheStartWait) {
    std::atomic<int> commands{0};
    e2e::FakeBoard board(probed([&](e2e::FakeBoard& b, const std::string& d) {
        if (d != "<ERASEREGISTRY>") {
            return;
        }
        if (++commands == 1) {
            b.reply("<NACK>");
            return;
        }
        b.reply("<UPDATING_FLASH>");
        b.reply("<UPDATING_FLASH>");
        b.reply("<ERASE_START>");
        b.reply("<ERASE_OK>");
    }));
    const e2e::RunResult r = run_command(board, "eraseregistry");
    EXPECT_EQ(r.out, probed_prefix(board) + "+" +
                         "OK.\nTarget is updating cached data to FlashDisk..." + kStarted +
                         kErased);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(board.received(),
              (std::vector<std::string>{"<VERSION>", "<ERASEREGISTRY>", "<ERASEREGISTRY>"}));
}

TEST(EraseDialogue, ResultBeforeStartIsDroppedWhileTheCommandRepeats) {
    std::atomic<int> commands{0};
    e2e::FakeBoard board(probed([&](e2e::FakeBoard& b, const std::string& d) {
        if (d != "<ERASESYS>") {
            return;
        }
        if (++commands < 3) {
            b.reply("<ERASE_OK>");
            return;
        }
        b.reply("<ERASE_START>");
        b.reply("<NO_SYS_AREA>");
    }));
    const e2e::RunResult r = run_command(board, "erasesys");
    const std::string prefix = probed_prefix(board);
    const std::string end =
        kStarted + "FAILED (suitable for erasure data not found inside System Area).\n";
    EXPECT_EQ(r.status, 1);
    ASSERT_TRUE(r.out.starts_with(prefix)) << r.out;
    ASSERT_TRUE(r.out.ends_with(end)) << r.out;
    ASSERT_GE(r.out.size(), prefix.size() + end.size());
    // Only progress characters stand between the probe and the start.
    const std::string between =
        r.out.substr(prefix.size(), r.out.size() - prefix.size() - end.size());
    EXPECT_EQ(between, std::string(between.size(), '.')) << r.out;
    EXPECT_EQ(board.count_received("<ERASESYS>"), 3);
}

TEST(EraseDialogue, ChatterDuringTheEraseIsEchoedWithoutProgress) {
    e2e::FakeBoard board(probed([](e2e::FakeBoard& b, const std::string& d) {
        if (d != "<ERASE>") {
            return;
        }
        b.reply("<ERASE_START>");
        b.reply("Erasing sector 1 of 3\n");
        b.reply_after(1500ms, "<NACK>");
        b.reply_after(3000ms, "<ERASE_START>");
        b.reply_after(3200ms, "<UPDATING_FLASH>");
        b.reply_after(4500ms, "sector\x01 done\r\n");
        b.reply_after(6000ms, "<ERASE_OK>");
    }));
    const e2e::RunResult r = run_command(board, "erase");
    EXPECT_EQ(r.out, probed_prefix(board) + kStarted + "Erasing sector 1 of 3\n" + "<NACK>" +
                         "<ERASE_START>" + "<UPDATING_FLASH>" + "sector\\x01 done\r\n" + kErased);
    EXPECT_EQ(r.status, 0);
    // Nothing is repeated while the board erases.
    EXPECT_EQ(board.count_received("<ERASE>"), 1);
}

}  // namespace
