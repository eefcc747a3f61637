#include "run/presence.h"

#include <algorithm>

namespace fleet {

double seconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

StationTarget::StationTarget(double gone_seconds, Clock::time_point now)
    : gone_(
          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(gone_seconds))),
      next_probe_(now),
      last_answer_(now) {}

bool StationTarget::probe_due(Clock::time_point now) const {
    return (presence_ == Presence::waiting || presence_ == Presence::leaving) && now >= next_probe_;
}

void StationTarget::probed(Clock::time_point now) {
    next_probe_ = now + kProbeInterval;
}

std::optional<double> StationTarget::answered(Clock::time_point now) {
    std::optional<double> silence;
    if (presence_ == Presence::waiting) {
        presence_ = Presence::found;
        silence = seconds_between(last_answer_, now);
    }
    last_answer_ = std::max(last_answer_, now);
    return silence;
}

void StationTarget::started() {
    presence_ = Presence::running;
}

void StationTarget::finished(Clock::time_point now) {
    presence_ = Presence::leaving;
    last_answer_ = now;
    next_probe_ = now;
}

std::optional<double> StationTarget::check_gone(Clock::time_point now) {
    if (presence_ != Presence::leaving || now - last_answer_ < gone_) {
        return std::nullopt;
    }
    presence_ = Presence::waiting;
    return seconds_between(last_answer_, now);
}

Clock::time_point StationTarget::next_due() const {
    switch (presence_) {
        case Presence::waiting:
            return next_probe_;
        case Presence::leaving:
            return std::min(next_probe_, last_answer_ + gone_);
        default:
            return Clock::time_point::max();
    }
}

}  // namespace fleet
