// Child processes on Windows: CreateProcess with overlapped named pipes for standard output and
// error, every read and every child's end reported through one I/O completion port, which the set
// waits on.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <utility>

#include "process/subprocess.h"

namespace subprocess {
namespace {

using Clock = std::chrono::steady_clock;

// What a completion packet is about: the interrupt, a pipe's read (the OVERLAPPED is the pipe's),
// or a child's end (the byte count is the child's serial number).
constexpr ULONG_PTR kInterruptKey = 0;
constexpr ULONG_PTR kPipeKey = 1;
constexpr ULONG_PTR kExitKey = 2;

std::atomic<int> interrupt_count{0};
// The port of the set that catches interrupts; the console's handler thread posts to it.
std::atomic<HANDLE> interrupt_port{nullptr};
// Set by the console's handler too, for a pause, which takes no packet from the port.
std::atomic<HANDLE> interrupt_event{nullptr};

// After the console window closes or the system shuts down, the process ends when the handler
// returns (the system ends it anyway after about five seconds): the handler holds it meanwhile, so
// that the owner can end its children and finish its record, and exit by itself.
constexpr DWORD kCloseHoldMs = 10000;

std::atomic<unsigned> pipe_serial{0};

// A child whose pipes closed before its end was reported, or that ended with a pipe still open, is
// looked at again this often.
constexpr DWORD kExitRecheckMs = 10;

DWORD milliseconds_of(std::chrono::milliseconds duration) {
    return static_cast<DWORD>(std::clamp<std::int64_t>(duration.count(), 0, 24 * 3600 * 1000));
}

// What is left of total milliseconds (INFINITE: no end) since began.
DWORD time_left(DWORD total, ULONGLONG began) {
    const ULONGLONG spent = GetTickCount64() - began;
    if (total == INFINITE) {
        return INFINITE;
    }
    return spent >= total ? 0 : total - static_cast<DWORD>(spent);
}

// A user's logoff is left alone: it reaches only services (an interactive program is ended with
// the session), and there it may be any user's.
BOOL WINAPI on_console_event(DWORD event) {
    bool closing = event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && !closing) {
        return event == CTRL_LOGOFF_EVENT;
    }
    interrupt_count.fetch_add(1);
    if (HANDLE port = interrupt_port.load()) {
        PostQueuedCompletionStatus(port, 0, kInterruptKey, nullptr);
    }
    if (HANDLE woken = interrupt_event.load()) {
        SetEvent(woken);
    }
    if (closing) {
        Sleep(kCloseHoldMs);
    }
    return TRUE;
}

std::string system_error(const char* call) {
    return std::string(call) + " failed with error " + std::to_string(GetLastError());
}

void close_handle(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    handle = nullptr;
}

double seconds_of(const FILETIME& time) {
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    return static_cast<double>(ticks.QuadPart) / 1e7;
}

SECURITY_ATTRIBUTES inheritable() {
    return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
}

HANDLE open_existing(const char* path, DWORD access) {
    SECURITY_ATTRIBUTES attributes = inheritable();
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, OPEN_EXISTING,
                       0, nullptr);
}

HANDLE open_null(DWORD access) {
    return open_existing("NUL", access);
}

// A pipe the child reads its standard input from, holding the whole input already.
HANDLE input_pipe(const std::string& input, std::string& error) {
    SECURITY_ATTRIBUTES attributes = inheritable();
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &attributes,
                    static_cast<DWORD>(std::max<std::size_t>(input.size(), 4096)))) {
        error = system_error("CreatePipe");
        return nullptr;
    }
    DWORD written = 0;
    bool ok =
        WriteFile(write_end, input.data(), static_cast<DWORD>(input.size()), &written, nullptr) &&
        written == input.size();
    if (!ok) {
        error = system_error("WriteFile");
        close_handle(read_end);
    }
    CloseHandle(write_end);
    return read_end;
}

}  // namespace

// The parent's end of one of a child's output pipes, read with overlapped I/O.
struct Pipe {
    OVERLAPPED overlapped{};  // first, so that a completion's OVERLAPPED leads back to its pipe
    HANDLE handle = nullptr;
    Stream stream = Stream::out;
    Process::State* owner = nullptr;
    bool pending = false;  // a read is under way; its packet has not come yet
    char buffer[16384];
};

