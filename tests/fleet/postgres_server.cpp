#include "fleet/postgres_server.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "e2e/process.h"

namespace pgtest {
namespace {

using namespace std::chrono_literals;

// The newest PostgreSQL installed, as Debian lays it out.
std::string postgres_bin() {
    std::string best;
    std::error_code failure;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", failure)) {
        std::string bin = (entry.path() / "bin").string();
        if (std::filesystem::exists(bin + "/initdb") && bin > best) {
            best = bin;
        }
    }
    return best;
}

// The server refuses to run as root: then it runs as the postgres user.
std::vector<std::string> as_server_user(std::vector<std::string> argv) {
    if (geteuid() == 0) {
        argv.insert(argv.begin(), {"runuser", "-u", "postgres", "--"});
    }
    return argv;
}

std::string first_field(const std::string& conninfo, const std::string& sql) {
    PGconn* connection = PQconnectdb(conninfo.c_str());
    std::string value;
    if (PQstatus(connection) != CONNECTION_OK) {
        value = PQerrorMessage(connection);
    } else {
        PGresult* result = PQexec(connection, sql.c_str());
        ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_TUPLES_OK && PQntuples(result) > 0) {
            value = PQgetvalue(result, 0, 0);
        } else if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            value = PQresultErrorMessage(result);
        }
        PQclear(result);
    }
    PQfinish(connection);
    return value;
}

}  // namespace

PostgresServer::PostgresServer() : bin_(postgres_bin()) {
    char pattern[] = "/tmp/tvflash_pg_XXXXXX";
    folder_ = mkdtemp(pattern) != nullptr ? pattern : "";
    if (geteuid() == 0) {
        const passwd* user = getpwnam("postgres");
        if (user == nullptr || chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0) {
            ADD_FAILURE() << "no postgres user to run the server as (make test installs it)";
        }
    }
    std::vector<std::string> argv =
        as_server_user({bin_ + "/initdb", "-D", folder_ + "/data", "-U", "postgres", "-A", "trust",
                        "-E", "UTF8", "--no-sync"});
    e2e::RunResult made = e2e::run_process(argv.front(), {argv.begin() + 1, argv.end()}, "", 120s);
    made_ = made.status == 0;
    EXPECT_TRUE(made_) << "initdb in " << bin_ << ": " << made.out << made.err;
}

PostgresServer::~PostgresServer() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

bool PostgresServer::start(std::string& error) {
    if (!made_) {
        error = "no cluster";
        return false;
    }
    subprocess::Command command;
    // Only the Unix socket in the folder; no fsync, for speed: the cluster lives for one test.
    command.argv = as_server_user({bin_ + "/postgres", "-D", folder_ + "/data", "-k", folder_, "-c",
                                   "listen_addresses=", "-c", "fsync=off"});
    command.out = subprocess::Sink::file;
    command.out_path = folder_ + "/server.log";
    command.err = subprocess::Sink::to_output;
    server_ = set_.start(command, error);
    const std::string admin = "host=" + folder_ + " user=postgres dbname=postgres";
    for (int tries = 0; server_ && tries < 300; ++tries) {
        if (first_field(admin, "SELECT 1") == "1") {
            // The role and database a line's administrator would make (docs/fleet.md).
            first_field(admin, "CREATE ROLE station LOGIN");
            first_field(admin, "CREATE DATABASE records OWNER station");
            return true;
        }
        std::this_thread::sleep_for(100ms);
    }
    std::ifstream log(folder_ + "/server.log");
    error = "the server did not start: " +
            std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
    return false;
}

void PostgresServer::stop() {
    if (!server_ || server_->poll_exit()) {
        server_.reset();
        return;
    }
    // postmaster.pid's first line is the server's own id (the runuser before it only waits).
    std::ifstream pid_file(folder_ + "/data/postmaster.pid");
    long pid = 0;
    if (pid_file >> pid && pid > 0) {
        kill(static_cast<pid_t>(pid), SIGINT);
    }
    if (!server_->wait_exit(30s)) {
        if (pid > 0) {
            kill(static_cast<pid_t>(pid), SIGKILL);
        }
        server_->kill();
        server_->wait_exit(10s);
    }
    server_.reset();
}

std::string PostgresServer::url() const {
    return "postgresql://station@/records?host=" + folder_;
}

std::string PostgresServer::query(const std::string& sql) const {
    return first_field("host=" + folder_ + " user=station dbname=records", sql);
}

}  // namespace pgtest
