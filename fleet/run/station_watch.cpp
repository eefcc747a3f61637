#include "run/station_watch.h"

#include <algorithm>

#include "scan.h"

namespace fleet {
namespace {

// Answers to a probe come within milliseconds on a local network; they are read this long after
// it rather than at the next probe.
constexpr std::chrono::milliseconds kAnswerWait{100};

Event presence_event(EventKind kind, std::size_t slot, double silence, Clock::time_point now) {
    Event event;
    event.kind = kind;
    event.slot = slot;
    event.silence = silence;
    event.at = now;
    event.wall = std::chrono::system_clock::now();
    return event;
}

}  // namespace

StationWatch::StationWatch(const std::vector<Target>& targets, double gone_seconds,
                           Clock::time_point now)
    : addresses_(targets), targets_(targets.size(), StationTarget(gone_seconds, now)) {}

bool StationWatch::open(std::string& error) {
    return socket_.open(error);
}

std::vector<Event> StationWatch::look(Clock::time_point now, bool stopping) {
    std::vector<Event> events;
    if (!stopping) {
        probe(now);
    }
    take_answers(now, stopping, events);
    for (std::size_t slot = 0; slot < targets_.size(); ++slot) {
        if (std::optional<double> silence = targets_[slot].check_gone(now)) {
            events.push_back(presence_event(EventKind::board_left, slot, *silence, now));
        }
    }
    return events;
}

void StationWatch::probe(Clock::time_point now) {
    for (std::size_t slot = 0; slot < targets_.size(); ++slot) {
        if (!targets_[slot].probe_due(now)) {
            continue;
        }
        std::string error;
        // A probe that cannot go out now is tried again at the next one.
        socket_.send_to(addresses_[slot].address, addresses_[slot].port, "<VERSION>", error);
        targets_[slot].probed(now);
        last_probe_ = now;
    }
}

void StationWatch::take_answers(Clock::time_point now, bool stopping, std::vector<Event>& events) {
    while (std::optional<net::Datagram> datagram = socket_.receive(std::chrono::milliseconds(0))) {
        std::optional<std::string> version = version_text(datagram->bytes);
        if (!version) {
            continue;
        }
        for (std::size_t slot = 0; slot < targets_.size(); ++slot) {
            const Target& target = addresses_[slot];
            if (target.address != datagram->address || target.port != datagram->port) {
                continue;
            }
            std::optional<double> silence = targets_[slot].answered(now);
            if (silence && !stopping) {
                events.push_back(presence_event(EventKind::board_found, slot, *silence, now));
                events.back().text = *version;
            }
        }
    }
}

Clock::time_point StationWatch::next_due() const {
    Clock::time_point due = Clock::time_point::max();
    for (const StationTarget& target : targets_) {
        due = std::min(due, target.next_due());
    }
    Clock::time_point answers = last_probe_ + kAnswerWait;
    return answers > Clock::now() ? std::min(due, answers) : due;
}

}  // namespace fleet
