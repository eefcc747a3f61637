// tvflash-demo.exe: the steps of demo_core.h run with tvflash.exe against tvflash-sim.exe, both
// found beside this program, in a folder of its own under the user's temporary folder. Usage:
// tvflash-demo.exe [--hold-console]; demo.cmd passes --hold-console when a double-click started
// it. Exit status 0 only when every step did what it should.
#include <windows.h>
// conio.h after windows.h, as the C runtime's headers expect.
#include <conio.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "demo_core.h"

namespace {

namespace fs = std::filesystem;

constexpr DWORD kToolLimitMs = 120000;  // the tool ends itself after 20 s of silence
constexpr DWORD kStopLimitMs = 5000;
constexpr int kStartChecks = 100;  // the simulator has ten seconds to start listening
constexpr DWORD kStartCheckMs = 100;

std::atomic<bool> interrupted{false};

// Ctrl-C reaches every program of the console: the tool and the simulator end, and the demo says
// so and cleans up instead of vanishing.
BOOL WINAPI on_console_event(DWORD) {
    interrupted = true;
    return TRUE;
}

class OwnedHandle {
  public:
    explicit OwnedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (valid()) {
            CloseHandle(handle_);
        }
        handle_ = handle;
    }

  private:
    HANDLE handle_;
};

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void fail(const std::string& problem, bool& passed) {
    say("demo: FAILED: " + problem);
    passed = false;
}

// The tool's bytes as it wrote them: its line ends are already the console's.
void show_raw(const char* bytes, DWORD length) {
    std::fflush(stdout);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, length, &written, nullptr);
}

std::string read_file(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::wstring command_line(const fs::path& program, const std::vector<std::string>& args) {
    std::wstring line = demo::quote_argument(program.wstring());
    for (const std::string& arg : args) {
        line += L' ';
        line += demo::quote_argument(std::wstring(arg.begin(), arg.end()));
    }
    return line;
}

// Starts program in dir with its standard input from NUL and its output and errors to the
// inheritable handles out and err; the caller owns started.hProcess.
bool start_process(const fs::path& program, const std::vector<std::string>& args,
                   const fs::path& dir, HANDLE out, HANDLE err, PROCESS_INFORMATION& started) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    OwnedHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::wstring line = command_line(program, args);
    std::fflush(stdout);
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        dir.c_str(), &startup, &started)) {
        say("demo: cannot start " + program.filename().string() + ": error " +
            std::to_string(GetLastError()));
        return false;
    }
    CloseHandle(started.hThread);
    return true;
}

