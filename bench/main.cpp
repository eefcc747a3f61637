// tvflash_bench: the upload benchmark. Uploads images with `tvflash updatesys` to a fresh
// tvflash-sim on loopback and measures the same upload by the benchmark's minimal client beside
// it; then, beside the same client, the tool's CPU time while it waits for a board that never
// answers and its time from a board's last reply to its exit. Prints tables; judges nothing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench_core.h"
#include "bound_client.h"
#include "idle_exit.h"
#include "process.h"

namespace {

using bench::ChildRun;

constexpr double kRunTimeoutSeconds = 600;
constexpr double kSimStartSeconds = 5;
constexpr double kMiB = 1024.0 * 1024.0;

struct Settings {
    std::string tool = TVFLASH_BENCH_TOOL;
    std::string sim = TVFLASH_BENCH_SIM;
    std::string self;
    std::vector<int> sizes_mib = {1, 16, 64};
    int runs = 0;  // 0: 5 runs, 3 for images of 64 MiB and more
    bool uploads = true;
    bool idle_exit = true;
};

// The figures of one uploader (the tool or the minimal client): samples, then their medians.
struct Figures {
    std::vector<double> wall, block, cpu, rss_kib;

    void add(const ChildRun& run, double block_seconds) {
        wall.push_back(run.wall_seconds);
        block.push_back(block_seconds);
        cpu.push_back(run.cpu_seconds);
        rss_kib.push_back(run.peak_rss_kib);
    }
};

struct Medians {
    double wall = 0, block = 0, cpu = 0, rss_kib = 0;

    explicit Medians(const Figures& f)
        : wall(bench::median(f.wall)),
          block(bench::median(f.block)),
          cpu(bench::median(f.cpu)),
          rss_kib(bench::median(f.rss_kib)) {}
};

struct SizeResult {
    int size_mib = 0;
    int runs = 0;
    int failed = 0;
    Figures tool;
    Figures bound;
};

void print_help() {
    std::printf(
        "Usage: tvflash_bench [--tool PATH] [--sim PATH] [--sizes MIB,MIB,...] [--runs N]\n"
        "                     [--no-uploads] [--no-silent-wait]\n"
        "Uploads images of the given sizes (default 1,16,64 MiB) with `tvflash updatesys` to a\n"
        "fresh tvflash-sim on 127.0.0.1 and with the benchmark's minimal client, N runs each\n"
        "(default 5, 3 for 64 MiB and more), and prints the medians (--no-uploads skips them).\n"
        "Then, beside the minimal client, the CPU time of a 20-second wait for a board that never\n"
        "answers (5 runs) and the time from a board's last reply to the exit (20 runs of\n"
        "erasesys); --no-silent-wait skips these.\n");
}

std::optional<std::vector<int>> parse_sizes(const std::string& text) {
    std::vector<int> sizes;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
        char* end = nullptr;
        long size = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || size < 1 || size > 1024) {
            return std::nullopt;
        }
        sizes.push_back(static_cast<int>(size));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return sizes;
}

// Reads the options; a refusal prints its reason and gives nullopt.
std::optional<Settings> parse_settings(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == "--tool" && has_value) {
            settings.tool = argv[++i];
        } else if (arg == "--sim" && has_value) {
            settings.sim = argv[++i];
        } else if (arg == "--sizes" && has_value) {
            std::optional<std::vector<int>> sizes = parse_sizes(argv[++i]);
            if (!sizes) {
                std::fprintf(stderr, "tvflash_bench: bad --sizes '%s'\n", argv[i]);
                return std::nullopt;
            }
            settings.sizes_mib = *sizes;
        } else if (arg == "--runs" && has_value) {
            settings.runs = std::atoi(argv[++i]);
            if (settings.runs < 1 || settings.runs > 100) {
                std::fprintf(stderr, "tvflash_bench: --runs takes 1 to 100\n");
                return std::nullopt;
            }
        } else if (arg == "--no-silent-wait") {
            settings.idle_exit = false;
        } else if (arg == "--no-uploads") {
            settings.uploads = false;
        } else {
            std::fprintf(stderr, "tvflash_bench: unknown option '%s' (see --help)\n", arg.c_str());
            return std::nullopt;
        }
    }
    return settings;
}

// The path this program runs from, so that the minimal client can run as a child of its own.
std::string own_path(const char* argv0) {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        return std::string(path, static_cast<std::size_t>(length));
    }
    return argv0;
}

bool write_image(const std::string& path, int size_mib) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bench::ImageBytes bytes(static_cast<std::uint64_t>(size_mib));
    unsigned char chunk[64 * 1024];
    bool ok = true;
    for (long left = static_cast<long>(size_mib) * 1024 * 1024; ok && left > 0;) {
        std::size_t length =
            left < static_cast<long>(sizeof chunk) ? static_cast<std::size_t>(left) : sizeof chunk;
        bytes.fill(chunk, length);
        ok = std::fwrite(chunk, 1, length, file) == length;
        left -= static_cast<long>(length);
    }
    return std::fclose(file) == 0 && ok;
}

