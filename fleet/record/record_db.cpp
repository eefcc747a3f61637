#include "record/record_db.h"

#include <filesystem>
#include <system_error>

#include "record/schema.h"
#include "record/sqlite.h"

namespace fleet {
namespace {

// The columns read back, in the order read_row takes them; the transcript is the last, when it is
// asked for.
constexpr std::string_view kColumns =
    "id, run, station, \"operator\", target, attempt, board_version, step, command, file, "
    "image_bytes, image_sha256, recipe_sha256, tool_version, status, error_class, verdict, "
    "exit_status, \"start\", seconds, \"try\", recorded, id <= (SELECT up_to FROM shared)";

constexpr std::string_view kInsert =
    "INSERT INTO records (run, station, \"operator\", target, attempt, board_version, step, "
    "command, file, image_bytes, image_sha256, recipe_sha256, tool_version, status, "
    "error_class, verdict, exit_status, \"start\", seconds, transcript, \"try\", recorded) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, "
    "?19, ?20, ?21, ?22)";

StoredRow read_row(const sql::Statement& statement, bool transcript) {
    StoredRow stored;
    RecordRow& row = stored.row;
    stored.id = statement.number(0);
    row.run = statement.text(1);
    row.station = statement.text(2);
    row.operator_name = statement.text(3);
    row.target = statement.text(4);
    row.attempt = static_cast<int>(statement.number(5));
    row.board_version = statement.text(6);
    row.step = static_cast<int>(statement.number(7));
    row.command = statement.text(8);
    row.file = statement.text(9);
    row.image_bytes = static_cast<std::uint64_t>(statement.number(10));
    row.image_sha256 = statement.text(11);
    row.recipe_sha256 = statement.text(12);
    row.tool_version = statement.text(13);
    row.status = statement.text(14);
    row.error_class = statement.text(15);
    row.verdict = statement.text(16);
    if (std::optional<std::int64_t> exit = statement.optional_number(17)) {
        row.exit_status = static_cast<int>(*exit);
    }
    row.start = statement.optional_text(18);
    row.seconds = statement.optional_real(19);
    row.try_number = static_cast<int>(statement.number(20));
    stored.recorded = statement.text(21);
    stored.shared = statement.number(22) != 0;
    if (transcript) {
        row.transcript = statement.text(23);
    }
    return stored;
}

// The SELECT for a query: fixed text for each filter that is set, the values bound in the same
// order by bind_query.
std::string query_sql(const RowQuery& query) {
    std::string sql = "SELECT " + std::string(kColumns);
    sql +=
        query.transcripts ? ", transcript FROM records WHERE id > ?" : " FROM records WHERE id > ?";
    if (!query.target.empty()) {
        sql += " AND target = ?";
    }
    if (!query.status.empty()) {
        sql += " AND status = ?";
    }
    if (!query.since.empty()) {
        sql += " AND recorded >= ?";
    }
    if (query.not_shared) {
        sql += " AND id > (SELECT up_to FROM shared)";
    }
    sql += query.newest_first ? " ORDER BY id DESC" : " ORDER BY id";
    return sql + " LIMIT ?";
}

void bind_query(sql::Statement& statement, const RowQuery& query) {
    int position = 1;
    statement.bind(position++, query.after_id);
    for (const std::string* value : {&query.target, &query.status, &query.since}) {
        if (!value->empty()) {
            statement.bind(position++, *value);
        }
    }
    // A negative limit is none.
    statement.bind(position,
                   query.limit == 0 ? std::int64_t{-1} : static_cast<std::int64_t>(query.limit));
}

template <typename T>
void bind_optional(sql::Statement& statement, int position, const std::optional<T>& value) {
    if (value) {
        statement.bind(position, *value);
    } else {
        statement.bind_null(position);
    }
}

bool create_folder_of(const std::string& path, std::string& error) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code failure;
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, failure);
    }
    if (failure) {
        error = "cannot create the folder '" + folder.string() + "': " + failure.message();
    }
    return !failure;
}

