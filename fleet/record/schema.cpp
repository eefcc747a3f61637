#include "record/schema.h"

namespace fleet {

const std::vector<Upgrade>& local_upgrades() {
    // recorded: when the board's rows were committed (UTC), for `records --since`. The key names
    // a try of a step of a board. Rows are copied to the line's shared database in the order of
    // their ids, so one number marks those copied: every row up to shared.up_to. An index costs
    // every board's commit, so there is one only for what the station page asks at every look
    // (a target's latest rows).
    static const std::vector<Upgrade> upgrades = {
        {"CREATE TABLE records (id INTEGER PRIMARY KEY, run TEXT NOT NULL, station TEXT NOT NULL, "
         "\"operator\" TEXT NOT NULL, target TEXT NOT NULL, attempt INTEGER NOT NULL, "
         "board_version TEXT NOT NULL, step INTEGER NOT NULL, command TEXT NOT NULL, "
         "file TEXT NOT NULL, image_bytes INTEGER NOT NULL, image_sha256 TEXT NOT NULL, "
         "recipe_sha256 TEXT NOT NULL, tool_version TEXT NOT NULL, status TEXT NOT NULL, "
         "error_class TEXT NOT NULL, verdict TEXT NOT NULL, exit_status INTEGER, "
         "\"start\" TEXT, seconds REAL, transcript TEXT NOT NULL, \"try\" INTEGER NOT NULL, "
         "recorded TEXT NOT NULL, UNIQUE (run, target, attempt, step, \"try\"))",
         "CREATE INDEX records_by_target ON records (target, id)",
         "CREATE TABLE shared (up_to INTEGER NOT NULL)", "INSERT INTO shared (up_to) VALUES (0)"},
    };
    return upgrades;
}

const std::vector<Upgrade>& shared_upgrades() {
    // copied: when the row arrived. Text as the stations send it; start as a time PostgreSQL can
    // compare and group.
    static const std::vector<Upgrade> upgrades = {
        {"CREATE TABLE tvflash_records (id bigserial PRIMARY KEY, run text NOT NULL, "
         "station text NOT NULL, \"operator\" text NOT NULL, target text NOT NULL, "
         "attempt integer NOT NULL, board_version text NOT NULL, step integer NOT NULL, "
         "command text NOT NULL, file text NOT NULL, image_bytes bigint NOT NULL, "
         "image_sha256 text NOT NULL, recipe_sha256 text NOT NULL, tool_version text NOT NULL, "
         "status text NOT NULL, error_class text NOT NULL, verdict text NOT NULL, "
         "exit_status integer, \"start\" timestamptz, seconds double precision, "
         "transcript text NOT NULL, \"try\" integer NOT NULL, "
         "copied timestamptz NOT NULL DEFAULT now(), "
         "UNIQUE (run, target, attempt, step, \"try\"))",
         "CREATE INDEX tvflash_records_by_target ON tvflash_records (target, \"start\")",
         "CREATE INDEX tvflash_records_by_station ON tvflash_records (station, \"start\")"},
    };
    return upgrades;
}

std::vector<std::string_view> upgrades_after(const std::vector<Upgrade>& upgrades, int from) {
    std::vector<std::string_view> statements;
    for (std::size_t version = from < 0 ? 0 : from; version < upgrades.size(); ++version) {
        statements.insert(statements.end(), upgrades[version].begin(), upgrades[version].end());
    }
    return statements;
}

}  // namespace fleet
