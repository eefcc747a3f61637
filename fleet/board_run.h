// One board going through the recipe: a tvflash child per step, its output read as it comes into
// the transcript and the progress, the step's verdict when it ends, the next step after a success
// and the rest skipped after a failure.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "report/live_view.h"
#include "process/subprocess.h"
#include "run/progress.h"
#include "plan/recipe.h"
#include "record.h"
#include "plan/targets.h"

namespace fleet {

using Clock = std::chrono::steady_clock;

enum class StepStatus { pending, running, passed, failed, skipped, interrupted };

const char* status_word(StepStatus status);

struct StepResult {
    StepStatus status = StepStatus::pending;
    std::string verdict;
    SystemTime start{};
    double seconds = 0;
};

// What every child is started with.
struct ToolSettings {
    std::string tool;  // the tvflash program
    bool answer_yes = false;
};

// Where a board's events go: the plain lines of the live view.
class Events {
  public:
    explicit Events(LivePrinter& printer) : printer_(printer) {}
    // Prints the event as a plain line when the view is not redrawn in place.
    void note(std::string_view target, std::string_view step, std::string_view what);

  private:
    LivePrinter& printer_;
};

class BoardRun {
  public:
    // The transcript goes to transcript_path once the board starts.
    BoardRun(const Target& target, const std::vector<Step>& steps, std::string transcript_path);

    const Target& target() const { return target_; }
    bool started() const { return started_; }
    bool running() const { return process_ != nullptr; }
    bool finished() const { return finished_; }
    bool passed() const;

    // Starts the first step.
    void start(subprocess::ProcessSet& set, const ToolSettings& settings, Events& events);
    // Takes what the running child wrote and, once it has ended, records its step and goes on.
    void update(subprocess::ProcessSet& set, const ToolSettings& settings, Events& events);
    // Whether the running child now waits for the operator in a window (Windows); when it may.
    void look_for_question(Events& events);
    bool may_ask_operator() const;

    // Ends the running child (terminate: asks; kill: at once); its step counts as interrupted and
    // the steps after it are skipped.
    void interrupt(bool kill);
    // Marks every step of a board that never started as skipped.
    void skip_all(Events& events, std::string_view why);

    // The view's line of this board.
    BoardLine view_line(Clock::time_point now) const;
    // The rows of summary.csv for this board.
    std::vector<std::vector<std::string>> summary_rows() const;

  private:
    std::string step_label(std::size_t index) const;
    std::vector<std::string> child_argv(const ToolSettings& settings) const;
    void start_step(subprocess::ProcessSet& set, const ToolSettings& settings, Events& events);
    void take_output();
    void end_step(Events& events);
    void end_board(Events& events);

    Target target_;
    std::vector<Step> steps_;
    std::vector<StepResult> results_;
    std::size_t step_ = 0;
    bool started_ = false;
    bool finished_ = false;
    bool interrupted_ = false;
    std::unique_ptr<subprocess::Process> process_;
    StepProgress progress_;
    std::string output_tail_;  // the end of the running step's output, for its verdict
    Clock::time_point board_started_;
    Clock::time_point board_ended_;
    std::string transcript_path_;
    Transcript transcript_;
};

}  // namespace fleet
