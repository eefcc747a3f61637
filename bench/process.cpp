#include "process.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace bench {

struct Background::Child {
    subprocess::ProcessSet set;
    std::unique_ptr<subprocess::Process> process;
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadPauseMs = 1;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::chrono::milliseconds milliseconds_of(double seconds) {
    return std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000) + 1);
}

// Records the first time each marker shows in the output; only the new text and the few
// characters before it can hold a marker not seen yet.
void note_markers(const std::string& output, std::size_t old_size,
                  const std::vector<std::string>& markers, double now, std::vector<double>& seen) {
    for (std::size_t i = 0; i < markers.size(); ++i) {
        if (seen[i] >= 0) {
            continue;
        }
        std::size_t from = old_size >= markers[i].size() ? old_size - markers[i].size() : 0;
        if (output.find(markers[i], from) != std::string::npos) {
            seen[i] = now;
        }
    }
}

// The user and system seconds of each thread of a process, its first one's included, from /proc.
void note_threads(std::int64_t pid, std::map<std::string, double>& seconds) {
    std::error_code ignored;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, ignored)) {
        std::string stat = read_file((task.path() / "stat").string());
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            ticks += i >= 14 ? std::stod(field) : 0;  // utime and stime
        }
        seconds[task.path().filename()] = ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
}

// Reads the child's output until it closes or the time is up; false when the time ran out.
bool read_until_closed(subprocess::ProcessSet& set, subprocess::Process& process,
                       double timeout_seconds, const std::vector<std::string>& markers,
                       ChildRun& run) {
    const Clock::time_point started_at = process.started();
    std::map<std::string, double> threads;
    Clock::time_point threads_seen{};
    while (!process.output_closed()) {
        if (Clock::now() - threads_seen > std::chrono::milliseconds(20)) {
            note_threads(process.id(), threads);
            threads_seen = Clock::now();
        }
        double left = timeout_seconds - seconds_since(started_at);
        if (left <= 0) {
            return false;
        }
        set.wait(milliseconds_of(left));
        for (subprocess::Chunk& chunk : process.take_output()) {
            std::size_t old_size = run.output.size();
            run.output += chunk.bytes;
            note_markers(run.output, old_size, markers, seconds_since(started_at),
                         run.marker_seconds);
        }
        // The tool writes a character per block; reading each at once would make the benchmark
        // compete with the upload it measures. A pause bounds the markers' error to about 1 ms.
        pause_ms(kReadPauseMs);
    }
    for (const auto& [thread, seconds] : threads) {
        run.threads_cpu_seconds += seconds;
        if (thread != std::to_string(process.id())) {
            run.other_threads_cpu_seconds += seconds;
        }
    }
    return true;
}

}  // namespace

ChildRun run_measured(const std::vector<std::string>& argv, const std::vector<std::string>& markers,
                      double timeout_seconds, Start start) {
    ChildRun run;
    run.marker_seconds.assign(markers.size(), -1);
    subprocess::ProcessSet set;
    subprocess::Command command;
    command.argv = argv;
    command.err = subprocess::Sink::to_output;
    command.start = start;
    std::string error;
    std::unique_ptr<subprocess::Process> process = set.start(command, error);
    if (!process) {
        return run;
    }
    run.started = true;
    if (!read_until_closed(set, *process, timeout_seconds, markers, run)) {
        run.timed_out = true;
        process->kill();
    }
    process->wait_exit();
    const subprocess::Exit& exit = process->exit();
    run.wall_seconds = std::chrono::duration<double>(exit.seen - process->started()).count();
    run.cpu_seconds = exit.cpu_seconds;
    run.peak_rss_kib = exit.peak_rss_kib;
    run.exit_status = exit.status;
    return run;
}

TimedExit run_to_exit(const std::vector<std::string>& argv, const std::string& output_path) {
    TimedExit run;
    subprocess::ProcessSet set;
    subprocess::Command command;
    command.argv = argv;
    command.out = subprocess::Sink::file;
    command.out_path = output_path;
    command.err = subprocess::Sink::to_output;
    std::string error;
    std::unique_ptr<subprocess::Process> process = set.start(command, error);
    if (!process) {
        return run;
    }
    run.started = true;
    // Blocks in wait4, so the end is seen the moment the kernel reports it.
    process->wait_exit();
    run.ended = process->exit().seen;
    run.cpu_seconds = process->exit().cpu_seconds;
    run.exit_status = process->exit().status;
    run.output = read_file(output_path);
    std::remove(output_path.c_str());
    return run;
}

std::optional<Background> start_background(const std::vector<std::string>& argv,
                                           const std::string& output_path) {
    auto child = std::make_shared<Background::Child>();
    subprocess::Command command;
    command.argv = argv;
    command.out = subprocess::Sink::file;
    command.out_path = output_path;
    command.err = subprocess::Sink::discard;
    std::string error;
    child->process = child->set.start(command, error);
    if (!child->process) {
        return std::nullopt;
    }
    return Background{child, output_path};
}

bool stop_background(Background& program) {
    if (!program.child) {
        return false;
    }
    subprocess::Process& process = *program.child->process;
    process.terminate();
    bool ended = process.wait_exit(std::chrono::seconds(5));
    if (!ended) {
        process.kill();
        process.wait_exit();
    }
    bool clean = ended && process.exit().status == 0;
    program.child.reset();
    return clean;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void pause_ms(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace bench
