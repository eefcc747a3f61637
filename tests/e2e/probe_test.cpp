// The probe every command begins with: version replies, address conflicts and odd replies.
#include <gtest/gtest.h>

#include <atomic>

#include "e2e/fake_board.h"

namespace {

// Answers every "<VERSION>" with one reply per board.
e2e::FakeBoard::Script boards_answering(std::vector<std::string> replies) {
    return [replies](e2e::FakeBoard& board, const std::string& datagram) {
        if (datagram == "<VERSION>") {
            for (const auto& reply : replies) {
                board.reply(reply);
            }
        }
    };
}

std::vector<std::string> args_for(const e2e::FakeBoard& board, const std::string& command) {
    return {"127.0.0.1", board.port_text(), command};
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
        auto r = e2e::run_tvflash(args_for(board, "version"));
        EXPECT_EQ(r.status, 0) << reply;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, e2e::connecting_line(board.port()) + "OK.\n" + shown);
        EXPECT_EQ(board.received(), std::vector<std::string>{"<VERSION>"});
    }
}

TEST(ProbeEndToEnd, TwoBoardsOnOneAddressAreAConflict) {
    e2e::FakeBoard board(boards_answering({"<VERSION> Talvium A", "<VERSION> Talvium B"}));
    const std::string conflict =
        "ERROR: IP address conflict (2 target boards use the same\nIP address 127.0.0.1).\n";

    auto version = e2e::run_tvflash(args_for(board, "version"));
    EXPECT_EQ(version.status, 1);
    EXPECT_EQ(version.out,
              e2e::connecting_line(board.port()) + "OK.\nTalvium A\nTalvium B\n" + conflict);

    auto erase = e2e::run_tvflash(args_for(board, "erase"));
    EXPECT_EQ(erase.status, 1);
    EXPECT_EQ(erase.out, e2e::connecting_line(board.port()) + ".ERR.\n" + conflict);
    EXPECT_EQ(board.count_received("<ERASE>"), 0);
    EXPECT_EQ(erase.err, "");
}

TEST(ProbeEndToEnd, NonVersionFirstRepliesAreDroppedAndTheProbeRepeated) {
    std::atomic<int> probes{0};
    e2e::FakeBoard board([&](e2e::FakeBoard& b, const std::string& datagram) {
        if (datagram != "<VERSION>") {
            return;
        }
        int n = ++probes;
        b.reply(n == 1 ? "<NACK>" : n == 2 ? "<version> lower case" : "<VERSION> Talvium 1");
    });
    auto r = e2e::run_tvflash(args_for(board, "version"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, e2e::connecting_line(board.port()) + "OK.\nTalvium 1\n");
    EXPECT_EQ(board.count_received("<VERSION>"), 3);
}

TEST(ProbeEndToEnd, RepliesAreTextsOfAt127CharactersAndLongerOnesAreFailures) {
    const std::string filler(200, 'x');
    std::atomic<int> probes{0};
    e2e::FakeBoard board([&](e2e::FakeBoard& b, const std::string& datagram) {
        if (datagram != "<VERSION>") {
            return;
        }
        // First an over-long datagram (a failed receive, then a reconnect), then one of exactly
        // 128 bytes whose last byte cannot be part of the text.
        b.reply(++probes == 1 ? "<VERSION> " + filler : "<VERSION> " + filler.substr(0, 117) + "Z");
    });
    auto r = e2e::run_tvflash(args_for(board, "version"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string expected_tail = "OK.\n" + filler.substr(0, 117) + "\n";
    ASSERT_GE(r.out.size(), expected_tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - expected_tail.size()), expected_tail);
    EXPECT_EQ(r.out.find('Z'), std::string::npos);
    // The over-long reply was not taken as a version: the watchdog had to repeat the probe.
    EXPECT_EQ(board.count_received("<VERSION>"), 2);
}

TEST(ProbeEndToEnd, CyclicVersionProbesAgainAndAgain) {
    e2e::FakeBoard talvium(boards_answering({"<VERSION> Talvium 2.3"}));
    auto r = e2e::run_tvflash(args_for(talvium, "cyclic_version"), "", std::chrono::seconds(3));
    EXPECT_EQ(r.status, -1);  // it never ends by itself; the test ended it
    const std::string cycle =
        "OK.\nLinked to target running Talvium 2.3\n\n" + e2e::connecting_line(talvium.port());
    EXPECT_EQ(r.out.rfind(e2e::connecting_line(talvium.port()) + cycle + cycle, 0), 0u) << r.out;
    EXPECT_GE(talvium.count_received("<VERSION>"), 2);

    e2e::FakeBoard other(boards_answering({"<VERSION> board os 1.0 (talvium)"}));
    r = e2e::run_tvflash(args_for(other, "cyclic_version"), "", std::chrono::seconds(2));
    EXPECT_NE(r.out.find("OK.\nLinked to target board os 1.0 (talvium)\n"), std::string::npos);
}

TEST(ProbeEndToEnd, CyclicVersionConflictIsANoticeDismissedByTheOperator) {
    e2e::FakeBoard board(
        boards_answering({"<VERSION> Talvium 1", "<VERSION> Talvium 2", "<VERSION> Talvium 3"}));
    for (const std::string& input : {std::string("\n"), std::string()}) {
        auto r = e2e::run_tvflash(args_for(board, "cyclic_version"), input);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, e2e::connecting_line(board.port()) +
                             "OK.\nLinked to target running Talvium 1\n"
                             "Linked to target running Talvium 2\n"
                             "Linked to target running Talvium 3\n");
        EXPECT_EQ(r.err,
                  "tvflash: ERROR: IP address conflict.\n3 target boards use the same\n"
                  "IP address 127.0.0.1.\n");
    }
}
