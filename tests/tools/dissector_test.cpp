// The Wireshark dissector (tools/wireshark/tvflash.lua) read by the real tshark: sessions of every
// dialogue recorded with tvflash-sim --pcap, and a few written datagram by datagram, decoded into
// fields that one table checks; the same session captured by tcpdump when the test runs as root;
// and the tshark examples of README.md and docs/protocol.md, run and compared line by line.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "e2e/upload_board.h"
#include "pcap.h"
#include "sim/sim_process.h"

namespace {

const std::string kSource = TVFLASH_SOURCE_DIR;
const std::string kDissector = kSource + "/tools/wireshark/tvflash.lua";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> words_of(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

// tshark's lines for a capture, with the dissector loaded and extra options before the rest.
std::vector<std::string> tshark(const std::vector<std::string>& args) {
    std::vector<std::string> all{"-X", "lua_script:" + kDissector};
    all.insert(all.end(), args.begin(), args.end());
    e2e::RunResult run = e2e::run_process(TSHARK_BINARY, all, "", std::chrono::seconds(60));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("Lua"), std::string::npos) << run.err;
    return lines_of(run.out);
}

std::vector<std::string> decoded(const std::string& capture, const std::string& filter,
                                 const std::vector<std::string>& fields) {
    std::vector<std::string> args{"-o", "tvflash.port:0", "-o", "udp.check_checksum:TRUE",
                                  "-r", capture,          "-Y", filter,
                                  "-T", "fields"};
    for (const std::string& field : fields) {
        args.insert(args.end(), {"-e", field});
    }
    return tshark(args);
}

// One session of the real tool against the simulator, captured by the simulator.
struct Session {
    std::vector<std::string> sim_args;
    std::vector<std::string> tool_args;
    std::string answer;  // the operator's answer to the bootloader question
};

// A datagram of a written capture, from the tool to the board or back.
struct Datagram {
    bool to_board;
    std::string bytes;
};

class Captures {
  public:
    std::string file(const std::string& name) const { return (folder_.path() / name).string(); }
    const e2e::ImageFolder& folder() const { return folder_; }

    std::string record(const std::string& name, const Session& session) {
        SimProcess sim(with_capture(session.sim_args, file(name)));
        e2e::RunResult run = e2e::run_tvflash_on(sim.port(), session.tool_args, session.answer);
        EXPECT_EQ(sim.stop(SIGTERM).status, 0);
        EXPECT_NE(run.status, -1) << name;
        return file(name);
    }

    // A capture of a board at 127.0.0.1:4000 and a tool at port 50000, written directly.
    std::string write(const std::string& name, const std::vector<Datagram>& datagrams) {
        const std::uint32_t loopback = 0x7F000001;
        std::string error;
        auto writer = sim::PcapWriter::create(file(name), {loopback, 4000}, error);
        EXPECT_NE(writer, nullptr) << error;
        for (const Datagram& d : datagrams) {
            d.to_board ? writer->received({loopback, 50000}, d.bytes)
                       : writer->sent({loopback, 50000}, d.bytes);
        }
        return file(name);
    }

    static std::vector<std::string> with_capture(std::vector<std::string> args,
                                                 const std::string& path) {
        args.insert(args.end(), {"--pcap", path});
        return args;
    }

  private:
    using SimProcess = simtest::SimProcess;
    e2e::ImageFolder folder_;
};

struct Row {
    std::string capture;
    std::string filter;
    std::vector<std::string> fields;
    std::vector<std::string> expected;
};

}  // namespace

