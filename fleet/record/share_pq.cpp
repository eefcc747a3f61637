// The shared database through libpq, PostgreSQL's own client library.
#include <libpq-fe.h>

#include <charconv>
#include <cstdlib>

#include "record/schema.h"
#include "record/share.h"
#include "text.h"

namespace fleet {
namespace {

// Stations that start at once take turns at creating or upgrading the tables: the first does
// it, the others find it done. The number names this lock among the database's advisory locks.
constexpr std::string_view kSchemaLock = "SELECT pg_advisory_xact_lock(7401583201)";

constexpr std::string_view kInsert =
    "INSERT INTO tvflash_records (run, station, \"operator\", target, attempt, board_version, "
    "step, command, file, image_bytes, image_sha256, recipe_sha256, tool_version, status, "
    "error_class, verdict, exit_status, \"start\", seconds, transcript, \"try\") VALUES ($1, $2, "
    "$3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19, $20, $21) "
    "ON CONFLICT (run, target, attempt, step, \"try\") DO NOTHING";

// libpq's messages end with a line end and may run over several lines.
std::string message_of(std::string_view sql, const char* text) {
    std::string message;
    for (std::string_view line : split_lines(text == nullptr ? "" : text)) {
        line = trim(line);
        if (!line.empty()) {
            message += (message.empty() ? "" : "; ") + std::string(line);
        }
    }
    return sql.empty() ? message : fit(sql, 60) + ": " + message;
}

std::string number_text(double number) {
    char text[32];
    auto result = std::to_chars(text, text + sizeof text, number);
    return std::string(text, result.ptr);
}

// One row's values, as text, in kInsert's order; nothing for NULL.
std::vector<std::optional<std::string>> insert_values(const RecordRow& row) {
    return {postgres_text(row.run),
            postgres_text(row.station),
            postgres_text(row.operator_name),
            postgres_text(row.target),
            std::to_string(row.attempt),
            postgres_text(row.board_version),
            std::to_string(row.step),
            postgres_text(row.command),
            postgres_text(row.file),
            std::to_string(row.image_bytes),
            postgres_text(row.image_sha256),
            postgres_text(row.recipe_sha256),
            postgres_text(row.tool_version),
            postgres_text(row.status),
            postgres_text(row.error_class),
            postgres_text(row.verdict),
            row.exit_status ? std::optional<std::string>(std::to_string(*row.exit_status))
                            : std::nullopt,
            row.start ? std::optional<std::string>(postgres_text(*row.start)) : std::nullopt,
            row.seconds ? std::optional<std::string>(number_text(*row.seconds)) : std::nullopt,
            postgres_text(row.transcript),
            std::to_string(row.try_number)};
}

using Result = std::unique_ptr<PGresult, void (*)(PGresult*)>;

class PostgresDatabase : public SharedDatabase {
  public:
    explicit PostgresDatabase(PGconn* connection) : connection_(connection) {}
    ~PostgresDatabase() override { PQfinish(connection_); }

    // Runs sql with the values given; the result when it went as expected, else nullptr with
    // error.
    Result run(std::string_view sql, const std::vector<std::optional<std::string>>& values,
               std::string& error) {
        std::vector<const char*> pointers;
        for (const std::optional<std::string>& value : values) {
            pointers.push_back(value ? value->c_str() : nullptr);
        }
        Result result(
            PQexecParams(connection_, std::string(sql).c_str(), static_cast<int>(values.size()),
                         nullptr, pointers.data(), nullptr, nullptr, 0),
            PQclear);
        ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            error = message_of(
                sql, result ? PQresultErrorMessage(result.get()) : PQerrorMessage(connection_));
            result.reset();
        }
        return result;
    }

    bool exec(std::string_view sql, std::string& error) { return run(sql, {}, error) != nullptr; }

    // Gives up the transaction a failure left open; the failure's own error stays.
    void roll_back() {
        std::string ignored;
        exec("ROLLBACK", ignored);
    }

    // The tables' version, read in a transaction that holds the schema lock; nothing on a
    // failure.
    std::optional<int> locked_version(std::string& error) {
        bool ok =
            exec("BEGIN", error) && exec(kSchemaLock, error) &&
            exec("CREATE TABLE IF NOT EXISTS tvflash_schema (version integer NOT NULL)", error);
        Result version(nullptr, PQclear);
        if (ok) {
            version = run("SELECT coalesce(max(version), 0) FROM tvflash_schema", {}, error);
        }
        if (!version) {
            return std::nullopt;
        }
        return std::atoi(PQgetvalue(version.get(), 0, 0));
    }

    bool upgrade(std::string& error) {
        const int current = static_cast<int>(shared_upgrades().size());
        std::optional<int> version = locked_version(error);
        int from = version.value_or(0);
        if (from > current) {
            error = "the shared database is of version " + std::to_string(from) +
                    ", newer than this tvflash-fleet's " + std::to_string(current);
        }
        bool ok = version && from <= current;
        for (std::string_view statement : upgrades_after(shared_upgrades(), from)) {
            ok = ok && exec(statement, error);
        }
        for (int v = from + 1; ok && v <= current; ++v) {
            ok = run("INSERT INTO tvflash_schema (version) VALUES ($1)", {std::to_string(v)},
                     error) != nullptr;
        }
        ok = ok && exec("COMMIT", error);
        if (!ok) {
            roll_back();
        }
        return ok;
    }

    std::optional<std::size_t> add(const std::vector<StoredRow>& rows,
                                   std::string& error) override {
        if (!exec("BEGIN", error)) {
            return std::nullopt;
        }
        std::size_t added = 0;
        for (const StoredRow& stored : rows) {
            auto result = run(kInsert, insert_values(stored.row), error);
            if (!result) {
                roll_back();
                return std::nullopt;
            }
            // "1" for a row added, "0" for one whose key was there already.
            added += std::string_view(PQcmdTuples(result.get())) == "1";
        }
        if (!exec("COMMIT", error)) {
            roll_back();
            return std::nullopt;
        }
        return added;
    }

  private:
    PGconn* connection_;
};

}  // namespace

bool share_built() {
    return true;
}

std::unique_ptr<SharedDatabase> SharedDatabase::connect(const std::string& url,
                                                        std::string& error) {
    // The URL's own settings come after these, and win.
    const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"10", "tvflash-fleet", url.c_str(), nullptr};
    PGconn* connection = PQconnectdbParams(keywords, values, 1);
    if (connection == nullptr) {
        error = "out of memory";
        return nullptr;
    }
    if (PQstatus(connection) != CONNECTION_OK) {
        error = message_of("", PQerrorMessage(connection));
        PQfinish(connection);
        return nullptr;
    }
    auto shared = std::make_unique<PostgresDatabase>(connection);
    if (!shared->upgrade(error)) {
        return nullptr;
    }
    return shared;
}

}  // namespace fleet
