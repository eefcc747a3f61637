#include "page/page_state.h"

#include <map>

#include "run/presence.h"

namespace fleet {
namespace {

using Json = nlohmann::ordered_json;

const char* const kStates[] = {"queued", "waiting", "running",     "question",
                               "passed", "failed",  "interrupted", "skipped"};

// Seconds from from to now; none before the run started.
double seconds_since(Clock::time_point from, Clock::time_point now) {
    return from == Clock::time_point{} ? 0 : seconds_between(from, now);
}

Json null_unless(bool known, Json value) {
    return known ? std::move(value) : Json(nullptr);
}

Json target_state(const SlotView& view, const Plan& plan, std::size_t slot, bool station,
                  Clock::time_point now) {
    const bool ran = view.started || view.board > 0;
    const bool running = view.started && !view.finished;
    Json object = {
        {"target", plan.targets[slot].text()},
        {"state", view.state},
        {"seconds", seconds_since(view.since, now)},
        {"attempt", null_unless(ran, view.board)},
        {"step", null_unless(ran, view.step + 1)},
        {"command", null_unless(ran, plan.steps[view.step].word)},
        {"try", null_unless(ran, view.try_number)},
        {"tries", null_unless(ran, view.tries)},
        {"stage", null_unless(running, stage_word(view.stage))},
        {"percent", null_unless(running && view.stage == Stage::uploading, view.percent)},
        {"verdict", view.verdict}};
    if (station) {
        object.update({{"board_version", view.version},
                       {"passed", view.boards_passed},
                       {"failed", view.boards_failed}});
    }
    return object;
}

}  // namespace

Json page_state(const BoardViews& views, const Plan& plan, const RunContext& context,
                const RunShape& shape, const RunEnd& end, std::uint64_t last_event,
                Clock::time_point now) {
    Json steps = Json::array();
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        steps.push_back(
            {{"step", i + 1}, {"command", plan.steps[i].word}, {"file", plan.steps[i].file}});
    }
    std::map<std::string, int> counts;
    for (const char* state : kStates) {
        counts[state] = 0;
    }
    Json targets = Json::array();
    int boards_passed = 0;
    int boards_failed = 0;
    for (std::size_t slot = 0; slot < views.slots().size(); ++slot) {
        const SlotView& view = views.slots()[slot];
        ++counts[view.state];
        boards_passed += view.boards_passed;
        boards_failed += view.boards_failed;
        targets.push_back(target_state(view, plan, slot, shape.station, now));
    }
    Json totals;
    for (const char* state : kStates) {
        totals[state] = counts[state];
    }
    if (shape.station) {
        totals.update({{"boards_passed", boards_passed}, {"boards_failed", boards_failed}});
    }
    return {{"schema", kEventSchema},
            {"run", context.run},
            {"station", context.station},
            {"operator", context.operator_name},
            {"mode", shape.station ? "station" : "run"},
            {"jobs", shape.jobs},
            {"retries", shape.retries},
            {"event", last_event},
            {"seconds", seconds_since(views.run_start(), now)},
            {"stopping", views.stopping()},
            {"exit_status", null_unless(end.finished, end.exit_status)},
            {"steps", steps},
            {"totals", totals},
            {"targets", targets}};
}

std::string json_text(const nlohmann::ordered_json& object) {
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string sse_message(std::string_view name, std::optional<std::uint64_t> id,
                        std::string_view data) {
    std::string message;
    if (!name.empty()) {
        message.append("event: ").append(name).append("\n");
    }
    if (id) {
        message.append("id: ").append(std::to_string(*id)).append("\n");
    }
    message.append("data: ").append(data).append("\n\n");
    return message;
}

}  // namespace fleet
