#include "plan/plan.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "os/files.h"
#include "plan/sha256.h"
#include "process/subprocess.h"
#include "text.h"

namespace fleet {
namespace {

std::vector<StepText> inline_steps(const std::vector<std::string>& texts) {
    std::vector<StepText> steps;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        steps.push_back({texts[i], "-e step " + std::to_string(i + 1)});
    }
    return steps;
}

// The recipe's text: the file's, or the -e steps one a line.
std::optional<std::string> recipe_text(const Options& options) {
    if (options.inline_steps.empty()) {
        return read_text_file(options.recipe);
    }
    std::string text;
    for (const std::string& step : options.inline_steps) {
        text += step + "\n";
    }
    return text;
}

Recipe read_recipe(const Options& options, const std::optional<std::string>& text) {
    if (!options.inline_steps.empty()) {
        return check_steps(inline_steps(options.inline_steps), "");
    }
    if (!text) {
        return {{}, {"cannot read the recipe '" + options.recipe + "'"}};
    }
    std::string base_dir = std::filesystem::path(options.recipe).parent_path().string();
    Recipe recipe = check_steps(recipe_lines(*text, options.recipe), base_dir);
    if (recipe.steps.empty() && recipe.errors.empty()) {
        recipe.errors.push_back(options.recipe + ": the recipe holds no step");
    }
    return recipe;
}

TargetList read_targets(const Options& options) {
    TargetList list;
    for (std::size_t i = 0; i < options.targets.size(); ++i) {
        const std::string& argument = options.targets[i];
        std::optional<std::string> file_text;
        if (argument.starts_with('@')) {
            file_text = read_text_file(argument.substr(1));
        }
        add_targets(list, argument, "target '" + argument + "'", file_text);
    }
    return list;
}

}  // namespace

std::string tool_beside(std::string_view own_path) {
    if (own_path.empty()) {
        return "tvflash";
    }
    std::filesystem::path own{std::string(own_path)};
    std::string name = own.extension() == ".exe" ? "tvflash.exe" : "tvflash";
    return (own.parent_path() / name).string();
}

Plan make_plan(const Options& options) {
    Plan plan;
    std::optional<std::string> text = recipe_text(options);
    Recipe recipe = read_recipe(options, text);
    plan.steps = recipe.steps;
    plan.errors = recipe.errors;
    plan.recipe_sha256 = sha256_hex(text.value_or(""));
    for (Step& step : plan.steps) {
        // The image as it was checked: the record names what went onto each board by it.
        std::optional<std::string> image =
            step.file.empty() ? std::nullopt : read_text_file(step.file);
        step.image_sha256 = image ? sha256_hex(*image) : "";
    }
    TargetList targets = read_targets(options);
    plan.targets = targets.targets;
    plan.errors.insert(plan.errors.end(), targets.errors.begin(), targets.errors.end());
    plan.tool =
        options.tool.empty() ? tool_beside(subprocess::own_executable_path()) : options.tool;
    std::string why;
    if (!files::find_program(plan.tool, why)) {
        plan.errors.push_back("the tool " + quote(plan.tool) + " " + why +
                              " (give it with --tool PATH)");
    }
    return plan;
}

std::optional<std::string> read_text_file(const std::string& path) {
    std::error_code failure;
    if (!std::filesystem::is_regular_file(path, failure)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace fleet
