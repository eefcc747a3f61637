// The link's shutdown and its guard between the watchdog's repeat and a socket replacement. Each
// case ends its process, so each runs as a death test in a child of its own.
#include "link/link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "e2e/fake_board.h"
#include "link/watchdog.h"

namespace {

class LinkDeathTest : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

}  // namespace

TEST_F(LinkDeathTest, FirstShutdownWinsAndASecondEntryNeverExits) {
    auto race = [] {
        ASSERT_TRUE(claim_shutdown());
        std::thread second([] { shutdown_and_exit(0); });
        second.detach();
        // Had the second entry exited, the status would be 0 by now.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        finish_shutdown(3);
    };
    EXPECT_EXIT(race(), ::testing::ExitedWithCode(3), "");
}

TEST_F(LinkDeathTest, RepeatsNeverMeetAReplacedSocket) {
    e2e::FakeBoard board([](e2e::FakeBoard&, const std::string&) {});
    auto stress = [&board] {
        start_link("127.0.0.1", board.port(), false);
        static const char kMessage[] = "<VERSION>";
        send_message(kMessage, 9);
        std::atomic<bool> done{false};
        std::thread repeater([&done] {
            for (int i = 0; i < 1000000 && !done; ++i) {
                repeat_last_message();
            }
        });
        // A repeat on a closed socket would end the run here with "FAILED (error 9)".
        for (int i = 0; i < 3000; ++i) {
            reconnect_target();
        }
        done = true;
        repeater.join();
        shutdown_and_exit(0);
    };
    EXPECT_EXIT(stress(), ::testing::ExitedWithCode(0), "");
}
