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
// until the exec, the kernel counts the parent's resident size into the child's peak. Windows
// starts every child the same way.
enum class Start { spawn, fork };

// The most standard input a child can be given: it is written before the child starts.
inline constexpr std::size_t kMaxInputBytes = 4096;

struct Command {
    // argv[0] is the program: a path, or a bare name looked up in PATH (not with Start::fork).
    std::vector<std::string> argv;
    std::optional<std::string> input;  // the whole standard input, through a pipe
    std::string input_path;            // or a file to read it from; with neither, the null device
    Sink out = Sink::pipe;
    std::string out_path;  // for Sink::file
    Sink err = Sink::pipe;
    std::string err_path;  // for Sink::file
    // The child gets a process group of its own, so the Ctrl-C of the terminal does not reach it.
    bool own_group = false;
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

    // Asks the child to end (SIGTERM; on Windows it is ended at once).
    void terminate();
    // Ends the child at once (SIGKILL; TerminateProcess).
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
// processes must be destroyed before it.
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

    // From now on Ctrl-C and SIGTERM (SIGHUP too on POSIX; Ctrl-Break on Windows) no longer end
    // this program: each ends the current or next wait with interrupted
    // and is counted. Call it once, before any other thread starts. Children started afterwards
    // get the default handling back.
    void catch_interrupts();
    // How many interrupts came since catch_interrupts.
    int interrupts() const;

    // Waits for duration; an interrupt (after catch_interrupts) ends the wait early. Returns
    // interrupted or timed_out.
    WaitResult pause(std::chrono::milliseconds duration);

  private:
    friend class Process;
    struct State;
    std::unique_ptr<State> state_;
};

// Raises the limit of open files of this process as far as the system allows it, and returns
// the limit now in force; none where there is no such limit (Windows).
std::optional<std::uint64_t> raise_open_file_limit();

// The path of the running program's own file; empty when the system cannot tell.
std::string own_executable_path();

// The Windows command line for argv: each argument quoted as the C runtime splits it again.
std::string windows_command_line(const std::vector<std::string>& argv);

}  // namespace subprocess
