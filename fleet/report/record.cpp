#include "report/record.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "os/files.h"
#include "text.h"

namespace fleet {
namespace {

// The fleet writes its record on one thread, so the C library's shared result of localtime is
// safe here.
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

std::string step_heading(std::size_t index, std::size_t steps, std::string_view step_text) {
    return "\n== step " + std::to_string(index + 1) + " of " + std::to_string(steps) + ": " +
           std::string(step_text);
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

std::vector<std::vector<std::string>> summary_rows(const Target& target,
                                                   const std::vector<Step>& steps,
                                                   const std::vector<StepResult>& results) {
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < steps.size() && i < results.size(); ++i) {
        const StepResult& result = results[i];
        bool ran = result.status != StepStatus::skipped && result.status != StepStatus::pending;
        rows.push_back({target.text(), std::to_string(i + 1), steps[i].word, steps[i].file,
                        status_word(result.status), result.verdict,
                        ran ? format_local_time(result.start) : "",
                        ran ? format_seconds(result.seconds) : ""});
    }
    return rows;
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

std::string transcript_header(std::string_view target_text, std::size_t steps) {
    return "tvflash-fleet transcript of " + std::string(target_text) + ", " +
           std::to_string(steps) + (steps == 1 ? " step\n" : " steps\n");
}

std::string transcript_step_start(std::size_t index, std::size_t steps, std::string_view step_text,
                                  std::string_view command_line, SystemTime start) {
    return step_heading(index, steps, step_text) + "\n$ " + std::string(command_line) +
           "\n== started " + format_local_time(start) + "\n";
}

std::string try_text(int try_number, int tries) {
    return tries > 1 ? ", try " + std::to_string(try_number) + " of " + std::to_string(tries) : "";
}

std::string transcript_step_end(const StepResult& result) {
    return "\n== " + result.how + " after " + format_seconds(result.seconds) + " s (CPU " +
           format_seconds(result.cpu_seconds) + " s), ended " + format_local_time(result.end) +
           "\n";
}

std::string transcript_step_skipped(std::size_t index, std::size_t steps,
                                    std::string_view step_text) {
    return step_heading(index, steps, step_text) + ": skipped\n";
}

void RecordProblems::failed(const std::string& path, const std::string& reason) {
    problem("cannot write " + quote(path) + ": " + reason);
}

void RecordProblems::problem(const std::string& text) {
    if (!any_ && report_) {
        report_("the record is incomplete: " + text);
    }
    any_ = true;
}

bool RecordFile::open(const std::string& path, bool append, std::string* error) {
    close();
    path_ = path;
    failed_ = false;
    std::string reason;
    file_ = files::open_for_writing(path, append, reason);
    if (file_ == nullptr && error != nullptr) {
        *error = reason;
    } else if (file_ == nullptr) {
        failed(reason);
    }
    return file_ != nullptr;
}

void RecordFile::failed(const std::string& reason) {
    if (!failed_) {
        problems_.failed(path_, reason);
    }
    failed_ = true;
}

void RecordFile::write(std::string_view bytes) {
    if (file_ == nullptr || bytes.empty()) {
        return;
    }
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        failed(files::error_text(errno));
    }
}

void RecordFile::flush() {
    errno = 0;
    if (file_ != nullptr && std::fflush(file_) != 0) {
        failed(files::error_text(errno));
    }
}

void RecordFile::sync() {
    std::string error;
    if (file_ != nullptr && !files::sync(file_, error)) {
        failed(error);
    }
}

void RecordFile::close() {
    if (file_ == nullptr) {
        return;
    }
    errno = 0;
    bool ok = std::fflush(file_) == 0;
    int error = errno;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok) {
        failed(files::error_text(error != 0 ? error : errno));
    }
}

bool RecordFolder::create(const std::string& dir, std::string& error) {
    std::error_code failure;
    std::filesystem::create_directories(dir, failure);
    if (failure) {
        error = "cannot create the record folder '" + dir + "': " + failure.message();
        return false;
    }
    dir_ = dir;
    return true;
}

std::string RecordFolder::path_of(const std::string& name) const {
    return (std::filesystem::path(dir_) / name).string();
}

std::string RecordFolder::new_transcript_path(const std::string& name) const {
    std::filesystem::path base = std::filesystem::path(dir_) / name;
    std::filesystem::path path = base;
    std::error_code failure;
    for (int serial = 2; std::filesystem::exists(path, failure); ++serial) {
        path = base.parent_path() /
               (base.stem().string() + "-" + std::to_string(serial) + base.extension().string());
    }
    return path.string();
}

}  // namespace fleet
