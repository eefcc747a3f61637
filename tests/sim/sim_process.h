// Running the real tvflash-sim binary in tests: start it on a free loopback port, talk to it with
// a plain UDP socket, and end it with a signal. The environment variable TVFLASH_SIM names another
// simulator command, such as "wine build/windows/tvflash-sim.exe"; what the Windows build
// prints is brought to the Linux build's line ends before the tests see it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "e2e/process.h"

namespace simtest {

// Runs tvflash-sim with args on port (0: a free one); the constructor returns once it listens.
// The simulator is killed when it is still running at the end.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& args, std::uint16_t port = 0);

    // The listening line as printed, and the port it names (0 when none came).
    const std::string& listening_line() const { return listening_line_; }
    std::uint16_t port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }

    // Sends the signal (SIGSTOP and SIGCONT, say) to the running simulator.
    void send_signal(int signal_number) { child_.send_signal(signal_number); }

    // Sends the signal and waits for the end; the status is -1 when the simulator did not exit by
    // itself within a few seconds. The run's err is its log.
    e2e::RunResult stop(int signal_number);

  private:
    e2e::ChildProcess child_;
    std::string listening_line_;
    std::uint16_t port_ = 0;
};

// True when the simulator under test is the Windows build: a stop request there is SIGINT, which
// Wine turns into the console's Ctrl-C; SIGTERM ends a Windows program at once.
bool windows_sim();

// Runs tvflash-sim with args to its end (it is killed after ten seconds); for command lines that
// it refuses or answers at once.
e2e::RunResult run_sim_briefly(const std::vector<std::string>& args);

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