std::optional<std::int64_t> read_number(sql::Connection& connection, std::string_view pragma) {
    std::unique_ptr<sql::Statement> statement = connection.prepare(pragma);
    if (!statement || !statement->step()) {
        return std::nullopt;
    }
    return statement->number(0);
}

// Brings the tables to this version's in one transaction, or leaves them as they were.
bool upgrade(sql::Connection& connection, std::string& error) {
    const int current = record_schema_version();
    if (!connection.exec("BEGIN IMMEDIATE")) {
        error = connection.error();
        return false;
    }
    std::optional<std::int64_t> version = read_number(connection, "PRAGMA user_version");
    bool ok = version.has_value();
    if (ok && *version > current) {
        error = "the record database is of version " + std::to_string(*version) +
                ", newer than this tvflash-fleet's " + std::to_string(current);
        connection.exec("ROLLBACK");
        return false;
    }
    for (std::string_view statement : upgrades_after(local_upgrades(), ok ? int(*version) : 0)) {
        ok = ok && connection.exec(statement);
    }
    // The version is this program's own number, not a value from outside. A database that is
    // current is not written to: opening it needs no room on the disk.
    if (ok && *version < current) {
        ok = connection.exec("PRAGMA user_version = " + std::to_string(current));
    }
    ok = ok && connection.exec("COMMIT");
    if (!ok) {
        error = connection.error();
        connection.exec("ROLLBACK");
    }
    return ok;
}

// WAL: readers go on while a board's rows are written; FULL: a commit is on the disk once it
// returns, so a board that ended before a crash or a power cut is in the record.
bool prepare_for_writing(sql::Connection& connection, std::string& error) {
    std::unique_ptr<sql::Statement> mode = connection.prepare("PRAGMA journal_mode = WAL");
    if (!mode || !mode->step()) {
        error = connection.error();
        return false;
    }
    if (mode->text(0) != "wal") {
        error = "cannot keep a write-ahead log (the journal mode stays " + mode->text(0) + ")";
        return false;
    }
    mode.reset();
    if (!connection.exec("PRAGMA synchronous = FULL")) {
        error = connection.error();
        return false;
    }
    return upgrade(connection, error);
}

bool check_readable(sql::Connection& connection, std::string& error) {
    std::optional<std::int64_t> version = read_number(connection, "PRAGMA user_version");
    if (!version) {
        error = connection.error();
        return false;
    }
    if (*version < 1) {
        error = "it holds no record";
        return false;
    }
    return true;
}

bool insert(sql::Statement& s, const RecordRow& row, const std::string& recorded) {
    s.reset();
    s.bind(1, row.run);
    s.bind(2, row.station);
    s.bind(3, row.operator_name);
    s.bind(4, row.target);
    s.bind(5, std::int64_t{row.attempt});
    s.bind(6, row.board_version);
    s.bind(7, std::int64_t{row.step});
    s.bind(8, row.command);
    s.bind(9, row.file);
    s.bind(10, static_cast<std::int64_t>(row.image_bytes));
    s.bind(11, row.image_sha256);
    s.bind(12, row.recipe_sha256);
    s.bind(13, row.tool_version);
    s.bind(14, row.status);
    s.bind(15, row.error_class);
    s.bind(16, row.verdict);
    bind_optional(s, 17,
                  row.exit_status ? std::optional<std::int64_t>(*row.exit_status) : std::nullopt);
    bind_optional(s, 18, row.start);
    bind_optional(s, 19, row.seconds);
    s.bind(20, row.transcript);
    s.bind(21, std::int64_t{row.try_number});
    s.bind(22, recorded);
    return s.run();
}

}  // namespace

int record_schema_version() {
    return static_cast<int>(local_upgrades().size());
}

