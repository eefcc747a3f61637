#include "e2e/fake_board.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

extern char** environ;

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

namespace {

// Reads the child's two output pipes until both close or the deadline passes.
bool drain_pipes(int out_fd, int err_fd, RunResult& result,
                 std::chrono::steady_clock::time_point deadline) {
    pollfd entries[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    char chunk[4096];
    while (open_count > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        if (poll(entries, 2, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (entries[i].fd < 0 || entries[i].revents == 0) {
                continue;
            }
            ssize_t n = read(entries[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(n));
            } else {
                entries[i].fd = -1;
                --open_count;
            }
        }
    }
    return true;
}

}  // namespace

RunResult run_tvflash(const std::vector<std::string>& args, const std::string& stdin_text,
                      std::chrono::seconds timeout) {
    // A tool that ends before reading its input must not take the test process down with it.
    signal(SIGPIPE, SIG_IGN);
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    std::vector<std::string> argv_text{TVFLASH_BINARY};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, TVFLASH_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (spawned != 0) {
        throw std::runtime_error("posix_spawn failed");
    }
    // The tool reads at most a few short answers; a pipe holds far more than any test writes.
    if (!stdin_text.empty()) {
        ssize_t written = write(in_pipe[1], stdin_text.data(), stdin_text.size());
        (void)written;
    }
    close(in_pipe[1]);

    RunResult result;
    bool ended = drain_pipes(out_pipe[0], err_pipe[0], result, start + timeout);
    if (!ended) {
        kill(pid, SIGKILL);
    }
    int wait_status = 0;
    rusage usage{};
    wait4(pid, &wait_status, 0, &usage);
    result.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    close(out_pipe[0]);
    close(err_pipe[0]);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (ended && WIFEXITED(wait_status)) {
        result.status = WEXITSTATUS(wait_status);
    }
    return result;
}

std::string connecting_line(std::uint16_t port) {
    return "Connecting to target 127.0.0.1 on port " + std::to_string(port) + "...";
}

int count_char(const std::string& text, char ch) {
    return static_cast<int>(std::count(text.begin(), text.end(), ch));
}

}  // namespace e2e