TEST(Dissector, DecodesEveryDialogueFromTheSimulatorsCaptures) {
    Captures c;
    const std::string small = c.folder().write("small.tvm", e2e::pattern_image(3 * 1024 + 100));
    const std::string rom =
        c.folder().write("eboot.hex", e2e::rom_image("KRD/4Q, Rel. B, ROM-Version: 4.0"));
    std::map<std::string, std::string> cap{
        {"version", c.record("version.pcap", {{"--boards", "2"}, {"version"}, ""})},
        {"getconfig", c.record("getconfig.pcap", {{"--updating-flash"}, {"getconfig"}, ""})},
        {"upload", c.record("upload.pcap",
                            {{"--nack-rate", "0.2", "--seed", "3"}, {"updatesys", small}, ""})},
        {"rom", c.record("rom.pcap", {{}, {"updaterom", rom}, "y\n"})},
        {"erase", c.record("erase.pcap", {{"--slow-erase", "2.5"}, {"erase"}, ""})},
        {"bad_sum", c.write("bad_sum.pcap", {{true, "<UPDATESYS>"},
                                             {false, "<OK_LOAD>"},
                                             {true, "abcd"},
                                             {false, "<ACK>"},
                                             {true, std::string("<END_LOAD> 5 \0", 14)},
                                             {false, "<CHECK_ERROR>"}})},
        {"lost_block", c.write("lost_block.pcap", {{true, "<FORMATDISK>"},
                                                   {false, "<OK_LOAD>"},
                                                   {true, "abcd"},
                                                   {false, "<ACK>"},
                                                   {false, "<ACK>"},
                                                   {true, e2e::end_load(0)},
                                                   {false, "<SIZE_ERROR><EXPANDED>  4096"}})},
        {"odd", c.write("odd.pcap", {{true, "<ERASE>"},
                                     {false, "<ERASE_START>"},
                                     {false, "<ERASE_ERROR>17"},
                                     {false, std::string(200, '<')}})},
    };
    const Row rows[] = {
        {"version",
         "tvflash",
         {"tvflash.direction", "tvflash.tag", "tvflash.version"},
         {"0\t<VERSION>\t", "1\t<VERSION>\tTalvium 5.2 on PLN7/ZE (simulated)",
          "1\t<VERSION>\tTalvium 5.2 on PLN7/ZE (simulated)"}},
        // The board's late answer makes the tool repeat its command after a silent second.
        {"getconfig", "tvflash.repeat", {"tvflash.tag", "tvflash.repeat.of"}, {"<GETCONFIG>\t3"}},
        {"getconfig",
         "tvflash.area.type == 3",
         {"tvflash.area.start", "tvflash.area.end", "tvflash.area.name", "tvflash.area.size"},
         {"0x00040000\t0x0033ffff\tSystem\t3145728"}},
        {"getconfig",
         "tvflash.total_mib",
         {"tvflash.tag", "tvflash.total_mib"},
         {"<FLASH_CONFIG_END>\t16"}},
        {"upload",
         "frame.number > 2",
         {"tvflash.tag", "tvflash.block", "tvflash.resend"},
         {"<UPDATESYS>\t\t", "<OK_LOAD>\t\t", "\t1\t", "<ACK>\t\t", "\t2\t", "<NACK>\t\t", "\t2\t1",
          "<ACK>\t\t", "\t3\t", "<ACK>\t\t", "\t4\t", "<ACK>\t\t", "<END_LOAD>\t\t", "<NACK>\t\t",
          "<END_LOAD>\t\t1", "<CHECK_OK>\t\t", "<UPDATE_OK>\t\t"}},
        {"upload",
         "tvflash.nack.block || tvflash.ack.block == 2",
         {"tvflash.nack.block", "tvflash.ack.block"},
         {"2\t", "\t2"}},
        {"upload",
         "tvflash.tag == \"<END_LOAD>\"",
         {"tvflash.checksum", "tvflash.checksum.hex", "tvflash.checksum.blocks",
          "tvflash.checksum.status", "tvflash.blocks", "tvflash.bytes"},
         {"129787788\t0x07bc678c\t0x07bc678c\t1\t4\t3172", "129787788\t0x07bc678c\t\t\t\t"}},
        {"upload",
         "tvflash.block == 4",
         {"ip.src", "udp.length", "udp.checksum.status"},
         {"127.0.0.1\t108\t1"}},
        {"rom",
         "tvflash.tag contains \"DEST\" || tvflash.tag == \"<CONTINUE>\"",
         {"tvflash.tag", "tvflash.board_type.stored", "tvflash.board_type.update"},
         {"<DEST_DIFFER_QUERY>\tPLN7/ZE\tKRD/4Q", "<CONTINUE>\t\t"}},
        {"erase", "tvflash.unexpected", {"tvflash.text"}, {"<ERASING> 80%"}},
        {"bad_sum",
         "tvflash.checksum.status == 0",
         {"tvflash.checksum.blocks", "tvflash.checksum", "_ws.expert.message"},
         {"0x61626364\t5\tChecksum of the 1 blocks seen is 0x61626364 (1633837924), <END_LOAD> "
          "says 0x00000005"}},
        {"bad_sum", "tvflash.check.ok == 0", {"tvflash.tag"}, {"<CHECK_ERROR>"}},
        {"lost_block",
         "tvflash.tag == \"<END_LOAD>\" || tvflash.free_space",
         {"tvflash.checksum.status", "tvflash.free_space"},
         {"2\t", "\t4096"}},
        {"odd",
         "tvflash.error_code || tvflash.unexpected",
         {"tvflash.error_code", "tvflash.unexpected", "_ws.expert.severity"},
         {"7\t\t6291456,4194304", "\t1\t6291456,8388608"}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(decoded(cap.at(row.capture), row.filter, row.fields), row.expected)
            << row.capture << ": " << row.filter;
    }
}

// Where the tests run as root, as CI does, tcpdump on the loopback sees the same datagrams that the
// simulator writes, and tshark decodes both alike.
TEST(Dissector, SimulatorCaptureAgreesWithTcpdump) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "capturing on lo needs root";
    }
    Captures c;
    const std::string image = c.folder().write("image.tvm", e2e::pattern_image(5000));
    simtest::SimProcess sim(
        Captures::with_capture({"--nack-rate", "0.3", "--seed", "5"}, c.file("sim.pcap")));
    e2e::ChildProcess tcpdump(
        "/bin/sh", {"-c", "exec tcpdump -i lo --immediate-mode -U -w " + c.file("lo.pcap") +
                              " udp port " + sim.port_text() + " 2>&1"});
    ASSERT_NE(tcpdump.read_line(std::chrono::seconds(10)).find("listening on"), std::string::npos);
    EXPECT_EQ(e2e::run_tvflash_on(sim.port(), {"updatesys", image}).status, 0);
    EXPECT_EQ(sim.stop(SIGTERM).status, 0);
    usleep(500 * 1000);  // tcpdump writes what the loopback delivered
    tcpdump.finish(std::chrono::seconds(5), SIGINT);
    const std::vector<std::string> fields{"udp.srcport", "udp.dstport", "udp.length",
                                          "_ws.col.Info"};
    const std::vector<std::string> from_sim = decoded(c.file("sim.pcap"), "tvflash", fields);
    EXPECT_GT(from_sim.size(), 12u);
    EXPECT_EQ(decoded(c.file("lo.pcap"), "tvflash", fields), from_sim);
}

