// The scan: "<VERSION>" to every host address of a range, paced, from one unconnected socket, then
// a second of listening; one row per address that answered.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/options.h"

namespace fleet {

// The pause between two datagrams of a scan: a /24 goes out in about half a second, a /20 in
// eight, so that a range never floods the network or the neighbour tables of its routers.
inline constexpr std::chrono::milliseconds kScanPacing{2};
inline constexpr std::chrono::milliseconds kScanListening{1000};

// The version text of a board's answer, as the tool reads it: after "<VERSION> ", up to a zero
// byte and within the tool's 128-byte reply buffer; nothing when the answer is no version reply.
std::optional<std::string> version_text(std::string_view datagram);

// The answers that came from each address, in the order they came.
using Answers = std::map<std::uint32_t, std::vector<std::string>>;

// One row per address: the address, the first version text made safe for one line, and
// "CONFLICT (n answers)" where more than one answer came from it.
std::vector<std::string> format_scan_rows(const Answers& answers);

// Runs the scan of the options; returns the exit status.
int run_scan(const Options& options);

}  // namespace fleet
