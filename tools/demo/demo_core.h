// tvflash-demo: the operator's day against a simulated board, for the Windows zip (demo.cmd runs
// it). Starts tvflash-sim on a free port of 127.0.0.1, runs version, getconfig, updatesys of an
// image it writes, getconfig again and erasesys, shows each command with its output, checks each
// exit status and the key lines, stops the simulator and says whether every step did what it
// should; scripts/demo.sh does the same on Linux (`make demo`).
//
// This file holds the demo's pure parts: the steps and how each is judged, the image, and the
// readers of the simulator's and the tool's output. demo_win32.cpp runs the programs. How it is
// tested: tests/tools/demo_core_test.cpp, and `make test-windows` runs demo.cmd from the zip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace demo {

// The image that updatesys uploads: 300 KiB, written beside the tool under this name.
inline constexpr std::size_t kImageSize = 307200;
inline constexpr const char* kImageName = "project.tvm";

// size pseudo-random bytes, the same on every machine and the same as scripts/demo.sh writes: a
// linear congruential generator with a fixed seed.
std::string demo_image(std::size_t size);

// The port of the simulator's line "tvflash-sim listening on 127.0.0.1:PORT" in its output;
// nothing until that line is there whole.
std::optional<std::uint16_t> listening_port(std::string_view sim_output);

// The size in bytes of the System row of a getconfig table; nothing when there is none.
std::optional<std::uint64_t> system_area_size(std::string_view output);

// text with every "\r\n" made "\n", as the Windows build's console output reads on Linux.
std::string without_carriage_returns(std::string_view text);

// The tool's arguments after the address and port, one entry per step.
const std::vector<std::vector<std::string>>& demo_steps();

// Judges the steps in order from each one's exit status and output (line ends "\n"), remembering
// what a later step compares with.
class DemoJudge {
  public:
    // What went wrong in the step, one sentence each; empty when it did what it should.
    std::vector<std::string> judge(std::size_t step, int status, std::string_view output);

  private:
    std::optional<std::uint64_t> system_before_;
};

// The demo's last line.
std::string verdict_line(bool every_step_passed);

// One argument of a Windows command line, quoted so that the program's C runtime reads it back
// unchanged (blanks, quotes and the backslashes before them).
std::wstring quote_argument(std::wstring_view argument);

}  // namespace demo
