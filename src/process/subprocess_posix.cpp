// Child processes on POSIX systems: posix_spawn (or fork and exec), pipes read after one ppoll
// over every child's pipes, and wait4 for the end with the child's resource usage.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/prctl.h>
#elif defined(__APPLE__)
#include <mach-o/dyld.h>
#elif defined(__FreeBSD__) || defined(__DragonFly__)
#include <sys/procctl.h>
#include <sys/sysctl.h>
#endif

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "process/subprocess.h"

extern char** environ;

namespace subprocess {
namespace {

using Clock = std::chrono::steady_clock;

// Interrupts are counted here by the signal handler; the signals are blocked but during a wait,
// so the handler runs only inside ppoll and never races with the code that reads the count.
std::atomic<int> interrupt_count{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};
// The signals whose handling catch_interrupts changes; children get back what the program had.
constexpr int kChangedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// The kernel ends a child with its parent (see Command::end_with_parent).
#if defined(__linux__) || defined(PROC_PDEATHSIG_CTL)
constexpr bool kParentDeathSignal = true;
#else
constexpr bool kParentDeathSignal = false;
#endif

// posix_spawn can close every descriptor but the standard streams in the child: glibc's
// closefrom action, or Apple's flag that makes every descriptor not named by an action
// close-on-exec. Elsewhere every child is forked.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
#define TVFLASH_SPAWN_CLOSEFROM 1
constexpr bool kSpawnClosesDescriptors = true;
#elif defined(POSIX_SPAWN_CLOEXEC_DEFAULT)
constexpr bool kSpawnClosesDescriptors = true;
#else
constexpr bool kSpawnClosesDescriptors = false;
#endif

// The signals of kChangedSignals that were ignored when the first set was made: they stay
// ignored, in the program and in its children (nohup's SIGHUP).
const sigset_t& ignored_at_start() {
    static const sigset_t ignored = [] {
        sigset_t set;
        sigemptyset(&set);
        for (int number : kChangedSignals) {
            struct sigaction current {};
            if (sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
                sigaddset(&set, number);
            }
        }
        return set;
    }();
    return ignored;
}

// What a child resets to the default handling: the changed signals but those ignored at start.
sigset_t child_defaults() {
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int number : kChangedSignals) {
        if (!sigismember(&ignored_at_start(), number)) {
            sigaddset(&defaults, number);
        }
    }
    return defaults;
}

// A SIGCHLD ignored (inherited so from the parent) makes the kernel reap every child at once, and
// wait4 then finds none: each child's end would read as unknown.
void reset_ignored_sigchld() {
    struct sigaction current {};
    if (sigaction(SIGCHLD, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        sigemptyset(&defaults.sa_mask);
        sigaction(SIGCHLD, &defaults, nullptr);
    }
}

// A child whose pipes closed before it ended is looked at again this often.
constexpr auto kExitRecheck = std::chrono::milliseconds(10);
constexpr auto kExitPoll = std::chrono::milliseconds(5);

// A descriptor that becomes readable when the child ends, where the system has one (Linux's
// process descriptors); -1 elsewhere, where a child counts as ended once its pipes have closed.
int open_exit_fd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

void count_interrupt(int) {
    interrupt_count.fetch_add(1, std::memory_order_relaxed);
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

void close_fd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

double seconds_of(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double peak_rss_kib_of(const rusage& usage) {
#if defined(__APPLE__)
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // bytes there, KiB on Linux
#else
    return static_cast<double>(usage.ru_maxrss);
#endif
}

Exit exit_of(int status, const rusage& usage) {
    Exit exit;
    if (WIFEXITED(status)) {
        exit.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        exit.signal = WTERMSIG(status);
    }
    exit.cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
    exit.peak_rss_kib = peak_rss_kib_of(usage);
    exit.seen = Clock::now();
    return exit;
}

std::string system_error(const char* call, int error) {
    return std::string(call) + ": " + std::strerror(error);
}

// The descriptors a child gets as its standard streams, and those the parent keeps.
struct Plumbing {
    int child_in = -1;  // -1: in_path, or the null device
    const char* in_path = nullptr;
    int child_out = -1;  // -1 with a path: that file; -1 without: the null device
    int child_err = -1;
    const char* out_path = nullptr;
    const char* err_path = nullptr;
    bool err_to_out = false;
    int parent_out = -1;
    int parent_err = -1;

    void close_child_ends() {
        close_fd(child_in);
        close_fd(child_out);
        close_fd(child_err);
    }
    void close_all() {
        close_child_ends();
        close_fd(parent_out);
        close_fd(parent_err);
    }
};

// The input goes into the pipe before the child starts, so the parent never blocks on it and
// never writes to a child that has gone.
bool plumb_input(const std::optional<std::string>& input, Plumbing& plumbing, std::string& error) {
    if (!input) {
        return true;
    }
    if (input->size() > kMaxInputBytes) {
        error = "standard input of " + std::to_string(input->size()) + " bytes is too long";
        return false;
    }
    int fds[2];
    if (!open_pipe(fds)) {
        error = system_error("pipe", errno);
        return false;
    }
    plumbing.child_in = fds[0];
    ssize_t written = write(fds[1], input->data(), input->size());
    int write_error = errno;
    close(fds[1]);
    if (written != static_cast<ssize_t>(input->size())) {
        error = system_error("write", write_error);
        return false;
    }
    return true;
}

bool plumb_output(Sink sink, const std::string& path, int& child_end, const char*& child_path,
                  int& parent_end, std::string& error) {
    if (sink == Sink::file) {
        child_path = path.c_str();
    }
    if (sink != Sink::pipe) {
        return true;
    }
    int fds[2];
    if (!open_pipe(fds)) {
        error = system_error("pipe", errno);
        return false;
    }
    parent_end = fds[0];
    child_end = fds[1];
    return true;
}

bool plumb(const Command& command, Plumbing& plumbing, std::string& error) {
    plumbing.err_to_out = command.err == Sink::to_output;
    if (!command.input_path.empty()) {
        plumbing.in_path = command.input_path.c_str();
    }
    return plumb_input(command.input, plumbing, error) &&
           plumb_output(command.out, command.out_path, plumbing.child_out, plumbing.out_path,
                        plumbing.parent_out, error) &&
           (plumbing.err_to_out || plumb_output(command.err, command.err_path, plumbing.child_err,
                                                plumbing.err_path, plumbing.parent_err, error));
}

std::vector<char*> c_arguments(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    return args;
}

constexpr int kOutputFlags = O_WRONLY | O_CREAT | O_TRUNC;

// One standard output stream of the child: a pipe's end, a file or the null device.
void add_output_action(posix_spawn_file_actions_t& actions, int target, int fd, const char* path) {
    if (fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, fd, target);
    } else {
        posix_spawn_file_actions_addopen(&actions, target, path ? path : "/dev/null", kOutputFlags,
                                         0644);
    }
}

void add_file_actions(posix_spawn_file_actions_t& actions, const Plumbing& plumbing) {
    if (plumbing.child_in >= 0) {
        posix_spawn_file_actions_adddup2(&actions, plumbing.child_in, STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(
            &actions, STDIN_FILENO, plumbing.in_path ? plumbing.in_path : "/dev/null", O_RDONLY, 0);
    }
    add_output_action(actions, STDOUT_FILENO, plumbing.child_out, plumbing.out_path);
    if (plumbing.err_to_out) {
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else {
        add_output_action(actions, STDERR_FILENO, plumbing.child_err, plumbing.err_path);
    }
#if defined(TVFLASH_SPAWN_CLOSEFROM)
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
}

// The child starts with no signal blocked and the handling of the changed signals that the
// program started with.
void set_signal_attributes(posix_spawnattr_t& attributes, bool own_group) {
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults = child_defaults();
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#if defined(POSIX_SPAWN_CLOEXEC_DEFAULT) && !defined(TVFLASH_SPAWN_CLOSEFROM)
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
    if (own_group) {
        posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attributes, flags);
}

pid_t spawn_child(const Command& command, const Plumbing& plumbing, std::string& error) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0 || posix_spawnattr_init(&attributes) != 0) {
        error = "posix_spawn: cannot set up";
        return -1;
    }
    add_file_actions(actions, plumbing);
    set_signal_attributes(attributes, command.own_group);
    std::vector<char*> args = c_arguments(command.argv);
    pid_t pid = -1;
    int failed = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        error = "cannot start " + command.argv[0] + ": " + std::strerror(failed);
        return -1;
    }
    return pid;
}

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// The file an exec runs for program: program itself when it holds a slash, else the first
// executable file of that name in PATH's folders (an empty entry is the current folder); empty
// when there is none.
std::string find_program(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return program;
    }
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/bin:/usr/bin";
    for (std::size_t from = 0;;) {
        std::size_t end = folders.find(':', from);
        std::string folder = folders.substr(from, end - from);
        std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
        if (!program.empty() && is_executable_file(candidate)) {
            return candidate;
        }
        if (end == std::string::npos) {
            return {};
        }
        from = end + 1;
    }
}

// Everything the forked child needs, made ready before the fork: after it, the child makes only
// async-signal-safe calls until the exec.
struct ForkPlan {
    const char* path = nullptr;  // the program's file, found in PATH
    char* const* args = nullptr;
    const Plumbing* plumbing = nullptr;
    sigset_t defaults{};  // the signals to set to their default handling
    bool own_group = false;
    pid_t end_with = 0;  // the parent whose end ends the child; 0: none
    int report_fd = -1;  // the write end of the pipe that reports a failed start
    int fd_limit = 0;    // descriptors are below this, for systems without close_range
};

// In the child after fork: only async-signal-safe calls until exec.
bool redirect_output(int target, int fd, const char* path) {
    if (fd < 0) {
        fd = open(path ? path : "/dev/null", kOutputFlags, 0644);
    }
    return fd >= 0 && dup2(fd, target) >= 0;
}

bool redirect_streams(const Plumbing& plumbing) {
    int in_fd = plumbing.child_in >= 0
                    ? plumbing.child_in
                    : open(plumbing.in_path ? plumbing.in_path : "/dev/null", O_RDONLY);
    return in_fd >= 0 && dup2(in_fd, STDIN_FILENO) >= 0 &&
           redirect_output(STDOUT_FILENO, plumbing.child_out, plumbing.out_path) &&
           (plumbing.err_to_out
                ? dup2(STDOUT_FILENO, STDERR_FILENO) >= 0
                : redirect_output(STDERR_FILENO, plumbing.child_err, plumbing.err_path));
}

// Asks the kernel to kill this child when parent ends; false when it has ended already, before
// the request could take effect.
bool end_with(pid_t parent) {
#if defined(__linux__)
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
        return false;
    }
#elif defined(PROC_PDEATHSIG_CTL)
    int number = SIGKILL;
    if (procctl(P_PID, 0, PROC_PDEATHSIG_CTL, &number) != 0) {
        return false;
    }
#endif
    if (getppid() != parent) {
        errno = ESRCH;
        return false;
    }
    return true;
}

