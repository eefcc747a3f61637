#include "run/events.h"

#include <algorithm>

namespace fleet {

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

void EventFanout::on_event(const Event& event) {
    for (EventSink* sink : sinks_) {
        sink->on_event(event);
    }
}

void EventFanout::on_tick(Clock::time_point now) {
    for (EventSink* sink : sinks_) {
        std::optional<Clock::time_point> due = sink->next_tick();
        if (due && *due <= now) {
            sink->on_tick(now);
        }
    }
}

std::optional<Clock::time_point> EventFanout::next_tick() const {
    std::optional<Clock::time_point> earliest;
    for (const EventSink* sink : sinks_) {
        std::optional<Clock::time_point> due = sink->next_tick();
        if (due && (!earliest || *due < *earliest)) {
            earliest = due;
        }
    }
    return earliest;
}

bool all_passed(const std::vector<StepResult>& results) {
    return std::all_of(results.begin(), results.end(), [](const StepResult& result) {
        return result.status == StepStatus::passed;
    });
}

}  // namespace fleet
