// tvflash-fleet records: the rows of a record database, newest last, as a table, CSV or JSON
// Lines; and records --push, which copies the rows not yet shared to the line's shared database.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/options.h"
#include "record/record_db.h"
#include "run/events.h"

namespace fleet {

// --since: a duration ago ("90s", "30m", "2h", "7d", "2w"), a date ("2026-12-09", its midnight),
// or a date and time ("2026-12-09 14:00", "2026-12-09T14:00:05"), in local time unless a "Z" ends
// it (UTC). Nothing when text is none of these.
std::optional<SystemTime> parse_since(std::string_view text, SystemTime now);

// A time as format_utc writes it ("2026-12-09T14:03:12.345Z"); nothing when text is not one.
std::optional<SystemTime> parse_utc(std::string_view text);

// The record's columns, the JSON stream's field names in its order.
const std::vector<std::string>& record_columns();

// A row's fields for CSV, in record_columns' order: an empty field for a null, seconds as
// "1.234".
std::vector<std::string> record_fields(const RecordRow& row);

// The table's header and one line per row: the start in local time, the target, attempt, step,
// command, try, status, error class and verdict, board text made safe for one line.
std::string records_table_header();
std::string records_table_line(const RecordRow& row);

// The records command; returns the exit status: 0, 1 when the database could not be read or the
// rows not copied, 2 for a --since that is not a time.
int run_records(const Options& options);

}  // namespace fleet
