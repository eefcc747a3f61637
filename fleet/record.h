// The record of a run: a transcript per board (each step's command line, the tool's complete
// output and how it ended) and summary.csv (one row per board and step), written as the run goes,
// so that an interrupted run leaves what it did so far.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fleet {

using SystemTime = std::chrono::system_clock::time_point;

// A field of a CSV row: quoted, with its quotes doubled, when it holds a comma, a quote or a line
// end. A field that begins with "=", "+", "-", "@", a tab or a carriage return gets a "'" in
// front, so that a spreadsheet shows a board's text rather than running it as a formula.
std::string csv_field(std::string_view text);

// One CSV row with its "\r\n".
std::string csv_row(const std::vector<std::string>& fields);

inline const std::vector<std::string> kSummaryColumns = {"target", "step",    "command", "file",
                                                         "status", "verdict", "start",   "seconds"};

// Local time as "2026-11-02 14:03:12", which spreadsheets read as a date and time.
std::string format_local_time(SystemTime time);

// The default record folder of a run started at time: tvflash-fleet-logs/YYYYMMDD-HHMMSS.
std::string default_logs_dir(SystemTime time);

// The transcript's file name for a board: "127.0.0.2-4000.txt"; with a serial number (the boards
// one station target has seen), "127.0.0.2-4000-2.txt".
std::string transcript_name(std::string_view target_text, int serial);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// One board's transcript file.
class Transcript {
  public:
    // Opens path for writing; a transcript that is not open, or could not be, writes nothing.
    void open(const std::string& path);

    void begin(std::string_view target_text, std::size_t steps);
    void begin_step(std::size_t index, std::size_t steps, std::string_view step_text,
                    const std::vector<std::string>& argv, SystemTime start);
    // The tool's output, as it came.
    void output(std::string_view bytes);
    void end_step(std::string_view how, double seconds, double cpu_seconds, SystemTime end);
    void skipped_step(std::size_t index, std::size_t steps, std::string_view step_text);

  private:
    void write(std::string_view text);
    File file_;
};

// The record folder with its summary.csv.
class Record {
  public:
    // Creates dir (with its parents) and opens summary.csv in it, adding to one that is there;
    // false with the reason.
    bool open(const std::string& dir, std::string& error);
    const std::string& dir() const { return dir_; }

    // A path for a new transcript named name in the folder; "-2", "-3", ... is added before the
    // extension of a name that is taken.
    std::string new_transcript_path(const std::string& name) const;

    // Adds rows to summary.csv at once.
    void add_rows(const std::vector<std::vector<std::string>>& rows);

  private:
    std::string dir_;
    File summary_;
};

}  // namespace fleet
