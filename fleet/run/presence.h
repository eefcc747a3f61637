// Station mode: each target waits for a board to answer there, has it flashed once, and then
// waits until the address has stayed silent long enough before it waits for the next board. The
// decisions are pure, driven by the times given.
#pragma once

#include <chrono>

namespace fleet {

using Clock = std::chrono::steady_clock;

// How often a station target is probed while it waits for a board or for it to leave.
inline constexpr std::chrono::milliseconds kProbeInterval{1000};

enum class Presence {
    waiting,  // for a board to answer
    found,    // a board answered; its run waits for a free place
    running,  // the recipe runs on it
    leaving,  // flashed: waiting for the address to stay silent
};

class StationTarget {
  public:
    StationTarget(double gone_seconds, Clock::time_point now);

    Presence presence() const { return presence_; }

    // True when a probe is due: while waiting or leaving, once per kProbeInterval.
    bool probe_due(Clock::time_point now) const;
    void probed(Clock::time_point now);

    // A version answer came from the target.
    void answered(Clock::time_point now);
    void started();
    void finished(Clock::time_point now);

    // True when a leaving board has now been silent for the gone time: the target waits again.
    bool check_gone(Clock::time_point now);

    // The next moment something is due: a probe, or the end of the silence; none when running or
    // found.
    Clock::time_point next_due() const;

  private:
    Clock::duration gone_;
    Presence presence_ = Presence::waiting;
    Clock::time_point next_probe_;
    Clock::time_point last_answer_;
};

}  // namespace fleet
