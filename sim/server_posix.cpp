#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "board_model.h"
#include "hostile.h"
#include "net_faults.h"
#include "pcap.h"
#include "server.h"
#include "update_files.h"
#include "wire.h"

namespace sim {

namespace {

// The write end of the pipe that wakes the loop when a signal arrives; a signal handler can reach
// nothing else.
int signal_pipe_write = -1;

void on_stop_signal(int) {
    char byte = 1;
    ssize_t written = write(signal_pipe_write, &byte, 1);
    (void)written;
}

constexpr std::size_t kReceiveBufferSize = 65536;
constexpr Millis kLongestPoll = 1000;

PeerId peer_id(const sockaddr_in& address) {
    return std::uint64_t{ntohl(address.sin_addr.s_addr)} << 16 | ntohs(address.sin_port);
}

sockaddr_in peer_address(PeerId peer) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(static_cast<std::uint32_t>(peer >> 16));
    address.sin_port = htons(static_cast<std::uint16_t>(peer & 0xFFFF));
    return address;
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

// A reply waiting for its time.
struct Outgoing {
    Millis due;
    std::uint64_t order;  // replies due at the same time go out in the order they were made
    Reply reply;
};

class Server {
  public:
    Server(const SimOptions& options, int socket_fd, int stop_fd, PcapWriter* capture)
        : options_(options),
          capture_(capture),
          socket_fd_(socket_fd),
          stop_fd_(stop_fd),
          model_(board_settings(options)),
          inbound_losses_(options.seed + 1),
          outbound_losses_(options.seed + 2),
          faults_(options),
          start_(std::chrono::steady_clock::now()) {
        if (options.hostile) {
            hostile_.emplace(options.seed);
        }
    }

    void serve() {
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
            pollfd entries[2] = {{socket_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
            if (poll(entries, 2, poll_timeout(now, timer)) < 0 && errno != EINTR) {
                std::fprintf(stderr, "tvflash-sim: poll: %s\n", std::strerror(errno));
                return;
            }
            if (entries[1].revents != 0) {
                return;
            }
            if (entries[0].revents != 0) {
                receive_one(buffer);
            }
        }
    }

  private:
    Millis clock() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

    int poll_timeout(Millis now, std::optional<Millis> timer) const {
        Millis wake = now + kLongestPoll;
        if (!queue_.empty()) {
            wake = std::min(wake, queue_.front().due);
        }
        if (timer) {
            wake = std::min(wake, *timer);
        }
        if (std::optional<Millis> due = faults_.next_due()) {
            wake = std::min(wake, *due);
        }
        return static_cast<int>(std::max<Millis>(wake - now, 0));
    }

    void receive_one(std::vector<char>& buffer) {
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        ssize_t n = recvfrom(socket_fd_, buffer.data(), buffer.size(), 0,
                             reinterpret_cast<sockaddr*>(&from), &from_length);
        if (n < 0) {
            if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                std::fprintf(stderr, "tvflash-sim: recvfrom: %s\n", std::strerror(errno));
            }
            return;
        }
        Millis now = clock();
        PeerId peer = peer_id(from);
        std::string_view datagram(buffer.data(), static_cast<std::size_t>(n));
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
        sockaddr_in to = peer_address(datagram.peer);
        if (sendto(socket_fd_, datagram.bytes.data(), datagram.bytes.size(), 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
            std::fprintf(stderr, "tvflash-sim: sendto %s: %s\n", peer_text(datagram.peer).c_str(),
                         std::strerror(errno));
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
    int socket_fd_;
    int stop_fd_;
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

int open_bound_socket(const SimOptions& options, std::uint16_t& port) {
    std::uint32_t host = 0;
    parse_ipv4(options.bind_address, host);
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        std::fprintf(stderr, "tvflash-sim: socket: %s\n", std::strerror(errno));
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    address.sin_port = htons(options.port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "tvflash-sim: cannot listen on %s:%u: %s\n",
                     options.bind_address.c_str(), static_cast<unsigned>(options.port),
                     std::strerror(errno));
        close(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(stderr, "tvflash-sim: getsockname: %s\n", std::strerror(errno));
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// A pipe whose write end the stop signals write to, so that the loop's poll wakes without a race.
bool catch_stop_signals(int pipe_fds[2]) {
    if (pipe(pipe_fds) != 0) {
        std::fprintf(stderr, "tvflash-sim: pipe: %s\n", std::strerror(errno));
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        fcntl(pipe_fds[i], F_SETFL, fcntl(pipe_fds[i], F_GETFL) | O_NONBLOCK);
        fcntl(pipe_fds[i], F_SETFD, FD_CLOEXEC);
    }
    signal_pipe_write = pipe_fds[1];
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A log reader that goes away must not end the simulator.
    signal(SIGPIPE, SIG_IGN);
    return true;
}

}  // namespace

int run_server(const SimOptions& options) {
    int pipe_fds[2] = {-1, -1};
    if (!catch_stop_signals(pipe_fds)) {
        return 1;
    }
    std::uint16_t port = 0;
    int socket_fd = open_bound_socket(options, port);
    if (socket_fd < 0) {
        return 1;
    }
    std::unique_ptr<PcapWriter> capture;
    if (!options.pcap_path.empty()) {
        std::uint32_t host = 0;
        parse_ipv4(options.bind_address, host);
        std::string error;
        capture = PcapWriter::create(options.pcap_path, {host, port}, error);
        if (capture == nullptr) {
            std::fprintf(stderr, "tvflash-sim: cannot write capture file %s: %s\n",
                         options.pcap_path.c_str(), error.c_str());
            close(socket_fd);
            return 1;
        }
    }
    std::printf("tvflash-sim listening on %s:%u\n", options.bind_address.c_str(),
                static_cast<unsigned>(port));
    std::fflush(stdout);
    Server server(options, socket_fd, pipe_fds[0], capture.get());
    server.serve();
    close(socket_fd);
    if (options.verbose) {
        std::fprintf(stderr, "tvflash-sim stopped\n");
    }
    return 0;
}

}  // namespace sim
