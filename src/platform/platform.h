// The operating-system layer: everything the tool needs from sockets, clocks, threads' pauses and
// the operator's console. One implementation file per platform provides these free functions;
// nothing outside this folder includes a system header or reads errno.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

// A socket handle wide enough for every platform's kind (a descriptor on POSIX, a SOCKET on
// Windows).
using Socket = std::intptr_t;
inline constexpr Socket kInvalidSocket = -1;

// Socket errors sorted into the conditions the link reports by name.
enum class SocketErrorKind { not_connected, connection_reset, other };

// Makes Ctrl-C and Ctrl-Break end the process at once with status 1, where the console would
// otherwise leave a status that scripts can take for success (Windows); elsewhere the signal's
// default, which ends the process, stays.
void end_process_on_interrupt();

// Starts the platform's socket library. Returns 0 on success, otherwise the library's error code.
int net_startup();

// Releases the socket library; harmless when it was never started.
void net_cleanup();

// The IPv4 address of dotted text, in network byte order, read as the classic inet_addr reads it
// (no name lookup; text it cannot read gives 255.255.255.255).
std::uint32_t ipv4_from_text(const char* text);

// Opens an IPv4 datagram socket. Returns kInvalidSocket on failure (see last_socket_error).
Socket open_datagram_socket();

// Connects a datagram socket to one peer (address in network order, port in host order).
bool connect_datagram(Socket socket, std::uint32_t address, std::uint16_t port);

// Sends one datagram. Returns false on failure (see last_socket_error).
bool send_datagram(Socket socket, const void* data, std::size_t length);

// Receives one datagram into buffer, blocking without a time limit. A datagram longer than
// capacity is a failure with the platform's "message too long" error and its bytes beyond
// capacity are lost. On success stores the datagram's length in received.
bool receive_datagram(Socket socket, void* buffer, std::size_t capacity, std::size_t& received);

enum class PollResult { received, timed_out, failed };

// Waits at most timeout_ms for one datagram and receives it as receive_datagram does.
PollResult receive_datagram_within(Socket socket, void* buffer, std::size_t capacity,
                                   std::size_t& received, int timeout_ms);

// Closes a socket; a blocked receive on it elsewhere may or may not wake up.
void close_socket(Socket socket);

// The error of the calling thread's last failed socket call, as the platform numbers it.
int last_socket_error();

// Sorts a platform error number into the conditions the link names.
SocketErrorKind classify_socket_error(int error);

// A millisecond tick from a monotonic clock; differences are taken as unsigned 32-bit values, so
// they stay right when it wraps.
std::uint32_t tick_ms();

void sleep_ms(unsigned milliseconds);
void yield_thread();

// The operator's answer to a yes/no question.
enum class Answer { yes, no, unanswered };

// Asks the operator a yes/no question, Yes being the default. The caption is the program name.
// Returns unanswered when the question could not be asked or answered.
Answer ask_yes_no(std::string_view caption, std::string_view text);

// Shows a modal error notice and returns once the operator has dismissed it.
void show_notice(std::string_view caption, std::string_view text);

}  // namespace platform
