#include "sim/sim_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "e2e/tool.h"

namespace simtest {
namespace {

std::vector<std::string> sim_words() {
    return e2e::command_words("TVFLASH_SIM", TVFLASH_SIM_BINARY);
}

std::string sim_program() {
    return sim_words().front();
}

// The simulator's arguments after the words of its command that follow the program.
std::vector<std::string> sim_args(const std::vector<std::string>& args) {
    std::vector<std::string> words = sim_words();
    words.erase(words.begin());
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

std::vector<std::string> with_port(std::vector<std::string> args, std::uint16_t port) {
    args.insert(args.end(), {"--port", std::to_string(port)});
    return sim_args(args);
}

e2e::RunResult as_linux_prints(e2e::RunResult run) {
    if (windows_sim()) {
        e2e::undo_windows_differences(run);
    }
    return run;
}

}  // namespace

bool windows_sim() {
    return sim_words().back().ends_with(".exe");
}

SimProcess::SimProcess(const std::vector<std::string>& args, std::uint16_t port)
    : child_(sim_program(), with_port(args, port)),
      listening_line_(child_.read_line(std::chrono::seconds(10))) {
    if (windows_sim() && listening_line_.ends_with("\r\n")) {
        listening_line_.erase(listening_line_.size() - 2, 1);
    }
    std::size_t colon = listening_line_.rfind(':');
    if (colon != std::string::npos) {
        port_ = static_cast<std::uint16_t>(std::atoi(listening_line_.c_str() + colon + 1));
    }
}

e2e::RunResult SimProcess::stop(int signal_number) {
    return as_linux_prints(child_.finish(std::chrono::seconds(5), signal_number));
}

e2e::RunResult run_sim_briefly(const std::vector<std::string>& args) {
    return as_linux_prints(
        e2e::run_process(sim_program(), sim_args(args), "", std::chrono::seconds(10)));
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
