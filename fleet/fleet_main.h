// tvflash-fleet's commands: check, run (a list of boards, or a station) and scan.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "run/events.h"

namespace fleet {

// Open files a run keeps whatever -j is (the standard streams, summary.csv, the station's socket,
// and the few a tool's start holds for a moment), and those each board running at once holds:
// its tool's output pipe and process descriptor, and its transcript.
inline constexpr std::size_t kOpenFilesKept = 64;
inline constexpr std::size_t kOpenFilesPerBoard = 3;
// The station page's server: its listening socket and a connection per server thread.
inline constexpr std::size_t kOpenFilesServing = 64;

// The open files a run of jobs boards at once needs, serving the page or not.
std::size_t open_files_needed(int jobs, bool serving = false);

// Raises this process's limit of open files as far as it goes; false, with the message, when it
// is still too low for jobs boards at once.
bool enough_open_files(int jobs, bool serving, std::string& error);

// The exit status of a run: 1 when a board failed (a station: any board it flashed), 3 when every
// board passed but the record could not be written whole, and 0 otherwise.
int exit_status(const RunTotals& totals, bool station, bool record_complete);

// tvflash-fleet itself, given the arguments after the program name; returns the exit status.
int fleet_main(const std::vector<std::string>& args);

}  // namespace fleet
