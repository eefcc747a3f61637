// The fleet's own datagrams: one unconnected IPv4 UDP socket that sends "<VERSION>" to any
// address and hears every answer with its sender. One implementation per platform (net_posix.cpp,
// net_win32.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace net {

struct Datagram {
    std::uint32_t address = 0;  // the sender, host byte order
    std::uint16_t port = 0;
    std::string bytes;
};

class UdpSocket {
  public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Opens the socket on a free local port; false with the reason.
    bool open(std::string& error);

    // Sends one datagram to address (host byte order) and port; false with the reason.
    bool send_to(std::uint32_t address, std::uint16_t port, std::string_view bytes,
                 std::string& error);

    // The next datagram that comes within timeout (zero: only one that is there already). A
    // refusal that some systems report for an earlier datagram is passed over.
    std::optional<Datagram> receive(std::chrono::milliseconds timeout);

  private:
    std::intptr_t handle_ = -1;
};

// Options for a listening TCP socket (the page's server): its port can be bound again at once by
// the next run, but never by two servers at the same time.
void set_listening_options(std::intptr_t socket);

// The last failed socket call's error on this thread, as the system words it ("Address already in
// use"); empty when there is none since clear_socket_error(). For calls made by a library.
void clear_socket_error();
std::string socket_error_text();

}  // namespace net
