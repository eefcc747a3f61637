#include "link/link.h"

#include <cstdlib>

#include "link/console.h"
#include "link/watchdog.h"

LinkState link_state;

namespace {

constexpr int kMaxFailedReceives = 10;
constexpr unsigned kReconnectPauseMs = 100;

platform::Socket current_socket() {
    return link_state.link_socket.load();
}

// Takes the socket out of the link state before closing it, so that no thread closes it twice.
void close_link_socket() {
    platform::Socket socket = link_state.link_socket.exchange(platform::kInvalidSocket);
    if (socket != platform::kInvalidSocket) {
        platform::close_socket(socket);
    }
}

// Keeps the watchdog's repeat off the socket and off the last sent buffer until released; returns
// once a repeat already under way has finished.
void hold_repeats() {
    link_state.repeats_held = true;
    if (link_state.repeat_in_flight) {
        sleep_until([] { return !link_state.repeat_in_flight; });
    }
}

void release_repeats() {
    link_state.repeats_held = false;
}

// A receive that ends while the run is shutting down says nothing about the board: the closing
// socket ended it. The main thread then stands aside until the process ends.
void stand_aside_if_shutting_down() {
    if (!watchdog_state.running) {
        wait_for_process_end();
    }
}

platform::Socket new_socket_or_exit() {
    platform::Socket socket = platform::open_datagram_socket();
    if (socket == platform::kInvalidSocket) {
        print_err("Error Opening socket: Error %d\n", platform::last_socket_error());
        shutdown_and_exit(1);
    }
    return socket;
}

void connect_or_exit(platform::Socket socket) {
    if (!platform::connect_datagram(socket, link_state.target_address, link_state.target_port)) {
        print_err("connect() failed: Error %d\n", platform::last_socket_error());
        shutdown_and_exit(1);
    }
}

// Closes the socket and connects a fresh one after pause_ms, with the watchdog's repeat held back
// meanwhile. The fresh socket is connected before it is put into the link state: a shutdown on the
// watchdog thread may take it from there and close it at any moment.
void replace_socket(unsigned pause_ms) {
    hold_repeats();
    close_link_socket();
    platform::sleep_ms(pause_ms);
    platform::Socket socket = new_socket_or_exit();
    connect_or_exit(socket);
    link_state.link_socket = socket;
    release_repeats();
}

// A refused receive (the board's port answered "unreachable") means the last datagram reached no
// listening board, so sending it again on the fresh socket cannot give a board a second copy. In
// an upload, where the watchdog repeats nothing, only such a resend can bring the next refusal:
// without it a board that vanished would be waited for until the timeout. Elsewhere the watchdog's
// repeat each second does it.
void resend_refused_message() {
    const unsigned char* message = watchdog_state.last_message;
    if (message == nullptr || !watchdog_state.uploading) {
        return;
    }
    bool sent = platform::send_datagram(current_socket(), message,
                                        static_cast<std::size_t>(watchdog_state.last_length));
    if (!sent && watchdog_state.running) {
        report_socket_error();
    }
}

bool last_error_is_refusal() {
    return platform::classify_socket_error(platform::last_socket_error()) ==
           platform::SocketErrorKind::connection_reset;
}

void end_wait() {
    watchdog_state.waiting = false;
    watchdog_state.last_message = nullptr;
    // A repeat that read the old pointer may still be sending it; the caller may rewrite that
    // buffer as soon as this returns.
    hold_repeats();
    release_repeats();
    watchdog_state.silent_seconds = 0;
    watchdog_state.last_progress_tick = 0;
}

}  // namespace

void terminate_reply(char* buffer, std::size_t capacity, std::size_t received) {
    for (std::size_t i = received; i < capacity; ++i) {
        buffer[i] = '\0';
    }
    buffer[capacity - 1] = '\0';
}

