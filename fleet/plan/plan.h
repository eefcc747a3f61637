// Everything a run needs, checked before anything is sent: the steps with their images, the
// targets, and the tool that will run them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/options.h"
#include "plan/recipe.h"
#include "plan/targets.h"

namespace fleet {

struct Plan {
    std::vector<Step> steps;
    std::vector<Target> targets;
    std::string tool;
    std::string recipe_sha256;        // of the recipe file's text, or of the -e steps a line each
    std::vector<std::string> errors;  // each a full message; any of them stops the run
};

// The tvflash beside the program at own_path ("tvflash.exe" beside a ".exe"); plain "tvflash",
// looked up in PATH, when own_path is empty.
std::string tool_beside(std::string_view own_path);

// Reads the recipe (or the -e steps) and the targets, checks every step and image with the
// tool's own checks, and finds the tool.
Plan make_plan(const Options& options);

// A file's whole content; nothing when it cannot be read.
std::optional<std::string> read_text_file(const std::string& path);

}  // namespace fleet
