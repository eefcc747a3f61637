// The recipe: the tool's commands that every board goes through, one step a line, with the image
// each update needs. Everything here is checked before anything is sent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "front/command_table.h"

namespace fleet {

// One line of a recipe, or one -e STEP, with where it came from.
struct StepText {
    std::string text;
    std::string origin;  // "recipe.txt line 3", "-e step 2"
};

struct Step {
    std::string word;  // the command word, lower case
    CommandCode code = CommandCode::unknown;
    std::string file;  // the image path handed to the tool; empty for a command without one
    std::uint64_t image_size = 0;
    std::string image_sha256;  // of the image as checked before the run
    std::string origin;

    std::string text() const;  // "updatesys images/os.bin"
};

// The steps of a recipe file's text: every line but blank ones and "#" comments.
std::vector<StepText> recipe_lines(std::string_view text, std::string_view file_name);

// Reads one step: a command word of the tool's table and, where the command needs one, an image
// path (the rest of the line, relative to base_dir unless absolute). cyclic_version is refused,
// since it never ends. Returns the reason when the step is refused; the image is not looked at.
struct ParsedStep {
    std::optional<Step> step;
    std::string error;
};
ParsedStep parse_step(const StepText& line, std::string_view base_dir);

// Steps and every problem found with them, each naming its line.
struct Recipe {
    std::vector<Step> steps;
    std::vector<std::string> errors;
};

// Reads every step and puts each image through the tool's own pre-checks.
Recipe check_steps(const std::vector<StepText>& lines, std::string_view base_dir);

}  // namespace fleet
