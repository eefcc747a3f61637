// tvflash-fleet, its tools and the signals and descriptors between them, with a fake tool in
// place of tvflash (--tool): a shell script that notes its process id and its parent's in the
// test's folder and then sleeps, lists its descriptors or exits, and fleet_fake_tool.exe for the
// Windows build, whose processes are found by their environment. Every such process that still
// runs when a test ends is killed by its id.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "e2e/tool.h"
#include "e2e/upload_board.h"

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<pid_t> ids_in(const std::filesystem::path& path) {
    std::vector<pid_t> ids;
    std::ifstream in(path);
    for (pid_t id = 0; in >> id;) {
        ids.push_back(id);
    }
    return ids;
}

// True while the process runs; one that has ended but that nobody reaped (a zombie) does not.
bool running(pid_t id) {
    std::ifstream stat("/proc/" + std::to_string(id) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return !std::filesystem::exists("/proc/self") && kill(id, 0) == 0;
    }
    std::size_t name_end = line.rfind(')');
    return name_end != std::string::npos && line.substr(name_end, 4) != ") Z ";
}

// Waits at most timeout for every process of ids to end; true when they have.
bool all_ended(const std::vector<pid_t>& ids, std::chrono::milliseconds timeout) {
    for (const Clock::time_point deadline = Clock::now() + timeout;;) {
        if (std::none_of(ids.begin(), ids.end(), running)) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
}

std::vector<std::string> split_at_nul(const std::string& text) {
    std::vector<std::string> words;
    for (std::size_t from = 0; from < text.size();) {
        std::size_t end = std::min(text.find('\0', from), text.size());
        words.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return words;
}

// The processes of fleet_fake_tool.exe under Wine whose environment holds entry. The Windows
// process id that the tool can tell is not the Unix one, and Wine opens files in its server, so
// that /proc/self would name the server's.
std::vector<pid_t> windows_fake_tools(const std::string& entry) {
    std::vector<pid_t> ids;
    std::error_code failure;
    for (const auto& process : std::filesystem::directory_iterator("/proc", failure)) {
        const std::string name = process.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        // The program, not an argument: the fleet's --tool names the fake tool too.
        std::vector<std::string> words = split_at_nul(file_text(process.path() / "cmdline"));
        if (words.empty() || !words.front().ends_with("fleet_fake_tool.exe")) {
            continue;
        }
        std::vector<std::string> environment = split_at_nul(file_text(process.path() / "environ"));
        if (std::find(environment.begin(), environment.end(), entry) != environment.end()) {
            ids.push_back(std::stoi(name));
        }
    }
    return ids;
}

std::string windows_path(const std::filesystem::path& path) {
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// The test's folder, where the fake tools note their ids in "pids" and their parents' in
// "parents"; every process noted there, or found as a fake tool of this folder's, that still
// runs is killed when it goes.
class ToolFolder {
  public:
    ~ToolFolder() {
        std::vector<pid_t> ids = ids_in(path() / "parents");
        for (pid_t id : e2e::windows_build() ? windows_fake_tools(windows_entry()) : pids()) {
            ids.push_back(id);
        }
        for (pid_t id : ids) {
            if (running(id)) {
                kill(id, SIGKILL);
            }
        }
    }

    const std::filesystem::path& path() const { return folder_.path(); }
    std::string logs() const { return (path() / "record").string(); }
    std::vector<pid_t> pids() const { return ids_in(path() / "pids"); }
    // The environment's entry that makes fleet_fake_tool.exe work in mode in this folder.
    std::string windows_entry(const std::string& mode = "") const {
        return "TVFLASH_FAKE_TOOL=" + (mode.empty() ? mode_ : mode) + " " + windows_path(path());
    }
    void set_mode(const std::string& mode) { mode_ = mode; }

    // A fake tool: a shell script that runs in this folder, notes the ids, then runs body.
    std::string tool(const std::string& body) const {
        std::string path = folder_.write(
            "tool.sh", "#!/bin/sh\ncd '" + folder_.path().string() +
                           "' || exit 9\necho $$ >> pids\necho $PPID >> parents\n" + body);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }

    // Waits at most timeout for count ids in pids; true when they are there.
    bool wait_for_tools(std::size_t count, std::chrono::seconds timeout) const {
        for (const Clock::time_point deadline = Clock::now() + timeout; Clock::now() < deadline;
             std::this_thread::sleep_for(50ms)) {
            if (pids().size() >= count) {
                return true;
            }
        }
        return false;
    }

  private:
    e2e::ImageFolder folder_;
    std::string mode_;
};

// The fleet under test with args, started through the words of prefix (env, say).
std::unique_ptr<e2e::ChildProcess> start_fleet(std::vector<std::string> prefix,
                                               const std::vector<std::string>& args) {
    e2e::ToolCommand fleet = e2e::fleet_command(args);
    prefix.push_back(fleet.program);
    prefix.insert(prefix.end(), fleet.args.begin(), fleet.args.end());
    return std::make_unique<e2e::ChildProcess>(
        prefix.front(), std::vector<std::string>(prefix.begin() + 1, prefix.end()));
}

// The fleet's arguments for one step on each of targets, with the fake tool and -j jobs.
std::vector<std::string> run_args(const ToolFolder& folder, const std::string& tool, int jobs,
                                  const std::vector<std::string>& targets) {
    std::vector<std::string> args{"run",         "-j", std::to_string(jobs),
                                  "--tool",      tool, "--logs",
                                  folder.logs(), "-e", "version"};
    args.insert(args.end(), targets.begin(), targets.end());
    return args;
}

const std::vector<std::string> kTwoTargets{"127.0.0.2:4000", "127.0.0.3:4000"};

// The fleet of the Windows build with fleet_fake_tool.exe in mode (see fake_tool_win32.cpp).
std::unique_ptr<e2e::ChildProcess> start_windows_fleet(ToolFolder& folder, const std::string& mode,
                                                       int jobs,
                                                       const std::vector<std::string>& targets) {
    folder.set_mode(mode);
    std::filesystem::path fleet(e2e::fleet_command({}).args.back());
    std::string tool = windows_path(fleet.parent_path() / "tests" / "fleet_fake_tool.exe");
    return start_fleet({"env", "-u", "DISPLAY", folder.windows_entry()},
                       run_args(folder, tool, jobs, targets));
}

// Wine (8.0) cannot send Ctrl-Break to a process group: GenerateConsoleCtrlEvent fails with
// error 6 there, with a console window or without, and the fleet ends the tool at once instead.
bool wine_without_ctrl_break() {
    return e2e::command_words("TVFLASH_TOOL", "").front() == "wine";
}

}  // namespace

TEST(FleetSignals, ToolsEndWithTheFleetAndItsInterruptReachesTheirChildren) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << "see FleetSignalsWindows";
    }
    const struct {
        const char* what;
        std::string body;
        int signal;  // to the fleet, once every tool runs
        std::size_t ids;
    } samples[] = {
        {"the fleet killed", "exec sleep 30\n", SIGKILL, 2},
        {"a wrapper that does not exec, Ctrl-C", "sleep 30 &\necho $! >> pids\nwait\n", SIGINT, 4},
    };
    for (const auto& s : samples) {
        ToolFolder folder;
        auto fleet = start_fleet({}, run_args(folder, folder.tool(s.body), 2, kTwoTargets));
        ASSERT_TRUE(folder.wait_for_tools(s.ids, 10s)) << s.what;
        fleet->finish(20s, s.signal);
        EXPECT_TRUE(all_ended(folder.pids(), 5s)) << s.what;
    }
}

