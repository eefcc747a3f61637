// A scripted fake board for end-to-end tests: a UDP socket on 127.0.0.1 that records every datagram
// it gets and answers through a script, always to the sender of the datagram being handled; and
// the runner of the real tool against it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/process.h"

namespace e2e {

// One reply of a board, sent delay after the datagram it answers.
struct Reply {
    Reply(std::string bytes, std::chrono::milliseconds delay = {})
        : bytes(std::move(bytes)), delay(delay) {}
    Reply(const char* bytes) : bytes(bytes) {}
    std::string bytes;
    std::chrono::milliseconds delay{};
};

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

    // Sends a datagram to the sender of the latest datagram, at once or after a delay; or each of
    // replies after its delay. Only to be called from the script.
    void reply(const std::string& bytes);
    void reply_after(std::chrono::milliseconds delay, const std::string& bytes);
    void reply_all(const std::vector<Reply>& replies);

    // Every datagram received so far, in order.
    std::vector<std::string> received() const;

    // How many received datagrams equal bytes (in a script: counting the one being handled).
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

// Replies by the datagram they answer.
using ReplyTable = std::map<std::string, std::vector<Reply>>;

// A script answering each datagram in table with its replies, and "<VERSION>" with "<VERSION>
// Talvium 1.0" unless table says otherwise; it hands the other datagrams to fallback, if any.
FakeBoard::Script answering(ReplyTable table, FakeBoard::Script fallback = nullptr);

// A script answering the first arrival of datagram with turns[0], the second with turns[1] and so
// on, the last turn again for any later one; everything else it answers as rest does.
FakeBoard::Script answering_in_turn(const std::string& datagram,
                                    std::vector<std::vector<Reply>> turns,
                                    FakeBoard::Script rest = answering({}));

// A loopback port on which nothing listens (bound once, then released).
std::uint16_t unused_udp_port();

// Runs the real tvflash binary with args, stdin_text on its standard input.
RunResult run_tvflash(const std::vector<std::string>& args, const std::string& stdin_text = "",
                      std::chrono::seconds timeout = std::chrono::seconds(40));

// Runs tvflash with the loopback address, port and command_args.
RunResult run_tvflash_on(std::uint16_t port, const std::vector<std::string>& command_args,
                         const std::string& stdin_text = "",
                         std::chrono::seconds timeout = std::chrono::seconds(40));

}  // namespace e2e
