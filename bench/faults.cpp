// tvflash_faults: what the link survives. Runs `tvflash updatesys` of a 256 KiB image shaped like
// real firmware against tvflash-sim under each network fault, 20 seeded runs a row, and counts
// the outcomes: success with the exact image (compared with the bytes the board stored), each
// reported failure by its line, success with a wrong image, runs that did not end by themselves,
// and the median time, and the row of loss 1% each way once more through tvflash-fleet with
// --retries 2. Then updates 16 boards at once and probes 64 at once, and takes tvflash-fleet's
// figures: 64 boards through a two-step recipe at once beside one alone, the fleet's own CPU
// against its children's without a record database and with one and the JSON stream, the time
// a board's rows take to commit, the same boards with the station page open in a browser (the
// time from an event to its tile, measured in the page), followed by 20 readers and open in 20
// tabs, a /24 scan, and 1000 targets at -j 256 within 1024 open files. Prints; judges nothing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_core.h"
#include "browser.h"
#include "process.h"
#include "record/record_db.h"

namespace {

constexpr int kRunsPerRow = 20;
constexpr int kWorkers = 4;
constexpr double kRunTimeoutSeconds = 90;
constexpr std::size_t kImageBytes = 256 * 1024;
constexpr std::size_t kParallelImageBytes = 1024 * 1024;
constexpr int kParallelBoards = 16;
constexpr int kParallelProbes = 64;

struct Row {
    std::string name;
    std::vector<std::string> sim_args;
    bool through_fleet = false;  // the update runs as tvflash-fleet --retries 2 runs it
};

const std::vector<Row> kRows{
    {"no fault", {}},
    {"loss 1% each way", {"--loss-in", "0.01", "--loss-out", "0.01"}},
    {"loss 5% each way", {"--loss-in", "0.05", "--loss-out", "0.05"}},
    {"loss 1% each way, blind", {"--loss-in", "0.01", "--loss-out", "0.01", "--blind"}},
    {"loss 5% each way, blind", {"--loss-in", "0.05", "--loss-out", "0.05", "--blind"}},
    {"duplication 1% each way", {"--dup-in", "0.01", "--dup-out", "0.01"}},
    {"duplication 5% each way", {"--dup-in", "0.05", "--dup-out", "0.05"}},
    {"reordering 1%", {"--reorder", "0.01"}},
    {"reordering 5%", {"--reorder", "0.05"}},
    {"delay 5 ms, jitter 5 ms", {"--delay", "5", "--jitter", "5"}},
    {"NACK rate 10%", {"--nack-rate", "0.1"}},
    {"loss 1% each way, fleet --retries 2", {"--loss-in", "0.01", "--loss-out", "0.01"}, true},
};

// One run's outcome: "exact", "WRONG image", "did not end" or the failure line.
struct Outcome {
    std::string kind;
    double seconds = 0;
    std::string stored;  // for a wrong image: how what the board stored differs
};

// How a stored image differs from the image: its length, and the first block that differs.
std::string difference(const std::string& stored, const std::string& image) {
    std::size_t at = 0;
    while (at < stored.size() && at < image.size() && stored[at] == image[at]) {
        ++at;
    }
    return std::to_string(stored.size()) + " bytes stored, first differing block " +
           std::to_string(at / 1024);
}

struct Tools {
    std::string tool = TVFLASH_BENCH_TOOL;
    std::string sim = TVFLASH_BENCH_SIM;
    std::string fleet = TVFLASH_BENCH_FLEET;
    std::filesystem::path work;
};

std::string write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

// A simulator on a free port storing its updates in dir; nullopt when it did not start.
std::optional<std::pair<bench::Background, std::uint16_t>> start_sim(
    const Tools& tools, const std::filesystem::path& dir, std::vector<std::string> args,
    const std::string& port_asked = "0") {
    std::filesystem::create_directories(dir);
    std::vector<std::string> argv{tools.sim, "--port", port_asked, "--write-dir", dir.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::optional<bench::Background> sim =
        bench::start_background(argv, (dir / "sim.out").string());
    if (!sim) {
        return std::nullopt;
    }
    std::optional<std::uint16_t> port = bench::wait_for_output(*sim, 5, bench::listening_port);
    if (!port) {
        bench::stop_background(*sim);
        return std::nullopt;
    }
    return std::make_pair(*sim, *port);
}

// What the board holds after the run: the last update it stored (a try again stores another).
std::string last_stored(const std::filesystem::path& dir) {
    std::string stored;
    for (int n = 1; std::filesystem::exists(dir / ("update-" + std::to_string(n) + ".bin")); ++n) {
        stored = bench::read_file((dir / ("update-" + std::to_string(n) + ".bin")).string());
    }
    return stored;
}

// The tool's command line for the update, or tvflash-fleet's running it with --retries 2.
std::vector<std::string> update_argv(const Tools& tools, const std::filesystem::path& dir,
                                     const Row& row, std::uint16_t port,
                                     const std::string& image_path) {
    if (!row.through_fleet) {
        return {tools.tool, "127.0.0.1", std::to_string(port), "updatesys", image_path};
    }
    return {tools.fleet,
            "run",
            "--retries",
            "2",
            "--tool",
            tools.tool,
            "--db",
            "none",
            "--logs",
            (dir / "logs").string(),
            "-e",
            "updatesys " + image_path,
            "127.0.0.1:" + std::to_string(port)};
}

Outcome update_once(const Tools& tools, const std::filesystem::path& dir, const Row& row, int seed,
                    const std::string& image_path, const std::string& image) {
    std::vector<std::string> args = row.sim_args;
    args.insert(args.end(), {"--seed", std::to_string(seed)});
    auto sim = start_sim(tools, dir, args);
    if (!sim) {
        return {"simulator did not start", 0, ""};
    }
    // Three tries through the fleet, each with the tool's own time.
    bench::ChildRun run =
        bench::run_measured(update_argv(tools, dir, row, sim->second, image_path), {},
                            row.through_fleet ? 3 * kRunTimeoutSeconds : kRunTimeoutSeconds,
                            row.through_fleet ? bench::Start::spawn : bench::Start::fork);
    bench::stop_background(sim->first);
    std::string stored = last_stored(dir);
    std::filesystem::remove_all(dir);
    Outcome outcome{
        bench::update_outcome(run.timed_out, run.exit_status, run.output, stored == image),
        run.wall_seconds, ""};
    if (outcome.kind == "WRONG image") {
        outcome.stored = "seed " + std::to_string(seed) + ": " + difference(stored, image);
    }
    return outcome;
}

// Runs job(i) for i from 0 to count - 1 on a few threads at once.
void run_all(int count, int workers, const std::function<void(int)>& job) {
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&] {
            for (int i = next++; i < count; i = next++) {
                job(i);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

void print_row(const Row& row, const std::vector<Outcome>& outcomes) {
    std::map<std::string, int> counts;
    std::vector<double> seconds;
    for (const Outcome& outcome : outcomes) {
        ++counts[bench::failure_kind(outcome.kind)];
        seconds.push_back(outcome.seconds);
    }
    std::string failures;
    for (const Outcome& outcome : outcomes) {
        if (!outcome.stored.empty()) {
            failures += (failures.empty() ? "WRONG (" : "; WRONG (") + outcome.stored + ")";
        }
    }
    for (const auto& [kind, count] : counts) {
        if (kind != "exact" && kind != "WRONG image" && kind != "did not end") {
            failures += (failures.empty() ? "" : "; ") + std::to_string(count) + " " + kind;
        }
    }
    std::printf("| %-35s | %5d | %5d | %5d | %-8s | %s\n", row.name.c_str(), counts["exact"],
                counts["WRONG image"], counts["did not end"],
                bench::format_seconds(bench::median(seconds)).c_str(),
                failures.empty() ? "-" : failures.c_str());
    std::fflush(stdout);
}

void survival_table(const Tools& tools) {
    const std::string image = bench::firmware_image(kImageBytes, 2026);
    const std::string image_path = write_file(tools.work / "firmware.bin", image);
    std::printf(
        "updatesys of a %zu KiB firmware-shaped image, %d seeded runs a row, %d at once\n\n",
        kImageBytes / 1024, kRunsPerRow, kWorkers);
    std::printf("| %-35s | exact | wrong | stuck | median   | reported failures\n", "fault");
    for (const Row& row : kRows) {
        std::vector<Outcome> outcomes(kRunsPerRow);
        run_all(kRunsPerRow, kWorkers, [&](int i) {
            outcomes[i] = update_once(tools, tools.work / ("run" + std::to_string(i)), row, i + 1,
                                      image_path, image);
        });
        print_row(row, outcomes);
    }
}

// Starts count simulators, runs job(i, port) for each at once, stops them.
template <typename Job>
double with_boards(const Tools& tools, int count, int jobs, Job job) {
    std::vector<std::pair<bench::Background, std::uint16_t>> sims;
    for (int i = 0; i < count; ++i) {
        if (auto sim = start_sim(tools, tools.work / ("board" + std::to_string(i)), {})) {
            sims.push_back(*sim);
        }
    }
    if (static_cast<int>(sims.size()) != count) {
        std::printf("not every simulator started\n");
    }
    auto start = std::chrono::steady_clock::now();
    run_all(jobs, jobs, [&](int i) { job(i, sims[i % sims.size()].second); });
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (auto& sim : sims) {
        bench::stop_background(sim.first);
    }
    return wall;
}

void many_boards(const Tools& tools) {
    const std::string image = bench::firmware_image(kParallelImageBytes, 16);
    const std::string path = write_file(tools.work / "image-1m.bin", image);
    auto update = [&](int i, std::uint16_t port) {
        bench::ChildRun run = bench::run_measured(
            {tools.tool, "127.0.0.1", std::to_string(port), "updatesys", path}, {}, 120);
        std::string stored = bench::read_file(
            (tools.work / ("board" + std::to_string(i)) / "update-1.bin").string());
        return run.exit_status == 0 && stored == image;
    };
    std::atomic<int> good{0};
    double single =
        with_boards(tools, 1, 1, [&](int i, std::uint16_t port) { good += update(i, port); });
    std::printf("\none update of 1 MiB alone: %s, %s, %s\n", bench::format_seconds(single).c_str(),
                bench::format_rate(kParallelImageBytes, single).c_str(),
                good == 1 ? "exact image" : "FAILED");
    std::filesystem::remove_all(tools.work / "board0");
    good = 0;
    double wall = with_boards(tools, kParallelBoards, kParallelBoards,
                              [&](int i, std::uint16_t port) { good += update(i, port); });
    std::printf(
        "%d updates of 1 MiB at once, one board each: wall %s, aggregate %s, %d of %d "
        "exact\n",
        kParallelBoards, bench::format_seconds(wall).c_str(),
        bench::format_rate(kParallelBoards * double(kParallelImageBytes), wall).c_str(),
        good.load(), kParallelBoards);
    good = 0;
    wall = with_boards(tools, kParallelBoards, kParallelProbes, [&](int, std::uint16_t port) {
        bench::ChildRun run =
            bench::run_measured({tools.tool, "127.0.0.1", std::to_string(port), "version"}, {}, 60);
        good += run.exit_status == 0;
    });
    std::printf("%d version probes at once on %d boards: wall %s, %d of %d succeeded\n",
                kParallelProbes, kParallelBoards, bench::format_seconds(wall).c_str(), good.load(),
                kParallelProbes);
}

// The CPU seconds of every tool the fleet ran, from the transcripts in its record.
double children_cpu_seconds(const std::filesystem::path& logs) {
    double total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(logs)) {
        const std::string text = bench::read_file(entry.path().string());
        for (std::size_t at = text.find("(CPU "); at != std::string::npos;
             at = text.find("(CPU ", at + 1)) {
            total += std::strtod(text.c_str() + at + 5, nullptr);
        }
    }
    return total;
}

// A port of 127.0.0.1 that nothing listens on now.
int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0;
    close(fd);
    return bound ? ntohs(local.sin_port) : 0;
}

// The station page open while a run goes on: in tabs of a browser, opened as soon as the fleet's
// page answers (afterwards each tab tells the time from every event it drew to its tile), and
// read by plain clients that follow the event stream as a browser elsewhere would, without
// drawing it on this machine's cores.
class PageWatch {
  public:
    PageWatch(int tabs, int readers, int port) : tabs_(tabs), port_(port) {
        if (tabs_ > 0) {
            browser_.emplace(1920, 1080);
        }
        if (browser_ && browser_->started()) {
            opener_ = std::thread([this] { open_tabs(); });
        }
        for (int i = 0; i < readers; ++i) {
            readers_.emplace_back([this] { read_events(); });
        }
    }
    ~PageWatch() { join(); }

    // Every tab's event-to-tile times in milliseconds, once the run is over.
    std::vector<double> latencies() {
        join();
        std::vector<double> all;
        for (int tab = 0; browser_ && tab < browser_->tabs(); ++tab) {
            nlohmann::json times = browser_->evaluate("window.tvflashLatencies", tab);
            for (const nlohmann::json& time : times.is_array() ? times : nlohmann::json::array()) {
                all.push_back(time.get<double>());
            }
        }
        return all;
    }

  private:
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    void wait_for_page() {
        httplib::Client client("127.0.0.1", port_);
        for (int tries = 0; tries < 600 && !client.Get("/api/state"); ++tries) {
            bench::pause_ms(20);
        }
    }
    void open_tabs() {
        wait_for_page();
        for (int tab = 0; tab < tabs_ && (tab == 0 || browser_->new_tab() == tab); ++tab) {
            browser_->open(url(), tab);
        }
    }
    // Follows the stream to the run's end; the fleet's going ends it.
    void read_events() {
        wait_for_page();
        httplib::Client client("127.0.0.1", port_);
        client.Get("/api/events", [this](const char*, std::size_t length) {
            bytes_read_ += length;
            return true;
        });
    }
    void join() {
        if (opener_.joinable()) {
            opener_.join();
        }
        for (std::thread& reader : readers_) {
            if (reader.joinable()) {
                reader.join();
            }
        }
    }

  public:
    std::atomic<std::size_t> bytes_read_{0};  // by the readers

  private:
    std::optional<pagetest::Browser> browser_;
    int tabs_;
    int port_;
    std::thread opener_;
    std::vector<std::thread> readers_;
};

struct FleetRun {
    double wall = 0;
    double own_cpu = 0;                // the fleet's own, without its children's
    double seen_cpu = 0;               // its threads', as last seen while it ran
    double children_cpu = 0;           // the tools it ran
    int exact = 0;                     // boards that stored the exact image
    std::vector<double> latencies_ms;  // with the page open: event to tile, every tab's
    double page_threads_cpu = 0;       // the fleet's threads but its main one: the page's server
    std::size_t bytes_read = 0;        // by the page's readers
};

// How the page is open during a run: tabs of a browser, and plain readers of its event stream.
struct PageOpen {
    int tabs = 0;
    int readers = 0;
};

// Runs the recipe on count boards at once, each a simulator on an address of its own, with the
// record options given (a database, the JSON stream); with the page open, the fleet serves it.
FleetRun fleet_on_boards(const Tools& tools, int count, const std::string& recipe,
                         const std::string& image, const std::string& name,
                         const std::vector<std::string>& record, PageOpen open = {}) {
    std::vector<std::pair<bench::Background, std::uint16_t>> sims;
    std::vector<std::string> argv{tools.fleet, "run",
                                  "-j",        std::to_string(count),
                                  "--logs",    (tools.work / name / "logs").string(),
                                  recipe};
    argv.insert(argv.begin() + 2, record.begin(), record.end());
    std::optional<PageWatch> page;
    if (open.tabs + open.readers > 0) {
        const int port = free_port();
        argv.insert(argv.begin() + 2, {"--serve", "127.0.0.1:" + std::to_string(port)});
        page.emplace(open.tabs, open.readers, port);
    }
    for (int i = 0; i < count; ++i) {
        std::string address = "127.0.0." + std::to_string(2 + i);
        auto sim = start_sim(tools, tools.work / name / address, {"--bind", address});
        if (sim) {
            argv.push_back(address + ":" + std::to_string(sim->second));
            sims.push_back(*sim);
        }
    }
    bench::ChildRun run = bench::run_measured(argv, {}, 300, bench::Start::spawn);
    FleetRun figures{
        run.wall_seconds, 0, 0, children_cpu_seconds(tools.work / name / "logs"), 0, {}, 0, 0};
    if (page) {
        figures.latencies_ms = page->latencies();
        figures.page_threads_cpu = run.other_threads_cpu_seconds;
        figures.bytes_read = page->bytes_read_;
    }
    // wait4 counts the children the fleet reaped into its own figure; what a tool spends after
    // it has reported its CPU (its exit) stays in the fleet's share. The fleet's threads, read
    // from /proc while it runs, leave its children out but miss its last few milliseconds: the
    // two figures bound the fleet's own CPU from above and from below.
    figures.own_cpu = run.cpu_seconds - figures.children_cpu;
    figures.seen_cpu = run.threads_cpu_seconds;
    for (auto& sim : sims) {
        bench::stop_background(sim.first);
    }
    for (int i = 0; i < count; ++i) {
        std::filesystem::path stored =
            tools.work / name / ("127.0.0." + std::to_string(2 + i)) / "update-1.bin";
        figures.exact += bench::read_file(stored.string()) == image;
    }
    return figures;
}

// The wall time of a scan of 127.0.0.0/24 with a few boards answering.
double scan_seconds(const Tools& tools, int& answered) {
    std::vector<std::pair<bench::Background, std::uint16_t>> sims;
    std::string port = "0";
    for (int i = 0; i < 4; ++i) {
        std::string address = "127.0.0." + std::to_string(100 + i);
        if (auto sim = start_sim(tools, tools.work / "scan" / address, {"--bind", address}, port)) {
            port = std::to_string(sim->second);
            sims.push_back(*sim);
        }
    }
    bench::ChildRun run = bench::run_measured({tools.fleet, "scan", "127.0.0.0/24", port}, {}, 60,
                                              bench::Start::spawn);
    answered = static_cast<int>(std::count(run.output.begin(), run.output.end(), '\n')) - 1;
    for (auto& sim : sims) {
        bench::stop_background(sim.first);
    }
    return run.wall_seconds;
}

// 1000 targets at -j 256 with the common soft limit of 1024 open files (and a hard limit no
// higher, so the fleet cannot raise it), against a fake tool that answers like getconfig in a
// fifth of a second: every board must pass and every transcript be there.
void many_targets(const Tools& tools) {
    constexpr int kTargets = 1000;
    const std::filesystem::path folder = tools.work / "many";
    std::filesystem::create_directories(folder);
    const std::string tool =
        write_file(folder / "fake-tvflash",
                   "#!/bin/sh\nsleep 0.2\necho 'Total size of flash memory 16M bytes.'\n");
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    std::vector<std::string> argv{"prlimit",
                                  "--nofile=1024:1024",
                                  "--",
                                  tools.fleet,
                                  "run",
                                  "-j",
                                  "256",
                                  "--tool",
                                  tool,
                                  "--logs",
                                  (folder / "logs").string(),
                                  "--db",
                                  (folder / "records.db").string(),
                                  "-e",
                                  "getconfig"};
    for (int port = 1; port <= kTargets; ++port) {
        argv.push_back("127.0.0.1:" + std::to_string(port));
    }
    bench::ChildRun run = bench::run_measured(argv, {}, 600, bench::Start::spawn);
    std::size_t transcripts = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "logs")) {
        transcripts += entry.path().extension() == ".txt";
    }
    const bool all_passed =
        run.output.find("1000 boards: 1000 passed, 0 failed.") != std::string::npos;
    std::printf(
        "%d targets at -j 256, open files limited to 1024: wall %s, status %d, %s, %zu "
        "transcripts\n",
        kTargets, bench::format_seconds(run.wall_seconds).c_str(), run.exit_status,
        all_passed ? "all passed" : "NOT all passed", transcripts);
}

