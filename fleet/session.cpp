#include "session.h"

#include <algorithm>
#include <thread>

#include "os/terminal.h"

namespace fleet {
namespace {

using std::chrono::milliseconds;

// A redraw soon after news, and once a second anyway for the clocks.
constexpr milliseconds kRedrawAfterNews{100};
constexpr milliseconds kRedrawAnyway{1000};
// How often a board that may be asking the operator is looked at.
constexpr milliseconds kQuestionLook{500};
// How long an interrupted child has to end before it is killed.
constexpr milliseconds kKillGrace{2000};
// After output came, the next wait starts this much later. The tools write a character per
// block, and reading each as it comes would cost the fleet a good share of what the tools cost
// themselves; the pipes hold far more than a tool writes meanwhile, and the view and the next
// step wait no longer than that.
constexpr milliseconds kGather{50};

void take_earlier(std::optional<Clock::time_point>& until, Clock::time_point time) {
    if (!until || time < *until) {
        until = time;
    }
}

}  // namespace

std::vector<BoardRun*> running_boards(const std::vector<std::unique_ptr<BoardRun>>& boards) {
    std::vector<BoardRun*> running;
    for (const std::unique_ptr<BoardRun>& board : boards) {
        if (board && board->running()) {
            running.push_back(board.get());
        }
    }
    return running;
}

Session::Session(const Options& options, const Plan& plan, Record& record)
    : settings_{plan.tool, options.answer_yes},
      jobs_(options.jobs),
      record_(record),
      printer_(terminal::output_redraws()),
      events_(printer_) {
    set_.catch_interrupts();
}

void Session::wait(std::optional<Clock::time_point> due, const std::vector<BoardRun*>& running) {
    std::optional<Clock::time_point> until = due;
    if (printer_.smart()) {
        take_earlier(until, last_redraw_ + (news_ ? kRedrawAfterNews : kRedrawAnyway));
    }
    bool may_ask = std::any_of(running.begin(), running.end(),
                               [](const BoardRun* board) { return board->may_ask_operator(); });
    if (may_ask) {
        take_earlier(until, last_question_look_ + kQuestionLook);
    }
    if (kill_at_) {
        take_earlier(until, *kill_at_);
    }
    std::optional<milliseconds> timeout;
    if (until) {
        timeout = std::max(std::chrono::ceil<milliseconds>(*until - Clock::now()), milliseconds(0));
    }
    bool output_came = set_.wait(timeout) == subprocess::WaitResult::news;
    news_ |= output_came;
    for (BoardRun* board : running) {
        board->update(set_, settings_, events_);
    }
    if (output_came) {
        std::this_thread::sleep_for(kGather);
    }
    const Clock::time_point now = Clock::now();
    if (may_ask && now - last_question_look_ >= kQuestionLook) {
        last_question_look_ = now;
        for (BoardRun* board : running) {
            board->look_for_question(events_);
        }
    }
    if (kill_at_ && now >= *kill_at_) {
        kill_at_.reset();
        for (BoardRun* board : running) {
            board->interrupt(true);
        }
    }
}

int Session::take_interrupts() {
    int count = set_.interrupts() - interrupts_taken_;
    interrupts_taken_ += count;
    return count;
}

void Session::end_children(const std::vector<BoardRun*>& running) {
    bool again = kill_at_.has_value();
    if (!again) {
        kill_at_ = Clock::now() + kKillGrace;
    }
    for (BoardRun* board : running) {
        board->interrupt(again);
    }
}

void Session::show(const std::function<std::vector<BoardLine>()>& lines, const std::string& totals,
                   bool forced) {
    if (!printer_.smart()) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!forced && now < last_redraw_ + (news_ ? kRedrawAfterNews : kRedrawAnyway)) {
        return;
    }
    terminal::Size size = terminal::output_size();
    printer_.redraw(format_view(lines(), totals, size.columns, size.rows));
    last_redraw_ = now;
    news_ = false;
}

}  // namespace fleet
