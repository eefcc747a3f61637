#include "idle_exit.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <thread>
#include <vector>

#include "bench_core.h"
#include "process.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kSilentRunTimeoutSeconds = 60;
constexpr int kBoardPollMs = 50;
// The board "erases" for 50 to 99 ms, so that the verdict finds the tool blocked in its receive
// with the watchdog asleep, as a real erase does; the length varies from run to run, so that the
// verdict falls anywhere within the watchdog's own timing.
constexpr int kEraseMs = 50;
constexpr int kEraseSpreadMs = 50;

// A loopback datagram socket on a free port; -1 on failure.
int open_loopback_socket(std::uint16_t& port) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// A board that answers the probe and erases in kEraseMs, noting when it sent its verdict.
class ErasingBoard {
  public:
    bool start() {
        fd_ = open_loopback_socket(port_);
        if (fd_ < 0) {
            return false;
        }
        thread_ = std::thread([this] { serve(); });
        return true;
    }

    ~ErasingBoard() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (fd_ >= 0) {
            close(fd_);
        }
    }

    std::uint16_t port() const { return port_; }

    // When the last verdict went out; the epoch of the clock before any.
    Clock::time_point verdict_sent() const { return Clock::time_point(Clock::duration(sent_)); }

  private:
    void reply(const sockaddr_in& to, std::string_view text) {
        sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    void serve() {
        char datagram[256];
        while (!stop_) {
            pollfd waiting{fd_, POLLIN, 0};
            if (poll(&waiting, 1, kBoardPollMs) <= 0) {
                continue;
            }
            sockaddr_in from{};
            socklen_t length = sizeof from;
            ssize_t got = recvfrom(fd_, datagram, sizeof datagram, 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
            std::string_view text(datagram, got > 0 ? static_cast<std::size_t>(got) : 0);
            if (has_tag(text, "<VERSION>")) {
                reply(from, "<VERSION> Talvium (benchmark board)");
            } else if (has_tag(text, "<ERASESYS>")) {
                reply(from, "<ERASE_START>");
                int erase_ms = kEraseMs + (erases_++ * 37) % kEraseSpreadMs;
                std::this_thread::sleep_for(std::chrono::milliseconds(erase_ms));
                sent_ = Clock::now().time_since_epoch().count();
                reply(from, "<ERASE_OK>");
            }
        }
    }

    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<Clock::rep> sent_{0};
    int erases_ = 0;
};

struct SilentFigures {
    std::vector<double> tool_cpu, bound_cpu, tool_wall, bound_wall;
    std::vector<double> tool_start_cpu, bound_start_cpu;  // runs that end at once
    std::vector<double> sleeper_cpu;                      // 20 bare sleeps of a second
    int failed = 0;
};

// The CPU time of starting and ending alone: the tool without arguments (its usage text) and the
// client's help, each run as often as the silent waits.
void measure_start_and_end(const IdleExitSettings& settings, SilentFigures& figures) {
    for (int i = 0; i < settings.silent_runs; ++i) {
        figures.tool_start_cpu.push_back(
            run_measured({settings.tool}, {}, kSilentRunTimeoutSeconds, Start::spawn).cpu_seconds);
        figures.bound_start_cpu.push_back(
            run_measured({settings.self, "--help"}, {}, kSilentRunTimeoutSeconds, Start::spawn)
                .cpu_seconds);
    }
}

// One silent wait: `tvflash version`, or the client's probe, against a socket of its own that
// never answers. Returns whether the run ended as a timeout should.
bool measure_one_silent_wait(const std::vector<std::string>& argv_before_port, bool is_tool,
                             ChildRun& run) {
    std::uint16_t port = 0;
    int board = open_loopback_socket(port);
    if (board < 0) {
        std::fprintf(stderr, "tvflash_bench: cannot open a silent board's socket\n");
        return false;
    }
    std::vector<std::string> argv = argv_before_port;
    argv.push_back(std::to_string(port));
    if (is_tool) {
        argv.push_back("version");
    }
    run = run_measured(argv, {}, kSilentRunTimeoutSeconds, Start::spawn);
    close(board);
    if (is_tool) {
        return run.exit_status == 1 &&
               run.output.find("Target system not responding.") != std::string::npos;
    }
    return run.exit_status == 1 && !run.timed_out;
}

// The tool and the client wait side by side, one pair at a time: more at once would make them
// share a board socket's queue and two cores, and the figures would measure that crowding.
SilentFigures measure_silent_waits(const IdleExitSettings& settings) {
    SilentFigures figures;
    std::fprintf(
        stderr,
        "silent waits: %d pairs of the tool and the client (and a bare sleeper), about %d s\n",
        settings.silent_runs, settings.silent_runs * 20);
    for (int i = 0; i < settings.silent_runs; ++i) {
        ChildRun tool_run;
        ChildRun bound_run;
        bool tool_ok = false;
        std::thread tool_runner([&] {
            tool_ok = measure_one_silent_wait({settings.tool, "127.0.0.1"}, true, tool_run);
        });
        std::thread sleeper_runner([&] {
            ChildRun sleeper = run_measured({settings.self, "--bare-sleeps"}, {},
                                            kSilentRunTimeoutSeconds, Start::spawn);
            if (sleeper.exit_status == 0) {
                figures.sleeper_cpu.push_back(sleeper.cpu_seconds);
            }
        });
        bool bound_ok = measure_one_silent_wait({settings.self, "--bound-probe"}, false, bound_run);
        tool_runner.join();
        sleeper_runner.join();
        if (!tool_ok || !bound_ok) {
            ++figures.failed;
            continue;
        }
        figures.tool_cpu.push_back(tool_run.cpu_seconds);
        figures.tool_wall.push_back(tool_run.wall_seconds);
        figures.bound_cpu.push_back(bound_run.cpu_seconds);
        figures.bound_wall.push_back(bound_run.wall_seconds);
    }
    measure_start_and_end(settings, figures);
    return figures;
}

struct ExitFigures {
    std::vector<double> tool, bound;
    int failed = 0;
};

// Seconds from the board's verdict to the end of one run; negative when the run failed.
double exit_delay(const ErasingBoard& board, const std::vector<std::string>& argv,
                  const std::string& output_path, std::string_view verdict) {
    TimedExit run = run_to_exit(argv, output_path);
    if (!run.started || run.exit_status != 0 || run.output.find(verdict) == std::string::npos) {
        return -1;
    }
    return std::chrono::duration<double>(run.ended - board.verdict_sent()).count();
}

ExitFigures measure_exits(const IdleExitSettings& settings) {
    ExitFigures figures;
    ErasingBoard board;
    if (!board.start()) {
        std::fprintf(stderr, "tvflash_bench: cannot open the erasing board's socket\n");
        figures.failed = settings.exit_runs;
        return figures;
    }
    std::string port = std::to_string(board.port());
    char output_template[] = "/tmp/tvflash-bench-exit.XXXXXX";
    int output_fd = mkstemp(output_template);
    if (output_fd < 0) {
        figures.failed = settings.exit_runs;
        return figures;
    }
    close(output_fd);
    std::fprintf(stderr, "ends after the last reply: %d runs each, about %d s\n",
                 settings.exit_runs, settings.exit_runs * 23 / 10);
    for (int i = 0; i < settings.exit_runs; ++i) {
        // Tool and client alternate, so that a drift of the machine touches both alike.
        double tool = exit_delay(board, {settings.tool, "127.0.0.1", port, "erasesys"},
                                 output_template, "Flash memory has been successfully erased.");
        double bound =
            exit_delay(board, {settings.self, "--bound-erase", port}, output_template, "OK.");
        if (tool < 0 || bound < 0) {
            ++figures.failed;
            continue;
        }
        figures.tool.push_back(tool);
        figures.bound.push_back(bound);
    }
    std::remove(output_template);
    return figures;
}

std::string range_ms(std::vector<double> samples) {
    if (samples.empty()) {
        return "-";
    }
    auto [low, high] = std::minmax_element(samples.begin(), samples.end());
    return format_milliseconds(*low) + " to " + format_milliseconds(*high);
}

}  // namespace

