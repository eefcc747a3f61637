// tvflash-fleet against simulated boards on loopback addresses of their own (127.0.0.2, ...):
// recipes on several boards, failures that end one board while the others finish, -j, the checks
// that send nothing, the bootloader answer, the station and the scan. The fleet is the one beside
// the tool under test, so that these run against the Windows build too (see e2e/tool.h).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include <httplib.h>
#include <sqlite3.h>
#include <nlohmann/json.hpp>

#include "e2e/tool.h"
#include "e2e/upload_board.h"
#include "fleet/postgres_server.h"
#include "sim/sim_process.h"

using namespace std::chrono_literals;
using simtest::SimProcess;

namespace {

std::string without_cr(std::string text) {
    std::erase(text, '\r');
    return text;
}

// The Windows build runs without a display here: a bootloader question it cannot show counts as
// No, as the tool's own tests have it (the Dialog tests show it).
// A run that names no record database keeps one in its record folder rather than in the default
// place, which every test would share.
std::vector<std::string> with_database(std::vector<std::string> args) {
    auto logs = std::find(args.begin(), args.end(), "--logs");
    if (args.at(0) == "run" && logs != args.end() && logs + 1 != args.end() &&
        std::find(args.begin(), args.end(), "--db") == args.end()) {
        const std::string db = *(logs + 1) + "/records.db";
        args.insert(args.begin() + 1, {"--db", db});
    }
    return args;
}

std::unique_ptr<e2e::ChildProcess> start_fleet(const std::vector<std::string>& args) {
    e2e::ToolCommand fleet = e2e::fleet_command(with_database(args));
    if (e2e::windows_build()) {
        fleet.args.insert(fleet.args.begin(), {"-u", "DISPLAY", fleet.program});
        fleet.program = "env";
    }
    return std::make_unique<e2e::ChildProcess>(fleet.program, fleet.args);
}

e2e::RunResult run_fleet(const std::vector<std::string>& args) {
    e2e::RunResult run = start_fleet(args)->finish(90s);
    run.out = without_cr(run.out);
    run.err = without_cr(run.err);
    return run;
}

std::string target(const std::string& address, const SimProcess& sim) {
    return address + ":" + sim.port_text();
}

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The rows of a CSV file, quoted fields undone.
std::vector<std::vector<std::string>> read_csv(const std::filesystem::path& path) {
    const std::string text = file_text(path);
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            rows.back().back() += text[++i];
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            rows.back().emplace_back();
        } else if (!quoted && c == '\n') {
            rows.emplace_back(1);
        } else if (quoted || c != '\r') {
            rows.back().back() += c;
        }
    }
    rows.pop_back();
    return rows;
}

// target, step, status and verdict of each summary row; of a FAILED verdict only "FAILED (...)".
std::vector<std::string> summary_of(const std::filesystem::path& logs) {
    std::vector<std::string> lines;
    for (const std::vector<std::string>& row : read_csv(logs / "summary.csv")) {
        std::size_t failed = row.at(5).find("FAILED (");
        lines.push_back(row.at(0) + " " + row.at(1) + " " + row.at(4) + " " +
                        row.at(5).substr(failed == std::string::npos ? 0 : failed));
    }
    std::sort(lines.begin() + 1, lines.end());
    return lines;
}

// A new folder in the test's folder, for a board's --write-dir.
std::string new_folder(const e2e::ImageFolder& folder, const std::string& name) {
    std::filesystem::create_directories(folder.path() / name);
    return (folder.path() / name).string();
}

// Reads the fleet's output until it holds text count times.
bool wait_for(e2e::ChildProcess& fleet, const std::string& text, int count,
              std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string& out = fleet.read_for(200ms);
        int seen = 0;
        for (std::size_t at = out.find(text); at != std::string::npos;
             at = out.find(text, at + 1)) {
            ++seen;
        }
        if (seen >= count) {
            return true;
        }
    }
    return false;
}

// Runs sql on the SQLite database at path; "" when it went well, else SQLite's reason.
std::string sqlite_exec(const std::string& path, const std::string& sql,
                        std::string* first_field = nullptr) {
    sqlite3* db = nullptr;
    std::string result;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        result = sqlite3_errmsg(db);
    } else {
        auto keep_first = [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) = values[0] != nullptr ? values[0] : "";
            return 0;
        };
        char* message = nullptr;
        if (sqlite3_exec(db, sql.c_str(), first_field ? +keep_first : nullptr, first_field,
                         &message) != SQLITE_OK) {
            result = message != nullptr ? message : "failed";
        }
        sqlite3_free(message);
    }
    sqlite3_close(db);
    return result;
}

// What PRAGMA integrity_check says of the database at path: "ok" when it is sound.
std::string integrity_check(const std::string& path) {
    std::string verdict;
    std::string error = sqlite_exec(path, "PRAGMA integrity_check", &verdict);
    return error.empty() ? verdict : error;
}

}  // namespace

