#include "plan/options.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "plan/targets.h"

namespace fleet {
namespace {

struct Reader {
    const std::vector<std::string>& args;
    std::size_t next = 1;  // args[0] is the mode
    std::vector<std::string> positionals;
    std::string error;
    std::vector<std::string> given;  // the options' names, as read
};

std::optional<Mode> mode_of(std::string_view word) {
    if (word == "run") {
        return Mode::run;
    }
    if (word == "check") {
        return Mode::check;
    }
    if (word == "scan") {
        return Mode::scan;
    }
    if (word == "records") {
        return Mode::records;
    }
    if (word == "serve") {
        return Mode::serve;
    }
    if (word == "help" || word == "--help" || word == "-h") {
        return Mode::help;
    }
    if (word == "--version") {
        return Mode::version;
    }
    return std::nullopt;
}

std::optional<double> parse_seconds(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || value < kLeastGoneSeconds || value > 86400) {
        return std::nullopt;
    }
    return value;
}

// An option's value: after "=", glued to a short option, or the next argument.
std::optional<std::string> take_value(Reader& reader, std::string_view name,
                                      std::string_view inline_value, bool has_inline) {
    if (has_inline) {
        return std::string(inline_value);
    }
    if (reader.next >= reader.args.size()) {
        reader.error = std::string(name) + " needs a value";
        return std::nullopt;
    }
    return reader.args[reader.next++];
}

// The record's options, of run and of records.
bool takes_record_value(std::string_view name) {
    return name == "--db" || name == "--share" || name == "--since" || name == "--target" ||
           name == "--format";
}

void set_record_option(Options& options, std::string_view name, const std::string& value,
                       std::string& error) {
    if (name == "--db") {
        options.database = value;
        error = value.empty() ? "--db takes a file, or none" : "";
    } else if (name == "--share") {
        options.share = value;
        error = value.starts_with("postgresql://") || value.starts_with("postgres://")
                    ? ""
                    : "--share takes a postgresql:// URL";
    } else if (name == "--since") {
        options.since = value;
        error = value.empty() ? "--since takes a date, a date and time, or a duration" : "";
    } else if (name == "--target") {
        options.record_target = value;
        error = parse_target(value).error;
    } else {
        options.format = value;
        error = value == "table" || value == "csv" || value == "json"
                    ? ""
                    : "--format takes table, csv or json";
    }
}

bool set_option(Options& options, std::string_view name, const std::string& value,
                std::string& error) {
    if (takes_record_value(name)) {
        set_record_option(options, name, value, error);
    } else if (name == "-j" || name == "--jobs") {
        std::optional<std::uint32_t> jobs = parse_number(value, 1, kMostJobs);
        options.jobs = jobs ? static_cast<int>(*jobs) : 0;
        error = jobs ? "" : "-j takes a number of boards from 1 to " + std::to_string(kMostJobs);
    } else if (name == "--answer") {
        options.answer_yes = value == "yes";
        options.answer_given = true;
        error = value == "yes" || value == "no" ? "" : "--answer takes yes or no";
    } else if (name == "--logs") {
        options.logs_dir = value;
        error = value.empty() ? "--logs takes a folder" : "";
    } else if (name == "--gone") {
        std::optional<double> seconds = parse_seconds(value);
        options.gone_seconds = seconds.value_or(0);
        options.gone_given = true;
        error = seconds ? "" : "--gone takes seconds from 2 to 86400";
    } else if (name == "--tool") {
        options.tool = value;
        error = value.empty() ? "--tool takes the path of tvflash" : "";
    } else if (name == "--station" || name == "--operator") {
        (name == "--station" ? options.station : options.operator_name) = value;
        error = value.empty() ? std::string(name) + " takes a name" : "";
    } else if (name == "--retries") {
        std::optional<std::uint32_t> retries = parse_number(value, 0, kMostRetries);
        options.retries = retries ? static_cast<int>(*retries) : 0;
        error = retries ? "" : "--retries takes a number from 0 to " + std::to_string(kMostRetries);
    } else if (name == "--serve") {
        ParsedServeAddress serve = parse_serve_address(value);
        options.serve = serve.serve;
        error = serve.serve ? "" : "--serve takes [ADDRESS:]PORT: " + serve.error;
    } else {
        options.inline_steps.push_back(value);  // -e, --step
    }
    return error.empty();
}

bool takes_value(std::string_view name) {
    return name == "-j" || name == "--jobs" || name == "--answer" || name == "--logs" ||
           name == "--gone" || name == "--tool" || name == "-e" || name == "--step" ||
           name == "--station" || name == "--operator" || name == "--retries" ||
           name == "--serve" || takes_record_value(name);
}

// Reads one option; false on a bad one.
bool read_option(Reader& reader, Options& options, const std::string& arg) {
    std::size_t equals = arg.find('=');
    bool is_short_glued = arg.size() > 2 && arg[1] != '-';
    std::string name = is_short_glued ? arg.substr(0, 2) : arg.substr(0, equals);
    reader.given.push_back(name);
    if ((name == "--watch" || name == "--json" || name == "--push") &&
        equals == std::string::npos) {
        (name == "--watch" ? options.watch : name == "--json" ? options.json : options.push) = true;
        return true;
    }
    if (name == "--help" || name == "-h") {
        options.mode = Mode::help;
        return true;
    }
    if (!takes_value(name) || (is_short_glued && name != "-j" && name != "-e")) {
        reader.error = "unknown option '" + arg + "'";
        return false;
    }
    bool has_inline = is_short_glued || equals != std::string::npos;
    std::string_view inline_value =
        is_short_glued ? std::string_view(arg).substr(2) : std::string_view(arg).substr(equals + 1);
    std::optional<std::string> value = take_value(reader, name, inline_value, has_inline);
    return value && set_option(options, name, *value, reader.error);
}

std::string quote_word(const std::string& word) {
    return "'" + word + "'";
}

std::string check_run(Options& options, std::vector<std::string>& positionals,
                      const std::vector<std::string>& given) {
    if (options.inline_steps.empty()) {
        if (positionals.empty()) {
            return "no recipe given (a file, or steps with -e)";
        }
        options.recipe = positionals.front();
        positionals.erase(positionals.begin());
    }
    options.targets = positionals;
    if (options.mode == Mode::run && options.targets.empty()) {
        return "no target given (ADDRESS:PORT or @FILE)";
    }
    if (!options.watch && options.gone_given) {
        return "--gone goes with --watch";
    }
    if (options.mode == Mode::check && options.serve) {
        return "--serve goes with run";
    }
    for (const char* name : {"--since", "--target", "--format", "--push"}) {
        if (std::find(given.begin(), given.end(), name) != given.end()) {
            return std::string(name) + " goes with records";
        }
    }
    if (!options.share.empty() && options.database == kNoDatabase) {
        return "--share copies the record database: it needs --db";
    }
    return "";
}

// records takes the record's options alone: --db, and either the choice of rows and their
// format, or --push with --share.
std::string check_records(const Options& options, const std::vector<std::string>& positionals,
                          const std::vector<std::string>& given) {
    const std::vector<std::string> allowed =
        options.push ? std::vector<std::string>{"--db", "--push", "--share"}
                     : std::vector<std::string>{"--db", "--since", "--target", "--format"};
    for (const std::string& name : given) {
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
            return options.push ? "records --push takes --db and --share"
                                : "records takes --db, --since, --target and --format "
                                  "(or --push with --share)";
        }
    }
    if (!positionals.empty()) {
        return "records takes no argument " + quote_word(positionals.front());
    }
    if (options.push && options.share.empty()) {
        return "records --push needs --share URL";
    }
    if (options.database == kNoDatabase) {
        return "records reads the record database: it needs --db";
    }
    return "";
}

