// The simulator's loop, the same on every platform: it feeds each datagram received to the board
// model through the simulated losses and network faults, sends the replies when they are due, and
// wakes for the model's next timer. server_os.h gives it the socket and the stop requests.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "board_model.h"
#include "hostile.h"
#include "net_faults.h"
#include "pcap.h"
#include "server.h"
#include "server_os.h"
#include "update_files.h"
#include "wire.h"

namespace sim {

namespace {

constexpr std::size_t kReceiveBufferSize = 65536;
constexpr Millis kLongestWait = 1000;

PeerId peer_id(Endpoint endpoint) {
    return std::uint64_t{endpoint.host} << 16 | endpoint.port;
}

Endpoint peer_endpoint(PeerId peer) {
    return {static_cast<std::uint32_t>(peer >> 16), static_cast<std::uint16_t>(peer & 0xFFFF)};
}

std::string peer_text(PeerId peer) {
    auto host = static_cast<std::uint32_t>(peer >> 16);
    return std::to_string(host >> 24) + "." + std::to_string(host >> 16 & 0xFF) + "." +
           std::to_string(host >> 8 & 0xFF) + "." + std::to_string(host & 0xFF) + ":" +
           std::to_string(peer & 0xFFFF);
}

void report(const os::Failure& failure) {
    std::fprintf(stderr, "tvflash-sim: %s: %s\n", failure.call.c_str(), failure.reason.c_str());
}

// A reply waiting for its time.
struct Outgoing {
    Millis due;
    std::uint64_t order;  // replies due at the same time go out in the order they were made
    Reply reply;
};

class Server {
  public:
    Server(const SimOptions& options, PcapWriter* capture)
        : options_(options),
          capture_(capture),
          model_(board_settings(options)),
          inbound_losses_(options.seed + 1),
          outbound_losses_(options.seed + 2),
          faults_(options),
          start_(std::chrono::steady_clock::now()) {
        if (options.hostile) {
            hostile_.emplace(options.seed);
        }
    }

    // Serves until a stop request (true) or a failed wait (false).
    bool serve() {
        std::vector<char> buffer(kReceiveBufferSize);
        for (;;) {
            Millis now = clock();
            pass_due_datagrams(now);
            send_due_replies(now);
            std::optional<Millis> timer = model_.next_timer();
            if (timer && *timer <= now) {
                schedule(model_.on_timer(now), now);
                continue;
            }
            os::Failure failure;
            switch (os::wait(wait_time(now, timer), failure)) {
                case os::Wake::stop:
                    return true;
                case os::Wake::failed:
                    report(failure);
                    return false;
                case os::Wake::datagram:
                    receive_one(buffer);
                    break;
                case os::Wake::timeout:
                    break;
            }
        }
    }

  private:
    Millis clock() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

    Millis wait_time(Millis now, std::optional<Millis> timer) const {
        Millis wake = now + kLongestWait;
        if (!queue_.empty()) {
            wake = std::min(wake, queue_.front().due);
        }
        if (timer) {
            wake = std::min(wake, *timer);
        }
        if (std::optional<Millis> due = faults_.next_due()) {
            wake = std::min(wake, *due);
        }
        return std::max<Millis>(wake - now, 0);
    }

    void receive_one(std::vector<char>& buffer) {
        std::size_t length = 0;
        Endpoint from;
        os::Failure failure;
        os::Received received = os::receive(buffer.data(), buffer.size(), length, from, failure);
        if (received != os::Received::datagram) {
            if (received == os::Received::failed) {
                report(failure);
            }
            return;
        }
        Millis now = clock();
        PeerId peer = peer_id(from);
        std::string_view datagram(buffer.data(), length);
        // A datagram dropped below still came in on the wire, as a capture there would show.
        if (capture_ != nullptr) {
            capture_->received(peer_endpoint(peer), datagram);
        }
        if (inbound_losses_.happens(options_.loss_in)) {
            log(now, "drop-in", peer, datagram);
            if (!options_.blind) {
                model_.on_datagram_lost(peer);
            }
            return;
        }
        faults_.inbound.submit({peer, std::string(datagram)}, now);
        deliver_due(now);
    }

    // The network's faults lie between the socket and the board: datagrams reach either side
    // when the faulty path lets them out.
    void pass_due_datagrams(Millis now) {
        deliver_due(now);
        transmit_due(now);
    }

    void deliver_due(Millis now) {
        for (const Datagram& datagram : faults_.inbound.take_due(now)) {
            log(now, "in", datagram.peer, datagram.bytes);
            answer(datagram, now);
        }
    }

