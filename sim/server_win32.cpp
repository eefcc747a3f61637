// The simulator's socket and stop requests on Windows: the socket's read event and a stop event,
// waited on together. The console's Ctrl-C, Ctrl-Break and close events set the stop event; so can
// any other program of the session, since it is named "Local\tvflash-sim-stop-<process id>"
// (tvflash-demo.exe stops its simulator that way, as a console program has no other clean way in).
#include <winsock2.h>
// winsock2.h must come before windows.h, which would otherwise pull in the old winsock.h.
#include <mswsock.h>
#include <windows.h>

#include <string>

#include "server_os.h"

namespace sim::os {

namespace {

SOCKET socket_handle = INVALID_SOCKET;
WSAEVENT socket_event = WSA_INVALID_EVENT;
HANDLE stop_event = nullptr;
HANDLE finished_event = nullptr;

// The system ends a process five seconds after its console was closed; the loop's end takes far
// less.
constexpr DWORD kCloseGraceMs = 4000;

std::string system_message(DWORD code) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message(text != nullptr ? text : "", length);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    const std::string number = "error " + std::to_string(code);
    return message.empty() ? number : message + " (" + number + ")";
}

bool fail(const char* call, DWORD code, Failure& failure) {
    failure = {call, system_message(code)};
    return false;
}

bool fail_socket(const char* call, Failure& failure) {
    return fail(call, static_cast<DWORD>(WSAGetLastError()), failure);
}

BOOL WINAPI on_console_event(DWORD type) {
    SetEvent(stop_event);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // The process ends as soon as this returns: let the loop finish first.
        WaitForSingleObject(finished_event, kCloseGraceMs);
    }
    return TRUE;
}

sockaddr_in socket_address(Endpoint endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.host);
    address.sin_port = htons(endpoint.port);
    return address;
}

// Windows reports a port-unreachable answer to an earlier reply as a failure of the next receive;
// a board does not care whether the tool that sent a datagram is still there.
void ignore_unreachable_peers() {
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(socket_handle, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned,
             nullptr, nullptr);
}

bool bind_and_watch(Endpoint wanted, std::uint16_t& bound_port, Failure& failure) {
    sockaddr_in address = socket_address(wanted);
    if (bind(socket_handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return fail_socket("bind", failure);
    }
    int length = sizeof address;
    if (getsockname(socket_handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return fail_socket("getsockname", failure);
    }
    bound_port = ntohs(address.sin_port);
    socket_event = WSACreateEvent();
    if (socket_event == WSA_INVALID_EVENT) {
        return fail_socket("WSACreateEvent", failure);
    }
    if (WSAEventSelect(socket_handle, socket_event, FD_READ) != 0) {
        return fail_socket("WSAEventSelect", failure);
    }
    return true;
}

}  // namespace

bool start(Failure& failure) {
    WSADATA data;
    if (int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0) {
        return fail("WSAStartup", static_cast<DWORD>(error), failure);
    }
    const std::string name = "Local\\tvflash-sim-stop-" + std::to_string(GetCurrentProcessId());
    stop_event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    finished_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stop_event == nullptr || finished_event == nullptr) {
        return fail("CreateEvent", GetLastError(), failure);
    }
    // A parent that ignores Ctrl-C passes that on to its children; this one wants it.
    SetConsoleCtrlHandler(nullptr, FALSE);
    if (!SetConsoleCtrlHandler(on_console_event, TRUE)) {
        return fail("SetConsoleCtrlHandler", GetLastError(), failure);
    }
    return true;
}

bool open_socket(Endpoint wanted, std::uint16_t& bound_port, Failure& failure) {
    socket_handle = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket_handle == INVALID_SOCKET) {
        return fail_socket("socket", failure);
    }
    ignore_unreachable_peers();
    if (!bind_and_watch(wanted, bound_port, failure)) {
        finish();
        return false;
    }
    return true;
}

Wake wait(Millis timeout, Failure& failure) {
    // The stop event comes first: when both are set, a stop wins.
    const HANDLE events[2] = {stop_event, socket_event};
    switch (WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(timeout))) {
        case WAIT_OBJECT_0:
            return Wake::stop;
        case WAIT_OBJECT_0 + 1:
            // Reset before the receive: the receive re-arms the event when more datagrams wait.
            WSAResetEvent(socket_event);
            return Wake::datagram;
        case WAIT_TIMEOUT:
            return Wake::timeout;
        default:
            fail("WaitForMultipleObjects", GetLastError(), failure);
            return Wake::failed;
    }
}

Received receive(char* buffer, std::size_t capacity, std::size_t& length, Endpoint& from,
                 Failure& failure) {
    sockaddr_in address{};
    int address_length = sizeof address;
    int n = recvfrom(socket_handle, buffer, static_cast<int>(capacity), 0,
                     reinterpret_cast<sockaddr*>(&address), &address_length);
    if (n == SOCKET_ERROR) {
        int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK || error == WSAECONNRESET || error == WSAEINTR) {
            return Received::none;
        }
        fail("recvfrom", static_cast<DWORD>(error), failure);
        return Received::failed;
    }
    length = static_cast<std::size_t>(n);
    from = {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
    return Received::datagram;
}

bool send(Endpoint to, std::string_view bytes, Failure& failure) {
    sockaddr_in address = socket_address(to);
    if (sendto(socket_handle, bytes.data(), static_cast<int>(bytes.size()), 0,
               reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        return fail_socket("sendto", failure);
    }
    return true;
}

void finish() {
    if (socket_handle != INVALID_SOCKET) {
        closesocket(socket_handle);
        socket_handle = INVALID_SOCKET;
    }
    if (socket_event != WSA_INVALID_EVENT) {
        WSACloseEvent(socket_event);
        socket_event = WSA_INVALID_EVENT;
    }
    if (finished_event != nullptr) {
        SetEvent(finished_event);
    }
}

}  // namespace sim::os