TEST(FleetSignals, IgnoredSignalsAndAClosedOutputLeaveTheRunGoing) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << "POSIX signals";
    }
    const struct {
        const char* what;
        std::vector<std::string> prefix;
        std::string body;
        int signal;  // to the fleet and each tool's group, once every tool runs
    } samples[] = {
        {"nohup", {"env", "--ignore-signal=HUP"}, "sleep 2\n", SIGHUP},
        {"SIGCHLD ignored", {"env", "--ignore-signal=CHLD"}, "exit 0\n", 0},
        {"| head -n 1", {"sh", "-c", "\"$@\" | head -n 1", "sh"}, "sleep 0.5\n", 0},
    };
    for (const auto& s : samples) {
        ToolFolder folder;
        auto fleet = start_fleet(s.prefix, run_args(folder, folder.tool(s.body), 2, kTwoTargets));
        if (s.signal != 0) {
            ASSERT_TRUE(folder.wait_for_tools(2, 10s)) << s.what;
            fleet->send_signal(s.signal);
            for (pid_t id : folder.pids()) {
                kill(-id, s.signal);
            }
        }
        e2e::RunResult run = fleet->finish(30s);
        EXPECT_EQ(run.status, 0) << s.what << run.out << run.err;
        std::string summary = file_text(std::filesystem::path(folder.logs()) / "summary.csv");
        EXPECT_NE(summary.find("127.0.0.2:4000,1,version,,passed"), std::string::npos) << summary;
        EXPECT_NE(summary.find("127.0.0.3:4000,1,version,,passed"), std::string::npos) << summary;
    }
}