// Each example block of the two documents that is marked as checked: "$ seq", "$ tvflash-sim",
// "$ tvflash" and "$ tshark" lines are run (on a free port, in a private folder) and the lines
// after "$ tvflash" and "$ tshark" must be their output.
TEST(Dissector, DocumentExamplesAreRealRuns) {
    const std::string marker = "<!-- checked by tests/tools/dissector_test.cpp -->";
    int examples = 0;
    for (const char* document : {"README.md", "docs/protocol.md"}) {
        std::ifstream in(kSource + "/" + document);
        std::vector<std::string> doc = lines_of(
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
        for (std::size_t i = 0; i < doc.size(); ++i) {
            if (doc[i] != marker) {
                continue;
            }
            ++examples;
            Captures c;
            const auto old_dir = std::filesystem::current_path();
            std::filesystem::current_path(c.folder().path());
            std::unique_ptr<simtest::SimProcess> sim;
            std::vector<std::string> output;
            std::size_t line = i + 2;
            auto take_output = [&] {
                std::vector<std::string> expected;
                for (++line; line < doc.size() && !doc[line].starts_with("$ ") &&
                             !doc[line].starts_with("```");
                     ++line) {
                    expected.push_back(doc[line]);
                }
                return expected;
            };
            while (line < doc.size() && !doc[line].starts_with("```")) {
                std::vector<std::string> w = words_of(doc[line].substr(2));
                std::string port = sim ? sim->port_text() : "";
                if (w[0] == "seq") {
                    std::ofstream file(w[3]);
                    for (int n = 1; n <= std::stoi(w[1]); ++n) {
                        file << n << '\n';
                    }
                } else if (w[0] == "tvflash-sim") {
                    w.pop_back();  // "&"
                    sim = std::make_unique<simtest::SimProcess>(
                        std::vector<std::string>(w.begin() + 1, w.end()));
                } else if (w[0] == "tvflash") {
                    w[2] = port;
                    e2e::RunResult run =
                        e2e::run_tvflash({w.begin() + 1, w.end()}, "", std::chrono::seconds(30));
                    std::erase(run.out, '*');
                    std::string out = run.out;
                    for (std::string& l : (output = take_output())) {
                        if (auto at = l.find(" port 4000"); at != std::string::npos) {
                            l.replace(at + 6, 4, port);
                        }
                    }
                    EXPECT_EQ(lines_of(out), output) << document;
                    continue;
                } else if (w[0] == "kill") {
                    EXPECT_EQ(sim->stop(SIGTERM).status, 0);
                } else if (w[0] == "tshark") {
                    std::vector<std::string> args{"-o", "tvflash.port:" + port};
                    for (const std::string& word : std::vector(w.begin() + 1, w.end())) {
                        if (!word.starts_with("lua_script:") && word != "-X") {
                            args.push_back(word == "'_ws.col.Info'" ? "_ws.col.Info" : word);
                        }
                    }
                    std::vector<std::string> got = tshark(args);
                    EXPECT_EQ(got, take_output()) << document;
                    continue;
                }
                ++line;
            }
            std::filesystem::current_path(old_dir);
        }
    }
    EXPECT_GE(examples, 2);
}