struct Process::State {
    ProcessSet::State* set = nullptr;
    unsigned serial = 0;
    HANDLE process = nullptr;
    DWORD pid = 0;
    HANDLE job = nullptr;  // the child's own job (end_with_parent); closing it ends what is in it
    bool group = false;    // the child leads a console process group of its own
    HANDLE exit_wait = nullptr;  // the registered wait that reports the end to the port
    Pipe pipes[2];
    Clock::time_point started;
    std::vector<Chunk> unread;
    bool reaped = false;
    bool closing = false;  // being destroyed: no more reads
    Exit exit;

    bool pipes_closed() const { return pipes[0].handle == nullptr && pipes[1].handle == nullptr; }

    bool reap(DWORD timeout_ms) {
        if (reaped) {
            return true;
        }
        if (WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0) {
            return false;
        }
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        exit.status = static_cast<int>(code);
        FILETIME created, ended, kernel, user;
        if (GetProcessTimes(process, &created, &ended, &kernel, &user)) {
            exit.cpu_seconds = seconds_of(kernel) + seconds_of(user);
        }
        exit.seen = Clock::now();
        reaped = true;
        return true;
    }
};

struct ProcessSet::State {
    HANDLE port = nullptr;
    std::vector<Process::State*> members;
    unsigned next_serial = 1;
    int interrupts_at_start = 0;
    bool catching = false;
    int interrupts_reported = 0;  // the count when a wait or a pause last ended with interrupted

    // True when an interrupt came that no wait or pause has reported yet; it is reported now.
    // The count, not the port's packet, tells: a pause takes no packet, and a process being
    // destroyed takes packets without reporting them.
    bool take_unreported() {
        const int count = interrupt_count.load();
        if (!catching || count == interrupts_reported) {
            return false;
        }
        interrupts_reported = count;
        return true;
    }

    // Starts the next read of a pipe; a pipe that cannot be read any more is closed.
    void read_next(Pipe& pipe) {
        if (ReadFile(pipe.handle, pipe.buffer, sizeof pipe.buffer, nullptr, &pipe.overlapped) ||
            GetLastError() == ERROR_IO_PENDING) {
            pipe.pending = true;
            return;
        }
        close_handle(pipe.handle);
    }

    void on_read(Pipe& pipe, DWORD bytes, bool ok) {
        pipe.pending = false;
        if (!ok || pipe.owner->closing) {
            // The child's end closed (ERROR_BROKEN_PIPE), or the read was cancelled.
            close_handle(pipe.handle);
            return;
        }
        std::vector<Chunk>& unread = pipe.owner->unread;
        if (!unread.empty() && unread.back().stream == pipe.stream) {
            unread.back().bytes.append(pipe.buffer, bytes);
        } else if (bytes > 0) {
            unread.push_back({pipe.stream, std::string(pipe.buffer, bytes)});
        }
        read_next(pipe);
    }

    // Reaps the children whose pipes have all closed; true when one ended. waiting tells whether
    // such a child still runs. Their end is also reported through the port; this covers a wait
    // that could not be registered.
    bool reap_closed(bool& waiting) {
        bool ended = false;
        waiting = false;
        for (Process::State* member : members) {
            if (member->pipes_closed() && !member->reaped) {
                ended |= member->reap(0);
                waiting |= !member->reaped;
            }
        }
        return ended;
    }

    // Once a child has ended, everything it wrote is in its pipes: in the read under way, or, with
    // none under way, waiting to be read. A pipe that stays open after that is held by another
    // process that inherited it (under Wine, the desktop process that a message box starts), and
    // would keep the child from counting as done until that process ends. A pipe with a read under
    // way and nothing left in it is closed by cancelling the read. True when such a child remains.
    bool close_drained_pipes() {
        bool draining = false;
        for (Process::State* member : members) {
            if (!member->reaped || member->closing || member->pipes_closed()) {
                continue;
            }
            draining = true;
            for (Pipe& pipe : member->pipes) {
                DWORD available = 0;
                if (pipe.handle != nullptr && pipe.pending &&
                    PeekNamedPipe(pipe.handle, nullptr, 0, nullptr, &available, nullptr) &&
                    available == 0) {
                    CancelIoEx(pipe.handle, &pipe.overlapped);
                }
            }
        }
        return draining;
    }

