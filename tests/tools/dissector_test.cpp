// The Wireshark dissector (tools/wireshark/tvflash.lua) read by the real tshark: sessions of every
// dialogue recorded with tvflash-sim --pcap, and a few written datagram by datagram, decoded into
// fields that one table checks; the same session captured by tcpdump when the test runs as root;
// and the examples of the documents (README.md, docs/debugging.md, docs/protocol.md), run and
// compared line by line.
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

using Lines = std::vector<std::string>;
const std::string kSource = TVFLASH_SOURCE_DIR;

Lines split(const std::string& text, char separator) {
    Lines parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

// tshark's output lines, with the dissector of the source tree loaded.
Lines tshark(Lines args) {
    args.insert(args.begin(), {"-X", "lua_script:" + kSource + "/tools/wireshark/tvflash.lua"});
    e2e::RunResult run = e2e::run_process(TSHARK_BINARY, args, "", std::chrono::seconds(60));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("Lua"), std::string::npos) << run.err;
    return split(run.out, '\n');
}

// The fields (names separated by blanks) of the datagrams that pass filter. The simulator's free
// ports are found by heuristics, the written captures' port 4000 by the dissector's port.
Lines decoded(const std::string& capture, const std::string& filter, const std::string& fields) {
    Lines args{"-o", "udp.check_checksum:TRUE", "-r", capture, "-Y", filter, "-T", "fields"};
    for (const std::string& field : split(fields, ' ')) {
        args.insert(args.end(), {"-e", field});
    }
    return tshark(args);
}

// The real tool against the simulator, captured by the simulator into path.
std::string record(const std::string& path, Lines sim_args, const Lines& tool_args,
                   const std::string& answer = "") {
    sim_args.insert(sim_args.end(), {"--pcap", path});
    simtest::SimProcess sim(sim_args);
    EXPECT_NE(e2e::run_tvflash_on(sim.port(), tool_args, answer).status, -1) << path;
    EXPECT_EQ(sim.stop(SIGTERM).status, 0);
    return path;
}

// A capture of a board at 127.0.0.1:4000 written directly: each datagram is its bytes after 'T'
// when the tool sends it, after 'B' when the board does.
std::string written(const std::string& path, const Lines& datagrams) {
    const std::uint32_t loopback = 0x7F000001;
    std::string error;
    auto writer = sim::PcapWriter::create(path, {loopback, 4000}, error);
    EXPECT_NE(writer, nullptr) << error;
    for (const std::string& d : datagrams) {
        d[0] == 'T' ? writer->received({loopback, 50000}, d.substr(1))
                    : writer->sent({loopback, 50000}, d.substr(1));
    }
    return path;
}

}  // namespace