TEST(FleetRun, RecipeRunsOnEveryBoardAndAFailureEndsOnlyItsBoard) {
    e2e::ImageFolder folder;
    const std::string rom = e2e::rom_image("PLN7/ZE, Rel. B, ROM-Version: 3.1");
    folder.write("images/eboot.hex", rom);
    const std::string recipe = folder.write(
        "recipe.txt", "# three steps\nerasesys\n\nupdaterom images/eboot.hex\ngetconfig\n");
    // Two boards of the bootloader's type; one of another type, whose question is answered No;
    // nothing listens at the fourth.
    SimProcess a({"--bind", "127.0.0.2", "--write-dir", new_folder(folder, "a")});
    SimProcess b({"--bind", "127.0.0.3", "--write-dir", new_folder(folder, "b")});
    SimProcess other({"--bind", "127.0.0.4", "--board-type", "PGR/ZE"});
    const std::string ta = target("127.0.0.2", a);
    const std::string tb = target("127.0.0.3", b);
    const std::string to = target("127.0.0.4", other);
    const std::string tn = "127.0.0.5:" + a.port_text();
    const std::filesystem::path logs = folder.path() / "logs";
    e2e::RunResult run = run_fleet({"run", "--logs", logs.string(), recipe, ta, tb, to, tn});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(file_text(folder.path() / "a" / "update-1.bin") == rom);
    EXPECT_TRUE(file_text(folder.path() / "b" / "update-1.bin") == rom);
    const std::string erased = " 1 passed Flash memory has been successfully erased.";
    EXPECT_EQ(summary_of(logs), (std::vector<std::string>{
                                    "target step status verdict",
                                    ta + erased,
                                    ta + " 2 passed Flash memory update successful.",
                                    ta + " 3 passed Total size of flash memory 16M bytes.",
                                    tb + erased,
                                    tb + " 2 passed Flash memory update successful.",
                                    tb + " 3 passed Total size of flash memory 16M bytes.",
                                    to + erased,
                                    to + " 2 failed FAILED (bootloader does not fit for the "
                                         "hardware).",
                                    to + " 3 skipped ",
                                    tn + " 1 failed FAILED (connection reset by remote host).",
                                    tn + " 2 skipped ",
                                    tn + " 3 skipped ",
                                }));
    // The transcript keeps each command line and the tool's exact output.
    std::string transcript = without_cr(file_text(logs / ("127.0.0.2-" + a.port_text() + ".txt")));
    std::erase(transcript, '*');  // a second spent waiting for one block, on a loaded machine
    EXPECT_NE(transcript.find("127.0.0.2 " + a.port_text() + " updaterom "), std::string::npos);
    EXPECT_NE(transcript.find("Uploading" + std::string(64, '.') + "OK.\nTotal of 65536"),
              std::string::npos)
        << transcript;
    EXPECT_NE(run.out.find("4 boards: 2 passed, 2 failed."), std::string::npos) << run.out;
}

TEST(FleetRun, AtMostJBoardsRunAtOnce) {
    e2e::ImageFolder folder;
    std::vector<std::unique_ptr<SimProcess>> boards;
    std::vector<std::string> args{"run", "-j",     "2", "--logs", (folder.path() / "logs").string(),
                                  "-e",  "version"};
    for (const char* address : {"127.0.0.6", "127.0.0.7", "127.0.0.8", "127.0.0.9"}) {
        boards.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--bind", address}));
        args.push_back(target(address, *boards.back()));
    }
    e2e::RunResult run = run_fleet(args);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    int running = 0;
    int most = 0;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        running += line.ends_with("version: started") - line.ends_with(": passed, all steps done");
        most = std::max(most, running);
    }
    EXPECT_EQ(most, 2) << run.out;
    EXPECT_NE(run.out.find("4 boards: 4 passed, 0 failed."), std::string::npos) << run.out;
}

TEST(FleetCheck, BadRecipesAndTargetsAreRefusedBeforeAnythingIsSent) {
    e2e::ImageFolder folder;
    const std::string short_rom = folder.write("short.hex", std::string(65535, 'x'));
    folder.write("os.bin", "an image");
    SimProcess board({"--bind", "127.0.0.10", "--verbose"});
    const std::string t = target("127.0.0.10", board);
    const std::string missing = (folder.path() / "missing.bin").string();
    const std::string empty = folder.write("empty.txt", "\xEF\xBB\xBF# no board today\n");
    const struct {
        std::string recipe;
        std::vector<std::string> targets;
        std::string error;
    } samples[] = {
        {"erasesys\nfrobnicate\n", {t}, "recipe.txt line 2: unknown command 'frobnicate'"},
        {"updatesys\n", {t}, "recipe.txt line 1: updatesys needs an image file"},
        {"getconfig now\n", {t}, "line 1: getconfig takes no file, but 'now' follows it"},
        {"cyclic_version\n", {t}, "line 1: cyclic_version never ends, so it cannot be a step"},
        {"updatesys missing.bin\n", {t}, "cannot open input file '" + missing + "'."},
        {"updaterom short.hex\n",
         {t},
         "input file '" + short_rom + "' does not have the expected length of 64K."},
        {"# nothing\n", {t}, "recipe.txt: the recipe holds no step"},
        {"updatesys os.bin\n", {t, t}, "is given twice (first target '" + t + "')"},
        {"version\n", {"10.0.0.256:4000"}, "'10.0.0.256' is not an IPv4 address"},
        {"version\n", {"127.0.0.10:0"}, "'0' is not a port from 1 to 65535"},
        {"version\n", {"@" + missing}, "cannot read the target file '" + missing + "'"},
        {"version\n", {"@" + empty}, "the target file '" + empty + "' holds no target"},
        {"version\n",
         {t, "--tool", "no-such-tvflash"},
         "the tool 'no-such-tvflash' is not in PATH"},
    };
    const std::filesystem::path logs = folder.path() / "logs";
    for (const auto& s : samples) {
        std::vector<std::string> args{"run", "--logs", logs.string(),
                                      folder.write("recipe.txt", s.recipe)};
        args.insert(args.end(), s.targets.begin(), s.targets.end());
        e2e::RunResult run = run_fleet(args);
        EXPECT_EQ(run.status, 2) << s.recipe;
        EXPECT_NE(run.err.find(s.error), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(logs)) << s.recipe;
    }
    e2e::RunResult check =
        run_fleet({"check", folder.write("recipe.txt", "updatesys os.bin\n"), t});
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_NE(check.out.find("No problem found; nothing was sent."), std::string::npos);
    EXPECT_EQ(board.stop(SIGTERM).err, "tvflash-sim stopped\n");  // and logged no datagram
}

