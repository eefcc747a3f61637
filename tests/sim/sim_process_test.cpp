// The real tvflash-sim binary on the loopback: its listening line, a few exchanges, its end on a
// signal with its capture file complete, and its refusals of bad command lines.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "e2e/upload_board.h"
#include "sim/sim_process.h"

using namespace std::chrono_literals;
using simtest::SimProcess;
using simtest::UdpClient;

namespace {

// The UDP payloads of a capture file's records, in order: each record's 16-byte header holds its
// length at offset 8 (little-endian), and its raw IPv4 packet has headers of 20 and 8 bytes.
std::vector<std::string> captured_payloads(const std::string& path) {
    std::ostringstream file;
    file << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string bytes = file.str();
    std::vector<std::string> payloads;
    for (std::size_t at = 24; at + 16 <= bytes.size() && payloads.size() < 100;) {
        std::size_t length = 0;
        for (int i = 3; i >= 0; --i) {
            length = length << 8 | static_cast<unsigned char>(bytes[at + 8 + i]);
        }
        payloads.push_back(bytes.substr(at + 16 + 28, length - 28));
        at += 16 + length;
    }
    return payloads;
}

}  // namespace

// SIGTERM ends a Windows program at once; SIGINT is its Ctrl-C.
TEST(SimProcess, AnswersEachSenderOnAFreePortAndEndsCleanlyOnASignal) {
    const std::vector<int> stop_signals =
        simtest::windows_sim() ? std::vector<int>{SIGINT} : std::vector<int>{SIGTERM, SIGINT};
    for (int signal_number : stop_signals) {
        e2e::ImageFolder folder;
        const std::string capture = (folder.path() / "sim.pcap").string();
        SimProcess sim({"--verbose", "--pcap", capture});
        std::smatch match;
        ASSERT_TRUE(
            std::regex_match(sim.listening_line(), match,
                             std::regex("tvflash-sim listening on 127\\.0\\.0\\.1:(\\d+)\n")))
            << sim.listening_line();
        ASSERT_NE(sim.port(), 0);

        UdpClient probe(sim.port());
        probe.send("<VERSION>");
        EXPECT_EQ(probe.receive(5s), "<VERSION> Talvium 5.2 on PLN7/ZE (simulated)");
        // A fresh socket, as the tool's after its probe, is answered on its own port.
        UdpClient dialogue(sim.port());
        dialogue.send("<GETCONFIG>");
        std::vector<std::string> map = dialogue.receive_all(500ms);
        ASSERT_EQ(map.size(), 11u);
        EXPECT_EQ(map.front(), "<FLASH_CONFIG_START>");
        EXPECT_EQ(map.back(), "<FLASH_CONFIG_END> 16");
        dialogue.send("<ERASESYS>");
        EXPECT_EQ(dialogue.receive_all(500ms),
                  (std::vector<std::string>{"<ERASE_START>", "<ERASE_OK>"}));
        EXPECT_FALSE(probe.receive(0ms));

        const e2e::RunResult end = sim.stop(signal_number);
        EXPECT_EQ(end.status, 0);
        const std::string& log = end.err;
        EXPECT_TRUE(std::regex_search(log, std::regex(" in +127\\.0\\.0\\.1:\\d+ +<VERSION>\n")))
            << log;
        EXPECT_TRUE(std::regex_search(log, std::regex(" out +127\\.0\\.0\\.1:\\d+ +<ERASE_OK>\n")))
            << log;
        EXPECT_NE(log.find("tvflash-sim stopped\n"), std::string::npos) << log;
        const std::vector<std::string> payloads = captured_payloads(capture);
        ASSERT_EQ(payloads.size(), 17u);
        EXPECT_EQ(payloads.front(), "<VERSION>");
        EXPECT_EQ(payloads.back(), "<ERASE_OK>");
    }
}

TEST(SimProcess, BadCommandLinesEndWithStatusTwo) {
    const std::string try_help = "Try 'tvflash-sim --help' for the options.\n";
    EXPECT_TRUE(e2e::ran(
        simtest::run_sim_briefly({"--loss-in", "2"}), 2, "",
        "tvflash-sim: bad value '2' for --loss-in: expected a rate from 0 to 1\n" + try_help));
    EXPECT_TRUE(e2e::ran(simtest::run_sim_briefly({"--port", "4000", "--lossy"}), 2, "",
                         "tvflash-sim: unknown option '--lossy'\n" + try_help));

    e2e::RunResult help = simtest::run_sim_briefly({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.substr(0, 29), "Usage: tvflash-sim [options]\n");
    for (const char* knob : {"--loss-in", "--loss-out", "--nack-rate", "--boards", "--slow-erase",
                             "--slow-update", "--updating-flash", "--silent", "--seed"}) {
        EXPECT_NE(help.out.find(knob), std::string::npos) << knob;
    }
}

TEST(SimProcess, APortInUseIsReportedWithStatusOne) {
    SimProcess first({});
    ASSERT_NE(first.port(), 0);
    e2e::RunResult second = simtest::run_sim_briefly({"--port", first.port_text()});
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(second.err.starts_with(
        "tvflash-sim: cannot listen on 127.0.0.1:" + first.port_text() + ": "))
        << second.err;
    EXPECT_EQ(first.stop(SIGINT).status, 0);
}