// serve takes --db and the page's address alone.
std::string check_serve(Options& options, const std::vector<std::string>& positionals,
                        const std::vector<std::string>& given) {
    const bool only_db = std::all_of(given.begin(), given.end(),
                                     [](const std::string& name) { return name == "--db"; });
    if (!only_db || positionals.size() != 1) {
        return "serve takes [--db FILE] [ADDRESS:]PORT";
    }
    if (options.database == kNoDatabase) {
        return "serve shows the record database: it needs --db";
    }
    ParsedServeAddress serve = parse_serve_address(positionals[0]);
    options.serve = serve.serve;
    return serve.serve ? "" : "serve takes [ADDRESS:]PORT: " + serve.error;
}

// A scan takes its two arguments and no option.
std::string check_scan(const std::vector<std::string>& positionals,
                       const std::vector<std::string>& args) {
    return args.size() == 3 && positionals.size() == 2 ? "" : "scan takes ADDRESS/BITS PORT";
}

}  // namespace

ParsedOptions parse_options(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    Options& options = parsed.options;
    if (args.empty()) {
        return {options, "no command given"};
    }
    std::optional<Mode> mode = mode_of(args[0]);
    if (!mode) {
        return {options, "unknown command '" + args[0] + "' (run, check, scan, records or serve)"};
    }
    options.mode = *mode;
    Reader reader{args, 1, {}, "", {}};
    bool options_end = false;
    while (reader.next < args.size() && options.mode != Mode::help) {
        const std::string& arg = args[reader.next++];
        if (!options_end && arg == "--") {
            options_end = true;
        } else if (!options_end && arg.size() > 1 && arg[0] == '-') {
            if (!read_option(reader, options, arg)) {
                return {options, reader.error};
            }
        } else {
            reader.positionals.push_back(arg);
        }
    }
    if (options.mode == Mode::run || options.mode == Mode::check) {
        parsed.error = check_run(options, reader.positionals, reader.given);
    } else if (options.mode == Mode::records) {
        parsed.error = check_records(options, reader.positionals, reader.given);
    } else if (options.mode == Mode::serve) {
        parsed.error = check_serve(options, reader.positionals, reader.given);
    } else if (options.mode == Mode::scan) {
        parsed.error = check_scan(reader.positionals, args);
        if (parsed.error.empty()) {
            options.range = reader.positionals[0];
            options.port = reader.positionals[1];
        }
    }
    return parsed;
}

