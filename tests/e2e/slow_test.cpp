// End-to-end runs that wait out the 20-second reply timeout or other long pauses.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "e2e/fake_board.h"
#include "e2e/texts.h"
#include "e2e/tool.h"
#include "e2e/upload_board.h"

using namespace std::chrono_literals;

namespace {

void ignore_everything(e2e::FakeBoard&, const std::string&) {}

}  // namespace

TEST(WatchdogEndToEnd, SilentBoardTimesOutAfterTwentySecondsQuietly) {
    e2e::FakeBoard board(ignore_everything);
    auto r = e2e::run_tvflash_on(board.port(), {"version"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(
        e2e::output_is(r.out, {e2e::connecting_line(board.port()), {'.', 18, 20}, e2e::kTimedOut}));
    // The probe itself and one repeat at the end of each of the first 19 seconds.
    EXPECT_GE(board.count_received("<VERSION>"), 19);
    EXPECT_LE(board.count_received("<VERSION>"), 20);
    EXPECT_GE(r.seconds, 19.5);
    EXPECT_LE(r.seconds, 23.0);
    // Waiting sleeps: a busy loop would burn the whole 20 s of a core.
    EXPECT_LT(r.cpu_seconds, 1.0);
}

TEST(WatchdogEndToEnd, LateReplyInTheNineteenthSecondStillCounts) {
    // The probe and 17 repeats go unanswered: the reply comes about 18 s into the wait.
    std::vector<std::vector<e2e::Reply>> turns(18);
    turns.push_back({"<VERSION> Talvium late"});
    e2e::FakeBoard board(e2e::answering_in_turn("<VERSION>", turns));
    auto r = e2e::run_tvflash_on(board.port(), {"version"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("OK.\nTalvium late\n"), std::string::npos);
    EXPECT_EQ(r.out.find("timeout"), std::string::npos);
}

TEST(WatchdogEndToEnd, NothingListeningEndsAfterTenFailedReceives) {
    std::uint16_t port = e2e::unused_udp_port();
    auto r = e2e::run_tvflash_on(port, {"version"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "FAILED (connection reset by remote host).\n");
    EXPECT_TRUE(r.out.starts_with(e2e::connecting_line(port))) << r.out;
    // Each failure waits for the next repeat of the probe, about a second apart. Under Wine the
    // blocked receive does not see the refusal; the watchdog's second repeat does, and ends the
    // run with the same line after about two seconds.
    EXPECT_GE(r.seconds, e2e::windows_build() ? 1.0 : 7.0);
    EXPECT_LE(r.seconds, 15.0);
}

// Every answer is longer than the reply buffer: each is a failed receive, and the probe's repeat a
// second later on the fresh socket brings the next. The board counts the answers it sent.
TEST(WatchdogEndToEnd, OverLongAnswersEndTheRunAtTheTenthFailedReceive) {
    e2e::FakeBoard board(e2e::answering({{"<VERSION>", {std::string(200, 'x')}}}));
    auto r = e2e::run_tvflash_on(board.port(), {"version"});
    EXPECT_EQ(r.status, 1);
    const int too_long = e2e::windows_build() ? 10040 : EMSGSIZE;  // WSAEMSGSIZE on Windows
    EXPECT_EQ(r.err, "FAILED (error " + std::to_string(too_long) + ").\n");
    EXPECT_EQ(board.count_received("<VERSION>"), 10);
}

// A machine suspended in the middle of a wait: the seconds it slept bring one repeat when it goes
// on, not a burst of one per second missed.
TEST(WatchdogEndToEnd, StalledToolRepeatsOnceWhenItGoesOn) {
    e2e::FakeBoard board(ignore_everything);
    e2e::ToolCommand tool = e2e::tool_command({"127.0.0.1", board.port_text(), "version"});
    e2e::ChildProcess child(tool.program, tool.args);
    ASSERT_NE(child.read_until("Connecting", 10s).find("Connecting"), std::string::npos);
    std::this_thread::sleep_for(1500ms);
    child.send_signal(SIGSTOP);
    std::this_thread::sleep_for(3500ms);
    const int before = board.count_received("<VERSION>");
    child.send_signal(SIGCONT);
    for (int i = 0; i < 300 && board.count_received("<VERSION>") == before; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    // The next repeat is a second away; a burst would have come within milliseconds.
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(board.count_received("<VERSION>"), before + 1);
    child.finish(2s, SIGKILL);
}

TEST(WatchdogEndToEnd, CyclicTimeoutPausesBeforeTheEnd) {
    e2e::FakeBoard board(e2e::answering_in_turn("<VERSION>", {{"<VERSION> Talvium once"}, {}}));
    auto r = e2e::run_tvflash_on(board.port(), {"cyclic_version"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(e2e::kTimedOut)) << r.out;
    EXPECT_NE(r.out.find("OK.\nLinked to target running Talvium once\n\n"), std::string::npos);
    // One second of listening, twenty of waiting, four of pause.
    EXPECT_GE(r.seconds, 24.0);
    EXPECT_LE(r.seconds, 28.0);
}

TEST(EraseSlow, ChatterKeepsALongEraseAlive) {
    e2e::FakeBoard board(e2e::answering({{"<ERASE>",
                                          {"<ERASE_START>",
                                           {"still erasing\n", 8s},
                                           {"still erasing\n", 16s},
                                           {"still erasing\n", 24s},
                                           {"<ERASE_OK>", 27s}}}}));
    const e2e::RunResult r = e2e::run_tvflash_on(board.port(), {"erase"});
    EXPECT_EQ(r.out, e2e::after_probe(board.port()) + e2e::kEraseStarted +
                         "still erasing\nstill erasing\nstill erasing\n" + e2e::kErased);
    EXPECT_EQ(r.status, 0);
    EXPECT_GT(r.seconds, 27.0);
    EXPECT_EQ(board.count_received("<ERASE>"), 1);
}

TEST(EraseSlow, SilenceDuringTheEraseTimesOut) {
    e2e::FakeBoard board(e2e::answering({{"<ERASEDISK>", {"<ERASE_START>"}}}));
    const e2e::RunResult r = e2e::run_tvflash_on(board.port(), {"erasedisk"});
    EXPECT_EQ(r.out, e2e::after_probe(board.port()) + e2e::kEraseStarted + e2e::kTimedOut);
    EXPECT_EQ(r.status, 1);
    EXPECT_GT(r.seconds, 19.0);
    // The command is not repeated while the board erases.
    EXPECT_EQ(board.count_received("<ERASEDISK>"), 1);
}

TEST(FlashConfigSlow, SilenceDuringTheRowsTimesOut) {
    e2e::FakeBoard board(e2e::answering(
        {{"<GETCONFIG>", {"<FLASH_CONFIG_START>", "<FLASH_CONFIG_DATA> 0 3FFFF 7"}}}));
    const e2e::RunResult r = e2e::run_tvflash_on(board.port(), {"getconfig"});
    // No progress characters and no repeat of the request while the table is printed.
    EXPECT_EQ(r.out, e2e::after_probe(board.port()) + e2e::kConfigHeader +
                         "0x00000000 - 0x0003FFFF | ROM                         |  262144 ( 256K) "
                         "bytes\n" +
                         e2e::kTimedOut);
    EXPECT_EQ(r.status, 1);
    EXPECT_GT(r.seconds, 19.0);
    EXPECT_EQ(board.count_received("<GETCONFIG>"), 1);
}

TEST(UploadEndToEnd, LostAcknowledgementEndsInTheUploadTimeout) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(3000);
    const std::string path = folder.write("sys.bin", image);
    // The first block's acknowledgement is lost; the second block never comes.
    e2e::FakeBoard board(e2e::uploading({}, {{image.substr(0, 1024), {}}}));
    auto r = e2e::run_tvflash_on(board.port(), {"updatesys", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(
        e2e::output_is(r.out, {e2e::upload_head(board.port(), path, 3000),
                               {'*', 18, 20},
                               "timeout while uploading.\nTarget system no longer responding.\n"}));
    // The block went out once: nothing is repeated during the upload.
    EXPECT_EQ(board.received(),
              (std::vector<std::string>{"<VERSION>", "<UPDATESYS>", image.substr(0, 1024)}));
    EXPECT_GE(r.seconds, 19.5);
    EXPECT_LE(r.seconds, 24.0);
}