TEST(FleetSignals, ToolHoldsNoFileOfTheRecord) {
    if (e2e::windows_build() || !std::filesystem::exists("/proc/self/fd")) {
        GTEST_SKIP() << "lists the descriptors in /proc; see FleetSignalsWindows";
    }
    ToolFolder folder;
    const std::string tool = folder.tool("ls -l /proc/$$/fd > fds-$2\n");
    e2e::RunResult run =
        start_fleet(
            {}, run_args(folder, tool, 1, {"127.0.0.2:4001", "127.0.0.2:4002", "127.0.0.2:4003"}))
            ->finish(30s);
    EXPECT_EQ(run.status, 0) << run.out;
    // The third board's tool comes after two transcripts and summary.csv were opened.
    for (const char* name : {"fds-4001", "fds-4003"}) {
        std::string fds = file_text(folder.path() / name);
        EXPECT_NE(fds.find(" 2 -> "), std::string::npos) << fds;
        EXPECT_EQ(fds.find(folder.logs()), std::string::npos) << fds;
    }
}

// The fleet sees the interrupt only after it has seen the tool's end.
TEST(FleetSignals, InterruptAsAToolEndsStartsNoOtherBoard) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << "POSIX signals";
    }
    ToolFolder folder;
    const std::string tool = folder.tool("echo working\nkill -INT $PPID\nexit 0\n");
    e2e::RunResult run = start_fleet({}, run_args(folder, tool, 1, kTwoTargets))->finish(30s);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(folder.pids().size(), 1u) << run.out;
    std::string summary = file_text(std::filesystem::path(folder.logs()) / "summary.csv");
    EXPECT_NE(summary.find("127.0.0.3:4000,1,version,,skipped,not started: interrupted"),
              std::string::npos)
        << summary;
}

TEST(FleetSignalsWindows, ToolsEndWithTheKilledFleet) {
    if (!e2e::windows_build()) {
        GTEST_SKIP() << "the Windows build";
    }
    ToolFolder folder;
    auto fleet = start_windows_fleet(folder, "sleep", 2, kTwoTargets);
    ASSERT_TRUE(folder.wait_for_tools(2, 60s));
    std::vector<pid_t> tools = windows_fake_tools(folder.windows_entry());
    ASSERT_EQ(tools.size(), 2u);
    fleet->finish(20s, SIGKILL);
    EXPECT_TRUE(all_ended(tools, 10s));
}

TEST(FleetSignalsWindows, ToolHoldsNoHandleOfTheRecord) {
    if (!e2e::windows_build()) {
        GTEST_SKIP() << "the Windows build";
    }
    ToolFolder folder;
    e2e::RunResult run = start_windows_fleet(folder, "handles", 1,
                                             {"127.0.0.2:4001", "127.0.0.2:4002", "127.0.0.2:4003"})
                             ->finish(60s);
    EXPECT_EQ(run.status, 0) << run.out;
    // The third board's tool comes after two transcripts and summary.csv were opened.
    std::string handles = file_text(folder.path() / "handles-4003");
    EXPECT_NE(handles.find("fleet_fake_tool.exe"), std::string::npos) << handles;
    EXPECT_EQ(handles.find("record"), std::string::npos) << handles;
}

TEST(FleetSignalsWindows, InterruptedToolGetsCtrlBreakBeforeItIsKilled) {
    if (!e2e::windows_build()) {
        GTEST_SKIP() << "the Windows build";
    }
    ToolFolder folder;
    auto fleet = start_windows_fleet(folder, "break", 1, {"127.0.0.2:4000"});
    ASSERT_TRUE(folder.wait_for_tools(1, 60s));
    // Wine passes SIGINT on to a Windows program as Ctrl-C.
    e2e::RunResult run = fleet->finish(30s, SIGINT);
    EXPECT_EQ(run.status, 1);
    std::string transcript = file_text(std::filesystem::path(folder.logs()) / "127.0.0.2-4000.txt");
    const char* how =
        wine_without_ctrl_break() ? "exit status 1 (interrupted)" : "exit status 7 (interrupted)";
    EXPECT_NE(transcript.find(how), std::string::npos) << transcript;
}
