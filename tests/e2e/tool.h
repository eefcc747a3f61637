// The tool under test. By default it is the tvflash built with these tests; the environment
// variable TVFLASH_TOOL names another command instead, its words separated by blanks, such as
// "wine build/windows/tvflash.exe" for the Windows build. One suite serves both builds.
#pragma once

#include <string>
#include <vector>

#include "e2e/process.h"

namespace e2e {

// The words of the command that the environment variable names, separated by blanks; fallback
// alone when it is unset or empty.
std::vector<std::string> command_words(const char* variable, const std::string& fallback);

// The program to start and its arguments, for the tool under test run with args.
struct ToolCommand {
    std::string program;
    std::vector<std::string> args;
};
ToolCommand tool_command(const std::vector<std::string>& args);

// The program to start and its arguments for tvflash-fleet run with args: the one beside the tool
// under test ("wine build/windows/tvflash-fleet.exe" for the Windows build).
ToolCommand fleet_command(const std::vector<std::string>& args);

// True when the tool under test is the Windows build (a command ending in ".exe").
bool windows_build();

// Brings what the Windows build printed to what the Linux build prints, through the table of
// their expected differences: "\r\n" line ends and Winsock's error numbers. A line end without its
// "\r" is left marked, so an exact comparison fails and shows it.
void undo_windows_differences(RunResult& run);

// Why a test that answers the operator's questions on the console is skipped for the Windows
// build, which asks in message boxes (their own tests drive them under a virtual display).
inline constexpr const char* kAsksInMessageBoxes =
    "the Windows build asks in message boxes; see the Dialog tests";

}  // namespace e2e
