// The real tool against the real simulator on the loopback: the operator's commands, an upload
// through lost datagrams, and the bootloader question.
#include <gtest/gtest.h>
#include <signal.h>

#include "e2e/fake_board.h"
#include "e2e/upload_board.h"
#include "sim/sim_process.h"

using simtest::SimProcess;

namespace {

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

TEST(SimWithTool, VersionFromOneBoardAndFromTwoOnOneAddress) {
    struct Sample {
        std::vector<std::string> sim_args;
        int status;
        std::string answers;
    };
    const std::string line = "Talvium 5.2 on KRD/4Q (simulated)\n";
    const Sample samples[] = {
        {{"--board-type", "KRD/4Q"}, 0, line},
        {{"--board-type", "KRD/4Q", "--boards", "2"},
         1,
         line + line +
             "ERROR: IP address conflict (2 target boards use the same\nIP address 127.0.0.1).\n"},
    };
    for (const Sample& sample : samples) {
        SimProcess sim(sample.sim_args);
        ASSERT_NE(sim.port(), 0);
        e2e::RunResult run = e2e::run_tvflash({"127.0.0.1", sim.port_text(), "version"});
        EXPECT_EQ(run.status, sample.status);
        EXPECT_EQ(run.out, e2e::connecting_line(sim.port()) + "OK.\n" + sample.answers);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(sim.stop(SIGTERM), 0);
    }
}

TEST(SimWithTool, UpdateShowsInTheMapAndEraseTakesItAway) {
    SimProcess sim({});
    ASSERT_NE(sim.port(), 0);
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(1024 * 1024);
    const std::string path = folder.write("system.tvm", image);
    auto tool = [&](const std::string& command, const std::string& file = "") {
        std::vector<std::string> args{"127.0.0.1", sim.port_text(), command};
        if (!file.empty()) {
            args.push_back(file);
        }
        return e2e::run_tvflash(args);
    };
    const std::string old_row =
        "0x00040000 - 0x0033FFFF | System                      | 3145728 (3072K) bytes\n";
    const std::string new_row =
        "0x00040000 - 0x0013FFFF | System                      | 1048576 (1024K) bytes\n";

    e2e::RunResult before = tool("getconfig");
    EXPECT_EQ(before.status, 0);
    EXPECT_NE(before.out.find(old_row), std::string::npos) << before.out;

    e2e::RunResult update = tool("updatesys", path);
    EXPECT_EQ(update.status, 0);
    EXPECT_EQ(update.out, e2e::upload_output(sim.port(), path, image.size(), std::string(1024, '.'),
                                             image.size()) +
                              e2e::kUpdateSucceeded);

    e2e::RunResult after = tool("getconfig");
    EXPECT_EQ(after.status, 0);
    EXPECT_NE(after.out.find(new_row), std::string::npos) << after.out;

    e2e::RunResult erase = tool("erasesys");
    EXPECT_EQ(erase.status, 0);
    EXPECT_TRUE(ends_with(erase.out, "OK.\nFlash memory has been successfully erased.\n"))
        << erase.out;
    e2e::RunResult again = tool("erasesys");
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(ends_with(again.out,
                          "...FAILED (suitable for erasure data not found inside System Area).\n"))
        << again.out;
    EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(SimWithTool, UpdateSucceedsThroughFivePercentLossEachWay) {
    SimProcess sim({"--loss-in", "0.05", "--loss-out", "0.05", "--seed", "7", "--verbose"});
    ASSERT_NE(sim.port(), 0);
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(96 * 1024 + 5);
    const std::string path = folder.write("lossy.tvm", image);
    e2e::RunResult run = e2e::run_tvflash({"127.0.0.1", sim.port_text(), "updatesys", path});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Total of 98309 bytes uploaded.\n"), std::string::npos) << run.out;
    EXPECT_TRUE(ends_with(run.out, "OK.\nFlash memory update successful.\n")) << run.out;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    // The seed makes the run repeatable; datagrams were lost both ways.
    std::string log = sim.error_output();
    EXPECT_NE(log.find("drop-in"), std::string::npos);
    EXPECT_NE(log.find("drop-out"), std::string::npos);
}

TEST(SimWithTool, BootloaderForAnotherBoardWaitsForTheOperatorsAnswer) {
    e2e::ImageFolder folder;
    const std::string path = folder.write(
        "eboot.hex",
        e2e::overwrite(e2e::pattern_image(65536), 0, "KRD/4Q, Rel. B, ROM-Version: 4.0"));
    const std::pair<std::string, std::pair<int, std::string>> answers[] = {
        {"n\n", {1, "FAILED (bootloader does not fit for the hardware).\n"}},
        {"y\n", {0, "OK.\nFlash memory update successful.\n"}},
    };
    for (const auto& [answer, outcome] : answers) {
        SimProcess sim({"--board-type", "PLN7/ZE"});
        ASSERT_NE(sim.port(), 0);
        e2e::RunResult run =
            e2e::run_tvflash({"127.0.0.1", sim.port_text(), "updaterom", path}, answer);
        EXPECT_EQ(run.status, outcome.first);
        EXPECT_TRUE(ends_with(run.out, "Updating flash memory..." + outcome.second)) << run.out;
        EXPECT_NE(run.err.find("designed for target of type PLN7/ZE\n"
                               "and bootloader for update was designed\n"
                               "for target of type KRD/4Q.\n"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(sim.stop(SIGTERM), 0);
    }
}