// The smallest simulated flash whose system area takes the largest image.
int flash_mib_for(const std::vector<int>& sizes_mib) {
    int largest = 0;
    for (int size : sizes_mib) {
        largest = size > largest ? size : largest;
    }
    int flash = 16;
    while (flash < largest + 16) {
        flash *= 2;
    }
    return flash;
}

struct Simulator {
    bench::Background program;
    std::uint16_t port = 0;
};

std::optional<Simulator> start_simulator(const Settings& settings, const std::string& work_dir,
                                         int flash_mib) {
    std::optional<bench::Background> program = bench::start_background(
        {settings.sim, "--port", "0", "--flash-size", std::to_string(flash_mib)},
        work_dir + "/sim.out");
    if (!program) {
        return std::nullopt;
    }
    std::optional<std::uint16_t> port = bench::wait_for_output(
        *program, kSimStartSeconds,
        [](const std::string& output) { return bench::listening_port(output); });
    if (!port) {
        bench::stop_background(*program);
        return std::nullopt;
    }
    return Simulator{*program, *port};
}

bool upload_succeeded(const ChildRun& run, bool by_tool) {
    if (run.timed_out || run.exit_status != 0) {
        return false;
    }
    return !by_tool || run.output.find("Flash memory update successful.") != std::string::npos;
}

void report_failure(const ChildRun& run, bool by_tool, const std::string& image) {
    std::string tail =
        run.output.size() > 300 ? run.output.substr(run.output.size() - 300) : run.output;
    std::fprintf(stderr, "tvflash_bench: %s upload of %s failed (status %d%s): ...%s\n",
                 by_tool ? "tool" : "client", image.c_str(), run.exit_status,
                 run.timed_out ? ", timed out" : "", tail.c_str());
}

// One upload with a fresh simulator, by the tool or by the minimal client; nullopt when it failed.
std::optional<ChildRun> measured_upload(const Settings& settings, const std::string& work_dir,
                                        int flash_mib, const std::string& image, bool by_tool) {
    std::optional<Simulator> sim = start_simulator(settings, work_dir, flash_mib);
    if (!sim) {
        std::fprintf(stderr, "tvflash_bench: tvflash-sim did not start (%s)\n",
                     settings.sim.c_str());
        return std::nullopt;
    }
    std::string port = std::to_string(sim->port);
    ChildRun run = by_tool
                       ? bench::run_measured({settings.tool, "127.0.0.1", port, "updatesys", image},
                                             {"Uploading", "Total of"}, kRunTimeoutSeconds)
                       : bench::run_measured({settings.self, "--bound-client", port, image}, {},
                                             kRunTimeoutSeconds);
    bench::stop_background(sim->program);
    if (!upload_succeeded(run, by_tool)) {
        report_failure(run, by_tool, image);
        return std::nullopt;
    }
    return run;
}

// The block phase: from "Uploading" to the total line for the tool, as the client reports it
// for itself; negative when unknown.
double block_seconds_of(const ChildRun& run, bool by_tool) {
    if (by_tool) {
        bool both = run.marker_seconds[0] >= 0 && run.marker_seconds[1] >= 0;
        return both ? run.marker_seconds[1] - run.marker_seconds[0] : -1;
    }
    double seconds = -1;
    std::size_t at = run.output.find("block_seconds ");
    if (at != std::string::npos) {
        seconds = std::atof(run.output.c_str() + at + 14);
    }
    return seconds;
}

SizeResult measure_size(const Settings& settings, const std::string& work_dir, int flash_mib,
                        int size_mib) {
    SizeResult result;
    result.size_mib = size_mib;
    result.runs = settings.runs > 0 ? settings.runs : (size_mib >= 64 ? 3 : 5);
    std::string image = work_dir + "/image-" + std::to_string(size_mib) + "mib.bin";
    if (!write_image(image, size_mib)) {
        std::fprintf(stderr, "tvflash_bench: cannot write %s\n", image.c_str());
        result.failed = result.runs;
        return result;
    }
    for (int run_index = 0; run_index < result.runs; ++run_index) {
        std::fprintf(stderr, "%d MiB: run %d of %d\n", size_mib, run_index + 1, result.runs);
        // Tool and client alternate, so that a drift of the machine touches both alike.
        std::optional<ChildRun> tool = measured_upload(settings, work_dir, flash_mib, image, true);
        std::optional<ChildRun> bound =
            tool ? measured_upload(settings, work_dir, flash_mib, image, false) : std::nullopt;
        if (!tool || !bound) {
            ++result.failed;
            continue;
        }
        result.tool.add(*tool, block_seconds_of(*tool, true));
        result.bound.add(*bound, block_seconds_of(*bound, false));
    }
    std::remove(image.c_str());
    return result;
}

