#include "net_faults.h"

#include <algorithm>
#include <utility>

namespace sim {

FaultyPath::FaultyPath(PathFaults faults, std::uint32_t seed) : faults_(faults), engine_(seed) {}

bool FaultyPath::happens(double rate) {
    return rate > 0 && (static_cast<double>(engine_()) + 0.5) / 4294967296.0 < rate;
}

Millis FaultyPath::travel_time() {
    if (faults_.jitter <= 0) {
        return faults_.delay;
    }
    return faults_.delay +
           static_cast<Millis>(engine_() % static_cast<std::uint32_t>(faults_.jitter + 1));
}

void FaultyPath::enqueue(Datagram datagram, Millis due) {
    InFlight entry{due, next_order_++, std::move(datagram)};
    auto later = [](const InFlight& a, const InFlight& b) {
        return a.due != b.due ? a.due < b.due : a.order < b.order;
    };
    queue_.insert(std::upper_bound(queue_.begin(), queue_.end(), entry, later), std::move(entry));
}

void FaultyPath::submit(Datagram datagram, Millis now) {
    Millis due = now + travel_time();
    if (!held_ && happens(faults_.reorder)) {
        held_ = InFlight{now + kReorderHoldLimit, 0, std::move(datagram)};
        return;
    }
    if (happens(faults_.duplicate)) {
        enqueue(datagram, due);
    }
    enqueue(std::move(datagram), due);
    // The datagram held back comes right after the one that overtook it.
    if (held_) {
        enqueue(std::move(held_->datagram), due);
        held_.reset();
    }
}

std::vector<Datagram> FaultyPath::take_due(Millis now) {
    if (held_ && held_->due <= now) {
        enqueue(std::move(held_->datagram), held_->due);
        held_.reset();
    }
    std::vector<Datagram> due;
    std::size_t count = 0;
    for (; count < queue_.size() && queue_[count].due <= now; ++count) {
        due.push_back(std::move(queue_[count].datagram));
    }
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
    return due;
}

std::optional<Millis> FaultyPath::next_due() const {
    std::optional<Millis> next;
    if (!queue_.empty()) {
        next = queue_.front().due;
    }
    if (held_ && (!next || held_->due < *next)) {
        next = held_->due;
    }
    return next;
}

NetFaults::NetFaults(const SimOptions& options)
    : inbound({options.dup_in, options.reorder, options.delay_ms, options.jitter_ms},
              options.seed + 3),
      outbound({options.dup_out, options.reorder, options.delay_ms, options.jitter_ms},
               options.seed + 4) {}

std::optional<Millis> NetFaults::next_due() const {
    std::optional<Millis> in = inbound.next_due();
    std::optional<Millis> out = outbound.next_due();
    if (in && out) {
        return std::min(*in, *out);
    }
    return in ? in : out;
}

}  // namespace sim
