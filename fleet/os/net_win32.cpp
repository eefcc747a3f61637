// The fleet's datagrams on Windows, with Windows Sockets 2.
#include <winsock2.h>
// winsock2.h must come before windows.h, which would otherwise pull in the old winsock.h.
#include <mswsock.h>
#include <windows.h>

#include "os/net.h"

namespace net {
namespace {

SOCKET as_socket(std::intptr_t handle) {
    return static_cast<SOCKET>(handle);
}

std::string error_text(const char* call) {
    return std::string(call) + " failed with error " + std::to_string(WSAGetLastError());
}

}  // namespace

UdpSocket::~UdpSocket() {
    if (handle_ != -1) {
        closesocket(as_socket(handle_));
        WSACleanup();
    }
}

bool UdpSocket::open(std::string& error) {
    WSADATA data;
    int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        error = "WSAStartup failed with error " + std::to_string(started);
        return false;
    }
    SOCKET handle = socket(AF_INET, SOCK_DGRAM, 0);
    if (handle == INVALID_SOCKET) {
        error = error_text("socket");
        WSACleanup();
        return false;
    }
    // Windows reports a port-unreachable answer to an earlier datagram as a failure of the next
    // receive on an unconnected socket; the scan and the probe have no use for that.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(handle, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
             nullptr);
    handle_ = static_cast<std::intptr_t>(handle);
    return true;
}

bool UdpSocket::send_to(std::uint32_t address, std::uint16_t port, std::string_view bytes,
                        std::string& error) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(address);
    target.sin_port = htons(port);
    if (sendto(as_socket(handle_), bytes.data(), static_cast<int>(bytes.size()), 0,
               reinterpret_cast<const sockaddr*>(&target), sizeof target) == SOCKET_ERROR) {
        error = error_text("sendto");
        return false;
    }
    return true;
}

std::optional<Datagram> UdpSocket::receive(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        long wait_ms = left.count() < 0 ? 0 : static_cast<long>(left.count());
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(as_socket(handle_), &readable);
        timeval limit{wait_ms / 1000, (wait_ms % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &limit) <= 0) {
            return std::nullopt;
        }
        char buffer[2048];
        sockaddr_in sender{};
        int length = sizeof sender;
        int got = recvfrom(as_socket(handle_), buffer, sizeof buffer, 0,
                           reinterpret_cast<sockaddr*>(&sender), &length);
        if (got >= 0) {
            return Datagram{ntohl(sender.sin_addr.s_addr), ntohs(sender.sin_port),
                            std::string(buffer, static_cast<std::size_t>(got))};
        }
        // A refusal left over from an earlier datagram, where the switch above is not heeded.
        if (WSAGetLastError() != WSAECONNRESET) {
            return std::nullopt;
        }
    }
}

void set_listening_options(std::intptr_t socket) {
    // Windows rebinds a port whose connections linger without asking; SO_REUSEADDR there would
    // let another program take the port over.
    BOOL yes = TRUE;
    setsockopt(as_socket(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&yes), sizeof yes);
}

void clear_socket_error() {
    WSASetLastError(0);
}

std::string socket_error_text() {
    const int code = WSAGetLastError();
    if (code == 0) {
        return "";
    }
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    // The system's text ends with a full stop and a line end; messages add their own.
    while (length > 0 &&
           (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.')) {
        --length;
    }
    return length > 0 ? std::string(text, length) : "error " + std::to_string(code);
}

}  // namespace net
