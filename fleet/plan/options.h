// The command line of tvflash-fleet. Parsing is pure; main prints the error and ends with status 2.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "plan/serve_address.h"

namespace fleet {

enum class Mode { run, check, scan, records, serve, help, version };

inline constexpr int kDefaultJobs = 8;
inline constexpr int kMostJobs = 256;
inline constexpr double kDefaultGoneSeconds = 10;
// The watch probe goes about once a second, so a board must stay silent for longer than that.
inline constexpr double kLeastGoneSeconds = 2;
inline constexpr int kMostRetries = 9;
// The station's record database, beside the default run folders; "none" for no database.
inline constexpr const char* kDefaultDatabase = "tvflash-fleet-logs/records.db";
inline constexpr const char* kNoDatabase = "none";

struct Options {
    Mode mode = Mode::help;
    int jobs = kDefaultJobs;
    bool answer_yes = false;  // the bootloader question's answer; No is the safe side
    bool answer_given = false;
    std::string logs_dir;  // empty: tvflash-fleet-logs/YYYYMMDD-HHMMSS
    bool watch = false;
    double gone_seconds = kDefaultGoneSeconds;
    bool gone_given = false;
    std::string tool;                         // empty: the tvflash beside tvflash-fleet
    std::string station;                      // empty: the host name
    std::string operator_name;                // empty: the login name
    bool json = false;                        // JSON Lines events on standard output
    int retries = 0;                          // more tries of a step that failed in a way a new
                                              // try can mend
    std::string database = kDefaultDatabase;  // --db FILE, or kNoDatabase
    std::string share;                        // --share URL: the line's shared database
    std::optional<ServeAddress> serve;        // --serve: the station page's address
    std::string since;                        // records: WHEN
    std::string record_target;                // records: ADDRESS:PORT
    std::string format = "table";             // records: table, csv or json
    bool push = false;                        // records --push
    std::vector<std::string> inline_steps;    // -e STEP, in order
    std::string recipe;                       // the recipe file, when no -e is given
    std::vector<std::string> targets;         // ADDRESS:PORT or @FILE, as given
    std::string range;                        // scan: ADDRESS/BITS
    std::string port;                         // scan: PORT
};

struct ParsedOptions {
    Options options;
    std::string error;  // empty when the command line was good
};

// Reads the arguments after the program name.
ParsedOptions parse_options(const std::vector<std::string>& args);

// The three forms of the command line, for an error message.
std::string short_usage();

// The text of --help.
std::string help_text();

}  // namespace fleet
