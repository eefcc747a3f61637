// What a run and a station share: the children's set, the interrupts, the children ended on an
// interrupt, and the pace of the live view.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "board_run.h"
#include "report/live_view.h"
#include "plan/options.h"
#include "plan/plan.h"
#include "record.h"

namespace fleet {

class Session {
  public:
    Session(const Options& options, const Plan& plan, Record& record);

    subprocess::ProcessSet& set() { return set_; }
    Events& events() { return events_; }
    LivePrinter& printer() { return printer_; }
    Record& record() { return record_; }
    const ToolSettings& settings() const { return settings_; }
    int jobs() const { return jobs_; }

    // Waits for news from the children, an interrupt, or due (none: no limit), waking earlier for
    // the view's next redraw and, while a board may be asking the operator, to look for that.
    void wait(std::optional<Clock::time_point> due, const std::vector<BoardRun*>& running);

    // How many interrupts came since the last call.
    int take_interrupts();

    // Ends the children of the running boards: asks them at the first call, and kills those
    // still running a few seconds later.
    void end_children(const std::vector<BoardRun*>& running);

    // Redraws the view when it is due (on a terminal); forced: at once.
    void show(const std::function<std::vector<BoardLine>()>& lines, const std::string& totals,
              bool forced = false);

  private:
    ToolSettings settings_;
    int jobs_;
    Record& record_;
    LivePrinter printer_;
    Events events_;
    subprocess::ProcessSet set_;
    int interrupts_taken_ = 0;
    std::optional<Clock::time_point> kill_at_;
    Clock::time_point last_redraw_{};
    Clock::time_point last_question_look_{};
    bool news_ = true;
};

// The children of the boards that run now.
std::vector<BoardRun*> running_boards(const std::vector<std::unique_ptr<BoardRun>>& boards);

}  // namespace fleet
