// The real tool against the hostile board (tvflash-sim --hostile) for a fixed set of seeds over
// every command: whatever the board sends, each run ends by itself and cleanly, prints no raw
// control byte, and claims success only with the command's success text.
#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>
#include <thread>

#include "e2e/fake_board.h"
#include "e2e/texts.h"
#include "e2e/upload_board.h"
#include "sim/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// The watchdog ends a silent run after 20 s; cyclic_version pauses 4 s more before it exits.
constexpr double kReplyTimeout = 20;
constexpr double kCyclicPause = 4;
constexpr double kSlack = 4;

struct Command {
    std::string word;
    std::string image;    // written to a file and named after the word when not empty
    std::string success;  // what standard output holds when the run succeeds
};

const std::string kSystemImage =
    e2e::overwrite(e2e::pattern_image(5000), 1024, std::string(1024, '\0'));

std::vector<Command> commands() {
    const auto upload = [](const std::string& image) {
        return "Total of " + std::to_string(image.size()) + " bytes uploaded.\n";
    };
    const std::string rom = e2e::rom_image("KRD/4Q, Rel. B, ROM-Version: 4.0");
    return {
        {"version", "", "OK.\n"},
        {"cyclic_version", "", "(never succeeds)"},
        {"getconfig", "", "Total size of flash memory"},
        {"erase", "", e2e::kErased},
        {"erasesys", "", e2e::kErased},
        {"eraseuser", "", e2e::kErased},
        {"erasereserve", "", e2e::kErased},
        {"eraseregistry", "", e2e::kErased},
        {"erasedisk", "", e2e::kErased},
        {"updatesys", kSystemImage, upload(kSystemImage)},
        {"updatereserve", kSystemImage, upload(kSystemImage)},
        {"updaterom", rom, upload(rom)},
        {"formatdisk", std::string(1, '\x55'), upload(std::string(1, '\x55'))},
    };
}

struct Outcome {
    bool board_started = false;
    e2e::RunResult run;
    double after_last_datagram = 0;  // from the board's last datagram to the tool's end, at most
};

// The time of the board's last datagram in the simulator's log, in seconds of its clock.
double last_datagram_out(const std::string& log) {
    std::istringstream lines(log);
    std::string line;
    double last = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        double at = 0;
        std::string what;
        if (fields >> at >> what && what == "out") {
            last = at;
        }
    }
    return last;
}

Outcome run_against_hostile_board(const Command& command, int seed, const std::string& image) {
    simtest::SimProcess sim({"--hostile", "--seed", std::to_string(seed), "--verbose"});
    // The simulator's clock starts as it prints its listening line, which has just been read.
    const Clock::time_point started = Clock::now();
    std::vector<std::string> args{command.word};
    if (!image.empty()) {
        args.push_back(image);
    }
    const double tool_start = std::chrono::duration<double>(Clock::now() - started).count();
    Outcome outcome;
    outcome.board_started = sim.port() != 0;
    outcome.run = e2e::run_tvflash_on(sim.port(), args, "y\ny\n", std::chrono::seconds(110));
    const double last = last_datagram_out(sim.stop(SIGTERM).err);
    outcome.after_last_datagram = tool_start + outcome.run.seconds - last;
    return outcome;
}

bool has_raw_control_byte(const std::string& text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 || byte == 0x7F) && c != '\t' && c != '\n' && c != '\r') {
            return true;
        }
    }
    return false;
}

class HostileBoard : public testing::TestWithParam<int> {};

TEST_P(HostileBoard, EveryCommandEndsCleanlyAndSucceedsOnlyWithItsSuccessText) {
    const std::vector<Command> all = commands();
    e2e::ImageFolder folder;
    std::vector<Outcome> outcomes(all.size());
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string image =
            all[i].image.empty() ? "" : folder.write(all[i].word + ".bin", all[i].image);
        // Each command meets a board of its own seed, so that their first answers differ.
        const int seed = GetParam() * 100 + static_cast<int>(i);
        runs.emplace_back(
            [&, i, image, seed] { outcomes[i] = run_against_hostile_board(all[i], seed, image); });
    }
    for (std::thread& run : runs) {
        run.join();
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        const e2e::RunResult& run = outcomes[i].run;
        const std::string context = all[i].word + ", seed " + std::to_string(GetParam() * 100 + i) +
                                    "\nout: " + run.out + "\nerr: " + run.err;
        const double allowed =
            kReplyTimeout + kSlack + (all[i].word == "cyclic_version" ? kCyclicPause : 0);
        EXPECT_TRUE(outcomes[i].board_started) << context;
        EXPECT_TRUE(run.status == 0 || run.status == 1) << context;
        EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << context;
        EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << context;
        EXPECT_LE(outcomes[i].after_last_datagram, allowed) << context;
        EXPECT_FALSE(has_raw_control_byte(run.out)) << context;
        EXPECT_FALSE(has_raw_control_byte(run.err)) << context;
        if (run.status == 0) {
            EXPECT_NE(run.out.find(all[i].success), std::string::npos) << context;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, HostileBoard, testing::Values(1, 2, 3, 4, 5, 6));

}  // namespace
