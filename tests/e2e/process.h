// Running this project's programs as child processes in tests, and checking what they printed.
// A child reads its standard input from a file holding the text given, and writes its standard
// output and error to pipes; whoever starts it ends it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "process/subprocess.h"

namespace e2e {

struct RunResult {
    int status = -1;  // exit status; -1 when the child was killed or did not end in time
    std::string out;
    std::string err;
    double seconds = 0;      // wall time from the start
    double cpu_seconds = 0;  // user and system time of the child
};

class ChildProcess {
  public:
    // Starts binary with args after it in argv, and stdin_text as its whole standard input.
    ChildProcess(const std::string& binary, const std::vector<std::string>& args,
                 const std::string& stdin_text = "");
    // Kills and reaps a child still running, and removes its input file.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads standard output until it holds a line end, closes or timeout passes; returns all of
    // it read so far.
    const std::string& read_line(std::chrono::milliseconds timeout);

    // Reads standard output for timeout, or until it closes; returns all of it read so far.
    const std::string& read_for(std::chrono::milliseconds timeout);

    // True once the child has ended.
    bool has_ended();
    // Reads standard output until it holds text, closes or timeout passes; returns all of it.
    const std::string& read_until(const std::string& text, std::chrono::milliseconds timeout);

    // Sends the signal (SIGSTOP and SIGCONT, say) to the running child.
    void send_signal(int signal_number);

    // Sends signal_number (none when 0), reads the rest of the output and waits for the end; a
    // child that has not ended within timeout is killed.
    RunResult finish(std::chrono::milliseconds timeout, int signal_number = 0);

  private:
    // Reads until the output holds stop_at (until its end when empty) or the deadline passes.
    void read_output(std::chrono::steady_clock::time_point deadline, const std::string& stop_at);

    // Moves what the child wrote into out_ and err_.
    void collect();

    // Standard input comes from a file: Wine takes seconds to end a program whose standard
    // input is a pipe.
    std::string in_path_;
    subprocess::ProcessSet set_;
    std::unique_ptr<subprocess::Process> process_;
    std::string out_;
    std::string err_;
};

// Runs binary with args to its end; it is killed when it has not ended within timeout.
RunResult run_process(const std::string& binary, const std::vector<std::string>& args,
                      const std::string& stdin_text, std::chrono::milliseconds timeout);

// Passes when the run ended with status and wrote exactly out and err.
testing::AssertionResult ran(const RunResult& run, int status, const std::string& out,
                             const std::string& err = "");

// One part of an expected output: a text matched exactly, or a run of low to high copies of fill.
struct Part {
    Part(std::string text) : text(std::move(text)) {}
    Part(const char* text) : text(text) {}
    Part(char fill, int low, int high) : fill(fill), low(low), high(high) {}
    std::string text;
    char fill = '\0';
    int low = 0;
    int high = 0;
};

// Passes when text is parts in order; a run takes every copy of its fill that stands there.
testing::AssertionResult output_is(const std::string& text, const std::vector<Part>& parts);

}  // namespace e2e
