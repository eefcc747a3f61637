#include "report/event_json.h"

#include "text.h"

namespace fleet {
namespace {

// step_progress goes out at most this often per board, and at every change of stage.
constexpr std::chrono::milliseconds kProgressEvery{250};

double seconds_between_wall(SystemTime from, SystemTime to) {
    return std::chrono::duration<double>(to - from).count();
}

const char* board_status(const Event& event) {
    if (!event.board_started) {
        return "skipped";
    }
    if (all_passed(event.results)) {
        return "passed";
    }
    return status_word(event.results[event.step].status);
}

}  // namespace

EventEncoder::EventEncoder(const Plan& plan, const RunContext& context, const RunShape& shape)
    : plan_(plan),
      context_(context),
      shape_(shape),
      rows_(plan, context),
      last_progress_(plan.targets.size()),
      last_stage_(plan.targets.size(), Stage::starting) {}

nlohmann::ordered_json EventEncoder::head(const char* name, const Event& event) const {
    SystemTime wall = event.wall == SystemTime{} ? std::chrono::system_clock::now() : event.wall;
    nlohmann::ordered_json object = {{"event", name}, {"time", format_utc(wall)}};
    if (event.kind != EventKind::run_started && event.kind != EventKind::run_finished) {
        object["target"] = plan_.targets[event.slot].text();
    }
    return object;
}

nlohmann::ordered_json EventEncoder::run_started(const Event& event) const {
    nlohmann::ordered_json object = head("run_started", event);
    nlohmann::ordered_json steps = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < plan_.steps.size(); ++i) {
        const Step& step = plan_.steps[i];
        steps.push_back({{"step", i + 1},
                         {"command", step.word},
                         {"file", step.file},
                         {"image_bytes", step.image_size},
                         {"image_sha256", step.image_sha256}});
    }
    nlohmann::ordered_json targets = nlohmann::ordered_json::array();
    for (const Target& target : plan_.targets) {
        targets.push_back(target.text());
    }
    object.update({{"schema", kEventSchema},
                   {"run", context_.run},
                   {"station", context_.station},
                   {"operator", context_.operator_name},
                   {"tool", plan_.tool},
                   {"tool_version", context_.tool_version},
                   {"recipe_sha256", plan_.recipe_sha256},
                   {"mode", shape_.station ? "station" : "run"},
                   {"jobs", shape_.jobs},
                   {"retries", shape_.retries},
                   {"steps", steps},
                   {"targets", targets}});
    if (shape_.station) {
        object["gone"] = shape_.gone_seconds;
    }
    return object;
}

nlohmann::ordered_json EventEncoder::board_finished(const Event& event) const {
    nlohmann::ordered_json object = head("board_finished", event);
    object.update({{"attempt", std::max(event.board, 1)}, {"status", board_status(event)}});
    object["step"] = event.board_started ? nlohmann::ordered_json(event.step + 1)
                                         : nlohmann::ordered_json(nullptr);
    return object;
}

bool EventEncoder::progress_due(const Event& event) {
    bool due = event.stage != last_stage_[event.slot] ||
               event.at - last_progress_[event.slot] >= kProgressEvery;
    if (due) {
        last_stage_[event.slot] = event.stage;
        last_progress_[event.slot] = event.at;
    }
    return due;
}

std::vector<nlohmann::ordered_json> EventEncoder::encode(const Event& event) {
    std::vector<nlohmann::ordered_json> objects;
    for (const RecordRow& row : rows_.on_event(event)) {
        nlohmann::ordered_json object = head("step_finished", event);
        object.update(row_json(row));
        objects.push_back(std::move(object));
    }
    nlohmann::ordered_json object;
    switch (event.kind) {
        case EventKind::run_started:
            objects.push_back(run_started(event));
            break;
        case EventKind::board_found:
        case EventKind::board_left:
            object =
                head(event.kind == EventKind::board_found ? "board_found" : "board_left", event);
            object["silence"] = event.silence;
            if (event.kind == EventKind::board_found) {
                object["board_version"] = one_line(event.text);
            }
            objects.push_back(std::move(object));
            break;
        case EventKind::board_started:
            object = head("board_started", event);
            object["attempt"] = event.board;
            objects.push_back(std::move(object));
            break;
        case EventKind::step_started:
            object = head("step_started", event);
            object.update({{"attempt", event.board},
                           {"step", event.step + 1},
                           {"command", plan_.steps[event.step].word},
                           {"file", plan_.steps[event.step].file},
                           {"try", event.try_number}});
            objects.push_back(std::move(object));
            break;
        case EventKind::step_progress:
            if (progress_due(event)) {
                object = head("step_progress", event);
                object.update({{"attempt", event.board},
                               {"step", event.step + 1},
                               {"try", event.try_number},
                               {"stage", stage_word(event.stage)}});
                // The share acknowledged means something only while an image goes up.
                object["percent"] = event.stage == Stage::uploading
                                        ? nlohmann::ordered_json(event.percent)
                                        : nlohmann::ordered_json(nullptr);
                objects.push_back(std::move(object));
            }
            break;
        case EventKind::board_finished:
            objects.push_back(board_finished(event));
            break;
        case EventKind::run_finished:
            object = head("run_finished", event);
            object.update({{"run", context_.run},
                           {"boards", event.totals.boards},
                           {"passed", event.totals.passed},
                           {"failed", event.totals.failed},
                           {"exit_status", event.exit_status},
                           {"seconds", seconds_between_wall(context_.start, event.wall)}});
            objects.push_back(std::move(object));
            break;
        default:
            break;
    }
    return objects;
}

void JsonStream::on_event(const Event& event) {
    for (const nlohmann::ordered_json& object : encoder_.encode(event)) {
        // Board text that is not UTF-8 is written with the replacement character in its place.
        std::string line =
            object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
        unflushed_ = true;
    }
    if (event.kind == EventKind::run_finished) {
        on_tick(event.at);
    }
}

void JsonStream::on_tick(Clock::time_point) {
    std::fflush(stdout);
    unflushed_ = false;
}

std::optional<Clock::time_point> JsonStream::next_tick() const {
    // Due at once: the scheduler ticks before it waits.
    return unflushed_ ? std::optional<Clock::time_point>(Clock::time_point{}) : std::nullopt;
}

}  // namespace fleet
