// Builds without libpq (the Windows build: see docs/windows.md) keep the record in the station's
// own database only; a shared database is refused before anything is sent.
#include "record/share.h"

namespace fleet {

bool share_built() {
    return false;
}

std::unique_ptr<SharedDatabase> SharedDatabase::connect(const std::string&, std::string& error) {
    error = "this build of tvflash-fleet has no shared database";
    return nullptr;
}

}  // namespace fleet
