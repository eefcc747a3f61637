#include "fleet_main.h"

#include <chrono>
#include <cstdio>

#include "os/files.h"
#include "os/host.h"
#include "os/terminal.h"
#include "page/page_server.h"
#include "process/subprocess.h"
#include "record/record_db.h"
#include "record/share.h"
#include "records.h"
#include "report/console.h"
#include "report/database_writer.h"
#include "report/event_json.h"
#include "report/share_copier.h"
#include "report/summary.h"
#include "report/transcripts.h"
#include "run/scheduler.h"
#include "scan.h"
#include "text.h"

namespace fleet {
namespace {

constexpr const char* kNoShareHere =
    "--share: this build of tvflash-fleet has no shared database (see docs/windows.md)";

int usage_error(const std::string& message) {
    std::fprintf(stderr, "tvflash-fleet: %s\n%s", message.c_str(), short_usage().c_str());
    return 2;
}

int fleet_error(const std::string& message, int status) {
    std::fprintf(stderr, "tvflash-fleet: %s\n", message.c_str());
    return status;
}

// What check found: the steps with their images, and the targets.
void print_checked(const Plan& plan) {
    std::printf("%zu %s:\n", plan.steps.size(), plan.steps.size() == 1 ? "step" : "steps");
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        const Step& step = plan.steps[i];
        std::string size =
            step.file.empty() ? "" : " (" + std::to_string(step.image_size) + " bytes)";
        std::printf("  %zu  %s%s\n", i + 1, one_line(step.text()).c_str(), size.c_str());
    }
    std::printf("%zu %s\n", plan.targets.size(), plan.targets.size() == 1 ? "target" : "targets");
    std::printf("Tool: %s\nNo problem found; nothing was sent.\n", one_line(plan.tool).c_str());
}

// The version the tool tells in its banner, read by running it without arguments; empty when it
// tells none within a few seconds. The banner is its first line: a tool (a wrapper, say) that is
// still running once that line came, or the time is up, is ended, and it ends with the fleet too.
std::string tool_version(const std::string& tool) {
    subprocess::ProcessSet set;
    subprocess::Command command;
    command.argv = {tool};
    command.err = subprocess::Sink::to_output;
    command.own_group = true;
    command.end_with_parent = true;
    std::string error;
    std::unique_ptr<subprocess::Process> child = set.start(command, error);
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (child && !child->done() && output.find('\n') == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        set.wait(std::chrono::milliseconds(100));
        for (subprocess::Chunk& chunk : child->take_output()) {
            output += chunk.bytes;
        }
    }
    return tool_version_from_banner(output);
}

RunContext run_context(const Options& options, const Plan& plan) {
    RunContext context;
    context.run = new_run_id();
    context.station = options.station.empty() ? host::host_name() : options.station;
    context.operator_name =
        options.operator_name.empty() ? host::login_name() : options.operator_name;
    const bool recorded = options.json || options.database != kNoDatabase;
    context.tool_version = recorded ? tool_version(plan.tool) : "";
    context.start = std::chrono::system_clock::now();
    return context;
}

void print_page_url(std::FILE* out, const ServeAddress& at) {
    std::fprintf(out, "Page: %s\n", page_url(at, host::host_name()).c_str());
    std::fflush(out);
}

// serve: the record pages of a database, until an interrupt.
int serve_records(const Options& options) {
    std::string error;
    if (!RecordDatabase::open(options.database, RecordDatabase::Access::read, error)) {
        return fleet_error("cannot read the record database: " + error, 2);
    }
    subprocess::ProcessSet interrupts;
    interrupts.catch_interrupts();
    RecordPages records(options.database);
    PageServer server;
    ServeAddress at = *options.serve;
    if (!server.listen(at, error) || !server.start(nullptr, records, error)) {
        return fleet_error(error, 2);
    }
    at.port = server.port();
    print_page_url(stdout, at);
    std::printf("Serving the record of %s; Ctrl-C stops.\n", options.database.c_str());
    std::fflush(stdout);
    while (interrupts.interrupts() == 0 && !server.failed()) {
        interrupts.pause(std::chrono::milliseconds(500));
    }
    server.stop();
    return server.failed() ? fleet_error("the page's server stopped", 1) : 0;
}

RunShape run_shape(const Options& options) {
    return {options.watch, options.jobs, options.retries, options.gone_seconds};
}

// The run's outputs: the transcripts, summary.csv and the record database first, so that a
// board's record is written before the console (or the JSON stream) tells it is done.
struct Outputs {
    Outputs(const Plan& plan, const Options& options, const std::string& dir)
        : plan(plan),
          context(run_context(options, plan)),
          problems([this](const std::string& line) { record_problem(line); }),
          share_problems([this](const std::string& line) { record_problem(line); }),
          summary(plan, problems, options.watch),
          transcripts(plan, folder, problems, options.watch),
          records(options.database == kNoDatabase ? "" : options.database) {
        fanout.add(transcripts);
        fanout.add(summary);
        fanout.add(database_outputs);
        if (options.json) {
            json.emplace(plan, context, run_shape(options));
            fanout.add(*json);
        } else {
            console.emplace(plan, options.watch, terminal::output_redraws(), dir);
            fanout.add(*console);
        }
    }

    // The record database, and the copier to the shared one when there is one; a database that
    // cannot be opened is a problem of the record, and the run goes on without it.
    void open_database(const Plan& plan, const Options& options) {
        if (options.database == kNoDatabase) {
            return;
        }
        database.emplace(plan, context, problems);
        database_outputs.add(*database);
        if (database->open(options.database) && !options.share.empty()) {
            copier.emplace(options.database, options.share, share_problems);
            database_outputs.add(*copier);
        }
    }