TEST(Dissector, DecodesEveryDialogueFromTheSimulatorsCaptures) {
    e2e::ImageFolder f;
    const std::string small = f.write("small.tvm", e2e::pattern_image(3 * 1024 + 100));
    const std::string rom = f.write("eboot.hex", e2e::rom_image("KRD/4Q, Rel. B, ROM-Version: 4"));
    const std::string d = f.path().string() + "/";
    const std::map<std::string, std::string> captures{
        {"version", record(d + "v.pcap", {"--boards", "2"}, {"version"})},
        {"getconfig", record(d + "g.pcap", {"--updating-flash"}, {"getconfig"})},
        {"upload",
         record(d + "u.pcap", {"--nack-rate", "0.2", "--seed", "3"}, {"updatesys", small})},
        {"rom", record(d + "r.pcap", {}, {"updaterom", rom}, "y\n")},
        {"erase", record(d + "e.pcap", {"--slow-erase", "2.5"}, {"erase"})},
        {"bad_sum", written(d + "b.pcap", {"T<UPDATESYS>", "B<OK_LOAD>", "Tabcd", "B<ACK>",
                                           "T" + e2e::end_load(5), "B<CHECK_ERROR>"})},
        {"lost_block",
         written(d + "l.pcap", {"T<FORMATDISK>", "B<OK_LOAD>", "Tabcd", "B<ACK>", "B<ACK>",
                                "T" + e2e::end_load(0), "B<SIZE_ERROR><EXPANDED>  4096"})},
        {"zeros",
         written(d + "z.pcap",
                 {"T<UPDATESYS>", "B<OK_LOAD>", "Tabcd", "B<ACK>", "T" + std::string(1024, '\0'),
                  "B<NACK>", "T" + std::string(1024, '\0'), "Tabcd", "B<NACK>", "Tabcd"})},
        {"odd", written(d + "o.pcap", {"T\x01no tag", "T<ERASE>", "B<ERASE_START>",
                                       "B<ERASE_ERROR>17", "B" + std::string(200, '<')})},
    };
    const struct {
        std::string capture, filter, fields, expected;
    } rows[] = {
        {"version", "tvflash", "tvflash.direction tvflash.tag tvflash.version",
         "0\t<VERSION>\t\n1\t<VERSION>\tTalvium 5.2 on PLN7/ZE (simulated)\n"
         "1\t<VERSION>\tTalvium 5.2 on PLN7/ZE (simulated)"},
        // The board's late answer makes the tool repeat its command after a silent second.
        {"getconfig", "tvflash.repeat", "tvflash.tag tvflash.repeat.of", "<GETCONFIG>\t3"},
        {"getconfig", "tvflash.area.type == 3",
         "tvflash.area.start tvflash.area.end tvflash.area.name tvflash.area.size",
         "0x00040000\t0x0033ffff\tSystem\t3145728"},
        {"getconfig", "tvflash.total_mib", "tvflash.tag tvflash.total_mib",
         "<FLASH_CONFIG_END>\t16"},
        {"upload", "frame.number > 2", "tvflash.tag tvflash.block tvflash.resend",
         "<UPDATESYS>\t\t\n<OK_LOAD>\t\t\n\t1\t\n<ACK>\t\t\n\t2\t\n<NACK>\t\t\n\t2\t1\n<ACK>\t\t\n"
         "\t3\t\n<ACK>\t\t\n\t4\t\n<ACK>\t\t\n<END_LOAD>\t\t\n<NACK>\t\t\n<END_LOAD>\t\t1\n"
         "<CHECK_OK>\t\t\n<UPDATE_OK>\t\t"},
        {"upload", "tvflash.nack.block || tvflash.ack.block == 2",
         "tvflash.nack.block tvflash.ack.block", "2\t\n\t2"},
        {"upload", "tvflash.tag == \"<END_LOAD>\"",
         "tvflash.checksum tvflash.checksum.hex tvflash.checksum.blocks tvflash.checksum.status "
         "tvflash.blocks tvflash.bytes",
         "129787788\t0x07bc678c\t0x07bc678c\t1\t4\t3172\n129787788\t0x07bc678c\t\t\t\t"},
        {"upload", "tvflash.block == 4", "ip.src udp.length udp.checksum.status",
         "127.0.0.1\t108\t1"},
        {"rom", "tvflash.tag contains \"DEST\" || tvflash.tag == \"<CONTINUE>\"",
         "tvflash.tag tvflash.board_type.stored tvflash.board_type.update",
         "<DEST_DIFFER_QUERY>\tPLN7/ZE\tKRD/4Q\n<CONTINUE>\t\t"},
        {"erase", "tvflash.unexpected", "tvflash.text", "<ERASING> 80%"},
        {"bad_sum", "tvflash.checksum.status == 0",
         "tvflash.checksum.blocks tvflash.checksum _ws.expert.message",
         "0x61626364\t5\tChecksum of the 1 blocks seen is 0x61626364 (1633837924), <END_LOAD> "
         "says 0x00000005"},
        {"bad_sum", "tvflash.check.ok == 0", "tvflash.tag", "<CHECK_ERROR>"},
        {"lost_block", "tvflash.tag == \"<END_LOAD>\" || tvflash.free_space",
         "tvflash.checksum.status tvflash.free_space", "2\t\n\t4096"},
        // A resend of a block that adds nothing to the checksum is flagged; others are notes.
        {"zeros", "tvflash.resend", "tvflash.block _ws.expert.severity",
         "2\t4194304,6291456\n3\t4194304"},
        // Expert severities: 4194304 note, 6291456 warning, 8388608 error.
        {"odd", "tvflash.error_code || tvflash.unexpected",
         "tvflash.error_code tvflash.unexpected _ws.expert.severity",
         "\t1\t6291456\n7\t\t6291456,4194304\n\t1\t6291456,8388608"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(decoded(captures.at(row.capture), row.filter, row.fields),
                  split(row.expected, '\n'))
            << row.capture << ": " << row.filter;
    }
}

// Where the tests run as root, as CI does, tcpdump on the loopback sees the same datagrams that the
// simulator writes, and tshark decodes both alike.
TEST(Dissector, SimulatorCaptureAgreesWithTcpdump) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "capturing on lo needs root";
    }
    e2e::ImageFolder f;
    const std::string image = f.write("image.tvm", e2e::pattern_image(5000));
    const std::string sim_file = (f.path() / "sim.pcap").string();
    const std::string lo_file = (f.path() / "lo.pcap").string();
    simtest::SimProcess sim({"--nack-rate", "0.3", "--seed", "5", "--pcap", sim_file});
    e2e::ChildProcess tcpdump(
        "/bin/sh", {"-c", "exec tcpdump -i lo --immediate-mode -U -w " + lo_file + " udp port " +
                              sim.port_text() + " 2>&1"});
    ASSERT_NE(tcpdump.read_line(std::chrono::seconds(10)).find("listening on"), std::string::npos);
    EXPECT_EQ(e2e::run_tvflash_on(sim.port(), {"updatesys", image}).status, 0);
    EXPECT_EQ(sim.stop(SIGTERM).status, 0);
    usleep(500 * 1000);  // tcpdump writes what the loopback delivered
    tcpdump.finish(std::chrono::seconds(5), SIGINT);
    const std::string fields = "udp.srcport udp.dstport udp.length _ws.col.Info";
    const Lines from_sim = decoded(sim_file, "tvflash", fields);
    EXPECT_GT(from_sim.size(), 12u);
    EXPECT_EQ(decoded(lo_file, "tvflash", fields), from_sim);
}