TEST(FleetRun, BootloaderQuestionIsAnsweredAsToldAndNoUnlessTold) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << "the Windows build asks in a message box; see FleetDialog";
    }
    e2e::ImageFolder folder;
    const std::string rom = folder.write("pgr.hex", e2e::rom_image("PGR/ZE, Rel. B, ROM-Version:"));
    SimProcess board({"--bind", "127.0.0.11"});
    const struct {
        std::vector<std::string> answer;
        std::string row;
    } samples[] = {
        {{}, "1 failed FAILED (bootloader does not fit for the hardware)."},
        {{"--answer", "no"}, "1 failed FAILED (bootloader does not fit for the hardware)."},
        {{"--answer", "yes"}, "1 passed Flash memory update successful."},
    };
    for (const auto& s : samples) {
        std::filesystem::path logs = folder.path() / ("logs" + std::to_string(s.answer.size()));
        std::vector<std::string> args{"run", "--logs", logs.string(), "-e", "updaterom " + rom};
        args.insert(args.end(), s.answer.begin(), s.answer.end());
        args.push_back(target("127.0.0.11", board));
        run_fleet(args);
        EXPECT_EQ(summary_of(logs).back(), target("127.0.0.11", board) + " " + s.row);
    }
}

TEST(FleetWatch, FlashesABoardOnceWhileItStaysAndAgainWhenItComesBack) {
    e2e::ImageFolder folder;
    const std::string image = e2e::pattern_image(8000);
    const std::string path = folder.write("os.bin", image);
    std::uint16_t port = SimProcess({"--bind", "127.0.0.12"}).port();
    const std::string t = "127.0.0.12:" + std::to_string(port);
    auto fleet = start_fleet({"run", "--watch", "--gone", "2", "--logs",
                              (folder.path() / "logs").string(), "-e", "updatesys " + path, t});
    const std::string done = t + ": passed, all steps done";
    auto board =
        std::make_unique<SimProcess>(std::vector<std::string>{"--bind", "127.0.0.12", "--write-dir",
                                                              new_folder(folder, "first")},
                                     port);
    ASSERT_TRUE(wait_for(*fleet, done, 1, 30s)) << fleet->read_for(0ms);
    std::this_thread::sleep_for(4s);  // the board stays: twice the gone time
    board->stop(SIGTERM);
    ASSERT_TRUE(wait_for(*fleet, t + ": board left", 1, 20s));
    board =
        std::make_unique<SimProcess>(std::vector<std::string>{"--bind", "127.0.0.12", "--write-dir",
                                                              new_folder(folder, "second")},
                                     port);
    ASSERT_TRUE(wait_for(*fleet, done, 2, 30s)) << fleet->read_for(0ms);
    // Wine ends a Windows program at SIGTERM, but passes SIGINT on to it as Ctrl-C.
    e2e::RunResult run = fleet->finish(20s, e2e::windows_build() ? SIGINT : SIGTERM);
    EXPECT_TRUE(file_text(folder.path() / "first" / "update-1.bin") == image);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "first" / "update-2.bin"));
    EXPECT_TRUE(file_text(folder.path() / "second" / "update-1.bin") == image);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(without_cr(run.out).find("Boards passed: 2, boards failed: 0."), std::string::npos)
        << run.out;
}

TEST(FleetScan, ListsTheBoardsOfARangeAndAddressesThatAnswerTwice) {
    SimProcess first({"--bind", "127.0.0.17"});
    SimProcess twice({"--bind", "127.0.0.20", "--boards", "2", "--version-text", "Talvium 6.0"},
                     first.port());
    SimProcess last({"--bind", "127.0.0.30", "--board-type", "KRD/4Q"}, first.port());
    const std::string port = first.port_text();
    e2e::RunResult run = run_fleet({"scan", "127.0.0.16/28", port});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "127.0.0.17       Talvium 5.2 on PLN7/ZE (simulated)\n"
              "127.0.0.20       Talvium 6.0  CONFLICT (2 answers)\n"
              "127.0.0.30       Talvium 5.2 on KRD/4Q (simulated)\n");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } samples[] = {
        {{"scan", "127.0.0.40/30", port}, 1, "0 of 2 addresses answered in "},
        {{"scan", "127.0.0.0/19", port}, 2, "a scan covers at most a /20 (4094 addresses)"},
        {{"scan", "127.0.0.16", port}, 2, "'127.0.0.16' is not ADDRESS/BITS"},
        {{"scan", "127.0.0.16/28", "0"}, 2, "'0' is not a port from 1 to 65535"},
    };
    for (const auto& s : samples) {
        e2e::RunResult refused = run_fleet(s.args);
        EXPECT_EQ(refused.status, s.status) << s.args[1];
        EXPECT_NE(refused.err.find(s.err), std::string::npos) << refused.err;
    }
}

