// Erase runs that last beyond the 20-second reply timeout.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "e2e/fake_board.h"

namespace {

using namespace std::chrono_literals;

const std::string kStarted = "OK.\nFlash memory is being erased...";

TEST(EraseSlow, ChatterKeepsALongEraseAlive) {
    e2e::FakeBoard board([](e2e::FakeBoard& b, const std::string& d) {
        if (d == "<VERSION>") {
            b.reply("<VERSION> Talvium 1.0");
        } else if (d == "<ERASE>") {
            b.reply("<ERASE_START>");
            b.reply_after(8s, "still erasing\n");
            b.reply_after(16s, "still erasing\n");
            b.reply_after(24s, "still erasing\n");
            b.reply_after(27s, "<ERASE_OK>");
        }
    });
    const e2e::RunResult r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "erase"});
    EXPECT_EQ(r.out, e2e::connecting_line(board.port()) + "." + kStarted +
                         "still erasing\nstill erasing\nstill erasing\n" +
                         "OK.\nFlash memory has been successfully erased.\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_GT(r.seconds, 27.0);
    EXPECT_EQ(board.count_received("<ERASE>"), 1);
}

TEST(EraseSlow, SilenceDuringTheEraseTimesOut) {
    e2e::FakeBoard board([](e2e::FakeBoard& b, const std::string& d) {
        if (d == "<VERSION>") {
            b.reply("<VERSION> Talvium 1.0");
        } else if (d == "<ERASEDISK>") {
            b.reply("<ERASE_START>");
        }
    });
    const e2e::RunResult r = e2e::run_tvflash({"127.0.0.1", board.port_text(), "erasedisk"});
    EXPECT_EQ(r.out, e2e::connecting_line(board.port()) + "." + kStarted +
                         "timeout.\nTarget system not responding.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_GT(r.seconds, 19.0);
    // The command is not repeated while the board erases.
    EXPECT_EQ(board.count_received("<ERASEDISK>"), 1);
}

}  // namespace