void print_row(const std::vector<std::string>& cells) {
    std::string row = "|";
    for (const std::string& cell : cells) {
        row += " " + cell + " |";
    }
    std::printf("%s\n", row.c_str());
}

void print_table(const std::vector<SizeResult>& results) {
    const std::vector<std::string> heading = {"Image",
                                              "Runs",
                                              "Wall: tool",
                                              "Wall: bound",
                                              "Wall ratio",
                                              "Block rate: tool",
                                              "Block rate: bound",
                                              "Block time ratio",
                                              "CPU: tool",
                                              "CPU: bound",
                                              "CPU ratio",
                                              "Peak RSS: tool",
                                              "Peak RSS: bound"};
    std::printf("\n");
    print_row(heading);
    print_row(std::vector<std::string>(heading.size(), "---"));
    for (const SizeResult& r : results) {
        std::string image = std::to_string(r.size_mib) + " MiB";
        int good = r.runs - r.failed;
        if (good == 0) {
            std::vector<std::string> cells(heading.size(), "");
            cells[0] = image;
            cells[1] = "0 of " + std::to_string(r.runs);
            cells[2] = "failed";
            print_row(cells);
            continue;
        }
        double bytes = r.size_mib * kMiB;
        Medians tool(r.tool);
        Medians bound(r.bound);
        print_row({image, std::to_string(good), bench::format_seconds(tool.wall),
                   bench::format_seconds(bound.wall), bench::format_ratio(tool.wall, bound.wall),
                   bench::format_rate(bytes, tool.block), bench::format_rate(bytes, bound.block),
                   bench::format_ratio(tool.block, bound.block), bench::format_seconds(tool.cpu),
                   bench::format_seconds(bound.cpu), bench::format_ratio(tool.cpu, bound.cpu),
                   bench::format_kib_as_mib(tool.rss_kib),
                   bench::format_kib_as_mib(bound.rss_kib)});
    }
}

// The one-minute load average of the machine, which other programs' work raises; -1 if unknown.
double load_average() {
    double load[1];
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

int run_benchmark(const Settings& settings) {
    if (access(settings.tool.c_str(), X_OK) != 0 || access(settings.sim.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "tvflash_bench: need the tool and the simulator (--tool, --sim)\n");
        return 2;
    }
    char work_template[] = "/tmp/tvflash-bench.XXXXXX";
    char* work_dir = mkdtemp(work_template);
    if (work_dir == nullptr) {
        std::fprintf(stderr, "tvflash_bench: cannot make a work folder in /tmp\n");
        return 2;
    }
    int flash_mib = flash_mib_for(settings.sizes_mib);
    double load_before = load_average();
    std::vector<SizeResult> results;
    for (int size : settings.uploads ? settings.sizes_mib : std::vector<int>{}) {
        results.push_back(measure_size(settings, work_dir, flash_mib, size));
    }
    std::remove((std::string(work_dir) + "/sim.out").c_str());
    rmdir(work_dir);
    if (settings.uploads) {
        std::printf(
            "Upload of `tvflash updatesys` to tvflash-sim on 127.0.0.1 (simulated flash of "
            "%d MiB); bound: the minimal client doing the same wire work. Medians.\n",
            flash_mib);
        print_table(results);
    }
    std::printf("\nLoad average of the machine: %.2f before, %.2f after (%ld cores).\n",
                load_before, load_average(), sysconf(_SC_NPROCESSORS_ONLN));
    if (settings.idle_exit) {
        bench::measure_idle_and_exit({settings.tool, settings.self});
        std::printf("\nLoad average of the machine at the end: %.2f.\n", load_average());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--bound-client") {
        return bench::run_bound_client(static_cast<std::uint16_t>(std::atoi(argv[2])), argv[3]);
    }
    if (argc == 3 && std::string(argv[1]) == "--bound-probe") {
        return bench::run_bound_probe(static_cast<std::uint16_t>(std::atoi(argv[2])));
    }
    if (argc == 3 && std::string(argv[1]) == "--bound-erase") {
        return bench::run_bound_erase(static_cast<std::uint16_t>(std::atoi(argv[2])));
    }
    if (argc == 2 && std::string(argv[1]) == "--bare-sleeps") {
        return bench::run_bare_sleeps();
    }
    if (argc == 2 && std::string(argv[1]) == "--help") {
        print_help();
        return 0;
    }
    std::optional<Settings> settings = parse_settings(argc, argv);
    if (!settings) {
        return 2;
    }
    settings->self = own_path(argv[0]);
    return run_benchmark(*settings);
}
