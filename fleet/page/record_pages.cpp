#include "page/record_pages.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "page/page_state.h"
#include "plan/targets.h"
#include "report/record.h"
#include "text.h"

namespace fleet {
namespace {

const char* const kJson = "application/json";

const std::vector<std::string> kStatuses = {"passed", "failed", "skipped", "interrupted"};

std::optional<std::size_t> count_of(const std::string& text) {
    std::optional<std::uint32_t> count = parse_number(text, 1, kMostRowsAsked);
    return count ? std::optional<std::size_t>(*count) : std::nullopt;
}

RecordAnswer json_error(int status, const std::string& message) {
    return {status, kJson, json_text({{"error", message}})};
}

std::string number_or_empty(const std::optional<double>& value) {
    return value ? format_seconds(*value) : "";
}

}  // namespace

ParsedRecordsQuery parse_records_query(const std::map<std::string, std::string>& parameters) {
    RecordsQuery query;
    query.rows.limit = kLatestRows;
    query.rows.newest_first = true;
    for (const auto& [name, value] : parameters) {
        if (name == "since") {
            std::optional<std::uint32_t> id = parse_number(value, 0, 999999999);
            if (!id) {
                return {std::nullopt, "since takes a row id"};
            }
            query.paged = true;
            query.rows.after_id = *id;
            query.rows.newest_first = false;
        } else if (name == "latest" || name == "limit") {
            std::optional<std::size_t> count = count_of(value);
            if (!count) {
                return {std::nullopt, name + " takes a number of rows from 1 to " +
                                          std::to_string(kMostRowsAsked)};
            }
            query.rows.limit = *count;
        } else if (name == "target") {
            if (!value.empty() && !parse_target(value).target) {
                return {std::nullopt, "target takes ADDRESS:PORT"};
            }
            query.rows.target = value;
        } else if (name == "status") {
            if (!value.empty() &&
                std::find(kStatuses.begin(), kStatuses.end(), value) == kStatuses.end()) {
                return {std::nullopt, "status takes passed, failed, skipped or interrupted"};
            }
            query.rows.status = value;
        } else {
            return {std::nullopt, "unknown parameter " + quote(name)};
        }
    }
    if (query.paged && parameters.count("latest") > 0) {
        return {std::nullopt, "since and latest do not go together"};
    }
    if (query.paged && parameters.count("limit") == 0) {
        query.rows.limit = kPageRows;
    }
    return {query, ""};
}

std::string records_json(const std::vector<StoredRow>& rows, const RecordsQuery& query,
                         std::int64_t since) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const StoredRow& stored : rows) {
        nlohmann::ordered_json object = {{"id", stored.id}, {"recorded", stored.recorded}};
        object.update(row_json(stored.row));
        object.erase("transcript");
        list.push_back(std::move(object));
    }
    nlohmann::ordered_json answer = {{"rows", std::move(list)}};
    if (query.paged) {
        answer["next"] = rows.empty() ? since : rows.back().id;
        answer["more"] = rows.size() == query.rows.limit;
    }
    return json_text(answer);
}

std::string records_csv(const std::vector<StoredRow>& rows) {
    std::string text = csv_row({"id", "station", "target", "attempt", "step", "command", "try",
                                "status", "error_class", "verdict", "start", "seconds"});
    for (const StoredRow& stored : rows) {
        const RecordRow& row = stored.row;
        text += csv_row({std::to_string(stored.id), row.station, row.target,
                         std::to_string(row.attempt), std::to_string(row.step), row.command,
                         std::to_string(row.try_number), row.status, row.error_class, row.verdict,
                         row.start.value_or(""), number_or_empty(row.seconds)});
    }
    return text;
}

std::unique_ptr<RecordDatabase> RecordPages::open(RecordAnswer& failed) const {
    if (database_.empty()) {
        failed = json_error(404, "this run keeps no record database (--db none)");
        return nullptr;
    }
    std::string error;
    std::unique_ptr<RecordDatabase> database =
        RecordDatabase::open(database_, RecordDatabase::Access::read, error);
    if (!database) {
        failed = json_error(503, "the record database cannot be read: " + error);
    }
    return database;
}

RecordAnswer RecordPages::rows(const std::map<std::string, std::string>& parameters,
                               bool csv) const {
    ParsedRecordsQuery parsed = parse_records_query(parameters);
    if (!parsed.query) {
        return json_error(400, parsed.error);
    }
    RecordAnswer answer;
    std::unique_ptr<RecordDatabase> database = open(answer);
    if (!database) {
        return answer;
    }
    std::optional<std::vector<StoredRow>> rows = database->rows(parsed.query->rows);
    if (!rows) {
        return json_error(503, "the record database cannot be read: " + database->error());
    }
    if (csv) {
        return {200, "text/csv; charset=utf-8", records_csv(*rows)};
    }
    return {200, kJson, records_json(*rows, *parsed.query, parsed.query->rows.after_id)};
}

RecordAnswer RecordPages::transcript(const std::string& id) const {
    std::optional<std::uint32_t> number = parse_number(id, 1, 999999999);
    RecordAnswer answer;
    std::unique_ptr<RecordDatabase> database = number ? open(answer) : nullptr;
    if (!database) {
        return number ? answer : RecordAnswer{404, "text/plain; charset=utf-8", "No such row.\n"};
    }
    std::optional<StoredRow> row = database->row(*number);
    if (!row) {
        return database->error().empty()
                   ? RecordAnswer{404, "text/plain; charset=utf-8", "No such row.\n"}
                   : json_error(503, "the record database cannot be read: " + database->error());
    }
    return {200, "text/plain; charset=utf-8", row->row.transcript};
}

}  // namespace fleet
