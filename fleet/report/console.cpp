#include "report/console.h"

#include <cstdio>

#include "os/terminal.h"
#include "report/record.h"
#include "text.h"

namespace fleet {
namespace {

using std::chrono::milliseconds;

// A redraw soon after news, and once a second anyway for the clocks.
constexpr milliseconds kRedrawAfterNews{100};
constexpr milliseconds kRedrawAnyway{1000};

std::string count_of_boards(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " board" : " boards");
}

std::string step_end_text(const StepResult& result) {
    if (result.status == StepStatus::skipped) {
        return "skipped";
    }
    if (!result.started) {
        return "FAILED: " + result.verdict;
    }
    std::string what = result.status == StepStatus::passed        ? "passed"
                       : result.status == StepStatus::interrupted ? "interrupted"
                                                                  : "FAILED";
    return what + " (" + format_seconds(result.seconds) + " s): " + result.verdict;
}

std::string board_end_text(const Event& event, std::size_t steps) {
    if (!event.board_started) {
        return "skipped: " + (event.results.empty() ? std::string() : event.results[0].verdict);
    }
    if (all_passed(event.results)) {
        return "passed, all steps done";
    }
    return std::string(status_word(event.results[event.step].status)) + " at step " +
           std::to_string(event.step + 1) + "/" + std::to_string(steps);
}

}  // namespace

ConsoleReport::ConsoleReport(const Plan& plan, bool station, bool smart, std::string record_dir)
    : plan_(plan),
      views_(plan, station),
      printer_(smart),
      record_dir_(std::move(record_dir)),
      results_(plan.targets.size()) {}

std::string ConsoleReport::step_label(std::size_t step) const {
    return "step " + std::to_string(step + 1) + "/" + std::to_string(plan_.steps.size()) + " " +
           plan_.steps[step].text();
}

void ConsoleReport::on_event(const Event& event) {
    notice(event);
    if (!printer_.smart()) {
        plain_line(event);
    }
    views_.on_event(event);
    news_ = true;
    if (event.kind == EventKind::board_finished && !views_.station()) {
        results_[event.slot] = event.results;
    }
    if (event.kind == EventKind::run_finished) {
        print_summary(event);
    }
}

void ConsoleReport::plain_line(const Event& event) {
    const std::string target = plan_.targets[event.slot].text();
    std::string line;
    switch (event.kind) {
        case EventKind::board_found:
            line = format_event(target, "", "board found " + silence_text(event.silence));
            break;
        case EventKind::board_left:
            line = format_event(target, "", "board left " + silence_text(event.silence));
            break;
        case EventKind::step_started:
            line = format_event(target, step_label(event.step),
                                event.try_number > 1
                                    ? "started (try " + std::to_string(event.try_number) + "/" +
                                          std::to_string(event.tries) + ")"
                                    : std::string("started"));
            break;
        case EventKind::step_progress:
            if (event.stage == Stage::operator_question &&
                views_.slots()[event.slot].stage != Stage::operator_question) {
                line = format_event(target, step_label(event.step), stage_text(event.stage, 0));
            }
            break;
        case EventKind::step_finished:
            line = format_event(target, step_label(event.step), step_end_text(event.result));
            break;
        case EventKind::board_finished:
            line = format_event(target, "", board_end_text(event, plan_.steps.size()));
            break;
        default:
            break;
    }
    if (!line.empty()) {
        printer_.print_line(line);
    }
}

// The lines every console gets, a terminal's live view or not.
void ConsoleReport::notice(const Event& event) {
    if (event.kind == EventKind::run_started && views_.station()) {
        printer_.print_line("Watching " + std::to_string(plan_.targets.size()) +
                            " targets for boards; Ctrl-C stops.");
    }
    if (event.kind == EventKind::stopping && views_.stopping() == 0) {
        printer_.print_line(views_.station()
                                ? "Stopping: the runs in progress finish; Ctrl-C again ends them."
                                : "Interrupted: ending the tools that run.");
    }
}

std::optional<Clock::time_point> ConsoleReport::next_tick() const {
    if (!printer_.smart()) {
        return std::nullopt;
    }
    return last_redraw_ + (news_ ? kRedrawAfterNews : kRedrawAnyway);
}

void ConsoleReport::on_tick(Clock::time_point now) {
    redraw(now);
}

void ConsoleReport::redraw(Clock::time_point now) {
    if (!printer_.smart()) {
        return;
    }
    terminal::Size size = terminal::output_size();
    printer_.redraw(format_view(views_.lines(now), views_.totals(now), size.columns, size.rows));
    last_redraw_ = now;
    news_ = false;
}

void ConsoleReport::error_line(const std::string& line) {
    printer_.print_error(line);
}

void ConsoleReport::print_summary(const Event& event) {
    redraw(event.at);
    printer_.finish();
    const std::string record =
        "Record: " + record_dir_ + (record_incomplete_ ? " (incomplete: see the error above)" : "");
    if (views_.station()) {
        std::printf("\nBoards passed: %zu, boards failed: %zu.\n%s\n", event.totals.passed,
                    event.totals.failed, record.c_str());
        std::fflush(stdout);
        return;
    }
    std::vector<std::vector<std::string>> rows{
        {"target", "step", "command", "status", "seconds", "verdict"}};
    for (std::size_t slot = 0; slot < results_.size(); ++slot) {
        for (const std::vector<std::string>& row :
             summary_rows(plan_.targets[slot], plan_.steps, results_[slot])) {
            std::string command = row[3].empty() ? row[2] : row[2] + " " + row[3];
            rows.push_back({row[0], row[1], command, row[4], row[7], row[5]});
        }
    }
    std::printf("\n");
    for (const std::string& line : format_table(rows)) {
        std::printf("%s\n", line.c_str());
    }
    std::printf("\n%s: %zu passed, %zu failed.\n%s\n", count_of_boards(event.totals.boards).c_str(),
                event.totals.passed, event.totals.failed, record.c_str());
    std::fflush(stdout);
}

}  // namespace fleet