TEST(FleetRun, InterruptEndsTheToolsItStartedAndKeepsTheRecord) {
    e2e::ImageFolder folder;
    SimProcess board({"--bind", "127.0.0.31", "--slow-erase", "30"});
    const std::string t = target("127.0.0.31", board);
    const std::filesystem::path logs = folder.path() / "logs";
    auto fleet = start_fleet({"run", "-j", "1", "--logs", logs.string(), "-e", "erasesys", "-e",
                              "getconfig", t, "127.0.0.32:4000"});
    ASSERT_TRUE(wait_for(*fleet, "erasesys: started", 1, 10s));
    std::this_thread::sleep_for(1500ms);
    e2e::RunResult run = fleet->finish(10s, SIGINT);
    EXPECT_EQ(run.status, 1);
    EXPECT_LT(run.seconds, 10);
    EXPECT_EQ(summary_of(logs), (std::vector<std::string>{
                                    "target step status verdict",
                                    t + " 1 interrupted interrupted by the operator",
                                    t + " 2 skipped ",
                                    "127.0.0.32:4000 1 skipped not started: interrupted",
                                    "127.0.0.32:4000 2 skipped not started: interrupted",
                                }));
    std::string transcript = file_text(logs / ("127.0.0.31-" + board.port_text() + ".txt"));
    // tvflash.exe ends itself with status 1 at the Ctrl-Break the fleet sends; where that cannot be
    // sent (Wine), the fleet ends its job with the same status.
    EXPECT_NE(transcript.find(e2e::windows_build() ? "exit status 1 (interrupted)"
                                                   : "ended by signal 15 (interrupted)"),
              std::string::npos)
        << transcript;
}

TEST(FleetRun, ARecordThatCannotBeWrittenWholeEndsWithStatus3AndTooFewFilesWithStatus2) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << "full disks and file limits are POSIX's";
    }
    e2e::ImageFolder folder;
    SimProcess board({"--bind", "127.0.0.13"});
    const std::string t = target("127.0.0.13", board);
    const std::filesystem::path full = folder.path() / "full";
    std::filesystem::create_directories(full);
    std::filesystem::create_symlink("/dev/full", full / "summary.csv");
    const std::string transcript =
        (folder.path() / "small" / ("127.0.0.13-" + board.port_text() + ".txt")).string();
    // A record database that is there, and open (its write-ahead log and shared memory files with
    // it), as the station page would hold it: only the rows of a board need room.
    const std::string db = (folder.path() / "records.db").string();
    ASSERT_EQ(run_fleet({"run", "--db", db, "--logs", (folder.path() / "first").string(), "-e",
                         "version", t})
                  .status,
              0);
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "SELECT count(*) FROM records", nullptr, nullptr, nullptr),
              SQLITE_OK);
    const struct {
        std::vector<std::string> limit;  // prlimit's options
        std::string logs;
        std::string db;
        int status;
        std::string err;
    } samples[] = {
        {{},
         "full",
         "none",
         3,
         "cannot write '" + (full / "summary.csv").string() + "': No space left on device"},
        {{"--fsize=200"}, "small", "none", 3, "cannot write '" + transcript + "': File too large"},
        {{"--fsize=2000"}, "db", db, 3, "cannot write '" + db + "': COMMIT: disk I/O error"},
        {{"--nofile=100"},
         "few",
         "none",
         2,
         "-j 256 needs 832 open files, but this process may open "
         "only 100"},
    };
    for (const auto& s : samples) {
        e2e::ToolCommand fleet =
            e2e::fleet_command({"run", "-j", "256", "--logs", (folder.path() / s.logs).string(),
                                "--db", s.db, "-e", "getconfig", t});
        std::vector<std::string> args = s.limit;
        args.insert(args.end(), {"--", fleet.program});
        args.insert(args.end(), fleet.args.begin(), fleet.args.end());
        e2e::RunResult run = e2e::run_process("prlimit", args, "", 60s);
        EXPECT_EQ(run.status, s.status) << s.logs << run.out << run.err;
        EXPECT_NE(run.err.find(s.err), std::string::npos) << run.err;
        if (s.status == 3) {
            EXPECT_NE(run.out.find("1 board: 1 passed, 0 failed.\nRecord: " +
                                   (folder.path() / s.logs).string() +
                                   " (incomplete: see the error above)\n"),
                      std::string::npos)
                << run.out;
        }
    }
    sqlite3_close(reader);
    EXPECT_EQ(integrity_check(db), "ok");
}

TEST(FleetWatch, ASilenceShorterThanGoneIsTheSameBoardALongerOneANewBoard) {
    e2e::ImageFolder folder;
    SimProcess board({"--bind", "127.0.0.14"});
    const std::string t = target("127.0.0.14", board);
    auto fleet = start_fleet({"run", "--watch", "--gone", "3", "--logs",
                              (folder.path() / "logs").string(), "-e", "version", t});
    const std::string done = t + ": passed, all steps done";
    ASSERT_TRUE(wait_for(*fleet, done, 1, 30s)) << fleet->read_for(0ms);
    board.send_signal(SIGSTOP);  // a restart shorter than the gone time
    std::this_thread::sleep_for(1s);
    board.send_signal(SIGCONT);
    std::this_thread::sleep_for(4s);
    board.send_signal(SIGSTOP);  // one longer: the address stays silent past the gone time
    EXPECT_TRUE(wait_for(*fleet, t + ": board left after ", 1, 20s)) << fleet->read_for(0ms);
    std::this_thread::sleep_for(1s);
    board.send_signal(SIGCONT);
    ASSERT_TRUE(wait_for(*fleet, done, 2, 30s)) << fleet->read_for(0ms);
    e2e::RunResult run = fleet->finish(20s, e2e::windows_build() ? SIGINT : SIGTERM);
    const std::string out = without_cr(run.out);
    // The first board's silence counts from the start of watching; the second from the last
    // answer, so the auditor sees the restart that was taken for a new board.
    const std::string found = t + ": board found after ";
    const std::size_t first = out.find(found);
    const std::size_t again = out.find(found, first + 1);
    const std::size_t left = out.find(t + ": board left after ");
    ASSERT_TRUE(first < left && left < again && again != std::string::npos) << out;
    EXPECT_GE(std::stod(out.substr(left + found.size() - 1)), 3.0) << out;
    EXPECT_GE(std::stod(out.substr(again + found.size())), 4.0) << out;
    EXPECT_EQ(out.find(found, again + 1), std::string::npos) << out;
    EXPECT_NE(out.find("Boards passed: 2, boards failed: 0."), std::string::npos) << out;
}

