// What every target shows now, kept from the board events: the live view draws it, and any other
// output that shows the run as it stands can read it too.
#pragma once

#include <string>
#include <vector>

#include "plan/plan.h"
#include "report/live_view.h"
#include "run/events.h"

namespace fleet {

// One target as it stands.
struct SlotView {
    bool found = false;     // a station: a board answered and waits for its turn
    bool started = false;   // a board has started here (and not left since)
    bool finished = false;  // that board is through
    bool skipped = false;   // a run's board that never started
    int board = 0;
    std::size_t step = 0;  // the board's current or last step
    int try_number = 1;    // the step's try
    int tries = 1;
    Stage stage = Stage::starting;
    int percent = 0;
    Clock::time_point board_start{};
    Clock::time_point board_end{};
    bool passed = false;
    StepStatus last_status = StepStatus::pending;  // of the last step that ran
    std::string verdict;                           // of that step
    double silence = -1;    // a station: the silence before the last board was found, or left
    std::string version;    // a station: the version text of the board found last
    bool left = false;      // the last board left (rather than was found)
    int boards_passed = 0;  // a station: the boards of this target so far
    int boards_failed = 0;
    const char* state = "queued";  // slot_state() as the last event left it
    Clock::time_point since{};     // when the target came into that state
};

// The target's state as one word for the page and machines: "queued" (a run's board not started
// yet, or a station's board found and waiting for its turn), "waiting" (a station waiting for a
// board), "running", "question" (waiting for the operator), "passed", "failed", "interrupted" or
// "skipped" (a run's board that never started). A station's finished board keeps its result
// until it leaves.
const char* slot_state(const SlotView& view, bool station);

// "after 12.3 s of silence": how a station tells the silence before a board was found or left.
std::string silence_text(double seconds);

class BoardViews : public EventSink {
  public:
    BoardViews(const Plan& plan, bool station);
    void on_event(const Event& event) override;

    const std::vector<SlotView>& slots() const { return slots_; }
    bool station() const { return station_; }
    // The level of the last stopping event: 0 while the run goes on.
    int stopping() const { return stopping_; }
    Clock::time_point run_start() const { return run_start_; }

    // The live view's lines of the targets, at now.
    std::vector<BoardLine> lines(Clock::time_point now) const;
    // The live view's totals line, at now.
    std::string totals(Clock::time_point now) const;

  private:
    void update(SlotView& view, const Event& event);
    BoardLine line(std::size_t slot, Clock::time_point now) const;

    const Plan& plan_;
    bool station_;
    std::vector<SlotView> slots_;
    int stopping_ = 0;
    Clock::time_point run_start_{};
};

}  // namespace fleet
