#include "records.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

#include "os/files.h"
#include "os/terminal.h"
#include "record/share.h"
#include "report/record.h"
#include "report/record_row.h"
#include "text.h"

namespace fleet {
namespace {

// Rows read at a time: a database of months is printed without being held in memory whole.
constexpr std::size_t kPageRows = 500;

// The digits of text from at, count of them, as a number; nothing when they are not all digits.
std::optional<int> digits_at(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::optional<SystemTime> duration_ago(std::string_view text, SystemTime now) {
    if (text.size() < 2 || text.size() > 7) {
        return std::nullopt;
    }
    std::optional<int> count = digits_at(text, 0, text.size() - 1);
    constexpr std::string_view kUnits = "smhdw";
    constexpr int kSeconds[] = {1, 60, 3600, 86400, 7 * 86400};
    // A century at most: the clock's nanoseconds span some 292 years either way of 1970.
    constexpr std::int64_t kLongest = 36525LL * 86400;
    std::size_t unit = kUnits.find(text.back());
    if (!count || unit == std::string_view::npos ||
        std::int64_t{*count} * kSeconds[unit] > kLongest) {
        return std::nullopt;
    }
    // Nothing was recorded before 1970: a longer look back is everything.
    return std::max(now - std::chrono::seconds(std::int64_t{*count} * kSeconds[unit]),
                    SystemTime{});
}

struct DateTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    bool utc = false;
};

// "YYYY-MM-DD", then optionally " HH:MM" or "THH:MM", ":SS", ".mmm", and "Z".
std::optional<DateTime> parse_date_time(std::string_view text) {
    DateTime time;
    if (!text.empty() && text.back() == 'Z') {
        time.utc = true;
        text.remove_suffix(1);
    }
    std::optional<int> year = digits_at(text, 0, 4), month = digits_at(text, 5, 2),
                       day = digits_at(text, 8, 2);
    if (!year || !month || !day || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    time.year = *year, time.month = *month, time.day = *day;
    std::string_view rest = text.substr(10);
    if (!rest.empty()) {
        std::optional<int> hour = digits_at(rest, 1, 2), minute = digits_at(rest, 4, 2);
        if ((rest[0] != ' ' && rest[0] != 'T') || !hour || !minute || rest[3] != ':') {
            return std::nullopt;
        }
        time.hour = *hour, time.minute = *minute;
        rest.remove_prefix(6);
    }
    if (!rest.empty()) {
        std::optional<int> second = digits_at(rest, 1, 2);
        if (rest[0] != ':' || !second) {
            return std::nullopt;
        }
        time.second = *second;
        rest.remove_prefix(3);
    }
    if (!rest.empty()) {
        std::optional<int> millisecond = digits_at(rest, 1, 3);
        if (rest[0] != '.' || !millisecond || rest.size() != 4) {
            return std::nullopt;
        }
        time.millisecond = *millisecond;
    }
    return time;
}

std::optional<SystemTime> to_time(const DateTime& time) {
    using namespace std::chrono;
    year_month_day date{year{time.year}, month{unsigned(time.month)}, day{unsigned(time.day)}};
    // Years the clock's nanoseconds hold, and that a record can hold.
    if (!date.ok() || time.year < 1970 || time.year > 2200 || time.hour > 23 || time.minute > 59 ||
        time.second > 59) {
        return std::nullopt;
    }
    if (time.utc) {
        return sys_days(date) + hours(time.hour) + minutes(time.minute) + seconds(time.second) +
               milliseconds(time.millisecond);
    }
    std::tm parts{};
    parts.tm_year = time.year - 1900;
    parts.tm_mon = time.month - 1;
    parts.tm_mday = time.day;
    parts.tm_hour = time.hour;
    parts.tm_min = time.minute;
    parts.tm_sec = time.second;
    parts.tm_isdst = -1;  // the system tells whether summer time held then
    std::time_t seconds_since = std::mktime(&parts);
    if (seconds_since == std::time_t(-1)) {
        return std::nullopt;
    }
    return system_clock::from_time_t(seconds_since) + milliseconds(time.millisecond);
}

std::string local_start(const std::optional<std::string>& start) {
    std::optional<SystemTime> time = start ? parse_utc(*start) : std::nullopt;
    return time ? format_local_time(*time) : "";
}

std::string json_line(const RecordRow& row) {
    // Board text that is not UTF-8 is written with the replacement character in its place, as
    // in the JSON stream.
    return row_json(row).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
           "\n";
}

void write_out(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

// Prints every row the query selects, a page at a time; false when a read failed.
bool print_rows(RecordDatabase& database, RowQuery query, const std::string& format) {
    const bool fit_to_terminal = format == "table" && terminal::output_redraws();
    const std::size_t width = static_cast<std::size_t>(terminal::output_size().columns);
    const auto table_line = [&](const std::string& line) {
        write_out((fit_to_terminal ? fit(line, width - 1) : line) + "\n");
    };
    files::binary_standard_output();
    if (format == "table") {
        table_line(records_table_header());
    } else if (format == "csv") {
        write_out(csv_row(record_columns()));
    }
    query.limit = kPageRows;
    query.transcripts = format != "table";
    while (true) {
        std::optional<std::vector<StoredRow>> rows = database.rows(query);
        if (!rows) {
            return false;
        }
        for (const StoredRow& stored : *rows) {
            if (format == "table") {
                table_line(records_table_line(stored.row));
            } else {
                write_out(format == "csv" ? csv_row(record_fields(stored.row))
                                          : json_line(stored.row));
            }
        }
        // A reader that went away (records | head) needs no more pages.
        if (rows->size() < kPageRows || std::ferror(stdout)) {
            return true;
        }
        query.after_id = rows->back().id;
    }
}

int push(const Options& options) {
    std::string error;
    std::unique_ptr<RecordDatabase> local =
        RecordDatabase::open(options.database, RecordDatabase::Access::write, error);
    std::unique_ptr<SharedDatabase> shared =
        local ? SharedDatabase::connect(options.share, error) : nullptr;
    CopyResult copied;
    if (shared) {
        copied = copy_not_shared(*local, *shared);
        error = copied.error;
    }
    const std::string url = url_without_password(options.share);
    if (copied.added + copied.there_already > 0 || error.empty()) {
        std::printf("%zu %s copied to %s", copied.added, copied.added == 1 ? "row" : "rows",
                    url.c_str());
        std::printf(copied.there_already > 0 ? " (%zu there already)\n" : "\n",
                    copied.there_already);
    }
    if (!error.empty()) {
        std::fprintf(stderr,
                     "tvflash-fleet: cannot copy to the shared database %s: %s; the rows not "
                     "copied stay marked in '%s'\n",
                     url.c_str(), error.c_str(), options.database.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

std::optional<SystemTime> parse_since(std::string_view text, SystemTime now) {
    if (std::optional<SystemTime> ago = duration_ago(text, now)) {
        return ago;
    }
    std::optional<DateTime> time = parse_date_time(text);
    return time ? to_time(*time) : std::nullopt;
}

std::optional<SystemTime> parse_utc(std::string_view text) {
    if (text.size() != 24 || text[10] != 'T' || text.back() != 'Z') {
        return std::nullopt;
    }
    std::optional<DateTime> time = parse_date_time(text);
    return time ? to_time(*time) : std::nullopt;
}

const std::vector<std::string>& record_columns() {
    static const std::vector<std::string> columns = [] {
        std::vector<std::string> names;
        const nlohmann::ordered_json fields = row_json(RecordRow{});
        for (const auto& field : fields.items()) {
            names.push_back(field.key());
        }
        return names;
    }();
    return columns;
}

std::vector<std::string> record_fields(const RecordRow& row) {
    return {row.run,
            row.station,
            row.operator_name,
            row.target,
            std::to_string(row.attempt),
            row.board_version,
            std::to_string(row.step),
            row.command,
            row.file,
            std::to_string(row.image_bytes),
            row.image_sha256,
            row.recipe_sha256,
            row.tool_version,
            row.status,
            row.error_class,
            row.verdict,
            row.exit_status ? std::to_string(*row.exit_status) : "",
            row.start.value_or(""),
            row.seconds ? format_seconds(*row.seconds) : "",
            row.transcript,
            std::to_string(row.try_number)};
}

std::string records_table_header() {
    return pad("start", 21) + pad("target", 23) + pad("attempt", 9) + pad("step", 6) +
           pad("command", 11) + pad("try", 5) + pad("status", 13) + pad("error_class", 21) +
           "verdict";
}

std::string records_table_line(const RecordRow& row) {
    std::string line = pad(local_start(row.start), 21) + pad(fit(one_line(row.target), 21), 23) +
                       pad(std::to_string(row.attempt), 9) + pad(std::to_string(row.step), 6) +
                       pad(fit(one_line(row.command), 9), 11) +
                       pad(std::to_string(row.try_number), 5) + pad(one_line(row.status), 13) +
                       pad(one_line(row.error_class), 21) + one_line(row.verdict);
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

int run_records(const Options& options) {
    if (options.push) {
        return push(options);
    }
    RowQuery query;
    query.target = options.record_target;
    if (!options.since.empty()) {
        std::optional<SystemTime> since =
            parse_since(options.since, std::chrono::system_clock::now());
        if (!since) {
            std::fprintf(stderr,
                         "tvflash-fleet: --since takes a date (2026-12-09), a date and time "
                         "(2026-12-09 14:00) or a duration (2h, 7d), not '%s'\n",
                         options.since.c_str());
            return 2;
        }
        query.since = format_utc(*since);
    }
    std::string error;
    std::unique_ptr<RecordDatabase> database =
        RecordDatabase::open(options.database, RecordDatabase::Access::read, error);
    if (database && !print_rows(*database, query, options.format)) {
        error = "cannot read the record database '" + options.database + "': " + database->error();
    }
    if (!error.empty()) {
        std::fprintf(stderr, "tvflash-fleet: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace fleet