// A board on 127.0.0.50 that answers each probe three times: from its own address and port, from
// 127.0.0.1 (outside the range scanned) with the same port, and from its address with another
// port. Only the first answer is an answer of the address and port asked.
class ThreeWayBoard {
  public:
    ThreeWayBoard() {
        own_ = bound_socket("127.0.0.50", 0);
        port_ = port_of(own_);
        outside_ = bound_socket("127.0.0.1", port_);
        other_port_ = bound_socket("127.0.0.50", 0);
        thread_ = std::thread([this] { serve(); });
    }
    ~ThreeWayBoard() {
        stop_ = true;
        thread_.join();
        for (int fd : {own_, outside_, other_port_}) {
            close(fd);
        }
    }
    std::uint16_t port() const { return port_; }

  private:
    static int bound_socket(const char* address, std::uint16_t port) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        inet_pton(AF_INET, address, &local.sin_addr);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0) << address;
        return fd;
    }
    static std::uint16_t port_of(int fd) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }
    void serve() {
        const std::string answer = "<VERSION> Talvium 5.2 on PLN7/ZE";
        for (int polls = 0; !stop_ && polls < 600; ++polls) {
            pollfd ready{own_, POLLIN, 0};
            if (poll(&ready, 1, 50) <= 0) {
                continue;
            }
            char buffer[256];
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            recvfrom(own_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &length);
            for (int fd : {own_, outside_, other_port_}) {
                sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                       length);
            }
        }
    }
    int own_ = -1;
    int outside_ = -1;
    int other_port_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(FleetScan, OnlyAnswersFromTheAddressesAndThePortAskedCount) {
    ThreeWayBoard board;
    e2e::RunResult run = run_fleet({"scan", "127.0.0.48/29", std::to_string(board.port())});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "127.0.0.50       Talvium 5.2 on PLN7/ZE\n") << run.err;
}

// The JSON Lines of a run, each line parsed on its own.
std::vector<nlohmann::json> json_lines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

// The step_finished objects of a target: "try status error_class" each.
std::vector<std::string> tries_of(const std::vector<nlohmann::json>& lines, const std::string& t) {
    std::vector<std::string> tries;
    for (const nlohmann::json& line : lines) {
        if (line["event"] == "step_finished" && line["target"] == t) {
            tries.push_back(std::to_string(line["try"].get<int>()) + " " +
                            line["status"].get<std::string>() + " " +
                            line["error_class"].get<std::string>());
        }
    }
    return tries;
}

TEST(FleetJson, ARunsEventsAndTriesAgainOnlyWhatANewTryCanMend) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << "the fake tool is a shell script";
    }
    e2e::ImageFolder folder;
    // A tool that fails the checksum twice at 127.0.0.2 and then passes, is refused at 127.0.0.3,
    // and fails the checksum every time elsewhere.
    const std::string tool = folder.write(
        "fake-tvflash",
        "#!/bin/sh\ncount=\"$0.$1\"\nn=$(($(cat \"$count\" 2>/dev/null || echo 0) + 1))\n"
        "echo $n > \"$count\"\ncase \"$1:$n\" in\n"
        "127.0.0.2:3) echo 'Flash memory update successful.'; exit 0;;\n"
        "127.0.0.3:*) echo 'Uploading...FAILED (size of image file too large).'; exit 1;;\n"
        "*) echo 'File transfer consistency check...FAILED (checksum error).'; exit 1;;\nesac\n");
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    const std::string image = folder.write("os.bin", "an image");
    e2e::RunResult run =
        run_fleet({"run", "--json", "--retries", "2", "--tool", tool, "--station", "line-3",
                   "--logs", (folder.path() / "logs").string(), "-e", "updatesys " + image,
                   "127.0.0.2:1", "127.0.0.3:1", "127.0.0.4:1"});
    EXPECT_EQ(run.status, 1) << run.err;
    std::vector<nlohmann::json> lines = json_lines(run.out);
    ASSERT_GE(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines.front()["event"], "run_started");
    EXPECT_EQ(lines.front()["schema"], 1);
    EXPECT_EQ(lines.front()["station"], "line-3");
    EXPECT_EQ(lines.back()["event"], "run_finished");
    EXPECT_EQ(lines.back()["exit_status"], 1);
    EXPECT_EQ(lines.back()["passed"], 1);
    EXPECT_EQ(tries_of(lines, "127.0.0.2:1"),
              (std::vector<std::string>{"1 failed checksum", "2 failed checksum", "3 passed "}));
    EXPECT_EQ(tries_of(lines, "127.0.0.3:1"), (std::vector<std::string>{"1 failed refused"}));
    EXPECT_EQ(
        tries_of(lines, "127.0.0.4:1"),
        (std::vector<std::string>{"1 failed checksum", "2 failed checksum", "3 failed checksum"}));
    for (const nlohmann::json& line : lines) {
        if (line["event"] == "step_finished") {
            // sha256sum of "an image".
            EXPECT_EQ(line["image_sha256"],
                      "a5df3fde7b200c3fa2791144c7e05c5c2bced4c6ad863d3a4cf76c972c1712f9")
                << line;
        }
    }
    // summary.csv keeps a row per step: the last try's.
    EXPECT_EQ(summary_of(folder.path() / "logs"),
              (std::vector<std::string>{"target step status verdict",
                                        "127.0.0.2:1 1 passed Flash memory update successful.",
                                        "127.0.0.3:1 1 failed FAILED (size of image file too "
                                        "large).",
                                        "127.0.0.4:1 1 failed FAILED (checksum error)."}));
}

