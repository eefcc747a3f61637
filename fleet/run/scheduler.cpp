#include "run/scheduler.h"

#include <algorithm>

#include "os/terminal.h"
#include "process/subprocess.h"

namespace fleet {
namespace {

using std::chrono::milliseconds;

// How often a board that may be asking the operator is looked at.
constexpr milliseconds kQuestionLook{500};
// How long an interrupted tool has to end before it is killed.
constexpr milliseconds kKillGrace{2000};
// After output came, the next wait starts this much later. The tools write a character per
// block, and reading each as it comes would cost the fleet a good share of what the tools cost
// themselves; the pipes hold far more than a tool writes meanwhile. An interrupt ends the pause.
constexpr milliseconds kGather{50};

SystemTime wall_now() {
    return std::chrono::system_clock::now();
}

void take_earlier(std::optional<Clock::time_point>& until, Clock::time_point time) {
    if (!until || time < *until) {
        until = time;
    }
}

}  // namespace

Scheduler::Scheduler(const Plan& plan, const RunSettings& settings, EventSink& sink)
    : plan_(plan),
      settings_(settings),
      sink_(sink),
      set_(std::make_unique<subprocess::ProcessSet>()),
      slots_(plan.targets.size()) {
    set_->catch_interrupts();
    if (settings_.station) {
        watch_.emplace(plan.targets, settings_.gone_seconds, Clock::now());
    }
}

// The children go before their set.
Scheduler::~Scheduler() {
    slots_.clear();
}

bool Scheduler::open(std::string& error) {
    return !watch_ || watch_->open(error);
}

void Scheduler::emit(const Event& event) {
    if (event.wall == SystemTime{}) {
        // The boards' state machines read no clock of the world for their output and progress:
        // the time is stamped here, so that every output tells the same time of an event.
        Event stamped = event;
        stamped.wall = wall_now();
        emit(stamped);
        return;
    }
    if (event.kind == EventKind::board_finished) {
        ++totals_.boards;
        if (event.board_started) {
            ++(all_passed(event.results) ? totals_.passed : totals_.failed);
        }
        if (watch_) {
            watch_->finished(event.slot, event.at);
        }
    }
    sink_.on_event(event);
}

void Scheduler::apply(Slot& slot, BoardActions actions) {
    for (const Event& event : actions.events) {
        emit(event);
    }
    if (!actions.start) {
        return;
    }
    if (actions.start_after.count() > 0) {
        slot.pending = std::move(actions.start);
        slot.retry_at = Clock::now() + actions.start_after;
        return;
    }
    // A step's tool starts only while the run goes on; an interrupt that is already there comes
    // first.
    take_interrupts();
    if (level_ >= 2) {
        apply(slot, slot.board->cancel("not started: interrupted", Clock::now(), wall_now()));
        return;
    }
    start_child(slot, std::move(*actions.start));
}

void Scheduler::start_child(Slot& slot, ChildStart child) {
    subprocess::Command command;
    command.argv = std::move(child.argv);
    command.input = std::move(child.input);
    // One pipe for both streams keeps them in the order the tool wrote them, as a console shows
    // them.
    command.err = subprocess::Sink::to_output;
    command.own_group = true;
    // A tool ends with the fleet, even when the fleet is killed.
    command.end_with_parent = true;
    std::string error;
    slot.child = set_->start(command, error);
    apply(slot, slot.child ? slot.board->child_started(Clock::now(), wall_now())
                           : slot.board->not_started(error, Clock::now(), wall_now()));
}

void Scheduler::start_board(std::size_t index) {
    Slot& slot = slots_[index];
    ++slot.boards;
    slot.board = std::make_unique<Board>(index, slot.boards, plan_.targets[index], plan_.steps,
                                         settings_.tool);
    if (watch_) {
        watch_->started(index);
    }
    apply(slot, slot.board->start(Clock::now(), wall_now()));
}

// Starts the boards whose turn it is while there is room: in a run the targets in the order
// given, in a station the targets where a board was found.
void Scheduler::start_ready() {
    const std::size_t jobs = static_cast<std::size_t>(settings_.jobs);
    if (!watch_) {
        while (level_ == 0 && next_queued_ < slots_.size() && running() < jobs) {
            take_interrupts();
            if (level_ == 0) {
                start_board(next_queued_++);
            }
        }
        return;
    }
    for (std::size_t index = 0; index < slots_.size() && level_ == 0; ++index) {
        if (watch_->presence(index) == Presence::found && running() < jobs) {
            take_interrupts();
            if (level_ == 0) {
                start_board(index);
            }
        }
    }
}

void Scheduler::start_due_retries() {
    for (Slot& slot : slots_) {
        if (slot.pending && Clock::now() >= slot.retry_at) {
            BoardActions start;
            start.start = std::move(slot.pending);
            slot.pending.reset();
            apply(slot, std::move(start));
        }
    }
}

bool Scheduler::interrupt_pending() const {
    return set_->interrupts() > interrupts_taken_;
}

// A run's first interrupt ends its tools; a station's first lets the runs in progress finish
// and the second ends them. An interrupt after that kills them at once.
void Scheduler::take_interrupts() {
    // An interrupt is counted only while the process set waits; one that came meanwhile is
    // taken now.
    set_->pause(milliseconds(0));
    while (interrupt_pending()) {
        ++interrupts_taken_;
        const int before = level_;
        level_ = before == 0 && watch_ ? 1 : std::min(std::max(before + 1, 2), 3);
        if (level_ == 3) {
            end_tools(true);
            continue;
        }
        if (level_ == 2) {
            end_tools(false);
        }
        Event event;
        event.kind = EventKind::stopping;
        event.level = level_;
        event.at = Clock::now();
        event.wall = wall_now();
        emit(event);
    }
}

void Scheduler::end_tools(bool at_once) {
    if (!at_once && !kill_at_) {
        kill_at_ = Clock::now() + kKillGrace;
    }
    for (Slot& slot : slots_) {
        if (slot.pending) {
            slot.pending.reset();
            apply(slot, slot.board->cancel("not started: interrupted", Clock::now(), wall_now()));
        }
        if (!slot.child) {
            continue;
        }
        slot.board->interrupt();
        if (at_once) {
            slot.child->kill();
        } else {
            slot.child->terminate();
        }
    }
}

void Scheduler::watch(Clock::time_point now) {
    if (!watch_) {
        return;
    }
    for (const Event& event : watch_->look(now, level_ > 0)) {
        emit(event);
    }
}

void Scheduler::read_children() {
    for (Slot& slot : slots_) {
        if (!slot.child) {
            continue;
        }
        for (subprocess::Chunk& chunk : slot.child->take_output()) {
            output_came_ = true;
            apply(slot, slot.board->output(chunk.bytes, Clock::now()));
        }
        if (!slot.child->done()) {
            continue;
        }
        const subprocess::Exit& exit = slot.child->exit();
        ChildEnd end{exit.status, exit.signal, seconds_between(slot.child->started(), exit.seen),
                     exit.cpu_seconds};
        slot.child.reset();
        apply(slot, slot.board->ended(end, Clock::now(), wall_now()));
    }
}

void Scheduler::look_for_questions(Clock::time_point now) {
    if (now - last_question_look_ < kQuestionLook) {
        return;
    }
    last_question_look_ = now;
    for (Slot& slot : slots_) {
        if (slot.child && slot.board->may_ask_operator()) {
            apply(slot, slot.board->question(terminal::shows_window(slot.child->id()), now));
        }
    }
}

std::optional<Clock::time_point> Scheduler::next_due() const {
    std::optional<Clock::time_point> until = sink_.next_tick();
    if (watch_ && level_ == 0) {
        take_earlier(until, watch_->next_due());
    }
    bool may_ask = std::any_of(slots_.begin(), slots_.end(), [](const Slot& slot) {
        return slot.child && slot.board->may_ask_operator();
    });
    if (may_ask) {
        take_earlier(until, last_question_look_ + kQuestionLook);
    }
    if (kill_at_) {
        take_earlier(until, *kill_at_);
    }
    for (const Slot& slot : slots_) {
        if (slot.pending) {
            take_earlier(until, slot.retry_at);
        }
    }
    return until;
}

void Scheduler::wait() {
    if (output_came_) {
        output_came_ = false;
        if (set_->pause(kGather) == subprocess::WaitResult::interrupted) {
            return;
        }
    }
    std::optional<Clock::time_point> until = next_due();
    std::optional<milliseconds> timeout;
    if (until) {
        timeout = std::max(std::chrono::ceil<milliseconds>(*until - Clock::now()), milliseconds(0));
    }
    set_->wait(timeout);
}

std::size_t Scheduler::running() const {
    return static_cast<std::size_t>(
        std::count_if(slots_.begin(), slots_.end(),
                      [](const Slot& slot) { return slot.board && !slot.board->finished(); }));
}

bool Scheduler::done() const {
    if (running() > 0) {
        return false;
    }
    return watch_ ? level_ > 0 : level_ > 0 || next_queued_ == slots_.size();
}

// A run's boards that never started are reported as skipped.
void Scheduler::finish() {
    for (; next_queued_ < slots_.size() && !watch_; ++next_queued_) {
        Slot& slot = slots_[next_queued_];
        slot.board = std::make_unique<Board>(next_queued_, 1, plan_.targets[next_queued_],
                                             plan_.steps, settings_.tool);
        apply(slot, slot.board->skip("not started: interrupted", Clock::now(), wall_now()));
    }
}

RunTotals Scheduler::run() {
    Event started;
    started.kind = EventKind::run_started;
    started.at = Clock::now();
    started.wall = wall_now();
    emit(started);
    for (;;) {
        take_interrupts();
        watch(Clock::now());
        start_due_retries();
        start_ready();
        sink_.on_tick(Clock::now());
        if (done()) {
            break;
        }
        wait();
        take_interrupts();
        read_children();
        const Clock::time_point now = Clock::now();
        look_for_questions(now);
        if (kill_at_ && now >= *kill_at_) {
            kill_at_.reset();
            end_tools(true);
        }
    }
    finish();
    return totals_;
}

}  // namespace fleet
