#include "plan/recipe.h"

#include <filesystem>

#include "front/image_check.h"
#include "text.h"

namespace fleet {
namespace {

// The tool's refusal without its empty line, "ERROR: " and line end.
std::string refusal_reason(std::string_view refusal) {
    std::string_view reason = trim(refusal.substr(refusal.find_first_not_of('\n')));
    if (reason.starts_with("ERROR: ")) {
        reason.remove_prefix(7);
    }
    while (reason.ends_with('\n')) {
        reason.remove_suffix(1);
    }
    return std::string(reason);
}

std::string image_path(std::string_view file, std::string_view base_dir) {
    std::filesystem::path path{std::string(file)};
    if (path.is_absolute() || base_dir.empty()) {
        return path.generic_string();
    }
    return (std::filesystem::path(std::string(base_dir)) / path).generic_string();
}

}  // namespace

std::string Step::text() const {
    return file.empty() ? word : word + " " + file;
}

std::vector<StepText> recipe_lines(std::string_view text, std::string_view file_name) {
    std::vector<StepText> steps;
    int number = 0;
    for (std::string_view line : split_lines(text)) {
        ++number;
        std::string_view content = trim(line);
        if (!content.empty() && !content.starts_with('#')) {
            steps.push_back(
                {std::string(content), std::string(file_name) + " line " + std::to_string(number)});
        }
    }
    return steps;
}

ParsedStep parse_step(const StepText& line, std::string_view base_dir) {
    std::string_view text = trim(line.text);
    std::size_t blank = text.find_first_of(" \t");
    std::string word = to_lower_ascii(text.substr(0, blank));
    std::string_view file =
        blank == std::string_view::npos ? std::string_view() : trim(text.substr(blank));
    std::optional<CommandEntry> entry = find_command(word);
    if (!entry) {
        return {std::nullopt, "unknown command '" + one_line(word) + "'"};
    }
    if (entry->code == CommandCode::cyclic_version) {
        return {std::nullopt, "cyclic_version never ends, so it cannot be a step"};
    }
    bool needs_file = command_needs_file(word);
    if (needs_file && file.empty()) {
        return {std::nullopt, word + " needs an image file"};
    }
    if (!needs_file && !file.empty()) {
        return {std::nullopt, word + " takes no file, but '" + one_line(file) + "' follows it"};
    }
    Step step{word, entry->code, needs_file ? image_path(file, base_dir) : "", 0, "", line.origin};
    return {step, ""};
}

Recipe check_steps(const std::vector<StepText>& lines, std::string_view base_dir) {
    Recipe recipe;
    for (const StepText& line : lines) {
        ParsedStep parsed = parse_step(line, base_dir);
        if (!parsed.step) {
            recipe.errors.push_back(line.origin + ": " + parsed.error);
            continue;
        }
        Step& step = *parsed.step;
        if (!step.file.empty()) {
            std::string refusal = image_refusal(step.code, step.file, step.image_size);
            if (!refusal.empty()) {
                recipe.errors.push_back(line.origin + ": " + one_line(refusal_reason(refusal)));
                continue;
            }
        }
        recipe.steps.push_back(step);
    }
    return recipe;
}

}  // namespace fleet
