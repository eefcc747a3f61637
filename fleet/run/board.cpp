#include "run/board.h"

#include "run/error_class.h"
#include "text.h"

namespace fleet {
namespace {

// The verdict needs only the end of a step's output; the transcript has all of it.
constexpr std::size_t kTailKept = 64 * 1024;

std::string how_it_ended(const ChildEnd& end, StepStatus status) {
    std::string how = end.signal != 0 ? "ended by signal " + std::to_string(end.signal)
                                      : "exit status " + std::to_string(end.status);
    return how + " (" + status_word(status) + ")";
}

}  // namespace

Board::Board(std::size_t slot, int number, const Target& target, const std::vector<Step>& steps,
             const ToolSettings& settings)
    : slot_(slot),
      number_(number),
      target_(target),
      steps_(steps),
      settings_(settings),
      results_(steps.size()) {}

Event Board::event(EventKind kind, Clock::time_point now, SystemTime wall) const {
    Event event;
    event.kind = kind;
    event.slot = slot_;
    event.board = number_;
    event.step = step_;
    event.at = now;
    event.wall = wall;
    event.try_number = try_;
    event.tries = 1 + settings_.retries;
    return event;
}

ChildStart Board::child_start() const {
    const Step& step = steps_[step_];
    ChildStart child;
    child.argv = {settings_.tool, format_ipv4(target_.address), std::to_string(target_.port),
                  step.word};
    if (!step.file.empty()) {
        child.argv.push_back(step.file);
    }
    // The tool reads the answer to the bootloader question on its standard input (Windows asks
    // in a message box instead).
    child.input = settings_.answer_yes ? "y\n" : "n\n";
    return child;
}

BoardActions Board::start(Clock::time_point now, SystemTime wall) {
    BoardActions actions;
    actions.events.push_back(event(EventKind::board_started, now, wall));
    start_step(actions);
    return actions;
}

void Board::start_step(BoardActions& actions) {
    progress_ = StepProgress(steps_[step_].image_size);
    shown_stage_ = Stage::starting;
    shown_percent_ = -1;
    output_tail_.clear();
    actions.start = child_start();
}

BoardActions Board::child_started(Clock::time_point now, SystemTime wall) {
    BoardActions actions;
    StepResult& result = results_[step_];
    result = StepResult{};
    result.status = StepStatus::running;
    result.try_number = try_;
    result.start = wall;
    Event started = event(EventKind::step_started, now, wall);
    started.argv = child_start().argv;
    actions.events.push_back(std::move(started));
    return actions;
}

BoardActions Board::not_started(std::string_view error, Clock::time_point now, SystemTime wall) {
    BoardActions actions = child_started(now, wall);
    Event output = event(EventKind::step_output, now, wall);
    output.bytes = error;
    actions.events.push_back(output);
    StepResult& result = results_[step_];
    result.status = StepStatus::failed;
    result.verdict = one_line(error);
    result.how = "not started";
    result.end = wall;
    result.error_class = error_class(result, error);
    Event finished = event(EventKind::step_finished, now, wall);
    finished.result = result;
    actions.events.push_back(std::move(finished));
    end_board(actions, now, wall);
    return actions;
}

BoardActions Board::output(std::string_view bytes, Clock::time_point now) {
    BoardActions actions;
    Event output = event(EventKind::step_output, now, SystemTime{});
    output.bytes = bytes;
    actions.events.push_back(output);
    progress_.feed(bytes);
    output_tail_ += bytes;
    if (output_tail_.size() > 2 * kTailKept) {
        output_tail_.erase(0, output_tail_.size() - kTailKept);
    }
    progress_event(actions, now);
    return actions;
}

void Board::progress_event(BoardActions& actions, Clock::time_point now) {
    if (progress_.stage() == shown_stage_ && progress_.percent() == shown_percent_) {
        return;
    }
    shown_stage_ = progress_.stage();
    shown_percent_ = progress_.percent();
    Event progress = event(EventKind::step_progress, now, SystemTime{});
    progress.stage = shown_stage_;
    progress.percent = shown_percent_;
    actions.events.push_back(progress);
}

BoardActions Board::ended(const ChildEnd& end, Clock::time_point now, SystemTime wall) {
    BoardActions actions;
    StepResult& result = results_[step_];
    result.started = true;
    result.exit_status = end.status;
    result.signal = end.signal;
    result.seconds = end.seconds;
    result.cpu_seconds = end.cpu_seconds;
    result.end = wall;
    result.verdict = verdict_line(output_tail_);
    if (interrupted_) {
        result.status = StepStatus::interrupted;
        result.verdict = "interrupted by the operator";
    } else {
        result.status = end.status == 0 ? StepStatus::passed : StepStatus::failed;
    }
    result.how = how_it_ended(end, result.status);
    if (result.verdict.empty()) {
        result.verdict = result.how;
    }
    result.error_class = error_class(result, output_tail_);
    Event finished = event(EventKind::step_finished, now, wall);
    finished.result = result;
    actions.events.push_back(std::move(finished));
    if (result.status == StepStatus::failed && can_retry(result.error_class) &&
        try_ <= settings_.retries) {
        ++try_;
        start_step(actions);
        actions.start_after = kRetryPause;
        return actions;
    }
    if (result.status == StepStatus::passed && step_ + 1 < steps_.size()) {
        ++step_;
        try_ = 1;
        start_step(actions);
        return actions;
    }
    end_board(actions, now, wall);
    return actions;
}

void Board::end_board(BoardActions& actions, Clock::time_point now, SystemTime wall) {
    const std::size_t last = step_;
    for (step_ = last + 1; step_ < steps_.size(); ++step_) {
        results_[step_].status = StepStatus::skipped;
        Event skipped = event(EventKind::step_finished, now, wall);
        skipped.result = results_[step_];
        actions.events.push_back(std::move(skipped));
    }
    step_ = last;
    finished_ = true;
    Event finished = event(EventKind::board_finished, now, wall);
    finished.results = results_;
    actions.events.push_back(std::move(finished));
}

BoardActions Board::question(bool asking, Clock::time_point now) {
    BoardActions actions;
    progress_.set_operator_question(asking);
    progress_event(actions, now);
    return actions;
}

BoardActions Board::cancel(std::string_view why, Clock::time_point now, SystemTime wall) {
    BoardActions actions;
    // A step waiting to be tried again keeps the failure of its last try.
    StepResult& result = results_[step_];
    if (result.status != StepStatus::failed) {
        result.status = StepStatus::skipped;
        result.verdict = why;
        Event skipped = event(EventKind::step_finished, now, wall);
        skipped.result = result;
        actions.events.push_back(std::move(skipped));
    }
    end_board(actions, now, wall);
    return actions;
}

BoardActions Board::skip(std::string_view why, Clock::time_point now, SystemTime wall) {
    for (StepResult& result : results_) {
        result.status = StepStatus::skipped;
        result.verdict = why;
    }
    finished_ = true;
    BoardActions actions;
    Event finished = event(EventKind::board_finished, now, wall);
    finished.results = results_;
    finished.board_started = false;
    actions.events.push_back(std::move(finished));
    return actions;
}

bool Board::may_ask_operator() const {
    return !finished_ && steps_[step_].code == CommandCode::update_rom &&
           (progress_.stage() == Stage::writing || progress_.stage() == Stage::operator_question);
}

}  // namespace fleet
