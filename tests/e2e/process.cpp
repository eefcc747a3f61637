#include "e2e/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

std::string temp_file(const std::string& content) {
    char path[] = "/tmp/tvflash-test-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    close(fd);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string read_file(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

int milliseconds_until(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(left.count(), 0));
}

// A pipe whose ends no other child inherits: a child started at the same time by another thread
// would otherwise hold the write end open, and the reader would wait for that child's end too.
bool open_pipe(int fds[2]) {
#if defined(__linux__)
    return pipe2(fds, O_CLOEXEC) == 0;
#else
    return pipe(fds) == 0 && fcntl(fds[0], F_SETFD, FD_CLOEXEC) == 0 &&
           fcntl(fds[1], F_SETFD, FD_CLOEXEC) == 0;
#endif
}

}  // namespace

ChildProcess::ChildProcess(const std::string& binary, const std::vector<std::string>& args,
                           const std::string& stdin_text)
    : in_path_(temp_file(stdin_text)), err_path_(temp_file("")), start_(Clock::now()) {
    int out_pipe[2];
    if (!open_pipe(out_pipe)) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in_path_.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, out_pipe[1]);
    std::vector<std::string> argv_text{binary};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_text) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    // A program named without a folder, such as wine, is looked up in PATH.
    int spawned = posix_spawnp(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    out_fd_ = out_pipe[0];
    if (spawned != 0) {
        close(out_fd_);
        unlink(in_path_.c_str());
        unlink(err_path_.c_str());
        throw std::runtime_error("posix_spawn failed");
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(out_fd_);
    unlink(in_path_.c_str());
    unlink(err_path_.c_str());
}

const std::string& ChildProcess::read_line(std::chrono::milliseconds timeout) {
    return read_until("\n", timeout);
}

const std::string& ChildProcess::read_until(const std::string& text,
                                            std::chrono::milliseconds timeout) {
    read_output(Clock::now() + timeout, text);
    return out_;
}

void ChildProcess::send_signal(int signal_number) {
    kill(pid_, signal_number);
}

void ChildProcess::read_output(Clock::time_point deadline, const std::string& stop_at) {
    char chunk[4096];
    while (stop_at.empty() || out_.find(stop_at) == std::string::npos) {
        pollfd entry{out_fd_, POLLIN, 0};
        if (Clock::now() >= deadline || poll(&entry, 1, milliseconds_until(deadline)) <= 0) {
            return;
        }
        ssize_t n = read(out_fd_, chunk, sizeof chunk);
        if (n <= 0) {
            return;
        }
        out_.append(chunk, static_cast<std::size_t>(n));
    }
}

bool ChildProcess::has_ended() const {
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    return info.si_pid != 0;
}

RunResult ChildProcess::finish(std::chrono::milliseconds timeout, int signal_number) {
    const Clock::time_point deadline = Clock::now() + timeout;
    if (signal_number != 0) {
        kill(pid_, signal_number);
    }
    read_output(deadline, "");
    int wait_status = 0;
    rusage usage{};
    bool ended = true;
    while (wait4(pid_, &wait_status, WNOHANG, &usage) == 0) {
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            wait4(pid_, &wait_status, 0, &usage);
            ended = false;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    RunResult result;
    result.status = ended && WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    result.out = out_;
    result.err = read_file(err_path_);
    result.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    result.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return result;
}

RunResult run_process(const std::string& binary, const std::vector<std::string>& args,
                      const std::string& stdin_text, std::chrono::milliseconds timeout) {
    return ChildProcess(binary, args, stdin_text).finish(timeout);
}

testing::AssertionResult ran(const RunResult& run, int status, const std::string& out,
                             const std::string& err) {
    if (run.status == status && run.out == out && run.err == err) {
        return testing::AssertionSuccess();
    }
    auto failure = testing::AssertionFailure();
    if (run.status != status) {
        failure << "status " << run.status << ", expected " << status << "\n";
    }
    if (run.out != out) {
        failure << "out " << testing::PrintToString(run.out) << "\nexpected "
                << testing::PrintToString(out) << "\n";
    }
    if (run.err != err) {
        failure << "err " << testing::PrintToString(run.err) << "\nexpected "
                << testing::PrintToString(err) << "\n";
    }
    return failure;
}

testing::AssertionResult output_is(const std::string& text, const std::vector<Part>& parts) {
    std::size_t at = 0;
    for (const Part& part : parts) {
        if (part.fill == '\0') {
            if (text.compare(at, part.text.size(), part.text) != 0) {
                return testing::AssertionFailure()
                       << "no " << testing::PrintToString(part.text) << " at " << at << " of "
                       << testing::PrintToString(text);
            }
            at += part.text.size();
            continue;
        }
        std::size_t end = std::min(text.find_first_not_of(part.fill, at), text.size());
        int count = static_cast<int>(end - at);
        if (count < part.low || count > part.high) {
            return testing::AssertionFailure()
                   << count << " of '" << part.fill << "' at " << at << ", expected " << part.low
                   << " to " << part.high << ", in " << testing::PrintToString(text);
        }
        at = end;
    }
    if (at != text.size()) {
        return testing::AssertionFailure()
               << "more after " << at << " of " << testing::PrintToString(text);
    }
    return testing::AssertionSuccess();
}

}  // namespace e2e
