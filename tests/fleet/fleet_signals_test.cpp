// tvflash-fleet, its tools and the signals and handles between them, with a fake tool (--tool) on
// two targets: a shell script that notes its process id and its parent's in the test's folder and
// fails when it holds a file of the record, or fleet_fake_tool.exe for the Windows build. Every
// such process that still runs when a sample ends is killed by its id.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "e2e/tool.h"
#include "e2e/upload_board.h"

using namespace std::chrono_literals;

namespace {

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// True while the process runs; one that has ended but that nobody reaped (a zombie) does not.
bool running(pid_t id) {
    std::string stat = file_text("/proc/" + std::to_string(id) + "/stat");
    return stat.find(") ") != std::string::npos && stat.find(") Z ") == std::string::npos;
}

std::vector<pid_t> ids_in(const std::filesystem::path& file) {
    std::vector<pid_t> ids;
    std::ifstream in(file);
    for (pid_t id = 0; in >> id;) {
        ids.push_back(id);
    }
    return ids;
}

// The processes of fleet_fake_tool.exe under Wine whose environment holds entry: the Windows
// process id that the tool can tell is not the Unix one.
std::vector<pid_t> windows_tools(const std::string& entry) {
    std::vector<pid_t> ids;
    std::error_code failure;
    for (const auto& process : std::filesystem::directory_iterator("/proc", failure)) {
        std::string program = file_text(process.path() / "cmdline").c_str();  // the first word
        std::string environment = '\0' + file_text(process.path() / "environ");
        if (program.ends_with("fleet_fake_tool.exe") &&
            environment.find('\0' + entry + '\0') != std::string::npos) {
            ids.push_back(std::stoi(process.path().filename().string()));
        }
    }
    return ids;
}

std::string windows_path(const std::filesystem::path& path) {
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

struct Sample {
    const char* what;
    std::vector<std::string> prefix;  // the words the fleet is started through
    std::string tool;                 // the script's body, or the fake tool's mode
    int jobs;
    int signal;        // sent to the fleet once jobs tools run (0: none)
    int status;        // the fleet's, or that of the command of prefix; -1 when killed
    const char* rows;  // the status in summary.csv of both targets (none: no check)
};

// The fake tool, its environment and what it noted, in a folder of the test's own.
class Tools {
  public:
    explicit Tools(const std::string& tool) {
        entry_ = "TVFLASH_FAKE_TOOL=" + tool + " " + windows_path(path());
        e2e::ToolCommand fleet = e2e::fleet_command({});
        std::filesystem::path exe = fleet.args.empty() ? fleet.program : fleet.args.back();
        path_ = windows_path(exe.parent_path() / "tests" / "fleet_fake_tool.exe");
        if (!e2e::windows_build()) {
            path_ = folder_.write("tool.sh", "#!/bin/sh\ncd '" + path().string() +
                                                 "' || exit 9\necho $$ >> pids\n"
                                                 "echo $PPID >> parents\nif ls -l /proc/$$/fd | "
                                                 "grep /record/; then exit 1; fi\n" +
                                                 tool);
            std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
        }
    }
    ~Tools() {
        std::vector<pid_t> ids = running_now();
        std::vector<pid_t> parents = ids_in(path() / "parents");
        ids.insert(ids.end(), parents.begin(), parents.end());
        for (pid_t id : ids) {
            if (running(id)) {
                kill(id, SIGKILL);
            }
        }
    }
    const std::filesystem::path& path() const { return folder_.path(); }
    const std::string& program() const { return path_; }
    const std::string& entry() const { return entry_; }
    std::size_t started() const { return ids_in(path() / "pids").size(); }
    std::vector<pid_t> running_now() const {
        return e2e::windows_build() ? windows_tools(entry_) : ids_in(path() / "pids");
    }

  private:
    e2e::ImageFolder folder_;
    std::string path_;
    std::string entry_;
};

// Runs the sample and checks it; returns summary.csv and the first target's transcript.
std::string run_sample(const Sample& s) {
    Tools tools(s.tool);
    const std::filesystem::path logs = tools.path() / "record";
    std::vector<std::string> words = s.prefix;
    if (e2e::windows_build()) {
        words = {"env", "-u", "DISPLAY", tools.entry()};
    }
    // No record database: the fleet would run the fake tool once more, for its version.
    e2e::ToolCommand fleet = e2e::fleet_command(
        {"run", "-j", std::to_string(s.jobs), "--tool", tools.program(), "--logs", logs.string(),
         "--db", "none", "-e", "version", "127.0.0.2:4000", "127.0.0.3:4000"});
    words.push_back(fleet.program);
    words.insert(words.end(), fleet.args.begin(), fleet.args.end());
    e2e::ChildProcess child(words[0], {words.begin() + 1, words.end()});
    for (int i = 0; s.signal != 0 && i < 600 && tools.started() < std::size_t(s.jobs); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    std::vector<pid_t> ids = tools.running_now();
    e2e::RunResult run = child.finish(60s, s.signal);
    EXPECT_EQ(run.status, s.status) << s.what << "\n" << run.out << run.err;
    const std::string record =
        file_text(logs / "summary.csv") + file_text(logs / "127.0.0.2-4000.txt");
    for (const char* target : {"127.0.0.2:4000", "127.0.0.3:4000"}) {
        std::string row = target + std::string(",1,version,,") + (s.rows ? s.rows : "");
        EXPECT_TRUE(!s.rows || record.find(row) != std::string::npos) << s.what << record;
    }
    for (int i = 0; i < 100 && std::any_of(ids.begin(), ids.end(), running); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(std::any_of(ids.begin(), ids.end(), running)) << s.what;
    return record;
}

}  // namespace

TEST(FleetSignals, ToolsEndWithTheFleetAndInheritNothingButTheirStreams) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << "POSIX signals; see FleetSignalsWindows";
    }
    const std::string wrapper = "sleep 30 &\necho $! >> pids\nwait\n";  // a child of its own
    const std::string hangs_up = "kill -HUP $$\nsleep 1\n";             // and outlives it
    const Sample samples[] = {
        {"killed", {}, "exec sleep 30\n", 2, SIGKILL, -1, nullptr},
        {"a wrapper, Ctrl-C", {}, wrapper, 2, SIGINT, 1, "interrupted"},
        {"nohup", {"env", "--ignore-signal=HUP"}, hangs_up, 2, SIGHUP, 0, "passed"},
        {"SIGCHLD ignored", {"env", "--ignore-signal=CHLD"}, "", 2, 0, 0, "passed"},
        {"| head", {"sh", "-c", "\"$@\" | head -n 1", "sh"}, "sleep 0.5\n", 2, 0, 0, "passed"},
    };
    for (const Sample& s : samples) {
        run_sample(s);
    }
}

// The fleet sees the interrupt only after the tool's end; the next board must not start.
TEST(FleetSignals, InterruptAsAToolEndsStartsNoOtherBoard) {
    if (e2e::windows_build()) {
        GTEST_SKIP() << "POSIX signals";
    }
    const std::string tool = "echo working\nkill -INT $PPID\n";
    std::string record = run_sample({"Ctrl-C as a tool ends", {}, tool, 1, 0, 1, nullptr});
    EXPECT_NE(record.find("127.0.0.3:4000,1,version,,skipped"), std::string::npos) << record;
}

TEST(FleetSignalsWindows, ToolsEndWithTheFleetHoldOnlyTheirHandlesAndGetCtrlBreak) {
    if (!e2e::windows_build()) {
        GTEST_SKIP() << "the Windows build";
    }
    run_sample({"killed", {}, "break", 2, SIGKILL, -1, nullptr});
    run_sample({"handles", {}, "handles", 2, 0, 0, "passed"});
    // Wine passes SIGINT on to a Windows program as Ctrl-C. Wine (8.0) cannot send Ctrl-Break to
    // a process group (GenerateConsoleCtrlEvent fails with error 6, with a console window or
    // without), and the fleet then ends the tool at once.
    bool wine = e2e::command_words("TVFLASH_TOOL", "").front() == "wine";
    std::string record = run_sample({"Ctrl-Break", {}, "break", 2, SIGINT, 1, "interrupted"});
    EXPECT_NE(record.find(wine ? "exit status 1 (interrupted)" : "exit status 7 (interrupted)"),
              std::string::npos)
        << record;
}
