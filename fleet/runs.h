// The two ways tvflash-fleet runs a recipe: over a list of boards once (run), and as a station that
// flashes each board that appears at a target (run --watch). Each returns the exit status.
#pragma once

#include <string>
#include <vector>

#include "plan/options.h"
#include "plan/plan.h"
#include "record.h"

namespace fleet {

int run_batch(const Options& options, const Plan& plan, Record& record);

int run_station(const Options& options, const Plan& plan, Record& record);

// tvflash-fleet itself, given the arguments after the program name; returns the exit status.
int fleet_main(const std::vector<std::string>& args);

}  // namespace fleet
