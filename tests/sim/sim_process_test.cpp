// The real tvflash-sim binary on the loopback: its listening line, a few exchanges, its end on a
// signal, its refusals of bad command lines, and an upload through its simulated losses.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "sim/sim_process.h"
#include "wire.h"

using namespace std::chrono_literals;
using simtest::SimProcess;
using simtest::UdpClient;

TEST(SimProcess, AnswersEachSenderOnAFreePortAndEndsCleanlyOnASignal) {
    for (int signal_number : {SIGTERM, SIGINT}) {
        SimProcess sim({"--verbose"});
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

        EXPECT_EQ(sim.stop(signal_number), 0);
        std::string log = sim.error_output();
        EXPECT_TRUE(std::regex_search(log, std::regex(" in +127\\.0\\.0\\.1:\\d+ +<VERSION>\n")))
            << log;
        EXPECT_TRUE(std::regex_search(log, std::regex(" out +127\\.0\\.0\\.1:\\d+ +<ERASE_OK>\n")))
            << log;
        EXPECT_NE(log.find("tvflash-sim stopped\n"), std::string::npos) << log;
    }
}

TEST(SimProcess, BadCommandLinesEndWithStatusTwo) {
    simtest::SimRun bad = simtest::run_sim_briefly({"--loss-in", "2"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err,
              "tvflash-sim: bad value '2' for --loss-in: expected a rate from 0 to 1\n"
              "Try 'tvflash-sim --help' for the options.\n");

    simtest::SimRun unknown = simtest::run_sim_briefly({"--port", "4000", "--lossy"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err,
              "tvflash-sim: unknown option '--lossy'\n"
              "Try 'tvflash-sim --help' for the options.\n");

    simtest::SimRun help = simtest::run_sim_briefly({"--help"});
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
    simtest::SimRun second = simtest::run_sim_briefly({"--port", first.port_text()});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(
        second.err.rfind("tvflash-sim: cannot listen on 127.0.0.1:" + first.port_text() + ": ", 0),
        0u)
        << second.err;
    EXPECT_EQ(first.stop(SIGTERM), 0);
}

namespace {

std::string end_load(std::uint32_t checksum) {
    std::string text = "<END_LOAD> " + std::to_string(static_cast<std::int32_t>(checksum));
    if (text.size() % 2 == 0) {
        text += ' ';
    }
    return text + '\0';
}

// Waits for one of the wanted replies, resending on "<NACK>" and, when given, once a second of
// silence; gives up after 30 seconds.
std::optional<std::string> await_reply(UdpClient& client, const std::string& datagram,
                                       const std::vector<std::string>& wanted,
                                       bool resend_each_second) {
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::optional<std::string> reply = client.receive(1s);
        if (!reply) {
            if (resend_each_second) {
                client.send(datagram);
            }
            continue;
        }
        for (const std::string& tag : wanted) {
            if (reply->rfind(tag, 0) == 0) {
                return reply;
            }
        }
        if (*reply == "<NACK>") {
            client.send(datagram);
        }
    }
    return std::nullopt;
}

}  // namespace

TEST(SimProcess, UploadSucceedsThroughFivePercentLossEachWay) {
    SimProcess sim({"--loss-in", "0.05", "--loss-out", "0.05", "--seed", "7", "--verbose"});
    ASSERT_NE(sim.port(), 0);
    std::string image;
    for (int i = 0; i < 96 * 1024 + 5; ++i) {
        image += static_cast<char>(i * 7 % 251);
    }
    UdpClient tool(sim.port());
    tool.send("<UPDATESYS>");
    ASSERT_EQ(await_reply(tool, "<UPDATESYS>", {"<OK_LOAD>"}, true), "<OK_LOAD>");
    for (std::size_t offset = 0; offset < image.size(); offset += 1024) {
        std::string block = image.substr(offset, 1024);
        tool.send(block);
        ASSERT_EQ(await_reply(tool, block, {"<ACK>"}, false), "<ACK>") << "block at " << offset;
    }
    std::string end = end_load(sim::add_to_checksum(0, 0, image));
    tool.send(end);
    EXPECT_EQ(await_reply(tool, end, {"<UPDATE_OK>", "<CHECK_ERROR>", "<SIZE_ERROR>"}, false),
              "<UPDATE_OK>");
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    std::string log = sim.error_output();
    // The seed makes the run repeatable; it did lose datagrams both ways.
    EXPECT_NE(log.find("drop-in"), std::string::npos);
    EXPECT_NE(log.find("drop-out"), std::string::npos);
}
