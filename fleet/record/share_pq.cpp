// The shared database through libpq, PostgreSQL's own client library.
#include <dlfcn.h>
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

// libpq's functions, from the library loaded when a shared database is first used rather than
// when the fleet starts: it brings two dozen libraries with it (TLS, Kerberos, LDAP), whose
// loading would cost every run several times the fleet's own start, --share or not.
struct Libpq {
    decltype(&PQconnectdbParams) connectdb_params = nullptr;
    decltype(&PQstatus) status = nullptr;
    decltype(&PQerrorMessage) error_message = nullptr;
    decltype(&PQfinish) finish = nullptr;
    decltype(&PQexecParams) exec_params = nullptr;
    decltype(&PQresultStatus) result_status = nullptr;
    decltype(&PQresultErrorMessage) result_error_message = nullptr;
    decltype(&PQclear) clear = nullptr;
    decltype(&PQgetvalue) get_value = nullptr;
    decltype(&PQcmdTuples) cmd_tuples = nullptr;
    std::string error;  // why the library could not be loaded; empty when it was
};

template <typename Function>
void find(void* library, const char* name, Function& function, std::string& error) {
    function = library != nullptr ? reinterpret_cast<Function>(dlsym(library, name)) : nullptr;
    if (function == nullptr && error.empty()) {
        const char* why = dlerror();  // null when nothing failed since it was last asked
        error = std::string("cannot load PostgreSQL's client library (libpq.so.5): ") +
                (library != nullptr ? name : "") + " " + (why != nullptr ? why : "not found");
    }
}

Libpq load_libpq() {
    // Kept loaded for the life of the program.
    void* library = dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
    Libpq pq;
    find(library, "PQconnectdbParams", pq.connectdb_params, pq.error);
    find(library, "PQstatus", pq.status, pq.error);
    find(library, "PQerrorMessage", pq.error_message, pq.error);
    find(library, "PQfinish", pq.finish, pq.error);
    find(library, "PQexecParams", pq.exec_params, pq.error);
    find(library, "PQresultStatus", pq.result_status, pq.error);
    find(library, "PQresultErrorMessage", pq.result_error_message, pq.error);
    find(library, "PQclear", pq.clear, pq.error);
    find(library, "PQgetvalue", pq.get_value, pq.error);
    find(library, "PQcmdTuples", pq.cmd_tuples, pq.error);
    return pq;
}

// Loaded once, by whichever thread first needs it.
const Libpq& libpq() {
    static const Libpq pq = load_libpq();
    return pq;
}

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

Result no_result() {
    return Result(nullptr, libpq().clear);
}

class PostgresDatabase : public SharedDatabase {
  public:
    explicit PostgresDatabase(PGconn* connection) : connection_(connection) {}
    ~PostgresDatabase() override { libpq().finish(connection_); }

    // Runs sql with the values given; the result when it went as expected, else nullptr with
    // error.
    Result run(std::string_view sql, const std::vector<std::optional<std::string>>& values,
               std::string& error) {
        std::vector<const char*> pointers;
        for (const std::optional<std::string>& value : values) {
            pointers.push_back(value ? value->c_str() : nullptr);
        }
        const Libpq& pq = libpq();
        Result result(
            pq.exec_params(connection_, std::string(sql).c_str(), static_cast<int>(values.size()),
                           nullptr, pointers.data(), nullptr, nullptr, 0),
            pq.clear);
        ExecStatusType status = result ? pq.result_status(result.get()) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            error = message_of(sql, result ? pq.result_error_message(result.get())
                                           : pq.error_message(connection_));
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
        Result version = no_result();
        if (ok) {
            version = run("SELECT coalesce(max(version), 0) FROM tvflash_schema", {}, error);
        }
        if (!version) {
            return std::nullopt;
        }
        return std::atoi(libpq().get_value(version.get(), 0, 0));
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
            added += std::string_view(libpq().cmd_tuples(result.get())) == "1";
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
    const Libpq& pq = libpq();
    if (!pq.error.empty()) {
        error = pq.error;
        return nullptr;
    }
    const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"10", "tvflash-fleet", url.c_str(), nullptr};
    PGconn* connection = pq.connectdb_params(keywords, values, 1);
    if (connection == nullptr) {
        error = "out of memory";
        return nullptr;
    }
    if (pq.status(connection) != CONNECTION_OK) {
        error = message_of("", pq.error_message(connection));
        pq.finish(connection);
        return nullptr;
    }
    auto shared = std::make_unique<PostgresDatabase>(connection);
    if (!shared->upgrade(error)) {
        return nullptr;
    }
    return shared;
}

}  // namespace fleet