TEST(FleetJson, AStationsEventsParseLineByLine) {
    e2e::ImageFolder folder;
    SimProcess board({"--bind", "127.0.0.15"});
    const std::string t = target("127.0.0.15", board);
    auto fleet = start_fleet({"run", "--watch", "--json", "--logs",
                              (folder.path() / "logs").string(), "-e", "getconfig", t});
    ASSERT_TRUE(wait_for(*fleet, "\"event\":\"board_finished\"", 1, 30s)) << fleet->read_for(0ms);
    e2e::RunResult run = fleet->finish(20s, e2e::windows_build() ? SIGINT : SIGTERM);
    std::vector<nlohmann::json> lines = json_lines(without_cr(run.out));
    std::vector<std::string> events;
    for (const nlohmann::json& line : lines) {
        if (line["event"] != "step_progress") {
            events.push_back(line["event"]);
        }
    }
    EXPECT_EQ(events, (std::vector<std::string>{"run_started", "board_found", "board_started",
                                                "step_started", "step_finished", "board_finished",
                                                "run_finished"}));
    EXPECT_EQ(lines[1]["board_version"], "Talvium 5.2 on PLN7/ZE (simulated)");
    EXPECT_GE(lines[1]["silence"].get<double>(), 0.0);
    EXPECT_EQ(lines.back()["exit_status"], 0);
}

// A port of 127.0.0.1 that nothing listens on now.
int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    close(fd);
    return ntohs(local.sin_port);
}

// The page's event stream read until it holds until, the server ends it, or timeout passes:
// its messages, each as its fields ("event", "id", "data").
std::vector<std::map<std::string, std::string>> read_events(int port, const std::string& until,
                                                            std::chrono::seconds timeout) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(timeout);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    client.Get("/api/events", [&](const char* data, std::size_t length) {
        text.append(data, length);
        return text.find(until) == std::string::npos && std::chrono::steady_clock::now() < deadline;
    });
    std::vector<std::map<std::string, std::string>> messages;
    for (std::size_t start = 0, end; (end = text.find("\n\n", start)) != std::string::npos;
         start = end + 2) {
        std::map<std::string, std::string> fields;
        std::istringstream lines(text.substr(start, end - start));
        for (std::string line; std::getline(lines, line);) {
            fields[line.substr(0, line.find(": "))] = line.substr(line.find(": ") + 2);
        }
        messages.push_back(fields);
    }
    return messages;
}

TEST(FleetPage, TheStreamCarriesTheJsonObjectsAndThePageIsReadOnly) {
    e2e::ImageFolder folder;
    SimProcess slow({"--bind", "127.0.0.100", "--slow-erase", "2"});
    SimProcess busy({"--bind", "127.0.0.101", "--boards", "2"});
    const std::string port = std::to_string(free_port());
    auto fleet = start_fleet(
        {"run", "--json", "--serve", port, "--logs", (folder.path() / "logs").string(), "-e",
         "erasesys", "-e", "getconfig", target("127.0.0.100", slow), target("127.0.0.101", busy)});
    httplib::Client client("127.0.0.1", std::stoi(port));
    httplib::Result state = client.Get("/api/state");
    for (int tries = 0; tries < 300 && !state; ++tries) {
        std::this_thread::sleep_for(100ms);
        state = client.Get("/api/state");
    }
    ASSERT_TRUE(state) << fleet->read_for(0ms);
    EXPECT_EQ(nlohmann::json::parse(state->body)["targets"][1]["target"],
              target("127.0.0.101", busy));
    const struct {
        std::string method;
        std::string path;
        int status;
        std::string type;
    } samples[] = {
        {"GET", "/", 200, "text/html; charset=utf-8"},
        {"GET", "/live.js", 200, "text/javascript; charset=utf-8"},
        {"GET", "/api/state", 200, "application/json"},
        {"POST", "/", 405, "text/plain; charset=utf-8"},
        {"PUT", "/api/state", 405, "text/plain; charset=utf-8"},
        {"DELETE", "/api/events", 405, "text/plain; charset=utf-8"},
        {"GET", "/index.html/../../etc/passwd", 404, "text/plain; charset=utf-8"},
        {"GET", "/%2e%2e/%2e%2e/etc/passwd", 404, "text/plain; charset=utf-8"},
    };
    for (const auto& s : samples) {
        httplib::Request request;
        request.method = s.method;
        request.path = s.path;
        httplib::Result result = client.send(request);
        ASSERT_TRUE(result) << s.path;
        EXPECT_EQ(result->status, s.status) << s.method << " " << s.path;
        EXPECT_EQ(result->get_header_value("Content-Type"), s.type) << s.path;
        EXPECT_EQ(result->get_header_value("X-Content-Type-Options"), "nosniff") << s.path;
        EXPECT_TRUE(result->get_header_value("Content-Security-Policy")
                        .starts_with("default-src 'none'; script-src 'self'"))
            << s.path;
        EXPECT_EQ(result->get_header_value("Allow"), s.status == 405 ? "GET, HEAD" : "");
    }
    // A second run cannot serve on the same port: it says so, and starts nothing.
    e2e::RunResult refused = run_fleet({"run", "--serve", "127.0.0.1:" + port, "--db", "none",
                                        "--logs", (folder.path() / "refused").string(), "-e",
                                        "version", target("127.0.0.100", slow)});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("tvflash-fleet: cannot serve the page on 127.0.0.1:" + port),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "refused"));

    // The stream: a snapshot, then every --json object under its number, until the end.
    auto messages = read_events(std::stoi(port), "\"event\":\"run_finished\"", 60s);
    e2e::RunResult run = fleet->finish(30s);
    EXPECT_EQ(run.status, 1) << run.err;
    const std::vector<nlohmann::json> lines = json_lines(without_cr(run.out));
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0]["event"], "snapshot");
    std::size_t id = nlohmann::json::parse(messages[0]["data"])["event"].get<std::size_t>();
    for (std::size_t i = 1; i < messages.size(); ++i) {
        ASSERT_EQ(messages[i]["id"], std::to_string(++id));
        ASSERT_LE(id, lines.size());
        EXPECT_EQ(nlohmann::json::parse(messages[i]["data"]), lines[id - 1]);
    }
    EXPECT_EQ(id, lines.size()) << "the stream ends with the run's last object";
    EXPECT_EQ(nlohmann::json::parse(messages.back()["data"])["event"], "run_finished");
}

