// The erase dialogue run end to end against the fake board.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "e2e/fake_board.h"
#include "e2e/texts.h"

namespace {

using namespace std::chrono_literals;

TEST(EraseDialogue, EachCommandSendsItsTextAndTheVerdictsGiveTheirStatus) {
    const struct {
        std::string word;
        std::string command;
        std::string result;
        std::string verdict;
        int status;
    } samples[] = {
        {"erase", "<ERASE>", "<ERASE_OK>", e2e::kErased, 0},
        {"erasesys", "<ERASESYS>", "<ERASE_OK>", e2e::kErased, 0},
        {"eraseuser", "<ERASEUSER>", "<ERASE_OK>", e2e::kErased, 0},
        {"erasereserve", "<ERASERESERVE>", "<ERASE_OK>", e2e::kErased, 0},
        {"eraseregistry", "<ERASEREGISTRY>", "<ERASE_OK>", e2e::kErased, 0},
        {"erasedisk", "<ERASEDISK>", "<ERASE_OK>", e2e::kErased, 0},
        {"eraseuser", "<ERASEUSER>", "<ERASE_OK> after 12 s", e2e::kErased, 0},
        {"eraseuser", "<ERASEUSER>", "<NO_SYS_AREA>", e2e::kNoSystemArea, 1},
        {"eraseuser", "<ERASEUSER>", "<NO_RESERVE>", e2e::kNoReserve, 1},
        {"eraseuser", "<ERASEUSER>", "<NO_FLASH_FILE_SYSTEM>", e2e::kNoFileSystem, 1},
        {"eraseuser", "<ERASEUSER>", "<FILE_SYSTEM_PRESENCE_ERROR>", e2e::kFileSystemPresent, 1},
        {"erasedisk", "<ERASEDISK>", "<ERASE_ERROR> 17", e2e::erase_error("17"), 1},
        {"erasedisk", "<ERASEDISK>", "<ERASE_ERROR>", e2e::erase_error("0"), 1},
        {"erasedisk", "<ERASEDISK>", "<ERASE_ERROR> -3", e2e::erase_error("-3"), 1},
        // The character after the tag is skipped whatever it is.
        {"erasedisk", "<ERASEDISK>", "<ERASE_ERROR>17", e2e::erase_error("7"), 1},
    };
    for (const auto& s : samples) {
        e2e::FakeBoard board(e2e::answering({{s.command, {"<ERASE_START>", s.result}}}));
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), {s.word}), s.status,
                             e2e::after_probe(board.port()) + e2e::kEraseStarted + s.verdict))
            << s.result;
        // The command goes out once, without a terminating zero.
        EXPECT_EQ(board.received(), (std::vector<std::string>{"<VERSION>", s.command})) << s.word;
    }
}

TEST(EraseDialogue, NackAndUpdatingNoticeInTheStartWait) {
    e2e::FakeBoard board(e2e::answering_in_turn(
        "<ERASEREGISTRY>",
        {{"<NACK>"}, {"<UPDATING_FLASH>", "<UPDATING_FLASH>", "<ERASE_START>", "<ERASE_OK>"}}));
    const e2e::RunResult r = e2e::run_tvflash_on(board.port(), {"eraseregistry"});
    EXPECT_EQ(r.out, e2e::after_probe(board.port()) + "+" +
                         "OK.\nTarget is updating cached data to FlashDisk..." +
                         e2e::kEraseStarted + e2e::kErased);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(board.received(),
              (std::vector<std::string>{"<VERSION>", "<ERASEREGISTRY>", "<ERASEREGISTRY>"}));
}

TEST(EraseDialogue, ResultBeforeStartIsDroppedWhileTheCommandRepeats) {
    e2e::FakeBoard board(e2e::answering_in_turn(
        "<ERASESYS>", {{"<ERASE_OK>"}, {"<ERASE_OK>"}, {"<ERASE_START>", "<NO_SYS_AREA>"}}));
    const e2e::RunResult r = e2e::run_tvflash_on(board.port(), {"erasesys"});
    EXPECT_EQ(r.status, 1);
    // Only progress characters stand between the probe and the start.
    EXPECT_TRUE(e2e::output_is(
        r.out,
        {e2e::after_probe(board.port()), {'.', 0, 100}, e2e::kEraseStarted + e2e::kNoSystemArea}));
    EXPECT_EQ(board.count_received("<ERASESYS>"), 3);
}

TEST(EraseDialogue, ChatterDuringTheEraseIsEchoedWithoutProgress) {
    e2e::FakeBoard board(e2e::answering({{"<ERASE>",
                                          {"<ERASE_START>",
                                           "Erasing sector 1 of 3\n",
                                           {"<NACK>", 1500ms},
                                           {"<ERASE_START>", 3000ms},
                                           {"<UPDATING_FLASH>", 3200ms},
                                           {"sector\x01 done\r\n", 4500ms},
                                           {"<ERASE_OK>", 6000ms}}}}));
    const e2e::RunResult r = e2e::run_tvflash_on(board.port(), {"erase"});
    EXPECT_EQ(r.out, e2e::after_probe(board.port()) + e2e::kEraseStarted +
                         "Erasing sector 1 of 3\n" + "<NACK>" + "<ERASE_START>" +
                         "<UPDATING_FLASH>" + "sector\\x01 done\r\n" + e2e::kErased);
    EXPECT_EQ(r.status, 0);
    // Nothing is repeated while the board erases.
    EXPECT_EQ(board.count_received("<ERASE>"), 1);
}

}  // namespace