OwnedHandle inheritable_file(const fs::path& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return OwnedHandle(CreateFileW(path.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

struct Simulator {
    OwnedHandle process;
    DWORD id = 0;
    std::uint16_t port = 0;
};

// Asks the simulator to end as Ctrl-C would, through the stop event it names after its process
// id, and waits for it; true when it ended so with status 0.
bool stop_simulator(Simulator& simulator) {
    if (!simulator.process.valid()) {
        return true;
    }
    const std::wstring name = L"Local\\tvflash-sim-stop-" + std::to_wstring(simulator.id);
    OwnedHandle stop(OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
    if (stop.valid()) {
        SetEvent(stop.get());
    }
    bool ended = WaitForSingleObject(simulator.process.get(), kStopLimitMs) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(simulator.process.get(), 1);
        WaitForSingleObject(simulator.process.get(), kStopLimitMs);
    }
    DWORD status = 1;
    GetExitCodeProcess(simulator.process.get(), &status);
    simulator.process.reset();
    return ended && status == 0;
}

// Starts the simulator on a free port of 127.0.0.1, its output and errors in files of work, and
// waits for its listening line.
bool start_simulator(const fs::path& program, const fs::path& work, Simulator& simulator) {
    const fs::path out_path = work / "sim.out";
    const fs::path err_path = work / "sim.err";
    PROCESS_INFORMATION started{};
    {
        OwnedHandle out = inheritable_file(out_path);
        OwnedHandle err = inheritable_file(err_path);
        if (!out.valid() || !err.valid() ||
            !start_process(program, {"--port", "0"}, work, out.get(), err.get(), started)) {
            return false;
        }
    }
    simulator.process.reset(started.hProcess);
    simulator.id = started.dwProcessId;
    for (int check = 0; check < kStartChecks; ++check) {
        if (std::optional<std::uint16_t> port = demo::listening_port(read_file(out_path))) {
            simulator.port = *port;
            return true;
        }
        if (WaitForSingleObject(simulator.process.get(), kStartCheckMs) == WAIT_OBJECT_0) {
            break;
        }
    }
    say("demo: tvflash-sim did not start");
    say(read_file(err_path));
    stop_simulator(simulator);
    return false;
}

// Runs the tool with args in dir, showing its output as it comes; stores the output with "\n"
// line ends and returns the exit status (-1 when it could not be started).
int run_tool(const fs::path& tool, const std::vector<std::string>& args, const fs::path& dir,
             std::string& output) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
        say("demo: cannot make a pipe: error " + std::to_string(GetLastError()));
        return -1;
    }
    OwnedHandle reader(read_end);
    OwnedHandle writer(write_end);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION started{};
    if (!start_process(tool, args, dir, write_end, write_end, started)) {
        return -1;
    }
    OwnedHandle process(started.hProcess);
    writer.reset();  // the pipe ends with the tool
    // A tool that has not ended in time is ended, so the demo cannot hang on it.
    std::thread guard([&process] {
        if (WaitForSingleObject(process.get(), kToolLimitMs) == WAIT_TIMEOUT) {
            TerminateProcess(process.get(), 1);
        }
    });
    std::string raw;
    char buffer[4096];
    DWORD length = 0;
    while (ReadFile(reader.get(), buffer, sizeof buffer, &length, nullptr) && length > 0) {
        show_raw(buffer, length);
        raw.append(buffer, length);
    }
    guard.join();
    DWORD status = 1;
    GetExitCodeProcess(process.get(), &status);
    output = demo::without_carriage_returns(raw);
    return static_cast<int>(status);
}

bool write_image(const fs::path& path) {
    const std::string image = demo::demo_image(demo::kImageSize);
    std::ofstream file(path, std::ios::binary);
    file.write(image.data(), static_cast<std::streamsize>(image.size()));
    return static_cast<bool>(file.flush());
}

// The steps against a running simulator; false when any did not do what it should.
bool run_steps(const fs::path& tool, const fs::path& work, std::uint16_t port) {
    bool passed = true;
    demo::DemoJudge judge;
    const std::string address_and_port = "127.0.0.1 " + std::to_string(port);
    for (std::size_t step = 0; step < demo::demo_steps().size() && !interrupted; ++step) {
        std::vector<std::string> args{"127.0.0.1", std::to_string(port)};
        std::string shown = "> tvflash " + address_and_port;
        for (const std::string& word : demo::demo_steps()[step]) {
            args.push_back(word);
            shown += ' ';
            shown += word;
        }
        say("");
        say(shown);
        std::string output;
        int status = run_tool(tool, args, work, output);
        for (const std::string& problem : judge.judge(step, status, output)) {
            fail(problem, passed);
        }
    }
    if (interrupted) {
        fail("interrupted", passed);
    }
    return passed;
}

int run_demo(const fs::path& folder, const fs::path& work) {
    const fs::path tool = folder / "tvflash.exe";
    const fs::path sim = folder / "tvflash-sim.exe";
    for (const fs::path& program : {tool, sim}) {
        if (!fs::exists(program)) {
            say("demo: " + program.filename().string() +
                " is missing beside tvflash-demo.exe; unpack the whole zip");
            return 1;
        }
    }
    if (!write_image(work / demo::kImageName)) {
        say("demo: cannot write the image into the temporary folder");
        return 1;
    }
    Simulator simulator;
    if (!start_simulator(sim, work, simulator)) {
        return 1;
    }
    say("Simulated board: tvflash-sim on 127.0.0.1:" + std::to_string(simulator.port));
    bool passed = run_steps(tool, work, simulator.port);
    say("");
    if (!stop_simulator(simulator)) {
        fail("tvflash-sim did not end cleanly", passed);
    }
    say(demo::verdict_line(passed));
    return passed ? 0 : 1;
}

fs::path own_folder() {
    std::wstring path(MAX_PATH, L'\0');
    for (int tries = 0; tries < 8; ++tries) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length > 0 && length < path.size()) {
            path.resize(length);
            return fs::path(path).parent_path();
        }
        path.resize(path.size() * 2);
    }
    return fs::current_path();
}

// A fresh folder for the image and the simulator's output; empty when none can be made.
fs::path make_work_folder() {
    std::error_code error;
    fs::path work =
        fs::temp_directory_path(error) / ("tvflash-demo-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(work, error);
    if (!fs::create_directories(work, error)) {
        return {};
    }
    return work;
}

// Started alone in a console of its own, or by demo.cmd after a double-click, the demo would
// close its window on the verdict: it waits for a key first. With any other program in the
// console (the operator's shell), it does not.
void hold_console_if_alone(bool started_by_double_click) {
    DWORD processes[4];
    DWORD count = GetConsoleProcessList(processes, 4);
    if (count == 1 || (count == 2 && started_by_double_click)) {
        say("Press any key to close this window.");
        _getch();
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool double_click = argc == 2 && std::string(argv[1]) == "--hold-console";
    if (argc > 2 || (argc == 2 && !double_click)) {
        std::fprintf(stderr, "Usage: tvflash-demo [--hold-console]\n");
        return 2;
    }
    SetConsoleCtrlHandler(on_console_event, TRUE);
    int status = 1;
    const fs::path work = make_work_folder();
    if (work.empty()) {
        say("demo: cannot make a folder in the temporary folder");
    } else {
        status = run_demo(own_folder(), work);
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }
    hold_console_if_alone(double_click);
    return status;
}