// Closes every descriptor from 3 up but keep (a descriptor above the standard streams).
void close_other_descriptors(int keep, int limit) {
#if defined(SYS_close_range)
    const unsigned first = STDERR_FILENO + 1;
    const unsigned kept = static_cast<unsigned>(std::max(keep, STDERR_FILENO));
    if ((kept <= first || syscall(SYS_close_range, first, kept - 1, 0) == 0) &&
        syscall(SYS_close_range, kept + 1, ~0U, 0) == 0) {
        return;
    }
#endif
    for (int fd = STDERR_FILENO + 1; fd < limit; ++fd) {
        if (fd != keep) {
            close(fd);
        }
    }
}

[[noreturn]] void report_and_exit(int report_fd) {
    int error = errno;
    ssize_t written = write(report_fd, &error, sizeof error);
    (void)written;
    _exit(127);
}

[[noreturn]] void exec_child(const ForkPlan& plan) {
    if (plan.own_group) {
        setpgid(0, 0);
    }
    if (plan.end_with != 0 && !end_with(plan.end_with)) {
        report_and_exit(plan.report_fd);
    }
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int number : kChangedSignals) {
        if (sigismember(&plan.defaults, number)) {
            sigaction(number, &defaults, nullptr);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (redirect_streams(*plan.plumbing)) {
        close_other_descriptors(plan.report_fd, plan.fd_limit);
        execv(plan.path, plan.args);
    }
    report_and_exit(plan.report_fd);
}

int descriptor_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 65536;
    }
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, INT_MAX));
}

