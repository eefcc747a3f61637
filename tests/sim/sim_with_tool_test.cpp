// The real tool against the real simulator on the loopback.
#include <gtest/gtest.h>
#include <signal.h>

#include "e2e/fake_board.h"
#include "sim/sim_process.h"

using simtest::SimProcess;

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
