// Child processes: starting programs with their standard streams redirected, reading the output
// of many of them at once as it comes, and ending them. One implementation per platform
// (subprocess_posix.cpp, subprocess_win32.cpp). tvflash-fleet, the benchmarks and the end-to-end
// tests share it; the tool itself does not link it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace subprocess {

// Where a child's standard output or standard error goes.
enum class Sink {
    pipe,       // to the set, which reads it as it comes
    file,       // to a file, created or emptied first
    discard,    // to the null device
    to_output,  // standard error only: wherever standard output goes
};

// How a child is started on POSIX systems. Each keeps one figure of the child's own and taints
// another: after a fork the exec tears down a copy of the parent's page tables, which the child's
// CPU time is charged for (a few milliseconds); after a spawn, which shares the parent's memory
// until the exec, the kernel counts the parent's resident size into the child's peak. A child that
// ends with its parent is forked on Linux and FreeBSD, and so is every child where a spawn cannot
// close the parent's other descriptors (glibc before 2.34, the BSDs). Windows starts every child
// the same way.
enum class Start { spawn, fork };

// The most standard input a child can be given: it is written before the child starts.
inline constexpr std::size_t kMaxInputBytes = 4096;

// What a child gets of its parent: its three standard streams and nothing else (no other
// descriptor or handle, whether or not it was opened close-on-exec), the environment, and on
// POSIX the signals that the parent ignored when its first ProcessSet was made still ignored, all
// others at their default, none blocked.
struct Command {
    // argv[0] is the program: a path, or a bare name looked up in PATH.
    std::vector<std::string> argv;
    std::optional<std::string> input;  // the whole standard input, through a pipe
    std::string input_path;            // or a file to read it from; with neither, the null device
    Sink out = Sink::pipe;
    std::string out_path;  // for Sink::file
    Sink err = Sink::pipe;
    std::string err_path;  // for Sink::file
    // The child gets a process group of its own, so the Ctrl-C of the terminal does not reach it;
    // terminate() and kill() then reach the whole group, children the child started included. On
    // Windows: a process group of the console, which terminate() sends Ctrl-Break to.
    bool own_group = false;
    // The child is ended when this program ends, however it ends (killed by SIGKILL included).
    // Linux: the kernel's parent-death signal (SIGKILL), set before the exec; it comes when the
    // thread that started the child ends, so start such children from a thread that outlives
    // them, and a set-user-ID program drops it. FreeBSD: the same through procctl. Windows: a job
    // object of its own that ends its processes when its last handle closes, so that kill() and
    // the parent's end also reach the processes the child started; where the system refuses the
    // job (a parent in a job that forbids nested ones, before Windows 8) the child runs without.
    // macOS, NetBSD and OpenBSD have no such mechanism: there the child outlives a parent that
    // is killed, and only an orderly end (Process's destructor) ends it. Only the child itself
    // is ended on POSIX: a child of its own that it has not ended by then goes on.
    bool end_with_parent = false;
    Start start = Start::spawn;
};

enum class Stream { out, err };

// Output as it was read from one of a child's pipes.
struct Chunk {
    Stream stream;
    std::string bytes;
};

// How a child ended.
struct Exit {
    int status = -1;          // the exit code; -1 when a signal ended the child
    int signal = 0;           // the signal that ended it (POSIX)
    double cpu_seconds = 0;   // user and system time of the child (and its reaped children)
    double peak_rss_kib = 0;  // peak resident memory (POSIX; 0 on Windows)
    std::chrono::steady_clock::time_point seen;  // when the end was noticed
};

class ProcessSet;

// One child, started by a ProcessSet. Destroying it ends a child still running (it is killed) and
// reaps it.
class Process {
  public:
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The operating system's process id.
    std::int64_t id() const;
    std::chrono::steady_clock::time_point started() const;

    // Output the set has read and nobody has taken yet, in the order it came.
    std::vector<Chunk> take_output();
    // True once every pipe of the child has reached its end.
    bool output_closed() const;

    // True once the child has ended and been reaped; exit() then tells how.
    bool ended() const;
    const Exit& exit() const;
    // True when ended and every pipe is closed: nothing more will come from this child.
    bool done() const { return ended() && output_closed(); }