// Reads the child's report: nothing comes when the exec succeeded (the pipe closes with it), the
// error number when the start failed. The child has then set its process group, so a signal to
// the group reaches it from now on.
int read_report(int report_fd) {
    int error = 0;
    ssize_t got = -1;
    do {
        got = read(report_fd, &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

void reap_failed(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

pid_t fork_child(const Command& command, const Plumbing& plumbing, std::string& error) {
    const std::string path = find_program(command.argv[0]);
    if (path.empty()) {
        error = "cannot start " + command.argv[0] + ": " + std::strerror(ENOENT);
        return -1;
    }
    int report[2];
    if (!open_pipe(report)) {
        error = system_error("pipe", errno);
        return -1;
    }
    std::vector<char*> args = c_arguments(command.argv);
    ForkPlan plan;
    plan.path = path.c_str();
    plan.args = args.data();
    plan.plumbing = &plumbing;
    plan.defaults = child_defaults();
    plan.own_group = command.own_group;
    plan.end_with = command.end_with_parent && kParentDeathSignal ? getpid() : 0;
    plan.report_fd = report[1];
    plan.fd_limit = descriptor_limit();
    pid_t pid = fork();
    if (pid == 0) {
        exec_child(plan);
    }
    int fork_error = errno;
    close(report[1]);
    int start_error = pid < 0 ? 0 : read_report(report[0]);
    close(report[0]);
    if (pid < 0) {
        error = system_error("fork", fork_error);
        return -1;
    }
    if (start_error != 0) {
        reap_failed(pid);
        error = "cannot start " + command.argv[0] + ": " + std::strerror(start_error);
        return -1;
    }
    return pid;
}

// Whether command is started by fork and exec rather than by posix_spawn.
bool forks(const Command& command) {
    return command.start == Start::fork || !kSpawnClosesDescriptors ||
           (command.end_with_parent && kParentDeathSignal);
}

// Waits for any of fds, the timeout (none: -1) passing, or a signal that mask lets through.
int wait_for_fds(std::vector<pollfd>& fds, int timeout_ms, const sigset_t* mask) {
    timespec limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
#if defined(__linux__)
    return ppoll(fds.data(), fds.size(), timeout_ms < 0 ? nullptr : &limit, mask);
#else
    // Without ppoll, pselect takes the same mask; its sets hold descriptors below FD_SETSIZE.
    fd_set readable;
    FD_ZERO(&readable);
    int highest = -1;
    for (const pollfd& entry : fds) {
        if (entry.fd >= FD_SETSIZE) {
            errno = EMFILE;
            return -1;
        }
        FD_SET(entry.fd, &readable);
        highest = std::max(highest, entry.fd);
    }
    int ready =
        pselect(highest + 1, &readable, nullptr, nullptr, timeout_ms < 0 ? nullptr : &limit, mask);
    for (pollfd& entry : fds) {
        entry.revents = ready > 0 && FD_ISSET(entry.fd, &readable) ? POLLIN : 0;
    }
    return ready;
#endif
}

int milliseconds_of(std::optional<std::chrono::milliseconds> timeout) {
    if (!timeout) {
        return -1;
    }
    return static_cast<int>(std::clamp<std::int64_t>(timeout->count(), 0, 24 * 3600 * 1000));
}

}  // namespace

struct Process::State {
    ProcessSet::State* set = nullptr;
    pid_t pid = -1;
    int out_fd = -1;  // the read ends of the pipes; -1 when there is none or it has closed
    int err_fd = -1;
    Clock::time_point started;
    std::vector<Chunk> unread;
    bool reaped = false;
    Exit exit;

    int exit_fd = -1;    // readable once the child has ended; -1 when there is none
    bool group = false;  // the child leads a process group of its own
    bool pipes_closed() const { return out_fd < 0 && err_fd < 0; }

    // Sends the signal to the child's group (the children it started too), or to the child alone
    // when it has none. Once the child is reaped its number may be another process's.
    void signal(int number) const {
        if (reaped) {
            return;
        }
        if (!group || ::kill(-pid, number) != 0) {
            ::kill(pid, number);
        }
    }

    // Once the child has ended, everything it wrote is in its pipes. A pipe that stays open after
    // that is held by another process that inherited it (under Wine, a service or the desktop
    // process that the child started), and would keep the child from counting as done until that
    // process ends: such a pipe is read dry and closed.
    void drain_after_exit() {
        for (auto [fd, stream] : {std::pair{&out_fd, Stream::out}, {&err_fd, Stream::err}}) {
            pollfd ready{*fd, POLLIN, 0};
            while (*fd >= 0 && poll(&ready, 1, 0) > 0) {
                read_pipe(*fd, stream);
            }
            close_fd(*fd);
        }
        close_fd(exit_fd);
    }

    bool reap(int options) {
        if (reaped) {
            return true;
        }
        int status = 0;
        rusage usage{};
        pid_t done = -1;
        do {
            done = wait4(pid, &status, options, &usage);
        } while (done < 0 && errno == EINTR);
        if (done == 0) {
            return false;
        }
        // Nothing to wait for (ECHILD) counts as ended, with an unknown status.
        exit = done == pid ? exit_of(status, usage) : Exit{-1, 0, 0, 0, Clock::now()};
        reaped = true;
        return true;
    }

    // Reads once from a pipe that is ready; its end closes it. True when something happened.
    bool read_pipe(int& fd, Stream stream) {
        char chunk[16384];
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            return false;
        }
        if (got <= 0) {
            close_fd(fd);
            return true;
        }
        if (!unread.empty() && unread.back().stream == stream) {
            unread.back().bytes.append(chunk, static_cast<std::size_t>(got));
        } else {
            unread.push_back({stream, std::string(chunk, static_cast<std::size_t>(got))});
        }
        return true;
    }
};

struct ProcessSet::State {
    std::vector<Process::State*> members;
    bool catching = false;
    sigset_t wait_mask{};  // the signal mask during a wait, when catching interrupts
    int interrupts_at_start = 0;

    // Reaps the children whose pipes have all closed; true when one ended. waiting tells whether
    // such a child is still running.
    bool reap_closed(bool& waiting) {
        bool ended = false;
        waiting = false;
        for (Process::State* member : members) {
            if (member->pipes_closed() && !member->reaped) {
                ended |= member->reap(WNOHANG);
                waiting |= !member->reaped;
            }
        }
        return ended;
    }
};

Process::Process(std::unique_ptr<State> state) : state_(std::move(state)) {}

Process::~Process() {
    if (!state_->reaped) {
        state_->signal(SIGKILL);
        state_->reap(0);
    }
    close_fd(state_->out_fd);
    close_fd(state_->err_fd);
    close_fd(state_->exit_fd);
    std::erase(state_->set->members, state_.get());
}

std::int64_t Process::id() const {
    return state_->pid;
}

std::chrono::steady_clock::time_point Process::started() const {
    return state_->started;
}

std::vector<Chunk> Process::take_output() {
    return std::exchange(state_->unread, {});
}

bool Process::output_closed() const {
    return state_->pipes_closed();
}

bool Process::ended() const {
    return state_->reaped;
}

const Exit& Process::exit() const {
    return state_->exit;
}

bool Process::poll_exit() {
    return state_->reap(WNOHANG);
}

bool Process::wait_exit(std::optional<std::chrono::milliseconds> timeout) {
    if (!timeout) {
        return state_->reap(0);
    }
    const Clock::time_point deadline = Clock::now() + *timeout;
    while (!state_->reap(WNOHANG)) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kExitPoll);
    }
    return true;
}