namespace {

std::string sha256_of(const std::string& path) {
    return e2e::run_process("sha256sum", {path}, "", 10s).out.substr(0, 64);
}

// The rows records prints as JSON, in its order (newest last).
std::vector<nlohmann::json> records_json(const std::string& db,
                                         std::vector<std::string> filters = {}) {
    std::vector<std::string> args{"records", "--db", db, "--format", "json"};
    args.insert(args.end(), filters.begin(), filters.end());
    e2e::RunResult run = run_fleet(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return json_lines(run.out);
}

// A CSV field as records writes the JSON field: nulls empty, seconds to the millisecond.
std::string csv_text(const std::string& column, const nlohmann::json& value) {
    if (value.is_null()) {
        return "";
    }
    if (column == "seconds") {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", value.get<double>());
        return text;
    }
    std::string text = value.is_string() ? value.get<std::string>() : value.dump();
    std::erase(text, '\r');  // as run_fleet does to the CSV's
    return text;
}

std::string status_of(const nlohmann::json& row) {
    return row["target"].get<std::string>() + " " + std::to_string(row["step"].get<int>()) + " " +
           row["status"].get<std::string>() + " " + row["error_class"].get<std::string>();
}

}  // namespace

TEST(FleetRecords, EveryStepIsARowAndReadsBackAsJsonAndCsvFieldByField) {
    e2e::ImageFolder folder;
    const std::string rom =
        folder.write("eboot.hex", e2e::rom_image("PLN7/ZE, Rel. B, ROM-Version: 3.1"));
    const std::string recipe = folder.write("recipe.txt", "updaterom eboot.hex\ngetconfig\n");
    SimProcess good({"--bind", "127.0.1.2"});
    SimProcess other({"--bind", "127.0.1.3", "--board-type", "PGR/ZE"});
    const std::string tg = target("127.0.1.2", good);
    const std::string to = target("127.0.1.3", other);
    const std::string db = (folder.path() / "station" / "records.db").string();
    e2e::RunResult run =
        run_fleet({"run", "--json", "--db", db, "--station", "line-3", "--operator", "ana",
                   "--logs", (folder.path() / "logs").string(), recipe, tg, to});
    EXPECT_EQ(run.status, 1) << run.err;
    // The database holds what the stream's step_finished objects told, field by field.
    std::vector<nlohmann::json> told;
    for (nlohmann::json line : json_lines(run.out)) {
        if (line["event"] == "step_finished") {
            line.erase("event");
            line.erase("time");
            told.push_back(line);
        }
    }
    std::vector<nlohmann::json> rows = records_json(db);
    // CSV: the columns of the JSON objects, in their order, and each row's fields as text.
    e2e::RunResult csv = run_fleet({"records", "--db", db, "--format", "csv"});
    EXPECT_EQ(csv.status, 0) << csv.err;
    std::ofstream(folder.path() / "records.csv", std::ios::binary) << csv.out;
    std::vector<std::vector<std::string>> table = read_csv(folder.path() / "records.csv");
    const std::string json = run_fleet({"records", "--db", db, "--format", "json"}).out;
    const auto first = nlohmann::ordered_json::parse(json.substr(0, json.find('\n')));
    std::vector<std::string> columns;
    for (const auto& field : first.items()) {
        columns.push_back(field.key());
    }
    ASSERT_EQ(table.size(), rows.size() + 1);
    EXPECT_EQ(table[0], columns);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            EXPECT_EQ(table[r + 1].at(c), csv_text(columns[c], rows[r][columns[c]]))
                << columns[c] << " of row " << r;
        }
    }
    const auto by_target_and_step = [](const nlohmann::json& a, const nlohmann::json& b) {
        return status_of(a) < status_of(b);
    };
    std::sort(told.begin(), told.end(), by_target_and_step);
    std::sort(rows.begin(), rows.end(), by_target_and_step);
    EXPECT_EQ(rows, told);
    std::vector<std::string> statuses;
    for (const nlohmann::json& row : rows) {
        statuses.push_back(status_of(row));
        EXPECT_EQ(row["station"], "line-3");
        EXPECT_EQ(row["operator"], "ana");
        EXPECT_EQ(row["run"], rows.front()["run"]);
        EXPECT_EQ(row["recipe_sha256"], sha256_of(recipe));
        EXPECT_EQ(row["image_sha256"], row["step"] == 1 ? sha256_of(rom) : "");
        EXPECT_EQ(row["image_bytes"], row["step"] == 1 ? 65536 : 0);
        EXPECT_EQ(row["try"], 1);
    }
    EXPECT_EQ(statuses,
              (std::vector<std::string>{tg + " 1 passed ", tg + " 2 passed ",
                                        to + " 1 failed bootloader_mismatch", to + " 2 skipped "}));
    EXPECT_EQ(records_json(db, {"--target", to}).size(), 2u);
    EXPECT_EQ(records_json(db, {"--since", "2h"}).size(), 4u);
    EXPECT_EQ(records_json(db, {"--since", "2099-01-01 00:00"}).size(), 0u);
}

