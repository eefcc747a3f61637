// The station page's view of the record database: the rows /records shows and /records.csv
// downloads, the paged rows of /api/records for systems that poll, and one row's transcript for
// /records/ID. The queries' parsing and the rows' formats are pure; RecordPages reads the file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "record/record_db.h"

namespace fleet {

inline constexpr std::size_t kLatestRows = 200;  // /records, when the query names no number
inline constexpr std::size_t kPageRows = 500;    // /api/records?since=, when it names none
inline constexpr std::size_t kMostRowsAsked = 5000;

// What a query of the records asks for, from its parameters: since=ID (rows after that id,
// oldest first: paging forward) or latest=N (the newest N, newest first; the default), limit=N
// for since, and target= and status= to filter either.
struct RecordsQuery {
    RowQuery rows;
    bool paged = false;  // since= was given
};
struct ParsedRecordsQuery {
    std::optional<RecordsQuery> query;
    std::string error;
};
ParsedRecordsQuery parse_records_query(const std::map<std::string, std::string>& parameters);

// The rows as /api/records gives them: {"rows": [...], "next": ID, "more": bool} when paged,
// {"rows": [...]} otherwise. Each row is the record's object (as step_finished carries it)
// without its transcript, with "id" and "recorded" in front.
std::string records_json(const std::vector<StoredRow>& rows, const RecordsQuery& query,
                         std::int64_t since);

// The rows as CSV, as the page shows them: id, station, target, attempt, step, command, try,
// status, error_class, verdict, start, seconds.
std::string records_csv(const std::vector<StoredRow>& rows);

// An answer of the record pages.
struct RecordAnswer {
    int status = 200;
    std::string type;
    std::string body;
};

class RecordPages {
  public:
    // database: the file's path; empty when the run keeps none (--db none).
    explicit RecordPages(std::string database) : database_(std::move(database)) {}

    // /api/records and /records.csv (csv true) for the query's parameters.
    RecordAnswer rows(const std::map<std::string, std::string>& parameters, bool csv) const;
    // /records/ID: the row's transcript as plain text.
    RecordAnswer transcript(const std::string& id) const;

  private:
    std::unique_ptr<RecordDatabase> open(RecordAnswer& failed) const;

    std::string database_;
};

}  // namespace fleet
