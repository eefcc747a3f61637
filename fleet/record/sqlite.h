// A thin layer over SQLite's C interface for the record database: a connection and its prepared
// statements, values bound by position only, and every return code turned into a message that
// names the statement it came from. Nothing outside fleet/record/ includes SQLite itself.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace fleet::sql {

class Connection;

// A prepared statement. Bind values from position 1 on, then step through its rows.
class Statement {
  public:
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int position, std::string_view text);
    void bind(int position, std::int64_t number);
    void bind(int position, double number);
    void bind_null(int position);

    // The next row: true while there is one, false at the end or on a failure (then the
    // connection's error() tells which).
    bool step();
    // The statement ran to its end without a failure.
    bool run();
    // Clears the bindings and the result, for the statement to be run again.
    void reset();

    std::string text(int column) const;
    std::int64_t number(int column) const;
    std::optional<std::int64_t> optional_number(int column) const;
    std::optional<double> optional_real(int column) const;
    std::optional<std::string> optional_text(int column) const;

  private:
    friend class Connection;
    Statement(Connection& connection, sqlite3_stmt* statement, std::string sql);
    void check_bind(int code);

    Connection& connection_;
    sqlite3_stmt* statement_;
    std::string sql_;
    bool failed_ = false;  // a bind failed: the statement is not run
};

// One connection to a database file, used by one thread.
class Connection {
  public:
    // Opens path for reading (it must exist), or for reading and writing (it is created when
    // missing); nullptr with the reason in error.
    static std::unique_ptr<Connection> open(const std::string& path, bool write,
                                            std::string& error);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // A statement of sql; nullptr on a failure (see error()).
    std::unique_ptr<Statement> prepare(std::string_view sql);
    // Runs one statement that takes no values, to its end; false on a failure.
    bool exec(std::string_view sql);

    // The last failure: the start of the statement and SQLite's reason, as in "COMMIT: database
    // or disk is full".
    const std::string& error() const { return error_; }
    void clear_error() { error_.clear(); }
    // Records a failure of sql with SQLite's code; the reason comes from the connection.
    void fail(std::string_view sql, int code);

  private:
    explicit Connection(sqlite3* db) : db_(db) {}

    sqlite3* db_;
    std::string error_;
};

// The statement's first words, for a message: at most 60 characters, "..." marking a cut.
std::string statement_name(std::string_view sql);

}  // namespace fleet::sql
