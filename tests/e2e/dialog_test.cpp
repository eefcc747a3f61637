// The Windows build's message boxes as an operator meets them: under a virtual X display, xdotool
// finds the box by its caption and presses a key in it. These run against the Windows build under
// Wine with a display, as `make test-windows` provides; elsewhere they are skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/fake_board.h"
#include "e2e/texts.h"
#include "e2e/tool.h"
#include "e2e/upload_board.h"

using namespace std::chrono_literals;

namespace {

bool boxes_can_be_operated() {
    return e2e::windows_build() && std::getenv("DISPLAY") != nullptr;
}

// Starts the tool on the loopback board; without_display hides the X display from it.
std::unique_ptr<e2e::ChildProcess> start_tool(const std::vector<std::string>& args,
                                              bool without_display = false) {
    e2e::ToolCommand tool = e2e::tool_command(args);
    if (without_display) {
        tool.args.insert(tool.args.begin(), {"-u", "DISPLAY", tool.program});
        tool.program = "env";
    }
    return std::make_unique<e2e::ChildProcess>(tool.program, tool.args);
}

// Waits for the box captioned "tvflash", then presses key in it (none: only waits). False when no
// such box came within the time. Only a shown box takes the focus: a box found before Wine has
// mapped its window refuses it.
bool operate_box(const std::string& key = "") {
    std::vector<std::string> args = {"search", "--sync", "--onlyvisible", "--name", "^tvflash$"};
    if (!key.empty()) {
        args.insert(args.end(), {"windowfocus", "--sync", "key", key});
    }
    return e2e::run_process("xdotool", args, "", 30s).status == 0;
}

e2e::RunResult finish(e2e::ChildProcess& tool) {
    e2e::RunResult run = tool.finish(30s);
    e2e::undo_windows_differences(run);
    return run;
}

}  // namespace

TEST(Dialog, BootloaderQuestionBoxTakesTheOperatorsAnswer) {
    if (!boxes_can_be_operated()) {
        GTEST_SKIP() << "needs the Windows build and a display";
    }
    e2e::ImageFolder folder;
    const std::string path = folder.write("eboot.hex", e2e::rom_image());
    const std::string refused = "FAILED (bootloader does not fit for the hardware).\n";
    const struct {
        std::string key;  // none: the box cannot be shown, for there is no display
        std::string answer_sent;
        std::string shown;
        int status;
    } samples[] = {
        {"y", "<CONTINUE>", e2e::kUpdated, 0},
        {"Return", "<CONTINUE>", e2e::kUpdated, 0},
        {"n", "<BREAK>", refused, 1},
        {"", "<BREAK>", refused, 1},
    };
    for (const auto& s : samples) {
        e2e::FakeBoard board(e2e::uploading({"<CHECK_OK>", "<DEST_DIFFER_QUERY> KRD4/Q|PLN7/ZE"},
                                            {{"<CONTINUE>", {"<UPDATE_OK>"}}}));
        auto tool = start_tool({"127.0.0.1", board.port_text(), "updaterom", path}, s.key.empty());
        if (!s.key.empty()) {
            EXPECT_TRUE(operate_box(s.key)) << "no question box";
        }
        EXPECT_TRUE(e2e::ran(finish(*tool), s.status,
                             e2e::upload_output(board.port(), path, 65536, std::string(64, '.')) +
                                 e2e::kUpdating + s.shown))
            << s.key;
        EXPECT_EQ(board.received().back(), s.answer_sent) << s.key;
    }
}

TEST(Dialog, ConflictBoxHoldsTheRunUntilDismissed) {
    if (!boxes_can_be_operated()) {
        GTEST_SKIP() << "needs the Windows build and a display";
    }
    e2e::FakeBoard board(e2e::answering(
        {{"<VERSION>", {"<VERSION> Talvium 1", "<VERSION> Talvium 2", "<VERSION> Talvium 3"}}}));
    auto tool = start_tool({"127.0.0.1", board.port_text(), "cyclic_version"});
    ASSERT_TRUE(operate_box()) << "no conflict box";
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(tool->has_ended());
    EXPECT_TRUE(operate_box("Return"));
    EXPECT_TRUE(e2e::ran(finish(*tool), 1,
                         e2e::connecting_line(board.port()) +
                             "OK.\nLinked to target running Talvium 1\n"
                             "Linked to target running Talvium 2\n"
                             "Linked to target running Talvium 3\n"));
    EXPECT_EQ(board.count_received("<VERSION>"), 1);
}

TEST(Dialog, FleetShowsTheBoardAsWaitingForTheOperator) {
    if (!boxes_can_be_operated()) {
        GTEST_SKIP() << "needs the Windows build and a display";
    }
    e2e::ImageFolder folder;
    const std::string path = folder.write("eboot.hex", e2e::rom_image());
    e2e::FakeBoard board(e2e::uploading({"<CHECK_OK>", "<DEST_DIFFER_QUERY> KRD4/Q|PLN7/ZE"},
                                        {{"<CONTINUE>", {"<UPDATE_OK>"}}}));
    e2e::ToolCommand fleet =
        e2e::fleet_command({"run", "--logs", (folder.path() / "logs").string(), "-e",
                            "updaterom " + path, "127.0.0.1:" + board.port_text()});
    e2e::ChildProcess child(fleet.program, fleet.args);
    const std::string waiting = "updaterom " + path + ": waiting for the operator";
    EXPECT_NE(child.read_until(waiting, 30s).find(waiting), std::string::npos);
    EXPECT_TRUE(operate_box("y")) << "no question box";
    e2e::RunResult run = child.finish(30s);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(board.received().back(), "<CONTINUE>");
}
