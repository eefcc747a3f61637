#include "record/sqlite.h"

#include <sqlite3.h>

#include "text.h"

namespace fleet::sql {
namespace {

// Another connection (a second station process, the page, `records`) may hold the write lock for
// a moment; wait that long for it before a statement fails as busy.
constexpr int kBusyMilliseconds = 10000;

}  // namespace

std::string statement_name(std::string_view sql) {
    return fit(sql, 60);
}

Statement::Statement(Connection& connection, sqlite3_stmt* statement, std::string sql)
    : connection_(connection), statement_(statement), sql_(std::move(sql)) {}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

void Statement::check_bind(int code) {
    if (code != SQLITE_OK && !failed_) {
        failed_ = true;
        connection_.fail(sql_, code);
    }
}

void Statement::bind(int position, std::string_view text) {
    check_bind(sqlite3_bind_text64(statement_, position, text.data(), text.size(), SQLITE_TRANSIENT,
                                   SQLITE_UTF8));
}

void Statement::bind(int position, std::int64_t number) {
    check_bind(sqlite3_bind_int64(statement_, position, number));
}

void Statement::bind(int position, double number) {
    check_bind(sqlite3_bind_double(statement_, position, number));
}

void Statement::bind_null(int position) {
    check_bind(sqlite3_bind_null(statement_, position));
}

bool Statement::step() {
    if (failed_) {
        return false;
    }
    int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW) {
        return true;
    }
    if (code != SQLITE_DONE) {
        failed_ = true;
        connection_.fail(sql_, code);
    }
    return false;
}

bool Statement::run() {
    while (step()) {
    }
    return !failed_;
}

void Statement::reset() {
    // sqlite3_reset repeats the last step's failure, which step() has reported already.
    sqlite3_reset(statement_);
    check_bind(sqlite3_clear_bindings(statement_));
    failed_ = false;
}

std::string Statement::text(int column) const {
    const unsigned char* bytes = sqlite3_column_text(statement_, column);
    int size = sqlite3_column_bytes(statement_, column);
    return bytes == nullptr ? "" : std::string(reinterpret_cast<const char*>(bytes), size);
}

std::int64_t Statement::number(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::optional<std::int64_t> Statement::optional_number(int column) const {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) {
        return std::nullopt;
    }
    return number(column);
}

std::optional<double> Statement::optional_real(int column) const {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) {
        return std::nullopt;
    }
    return sqlite3_column_double(statement_, column);
}

std::optional<std::string> Statement::optional_text(int column) const {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) {
        return std::nullopt;
    }
    return text(column);
}

std::unique_ptr<Connection> Connection::open(const std::string& path, bool write,
                                             std::string& error) {
    sqlite3* db = nullptr;
    int flags = write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    int code = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK) {
        error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    code = sqlite3_busy_timeout(db, kBusyMilliseconds);
    if (code != SQLITE_OK) {
        error = sqlite3_errstr(code);
        sqlite3_close(db);
        return nullptr;
    }
    return std::unique_ptr<Connection>(new Connection(db));
}

Connection::~Connection() {
    // Every statement has been finalized by its owner, so the close cannot be refused as busy.
    sqlite3_close(db_);
}

std::unique_ptr<Statement> Connection::prepare(std::string_view sql) {
    sqlite3_stmt* statement = nullptr;
    int code =
        sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
    if (code != SQLITE_OK) {
        fail(sql, code);
        sqlite3_finalize(statement);
        return nullptr;
    }
    return std::unique_ptr<Statement>(new Statement(*this, statement, std::string(sql)));
}

bool Connection::exec(std::string_view sql) {
    std::unique_ptr<Statement> statement = prepare(sql);
    return statement && statement->run();
}

void Connection::fail(std::string_view sql, int code) {
    // The connection's message is more precise ("no such table: records") when it is about this
    // code; the code's own text otherwise.
    bool own = (sqlite3_extended_errcode(db_) & 0xff) == (code & 0xff);
    error_ = statement_name(sql) + ": " + (own ? sqlite3_errmsg(db_) : sqlite3_errstr(code));
}

}  // namespace fleet::sql