void measure_idle_and_exit(const IdleExitSettings& settings) {
    SilentFigures silent = measure_silent_waits(settings);
    ExitFigures exits = measure_exits(settings);
    std::printf(
        "\nWaiting and ending, the tool beside the minimal client (medians; the silent wait is "
        "`tvflash version` against a socket that never answers, the end is timed from the board's "
        "erase verdict to the exit of `tvflash erasesys`):\n\n");
    std::printf("| Measure | Runs | Tool | Bound | Tool range | Bound range |\n");
    std::printf("| --- | --- | --- | --- | --- | --- |\n");
    std::printf("| CPU of a 20-second silent wait | %zu of %d | %s | %s | %s | %s |\n",
                silent.tool_cpu.size(), settings.silent_runs,
                format_milliseconds(median(silent.tool_cpu)).c_str(),
                format_milliseconds(median(silent.bound_cpu)).c_str(),
                range_ms(silent.tool_cpu).c_str(), range_ms(silent.bound_cpu).c_str());
    std::printf("| CPU of 20 one-second sleeps and nothing else | %zu | | %s | | %s |\n",
                silent.sleeper_cpu.size(), format_milliseconds(median(silent.sleeper_cpu)).c_str(),
                range_ms(silent.sleeper_cpu).c_str());
    std::printf("| Wall of that wait | %zu of %d | %s | %s | | |\n", silent.tool_wall.size(),
                settings.silent_runs, format_seconds(median(silent.tool_wall)).c_str(),
                format_seconds(median(silent.bound_wall)).c_str());
    std::printf(
        "| CPU of a run that ends at once (start and exit alone) | %d | %s | %s | %s | %s |\n",
        settings.silent_runs, format_milliseconds(median(silent.tool_start_cpu)).c_str(),
        format_milliseconds(median(silent.bound_start_cpu)).c_str(),
        range_ms(silent.tool_start_cpu).c_str(), range_ms(silent.bound_start_cpu).c_str());
    std::printf(
        "| The wait's own CPU (the difference of the medians) | | %s | %s | | |\n",
        format_milliseconds(median(silent.tool_cpu) - median(silent.tool_start_cpu)).c_str(),
        format_milliseconds(median(silent.bound_cpu) - median(silent.bound_start_cpu)).c_str());
    std::printf("| Last reply to exit | %zu of %d | %s | %s | %s | %s |\n", exits.tool.size(),
                settings.exit_runs, format_milliseconds(median(exits.tool)).c_str(),
                format_milliseconds(median(exits.bound)).c_str(), range_ms(exits.tool).c_str(),
                range_ms(exits.bound).c_str());
}

int run_bare_sleeps() {
    constexpr int kSleeps = 20;
    for (int i = 0; i < kSleeps; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return 0;
}

}  // namespace bench
