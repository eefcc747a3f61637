#include "e2e/process.h"

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds time_until(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

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

}  // namespace

ChildProcess::ChildProcess(const std::string& binary, const std::vector<std::string>& args,
                           const std::string& stdin_text)
    : in_path_(temp_file(stdin_text)) {
    subprocess::Command command;
    command.argv = {binary};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    command.input_path = in_path_;
    std::string error;
    process_ = set_.start(command, error);
    if (!process_) {
        unlink(in_path_.c_str());
        throw std::runtime_error(error);
    }
}

ChildProcess::~ChildProcess() {
    process_.reset();
    unlink(in_path_.c_str());
}

const std::string& ChildProcess::read_line(std::chrono::milliseconds timeout) {
    return read_until("\n", timeout);
}

const std::string& ChildProcess::read_until(const std::string& text,
                                            std::chrono::milliseconds timeout) {
    read_output(Clock::now() + timeout, text);
    return out_;
}

const std::string& ChildProcess::read_for(std::chrono::milliseconds timeout) {
    read_output(Clock::now() + timeout, "");
    return out_;
}

void ChildProcess::send_signal(int signal_number) {
    if (!process_->ended()) {
        kill(static_cast<pid_t>(process_->id()), signal_number);
    }
}

void ChildProcess::collect() {
    for (subprocess::Chunk& chunk : process_->take_output()) {
        (chunk.stream == subprocess::Stream::out ? out_ : err_) += chunk.bytes;
    }
}

void ChildProcess::read_output(Clock::time_point deadline, const std::string& stop_at) {
    while (stop_at.empty() || out_.find(stop_at) == std::string::npos) {
        if (process_->output_closed() || Clock::now() >= deadline) {
            return;
        }
        set_.wait(time_until(deadline));
        collect();
    }
}

bool ChildProcess::has_ended() {
    return process_->poll_exit();
}

RunResult ChildProcess::finish(std::chrono::milliseconds timeout, int signal_number) {
    const Clock::time_point deadline = Clock::now() + timeout;
    if (signal_number != 0) {
        send_signal(signal_number);
    }
    read_output(deadline, "");
    bool ended = process_->wait_exit(time_until(deadline));
    if (!ended) {
        process_->kill();
        process_->wait_exit();
    }
    const subprocess::Exit& exit = process_->exit();
    RunResult result;
    result.status = ended ? exit.status : -1;
    result.out = out_;
    result.err = err_;
    result.seconds = std::chrono::duration<double>(Clock::now() - process_->started()).count();
    result.cpu_seconds = exit.cpu_seconds;
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