    // Every problem of the record has been reported once it returns.
    bool record_complete() {
        if (copier) {
            copier->finish();
        }
        return !problems.any() && !share_problems.any();
    }

    void record_problem(const std::string& line) {
        if (console) {
            console->error_line("tvflash-fleet: " + line);
            console->record_incomplete();
        } else {
            std::fprintf(stderr, "tvflash-fleet: %s\n", line.c_str());
        }
    }

    // --serve: the page's address bound and served from now on, its URL printed; false with the
    // reason when it cannot be.
    bool serve(const Options& options, std::string& error) {
        if (!options.serve) {
            return true;
        }
        page.emplace(plan, context, run_shape(options));
        ServeAddress at = *options.serve;
        if (!server.listen(at, error) || !server.start(&*page, records, error)) {
            return false;
        }
        fanout.add(*page);
        at.port = server.port();
        print_page_url(options.json ? stderr : stdout, at);
        return true;
    }

    const Plan& plan;
    RunContext context;
    RecordFolder folder;
    RecordProblems problems;
    RecordProblems share_problems;  // the shared database's, said once of their own
    SummaryWriter summary;
    TranscriptWriter transcripts;
    std::optional<ConsoleReport> console;
    std::optional<JsonStream> json;
    std::optional<DatabaseWriter> database;
    std::optional<ShareCopier> copier;
    EventFanout database_outputs;
    std::optional<LivePage> page;
    RecordPages records;
    PageServer server;  // after the pages, so that it ends first
    EventFanout fanout;
};

int run_plan(const Options& options, const Plan& plan) {
    std::string error;
    if (!enough_open_files(options.jobs, options.serve.has_value(), error)) {
        return fleet_error(error, 2);
    }
    std::string dir = options.logs_dir.empty() ? default_logs_dir(std::chrono::system_clock::now())
                                               : options.logs_dir;
    Outputs outputs(plan, options, dir);
    if (!outputs.serve(options, error)) {
        return fleet_error(error, 2);
    }
    if (!outputs.folder.create(dir, error) || !outputs.summary.open(outputs.folder, error)) {
        return fleet_error(error, 2);
    }
    files::keep_running_past_file_limits();
    outputs.open_database(plan, options);
    if (options.answer_given && terminal::questions_in_windows()) {
        std::fprintf(options.json ? stderr : stdout,
                     "Note: --answer has no effect here: tvflash asks the bootloader question in "
                     "a message box.\n");
    }
    RunSettings settings{options.jobs,
                         options.watch,
                         options.gone_seconds,
                         {plan.tool, options.answer_yes, options.retries}};
    Scheduler scheduler(plan, settings, outputs.fanout);
    if (!scheduler.open(error)) {
        return fleet_error(error, 1);
    }
    Event finished;
    finished.kind = EventKind::run_finished;
    finished.totals = scheduler.run();
    outputs.summary.close();
    finished.exit_status = exit_status(finished.totals, options.watch, outputs.record_complete());
    finished.at = Clock::now();
    finished.wall = std::chrono::system_clock::now();
    outputs.fanout.on_event(finished);
    if (outputs.server.failed()) {
        std::fprintf(stderr,
                     "tvflash-fleet: the page's server stopped during the run; the "
                     "boards were flashed all the same\n");
    }
    return finished.exit_status;
}

}  // namespace

std::size_t open_files_needed(int jobs, bool serving) {
    return kOpenFilesKept + static_cast<std::size_t>(jobs) * kOpenFilesPerBoard +
           (serving ? kOpenFilesServing : 0);
}

bool enough_open_files(int jobs, bool serving, std::string& error) {
    std::optional<std::uint64_t> limit = subprocess::raise_open_file_limit();
    const std::size_t needed = open_files_needed(jobs, serving);
    if (!limit || *limit >= needed) {
        return true;
    }
    error = "-j " + std::to_string(jobs) + " needs " + std::to_string(needed) +
            " open files, but this process may open only " + std::to_string(*limit) +
            " (raise the limit with ulimit -n, or run fewer boards at once)";
    return false;
}

int exit_status(const RunTotals& totals, bool station, bool record_complete) {
    bool failed = station ? totals.failed > 0 : totals.passed < totals.boards;
    if (failed) {
        return 1;
    }
    return record_complete ? 0 : 3;
}

int fleet_main(const std::vector<std::string>& args) {
    ParsedOptions parsed = parse_options(args);
    if (!parsed.error.empty()) {
        return usage_error(parsed.error);
    }
    const Options& options = parsed.options;
    switch (options.mode) {
        case Mode::help:
            std::printf("%s", help_text().c_str());
            return 0;
        case Mode::version:
            std::printf("tvflash-fleet %s\n", TVFLASH_VERSION);
            return 0;
        case Mode::scan:
            return run_scan(options);
        case Mode::serve:
            return serve_records(options);
        case Mode::records:
            if (options.push && !share_built()) {
                return usage_error(kNoShareHere);
            }
            return run_records(options);
        default:
            break;
    }
    if (!options.share.empty() && !share_built()) {
        return usage_error(kNoShareHere);
    }
    Plan plan = make_plan(options);
    for (const std::string& error : plan.errors) {
        std::fprintf(stderr, "tvflash-fleet: %s\n", error.c_str());
    }
    if (!plan.errors.empty()) {
        return 2;
    }
    if (options.mode == Mode::check) {
        print_checked(plan);
        return 0;
    }
    return run_plan(options, plan);
}

}  // namespace fleet
