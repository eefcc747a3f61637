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
#include "record/row.h"
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
