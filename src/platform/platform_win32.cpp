// The operating-system layer on Windows: Windows Sockets 2 for the link, the system tick and
// Sleep for time, and message boxes for the operator's question and the conflict notice.
#include <winsock2.h>
// winsock2.h must come before windows.h, which would otherwise pull in the old winsock.h.
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

// The error of this thread's last failed socket call, kept apart from WSAGetLastError so that
// console output between the failure and its report cannot change it.
thread_local int socket_error = 0;

bool fail_with(int error) {
    socket_error = error;
    return false;
}

bool fail_with_last_error() {
    return fail_with(WSAGetLastError());
}

SOCKET as_handle(Socket socket) {
    return static_cast<SOCKET>(socket);
}

int as_length(std::size_t length) {
    return static_cast<int>(length);
}

// The console's own handler ends the process with STATUS_CONTROL_C_EXIT, a negative status that
// a batch file's "if errorlevel 1" passes over; Wine's ends it with 0. Nothing needs tidying: the
// console has every character written so far, and the socket goes with the process.
BOOL WINAPI end_on_interrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    TerminateProcess(GetCurrentProcess(), 1);
    return TRUE;
}

}  // namespace

void end_process_on_interrupt() {
    SetConsoleCtrlHandler(end_on_interrupt, TRUE);
}

int net_startup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}

void net_cleanup() {
    WSACleanup();
}

std::uint32_t ipv4_from_text(const char* text) {
    return inet_addr(text);
}

Socket open_datagram_socket() {
    SOCKET handle = socket(AF_INET, SOCK_DGRAM, 0);
    if (handle == INVALID_SOCKET) {
        fail_with_last_error();
        return kInvalidSocket;
    }
    return static_cast<Socket>(handle);
}

bool connect_datagram(Socket socket, std::uint32_t address, std::uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address;
    target.sin_port = htons(port);
    if (connect(as_handle(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) ==
        SOCKET_ERROR) {
        return fail_with_last_error();
    }
    return true;
}

bool send_datagram(Socket socket, const void* data, std::size_t length) {
    if (send(as_handle(socket), static_cast<const char*>(data), as_length(length), 0) ==
        SOCKET_ERROR) {
        return fail_with_last_error();
    }
    return true;
}

// A datagram longer than capacity fails with WSAEMSGSIZE; its first bytes are in the buffer and
// the rest is lost, as the callers expect.
bool receive_datagram(Socket socket, void* buffer, std::size_t capacity, std::size_t& received) {
    int n = recv(as_handle(socket), static_cast<char*>(buffer), as_length(capacity), 0);
    if (n == SOCKET_ERROR) {
        return fail_with_last_error();
    }
    received = static_cast<std::size_t>(n);
    return true;
}

PollResult receive_datagram_within(Socket socket, void* buffer, std::size_t capacity,
                                   std::size_t& received, int timeout_ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(as_handle(socket), &readable);
    timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    // The first argument is ignored by Windows Sockets.
    int ready = select(0, &readable, nullptr, nullptr, &timeout);
    if (ready == 0) {
        return PollResult::timed_out;
    }
    if (ready == SOCKET_ERROR) {
        fail_with_last_error();
        return PollResult::failed;
    }
    if (!receive_datagram(socket, buffer, capacity, received)) {
        return PollResult::failed;
    }
    return PollResult::received;
}

void close_socket(Socket socket) {
    closesocket(as_handle(socket));
}

int last_socket_error() {
    return socket_error;
}

SocketErrorKind classify_socket_error(int error) {
    switch (error) {
        case WSAENOTCONN:
            return SocketErrorKind::not_connected;
        // Windows reports a port-unreachable answer to a datagram as a reset connection; Wine
        // may report it as a refused one.
        case WSAECONNRESET:
        case WSAECONNREFUSED:
            return SocketErrorKind::connection_reset;
        default:
            return SocketErrorKind::other;
    }
}

std::uint32_t tick_ms() {
    return GetTickCount();
}

void sleep_ms(unsigned milliseconds) {
    Sleep(milliseconds);
}

void yield_thread() {
    Sleep(0);
}

Answer ask_yes_no(std::string_view caption, std::string_view text) {
    const std::string title(caption);
    const std::string message(text);
    // No default-button flag: Yes, the first button, is the default.
    switch (MessageBoxA(nullptr, message.c_str(), title.c_str(), MB_YESNO | MB_ICONEXCLAMATION)) {
        case IDYES:
            return Answer::yes;
        case IDNO:
            return Answer::no;
        default:
            // 0 when the box could not be shown; Wine without a display gives -1.
            return Answer::unanswered;
    }
}

void show_notice(std::string_view caption, std::string_view text) {
    // The notice carries the console window's title, as the operator sees it, where there is one.
    char title[256] = {};
    std::string fallback(caption);
    const char* shown_caption =
        GetConsoleTitleA(title, sizeof title) > 0 ? title : fallback.c_str();
    const std::string message(text);
    MessageBoxA(nullptr, message.c_str(), shown_caption, MB_ICONERROR);
}

}  // namespace platform
