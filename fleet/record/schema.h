// The record's tables, as ordered lists of upgrades: upgrade i takes a database from version i to
// i + 1, so a new database runs them all and an older one those it lacks, each list in one
// transaction. A later version adds an upgrade at the end and never changes one that shipped.
#pragma once

#include <string_view>
#include <vector>

namespace fleet {

using Upgrade = std::vector<std::string_view>;

// The station's SQLite file; its version is PRAGMA user_version.
const std::vector<Upgrade>& local_upgrades();

// The line's PostgreSQL database; its version is the largest in tvflash_schema.
const std::vector<Upgrade>& shared_upgrades();

// The upgrades a database at version from needs: none when it is current or newer.
std::vector<std::string_view> upgrades_after(const std::vector<Upgrade>& upgrades, int from);

}  // namespace fleet
