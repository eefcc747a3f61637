// The real tool against the real simulator on the loopback: the operator's commands, an upload
// through lost datagrams, and the bootloader question.
#include <gtest/gtest.h>
#include <signal.h>

#include "e2e/fake_board.h"
#include "e2e/texts.h"
#include "e2e/tool.h"
#include "e2e/upload_board.h"
#include "sim/sim_process.h"

using simtest::SimProcess;

TEST(SimWithTool, VersionFromOneBoardAndFromTwoOnOneAddress) {
    const std::string line = "Talvium 5.2 on KRD/4Q (simulated)\n";
    const std::pair<std::string, std::string> samples[] = {
        {"1", line},
        {"2", line + line + e2e::conflict_line(2)},
    };
    for (const auto& [boards, answers] : samples) {
        SimProcess sim({"--board-type", "KRD/4Q", "--boards", boards});
        ASSERT_NE(sim.port(), 0);
        EXPECT_TRUE(e2e::ran(e2e::run_tvflash_on(sim.port(), {"version"}), boards == "1" ? 0 : 1,
                             e2e::connecting_line(sim.port()) + "OK.\n" + answers));
        EXPECT_EQ(sim.stop(SIGINT).status, 0);
    }
}

TEST(SimWithTool, UpdateShowsInTheMapAndEraseTakesItAway) {
    SimProcess sim({});
    ASSERT_NE(sim.port(), 0);
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(1024 * 1024);
    const std::string path = folder.write("system.tvm", image);
    const std::string old_row =
        "0x00040000 - 0x0033FFFF | System                      | 3145728 (3072K) bytes\n";
    const std::string new_row =
        "0x00040000 - 0x0013FFFF | System                      | 1048576 (1024K) bytes\n";

    e2e::RunResult before = e2e::run_tvflash_on(sim.port(), {"getconfig"});
    EXPECT_EQ(before.status, 0);
    EXPECT_NE(before.out.find(old_row), std::string::npos) << before.out;

    // A second spent waiting for one acknowledgement on a loaded machine shows as a "*"; apart from
    // those the output is exact.
    e2e::RunResult update = e2e::run_tvflash_on(sim.port(), {"updatesys", path});
    std::erase(update.out, '*');
    EXPECT_TRUE(
        e2e::ran(update, 0,
                 e2e::upload_output(sim.port(), path, image.size(), std::string(1024, '.')) +
                     e2e::kUpdateSucceeded));

    e2e::RunResult after = e2e::run_tvflash_on(sim.port(), {"getconfig"});
    EXPECT_EQ(after.status, 0);
    EXPECT_NE(after.out.find(new_row), std::string::npos) << after.out;

    e2e::RunResult erase = e2e::run_tvflash_on(sim.port(), {"erasesys"});
    EXPECT_EQ(erase.status, 0);
    EXPECT_TRUE(erase.out.ends_with(e2e::kErased)) << erase.out;
    e2e::RunResult again = e2e::run_tvflash_on(sim.port(), {"erasesys"});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.out.ends_with("..." + e2e::kNoSystemArea)) << again.out;
    EXPECT_EQ(sim.stop(SIGINT).status, 0);
}

TEST(SimWithTool, UpdateSucceedsThroughFivePercentLossEachWay) {
    SimProcess sim({"--loss-in", "0.05", "--loss-out", "0.05", "--seed", "7", "--verbose"});
    ASSERT_NE(sim.port(), 0);
    e2e::ImageFolder folder;
    const std::string path = folder.write("lossy.tvm", e2e::pattern_image(96 * 1024 + 5));
    e2e::RunResult run = e2e::run_tvflash_on(sim.port(), {"updatesys", path});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Total of 98309 bytes uploaded.\n"), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with(e2e::kUpdated)) << run.out;
    EXPECT_EQ(run.err, "");
    // The seed makes the run repeatable; datagrams were lost both ways.
    const e2e::RunResult end = sim.stop(SIGINT);
    EXPECT_EQ(end.status, 0);
    EXPECT_NE(end.err.find("drop-in"), std::string::npos);
    EXPECT_NE(end.err.find("drop-out"), std::string::npos);
}

TEST(SimWithTool, BootloaderForAnotherBoardWaitsForTheOperatorsAnswer) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << e2e::kAsksInMessageBoxes;
    }
    e2e::ImageFolder folder;
    const std::string path =
        folder.write("eboot.hex", e2e::rom_image("KRD/4Q, Rel. B, ROM-Version: 4.0"));
    const std::pair<std::string, std::pair<int, std::string>> answers[] = {
        {"n\n", {1, "FAILED (bootloader does not fit for the hardware).\n"}},
        {"y\n", {0, e2e::kUpdated}},
    };
    for (const auto& [answer, outcome] : answers) {
        SimProcess sim({"--board-type", "PLN7/ZE"});
        ASSERT_NE(sim.port(), 0);
        e2e::RunResult run = e2e::run_tvflash_on(sim.port(), {"updaterom", path}, answer);
        EXPECT_EQ(run.status, outcome.first);
        EXPECT_TRUE(run.out.ends_with("Updating flash memory..." + outcome.second)) << run.out;
        EXPECT_EQ(run.err, "tvflash: " + e2e::bootloader_warning("PLN7/ZE", "KRD/4Q") + " [Y/n] ");
        EXPECT_EQ(sim.stop(SIGINT).status, 0);
    }
}
