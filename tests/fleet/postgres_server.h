// A real PostgreSQL server for the tests of the line's shared database: a new cluster in a
// temporary folder, listening only on a Unix socket there, run as an unprivileged user (the
// postgres user of Debian's package when the tests run as root) and stopped by its process id.
#pragma once

#include <memory>
#include <string>

#include "process/subprocess.h"

namespace pgtest {

class PostgresServer {
  public:
    // Makes the cluster (initdb) in a new temporary folder; start() runs it.
    PostgresServer();
    // Stops the server if it runs, and removes the folder.
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Starts the server and waits until it takes connections; false with the reason in error.
    bool start(std::string& error);
    // Stops it (a fast shutdown through the server's own process id) and waits for its end.
    void stop();

    // The URL of the database "records" of the role "station" (both made by the first start).
    std::string url() const;

    // The first field of the first row sql gives, as text; "" with the reason on a failure.
    std::string query(const std::string& sql) const;

  private:
    std::string folder_;
    std::string bin_;
    bool made_ = false;
    subprocess::ProcessSet set_;
    std::unique_ptr<subprocess::Process> server_;
};

}  // namespace pgtest
