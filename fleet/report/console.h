// What the operator sees on standard output: on a terminal the live view, redrawn in place;
// anywhere else (pipes, CI logs) one plain line per event. Then, when the run is over, the summary.
#pragma once

#include <string>
#include <vector>

#include "plan/plan.h"
#include "report/board_views.h"
#include "report/live_view.h"
#include "run/events.h"

namespace fleet {

class ConsoleReport : public EventSink {
  public:
    // smart: redraw the view in place (a terminal). record_dir: the record's folder, named at the
    // end.
    ConsoleReport(const Plan& plan, bool station, bool smart, std::string record_dir);

    void on_event(const Event& event) override;
    void on_tick(Clock::time_point now) override;
    std::optional<Clock::time_point> next_tick() const override;

    // Writes a line on standard error without breaking the view.
    void error_line(const std::string& line);
    // The record could not be written whole: the end says so.
    void record_incomplete() { record_incomplete_ = true; }

  private:
    void plain_line(const Event& event);
    void notice(const Event& event);
    void redraw(Clock::time_point now);
    void print_summary(const Event& event);
    std::string step_label(std::size_t step) const;

    const Plan& plan_;
    BoardViews views_;
    LivePrinter printer_;
    std::string record_dir_;
    bool record_incomplete_ = false;
    std::vector<std::vector<StepResult>> results_;  // per target, a run's board once finished
    Clock::time_point last_redraw_{};
    bool news_ = true;
};

}  // namespace fleet
