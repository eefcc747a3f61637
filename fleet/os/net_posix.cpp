// The fleet's datagrams on POSIX systems.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "os/net.h"

namespace net {
namespace {

int descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

}  // namespace

UdpSocket::~UdpSocket() {
    if (handle_ >= 0) {
        close(descriptor(handle_));
    }
}

bool UdpSocket::open(std::string& error) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    handle_ = fd;
    // The tools the fleet starts have no use for its socket.
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return true;
}

bool UdpSocket::send_to(std::uint32_t address, std::uint16_t port, std::string_view bytes,
                        std::string& error) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(address);
    target.sin_port = htons(port);
    if (sendto(descriptor(handle_), bytes.data(), bytes.size(), 0,
               reinterpret_cast<const sockaddr*>(&target), sizeof target) < 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

std::optional<Datagram> UdpSocket::receive(std::chrono::milliseconds timeout) {
    pollfd entry{descriptor(handle_), POLLIN, 0};
    int ready = poll(&entry, 1, static_cast<int>(timeout.count()));
    if (ready <= 0) {
        return std::nullopt;
    }
    char buffer[2048];
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    ssize_t got = recvfrom(descriptor(handle_), buffer, sizeof buffer, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&sender), &length);
    if (got < 0) {
        return std::nullopt;
    }
    return Datagram{ntohl(sender.sin_addr.s_addr), ntohs(sender.sin_port),
                    std::string(buffer, static_cast<std::size_t>(got))};
}

void set_listening_options(std::intptr_t socket) {
    // SO_REUSEADDR lets a new run bind while the last one's connections linger; SO_REUSEPORT,
    // which would let two servers share the port, stays off.
    int yes = 1;
    setsockopt(descriptor(socket), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

void clear_socket_error() {
    errno = 0;
}

std::string socket_error_text() {
    return errno == 0 ? "" : std::strerror(errno);
}

}  // namespace net