// "median 12 ms, 95th percentile 30 ms, most 41 ms (812 events)".
std::string latency_text(std::vector<double> times) {
    if (times.empty()) {
        return "none measured (is chromium installed?)";
    }
    std::sort(times.begin(), times.end());
    auto at = [&](double share) {
        return times[std::min(times.size() - 1, static_cast<std::size_t>(share * times.size()))];
    };
    char text[128];
    std::snprintf(text, sizeof text,
                  "median %.0f ms, 95th percentile %.0f ms, most %.0f ms (%zu events)", at(0.5),
                  at(0.95), times.back(), times.size());
    return text;
}

// The boards again with the station page open: 8 and 64 boards with it open in one tab of a
// browser, which measures the time from an event to its tile; 64 followed by 20 readers, as by 20
// browsers elsewhere; and 64 with it open in 20 tabs of a browser on this machine.
void page_figures(const Tools& tools, const std::string& recipe, const std::string& image,
                  const FleetRun& one) {
    const struct {
        int boards;
        PageOpen open;
        const char* how;
    } rows[] = {
        {8, {1, 0}, "in a browser"},
        {64, {1, 0}, "in a browser"},
        {64, {0, 20}, "followed by 20 readers"},
        {64, {20, 0}, "in 20 tabs of a browser on this machine"},
    };
    int serial = 0;
    for (const auto& row : rows) {
        FleetRun served =
            fleet_on_boards(tools, row.boards, recipe, image, "page" + std::to_string(++serial),
                            {"--db", "none"}, row.open);
        std::printf(
            "%d boards with the page %s: wall %s (%s of one alone), %d of %d exact, the "
            "fleet's CPU %s against its tools' %s (%.1f%%; its threads as last seen %s, "
            "%.1f%%), of which its page's server threads %s\n",
            row.boards, row.how, bench::format_seconds(served.wall).c_str(),
            bench::format_ratio(served.wall, one.wall).c_str(), served.exact, row.boards,
            bench::format_seconds(served.own_cpu).c_str(),
            bench::format_seconds(served.children_cpu).c_str(),
            100 * served.own_cpu / served.children_cpu,
            bench::format_seconds(served.seen_cpu).c_str(),
            100 * served.seen_cpu / served.children_cpu,
            bench::format_seconds(served.page_threads_cpu).c_str());
        if (row.open.tabs > 0) {
            std::printf("  event to tile in the browser: %s\n",
                        latency_text(served.latencies_ms).c_str());
        }
        if (row.open.readers > 0) {
            std::printf("  the readers read %zu KiB of events\n", served.bytes_read / 1024);
        }
    }
}

