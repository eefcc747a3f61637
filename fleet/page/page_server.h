// The station page's HTTP server: the page's own files and its JSON, read-only (GET and HEAD; any
// other method gets 405), served on threads of its own beside the scheduler. Every response
// carries a Content-Security-Policy that allows the page's own files only, and nosniff. No path
// of a URL reaches the file system: the files are built into the program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "page/live_page.h"
#include "page/record_pages.h"
#include "plan/serve_address.h"

namespace fleet {

// The headers every response carries.
struct PageHeader {
    const char* name;
    const char* value;
};
extern const PageHeader kPageHeaders[4];

class PageServer {
  public:
    PageServer();
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    // Binds at; false with the reason. Port 0 binds a free port, which port() then tells.
    bool listen(const ServeAddress& at, std::string& error);
    std::uint16_t port() const { return port_; }

    // Serves on threads of its own from now on: the live page of a run (none for the record
    // pages alone) and the record pages of its database. False with the reason when the threads
    // could not be started.
    bool start(LivePage* live, const RecordPages& records, std::string& error);

    // Lets the event streams send what they have (at most about a second), then ends the server
    // and its threads.
    void stop();

    // True when the server ended by itself before stop(): the page is gone, the run goes on.
    bool failed() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::uint16_t port_ = 0;
};

}  // namespace fleet
