// The Windows build in a real console window, as an operator meets it: Wine's console host on a
// virtual X display runs `cmd /c "title ...& console_run.exe ... tvflash.exe ..."`, xdotool
// presses keys in its windows, and console_run.exe reads the console's text back when the tool
// has ended. Run by `make test-windows`; elsewhere skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "e2e/fake_board.h"
#include "e2e/texts.h"
#include "e2e/tool.h"
#include "e2e/upload_board.h"
#include "sim/sim_process.h"

using namespace std::chrono_literals;

namespace {

const std::string kTitle = "Flash station 3";
constexpr int kHelperSeconds = 60;

std::string windows_path(const std::filesystem::path& path) {
    std::string text = "Z:" + std::filesystem::absolute(path).string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// xdotool run on the shown window of the program named by class (conhost.exe: the console), once
// there is one, with then appended: {"getwindowname", "%@"}, say. Gives up after 30 s.
e2e::RunResult on_window(const std::string& program, const std::vector<std::string>& then) {
    std::vector<std::string> args{"search", "--sync", "--onlyvisible", "--classname",
                                  "^" + program + "$"};
    args.insert(args.end(), then.begin(), then.end());
    return e2e::run_process("xdotool", args, "", 30s);
}

// Focuses the program's window, then presses key as a keyboard would: a key sent to Wine's console
// window itself is now and then refused as a bad window.
testing::AssertionResult press_in(const std::string& program, const std::string& key) {
    e2e::RunResult run = on_window(program, {"windowfocus", "--sync"});
    if (run.status == 0) {
        run = e2e::run_process("xdotool", {"key", key}, "", 30s);
    }
    if (run.status == 0) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "xdotool: status " << run.status << ", " << run.err;
}

// What console_run.exe saw: the tool's status and the console's text, rows wrapped at the
// console's width joined again.
struct ConsoleText {
    int status = -2;
    std::string text;
};

ConsoleText read_console_file(const std::filesystem::path& path) {
    std::ifstream in(path);
    ConsoleText seen;
    std::string word;
    std::size_t width = 0;
    in >> word >> seen.status >> word >> width;
    std::getline(in, word);
    bool continued = true;
    for (std::string row; std::getline(in, row);) {
        seen.text += (continued ? "" : "\n") + row;
        continued = row.size() == width;
    }
    return seen;
}

// The tool with args in a console window, console_run.exe watching it. A titled console runs
// them from `cmd /c "title kTitle& ..."`; an untitled one runs console_run.exe alone, which
// outlives Ctrl-C where cmd may not, and would take the window with it.
class Console {
  public:
    explicit Console(const std::vector<std::string>& args, bool titled = true)
        : output_(folder_.path() / "console.txt") {
        const std::filesystem::path exe = e2e::tool_command({}).args.back();
        std::vector<std::string> words{
            windows_path(exe.parent_path() / "tests" / "console_run.exe"), windows_path(output_),
            std::to_string(kHelperSeconds), windows_path(exe)};
        words.insert(words.end(), args.begin(), args.end());
        if (titled) {
            std::string line = "title " + kTitle + "&";
            for (const std::string& word : words) {
                line += " " + word;
            }
            words = {"cmd", "/c", line};
        }
        host_ = std::make_unique<e2e::ChildProcess>("wineconsole", words);
    }

    // Waits for the tool's end (console_run.exe writes the console's text then), photographs the
    // console into screenshot when named, and closes the console with Enter.
    ConsoleText finish(const std::string& screenshot = "") {
        for (int i = 0; i < kHelperSeconds * 20 && !std::filesystem::exists(output_); ++i) {
            std::this_thread::sleep_for(50ms);
        }
        ended_ = std::chrono::steady_clock::now();
        if (!screenshot.empty()) {
            const std::string found = on_window("conhost.exe", {}).out;
            const std::string window = found.substr(0, found.find('\n'));
            EXPECT_EQ(e2e::run_process("import", {"-window", window, screenshot}, "", 30s).status,
                      0);
        }
        EXPECT_TRUE(press_in("conhost.exe", "Return"));
        host_->finish(std::chrono::seconds(2 * kHelperSeconds));
        return read_console_file(output_);
    }

    std::chrono::steady_clock::time_point ended() const { return ended_; }

  private:
    e2e::ImageFolder folder_;
    std::filesystem::path output_;
    std::unique_ptr<e2e::ChildProcess> host_;
    std::chrono::steady_clock::time_point ended_;
};

bool console_can_be_used() {
    return e2e::windows_build() && std::getenv("DISPLAY") != nullptr;
}

}  // namespace

TEST(WindowsConsole, ConflictBoxIsCaptionedWithTheConsoleTitle) {
    if (!console_can_be_used()) {
        GTEST_SKIP() << "needs the Windows build and a display";
    }
    simtest::SimProcess sim({"--boards", "2"});
    Console console({"127.0.0.1", sim.port_text(), "cyclic_version"});
    EXPECT_EQ(on_window("tvflash.exe", {"getwindowname", "%@"}).out, kTitle + "\n");
    EXPECT_TRUE(press_in("tvflash.exe", "Return"));
    const ConsoleText seen = console.finish();
    EXPECT_EQ(seen.status, 1);
    const std::string linked = "Linked to target running Talvium 5.2 on PLN7/ZE (simulated)\n";
    EXPECT_EQ(seen.text, e2e::connecting_line(sim.port()) + "OK.\n" + linked + linked);
}

TEST(WindowsConsole, UploadLineBuildsUpInTheConsole) {
    if (!console_can_be_used()) {
        GTEST_SKIP() << "needs the Windows build and a display";
    }
    e2e::ImageFolder folder;
    const std::string image = folder.write("system.tvm", e2e::pattern_image(300 * 1024));
    simtest::SimProcess sim({"--nack-rate", "0.05", "--seed", "7"});
    Console console({"127.0.0.1", sim.port_text(), "updatesys", windows_path(image)});
    const ConsoleText seen = console.finish("console-upload.png");
    EXPECT_EQ(seen.status, 0);
    const std::size_t from = seen.text.find("Uploading"), to = seen.text.find("OK.\nTotal");
    ASSERT_TRUE(from < to && to != std::string::npos) << seen.text;
    const std::string progress = seen.text.substr(from + 9, to - from - 9);
    EXPECT_EQ(seen.text, e2e::upload_output(sim.port(), windows_path(image), 300 * 1024, progress) +
                             e2e::kUpdateSucceeded);
    EXPECT_EQ(std::count(progress.begin(), progress.end(), '.'), 300) << progress;
    EXPECT_GT(std::count(progress.begin(), progress.end(), '+'), 0) << progress;
}

TEST(WindowsConsole, CtrlCEndsTheRunAndTheDatagrams) {
    if (!console_can_be_used()) {
        GTEST_SKIP() << "needs the Windows build and a display";
    }
    e2e::ImageFolder folder;
    const std::string image = folder.write("system.tvm", e2e::pattern_image(256 * 1024));
    const auto slow_acks = [](e2e::FakeBoard& board, const std::string& datagram) {
        if (e2e::is_image_block(datagram)) {
            board.reply_after(100ms, "<ACK>");
        }
    };
    const struct {
        std::string name;
        std::vector<std::string> args;
        std::function<bool(const e2e::FakeBoard&)> busy;  // true once the run is where it is hit
    } samples[] = {
        {"silent wait",
         {"getconfig"},
         [](const e2e::FakeBoard& b) { return b.count_received("<GETCONFIG>") >= 2; }},
        {"upload",
         {"updatesys", windows_path(image)},
         [](const e2e::FakeBoard& b) { return b.received().size() >= 8; }},
    };
    for (const auto& s : samples) {
        e2e::FakeBoard board(e2e::answering({{"<UPDATESYS>", {"<OK_LOAD>"}}}, slow_acks));
        std::vector<std::string> args{"127.0.0.1", board.port_text()};
        args.insert(args.end(), s.args.begin(), s.args.end());
        Console console(args, false);
        for (int i = 0; i < 300 && !s.busy(board); ++i) {
            std::this_thread::sleep_for(100ms);
        }
        ASSERT_TRUE(s.busy(board)) << s.name;
        EXPECT_TRUE(press_in("conhost.exe", "ctrl+c")) << s.name;
        const auto pressed = std::chrono::steady_clock::now();
        const ConsoleText seen = console.finish();
        const std::size_t sent = board.received().size();
        EXPECT_EQ(seen.status, 1) << s.name;
        EXPECT_LT(console.ended() - pressed, 3s) << s.name;
        std::this_thread::sleep_for(1500ms);  // longer than a repeat's second
        EXPECT_EQ(board.received().size(), sent) << s.name;
    }
}