struct Commits {
    std::vector<double> seconds;  // each board's commit, wall
    double cpu_seconds = 0;       // all of them, this process's CPU
    std::size_t bytes = 0;        // the rows' text
};

// Each board's rows committed as the fleet commits them when the board ends (one transaction, on
// the disk before it returns): the rows of the database at from, added again a board at a time
// to a new database at to, in the same folder.
Commits commit_figures(const std::string& from, const std::string& to) {
    using fleet::RecordDatabase;
    std::string error;
    auto source = RecordDatabase::open(from, RecordDatabase::Access::read, error);
    auto target = source ? RecordDatabase::open(to, RecordDatabase::Access::write, error) : nullptr;
    fleet::RowQuery all;
    all.transcripts = true;
    auto rows = target ? source->rows(all) : std::nullopt;
    if (!rows) {
        std::printf("cannot time the commits: %s\n",
                    error.empty() ? source->error().c_str() : error.c_str());
        return {};
    }
    Commits commits;
    std::map<std::string, std::vector<fleet::RecordRow>> boards;
    for (const fleet::StoredRow& stored : *rows) {
        boards[stored.row.target].push_back(stored.row);
        commits.bytes += stored.row.transcript.size() + stored.row.verdict.size() + 200;
    }
    const std::clock_t cpu_start = std::clock();
    for (const auto& [board, board_rows] : boards) {
        auto start = std::chrono::steady_clock::now();
        if (!target->add(board_rows, "2026-12-09T12:00:00.000Z")) {
            std::printf("commit failed: %s\n", target->error().c_str());
            return {};
        }
        commits.seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    commits.cpu_seconds = double(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    return commits;
}

void print_fleet_cpu(const char* what, const FleetRun& run, int boards) {
    std::printf(
        "CPU with %d boards, %s: the fleet itself %s, its %d tools %s (%.1f%%; its "
        "threads as last seen while it ran %s, %.1f%%)\n",
        boards, what, bench::format_seconds(run.own_cpu).c_str(), 2 * boards,
        bench::format_seconds(run.children_cpu).c_str(), 100 * run.own_cpu / run.children_cpu,
        bench::format_seconds(run.seen_cpu).c_str(), 100 * run.seen_cpu / run.children_cpu);
}

void fleet_figures(const Tools& tools) {
    constexpr int kFleetBoards = 64;
    const std::string image = bench::firmware_image(kParallelImageBytes, 64);
    write_file(tools.work / "fleet-image.bin", image);
    const std::string recipe =
        write_file(tools.work / "recipe.txt", "updatesys fleet-image.bin\ngetconfig\n");
    const std::vector<std::string> no_record{"--db", "none"};
    const std::string db = (tools.work / "fleet64r" / "records.db").string();
    FleetRun one = fleet_on_boards(tools, 1, recipe, image, "fleet1", no_record);
    FleetRun many = fleet_on_boards(tools, kFleetBoards, recipe, image, "fleet64", no_record);
    FleetRun recorded =
        fleet_on_boards(tools, kFleetBoards, recipe, image, "fleet64r", {"--db", db, "--json"});
    std::printf("\ntvflash-fleet, updatesys of 1 MiB then getconfig on each board:\n");
    std::printf("one board alone: wall %s, %d of 1 exact\n",
                bench::format_seconds(one.wall).c_str(), one.exact);
    std::printf("%d boards at once: wall %s (%s of one alone), aggregate %s, %d of %d exact\n",
                kFleetBoards, bench::format_seconds(many.wall).c_str(),
                bench::format_ratio(many.wall, one.wall).c_str(),
                bench::format_rate(kFleetBoards * double(kParallelImageBytes), many.wall).c_str(),
                many.exact, kFleetBoards);
    print_fleet_cpu("no record database", many, kFleetBoards);
    print_fleet_cpu("the record database and --json", recorded, kFleetBoards);
    std::printf("%d boards at once with the record database and --json: wall %s, %d of %d exact\n",
                kFleetBoards, bench::format_seconds(recorded.wall).c_str(), recorded.exact,
                kFleetBoards);
    Commits commits = commit_figures(db, (tools.work / "fleet64r" / "again.db").string());
    if (!commits.seconds.empty()) {
        const double boards = double(commits.seconds.size());
        std::printf(
            "commit of a board's rows (%zu boards, %.1f KiB a board): median %s, longest %s, "
            "CPU %s a board\n",
            commits.seconds.size(), commits.bytes / 1024.0 / boards,
            bench::format_milliseconds(bench::median(commits.seconds)).c_str(),
            bench::format_milliseconds(
                *std::max_element(commits.seconds.begin(), commits.seconds.end()))
                .c_str(),
            bench::format_milliseconds(commits.cpu_seconds / boards).c_str());
    }
    page_figures(tools, recipe, image, one);
    int answered = 0;
    double scan = scan_seconds(tools, answered);
    std::printf("scan of 127.0.0.0/24 (254 addresses, %d answering): wall %s\n", answered,
                bench::format_seconds(scan).c_str());
    many_targets(tools);
}

std::string load_average() {
    std::string text = bench::read_file("/proc/loadavg");
    return text.empty() ? "unknown" : text.substr(0, text.find(' ', text.find(' ') + 1));
}

}  // namespace

int main(int argc, char** argv) {
    Tools tools;
    bool fleet_only = false;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--fleet-only") {
            fleet_only = true;
        } else if (option == "--tool" && i + 1 < argc) {
            tools.tool = argv[++i];
        } else if (option == "--sim" && i + 1 < argc) {
            tools.sim = argv[++i];
        } else if (option == "--fleet" && i + 1 < argc) {
            tools.fleet = argv[++i];
        }
    }
    if (tools.tool.empty() || tools.sim.empty()) {
        std::fprintf(stderr,
                     "usage: tvflash_faults [--tool PATH] [--sim PATH] [--fleet PATH] "
                     "[--fleet-only]\n");
        return 2;
    }
    tools.work =
        std::filesystem::temp_directory_path() / ("tvflash_faults_" + std::to_string(getpid()));
    std::filesystem::create_directories(tools.work);
    std::printf("load average before: %s on %u cores\n", load_average().c_str(),
                std::thread::hardware_concurrency());
    if (!fleet_only) {
        survival_table(tools);
        many_boards(tools);
    }
    fleet_figures(tools);
    std::printf("load average after: %s\n", load_average().c_str());
    std::filesystem::remove_all(tools.work);
    return 0;
}
