// The scheduler: the one owner of the tools (children), the timers and the interrupts. It starts
// each board's tools, at most -j boards at once, feeds what they do to the boards' state machines,
// and passes the events these give to the outputs. A run goes over the list of targets once; a
// station (run --watch) flashes each board that appears at a target until it is interrupted.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plan/plan.h"
#include "run/board.h"
#include "run/events.h"
#include "run/station_watch.h"

namespace subprocess {
class ProcessSet;
class Process;
}  // namespace subprocess

namespace fleet {

struct RunSettings {
    int jobs = 8;
    bool station = false;
    double gone_seconds = 10;
    ToolSettings tool;
};

class Scheduler {
  public:
    // From here on interrupts (Ctrl-C, SIGTERM) are the scheduler's: they no longer end the
    // program.
    Scheduler(const Plan& plan, const RunSettings& settings, EventSink& sink);
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    // A station's socket; false with the reason.
    bool open(std::string& error);

    // Runs until every board is through (a run) or the interrupts stopped it (a station), every
    // tool it started having ended; returns the counts of boards.
    RunTotals run();

  private:
    struct Slot {
        std::unique_ptr<Board> board;  // the board running now, or the last one
        std::unique_ptr<subprocess::Process> child;
        std::optional<ChildStart> pending;  // a step to be tried again once retry_at is past
        Clock::time_point retry_at{};
        int boards = 0;  // how many boards this target has had
    };

    void emit(const Event& event);
    void apply(Slot& slot, BoardActions actions);
    void start_child(Slot& slot, ChildStart child);
    void start_board(std::size_t index);
    void start_ready();
    void start_due_retries();
    bool interrupt_pending() const;
    void take_interrupts();
    void end_tools(bool at_once);
    void watch(Clock::time_point now);
    void read_children();
    void look_for_questions(Clock::time_point now);
    void wait();
    std::optional<Clock::time_point> next_due() const;
    std::size_t running() const;
    bool done() const;
    void finish();

    const Plan& plan_;
    RunSettings settings_;
    EventSink& sink_;
    std::unique_ptr<subprocess::ProcessSet> set_;
    std::vector<Slot> slots_;
    std::optional<StationWatch> watch_;
    std::size_t next_queued_ = 0;  // a run: the next target to start
    RunTotals totals_;
    int interrupts_taken_ = 0;
    int level_ = 0;  // 0: running; 1: no new boards; 2: the tools are being ended
    std::optional<Clock::time_point> kill_at_;
    Clock::time_point last_question_look_{};
    bool output_came_ = false;
};

}  // namespace fleet
