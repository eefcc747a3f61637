// The tool's cost of waiting and of ending, beside the benchmark's minimal client: the CPU time of
// a 20-second wait for a board that never answers, and the time from a board's last reply to the
// end of the process.
#pragma once

#include <string>

namespace bench {

struct IdleExitSettings {
    std::string tool;  // the tvflash to measure
    std::string self;  // this program, run as the minimal client
    int silent_runs = 5;
    int exit_runs = 20;
};

// Runs the silent waits (a tool and a client at a time) and then the timed ends, tool
// and client alternating, and prints their medians as a table.
void measure_idle_and_exit(const IdleExitSettings& settings);

// Sleeps for a second 20 times and does nothing else: the least CPU that 20 wake-ups cost on this
// machine, set beside the silent waits. Returns 0.
int run_bare_sleeps();

}  // namespace bench
