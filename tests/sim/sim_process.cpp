#include "sim/sim_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace simtest {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(5);

pid_t spawn_sim(const std::vector<std::string>& args, int out_fd, const std::string& err_path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addclose(&actions, out_fd);
    std::vector<std::string> argv_text{TVFLASH_SIM_BINARY};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_text) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, TVFLASH_SIM_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("posix_spawn failed");
    }
    return pid;
}

std::string temp_path() {
    char path[] = "/tmp/tvflash-sim-test-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    close(fd);
    return path;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Reads from fd until the deadline or until stop_at_newline sees a line end; true when the pipe
// closed.
bool read_until(int fd, std::string& sink, std::chrono::steady_clock::time_point deadline,
                bool stop_at_newline) {
    char chunk[1024];
    for (;;) {
        if (stop_at_newline && sink.find('\n') != std::string::npos) {
            return false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) {
            return true;
        }
        sink.append(chunk, static_cast<std::size_t>(n));
    }
}

// Waits for the child's end; -1 when it did not exit by itself in time (it is killed then).
int wait_for_exit(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    int wait_status = 0;
    while (waitpid(pid, &wait_status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wait_status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& args) : err_path_(temp_path()) {
    int out_pipe[2];
    if (pipe(out_pipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> all_args = args;
    all_args.insert(all_args.end(), {"--port", "0"});
    pid_ = spawn_sim(all_args, out_pipe[1], err_path_);
    close(out_pipe[1]);
    out_fd_ = out_pipe[0];
    read_until(out_fd_, listening_line_, std::chrono::steady_clock::now() + kStartTimeout, true);
    std::size_t colon = listening_line_.rfind(':');
    if (colon != std::string::npos) {
        port_ = static_cast<std::uint16_t>(std::atoi(listening_line_.c_str() + colon + 1));
    }
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        stop(SIGKILL);
    }
    close(out_fd_);
    unlink(err_path_.c_str());
}

int SimProcess::stop(int signal_number) {
    kill(pid_, signal_number);
    int status = wait_for_exit(pid_, std::chrono::steady_clock::now() + kStopTimeout);
    pid_ = -1;
    return status;
}

std::string SimProcess::error_output() const {
    return read_file(err_path_);
}

SimRun run_sim_briefly(const std::vector<std::string>& args, std::chrono::seconds timeout) {
    int out_pipe[2];
    if (pipe(out_pipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::string err_path = temp_path();
    pid_t pid = spawn_sim(args, out_pipe[1], err_path);
    close(out_pipe[1]);
    SimRun run;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    read_until(out_pipe[0], run.out, deadline, false);
    close(out_pipe[0]);
    run.status = wait_for_exit(pid, deadline);
    run.err = read_file(err_path);
    unlink(err_path.c_str());
    return run;
}

UdpClient::UdpClient(std::uint16_t port) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd_);
        throw std::runtime_error("connect failed");
    }
}

UdpClient::~UdpClient() {
    close(fd_);
}

void UdpClient::send(const std::string& datagram) {
    if (::send(fd_, datagram.data(), datagram.size(), 0) < 0) {
        throw std::runtime_error("send failed");
    }
}

std::optional<std::string> UdpClient::receive(std::chrono::milliseconds timeout) {
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    char buffer[2048];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) {
        return std::nullopt;
    }
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::vector<std::string> UdpClient::receive_all(std::chrono::milliseconds quiet,
                                                std::size_t limit) {
    std::vector<std::string> datagrams;
    while (datagrams.size() < limit) {
        std::optional<std::string> datagram = receive(quiet);
        if (!datagram) {
            break;
        }
        datagrams.push_back(*datagram);
    }
    return datagrams;
}

}  // namespace simtest