TEST(FleetRecords, AFleetKilledMidRunLeavesASoundDatabaseWithEveryBoardThatEnded) {
    e2e::ImageFolder folder;
    SimProcess quick({"--bind", "127.0.1.4"});
    SimProcess also_quick({"--bind", "127.0.1.5"});
    SimProcess slow({"--bind", "127.0.1.6", "--slow-erase", "60"});
    const std::string db = (folder.path() / "records.db").string();
    auto fleet = start_fleet({"run", "--db", db, "--logs", (folder.path() / "logs").string(), "-e",
                              "erasesys", target("127.0.1.4", quick),
                              target("127.0.1.5", also_quick), target("127.0.1.6", slow)});
    ASSERT_TRUE(wait_for(*fleet, ": passed, all steps done", 2, 60s)) << fleet->read_for(0ms);
    fleet->send_signal(SIGKILL);
    fleet->finish(20s);
    EXPECT_EQ(integrity_check(db), "ok");
    std::vector<std::string> statuses;
    for (const nlohmann::json& row : records_json(db)) {
        statuses.push_back(status_of(row));
    }
    std::sort(statuses.begin(), statuses.end());
    EXPECT_EQ(statuses, (std::vector<std::string>{target("127.0.1.4", quick) + " 1 passed ",
                                                  target("127.0.1.5", also_quick) + " 1 passed "}));
}

TEST(FleetShare, FourStationsWriteEveryRowOnceToOneSharedDatabase) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << "the Windows build has no shared database (docs/windows.md)";
    }
    pgtest::PostgresServer server;
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;
    e2e::ImageFolder folder;
    std::vector<std::unique_ptr<SimProcess>> boards;
    std::vector<std::unique_ptr<e2e::ChildProcess>> stations;
    for (int station = 0; station < 4; ++station) {
        const std::string name = "station-" + std::to_string(station + 1);
        const std::string base = (folder.path() / name).string();
        std::vector<std::string> args{"run", "-j", "16", "--station", name, "-e", "version"};
        args.insert(args.end(), {"--db", base + ".db", "--share", server.url(), "--logs", base});
        for (int board = 0; board < 16; ++board) {
            const std::string address = "127.0.2." + std::to_string(2 + station * 16 + board);
            boards.push_back(
                std::make_unique<SimProcess>(std::vector<std::string>{"--bind", address}));
            args.push_back(target(address, *boards.back()));
        }
        stations.push_back(start_fleet(args));
    }
    for (auto& station : stations) {
        e2e::RunResult run = station->finish(120s);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
    }
    // Every row once: 64 rows, 64 keys, four stations' runs, every board passed.
    EXPECT_EQ(server.query("SELECT count(*) || ' ' || count(DISTINCT (run, target, attempt, step, "
                           "\"try\")) || ' ' || count(DISTINCT (station, run)) || ' ' || "
                           "count(*) FILTER (WHERE status = 'passed') FROM tvflash_records"),
              "64 64 4 64");
    e2e::RunResult push =
        run_fleet({"records", "--push", "--db", (folder.path() / "station-1.db").string(),
                   "--share", server.url()});
    EXPECT_EQ(push.out, "0 rows copied to " + server.url() + "\n") << push.err;
}

TEST(FleetShare, RowsMadeWhileTheSharedDatabaseIsDownArriveOnceWithPush) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << "the Windows build has no shared database (docs/windows.md)";
    }
    pgtest::PostgresServer server;  // made, but not started yet
    e2e::ImageFolder folder;
    SimProcess a({"--bind", "127.0.1.7"});
    SimProcess b({"--bind", "127.0.1.8"});
    const std::string db = (folder.path() / "records.db").string();
    e2e::RunResult run = run_fleet({"run", "--db", db, "--share", server.url(), "--logs",
                                    (folder.path() / "logs").string(), "-e", "version", "-e",
                                    "getconfig", target("127.0.1.7", a), target("127.0.1.8", b)});
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    const std::string said = "cannot copy to the shared database " + server.url() + ": ";
    EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(said, run.err.find(said) + 1), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("2 boards: 2 passed, 0 failed."), std::string::npos) << run.out;

    std::string error;
    ASSERT_TRUE(server.start(error)) << error;
    const std::vector<std::string> push{"records", "--push", "--db", db, "--share", server.url()};
    EXPECT_EQ(run_fleet(push).out, "4 rows copied to " + server.url() + "\n");
    EXPECT_EQ(run_fleet(push).out, "0 rows copied to " + server.url() + "\n");
    // Marks lost (a station that died between the copy and its mark): the rows go again, and the
    // shared database keeps one of each.
    EXPECT_EQ(sqlite_exec(db, "UPDATE shared SET up_to = 0"), "");
    e2e::RunResult again = run_fleet(push);
    EXPECT_EQ(again.out, "0 rows copied to " + server.url() + " (4 there already)\n") << again.err;
    EXPECT_EQ(server.query("SELECT count(*) || ' ' || count(DISTINCT (target, step)) FROM "
                           "tvflash_records"),
              "4 4");
}
