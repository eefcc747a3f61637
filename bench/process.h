// Child processes of the benchmark: a measured run of a program with its standard output read
// as it comes, and a background program (the simulator) started and stopped around the runs.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "process/subprocess.h"

namespace bench {

// What one measured run of a program gave.
struct ChildRun {
    bool started = false;
    bool timed_out = false;
    int exit_status = -1;  // the exit code; -1 when the child ended by a signal
    double wall_seconds = 0;
    double cpu_seconds = 0;   // user + system time of the child
    double peak_rss_kib = 0;  // the child's peak resident memory
    // The CPU of the child's threads but its first, as last seen while it ran (Linux's /proc;
    // zero elsewhere): what a program's helper threads cost, apart from its main loop.
    double other_threads_cpu_seconds = 0;
    // The CPU of all its threads, as last seen while it ran (at most some 20 ms before it ended;
    // zero elsewhere): the child's own, without the children it ran and reaped.
    double threads_cpu_seconds = 0;
    std::string output;  // standard output and standard error, interleaved
    // For each marker asked for, the seconds from the start to the moment the marker was first
    // read from the output; negative when it never came.
    std::vector<double> marker_seconds;
};

// How a measured child is started: fork for the peak memory, spawn for small CPU times (see
// subprocess::Start).
using Start = subprocess::Start;

// Runs argv (argv[0] being the program's path) with standard input from /dev/null, reading its
// output until it ends; kills it after timeout_seconds.
ChildRun run_measured(const std::vector<std::string>& argv, const std::vector<std::string>& markers,
                      double timeout_seconds, Start start = Start::fork);

// A run whose end is timed: the parent blocks in wait4, so `ended` is taken the moment the kernel
// reports the exit.
struct TimedExit {
    bool started = false;
    int exit_status = -1;
    double cpu_seconds = 0;
    std::chrono::steady_clock::time_point ended;
    std::string output;  // standard output and standard error
};

// Runs argv to its end with its output to output_path (read back afterwards, then removed).
TimedExit run_to_exit(const std::vector<std::string>& argv, const std::string& output_path);

// A program left running in the background, its standard output going to a file. Copies share
// the one program.
struct Background {
    struct Child;
    std::shared_ptr<Child> child;
    std::string output_path;
};

// Starts argv with standard output to output_path and standard error discarded.
std::optional<Background> start_background(const std::vector<std::string>& argv,
                                           const std::string& output_path);

// Reads the background program's output file, waiting at most timeout_seconds for it to hold a
// line that accept() takes; returns what accept() returned.
template <typename Accept>
auto wait_for_output(const Background& program, double timeout_seconds, Accept accept)
    -> decltype(accept(std::string()));

// Sends SIGTERM and waits a few seconds for the program to end, then kills it. Returns true when
// it ended by itself with status 0.
bool stop_background(Background& program);

// The whole content of a file, empty when it cannot be read.
std::string read_file(const std::string& path);

// Sleeps for the given milliseconds.
void pause_ms(int milliseconds);

template <typename Accept>
auto wait_for_output(const Background& program, double timeout_seconds, Accept accept)
    -> decltype(accept(std::string())) {
    constexpr int kPollMs = 10;
    for (int waited = 0; waited <= timeout_seconds * 1000; waited += kPollMs) {
        if (auto result = accept(read_file(program.output_path))) {
            return result;
        }
        pause_ms(kPollMs);
    }
    return accept(read_file(program.output_path));
}

}  // namespace bench
