// The simulator's socket and stop requests on POSIX: poll on the socket and on a pipe that the
// SIGINT and SIGTERM handlers write to.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "server_os.h"

namespace sim::os {

namespace {

int socket_fd = -1;
int stop_pipe[2] = {-1, -1};

void on_stop_signal(int) {
    // A signal handler can reach nothing but the pipe, which wakes the loop's poll without a race.
    char byte = 1;
    ssize_t written = write(stop_pipe[1], &byte, 1);
    (void)written;
}

bool fail(const char* call, Failure& failure) {
    failure = {call, std::strerror(errno)};
    return false;
}

sockaddr_in socket_address(Endpoint endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.host);
    address.sin_port = htons(endpoint.port);
    return address;
}

bool close_on_failure(const char* call, Failure& failure) {
    fail(call, failure);
    close(socket_fd);
    socket_fd = -1;
    return false;
}

}  // namespace

bool start(Failure& failure) {
    if (pipe(stop_pipe) != 0) {
        return fail("pipe", failure);
    }
    for (int fd : stop_pipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A log reader that goes away must not end the simulator.
    signal(SIGPIPE, SIG_IGN);
    return true;
}

bool open_socket(Endpoint wanted, std::uint16_t& bound_port, Failure& failure) {
    socket_fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (socket_fd < 0) {
        return fail("socket", failure);
    }
    sockaddr_in address = socket_address(wanted);
    if (bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return close_on_failure("bind", failure);
    }
    socklen_t length = sizeof address;
    if (getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return close_on_failure("getsockname", failure);
    }
    bound_port = ntohs(address.sin_port);
    return true;
}

Wake wait(Millis timeout, Failure& failure) {
    pollfd entries[2] = {{socket_fd, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
    int ready = poll(entries, 2, static_cast<int>(timeout));
    if (ready < 0 && errno == EINTR) {
        return Wake::timeout;  // the stop pipe, if a stop signal came, is read on the next wait
    }
    if (ready < 0) {
        fail("poll", failure);
        return Wake::failed;
    }
    if (entries[1].revents != 0) {
        return Wake::stop;
    }
    return entries[0].revents != 0 ? Wake::datagram : Wake::timeout;
}

Received receive(char* buffer, std::size_t capacity, std::size_t& length, Endpoint& from,
                 Failure& failure) {
    sockaddr_in address{};
    socklen_t address_length = sizeof address;
    ssize_t n = recvfrom(socket_fd, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&address),
                         &address_length);
    if (n < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
            return Received::none;
        }
        fail("recvfrom", failure);
        return Received::failed;
    }
    length = static_cast<std::size_t>(n);
    from = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
    return Received::datagram;
}

bool send(Endpoint to, std::string_view bytes, Failure& failure) {
    sockaddr_in address = socket_address(to);
    if (sendto(socket_fd, bytes.data(), bytes.size(), 0,
               reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        return fail("sendto", failure);
    }
    return true;
}

void finish() {
    if (socket_fd >= 0) {
        close(socket_fd);
        socket_fd = -1;
    }
}

}  // namespace sim::os
