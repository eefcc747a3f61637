// The record of a run: a transcript per board (each step's command line, the tool's complete
// output and how it ended) and summary.csv (one row per board and step), written as the run goes,
// so that an interrupted run leaves what it did so far. Every write is checked: a record that
// could not be written whole is reported, and the run ends with a status that says so.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "plan/recipe.h"
#include "plan/targets.h"
#include "run/events.h"

namespace fleet {

// A field of a CSV row: quoted, with its quotes doubled, when it holds a comma, a quote or a line
// end. A field that begins with "=", "+", "-", "@", a tab or a carriage return gets a "'" in
// front, so that a spreadsheet shows a board's text rather than running it as a formula.
std::string csv_field(std::string_view text);

// One CSV row with its "\r\n".
std::string csv_row(const std::vector<std::string>& fields);

inline const std::vector<std::string> kSummaryColumns = {"target", "step",    "command", "file",
                                                         "status", "verdict", "start",   "seconds"};

// The rows of summary.csv for one board, in kSummaryColumns' order.
std::vector<std::vector<std::string>> summary_rows(const Target& target,
                                                   const std::vector<Step>& steps,
                                                   const std::vector<StepResult>& results);

// Local time as "2026-11-02 14:03:12", which spreadsheets read as a date and time.
std::string format_local_time(SystemTime time);

// The default record folder of a run started at time: tvflash-fleet-logs/YYYYMMDD-HHMMSS.
std::string default_logs_dir(SystemTime time);

// The transcript's file name for a board: "127.0.0.2-4000.txt"; with a serial number (the boards
// one station target has seen), "127.0.0.2-4000-2.txt".
std::string transcript_name(std::string_view target_text, int serial);

// The parts of a transcript.
std::string transcript_header(std::string_view target_text, std::size_t steps);
std::string transcript_step_start(std::size_t index, std::size_t steps, std::string_view step_text,
                                  std::string_view command_line, SystemTime start);
// ", try 2 of 3" for a step that may be tried again; empty when there are no more tries.
std::string try_text(int try_number, int tries);
std::string transcript_step_end(const StepResult& result);
std::string transcript_step_skipped(std::size_t index, std::size_t steps,
                                    std::string_view step_text);

// The problems met while writing the record: the first is reported at once (through the report
// function given), and the run's exit status tells that the record is incomplete.
class RecordProblems {
  public:
    explicit RecordProblems(std::function<void(const std::string&)> report)
        : report_(std::move(report)) {}
    // A write to path failed for reason.
    void failed(const std::string& path, const std::string& reason);
    // Another part of the record failed, as text tells ("cannot open the record database ...").
    void problem(const std::string& text);
    bool any() const { return any_; }

  private:
    std::function<void(const std::string&)> report_;
    bool any_ = false;
};

// One file of the record, every write, flush and close checked.
class RecordFile {
  public:
    explicit RecordFile(RecordProblems& problems) : problems_(problems) {}
    ~RecordFile() { close(); }
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Opens path for writing (appending, or emptying it first); false when it could not be. The
    // failure is a problem of the record, or, with error given, the caller's to report.
    bool open(const std::string& path, bool append, std::string* error = nullptr);
    bool is_open() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

    void write(std::string_view bytes);
    void flush();
    // Flushes and has the system write the file's data to the disk.
    void sync();
    void close();

  private:
    void failed(const std::string& reason);

    RecordProblems& problems_;
    std::FILE* file_ = nullptr;
    std::string path_;
    bool failed_ = false;  // the file's first failure is reported; the rest would say no more
};

// The record folder.
class RecordFolder {
  public:
    // Creates dir with its parents; false with the reason.
    bool create(const std::string& dir, std::string& error);
    const std::string& dir() const { return dir_; }

    // The path of a file of the folder.
    std::string path_of(const std::string& name) const;
    // A path for a new transcript named name in the folder; "-2", "-3", ... is added before the
    // extension of a name that is taken.
    std::string new_transcript_path(const std::string& name) const;

  private:
    std::string dir_;
};

}  // namespace fleet