    void on_exit(unsigned serial) {
        for (Process::State* member : members) {
            if (member->serial == serial) {
                member->reap(0);
            }
        }
    }

    // Takes one packet from the port within timeout_ms. Returns false when none came.
    bool handle_packet(DWORD timeout_ms, WaitResult& result) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        bool ok = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, timeout_ms);
        if (!ok && overlapped == nullptr) {
            return false;
        }
        if (key == kInterruptKey) {
            return true;  // the count tells (take_unreported)
        }
        if (key == kExitKey) {
            on_exit(bytes);
        } else if (key == kPipeKey) {
            on_read(*reinterpret_cast<Pipe*>(overlapped), bytes, ok);
        }
        result = WaitResult::news;
        return true;
    }
};

namespace {

// The exit of a child, reported by the system's wait thread to the set's port.
VOID CALLBACK report_exit(PVOID context, BOOLEAN) {
    auto* state = static_cast<Process::State*>(context);
    PostQueuedCompletionStatus(state->set->port, state->serial, kExitKey, nullptr);
}

// A named pipe's overlapped server end for the parent and its client end, inheritable, for the
// child.
bool output_pipe(Pipe& pipe, HANDLE& child_end, std::string& error) {
    std::string name = "\\\\.\\pipe\\tvflash-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(pipe_serial.fetch_add(1));
    pipe.handle = CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 65536, 0, nullptr);
    if (pipe.handle == INVALID_HANDLE_VALUE) {
        pipe.handle = nullptr;
        error = system_error("CreateNamedPipe");
        return false;
    }
    SECURITY_ATTRIBUTES attributes = inheritable();
    child_end = CreateFileA(name.c_str(), GENERIC_WRITE, 0, &attributes, OPEN_EXISTING, 0, nullptr);
    if (child_end == INVALID_HANDLE_VALUE) {
        child_end = nullptr;
        error = system_error("CreateFile");
        return false;
    }
    return true;
}

HANDLE output_file(const std::string& path, std::string& error) {
    SECURITY_ATTRIBUTES attributes = inheritable();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &attributes, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = system_error("CreateFile");
        return nullptr;
    }
    return file;
}

bool plumb_output(Sink sink, const std::string& path, Pipe& pipe, HANDLE& child_end,
                  std::string& error) {
    switch (sink) {
        case Sink::pipe:
            return output_pipe(pipe, child_end, error);
        case Sink::file:
            child_end = output_file(path, error);
            return child_end != nullptr;
        default:
            child_end = open_null(GENERIC_WRITE);
            return child_end != INVALID_HANDLE_VALUE;
    }
}

// The handles a child gets as its standard streams; the parent closes them once it has started.
struct ChildEnds {
    HANDLE in = nullptr;
    HANDLE out = nullptr;
    HANDLE err = nullptr;  // the same as out for Sink::to_output

    ~ChildEnds() {
        if (err == out) {
            err = nullptr;
        }
        close_handle(in);
        close_handle(out);
        close_handle(err);
    }
};

bool plumb(const Command& command, Process::State& state, ChildEnds& ends, std::string& error) {
    if (command.input && command.input->size() > kMaxInputBytes) {
        error = "standard input of " + std::to_string(command.input->size()) + " bytes is too long";
        return false;
    }
    if (command.input) {
        ends.in = input_pipe(*command.input, error);
    } else {
        const char* path = command.input_path.empty() ? "NUL" : command.input_path.c_str();
        ends.in = open_existing(path, GENERIC_READ);
        error = ends.in == INVALID_HANDLE_VALUE ? system_error("CreateFile") : error;
    }
    if (ends.in == nullptr || ends.in == INVALID_HANDLE_VALUE) {
        ends.in = nullptr;
        return false;
    }
    if (!plumb_output(command.out, command.out_path, state.pipes[0], ends.out, error)) {
        return false;
    }
    if (command.err == Sink::to_output) {
        ends.err = ends.out;
        return true;
    }
    return plumb_output(command.err, command.err_path, state.pipes[1], ends.err, error);
}

