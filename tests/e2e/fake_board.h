// A scripted fake board for end-to-end tests: a UDP socket on 127.0.0.1 that records every datagram
// it gets and answers through a script, always to the sender of the datagram being handled.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

class FakeBoard {
  public:
    // Called on the board's thread for each datagram received; it answers with reply().
    using Script = std::function<void(FakeBoard& board, const std::string& datagram)>;

    explicit FakeBoard(Script script);
    ~FakeBoard();
    FakeBoard(const FakeBoard&) = delete;
    FakeBoard& operator=(const FakeBoard&) = delete;

    std::uint16_t port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }

    // Sends a datagram to the sender of the latest datagram, at once or after a delay. Only to be
    // called from the script.
    void reply(const std::string& bytes);
    void reply_after(std::chrono::milliseconds delay, const std::string& bytes);

    // Every datagram received so far, in order.
    std::vector<std::string> received() const;

    // How many received datagrams equal bytes.
    int count_received(const std::string& bytes) const;

  private:
    struct Pending {
        std::chrono::steady_clock::time_point due;
        std::string bytes;
        std::vector<unsigned char> peer;
    };

    void serve();
    void send_due_replies();

    Script script_;
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::vector<unsigned char> last_peer_;
    std::vector<Pending> pending_;
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A loopback port on which nothing listens (bound once, then released).
std::uint16_t unused_udp_port();

struct RunResult {
    int status = -1;  // exit status; -1 when the tool was killed or did not end in time
    std::string out;
    std::string err;
    double seconds = 0;      // wall time
    double cpu_seconds = 0;  // user and system time of the tool
};

// Runs the real tvflash binary with args (argv[0] is its own path), stdin_text on its standard
// input (then closed), and kills it when it has not ended within timeout.
RunResult run_tvflash(const std::vector<std::string>& args, const std::string& stdin_text = "",
                      std::chrono::seconds timeout = std::chrono::seconds(40));

// The connecting line the tool prints for the loopback board.
std::string connecting_line(std::uint16_t port);

// Number of times ch occurs in text.
int count_char(const std::string& text, char ch);

}  // namespace e2e
