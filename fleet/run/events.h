// The stream of board events: the scheduler tells what happens to every target and board, and the
// outputs (the live view, the plain lines, the transcripts, summary.csv) each consume the same
// events. None of them reaches back into the scheduler; more outputs are more consumers.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run/progress.h"

namespace fleet {

using Clock = std::chrono::steady_clock;
using SystemTime = std::chrono::system_clock::time_point;

enum class StepStatus { pending, running, passed, failed, skipped, interrupted };

// "passed", "failed", ...
const char* status_word(StepStatus status);

// How one step of a board ended.
struct StepResult {
    StepStatus status = StepStatus::pending;
    std::string verdict;   // the tool's line that tells how it ended, made safe for one line
    std::string how;       // "exit status 1 (failed)", "ended by signal 15 (interrupted)", ...
    int exit_status = -1;  // the tool's exit code; -1 when it did not start or a signal ended it
    int signal = 0;
    bool started = false;  // false: the tool could not be started, or the step never ran
    SystemTime start{};
    SystemTime end{};
    double seconds = 0;
    double cpu_seconds = 0;
    int try_number = 1;       // 1, or more for a step tried again
    std::string error_class;  // why it failed (run/error_class.h); empty when it did not
};

// The boards of a run: how many there were (a station: how many it flashed), and how they ended.
struct RunTotals {
    std::size_t boards = 0;
    std::size_t passed = 0;
    std::size_t failed = 0;  // failed or interrupted; a board that never started is neither
};

enum class EventKind {
    run_started,     // the targets are known; nothing has been sent
    board_found,     // station: a board answered at its target after a silence
    board_left,      // station: the flashed board's address stayed silent for the gone time
    board_started,   // a board begins the recipe
    step_started,    // the tool of a step started (argv)
    step_output,     // what the tool wrote, as it came (bytes)
    step_progress,   // the step's stage or share changed
    step_finished,   // a step ended, or was skipped (result)
    board_finished,  // a board is through: every step's result (results)
    stopping,        // an interrupt came: level 1 stops new boards, level 2 ends the tools
    run_finished,    // every tool has ended and the record is closed (totals, exit_status)
};

// One event. Targets and steps are named by their index in the plan, which every consumer has.
struct Event {
    EventKind kind = EventKind::run_started;
    std::size_t slot = 0;  // the target's index
    int board = 0;         // the board's number at its target: 1, 2, ... (a station counts them)
    std::size_t step = 0;  // the step's index
    Clock::time_point at{};
    SystemTime wall{};

    double silence = -1;            // board_found, board_left: seconds the address was silent
    std::string text;               // board_found: the board's version text
    Stage stage = Stage::starting;  // step_progress
    int percent = 0;
    std::vector<std::string> argv;    // step_started
    int try_number = 1;               // the step's try: 1, or more for a step tried again
    int tries = 1;                    // the most tries a step gets
    std::string_view bytes;           // step_output, valid during the call only
    StepResult result;                // step_finished
    std::vector<StepResult> results;  // board_finished: one per step
    bool board_started = true;        // board_finished: false for a board that never started
    int level = 0;                    // stopping
    RunTotals totals;                 // run_finished
    int exit_status = 0;              // run_finished
};

// A consumer of the events.
class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void on_event(const Event& event) = 0;
    // Called at the time next_tick() asked for, for outputs that redraw or show clocks.
    virtual void on_tick(Clock::time_point) {}
    // When the sink next wants on_tick; none when it does not.
    virtual std::optional<Clock::time_point> next_tick() const { return std::nullopt; }
};

// Passes every event to each sink in turn, in the order they were added.
class EventFanout : public EventSink {
  public:
    void add(EventSink& sink) { sinks_.push_back(&sink); }
    void on_event(const Event& event) override;
    void on_tick(Clock::time_point now) override;
    std::optional<Clock::time_point> next_tick() const override;

  private:
    std::vector<EventSink*> sinks_;
};

// True when every step of the results passed.
bool all_passed(const std::vector<StepResult>& results);

}  // namespace fleet