// The list of the handles a child inherits: exactly its standard handles, not every inheritable
// handle of this program (files the C runtime opens are inheritable).
class InheritedHandles {
  public:
    explicit InheritedHandles(const ChildEnds& ends) {
        for (HANDLE handle : {ends.in, ends.out, ends.err}) {
            if (std::find(handles_, handles_ + count_, handle) == handles_ + count_) {
                handles_[count_++] = handle;
            }
        }
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            list_ = list;
            ready_ = UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                               handles_, count_ * sizeof(HANDLE), nullptr, nullptr);
        }
    }
    ~InheritedHandles() {
        if (list_ != nullptr) {
            DeleteProcThreadAttributeList(list_);
        }
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    // Nothing when the list could not be made.
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return ready_ ? list_ : nullptr; }

  private:
    HANDLE handles_[3] = {};
    std::size_t count_ = 0;
    std::vector<char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool ready_ = false;
};

// A job that ends every process in it when its last handle closes: at this program's end,
// however it ends.
HANDLE job_ending_with_parent() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) {
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// Puts the child, started suspended, into a job of its own before it runs a single instruction,
// so that nothing it starts escapes the job. Where the system refuses, it runs without one.
void join_job(Process::State& state) {
    state.job = job_ending_with_parent();
    if (state.job != nullptr && !AssignProcessToJobObject(state.job, state.process)) {
        close_handle(state.job);
    }
}

bool create_process(const Command& command, Process::State& state, const ChildEnds& ends,
                    std::string& error) {
    InheritedHandles inherited(ends);
    if (inherited.list() == nullptr) {
        error = system_error("UpdateProcThreadAttribute");
        return false;
    }
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = ends.in;
    startup.StartupInfo.hStdOutput = ends.out;
    startup.StartupInfo.hStdError = ends.err;
    startup.lpAttributeList = inherited.list();
    std::string line = windows_command_line(command.argv);
    // A new process group does not get the console's Ctrl-C.
    DWORD flags = EXTENDED_STARTUPINFO_PRESENT |
                  (command.own_group ? CREATE_NEW_PROCESS_GROUP : 0) |
                  (command.end_with_parent ? CREATE_SUSPENDED : 0);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup.StartupInfo, &info)) {
        error =
            "cannot start " + command.argv[0] + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    state.process = info.hProcess;
    state.pid = info.dwProcessId;
    state.group = command.own_group;
    if (command.end_with_parent) {
        join_job(state);
        ResumeThread(info.hThread);
    }
    CloseHandle(info.hThread);
    return true;
}

void close_pipes(Process::State& state) {
    for (Pipe& pipe : state.pipes) {
        close_handle(pipe.handle);
    }
}

}  // namespace

Process::Process(std::unique_ptr<State> state) : state_(std::move(state)) {}

Process::~Process() {
    if (!state_->reaped) {
        kill();
        state_->reap(INFINITE);
    }
    if (state_->exit_wait != nullptr) {
        UnregisterWaitEx(state_->exit_wait, INVALID_HANDLE_VALUE);
    }
    ProcessSet::State& set = *state_->set;
    // A read under way writes into the pipe's buffer until its packet comes: cancel it and take
    // that packet (handling any other that comes first) before the buffer goes.
    state_->closing = true;
    for (Pipe& pipe : state_->pipes) {
        if (pipe.pending) {
            CancelIoEx(pipe.handle, &pipe.overlapped);
        }
        while (pipe.pending) {
            WaitResult result = WaitResult::timed_out;
            set.handle_packet(INFINITE, result);
        }
    }
    close_pipes(*state_);
    close_handle(state_->process);
    // Ends what the child started and left running, with the job.
    close_handle(state_->job);
    std::erase(set.members, state_.get());
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
    return state_->reap(0);
}

bool Process::wait_exit(std::optional<std::chrono::milliseconds> timeout) {
    return state_->reap(timeout ? static_cast<DWORD>(timeout->count()) : INFINITE);
}

void Process::terminate() {
    if (state_->reaped) {
        return;
    }
    if (!state_->group || !GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, state_->pid)) {
        kill();
    }
}

