// Network faults below the board model, the board's stored bytes, a board that dies or restarts in
// the middle of an upload, and many boards updated at once.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

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

std::string stored_update(const std::string& dir) {
    std::ostringstream text;
    text << std::ifstream(sim::update_file_path(dir, 1), std::ios::binary).rdbuf();
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
}

// Blocks carry no numbers: a block delivered twice is written twice. The checksum sees it, unless
// the block is all zeros: then the board stores a longer image, and only the spare "<ACK>" keeps
// the tool from reporting success.
TEST(SimWithTool, DuplicatedBlockIsCaughtByTheChecksumOrTheSpareAck) {
    const struct {
        std::string image;
        int status;
        std::string ending;
        std::size_t stored;  // bytes in the board's file, 0 for none
    } samples[] = {
        {e2e::pattern_image(16384), 1, "FAILED (checksum error).\n", 0},
        {std::string(16384, '\0'), 1,
         "FAILED (17 acknowledgements for 16 blocks; a block stored twice cannot be ruled out).\n",
         16384 + 1024},
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
        EXPECT_EQ(stored_update(stored).size(), sample.stored);
        EXPECT_EQ(sim.stop(SIGINT).status, 0);
    }
}

// The tool is stopped between two blocks while the board goes away, or goes away and comes back on
// the same port; then it goes on. A vanished board is named at once; a fresh one, which takes the
// next block for nothing it knows, leaves the tool to time out.
TEST(SimWithTool, BoardThatDiesOrRestartsMidUploadNeverEndsInSuccess) {
    e2e::ImageFolder folder;
    const std::string path = folder.write("big.bin", e2e::pattern_image(1024 * 1024));
    const struct {
        bool restart;
        std::string out_ending, err;
        double within_seconds;
    } samples[] = {
        {false, "", "FAILED (connection reset by remote host).\n", 5},
        {true, "timeout while uploading.\nTarget system no longer responding.\n", "", 30},
    };
    for (const auto& sample : samples) {
        auto sim = std::make_unique<SimProcess>(std::vector<std::string>{"--delay", "1"});
        const std::uint16_t port = sim->port();
        e2e::ChildProcess tool(TVFLASH_BINARY, {"127.0.0.1", sim->port_text(), "updatesys", path});
        ASSERT_NE(tool.read_until("Uploading..", std::chrono::seconds(10)).find("Uploading.."),
                  std::string::npos);
        tool.send_signal(SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sim->stop(SIGKILL);
        if (sample.restart) {
            sim = std::make_unique<SimProcess>(std::vector<std::string>{}, port);
            ASSERT_EQ(sim->port(), port);
        }
        tool.send_signal(SIGCONT);
        e2e::RunResult run = tool.finish(std::chrono::seconds(30));
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.ends_with(sample.out_ending)) << run.out;
        EXPECT_EQ(run.err, sample.err);
        EXPECT_LT(run.seconds, sample.within_seconds + 3);
    }
}

// Flashing lines update many boards at once, one process each.
TEST(SimWithTool, SixteenBoardsUpdatedAtOnceEachHoldTheImage) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(1024 * 1024);
    const std::string path = folder.write("image.bin", image);
    std::vector<std::thread> runs;
    for (int i = 0; i < 16; ++i) {
        runs.emplace_back([&, dir = (folder.path() / std::to_string(i)).string()] {
            std::filesystem::create_directory(dir);
            SimProcess sim({"--write-dir", dir});
            e2e::RunResult run =
                e2e::run_tvflash_on(sim.port(), {"updatesys", path}, "", std::chrono::seconds(100));
            EXPECT_EQ(run.status, 0) << run.out << run.err;
            EXPECT_TRUE(stored_update(dir) == image) << dir;
            EXPECT_EQ(sim.stop(SIGTERM).status, 0);
        });
    }
    for (std::thread& run : runs) {
        run.join();
    }
}
