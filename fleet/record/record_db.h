// The station's own database of the record: an SQLite file holding one row per try of a step of
// a board (report/record_row.h), kept across runs. The fleet adds each board's rows in one
// transaction when the board ends; `records`, the station page and the copier to the line's
// shared database read them. This interface is all they see of SQLite.
//
// Each RecordDatabase is one connection, for one thread at a time; several of them, in one
// process or several, may use one file at once (the file is in WAL mode: readers do not wait
// for the writer, and writers wait their turn).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "record/row.h"

namespace fleet {

namespace sql {
class Connection;
class Statement;
}  // namespace sql

// A row as the database holds it.
struct StoredRow {
    std::int64_t id = 0;   // the row's number in this file, rising as rows are added
    RecordRow row;         // its transcript empty unless it was asked for
    std::string recorded;  // when its board's rows were committed, as format_utc gives it
    bool shared = false;   // copied to the line's shared database
};

// Which rows to read. Every filter is optional.
struct RowQuery {
    std::string target;         // only this target's rows ("127.0.0.2:4000")
    std::string status;         // only rows of this status ("failed")
    std::string since;          // only rows recorded at or after this UTC time (format_utc)
    std::int64_t after_id = 0;  // only rows with a greater id
    std::size_t limit = 0;      // at most this many; 0 for all
    bool newest_first = false;  // by id
    bool transcripts = false;   // with each row's transcript
    bool not_shared = false;    // only rows not yet copied to the line's shared database
};

class RecordDatabase {
  public:
    enum class Access {
        read,   // the file must hold a record; nothing is written
        write,  // created with its folder when missing, its tables upgraded to this version's
    };

    // Opens the database at path; nullptr with the reason in error. A file of a later version
    // can be read, but not written.
    static std::unique_ptr<RecordDatabase> open(const std::string& path, Access access,
                                                std::string& error);
    ~RecordDatabase();
    RecordDatabase(const RecordDatabase&) = delete;
    RecordDatabase& operator=(const RecordDatabase&) = delete;

    // The rows the query selects, oldest first unless it asks for the newest first; nullopt
    // when the read failed (error() tells why).
    std::optional<std::vector<StoredRow>> rows(const RowQuery& query);

    // The latest rows, newest first, of one target and one status where these are not empty,
    // without their transcripts.
    std::optional<std::vector<StoredRow>> latest(const std::string& target,
                                                 const std::string& status, std::size_t limit);
    // Rows after the row with the id given, oldest first, at most limit of them, without their
    // transcripts: read again with the last id to page on.
    std::optional<std::vector<StoredRow>> after(std::int64_t id, std::size_t limit);
    // One row with its transcript; nullopt when there is no such row (error() empty) or the read
    // failed (error() tells why).
    std::optional<StoredRow> row(std::int64_t id);

    // Adds one board's rows in one transaction, recorded at the time given (format_utc), and
    // waits until they are on the disk; false when none was added (error() tells why).
    bool add(const std::vector<RecordRow>& rows, const std::string& recorded);

    // The oldest rows not yet in the shared database, with their transcripts.
    std::optional<std::vector<StoredRow>> not_shared(std::size_t limit);
    // Marks every row up to the id given as being in the shared database (rows are copied in the
    // order of their ids); false on a failure (error()).
    bool mark_shared(std::int64_t up_to);

    // The last failure: the statement, or what was checked, and why it failed. Empty after a call
    // that did not fail.
    const std::string& error() const { return error_; }

  private:
    explicit RecordDatabase(std::unique_ptr<sql::Connection> connection);
    bool fail();
    bool prepare_adding();

    std::unique_ptr<sql::Connection> connection_;
    std::unique_ptr<sql::Statement> begin_;  // these three before the connection closes
    std::unique_ptr<sql::Statement> insert_;
    std::unique_ptr<sql::Statement> commit_;
    std::string error_;
};

// The schema version this fleet writes.
int record_schema_version();

}  // namespace fleet
