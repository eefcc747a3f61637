// The target link: one datagram socket connected to the board, its start-up, the send and the
// reconnecting receive, the mapping of socket errors to messages, and the one orderly end of a run.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

// Process-wide link state. The socket is atomic because a shutdown on the watchdog thread closes it
// while the main thread may be using it.
struct LinkState {
    std::atomic<platform::Socket> link_socket{platform::kInvalidSocket};
    std::uint32_t target_address = 0;  // network byte order
    std::uint16_t target_port = 0;
    std::FILE* image_stream = nullptr;  // the upload's image, closed by shutdown_and_exit

    // The watchdog's repeat and the main thread's socket replacement exclude each other through
    // this pair, so a repeat never goes out on a closed or reused socket.
    std::atomic<bool> repeats_held{false};
    std::atomic<bool> repeat_in_flight{false};
    std::atomic<bool> shutdown_claimed{false};
};

extern LinkState link_state;

// Starts the socket library, opens and connects the socket, prints the connecting line and starts
// the watchdog. Returns only on success; every failure ends the process.
void start_link(const char* host, std::uint16_t port, bool cyclic);

// Opens a fresh socket into link_state; ends the run on failure.
void open_socket();

// Connects the current socket to the target; ends the run on failure.
void connect_target();

// Closes the socket and connects a fresh one, holding back the watchdog's repeat meanwhile.
void reconnect_target();

// Sends one datagram and records it as the message the watchdog repeats. The buffer must stay
// valid and unchanged until its reply has been received.
void send_message(const void* buffer, std::int32_t length);

// Receives one datagram into buffer (capacity length). Afterwards the buffer holds the datagram as
// a zero-terminated text of at most length - 1 characters. Reconnects after a failed receive and
// ends the run at the tenth failure in one call.
void receive_message(char* buffer, std::size_t length);

// Makes a received datagram of received bytes a zero-terminated text of at most capacity - 1
// characters; nothing of an earlier, longer datagram remains behind it.
void terminate_reply(char* buffer, std::size_t capacity, std::size_t received);

// The watchdog's repeat of the last recorded message, unless one is held back or none is recorded.
void repeat_last_message();

// Prints the line for a failed send or receive on this thread and ends the run with status 1.
[[noreturn]] void report_socket_error();

// The single end of a run once the link has started: stops the watchdog, closes what is open and
// exits with status. A second, concurrent entry never returns and never exits on its own.
[[noreturn]] void shutdown_and_exit(int status);

// Claims the end of the run for the calling thread; false when another thread has claimed it.
bool claim_shutdown();

// Ends a run whose end this thread has claimed: the body of shutdown_and_exit.
[[noreturn]] void finish_shutdown(int status);

// Never returns; used by a thread that must stand aside while another one ends the process.
[[noreturn]] void wait_for_process_end();