    // Checks without blocking whether the child has ended, and reaps it if so.
    bool poll_exit();
    // Waits at most timeout (without one: as long as it takes) for the child to end; true when it
    // has. The output is not read meanwhile.
    bool wait_exit(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

    // Asks the child to end: SIGTERM (to its group with own_group). Windows: Ctrl-Break to its
    // process group with own_group, which the child can handle as it handles Ctrl-C; ended at
    // once (as by kill()) without own_group or when the event cannot be sent, as when this
    // program has no console. How long to wait before kill() is the caller's choice.
    void terminate();
    // Ends the child at once: SIGKILL (to its group with own_group). Windows: TerminateProcess,
    // or the child's job with everything in it where it has one (end_with_parent).
    void kill();

    struct State;

  private:
    friend class ProcessSet;
    explicit Process(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Why ProcessSet::wait returned.
enum class WaitResult {
    news,         // output came, a pipe closed or a child ended
    timed_out,    // the time passed without any of those
    interrupted,  // Ctrl-C or SIGTERM came (after catch_interrupts)
};

// The children started by one owner, waited on all at once. A set is used by one thread; its
// processes must be destroyed before it. The first set made resets an ignored SIGCHLD (inherited
// from the parent) to its default, without which no child's end could be told.
class ProcessSet {
  public:
    ProcessSet();
    ~ProcessSet();
    ProcessSet(const ProcessSet&) = delete;
    ProcessSet& operator=(const ProcessSet&) = delete;

    // Starts command; nothing and a reason in error when it could not be started.
    std::unique_ptr<Process> start(const Command& command, std::string& error);

    // Waits until output comes from any child, a pipe closes or a child ends (each child whose
    // pipes have closed is reaped), the timeout passes (without one: as long as it takes) or an
    // interrupt comes.
    WaitResult wait(std::optional<std::chrono::milliseconds> timeout);

    // Waits for duration, or less when an interrupt comes (after catch_interrupts), without
    // reading the children: interrupted or timed_out. An interrupt that came while none was being
    // waited for ends it at once, so pause(0ms) takes such an interrupt before a child is started.
    WaitResult pause(std::chrono::milliseconds duration);

    // From now on Ctrl-C and SIGTERM (SIGHUP too on POSIX; Ctrl-Break, and the console window
    // closed or the system shutting down, on Windows) no longer end this program: each ends the
    // current or next wait or pause with interrupted and is counted. On POSIX a signal that was
    // ignored when the first ProcessSet was made (SIGHUP under nohup) stays ignored and is not
    // counted, and SIGPIPE is ignored (a write to a closed pipe fails with EPIPE instead of
    // ending the program). On Windows the handler holds the program for up to ten seconds after
    // the console closes or the system shuts down (the system ends it after about five), so that
    // it can end its children and finish its record. Call it once, before any other thread
    // starts. Children started afterwards get the handling of these signals that this program
    // started with.
    void catch_interrupts();
    // How many interrupts came since catch_interrupts.
    int interrupts() const;

  private:
    friend class Process;
    struct State;
    std::unique_ptr<State> state_;
};

// Descriptors (POSIX) a child costs its parent while it runs: the read end of each output pipe
// (one when standard error goes to standard output, none for a file or the null device) and, on
// Linux, its process descriptor.
inline constexpr int kDescriptorsPerChild = 3;
// Descriptors a start needs for a moment beyond those the child keeps: the input pipe's read end,
// the child's ends of its output pipes, and a pipe that reports a failed exec.
inline constexpr int kDescriptorsPerStart = 5;

// Raises this program's soft limit of open descriptors (RLIMIT_NOFILE) to its hard limit, and
// returns the soft limit now in force; none when there is no limit (unlimited, or Windows, where
// handles have none; there it raises the C runtime's count of open streams).
std::optional<std::uint64_t> raise_open_file_limit();

// The path of the running program's own file; empty when the system cannot tell (OpenBSD, which
// keeps no record of it; NetBSD without /proc mounted).
std::string own_executable_path();

// The Windows command line for argv: each argument quoted as the C runtime splits it again.
std::string windows_command_line(const std::vector<std::string>& argv);

}  // namespace subprocess