void Process::terminate() {
    state_->signal(SIGTERM);
}

void Process::kill() {
    state_->signal(SIGKILL);
}

ProcessSet::ProcessSet() : state_(std::make_unique<State>()) {
    static const bool prepared = [] {
        reset_ignored_sigchld();
        ignored_at_start();
        return true;
    }();
    (void)prepared;
}

ProcessSet::~ProcessSet() = default;

std::unique_ptr<Process> ProcessSet::start(const Command& command, std::string& error) {
    if (command.argv.empty()) {
        error = "no program to start";
        return nullptr;
    }
    Plumbing plumbing;
    if (!plumb(command, plumbing, error)) {
        plumbing.close_all();
        return nullptr;
    }
    auto state = std::make_unique<Process::State>();
    state->started = Clock::now();
    state->pid = forks(command) ? fork_child(command, plumbing, error)
                                : spawn_child(command, plumbing, error);
    plumbing.close_child_ends();
    if (state->pid < 0) {
        plumbing.close_all();
        return nullptr;
    }
    state->set = state_.get();
    state->group = command.own_group;
    state->out_fd = plumbing.parent_out;
    state->err_fd = plumbing.parent_err;
    state->exit_fd = open_exit_fd(state->pid);
    state_->members.push_back(state.get());
    return std::unique_ptr<Process>(new Process(std::move(state)));
}