std::string short_usage() {
    return "Usage: tvflash-fleet run [-j N] [--answer yes|no] [--logs DIR] [--watch [--gone S]]\n"
           "                         [--tool PATH] RECIPE TARGET...\n"
           "                         [--station NAME] [--operator NAME] [--json] [--retries N]\n"
           "                         [--db FILE|none] [--share URL] [--serve [ADDRESS:]PORT]\n"
           "       tvflash-fleet run [options] -e STEP [-e STEP]... TARGET...\n"
           "       tvflash-fleet scan ADDRESS/BITS PORT\n"
           "       tvflash-fleet check RECIPE [TARGET...]\n"
           "       tvflash-fleet records [--db FILE] [--since WHEN] [--target ADDRESS:PORT]\n"
           "                             [--format table|csv|json]\n"
           "       tvflash-fleet records --push [--db FILE] --share URL\n"
           "       tvflash-fleet serve [--db FILE] [ADDRESS:]PORT\n";
}

std::string help_text() {
    return "tvflash-fleet flashes many Talvium boards with one recipe, running tvflash once for\n"
           "each board and step.\n\n" +
           short_usage() +
           "\n"
           "RECIPE is a file of tvflash commands, one step a line: a command word and, for the\n"
           "update commands, an image path relative to the recipe's folder. Blank lines and\n"
           "lines starting with # are left out. TARGET is ADDRESS:PORT, or @FILE with one target\n"
           "a line.\n\n"
           "  run          runs the recipe on every board, at most N boards at once\n"
           "  check        checks the recipe, its images and the targets; sends nothing\n"
           "  scan         lists the boards that answer in an address range (at most a /20)\n"
           "  records      prints the rows of the record database, newest last; with --push,\n"
           "               copies the rows not yet shared to the line's shared database\n"
           "  serve        serves the record pages of the database (no run) until Ctrl-C\n\n"
           "  -e, --step STEP  a step given inline instead of a recipe file (repeatable)\n"
           "  -j, --jobs N     at most N boards at once (default 8)\n"
           "  --answer yes|no  the answer to the bootloader question (default no); Windows\n"
           "                   asks the operator in a message box instead\n"
           "  --logs DIR       the record: a transcript per board and summary.csv (default\n"
           "                   tvflash-fleet-logs/YYYYMMDD-HHMMSS)\n"
           "  --watch          station mode: flashes each board that appears at a target, once,\n"
           "                   until Ctrl-C\n"
           "  --gone S         seconds a board must stay silent to count as gone (default 10)\n"
           "  --tool PATH      the tvflash to run (default: the one beside tvflash-fleet)\n"
           "  --station NAME   the station named in the record (default: the host name)\n"
           "  --operator NAME  the operator named in the record (default: the login name)\n"
           "  --json           JSON Lines events on standard output instead of the view\n"
           "  --retries N      tries a failed step again up to N times when a new try can\n"
           "                   mend it (no answer, link, checksum); default 0\n"
           "  --db FILE        the record database, kept across runs (default\n"
           "                   tvflash-fleet-logs/records.db); none for no database\n"
           "  --share URL      also copy every row to the line's PostgreSQL database\n"
           "                   (postgresql://USER@HOST/DATABASE) after each board\n"
           "  --since WHEN     records: rows since a date (2026-12-09), a date and time\n"
           "                   (2026-12-09 14:00), or a duration ago (30m, 2h, 7d)\n"
           "  --target T       records: the rows of one target\n"
           "  --format F       records: table (default), csv or json (one row a line)\n"
           "  --serve [ADDRESS:]PORT\n"
           "                   run: serves the station page, live, while the run goes on;\n"
           "                   the address defaults to 127.0.0.1 (0.0.0.0: every address)\n"
           "  -h, --help       this text\n"
           "  --version        the version\n\n"
           "Exit status: 0 when every board finished every step (scan: a board answered),\n"
           "1 when any board failed, 2 for a usage, recipe or target error found before\n"
           "anything was sent, 3 when the boards passed but the record is incomplete (the\n"
           "record database or the shared one could not be written).\n"
           "See tvflash-fleet(1).\n";
}

}  // namespace fleet
