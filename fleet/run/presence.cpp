#include "run/presence.h"

#include <algorithm>

namespace fleet {

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

void StationTarget::answered(Clock::time_point now) {
    if (presence_ == Presence::waiting) {
        presence_ = Presence::found;
    } else if (presence_ == Presence::leaving) {
        last_answer_ = now;
    }
}

void StationTarget::started() {
    presence_ = Presence::running;
}

// The silence counts from the end of the run: a board that restarts after its update and
// answers again within the gone time stays the board that was flashed.
void StationTarget::finished(Clock::time_point now) {
    presence_ = Presence::leaving;
    last_answer_ = now;
    next_probe_ = now;
}

bool StationTarget::check_gone(Clock::time_point now) {
    if (presence_ != Presence::leaving || now - last_answer_ < gone_) {
        return false;
    }
    presence_ = Presence::waiting;
    return true;
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
