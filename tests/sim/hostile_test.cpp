// The real tool against the hostile board (tvflash-sim --hostile) for a fixed set of seeds over
// every command: whatever the board sends, each run ends by itself and cleanly, prints no raw
// control byte, and claims success only with the command's success text.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <sstream>
#include <thread>

#include "e2e/texts.h"
#include "e2e/upload_board.h"
#include "sim/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// After the board's last datagram: the 20-second timeout, slack, and cyclic_version's 4-s pause.
constexpr double kAllowedSeconds = 20 + 4;
constexpr double kCyclicPause = 4;

struct Command {
    std::string word;
    std::string image;    // written to a file named on the command line when not empty
    std::string success;  // what standard output holds when the run succeeds
};

std::vector<Command> commands() {
    std::vector<Command> all{{"version", "", "OK.\n"},
                             {"cyclic_version", "", "(it never succeeds)"},
                             {"getconfig", "", "Total size of flash memory"}};
    for (const char* erase :
         {"erase", "erasesys", "eraseuser", "erasereserve", "eraseregistry", "erasedisk"}) {
        all.push_back({erase, "", e2e::kErased});
    }
    const std::string image = e2e::overwrite(e2e::pattern_image(5000), 1024, std::string(1024, 0));
    const std::string rom = e2e::rom_image("KRD/4Q, Rel. B, ROM-Version: 4.0");
    for (const auto& [word, bytes] : {std::pair{"updatesys", image},
                                      {"updatereserve", image},
                                      {"updaterom", rom},
                                      {"formatdisk", std::string("U")}}) {
        all.push_back(
            {word, bytes, "Total of " + std::to_string(bytes.size()) + " bytes uploaded."});
    }
    return all;
}

struct Outcome {
    bool board_started = false;
    e2e::RunResult run;
    double after_last_datagram = 0;  // seconds from the board's last datagram to the tool's end
};

Outcome run_against_hostile_board(const std::vector<std::string>& args, int seed) {
    simtest::SimProcess sim({"--hostile", "--seed", std::to_string(seed), "--verbose"});
    // The simulator's clock starts as it prints its listening line, which has just been read.
    const Clock::time_point started = Clock::now();
    Outcome outcome;
    outcome.board_started = sim.port() != 0;
    outcome.run = e2e::run_tvflash_on(sim.port(), args, "y\ny\n", std::chrono::seconds(110));
    const double ended = std::chrono::duration<double>(Clock::now() - started).count();
    std::istringstream log(sim.stop(SIGTERM).err);
    double at = 0, last = 0;
    std::string what, rest;
    while (log >> at >> what && std::getline(log, rest)) {
        last = what == "out" ? at : last;
    }
    outcome.after_last_datagram = ended - last;
    return outcome;
}

bool has_raw_control_byte(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) && c != '\t' && c != '\n' &&
               c != '\r';
    });
}

class HostileBoard : public testing::TestWithParam<int> {};

TEST_P(HostileBoard, EveryCommandEndsCleanlyAndSucceedsOnlyWithItsSuccessText) {
    const std::vector<Command> kCommands = commands();
    const std::size_t kCount = kCommands.size();
    e2e::ImageFolder folder;
    std::vector<Outcome> outcomes(kCount);
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < kCount; ++i) {
        std::vector<std::string> args{kCommands[i].word};
        if (!kCommands[i].image.empty()) {
            args.push_back(folder.write(kCommands[i].word + ".bin", kCommands[i].image));
        }
        // Each command meets a board of its own seed, so that their first answers differ.
        runs.emplace_back([&outcomes, i, args, seed = GetParam() * 100 + static_cast<int>(i)] {
            outcomes[i] = run_against_hostile_board(args, seed);
        });
    }
    for (std::thread& run : runs) {
        run.join();
    }
    for (std::size_t i = 0; i < kCount; ++i) {
        const e2e::RunResult& run = outcomes[i].run;
        const bool cyclic = kCommands[i].word == "cyclic_version";
        const std::string context = kCommands[i].word + ", seed " +
                                    std::to_string(GetParam() * 100 + i) + "\nout: " + run.out +
                                    "\nerr: " + run.err;
        EXPECT_TRUE(outcomes[i].board_started) << context;
        EXPECT_TRUE(run.status == 0 || run.status == 1) << context;
        EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << context;
        EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << context;
        EXPECT_LE(outcomes[i].after_last_datagram, kAllowedSeconds + (cyclic ? kCyclicPause : 0))
            << context;
        EXPECT_FALSE(has_raw_control_byte(run.out) || has_raw_control_byte(run.err)) << context;
        if (run.status == 0) {
            EXPECT_NE(run.out.find(kCommands[i].success), std::string::npos) << context;
            EXPECT_TRUE(kCommands[i].image.empty() || run.out.ends_with(e2e::kUpdated)) << context;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, HostileBoard, testing::Values(1, 2, 3, 4, 5, 6));

}  // namespace
