// Station mode: each target waits for a board to answer there, has it flashed once, and then
// waits until the address has stayed silent for the gone time before it waits for the next board.
// The address is all the station knows of a board: a silence of the gone time after the run
// means the board left, whatever the reason. The decisions are pure, driven by the times given.
#pragma once

#include <chrono>
#include <optional>

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
    // Watching starts at now: a first board's silence counts from there.
    StationTarget(double gone_seconds, Clock::time_point now);

    Presence presence() const { return presence_; }

    // True when a probe is due: while waiting or leaving, once per kProbeInterval.
    bool probe_due(Clock::time_point now) const;
    void probed(Clock::time_point now);

    // A version answer came from the target. When it makes a waiting target's board found,
    // returns the seconds of silence before it (since the last answer, the end of the last run, or
    // the start of watching).
    std::optional<double> answered(Clock::time_point now);
    void started();
    // The run ended: the silence that tells the board left counts from now.
    void finished(Clock::time_point now);

    // When a leaving board has now been silent for the gone time, the target waits again: returns
    // the seconds of that silence.
    std::optional<double> check_gone(Clock::time_point now);

    // The next moment something is due: a probe, or the end of the silence; none when running or
    // found.
    Clock::time_point next_due() const;

  private:
    Clock::duration gone_;
    Presence presence_ = Presence::waiting;
    Clock::time_point next_probe_;
    Clock::time_point last_answer_;
};

// Seconds between two moments.
double seconds_between(Clock::time_point from, Clock::time_point to);

}  // namespace fleet
