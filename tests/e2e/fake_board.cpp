#include "e2e/fake_board.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "e2e/tool.h"

namespace e2e {
namespace {

int open_loopback_socket(std::uint16_t& port) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

FakeBoard::FakeBoard(Script script) : script_(std::move(script)) {
    fd_ = open_loopback_socket(port_);
    thread_ = std::thread([this] { serve(); });
}

FakeBoard::~FakeBoard() {
    stop_ = true;
    thread_.join();
    close(fd_);
}

void FakeBoard::reply(const std::string& bytes) {
    reply_after(std::chrono::milliseconds(0), bytes);
}

void FakeBoard::reply_after(std::chrono::milliseconds delay, const std::string& bytes) {
    pending_.push_back({std::chrono::steady_clock::now() + delay, bytes, last_peer_});
}

void FakeBoard::reply_all(const std::vector<Reply>& replies) {
    for (const Reply& reply : replies) {
        reply_after(reply.delay, reply.bytes);
    }
}

std::vector<std::string> FakeBoard::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

int FakeBoard::count_received(const std::string& bytes) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(received_.begin(), received_.end(), bytes));
}

void FakeBoard::serve() {
    std::vector<char> buffer(65536);
    while (!stop_) {
        send_due_replies();
        pollfd entry{fd_, POLLIN, 0};
        if (poll(&entry, 1, 5) <= 0) {
            continue;
        }
        sockaddr_storage peer{};
        socklen_t peer_length = sizeof peer;
        ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), 0,
                             reinterpret_cast<sockaddr*>(&peer), &peer_length);
        if (n < 0) {
            continue;
        }
        std::string datagram(buffer.data(), static_cast<std::size_t>(n));
        last_peer_.assign(reinterpret_cast<unsigned char*>(&peer),
                          reinterpret_cast<unsigned char*>(&peer) + peer_length);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(datagram);
        }
        script_(*this, datagram);
    }
}

void FakeBoard::send_due_replies() {
    auto now = std::chrono::steady_clock::now();
    auto due = std::stable_partition(pending_.begin(), pending_.end(),
                                     [now](const Pending& p) { return p.due <= now; });
    for (auto it = pending_.begin(); it != due; ++it) {
        sendto(fd_, it->bytes.data(), it->bytes.size(), 0,
               reinterpret_cast<const sockaddr*>(it->peer.data()),
               static_cast<socklen_t>(it->peer.size()));
    }
    pending_.erase(pending_.begin(), due);
}

std::uint16_t unused_udp_port() {
    std::uint16_t port = 0;
    close(open_loopback_socket(port));
    return port;
}

FakeBoard::Script answering(ReplyTable table, FakeBoard::Script fallback) {
    table.try_emplace("<VERSION>", std::vector<Reply>{"<VERSION> Talvium 1.0"});
    return [table, fallback](FakeBoard& board, const std::string& datagram) {
        auto found = table.find(datagram);
        if (found != table.end()) {
            board.reply_all(found->second);
        } else if (fallback) {
            fallback(board, datagram);
        }
    };
}

FakeBoard::Script answering_in_turn(const std::string& datagram,
                                    std::vector<std::vector<Reply>> turns, FakeBoard::Script rest) {
    return [datagram, turns, rest](FakeBoard& board, const std::string& received) {
        if (received != datagram) {
            rest(board, received);
            return;
        }
        std::size_t turn = static_cast<std::size_t>(board.count_received(datagram));
        board.reply_all(turns[std::min(turn, turns.size()) - 1]);
    };
}

RunResult run_tvflash(const std::vector<std::string>& args, const std::string& stdin_text,
                      std::chrono::seconds timeout) {
    ToolCommand tool = tool_command(args);
    RunResult run = run_process(tool.program, tool.args, stdin_text, timeout);
    if (windows_build()) {
        undo_windows_differences(run);
    }
    return run;
}

RunResult run_tvflash_on(std::uint16_t port, const std::vector<std::string>& command_args,
                         const std::string& stdin_text, std::chrono::seconds timeout) {
    std::vector<std::string> args{"127.0.0.1", std::to_string(port)};
    args.insert(args.end(), command_args.begin(), command_args.end());
    return run_tvflash(args, stdin_text, timeout);
}

}  // namespace e2e
