#include "report/record_row.h"

#include <cstdio>
#include <ctime>
#include <random>

#include <nlohmann/json.hpp>

#include "text.h"

namespace fleet {
namespace {

std::tm utc_parts(std::time_t seconds) {
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &seconds);
#else
    gmtime_r(&seconds, &parts);
#endif
    return parts;
}

template <typename T>
nlohmann::ordered_json or_null(const std::optional<T>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

}  // namespace

std::string new_run_id() {
    std::random_device source;
    std::uniform_int_distribution<unsigned> hex_digit(0, 15);
    std::string id;
    for (int i = 0; i < 32; ++i) {
        unsigned digit = hex_digit(source);
        if (i == 12) {
            digit = 4;  // the version
        } else if (i == 16) {
            digit = 8 | (digit & 3);  // the variant
        }
        id += "0123456789abcdef"[digit];
        if (i == 7 || i == 11 || i == 15 || i == 19) {
            id += '-';
        }
    }
    return id;
}

std::string tool_version_from_banner(std::string_view banner) {
    constexpr std::string_view kMark = ", version ";
    std::string_view first = banner.substr(0, banner.find('\n'));
    std::size_t at = first.find(kMark);
    return at == std::string_view::npos ? "" : std::string(trim(first.substr(at + kMark.size())));
}

std::string format_utc(SystemTime time) {
    auto since = time.time_since_epoch();
    auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds).count();
    std::tm parts = utc_parts(static_cast<std::time_t>(seconds.count()));
    char text[40];
    std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
    return text;
}

nlohmann::ordered_json row_json(const RecordRow& row) {
    return {{"run", row.run},
            {"station", row.station},
            {"operator", row.operator_name},
            {"target", row.target},
            {"attempt", row.attempt},
            {"board_version", row.board_version},
            {"step", row.step},
            {"command", row.command},
            {"file", row.file},
            {"image_bytes", row.image_bytes},
            {"image_sha256", row.image_sha256},
            {"recipe_sha256", row.recipe_sha256},
            {"tool_version", row.tool_version},
            {"status", row.status},
            {"error_class", row.error_class},
            {"verdict", row.verdict},
            {"exit_status", or_null(row.exit_status)},
            {"start", or_null(row.start)},
            {"seconds", or_null(row.seconds)},
            {"transcript", row.transcript},
            {"try", row.try_number}};
}

RowBuilder::RowBuilder(const Plan& plan, const RunContext& context)
    : plan_(plan),
      context_(context),
      versions_(plan.targets.size()),
      transcripts_(plan.targets.size()) {}

RecordRow RowBuilder::row(const Event& event, std::size_t step, const StepResult& result) const {
    const Step& planned = plan_.steps[step];
    RecordRow row;
    row.run = context_.run;
    row.station = context_.station;
    row.operator_name = context_.operator_name;
    row.target = plan_.targets[event.slot].text();
    row.attempt = std::max(event.board, 1);
    row.board_version = versions_[event.slot];
    row.step = static_cast<int>(step) + 1;
    row.command = planned.word;
    row.file = planned.file;
    row.image_bytes = planned.image_size;
    row.image_sha256 = planned.image_sha256;
    row.recipe_sha256 = plan_.recipe_sha256;
    row.tool_version = context_.tool_version;
    row.status = status_word(result.status);
    row.error_class = result.error_class;
    row.verdict = result.verdict;
    row.try_number = result.try_number;
    if (result.status == StepStatus::skipped) {
        return row;
    }
    if (result.started && result.signal == 0) {
        row.exit_status = result.exit_status;
    }
    row.start = format_utc(result.start);
    row.seconds = result.seconds;
    row.transcript = transcripts_[event.slot];
    return row;
}

std::vector<RecordRow> RowBuilder::on_event(const Event& event) {
    std::vector<RecordRow> rows;
    switch (event.kind) {
        case EventKind::board_found:
            versions_[event.slot] = one_line(event.text);
            break;
        case EventKind::board_left:
            versions_[event.slot].clear();
            break;
        case EventKind::step_started:
            transcripts_[event.slot].clear();
            break;
        case EventKind::step_output:
            transcripts_[event.slot] += event.bytes;
            break;
        case EventKind::step_finished:
            // A version step tells the board's version, to its own row and those after it.
            if (event.result.status == StepStatus::passed &&
                plan_.steps[event.step].code == CommandCode::version) {
                versions_[event.slot] = event.result.verdict;
            }
            rows.push_back(row(event, event.step, event.result));
            break;
        case EventKind::board_finished:
            for (std::size_t step = 0; !event.board_started && step < event.results.size();
                 ++step) {
                rows.push_back(row(event, step, event.results[step]));
            }
            break;
        default:
            break;
    }
    return rows;
}

}  // namespace fleet
