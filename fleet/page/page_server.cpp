#include "page/page_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <system_error>
#include <thread>

#include "os/net.h"
#include "os/threads.h"
#include "page/web_files.h"

namespace fleet {

const PageHeader kPageHeaders[4] = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
     "connect-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

namespace {

using namespace std::chrono_literals;

// Threads serving requests: each open event stream holds one, so there are more than
// PageLimits::clients.
constexpr std::size_t kServerThreads = 48;
// An event stream with nothing to send writes a comment this often, so that a browser that went
// away is noticed.
constexpr auto kKeepAliveEvery = 10s;
// An event stream writes at most this often, each time everything that came meanwhile: during an
// upload there are hundreds of events a second, and a write each would cost the fleet a thread's
// wake-up and a system call per event and page.
constexpr auto kWriteEvery = 40ms;
// How long a closing run waits for its streams to send their last events.
constexpr auto kDrainFor = 1s;
constexpr auto kStartWithin = 5s;

const char* const kPlainText = "text/plain; charset=utf-8";

void refuse_method(const httplib::Request&, httplib::Response& res) {
    res.status = 405;
    res.set_header("Allow", "GET, HEAD");
    res.set_content("This page is read-only: GET and HEAD only.\n", kPlainText);
}

void serve_file(httplib::Server& server, const std::string& path, const std::string& name) {
    server.Get(path, [name](const httplib::Request&, httplib::Response& res) {
        const EmbeddedFile* file = web_file(name);
        res.set_content(std::string(file->bytes), std::string(content_type(name)));
    });
}

// The event stream of one client: the snapshot first, then every event as it comes.
void serve_events(LivePage& live, httplib::Response& res) {
    std::string first;
    std::shared_ptr<PageClient> client = live.attach(first);
    if (!client) {
        res.status = 503;
        res.set_header("Retry-After", "2");
        res.set_content("Too many pages are open on this run.\n", kPlainText);
        return;
    }
    auto quiet_since = std::make_shared<Clock::time_point>(Clock::now());
    res.set_chunked_content_provider(
        "text/event-stream",
        [&live, client, first, quiet_since](std::size_t offset, httplib::DataSink& sink) {
            if (offset == 0) {
                return sink.write(first.data(), first.size());
            }
            std::string out;
            if (!live.next(*client, 250ms, out)) {
                sink.done();
                return true;
            }
            if (out.empty() && Clock::now() - *quiet_since < kKeepAliveEvery) {
                return true;
            }
            *quiet_since = Clock::now();
            if (out.empty()) {
                out = ": still here\n\n";
            }
            const bool written = sink.write(out.data(), out.size());
            std::this_thread::sleep_for(kWriteEvery);
            return written;
        },
        [&live, client](bool) { live.detach(client); });
}

std::map<std::string, std::string> parameters_of(const httplib::Request& req) {
    return std::map<std::string, std::string>(req.params.begin(), req.params.end());
}

void answer(httplib::Response& res, const RecordAnswer& answer) {
    res.status = answer.status;
    res.set_content(answer.body, answer.type);
}

void route_records(httplib::Server& server, const RecordPages& records) {
    serve_file(server, "/records", "records.html");
    serve_file(server, "/records.js", "records.js");
    server.Get("/api/records", [&records](const httplib::Request& req, httplib::Response& res) {
        answer(res, records.rows(parameters_of(req), false));
    });
    server.Get("/records.csv", [&records](const httplib::Request& req, httplib::Response& res) {
        answer(res, records.rows(parameters_of(req), true));
        if (res.status == 200) {
            res.set_header("Content-Disposition", "attachment; filename=\"records.csv\"");
        }
    });
    server.Get(R"(/records/(\d+))",
               [&records](const httplib::Request& req, httplib::Response& res) {
                   answer(res, records.transcript(req.matches[1]));
               });
}

void route(httplib::Server& server, LivePage* live, const RecordPages& records) {
    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        if (req.method == "GET" || req.method == "HEAD") {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        refuse_method(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.status == 404) {
            res.set_content("Not found.\n", kPlainText);
        }
    });
    serve_file(server, "/page.css", "page.css");
    route_records(server, records);
    if (live == nullptr) {
        server.Get("/", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/records");
        });
        return;
    }
    serve_file(server, "/", "index.html");
    serve_file(server, "/live.js", "live.js");
    server.Get("/api/state", [live](const httplib::Request&, httplib::Response& res) {
        res.set_content(live->state_text(), "application/json");
    });
    server.Get("/api/events", [live](const httplib::Request&, httplib::Response& res) {
        serve_events(*live, res);
    });
}

}  // namespace

struct PageServer::Impl {
    httplib::Server server;
    std::thread thread;
    LivePage* live = nullptr;
    std::atomic<bool> stopping{false};
    std::atomic<bool> failed{false};
    std::atomic<bool> ended{false};
};

PageServer::PageServer() : impl_(std::make_unique<Impl>()) {
    httplib::Server& server = impl_->server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    httplib::Headers headers;
    for (const PageHeader& header : kPageHeaders) {
        headers.emplace(header.name, header.value);
    }
    server.set_default_headers(headers);
    server.set_socket_options(
        [](socket_t socket) { net::set_listening_options(static_cast<std::intptr_t>(socket)); });
    // One request a connection: no thread waits on an idle connection, and a stop ends at once.
    server.set_keep_alive_max_count(1);
    // Each event goes out as it comes, not when the last one was acknowledged.
    server.set_tcp_nodelay(true);
    server.set_keep_alive_timeout(2);
    server.set_read_timeout(2);
    server.set_write_timeout(2);
    server.set_payload_max_length(64 * 1024);
}

PageServer::~PageServer() {
    stop();
}

bool PageServer::listen(const ServeAddress& at, std::string& error) {
    net::clear_socket_error();
    int port = at.port;
    bool bound = at.port == 0 ? (port = impl_->server.bind_to_any_port(at.address)) > 0
                              : impl_->server.bind_to_port(at.address, at.port);
    if (!bound) {
        std::string reason = net::socket_error_text();
        error = "cannot serve the page on " + at.address + ":" + std::to_string(at.port) +
                (reason.empty() ? "" : ": " + reason);
        return false;
    }
    port_ = static_cast<std::uint16_t>(port);
    return true;
}

bool PageServer::start(LivePage* live, const RecordPages& records, std::string& error) {
    impl_->live = live;
    route(impl_->server, live, records);
    Impl& impl = *impl_;
    try {
        impl.thread = threads::start_without_signals([&impl] {
            // A server that fails (its socket, its threads) ends the page, never the run.
            bool ended_well = false;
            try {
                ended_well = impl.server.listen_after_bind();
            } catch (const std::exception&) {
            }
            impl.failed = !ended_well && !impl.stopping;
            impl.ended = true;
        });
    } catch (const std::system_error& failure) {
        error = std::string("cannot start the page's server: ") + failure.what();
        return false;
    }
    // The server takes a stop only once it runs.
    const auto deadline = Clock::now() + kStartWithin;
    while (!impl.server.is_running() && !impl.ended && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

void PageServer::stop() {
    if (!impl_->thread.joinable()) {
        return;
    }
    impl_->stopping = true;
    if (impl_->live != nullptr) {
        impl_->live->close();
        const auto deadline = Clock::now() + kDrainFor;
        while (impl_->live->clients() > 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
    }
    impl_->server.stop();
    impl_->thread.join();
}

bool PageServer::failed() const {
    return impl_->failed;
}

}  // namespace fleet