    void transmit_due(Millis now) {
        for (const Datagram& datagram : faults_.outbound.take_due(now)) {
            transmit(datagram, now);
        }
    }

    void answer(const Datagram& datagram, Millis now) {
        std::vector<Reply> replies = model_.on_datagram(datagram.peer, datagram.bytes, now);
        if (hostile_) {
            replies = hostile_->answer(datagram.peer, std::move(replies));
        }
        if (std::optional<std::string> image = model_.take_written_image()) {
            write_update_file(options_.write_dir, ++updates_written_, *image);
        }
        schedule(std::move(replies), now);
    }

    void schedule(std::vector<Reply> replies, Millis now) {
        for (Reply& reply : replies) {
            Millis due = now + reply.delay;
            queue_.push_back({due, next_order_++, std::move(reply)});
        }
        std::sort(queue_.begin(), queue_.end(), [](const Outgoing& a, const Outgoing& b) {
            return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
    }

    void send_due_replies(Millis now) {
        std::size_t sent = 0;
        for (; sent < queue_.size() && queue_[sent].due <= now; ++sent) {
            send_reply(queue_[sent].reply, now);
        }
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(sent));
    }

    void send_reply(const Reply& reply, Millis now) {
        if (outbound_losses_.happens(options_.loss_out)) {
            log(now, "drop-out", reply.to, reply.bytes);
            if (!options_.blind) {
                model_.on_reply_lost(reply);
            }
            return;
        }
        faults_.outbound.submit({reply.to, reply.bytes}, now);
        transmit_due(now);
    }

    void transmit(const Datagram& datagram, Millis now) {
        log(now, "out", datagram.peer, datagram.bytes);
        os::Failure failure;
        if (!os::send(peer_endpoint(datagram.peer), datagram.bytes, failure)) {
            failure.call += ' ';
            failure.call += peer_text(datagram.peer);
            report(failure);
        } else if (capture_ != nullptr) {
            capture_->sent(peer_endpoint(datagram.peer), datagram.bytes);
        }
    }

    void log(Millis now, const char* what, PeerId peer, std::string_view datagram) const {
        if (!options_.verbose) {
            return;
        }
        std::fprintf(stderr, "%9.3f %-8s %-21s %s\n", static_cast<double>(now) / 1000, what,
                     peer_text(peer).c_str(), printable_datagram(datagram).c_str());
    }

    const SimOptions& options_;
    PcapWriter* capture_;
    BoardModel model_;
    Chance inbound_losses_;
    Chance outbound_losses_;
    NetFaults faults_;
    std::optional<HostileBoard> hostile_;
    int updates_written_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::vector<Outgoing> queue_;
    std::uint64_t next_order_ = 0;
};

bool open_socket(const SimOptions& options, Endpoint& board) {
    parse_ipv4(options.bind_address, board.host);
    os::Failure failure;
    if (!os::open_socket({board.host, options.port}, board.port, failure)) {
        if (failure.call == "bind") {
            std::fprintf(stderr, "tvflash-sim: cannot listen on %s:%u: %s\n",
                         options.bind_address.c_str(), static_cast<unsigned>(options.port),
                         failure.reason.c_str());
        } else {
            report(failure);
        }
        return false;
    }
    return true;
}

// The capture file of --pcap, when there is one; false when it cannot be written.
bool open_capture(const SimOptions& options, Endpoint board, std::unique_ptr<PcapWriter>& capture) {
    if (options.pcap_path.empty()) {
        return true;
    }
    std::string error;
    capture = PcapWriter::create(options.pcap_path, board, error);
    if (capture == nullptr) {
        std::fprintf(stderr, "tvflash-sim: cannot write capture file %s: %s\n",
                     options.pcap_path.c_str(), error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int run_server(const SimOptions& options) {
    os::Failure failure;
    if (!os::start(failure)) {
        report(failure);
        return 1;
    }
    Endpoint board;
    if (!open_socket(options, board)) {
        return 1;
    }
    std::unique_ptr<PcapWriter> capture;
    if (!open_capture(options, board, capture)) {
        os::finish();
        return 1;
    }
    std::printf("tvflash-sim listening on %s:%u\n", options.bind_address.c_str(),
                static_cast<unsigned>(board.port));
    std::fflush(stdout);
    bool stopped = Server(options, capture.get()).serve();
    capture.reset();
    if (options.verbose) {
        std::fprintf(stderr, "tvflash-sim stopped\n");
    }
    os::finish();
    return stopped ? 0 : 1;
}

}  // namespace sim
