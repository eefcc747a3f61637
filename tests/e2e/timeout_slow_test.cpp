// The reply watchdog's long waits: a silent board, a board that is not there, cyclic timeouts.
#include <gtest/gtest.h>

#include <atomic>

#include "e2e/fake_board.h"

namespace {

void ignore_everything(e2e::FakeBoard&, const std::string&) {}

}  // namespace

TEST(WatchdogEndToEnd, SilentBoardTimesOutAfterTwentySecondsQuietly) {
    e2e::FakeBoard board(ignore_everything);
    auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "version"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    const std::string prefix = e2e::connecting_line(board.port());
    const std::string suffix = "timeout.\nTarget system not responding.\n";
    ASSERT_GE(r.out.size(), prefix.size() + suffix.size());
    EXPECT_EQ(r.out.substr(0, prefix.size()), prefix);
    EXPECT_EQ(r.out.substr(r.out.size() - suffix.size()), suffix);
    std::string dots = r.out.substr(prefix.size(), r.out.size() - prefix.size() - suffix.size());
    EXPECT_EQ(dots, std::string(dots.size(), '.'));
    EXPECT_GE(dots.size(), 18u);
    EXPECT_LE(dots.size(), 20u);
    // The probe itself and one repeat at the end of each of the first 19 seconds.
    EXPECT_GE(board.count_received("<VERSION>"), 19);
    EXPECT_LE(board.count_received("<VERSION>"), 20);
    EXPECT_GE(r.seconds, 19.5);
    EXPECT_LE(r.seconds, 23.0);
    // Waiting sleeps: a busy loop would burn the whole 20 s of a core.
    EXPECT_LT(r.cpu_seconds, 1.0);
}

TEST(WatchdogEndToEnd, LateReplyInTheNineteenthSecondStillCounts) {
    std::atomic<int> probes{0};
    e2e::FakeBoard board([&](e2e::FakeBoard& b, const std::string& datagram) {
        // The probe and 17 repeats go unanswered: the reply comes about 18 s into the wait.
        if (datagram == "<VERSION>" && ++probes == 19) {
            b.reply("<VERSION> Talvium late");
        }
    });
    auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("OK.\nTalvium late\n"), std::string::npos);
    EXPECT_EQ(r.out.find("timeout"), std::string::npos);
}

TEST(WatchdogEndToEnd, NothingListeningEndsAfterTenFailedReceives) {
    std::uint16_t port = e2e::unused_udp_port();
    auto r = e2e::run_tvflash({"127.0.0.1", std::to_string(port), "version"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "FAILED (connection reset by remote host).\n");
    EXPECT_EQ(r.out.rfind(e2e::connecting_line(port), 0), 0u);
    // Each failure waits for the next repeat of the probe, about a second apart.
    EXPECT_GE(r.seconds, 7.0);
    EXPECT_LE(r.seconds, 15.0);
}

TEST(WatchdogEndToEnd, CyclicTimeoutPausesBeforeTheEnd) {
    std::atomic<int> probes{0};
    e2e::FakeBoard board([&](e2e::FakeBoard& b, const std::string& datagram) {
        if (datagram == "<VERSION>" && ++probes == 1) {
            b.reply("<VERSION> Talvium once");
        }
    });
    auto r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "cyclic_version"});
    EXPECT_EQ(r.status, 1);
    const std::string suffix = "timeout.\nTarget system not responding.\n";
    ASSERT_GE(r.out.size(), suffix.size());
    EXPECT_EQ(r.out.substr(r.out.size() - suffix.size()), suffix);
    EXPECT_NE(r.out.find("OK.\nLinked to target running Talvium once\n\n"), std::string::npos);
    // One second of listening, twenty of waiting, four of pause.
    EXPECT_GE(r.seconds, 24.0);
    EXPECT_LE(r.seconds, 28.0);
}
