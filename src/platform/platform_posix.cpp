// The operating-system layer on POSIX systems (Linux, macOS).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/console_answer.h"
#include "platform/platform.h"

namespace platform {
namespace {

// The error of this thread's last failed socket call, kept apart from errno so that console output
// between the failure and its report cannot change it.
thread_local int socket_error = 0;

bool fail_with(int error) {
    socket_error = error;
    return false;
}

int as_descriptor(Socket socket) {
    return static_cast<int>(socket);
}

// Receives one datagram now; MSG_TRUNC in the returned flags tells a datagram that did not fit.
bool receive_one(Socket socket, void* buffer, std::size_t capacity, std::size_t& received,
                 int flags) {
    iovec part{buffer, capacity};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t n = recvmsg(as_descriptor(socket), &message, flags);
    if (n < 0) {
        return fail_with(errno);
    }
    if ((message.msg_flags & MSG_TRUNC) != 0) {
        return fail_with(EMSGSIZE);
    }
    received = static_cast<std::size_t>(n);
    return true;
}

}  // namespace

void end_process_on_interrupt() {}

int net_startup() {
    return 0;
}

void net_cleanup() {}

std::uint32_t ipv4_from_text(const char* text) {
    return inet_addr(text);
}

Socket open_datagram_socket() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        fail_with(errno);
        return kInvalidSocket;
    }
    return fd;
}

bool connect_datagram(Socket socket, std::uint32_t address, std::uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address;
    target.sin_port = htons(port);
    if (connect(as_descriptor(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) !=
        0) {
        return fail_with(errno);
    }
    return true;
}

bool send_datagram(Socket socket, const void* data, std::size_t length) {
    if (send(as_descriptor(socket), data, length, 0) < 0) {
        return fail_with(errno);
    }
    return true;
}

bool receive_datagram(Socket socket, void* buffer, std::size_t capacity, std::size_t& received) {
    for (;;) {
        if (receive_one(socket, buffer, capacity, received, 0)) {
            return true;
        }
        // A signal interrupting the wait is no failure of the link.
        if (socket_error != EINTR) {
            return false;
        }
    }
}

PollResult receive_datagram_within(Socket socket, void* buffer, std::size_t capacity,
                                   std::size_t& received, int timeout_ms) {
    pollfd entry{as_descriptor(socket), POLLIN, 0};
    int ready = poll(&entry, 1, timeout_ms);
    if (ready == 0) {
        return PollResult::timed_out;
    }
    if (ready < 0) {
        fail_with(errno);
        return PollResult::failed;
    }
    if (!receive_one(socket, buffer, capacity, received, MSG_DONTWAIT)) {
        return PollResult::failed;
    }
    return PollResult::received;
}

void close_socket(Socket socket) {
    close(as_descriptor(socket));
}

int last_socket_error() {
    return socket_error;
}

SocketErrorKind classify_socket_error(int error) {
    switch (error) {
        case ENOTCONN:
            return SocketErrorKind::not_connected;
        // A port-unreachable answer from the board's host shows as a refused connection on Linux.
        case ECONNREFUSED:
        case ECONNRESET:
            return SocketErrorKind::connection_reset;
        default:
            return SocketErrorKind::other;
    }
}

std::uint32_t tick_ms() {
    auto since_start = std::chrono::steady_clock::now().time_since_epoch();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since_start).count();
    return static_cast<std::uint32_t>(ms);
}

void sleep_ms(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void yield_thread() {
    std::this_thread::yield();
}

Answer ask_yes_no(std::string_view caption, std::string_view text) {
    // Bounded, so that a stream of unreadable answers cannot keep the board waiting for ever.
    constexpr int kMaxQuestions = 100;
    for (int i = 0; i < kMaxQuestions; ++i) {
        std::fprintf(stderr, "%.*s: %.*s [Y/n] ", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
        std::fflush(stderr);
        std::string line;
        if (!read_console_line(stdin, line)) {
            std::fputc('\n', stderr);
            return Answer::unanswered;
        }
        ConsoleAnswer answer = classify_console_answer(line);
        if (answer == ConsoleAnswer::yes) {
            return Answer::yes;
        }
        if (answer == ConsoleAnswer::no) {
            return Answer::no;
        }
    }
    return Answer::unanswered;
}

void show_notice(std::string_view caption, std::string_view text) {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
    std::string line;
    read_console_line(stdin, line);
}

}  // namespace platform
