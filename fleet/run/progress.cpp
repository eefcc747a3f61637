#include "run/progress.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "text.h"

namespace fleet {
namespace {

constexpr std::size_t kBlockBytes = 1024;
// How the tool's yes/no question ends; the answer read from its standard input is not echoed.
constexpr std::string_view kQuestionPrompt = "[Y/n] ";

// The longest text a stage is told by fits in this much of the current line.
constexpr std::size_t kLineKept = 64;

// The texts of the tool's standard output that begin a stage.
constexpr std::array<std::pair<std::string_view, Stage>, 6> kStageTexts{{
    {"Connecting to target", Stage::probing},
    {"Flash memory is being erased...", Stage::erasing},
    {"Uploading", Stage::uploading},
    {"File transfer consistency check...", Stage::checking},
    {"Updating flash memory...", Stage::writing},
    {"Flash memory configuration", Stage::reading},
}};

// Each stage's word for machines and its text for the live view, in the order of Stage.
struct StageNames {
    Stage stage;
    const char* word;
    std::string_view text;
};
constexpr std::array<StageNames, 8> kStageNames{{
    {Stage::starting, "starting", "starting"},
    {Stage::probing, "probing", "probing"},
    {Stage::erasing, "erasing", "erasing"},
    {Stage::uploading, "uploading", "uploading"},
    {Stage::checking, "checking", "checking"},
    {Stage::writing, "writing", "writing flash"},
    {Stage::reading, "reading", "reading the flash map"},
    {Stage::operator_question, "question", "waiting for the operator (bootloader question)"},
}};
static_assert(kStageNames[static_cast<std::size_t>(Stage::operator_question)].stage ==
              Stage::operator_question);

bool names_failure(std::string_view line) {
    return line.find("FAILED") != std::string_view::npos ||
           line.find("ERROR") != std::string_view::npos;
}

}  // namespace

void StepProgress::feed(std::string_view out) {
    for (char c : out) {
        // Blocks sent again ("+") and seconds of waiting ("*") are no progress.
        if (counting_dots_ && (c == '.' || c == '+' || c == '*')) {
            dots_ += c == '.';
            continue;
        }
        counting_dots_ = false;
        if (c == '\n') {
            line_.clear();
            continue;
        }
        line_ += c;
        if (line_.size() > kLineKept) {
            line_.erase(0, line_.size() - kLineKept);
        }
        on_text(line_);
    }
}

void StepProgress::on_text(std::string_view line) {
    for (const auto& [text, stage] : kStageTexts) {
        if (line.ends_with(text)) {
            stage_ = stage;
            counting_dots_ = stage == Stage::uploading;
        }
    }
}

int StepProgress::percent() const {
    std::uint64_t blocks = (image_size_ + kBlockBytes - 1) / kBlockBytes;
    if (blocks == 0) {
        return 100;
    }
    return static_cast<int>(std::min<std::uint64_t>(100, dots_ * 100 / blocks));
}

void StepProgress::set_operator_question(bool asking) {
    if (asking && stage_ != Stage::operator_question) {
        before_question_ = stage_;
        stage_ = Stage::operator_question;
    } else if (!asking && stage_ == Stage::operator_question) {
        stage_ = before_question_;
    }
}

std::string stage_text(Stage stage, int percent) {
    if (stage == Stage::uploading) {
        std::string number = std::to_string(percent);
        return "uploading " + std::string(3 - std::min<std::size_t>(number.size(), 3), ' ') +
               number + "%";
    }
    return std::string(kStageNames[static_cast<std::size_t>(stage)].text);
}

const char* stage_word(Stage stage) {
    return kStageNames[static_cast<std::size_t>(stage)].word;
}

std::string verdict_line(std::string_view output) {
    std::vector<std::string_view> lines = split_lines(output);
    std::size_t last_text = lines.size();
    std::size_t last_failure = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!trim(lines[i]).empty()) {
            last_text = i;
            last_failure = names_failure(lines[i]) ? i : last_failure;
        }
    }
    if (last_failure == lines.size()) {
        return last_text == lines.size() ? "" : one_line(trim(lines[last_text]));
    }
    std::string_view line = trim(lines[last_failure]);
    // The tool's question and its prompt are no part of the verdict that follows the answer.
    std::size_t prompt = line.rfind(kQuestionPrompt);
    if (prompt != std::string_view::npos) {
        line.remove_prefix(prompt + kQuestionPrompt.size());
    }
    std::string verdict(line);
    // The tool breaks some ERROR messages over two lines.
    bool continues = verdict.find("FAILED") == std::string::npos;
    for (std::size_t i = last_failure + 1; continues && i < lines.size(); ++i) {
        if (!trim(lines[i]).empty()) {
            verdict.append(" ").append(trim(lines[i]));
        }
    }
    return one_line(verdict);
}

std::string failure_text(std::string_view verdict) {
    std::size_t failed = verdict.find("FAILED (");
    if (failed != std::string_view::npos) {
        return std::string(verdict.substr(failed));
    }
    if (verdict.starts_with("ERROR")) {
        return std::string(verdict);
    }
    return verdict.empty() ? "FAILED" : "FAILED: " + std::string(verdict);
}

}  // namespace fleet