namespace {

// The lines of a marked example from its "$ " line at `at` on: "$ seq", "$ tvflash-sim",
// "$ tvflash", "$ kill" and "$ tshark" are run on a free port in the current folder, and the lines
// after "$ tvflash" and "$ tshark" must be their output (port 4000 read as the free port).
void run_example(const Lines& doc, std::size_t at, const std::string& where) {
    std::unique_ptr<simtest::SimProcess> sim;
    while (at < doc.size() && doc[at].starts_with("$ ")) {
        Lines w = split(doc[at].substr(2), ' ');
        Lines expected;
        for (++at; at < doc.size() && !doc[at].starts_with("$ ") && !doc[at].starts_with("```");
             ++at) {
            expected.push_back(doc[at]);
        }
        const std::string port = sim ? sim->port_text() : "";
        for (std::string& line : expected) {
            if (std::size_t p = line.find(" port 4000"); p != std::string::npos) {
                line.replace(p + 6, 4, port);
            }
        }
        if (w[0] == "seq") {
            std::ofstream file(w[3]);
            for (int n = 1; n <= std::stoi(w[1]); ++n) {
                file << n << '\n';
            }
        } else if (w[0] == "tvflash-sim") {
            sim = std::make_unique<simtest::SimProcess>(Lines(w.begin() + 1, w.end() - 1));
        } else if (w[0] == "tvflash") {
            w[2] = port;
            e2e::RunResult run = e2e::run_tvflash({w.begin() + 1, w.end()});
            std::erase(run.out, '*');  // a second of waiting on a loaded machine
            EXPECT_EQ(split(run.out, '\n'), expected) << where;
        } else if (w[0] == "kill") {
            EXPECT_EQ(sim->stop(SIGTERM).status, 0);
        } else if (w[0] == "tshark") {
            Lines args{"-o", "tvflash.port:" + port};
            std::copy_if(w.begin() + 1, w.end(), std::back_inserter(args), [](const auto& word) {
                return word != "-X" && !word.starts_with("lua_script:");
            });
            EXPECT_EQ(tshark(args), expected) << where;
        }
    }
}

}  // namespace

TEST(Dissector, DocumentExamplesAreRealRuns) {
    int examples = 0;
    for (const char* document : {"README.md", "docs/debugging.md", "docs/protocol.md"}) {
        std::ifstream in(kSource + "/" + document);
        const Lines doc = split(std::string(std::istreambuf_iterator<char>(in), {}), '\n');
        for (std::size_t i = 0; i + 2 < doc.size(); ++i) {
            if (doc[i] == "<!-- checked by tests/tools/dissector_test.cpp -->") {
                ++examples;
                e2e::ImageFolder folder;
                const auto old_dir = std::filesystem::current_path();
                std::filesystem::current_path(folder.path());
                run_example(doc, i + 2, document + (":" + std::to_string(i + 1)));
                std::filesystem::current_path(old_dir);
            }
        }
    }
    EXPECT_EQ(examples, 3);
}
