#include "board_run.h"

#include "terminal.h"
#include "text.h"

namespace fleet {
namespace {

// The verdict needs only the end of a step's output; the transcript has all of it.
constexpr std::size_t kTailKept = 64 * 1024;

double seconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

std::string how_it_ended(const subprocess::Exit& exit, StepStatus status) {
    std::string how = exit.signal != 0 ? "ended by signal " + std::to_string(exit.signal)
                                       : "exit status " + std::to_string(exit.status);
    return how + " (" + status_word(status) + ")";
}

}  // namespace

const char* status_word(StepStatus status) {
    switch (status) {
        case StepStatus::pending:
            return "pending";
        case StepStatus::running:
            return "running";
        case StepStatus::passed:
            return "passed";
        case StepStatus::failed:
            return "failed";
        case StepStatus::skipped:
            return "skipped";
        case StepStatus::interrupted:
            return "interrupted";
    }
    return "";
}

void Events::note(std::string_view target, std::string_view step, std::string_view what) {
    if (!printer_.smart()) {
        printer_.print_line(format_event(target, step, what));
    }
}

BoardRun::BoardRun(const Target& target, const std::vector<Step>& steps,
                   std::string transcript_path)
    : target_(target),
      steps_(steps),
      results_(steps.size()),
      transcript_path_(std::move(transcript_path)) {}

bool BoardRun::passed() const {
    for (const StepResult& result : results_) {
        if (result.status != StepStatus::passed) {
            return false;
        }
    }
    return finished_;
}

std::string BoardRun::step_label(std::size_t index) const {
    return "step " + std::to_string(index + 1) + "/" + std::to_string(steps_.size()) + " " +
           steps_[index].text();
}

std::vector<std::string> BoardRun::child_argv(const ToolSettings& settings) const {
    const Step& step = steps_[step_];
    std::vector<std::string> argv{settings.tool, format_ipv4(target_.address),
                                  std::to_string(target_.port), step.word};
    if (!step.file.empty()) {
        argv.push_back(step.file);
    }
    return argv;
}

void BoardRun::start(subprocess::ProcessSet& set, const ToolSettings& settings, Events& events) {
    started_ = true;
    board_started_ = Clock::now();
    transcript_.open(transcript_path_);
    transcript_.begin(target_.text(), steps_.size());
    start_step(set, settings, events);
}

void BoardRun::start_step(subprocess::ProcessSet& set, const ToolSettings& settings,
                          Events& events) {
    const Step& step = steps_[step_];
    progress_ = StepProgress(step.image_size);
    output_tail_.clear();
    StepResult& result = results_[step_];
    result.status = StepStatus::running;
    result.start = std::chrono::system_clock::now();
    subprocess::Command command;
    command.argv = child_argv(settings);
    // The tool reads the answer to the bootloader question on its standard input (Windows asks
    // in a message box instead).
    command.input = settings.answer_yes ? "y\n" : "n\n";
    // One pipe for both streams keeps them in the order the tool wrote them, as a console shows
    // them.
    command.err = subprocess::Sink::to_output;
    command.own_group = true;
    command.end_with_parent = true;
    transcript_.begin_step(step_, steps_.size(), step.text(), command.argv, result.start);
    events.note(target_.text(), step_label(step_), "started");
    std::string error;
    process_ = set.start(command, error);
    if (!process_) {
        result.status = StepStatus::failed;
        result.verdict = one_line(error);
        transcript_.output(error);
        transcript_.end_step("not started", 0, 0, std::chrono::system_clock::now());
        events.note(target_.text(), step_label(step_), "FAILED: " + result.verdict);
        end_board(events);
    }
}

void BoardRun::take_output() {
    for (subprocess::Chunk& chunk : process_->take_output()) {
        transcript_.output(chunk.bytes);
        progress_.feed(chunk.bytes);
        output_tail_ += chunk.bytes;
        if (output_tail_.size() > 2 * kTailKept) {
            output_tail_.erase(0, output_tail_.size() - kTailKept);
        }
    }
}

void BoardRun::update(subprocess::ProcessSet& set, const ToolSettings& settings, Events& events) {
    if (!process_) {
        return;
    }
    take_output();
    if (!process_->done()) {
        return;
    }
    end_step(events);
    if (!finished_) {
        start_step(set, settings, events);
    }
}

void BoardRun::end_step(Events& events) {
    const subprocess::Exit& exit = process_->exit();
    StepResult& result = results_[step_];
    result.seconds = seconds_between(process_->started(), exit.seen);
    result.verdict = verdict_line(output_tail_);
    if (interrupted_) {
        result.status = StepStatus::interrupted;
        result.verdict = "interrupted by the operator";
    } else {
        result.status = exit.status == 0 ? StepStatus::passed : StepStatus::failed;
    }
    if (result.verdict.empty()) {
        result.verdict = how_it_ended(exit, result.status);
    }
    transcript_.end_step(how_it_ended(exit, result.status), result.seconds, exit.cpu_seconds,
                         std::chrono::system_clock::now());
    std::string what = result.status == StepStatus::passed ? "passed" : "FAILED";
    if (result.status == StepStatus::interrupted) {
        what = "interrupted";
    }
    events.note(target_.text(), step_label(step_),
                what + " (" + format_seconds(result.seconds) + " s): " + result.verdict);
    process_.reset();
    if (result.status == StepStatus::passed && step_ + 1 < steps_.size()) {
        ++step_;
        return;
    }
    end_board(events);
}

void BoardRun::end_board(Events& events) {
    for (std::size_t i = step_ + 1; i < steps_.size(); ++i) {
        results_[i].status = StepStatus::skipped;
        transcript_.skipped_step(i, steps_.size(), steps_[i].text());
        events.note(target_.text(), step_label(i), "skipped");
    }
    finished_ = true;
    board_ended_ = Clock::now();
    std::string what = passed()
                           ? "passed, all steps done"
                           : std::string(status_word(results_[step_].status)) + " at step " +
                                 std::to_string(step_ + 1) + "/" + std::to_string(steps_.size());
    events.note(target_.text(), "", what);
}

bool BoardRun::may_ask_operator() const {
    return process_ && steps_[step_].code == CommandCode::update_rom &&
           (progress_.stage() == Stage::writing || progress_.stage() == Stage::operator_question);
}

void BoardRun::look_for_question(Events& events) {
    if (!may_ask_operator()) {
        return;
    }
    bool asking = terminal::shows_window(process_->id());
    bool was_asking = progress_.stage() == Stage::operator_question;
    progress_.set_operator_question(asking);
    if (asking && !was_asking) {
        events.note(target_.text(), step_label(step_), stage_text(progress_.stage(), 0));
    }
}

void BoardRun::interrupt(bool kill) {
    if (!process_) {
        return;
    }
    interrupted_ = true;
    if (kill) {
        process_->kill();
    } else {
        process_->terminate();
    }
}

void BoardRun::skip_all(Events& events, std::string_view why) {
    for (StepResult& result : results_) {
        result.status = StepStatus::skipped;
        result.verdict = why;
    }
    finished_ = true;
    events.note(target_.text(), "", "skipped: " + std::string(why));
}

BoardLine BoardRun::view_line(Clock::time_point now) const {
    BoardLine line{target_.text(), "", "queued", -1, Rank::waiting};
    if (!started_) {
        return line;
    }
    line.step = "step " + std::to_string(step_ + 1) + "/" + std::to_string(steps_.size()) + " " +
                steps_[step_].word;
    if (!finished_) {
        line.status = stage_text(progress_.stage(), progress_.percent());
        line.elapsed = seconds_between(board_started_, now);
        line.rank = Rank::running;
        return line;
    }
    line.elapsed = seconds_between(board_started_, board_ended_);
    const StepResult& last = results_[step_];
    if (passed()) {
        line.status = "done";
        line.rank = Rank::done;
    } else {
        line.status = last.status == StepStatus::interrupted ? std::string("interrupted")
                                                             : failure_text(last.verdict);
        line.rank = Rank::failed;
    }
    return line;
}

std::vector<std::vector<std::string>> BoardRun::summary_rows() const {
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        const StepResult& result = results_[i];
        bool ran = result.status != StepStatus::skipped && result.status != StepStatus::pending;
        rows.push_back({target_.text(), std::to_string(i + 1), steps_[i].word, steps_[i].file,
                        status_word(result.status), result.verdict,
                        ran ? format_local_time(result.start) : "",
                        ran ? format_seconds(result.seconds) : ""});
    }
    return rows;
}

}  // namespace fleet
