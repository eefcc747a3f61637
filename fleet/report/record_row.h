// The record of every try of every step of every board, one row each, as the JSON stream shows it
// and the database keeps it: which image (by its hash) went onto which board, at which station,
// by whom, when, with what result and why.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "plan/plan.h"
#include "run/events.h"

namespace fleet {

// What every row of a run shares.
struct RunContext {
    std::string run;  // an id unique across stations and runs
    std::string station;
    std::string operator_name;
    std::string tool_version;
    SystemTime start{};
};

// A new run id: 128 random bits, as a version 4 UUID.
std::string new_run_id();

// The version in the tool's banner ("Talvium flashing tool, version 2.4.0" gives "2.4.0");
// empty when there is none.
std::string tool_version_from_banner(std::string_view banner);

// UTC as ISO 8601 with milliseconds: "2026-12-09T14:03:12.345Z".
std::string format_utc(SystemTime time);

struct RecordRow {
    std::string run;
    std::string station;
    std::string operator_name;  // "operator"
    std::string target;
    int attempt = 1;  // a station's count of boards at the target; else 1
    std::string board_version;
    int step = 1;  // 1-based
    std::string command;
    std::string file;
    std::uint64_t image_bytes = 0;
    std::string image_sha256;
    std::string recipe_sha256;
    std::string tool_version;
    std::string status;  // passed, failed, skipped, interrupted
    std::string error_class;
    std::string verdict;
    std::optional<int> exit_status;  // none when the tool did not run or a signal ended it
    std::optional<std::string> start;
    std::optional<double> seconds;
    std::string transcript;  // the try's complete output
    int try_number = 1;      // "try"
};

// The row as a JSON object, with the field names of the record.
nlohmann::ordered_json row_json(const RecordRow& row);

// Makes the rows from the board events: one per try of a step that ran, one per step skipped,
// and one per step of a board that never started.
class RowBuilder {
  public:
    RowBuilder(const Plan& plan, const RunContext& context);

    // The rows the event completes.
    std::vector<RecordRow> on_event(const Event& event);

  private:
    RecordRow row(const Event& event, std::size_t step, const StepResult& result) const;

    const Plan& plan_;
    const RunContext& context_;
    std::vector<std::string> versions_;     // per target: the board's version text, when seen
    std::vector<std::string> transcripts_;  // per target: the running try's output so far
};

}  // namespace fleet
