// The probe every command begins with: version replies, address conflicts and odd replies.
#include <gtest/gtest.h>

#include "e2e/fake_board.h"
#include "e2e/texts.h"
#include "e2e/tool.h"

namespace {

// A board, or several on one address, answering every "<VERSION>" with replies.
e2e::FakeBoard::Script boards_answering(std::vector<e2e::Reply> replies) {
    return e2e::answering({{"<VERSION>", replies}});
}

}  // namespace

TEST(ProbeEndToEnd, VersionPrintsTheBoardsText) {
    const std::pair<std::string, std::string> samples[] = {
        {"<VERSION> Talvium 2.3 (KRD/4Q)", "Talvium 2.3 (KRD/4Q)\n"},
        {"<VERSION>", "\n"},
        {"<VERSION>:first character skipped", "first character skipped\n"},
        {"<VERSION> \x1b]0;owned\x07 ok", "\\x1b]0;owned\\x07 ok\n"},
    };
    for (const auto& [reply, shown] : samples) {
        e2e::FakeBoard board(boards_answering({reply}));
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), {"version"}), 0,
                             e2e::connecting_line(board.port()) + "OK.\n" + shown))
            << reply;
        EXPECT_EQ(board.received(), std::vector<std::string>{"<VERSION>"});
    }
}

TEST(ProbeEndToEnd, TwoBoardsOnOneAddressAreAConflict) {
    // The second board at once, and late in the second of listening after the first answer.
    for (auto delay : {std::chrono::milliseconds(0), std::chrono::milliseconds(700)}) {
        e2e::FakeBoard board(
            boards_answering({"<VERSION> Talvium A", {"<VERSION> Talvium B", delay}}));
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), {"version"}), 1,
                             e2e::connecting_line(board.port()) + "OK.\nTalvium A\nTalvium B\n" +
                                 e2e::conflict_line(2)))
            << delay.count();
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), {"erase"}), 1,
                             e2e::after_probe(board.port()) + "ERR.\n" + e2e::conflict_line(2)))
            << delay.count();
        EXPECT_EQ(board.count_received("<ERASE>"), 0);
    }
}

TEST(ProbeEndToEnd, NonVersionFirstRepliesAreDroppedAndTheProbeRepeated) {
    e2e::FakeBoard board(e2e::answering_in_turn(
        "<VERSION>", {{"<NACK>"}, {"<version> lower case"}, {"<VERSION> Talvium 1"}}));
    auto r = e2e::run_tvflash_on(board.port(), {"version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, e2e::connecting_line(board.port()) + "OK.\nTalvium 1\n");
    EXPECT_EQ(board.count_received("<VERSION>"), 3);
}

TEST(ProbeEndToEnd, RepliesAreTextsOfAt127CharactersAndLongerOnesAreFailures) {
    // First an over-long datagram (a failed receive, then a reconnect), then one of exactly 128
    // bytes whose last byte cannot be part of the text.
    const std::string filler(200, 'x');
    e2e::FakeBoard board(e2e::answering_in_turn(
        "<VERSION>", {{"<VERSION> " + filler}, {"<VERSION> " + filler.substr(0, 117) + "Z"}}));
    auto r = e2e::run_tvflash_on(board.port(), {"version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out.ends_with("OK.\n" + filler.substr(0, 117) + "\n")) << r.out;
    EXPECT_EQ(r.out.find('Z'), std::string::npos);
    // The over-long reply was not taken as a version: the watchdog had to repeat the probe.
    EXPECT_EQ(board.count_received("<VERSION>"), 2);
}

TEST(ProbeEndToEnd, CyclicVersionProbesAgainAndAgain) {
    e2e::FakeBoard talvium(boards_answering({"<VERSION> Talvium 2.3"}));
    auto r = e2e::run_tvflash_on(talvium.port(), {"cyclic_version"}, "", std::chrono::seconds(3));
    EXPECT_EQ(r.status, -1);  // it never ends by itself; the test ended it
    const std::string connecting = e2e::connecting_line(talvium.port());
    const std::string cycle = "OK.\nLinked to target running Talvium 2.3\n\n" + connecting;
    EXPECT_TRUE(r.out.starts_with(connecting + cycle + cycle)) << r.out;
    EXPECT_GE(talvium.count_received("<VERSION>"), 2);

    e2e::FakeBoard other(boards_answering({"<VERSION> board os 1.0 (talvium)"}));
    r = e2e::run_tvflash_on(other.port(), {"cyclic_version"}, "", std::chrono::seconds(2));
    EXPECT_NE(r.out.find("OK.\nLinked to target board os 1.0 (talvium)\n"), std::string::npos);
}

TEST(ProbeEndToEnd, CyclicVersionConflictIsANoticeDismissedByTheOperator) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << e2e::kAsksInMessageBoxes;
    }
    e2e::FakeBoard board(
        boards_answering({"<VERSION> Talvium 1", "<VERSION> Talvium 2", "<VERSION> Talvium 3"}));
    for (const std::string& input : {std::string("\n"), std::string()}) {
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(board.port(), {"cyclic_version"}, input), 1,
                             e2e::connecting_line(board.port()) +
                                 "OK.\nLinked to target running Talvium 1\n"
                                 "Linked to target running Talvium 2\n"
                                 "Linked to target running Talvium 3\n",
                             "tvflash: ERROR: IP address conflict.\n3 target boards use the same\n"
                             "IP address 127.0.0.1.\n"));
    }
}
