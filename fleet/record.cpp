#include "record.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "os/terminal.h"
#include "text.h"

namespace fleet {
namespace {

// The fleet runs on one thread, so the C library's shared result of localtime is safe here.
std::tm local_parts(SystemTime time) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    const std::tm* parts = std::localtime(&seconds);
    return parts ? *parts : std::tm{};
}

std::string format_time(SystemTime time, const char* format) {
    std::tm parts = local_parts(time);
    char text[64];
    std::size_t length = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, length);
}

}  // namespace

std::string csv_field(std::string_view text) {
    std::string field;
    if (!text.empty() &&
        std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
        field = "'";
    }
    field += text;
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        return field;
    }
    std::string quoted = "\"";
    for (char c : field) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

std::string csv_row(const std::vector<std::string>& fields) {
    std::string row;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            row += ',';
        }
        row += csv_field(fields[i]);
    }
    return row + "\r\n";
}

std::string format_local_time(SystemTime time) {
    return format_time(time, "%Y-%m-%d %H:%M:%S");
}

std::string default_logs_dir(SystemTime time) {
    return "tvflash-fleet-logs/" + format_time(time, "%Y%m%d-%H%M%S");
}

std::string transcript_name(std::string_view target_text, int serial) {
    std::string name(target_text);
    std::replace(name.begin(), name.end(), ':', '-');
    if (serial > 0) {
        name.append("-").append(std::to_string(serial));
    }
    return name + ".txt";
}

void Transcript::open(const std::string& path) {
    file_.reset(std::fopen(path.c_str(), "wb"));
}

void Transcript::write(std::string_view text) {
    if (file_) {
        std::fwrite(text.data(), 1, text.size(), file_.get());
    }
}

void Transcript::begin(std::string_view target_text, std::size_t steps) {
    write("tvflash-fleet transcript of " + std::string(target_text) + ", " + std::to_string(steps) +
          (steps == 1 ? " step\n" : " steps\n"));
}

void Transcript::begin_step(std::size_t index, std::size_t steps, std::string_view step_text,
                            const std::vector<std::string>& argv, SystemTime start) {
    write("\n== step " + std::to_string(index + 1) + " of " + std::to_string(steps) + ": " +
          std::string(step_text) + "\n$ " + terminal::typed_command_line(argv) + "\n== started " +
          format_local_time(start) + "\n");
    if (file_) {
        std::fflush(file_.get());
    }
}

void Transcript::output(std::string_view bytes) {
    write(bytes);
}

void Transcript::end_step(std::string_view how, double seconds, double cpu_seconds,
                          SystemTime end) {
    write("\n== " + std::string(how) + " after " + format_seconds(seconds) + " s (CPU " +
          format_seconds(cpu_seconds) + " s), ended " + format_local_time(end) + "\n");
    if (file_) {
        std::fflush(file_.get());
    }
}

void Transcript::skipped_step(std::size_t index, std::size_t steps, std::string_view step_text) {
    write("\n== step " + std::to_string(index + 1) + " of " + std::to_string(steps) + ": " +
          std::string(step_text) + ": skipped\n");
    if (file_) {
        std::fflush(file_.get());
    }
}

bool Record::open(const std::string& dir, std::string& error) {
    std::error_code failure;
    std::filesystem::create_directories(dir, failure);
    if (failure) {
        error = "cannot create the record folder '" + dir + "': " + failure.message();
        return false;
    }
    dir_ = dir;
    std::string path = (std::filesystem::path(dir) / "summary.csv").string();
    bool is_new =
        !std::filesystem::exists(path, failure) || std::filesystem::file_size(path, failure) == 0;
    summary_.reset(std::fopen(path.c_str(), "ab"));
    if (!summary_) {
        error = "cannot write '" + path + "'";
        return false;
    }
    if (is_new) {
        add_rows({kSummaryColumns});
    }
    return true;
}

std::string Record::new_transcript_path(const std::string& name) const {
    std::filesystem::path base = std::filesystem::path(dir_) / name;
    std::filesystem::path path = base;
    std::error_code failure;
    for (int serial = 2; std::filesystem::exists(path, failure); ++serial) {
        path = base.parent_path() /
               (base.stem().string() + "-" + std::to_string(serial) + base.extension().string());
    }
    return path.string();
}

void Record::add_rows(const std::vector<std::vector<std::string>>& rows) {
    if (!summary_) {
        return;
    }
    for (const std::vector<std::string>& row : rows) {
        std::string text = csv_row(row);
        std::fwrite(text.data(), 1, text.size(), summary_.get());
    }
    std::fflush(summary_.get());
}

}  // namespace fleet