WaitResult ProcessSet::wait(std::optional<std::chrono::milliseconds> timeout) {
    bool waiting_for_exit = false;
    if (state_->reap_closed(waiting_for_exit)) {
        return WaitResult::news;
    }
    std::vector<pollfd> fds;
    std::vector<std::pair<Process::State*, int*>> owners;
    for (Process::State* member : state_->members) {
        for (int* fd : {&member->out_fd, &member->err_fd, &member->exit_fd}) {
            if (*fd >= 0) {
                fds.push_back({*fd, POLLIN, 0});
                owners.emplace_back(member, fd);
            }
        }
    }
    if (waiting_for_exit) {
        timeout = timeout ? std::min(*timeout, std::chrono::milliseconds(kExitRecheck))
                          : std::chrono::milliseconds(kExitRecheck);
    }
    int ready = wait_for_fds(fds, milliseconds_of(timeout),
                             state_->catching ? &state_->wait_mask : nullptr);
    if (ready < 0) {
        if (errno == EINTR) {
            return state_->catching ? WaitResult::interrupted : WaitResult::news;
        }
        // A wait that cannot be made (too many descriptors, no memory) is tried again a little
        // later rather than at once.
        std::this_thread::sleep_for(kExitRecheck);
        return WaitResult::news;
    }
    bool news = state_->reap_closed(waiting_for_exit);
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            continue;
        }
        auto [member, fd] = owners[i];
        if (fd == &member->exit_fd) {
            news |= member->reap(WNOHANG);
            member->drain_after_exit();
            continue;
        }
        if (*fd < 0) {
            continue;  // closed by the drain of a child that ended in this same wait
        }
        news |= member->read_pipe(*fd, fd == &member->out_fd ? Stream::out : Stream::err);
        if (member->pipes_closed()) {
            member->reap(WNOHANG);
        }
    }
    return news ? WaitResult::news : WaitResult::timed_out;
}

