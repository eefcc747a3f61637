// What the network does to datagrams on their way between the tool and the board, below the board
// model: a datagram delivered twice, one held back and delivered after the next, delay and jitter.
// Pure: it is given datagrams and the time and says when each comes out; the server does the I/O.
// The board model is never told, as a real board never learns what the network did.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "board_model.h"
#include "options.h"

namespace sim {

// A datagram held back for reordering waits at most this long for a next one to overtake it: in a
// stop-and-wait dialogue there is often no next datagram until this one arrives.
inline constexpr Millis kReorderHoldLimit = 50;

// One datagram on its way, with the peer on the board's far side.
struct Datagram {
    PeerId peer = 0;
    std::string bytes;
};

// The faults of one direction.
struct PathFaults {
    double duplicate = 0;  // share of datagrams delivered twice
    double reorder = 0;    // share held back and delivered after the next one
    Millis delay = 0;      // added to every datagram
    Millis jitter = 0;     // a further delay from 0 to this, drawn for each datagram
};

// One direction of the network. Without faults every datagram comes out at once, in order.
class FaultyPath {
  public:
    FaultyPath(PathFaults faults, std::uint32_t seed);

    // A datagram enters the path at now.
    void submit(Datagram datagram, Millis now);

    // The datagrams due at now, in the order they come out.
    std::vector<Datagram> take_due(Millis now);

    // When the next datagram comes out, if one is on its way.
    std::optional<Millis> next_due() const;

  private:
    struct InFlight {
        Millis due = 0;
        std::uint64_t order = 0;
        Datagram datagram;
    };

    bool happens(double rate);
    void enqueue(Datagram datagram, Millis due);
    Millis travel_time();

    PathFaults faults_;
    std::mt19937 engine_;
    std::vector<InFlight> queue_;
    std::optional<InFlight> held_;
    std::uint64_t next_order_ = 0;
};

// Both directions: inbound from the tool to the board, outbound back.
struct NetFaults {
    explicit NetFaults(const SimOptions& options);

    FaultyPath inbound;
    FaultyPath outbound;

    std::optional<Millis> next_due() const;
};

}  // namespace sim
