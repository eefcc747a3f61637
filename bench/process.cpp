#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadPauseMs = 1;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<char*> c_arguments(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    return args;
}

// In the child after fork: only async-signal-safe calls until exec.
[[noreturn]] void exec_child(std::vector<char*>& args, int out_fd, int err_fd) {
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 || dup2(out_fd, STDOUT_FILENO) < 0 ||
        dup2(err_fd < 0 ? null_fd : err_fd, STDERR_FILENO) < 0) {
        _exit(127);
    }
    execv(args[0], args.data());
    _exit(127);
}

pid_t spawn_child(std::vector<char*>& args, int out_fd, int err_fd) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return -1;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    if (err_fd < 0) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    } else {
        posix_spawn_file_actions_adddup2(&actions, err_fd, STDERR_FILENO);
    }
    pid_t pid = -1;
    int failed = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

// Starts argv with stdin from /dev/null, stdout on out_fd and stderr on err_fd (/dev/null when
// negative); the process id, or -1.
pid_t start_child(std::vector<char*>& args, int out_fd, int err_fd, Start start) {
    if (start == Start::spawn) {
        return spawn_child(args, out_fd, err_fd);
    }
    pid_t pid = fork();
    if (pid == 0) {
        exec_child(args, out_fd, err_fd);
    }
    return pid;
}

// A pipe whose ends no other child inherits: a child started at the same time by another thread
// would otherwise hold the write end open, and the reader would wait for that child's end too.
bool open_pipe(int fds[2]) {
#if defined(__linux__)
    return pipe2(fds, O_CLOEXEC) == 0;
#else
    if (pipe(fds) != 0) {
        return false;
    }
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return true;
#endif
}

double cpu_seconds_of(const rusage& usage) {
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double peak_rss_kib_of(const rusage& usage) {
#if defined(__APPLE__)
    return usage.ru_maxrss / 1024.0;  // bytes there, KiB on Linux
#else
    return static_cast<double>(usage.ru_maxrss);
#endif
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

}  // namespace

ChildRun run_measured(const std::vector<std::string>& argv, const std::vector<std::string>& markers,
                      double timeout_seconds, Start start) {
    ChildRun run;
    run.marker_seconds.assign(markers.size(), -1);
    std::vector<char*> args = c_arguments(argv);
    int pipe_fds[2];
    if (!open_pipe(pipe_fds)) {
        return run;
    }
    Clock::time_point started_at = Clock::now();
    pid_t pid = start_child(args, pipe_fds[1], pipe_fds[1], start);
    close(pipe_fds[1]);
    if (pid < 0) {
        close(pipe_fds[0]);
        return run;
    }
    run.started = true;
    char chunk[4096];
    for (;;) {
        double left = timeout_seconds - seconds_since(started_at);
        if (left <= 0) {
            run.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd waiting{pipe_fds[0], POLLIN, 0};
        int ready = poll(&waiting, 1, static_cast<int>(left * 1000) + 1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            continue;
        }
        ssize_t got = read(pipe_fds[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        std::size_t old_size = run.output.size();
        run.output.append(chunk, static_cast<std::size_t>(got));
        note_markers(run.output, old_size, markers, seconds_since(started_at), run.marker_seconds);
        // The tool writes a character per block; reading each at once would make the benchmark
        // compete with the upload it measures. A pause bounds the markers' error to about 1 ms.
        pause_ms(kReadPauseMs);
    }
    close(pipe_fds[0]);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.wall_seconds = seconds_since(started_at);
    run.cpu_seconds = cpu_seconds_of(usage);
    run.peak_rss_kib = peak_rss_kib_of(usage);
    if (WIFEXITED(status)) {
        run.exit_status = WEXITSTATUS(status);
    }
    return run;
}

TimedExit run_to_exit(const std::vector<std::string>& argv, const std::string& output_path) {
    TimedExit run;
    std::vector<char*> args = c_arguments(argv);
    int out_fd = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out_fd < 0) {
        return run;
    }
    pid_t pid = start_child(args, out_fd, out_fd, Start::spawn);
    close(out_fd);
    if (pid < 0) {
        return run;
    }
    run.started = true;
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.ended = Clock::now();
    run.cpu_seconds = cpu_seconds_of(usage);
    if (WIFEXITED(status)) {
        run.exit_status = WEXITSTATUS(status);
    }
    run.output = read_file(output_path);
    std::remove(output_path.c_str());
    return run;
}

std::optional<Background> start_background(const std::vector<std::string>& argv,
                                           const std::string& output_path) {
    std::vector<char*> args = c_arguments(argv);
    int out_fd = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out_fd < 0) {
        return std::nullopt;
    }
    pid_t pid = start_child(args, out_fd, -1, Start::spawn);
    close(out_fd);
    if (pid < 0) {
        return std::nullopt;
    }
    return Background{pid, output_path};
}

bool stop_background(Background& program) {
    if (program.pid <= 0) {
        return false;
    }
    kill(program.pid, SIGTERM);
    constexpr int kGraceMs = 5000;
    constexpr int kPollMs = 10;
    int status = 0;
    for (int waited = 0; waited < kGraceMs; waited += kPollMs) {
        pid_t done = waitpid(program.pid, &status, WNOHANG);
        if (done == program.pid) {
            program.pid = -1;
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        pause_ms(kPollMs);
    }
    kill(program.pid, SIGKILL);
    waitpid(program.pid, &status, 0);
    program.pid = -1;
    return false;
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
