// Running the real tvflash-sim binary in tests: start it on a free loopback port, talk to it with
// a plain UDP socket, and end it with a signal.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

// Runs tvflash-sim with args and "--port 0"; the constructor returns once it listens. The
// destructor ends a simulator that is still running.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The listening line as printed, and the port it names (0 when none came).
    const std::string& listening_line() const { return listening_line_; }
    std::uint16_t port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }

    // Sends the signal and waits for the end; returns the exit status, -1 when the simulator did
    // not exit by itself within a few seconds.
    int stop(int signal_number);

    // What the simulator wrote to standard error so far.
    std::string error_output() const;

  private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    std::string err_path_;
    std::string listening_line_;
    std::uint16_t port_ = 0;
};

// Runs tvflash-sim with args to its end (it is killed after timeout); for command lines that it
// refuses or answers at once.
struct SimRun {
    int status = -1;
    std::string out;
    std::string err;
};
SimRun run_sim_briefly(const std::vector<std::string>& args,
                       std::chrono::seconds timeout = std::chrono::seconds(10));

// A UDP socket on 127.0.0.1 talking to one port there.
class UdpClient {
  public:
    explicit UdpClient(std::uint16_t port);
    ~UdpClient();
    UdpClient(const UdpClient&) = delete;
    UdpClient& operator=(const UdpClient&) = delete;

    void send(const std::string& datagram);

    // The next datagram, or nothing within timeout.
    std::optional<std::string> receive(std::chrono::milliseconds timeout);

    // Every datagram that arrives until timeout passes without one (at most limit).
    std::vector<std::string> receive_all(std::chrono::milliseconds quiet, std::size_t limit = 64);

  private:
    int fd_ = -1;
};

}  // namespace simtest
