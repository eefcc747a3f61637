#include "report/board_views.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "run/presence.h"
#include "text.h"

namespace fleet {
namespace {

std::string count_of_boards(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " board" : " boards");
}

void on_board_finished(SlotView& view, const Event& event) {
    if (!event.board_started) {
        view.skipped = true;
        return;
    }
    view.finished = true;
    view.board_end = event.at;
    view.passed = all_passed(event.results);
    ++(view.passed ? view.boards_passed : view.boards_failed);
}

}  // namespace

std::string silence_text(double seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "after %.1f s of silence", seconds);
    return text;
}

const char* slot_state(const SlotView& view, bool station) {
    if (!view.started) {
        if (view.skipped) {
            return "skipped";
        }
        return station && !view.found ? "waiting" : "queued";
    }
    if (!view.finished) {
        return view.stage == Stage::operator_question ? "question" : "running";
    }
    if (view.passed) {
        return "passed";
    }
    return view.last_status == StepStatus::interrupted ? "interrupted" : "failed";
}

BoardViews::BoardViews(const Plan& plan, bool station)
    : plan_(plan), station_(station), slots_(plan.targets.size()) {
    for (SlotView& view : slots_) {
        view.state = slot_state(view, station_);
    }
}

void BoardViews::on_event(const Event& event) {
    if (event.kind == EventKind::run_started) {
        run_start_ = event.at;
        for (SlotView& view : slots_) {
            view.since = event.at;
        }
        return;
    }
    SlotView& view = slots_[std::min(event.slot, slots_.size() - 1)];
    update(view, event);
    const char* state = slot_state(view, station_);
    if (std::string_view(state) != view.state) {
        view.state = state;
        view.since = event.at;
    }
}

void BoardViews::update(SlotView& view, const Event& event) {
    switch (event.kind) {
        case EventKind::board_found:
            view.found = true;
            view.silence = event.silence;
            view.version = event.text;
            view.left = false;
            break;
        case EventKind::board_left:
            view.started = false;
            view.finished = false;
            view.silence = event.silence;
            view.left = true;
            break;
        case EventKind::board_started: {
            SlotView fresh;
            fresh.started = true;
            fresh.board = event.board;
            fresh.board_start = event.at;
            fresh.silence = view.silence;
            fresh.version = view.version;
            fresh.boards_passed = view.boards_passed;
            fresh.boards_failed = view.boards_failed;
            fresh.state = view.state;
            fresh.since = view.since;
            view = fresh;
            break;
        }
        case EventKind::step_started:
            view.step = event.step;
            view.try_number = event.try_number;
            view.tries = event.tries;
            view.stage = Stage::starting;
            view.percent = 0;
            break;
        case EventKind::step_progress:
            view.stage = event.stage;
            view.percent = event.percent;
            break;
        case EventKind::step_finished:
            if (event.result.status != StepStatus::skipped) {
                view.last_status = event.result.status;
                view.verdict = event.result.verdict;
            }
            break;
        case EventKind::board_finished:
            on_board_finished(view, event);
            break;
        case EventKind::stopping:
            stopping_ = event.level;
            break;
        default:
            break;
    }
}

BoardLine BoardViews::line(std::size_t slot, Clock::time_point now) const {
    const SlotView& view = slots_[slot];
    BoardLine line{plan_.targets[slot].text(), "", "queued", -1, Rank::waiting};
    if (!view.started) {
        if (station_ && view.found) {
            line.status = "board found " + silence_text(view.silence) + ", waiting for its turn";
        } else if (station_) {
            line.status = view.left
                              ? "waiting for a board; the last left " + silence_text(view.silence)
                              : "waiting for a board";
        }
        return line;
    }
    line.step = "step " + std::to_string(view.step + 1) + "/" + std::to_string(plan_.steps.size()) +
                " " + plan_.steps[view.step].word;
    if (!view.finished) {
        line.status = stage_text(view.stage, view.percent);
        if (view.try_number > 1) {
            line.status = "try " + std::to_string(view.try_number) + "/" +
                          std::to_string(view.tries) + ": " + line.status;
        }
        line.elapsed = seconds_between(view.board_start, now);
        line.rank = Rank::running;
        return line;
    }
    line.elapsed = seconds_between(view.board_start, view.board_end);
    if (view.passed) {
        line.status = "done";
        line.rank = Rank::done;
    } else {
        line.status = view.last_status == StepStatus::interrupted ? std::string("interrupted")
                                                                  : failure_text(view.verdict);
        line.rank = Rank::failed;
    }
    if (station_) {
        line.status += "; waiting for it to leave";
    }
    return line;
}

std::vector<BoardLine> BoardViews::lines(Clock::time_point now) const {
    std::vector<BoardLine> lines;
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        lines.push_back(line(slot, now));
    }
    return lines;
}

std::string BoardViews::totals(Clock::time_point now) const {
    std::size_t running = 0, queued = 0, passed = 0, failed = 0;
    for (const SlotView& view : slots_) {
        running += view.started && !view.finished;
        queued += !view.started;
        passed +=
            station_ ? static_cast<std::size_t>(view.boards_passed) : view.finished && view.passed;
        failed +=
            station_ ? static_cast<std::size_t>(view.boards_failed) : view.finished && !view.passed;
    }
    const std::string elapsed = format_elapsed(seconds_between(run_start_, now));
    if (station_) {
        std::string state = stopping_ > 0
                                ? "stopping: finishing the runs in progress (Ctrl-C ends them)"
                                : "Ctrl-C stops";
        return "station: " + std::to_string(passed) + " passed, " + std::to_string(failed) +
               " failed, " + std::to_string(running) + " running    " + elapsed + "    " + state;
    }
    return count_of_boards(slots_.size()) + ": " + std::to_string(running) + " running, " +
           std::to_string(queued) + " queued, " + std::to_string(passed) + " passed, " +
           std::to_string(failed) + " failed    " + elapsed;
}

}  // namespace fleet