void Process::kill() {
    if (state_->reaped) {
        return;
    }
    if (state_->job == nullptr || !TerminateJobObject(state_->job, 1)) {
        TerminateProcess(state_->process, 1);
    }
}

ProcessSet::ProcessSet() : state_(std::make_unique<State>()) {
    state_->port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
}

ProcessSet::~ProcessSet() {
    HANDLE port = state_->port;
    interrupt_port.compare_exchange_strong(port, nullptr);
    close_handle(state_->port);
}

std::unique_ptr<Process> ProcessSet::start(const Command& command, std::string& error) {
    if (command.argv.empty()) {
        error = "no program to start";
        return nullptr;
    }
    if (state_->port == nullptr) {
        error = "no completion port";
        return nullptr;
    }
    auto state = std::make_unique<Process::State>();
    state->set = state_.get();
    state->serial = state_->next_serial++;
    state->pipes[0].stream = Stream::out;
    state->pipes[1].stream = Stream::err;
    state->started = Clock::now();
    {
        ChildEnds ends;
        if (!plumb(command, *state, ends, error) || !create_process(command, *state, ends, error)) {
            close_pipes(*state);
            return nullptr;
        }
    }
    for (Pipe& pipe : state->pipes) {
        pipe.owner = state.get();
        if (pipe.handle != nullptr) {
            CreateIoCompletionPort(pipe.handle, state_->port, kPipeKey, 0);
            state_->read_next(pipe);
        }
    }
    RegisterWaitForSingleObject(&state->exit_wait, state->process, report_exit, state.get(),
                                INFINITE, WT_EXECUTEONLYONCE);
    state_->members.push_back(state.get());
    return std::unique_ptr<Process>(new Process(std::move(state)));
}

WaitResult ProcessSet::wait(std::optional<std::chrono::milliseconds> timeout) {
    if (state_->take_unreported()) {
        return WaitResult::interrupted;
    }
    DWORD first = timeout ? milliseconds_of(*timeout) : INFINITE;
    bool waiting_for_exit = false;
    if (state_->reap_closed(waiting_for_exit)) {
        return WaitResult::news;
    }
    if (state_->close_drained_pipes() || waiting_for_exit) {
        first = std::min<DWORD>(first, kExitRecheckMs);
    }
    const ULONGLONG began = GetTickCount64();
    for (DWORD left = first;; left = time_left(first, began)) {
        WaitResult result = WaitResult::timed_out;
        bool came = state_->handle_packet(left, result);
        // Whatever else is ready is taken now, so that one wait reads every child that wrote.
        while (came && state_->handle_packet(0, result)) {
        }
        if (state_->take_unreported()) {
            return WaitResult::interrupted;
        }
        // Only an interrupt's packet that a pause reported already: the wait goes on.
        if (!came || result == WaitResult::news) {
            return result;
        }
    }
}

WaitResult ProcessSet::pause(std::chrono::milliseconds duration) {
    const DWORD total = milliseconds_of(duration);
    const ULONGLONG began = GetTickCount64();
    for (;;) {
        if (state_->take_unreported()) {
            return WaitResult::interrupted;
        }
        const DWORD left = time_left(total, began);
        if (left == 0) {
            return WaitResult::timed_out;
        }
        HANDLE woken = state_->catching ? interrupt_event.load() : nullptr;
        if (woken == nullptr) {
            Sleep(left);
        } else {
            WaitForSingleObject(woken, left);
        }
    }
}

void ProcessSet::catch_interrupts() {
    state_->interrupts_at_start = interrupt_count.load();
    state_->interrupts_reported = state_->interrupts_at_start;
    state_->catching = true;
    if (interrupt_event.load() == nullptr) {
        interrupt_event.store(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    }
    interrupt_port.store(state_->port);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

int ProcessSet::interrupts() const {
    return interrupt_count.load() - state_->interrupts_at_start;
}

std::optional<std::uint64_t> raise_open_file_limit() {
    // Handles have no such limit; the C runtime's count of open streams (512 at first) does, and
    // every transcript is one.
    _setmaxstdio(2048);
    return std::nullopt;
}

std::string own_executable_path() {
    char path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

}  // namespace subprocess
