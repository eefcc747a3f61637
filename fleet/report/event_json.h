// The board events as JSON objects, the same for the JSON Lines stream of --json and for any other
// output that hands them to machines. Schema 1; it changes only with its number.
#pragma once

#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "plan/plan.h"
#include "report/record_row.h"
#include "run/events.h"

namespace fleet {

inline constexpr int kEventSchema = 1;

// What run_started tells of the run besides the plan.
struct RunShape {
    bool station = false;
    int jobs = 8;
    int retries = 0;
    double gone_seconds = 10;
};

class EventEncoder {
  public:
    EventEncoder(const Plan& plan, const RunContext& context, const RunShape& shape);

    // The objects an event gives, in order: none for the events machines are not told of (the
    // tool's output, which step_finished carries whole), step_progress at most a few times a
    // second per board, and one step_finished per row of the record.
    std::vector<nlohmann::ordered_json> encode(const Event& event);

  private:
    nlohmann::ordered_json head(const char* name, const Event& event) const;
    nlohmann::ordered_json run_started(const Event& event) const;
    nlohmann::ordered_json board_finished(const Event& event) const;
    bool progress_due(const Event& event);

    const Plan& plan_;
    const RunContext& context_;
    RunShape shape_;
    RowBuilder rows_;
    std::vector<Clock::time_point> last_progress_;
    std::vector<Stage> last_stage_;
};

// --json: one object a line on standard output, flushed before the fleet waits again (the
// events of one moment go out in one write) and at the run's end.
class JsonStream : public EventSink {
  public:
    JsonStream(const Plan& plan, const RunContext& context, const RunShape& shape)
        : encoder_(plan, context, shape) {}
    void on_event(const Event& event) override;
    void on_tick(Clock::time_point now) override;
    std::optional<Clock::time_point> next_tick() const override;

  private:
    EventEncoder encoder_;
    bool unflushed_ = false;
};

}  // namespace fleet
