// One board going through the recipe, as a state machine without processes: the scheduler tells
// it what happened to its tool (started, wrote, ended), and it answers with the events to report
// and the next tool to start. A board's first failing step ends it; the steps after are skipped.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/recipe.h"
#include "plan/targets.h"
#include "run/events.h"
#include "run/progress.h"

namespace fleet {

// What every tool is started with.
struct ToolSettings {
    std::string tool;  // the tvflash program
    bool answer_yes = false;
    int retries = 0;  // more tries of a step whose failure a new try can mend
};

// How long a step waits before it is tried again.
inline constexpr std::chrono::milliseconds kRetryPause{1000};

// A tool the scheduler is to start for the board: its command line and its whole standard input.
struct ChildStart {
    std::vector<std::string> argv;
    std::string input;
};

// How a board's tool ended.
struct ChildEnd {
    int status = -1;  // the exit code; -1 when a signal ended it
    int signal = 0;
    double seconds = 0;  // from its start to its end
    double cpu_seconds = 0;
};

// What the board asks of the scheduler after each input: the events, in order, and maybe a tool
// to start.
struct BoardActions {
    std::vector<Event> events;
    std::optional<ChildStart> start;
    std::chrono::milliseconds start_after{0};  // a try again waits a little first
};

class Board {
  public:
    // number: the board's number at its target (1 outside a station).
    Board(std::size_t slot, int number, const Target& target, const std::vector<Step>& steps,
          const ToolSettings& settings);

    // Begins the recipe: the first step's tool.
    BoardActions start(Clock::time_point now, SystemTime wall);
    // The tool the board asked for has started.
    BoardActions child_started(Clock::time_point now, SystemTime wall);
    // The tool the board asked for could not be started: the step fails with error.
    BoardActions not_started(std::string_view error, Clock::time_point now, SystemTime wall);
    // The running tool wrote bytes (standard output and error as they came). The events refer to
    // bytes, which must outlive them.
    BoardActions output(std::string_view bytes, Clock::time_point now);
    // The running tool ended: its step's result, then the next step's tool or the board's end.
    BoardActions ended(const ChildEnd& end, Clock::time_point now, SystemTime wall);
    // Whether the tool now waits for the operator in a window (Windows).
    BoardActions question(bool asking, Clock::time_point now);
    // The running tool is being ended by an interrupt: its step counts as interrupted, and no
    // further step starts.
    void interrupt() { interrupted_ = true; }
    // The tool asked for is not to start (an interrupt came between two steps or tries): the step
    // is skipped for why (a step waiting to be tried again keeps its last failure), and so are
    // the steps after it.
    BoardActions cancel(std::string_view why, Clock::time_point now, SystemTime wall);
    // A board that never started: every step skipped for why.
    BoardActions skip(std::string_view why, Clock::time_point now, SystemTime wall);

    bool finished() const { return finished_; }
    // True while the running step is an update that may ask the bootloader question.
    bool may_ask_operator() const;

  private:
    Event event(EventKind kind, Clock::time_point now, SystemTime wall) const;
    void start_step(BoardActions& actions);
    void progress_event(BoardActions& actions, Clock::time_point now);
    void end_board(BoardActions& actions, Clock::time_point now, SystemTime wall);
    ChildStart child_start() const;

    std::size_t slot_;
    int number_;
    Target target_;
    std::vector<Step> steps_;
    ToolSettings settings_;
    std::vector<StepResult> results_;
    std::size_t step_ = 0;
    int try_ = 1;
    bool finished_ = false;
    bool interrupted_ = false;
    StepProgress progress_;
    Stage shown_stage_ = Stage::starting;
    int shown_percent_ = -1;
    std::string output_tail_;  // the end of the running step's output, for its verdict
};

}  // namespace fleet
