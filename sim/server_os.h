// What the simulator's loop needs from the operating system: one bound UDP socket, a wait for its
// next datagram that a stop request cuts short, and the stop requests themselves (SIGINT and
// SIGTERM on POSIX; Ctrl-C, Ctrl-Break, closing the console and a named event on Windows). One
// implementation file per platform provides these functions; the process has one such socket.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "board_model.h"
#include "pcap.h"

namespace sim::os {

// A system call that failed: its name and the system's reason.
struct Failure {
    std::string call;
    std::string reason;
};

// Starts the socket library and catches the stop requests, which from now on end the wait.
bool start(Failure& failure);

// Opens the socket bound to wanted (port 0: any free one) and stores the port it got. A failed
// bind is reported with the call "bind".
bool open_socket(Endpoint wanted, std::uint16_t& bound_port, Failure& failure);

enum class Wake { datagram, timeout, stop, failed };

// Waits at most timeout milliseconds for a datagram or a stop request; a stop request wins.
Wake wait(Millis timeout, Failure& failure);

enum class Received { datagram, none, failed };

// Receives one datagram into buffer, storing its length and sender. none when there was nothing
// to read after all, or when the system reported a peer's earlier refusal instead.
Received receive(char* buffer, std::size_t capacity, std::size_t& length, Endpoint& from,
                 Failure& failure);

// Sends one datagram to `to`.
bool send(Endpoint to, std::string_view bytes, Failure& failure);

// Closes the socket and tells a stop request that waits for the end (closing the console on
// Windows) that the simulator has ended cleanly.
void finish();

}  // namespace sim::os
