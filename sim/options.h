// The simulator's command line: where it listens, what board it plays and which unhappy paths it
// takes. Parsing is pure; main prints the error and ends with status 2.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board_model.h"

namespace sim {

struct SimOptions {
    std::string bind_address = "127.0.0.1";
    std::uint16_t port = 4000;  // 0 binds any free port
    std::string board_type = "PLN7/ZE";
    std::string version_text;  // empty: "Talvium 5.2 on <board type> (simulated)"
    std::uint32_t flash_mib = 16;
    double loss_in = 0;
    double loss_out = 0;
    double nack_rate = 0;
    int boards = 1;
    double slow_erase_seconds = 0;
    double slow_update_seconds = 0;
    bool updating_flash = false;
    bool silent = false;
    std::uint32_t seed = 1;
    bool verbose = false;
    std::string pcap_path;  // empty: no capture file
    bool help = false;
    bool version = false;
    // Faults of the network below the board model (see net_faults.h).
    double dup_in = 0;
    double dup_out = 0;
    double reorder = 0;
    Millis delay_ms = 0;
    Millis jitter_ms = 0;
    bool blind = false;     // the model is not told of --loss-in and --loss-out either
    std::string write_dir;  // each completed update's bytes are written to a file here
    bool hostile = false;   // answers from the hostile grammar (see hostile.h)
};

// Options, or the reason the command line was refused.
struct ParsedOptions {
    SimOptions options;
    std::string error;  // empty when the command line was good
};

// Reads the arguments after the program name. Each option takes its value as the next argument
// or after "=".
ParsedOptions parse_options(const std::vector<std::string>& args);

// The text of --help.
std::string usage_text();

// The board that the options describe.
BoardSettings board_settings(const SimOptions& options);

// The IPv4 address of dotted-decimal text (four numbers 0 to 255), in host byte order.
bool parse_ipv4(const std::string& text, std::uint32_t& address);

}  // namespace sim