void start_link(const char* host, std::uint16_t port, bool cyclic) {
    if (int error = platform::net_startup(); error != 0) {
        print_err("WSAStartup failed with error %d\n", error);
        platform::net_cleanup();
        std::exit(1);
    }
    link_state.target_address = platform::ipv4_from_text(host);
    link_state.target_port = port;
    open_socket();
    print_out("Connecting to target %s on port %d...", host, static_cast<int>(port));
    connect_target();
    watchdog_state.running = true;
    watchdog_state.progress_char = '.';
    watchdog_state.timeout_line1 = "timeout.";
    watchdog_state.timeout_line2 = "Target system not responding.";
    watchdog_state.cyclic = cyclic;
    start_watchdog();
}

void open_socket() {
    link_state.link_socket = new_socket_or_exit();
}

void connect_target() {
    connect_or_exit(current_socket());
}

void reconnect_target() {
    replace_socket(0);
}

void send_message(const void* buffer, std::int32_t length) {
    bool sent = platform::send_datagram(current_socket(), buffer, static_cast<std::size_t>(length));
    if (!sent && watchdog_state.running) {
        report_socket_error();
    }
    watchdog_state.last_message = static_cast<const unsigned char*>(buffer);
    watchdog_state.last_length = length;
}

void repeat_last_message() {
    link_state.repeat_in_flight = true;
    const unsigned char* message = watchdog_state.last_message;
    if (!link_state.repeats_held && message != nullptr) {
        // The record already names this message; a repeat leaves it as it is, so it cannot revive
        // a message whose reply the main thread has just received.
        bool sent = platform::send_datagram(current_socket(), message,
                                            static_cast<std::size_t>(watchdog_state.last_length));
        if (!sent && watchdog_state.running) {
            report_socket_error();
        }
    }
    link_state.repeat_in_flight = false;
    wake_watchdog();
}

void receive_message(char* buffer, std::size_t length) {
    begin_timed_wait();
    for (int failures = 0;;) {
        std::size_t received = 0;
        bool ok = platform::receive_datagram(current_socket(), buffer, length, received);
        stand_aside_if_shutting_down();
        if (ok) {
            terminate_reply(buffer, length, received);
            break;
        }
        if (++failures == kMaxFailedReceives) {
            report_socket_error();
        }
        bool refused = last_error_is_refusal();
        // The remains of a datagram that did not fit are never read as a reply.
        terminate_reply(buffer, length, 0);
        replace_socket(kReconnectPauseMs);
        if (refused) {
            resend_refused_message();
        }
    }
    end_wait();
}

void report_socket_error() {
    int error = platform::last_socket_error();
    switch (platform::classify_socket_error(error)) {
        case platform::SocketErrorKind::not_connected:
            print_err("FAILED (socket can not be connected).\n");
            break;
        case platform::SocketErrorKind::connection_reset:
            print_err("FAILED (connection reset by remote host).\n");
            break;
        case platform::SocketErrorKind::other:
            print_err("FAILED (error %d).\n", error);
            break;
    }
    shutdown_and_exit(1);
}

void shutdown_and_exit(int status) {
    // The shutdown never waits for the thread that performs it.
    if (on_watchdog_thread()) {
        clear_watchdog_thread_id();
    }
    if (!claim_shutdown()) {
        wait_for_process_end();
    }
    finish_shutdown(status);
}

bool claim_shutdown() {
    return !link_state.shutdown_claimed.exchange(true);
}

void finish_shutdown(int status) {
    watchdog_state.quiet = true;
    watchdog_state.running = false;
    wake_watchdog();
    await_watchdog_end();
    close_link_socket();
    platform::net_cleanup();
    // On the watchdog thread the main thread may still be reading the image; the process end
    // closes it then.
    if (!on_watchdog_thread() && link_state.image_stream != nullptr) {
        std::fclose(link_state.image_stream);
        link_state.image_stream = nullptr;
    }
    std::exit(status);
}

void wait_for_process_end() {
    // Nothing ever makes it hold: the thread sleeps until the process ends.
    for (;;) {
        sleep_until([] { return false; });
    }
}