std::unique_ptr<RecordDatabase> RecordDatabase::open(const std::string& path, Access access,
                                                     std::string& error) {
    const bool write = access == Access::write;
    std::string reason;
    if (write && !create_folder_of(path, error)) {
        return nullptr;
    }
    if (!write && !std::filesystem::exists(path)) {
        error = "cannot open the record database '" + path + "': there is no such file";
        return nullptr;
    }
    std::unique_ptr<sql::Connection> connection = sql::Connection::open(path, write, reason);
    bool ok = connection && (write ? prepare_for_writing(*connection, reason)
                                   : check_readable(*connection, reason));
    if (!ok) {
        error = "cannot open the record database '" + path + "': " + reason;
        return nullptr;
    }
    return std::unique_ptr<RecordDatabase>(new RecordDatabase(std::move(connection)));
}

RecordDatabase::RecordDatabase(std::unique_ptr<sql::Connection> connection)
    : connection_(std::move(connection)) {}

RecordDatabase::~RecordDatabase() = default;

bool RecordDatabase::fail() {
    error_ = connection_->error();
    connection_->clear_error();
    return false;
}

std::optional<std::vector<StoredRow>> RecordDatabase::rows(const RowQuery& query) {
    error_.clear();
    std::unique_ptr<sql::Statement> statement = connection_->prepare(query_sql(query));
    if (!statement) {
        fail();
        return std::nullopt;
    }
    bind_query(*statement, query);
    std::vector<StoredRow> rows;
    while (statement->step()) {
        rows.push_back(read_row(*statement, query.transcripts));
    }
    if (!connection_->error().empty()) {
        fail();
        return std::nullopt;
    }
    return rows;
}

std::optional<std::vector<StoredRow>> RecordDatabase::latest(const std::string& target,
                                                             const std::string& status,
                                                             std::size_t limit) {
    RowQuery query;
    query.target = target;
    query.status = status;
    query.limit = limit;
    query.newest_first = true;
    return rows(query);
}

std::optional<std::vector<StoredRow>> RecordDatabase::after(std::int64_t id, std::size_t limit) {
    RowQuery query;
    query.after_id = id;
    query.limit = limit;
    return rows(query);
}

std::optional<StoredRow> RecordDatabase::row(std::int64_t id) {
    RowQuery query;
    query.after_id = id - 1;
    query.limit = 1;
    query.transcripts = true;
    std::optional<std::vector<StoredRow>> found = rows(query);
    if (!found || found->empty() || found->front().id != id) {
        return std::nullopt;
    }
    return found->front();
}

// The statements of a board's commit are prepared once, for every board of the run.
bool RecordDatabase::prepare_adding() {
    const auto ready = [this](std::unique_ptr<sql::Statement>& statement, std::string_view sql) {
        if (!statement) {
            statement = connection_->prepare(sql);
        }
        if (statement) {
            statement->reset();
        }
        return statement != nullptr;
    };
    return ready(begin_, "BEGIN IMMEDIATE") && ready(insert_, kInsert) && ready(commit_, "COMMIT");
}

bool RecordDatabase::add(const std::vector<RecordRow>& rows, const std::string& recorded) {
    error_.clear();
    if (!prepare_adding() || !begin_->run()) {
        return fail();
    }
    bool ok = true;
    for (std::size_t i = 0; ok && i < rows.size(); ++i) {
        ok = insert(*insert_, rows[i], recorded);
    }
    insert_->reset();
    // A COMMIT that failed may leave the transaction open; then it is given up.
    if (!ok || !commit_->run()) {
        fail();
        connection_->exec("ROLLBACK");
        connection_->clear_error();
        return false;
    }
    return true;
}

std::optional<std::vector<StoredRow>> RecordDatabase::not_shared(std::size_t limit) {
    RowQuery query;
    query.limit = limit;
    query.transcripts = true;
    query.not_shared = true;
    return rows(query);
}

bool RecordDatabase::mark_shared(std::int64_t up_to) {
    error_.clear();
    std::unique_ptr<sql::Statement> mark =
        connection_->prepare("UPDATE shared SET up_to = max(up_to, ?1)");
    if (mark) {
        mark->bind(1, up_to);
    }
    return (mark && mark->run()) || fail();
}

}  // namespace fleet
