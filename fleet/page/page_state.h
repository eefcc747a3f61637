// The page's data, as JSON: the snapshot of a run as it stands (/api/state, and the first message
// of /api/events) and the Server-Sent Events framing of the stream.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "plan/plan.h"
#include "report/board_views.h"
#include "report/event_json.h"
#include "report/record_row.h"

namespace fleet {

// How a run ended, once it has.
struct RunEnd {
    bool finished = false;
    int exit_status = 0;
};

// The snapshot at now: the run, its steps, every target's state with the time in it, and the
// counts of targets in each state. last_event is the id of the last event it holds.
nlohmann::ordered_json page_state(const BoardViews& views, const Plan& plan,
                                  const RunContext& context, const RunShape& shape,
                                  const RunEnd& end, std::uint64_t last_event,
                                  Clock::time_point now);

// JSON on one line, board text that is not UTF-8 with the replacement character in its place.
std::string json_text(const nlohmann::ordered_json& object);

// One Server-Sent Events message: "event: NAME" when named, "id: N" when given, then the data,
// which must hold no line end (JSON on one line holds none), and the blank line that ends it.
std::string sse_message(std::string_view name, std::optional<std::uint64_t> id,
                        std::string_view data);

}  // namespace fleet