WaitResult ProcessSet::pause(std::chrono::milliseconds duration) {
    const int before = interrupt_count.load();
    const Clock::time_point deadline = Clock::now() + duration;
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        std::vector<pollfd> none;
        int ready = wait_for_fds(none, milliseconds_of(std::max(left, left.zero())),
                                 state_->catching ? &state_->wait_mask : nullptr);
        if (interrupt_count.load() != before) {
            return WaitResult::interrupted;
        }
        if (ready < 0 && errno != EINTR) {
            std::this_thread::sleep_for(deadline - Clock::now());
        }
        if (Clock::now() >= deadline) {
            return WaitResult::timed_out;
        }
    }
}

void ProcessSet::catch_interrupts() {
    const sigset_t& ignored = ignored_at_start();
    sigset_t caught;
    sigemptyset(&caught);
    for (int number : kInterruptSignals) {
        if (!sigismember(&ignored, number)) {
            sigaddset(&caught, number);
        }
    }
    struct sigaction action {};
    action.sa_handler = count_interrupt;
    action.sa_mask = caught;
    sigprocmask(SIG_BLOCK, &caught, &state_->wait_mask);
    for (int number : kInterruptSignals) {
        if (sigismember(&caught, number)) {
            sigdelset(&state_->wait_mask, number);
            sigaction(number, &action, nullptr);
        }
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    state_->catching = true;
    state_->interrupts_at_start = interrupt_count.load();
}

int ProcessSet::interrupts() const {
    return interrupt_count.load() - state_->interrupts_at_start;
}

std::optional<std::uint64_t> raise_open_file_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return static_cast<std::uint64_t>(sysconf(_SC_OPEN_MAX));
    }
    rlim_t wanted = limit.rlim_max;
#if defined(__APPLE__)
    // macOS refuses a soft limit above OPEN_MAX, whatever the hard limit says.
    wanted = std::min<rlim_t>(wanted, OPEN_MAX);
#endif
    if (limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = wanted;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    if (limit.rlim_cur == RLIM_INFINITY) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

#if defined(__APPLE__)
std::string own_executable_path() {
    char path[PATH_MAX];
    std::uint32_t size = sizeof path;
    if (_NSGetExecutablePath(path, &size) != 0) {
        return {};
    }
    // The path it was started by, which may pass through links; /proc/self/exe has none.
    char resolved[PATH_MAX];
    return realpath(path, resolved) != nullptr ? resolved : path;
}
#elif defined(__FreeBSD__) || defined(__DragonFly__)
std::string own_executable_path() {
    int name[] = {CTL_KERN, KERN_PROC, KERN_PROC_PATHNAME, -1};
    char path[PATH_MAX];
    std::size_t size = sizeof path;
    return sysctl(name, 4, path, &size, nullptr, 0) == 0 ? std::string(path) : std::string();
}
#elif defined(__OpenBSD__)
std::string own_executable_path() {
    return {};  // OpenBSD keeps no record of the file a program was started from.
}
#else
std::string own_executable_path() {
#if defined(__NetBSD__)
    const char* link = "/proc/curproc/exe";  // with /proc mounted
#else
    const char* link = "/proc/self/exe";
#endif
    char path[4096];
    ssize_t length = readlink(link, path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}
#endif

}  // namespace subprocess
