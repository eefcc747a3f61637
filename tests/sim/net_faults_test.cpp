// Network faults below the board model, the board's stored bytes, a board that dies or restarts in
// the middle of an upload, and many boards updated at once.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e/fake_board.h"
#include "e2e/texts.h"
#include "e2e/upload_board.h"
#include "net_faults.h"
#include "sim/sim_process.h"
#include "update_files.h"

using simtest::SimProcess;

namespace {

// The datagrams that leave path within the first 100 ms, with the millisecond each left at.
std::vector<std::pair<sim::Millis, std::string>> run_path(
    sim::PathFaults faults, const std::vector<std::pair<sim::Millis, std::string>>& submits) {
    sim::FaultyPath path(faults, 1);
    std::vector<std::pair<sim::Millis, std::string>> out;
    std::size_t next = 0;
    for (sim::Millis now = 0; now < 100; ++now) {
        for (; next < submits.size() && submits[next].first == now; ++next) {
            path.submit({0, submits[next].second}, now);
        }
        for (const sim::Datagram& datagram : path.take_due(now)) {
            out.emplace_back(now, datagram.bytes);
        }
    }
    return out;
}

std::string file_text(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

}  // namespace

TEST(FaultyPath, DuplicatesHoldsBackAndDelays) {
    using Times = std::vector<std::pair<sim::Millis, std::string>>;
    const struct {
        sim::PathFaults faults;
        Times in, out;
    } samples[] = {
        {{}, {{0, "a"}, {3, "b"}}, {{0, "a"}, {3, "b"}}},
        {{1, 0, 0, 0}, {{0, "a"}}, {{0, "a"}, {0, "a"}}},
        // Held back until the next one passes, or for at most the hold limit.
        {{0, 1, 0, 0}, {{0, "a"}, {10, "b"}}, {{10, "b"}, {10, "a"}}},
        {{0, 1, 0, 0}, {{0, "a"}}, {{sim::kReorderHoldLimit, "a"}}},
        {{0, 0, 5, 0}, {{0, "a"}, {1, "b"}}, {{5, "a"}, {6, "b"}}},
    };
    for (const auto& sample : samples) {
        EXPECT_EQ(run_path(sample.faults, sample.in), sample.out);
    }
    Times jittered = run_path({0, 0, 5, 5}, {{0, "a"}, {0, "b"}, {0, "c"}, {0, "d"}});
    ASSERT_EQ(jittered.size(), 4u);
    for (const auto& [at, bytes] : jittered) {
        EXPECT_TRUE(at >= 5 && at <= 10) << at;
    }
}

// Blocks carry no numbers: a block delivered twice is written twice. The checksum sees it, unless
// the block is all zeros: then the board stores a longer image and the update succeeds.
TEST(SimWithTool, DuplicatedBlockIsCaughtByTheChecksumUnlessItIsZeros) {
    const struct {
        std::string image;
        int status;
        std::string ending;
        std::size_t stored;  // bytes in the board's file, 0 for none
    } samples[] = {
        {e2e::pattern_image(16384), 1, "FAILED (checksum error).\n", 0},
        {std::string(16384, '\0'), 0, e2e::kUpdated, 16384 + 1024},
    };
    for (const auto& sample : samples) {
        e2e::ImageFolder folder;
        const std::string path = folder.write("image.bin", sample.image);
        const std::string stored = folder.path() / "stored";
        std::filesystem::create_directory(stored);
        SimProcess sim({"--dup-in", "0.1", "--seed", "1", "--write-dir", stored});
        e2e::RunResult run = e2e::run_tvflash_on(sim.port(), {"updatesys", path});
        EXPECT_EQ(run.status, sample.status) << run.out;
        EXPECT_TRUE(run.out.ends_with(sample.ending)) << run.out;
        EXPECT_EQ(file_text(sim::update_file_path(stored, 1)).size(), sample.stored);
        EXPECT_EQ(sim.stop(SIGTERM).status, 0);
    }
}

// The tool is stopped between two blocks while the board goes away, or goes away and comes back on
// the same port; then it goes on.
TEST(SimWithTool, BoardThatDiesOrRestartsMidUploadNeverEndsInSuccess) {
    e2e::ImageFolder folder;
    const std::string path = folder.write("big.bin", e2e::pattern_image(1024 * 1024));
    for (bool restart : {false, true}) {
        auto sim = std::make_unique<SimProcess>(std::vector<std::string>{"--delay", "1"});
        const std::uint16_t port = sim->port();
        e2e::ChildProcess tool(TVFLASH_BINARY, {"127.0.0.1", sim->port_text(), "updatesys", path});
        ASSERT_NE(tool.read_until("Uploading..", std::chrono::seconds(10)).find("Uploading.."),
                  std::string::npos);
        tool.send_signal(SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sim->stop(SIGKILL);
        if (restart) {
            sim = std::make_unique<SimProcess>(std::vector<std::string>{}, port);
            ASSERT_EQ(sim->port(), port);
        }
        const auto resumed = std::chrono::steady_clock::now();
        tool.send_signal(SIGCONT);
        e2e::RunResult run = tool.finish(std::chrono::seconds(30));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - resumed).count();
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        if (restart) {
            EXPECT_TRUE(
                run.out.ends_with("timeout while uploading.\n"
                                  "Target system no longer responding.\n"))
                << run.out;
        } else {
            EXPECT_EQ(run.err, "FAILED (connection reset by remote host).\n");
            EXPECT_LT(seconds, 5);
        }
    }
}

// Flashing lines update many boards at once, one process each.
TEST(SimWithTool, SixteenBoardsUpdatedAtOnceEachHoldTheImage) {
    constexpr int kBoards = 16;
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(1024 * 1024);
    const std::string path = folder.write("image.bin", image);
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < kBoards; ++i) {
        std::string stored = folder.path() / std::to_string(i);
        std::filesystem::create_directory(stored);
        sims.push_back(
            std::make_unique<SimProcess>(std::vector<std::string>{"--write-dir", stored}));
    }
    std::vector<e2e::RunResult> runs(kBoards);
    std::vector<std::thread> threads;
    for (int i = 0; i < kBoards; ++i) {
        threads.emplace_back([&, i] {
            runs[i] = e2e::run_tvflash_on(sims[i]->port(), {"updatesys", path}, "",
                                          std::chrono::seconds(100));
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < kBoards; ++i) {
        EXPECT_EQ(runs[i].status, 0) << runs[i].out << runs[i].err;
        EXPECT_TRUE(file_text(sim::update_file_path(folder.path() / std::to_string(i), 1)) == image)
            << "board " << i;
        EXPECT_EQ(sims[i]->stop(SIGTERM).status, 0);
    }
}
