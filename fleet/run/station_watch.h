// A station's eyes: "<VERSION>" sent to each target about once a second while it waits for a
// board or for the flashed one to leave, from one socket of the fleet's own, and the answers read
// back into each target's presence. It gives the board_found and board_left events.
#pragma once

#include <vector>

#include "os/net.h"
#include "plan/targets.h"
#include "run/events.h"
#include "run/presence.h"

namespace fleet {

class StationWatch {
  public:
    StationWatch(const std::vector<Target>& targets, double gone_seconds, Clock::time_point now);

    // Opens the socket; false with the reason.
    bool open(std::string& error);

    // Sends the probes that are due, takes the answers that came, and tells which targets found a
    // board (none while stopping: no new board starts then) and which boards left.
    std::vector<Event> look(Clock::time_point now, bool stopping);

    Presence presence(std::size_t slot) const { return targets_[slot].presence(); }
    void started(std::size_t slot) { targets_[slot].started(); }
    void finished(std::size_t slot, Clock::time_point now) { targets_[slot].finished(now); }

    // When the next probe, answer or end of a silence is due.
    Clock::time_point next_due() const;

  private:
    void probe(Clock::time_point now);
    void take_answers(Clock::time_point now, bool stopping, std::vector<Event>& events);

    const std::vector<Target>& addresses_;
    std::vector<StationTarget> targets_;
    net::UdpSocket socket_;
    Clock::time_point last_probe_{};
};

}  // namespace fleet
