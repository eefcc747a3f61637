// Why a step failed, as a short stable word for the record, read from the tool's own failure
// lines, and whether a new try can mend it.
#pragma once

#include <string_view>

#include "run/events.h"

namespace fleet {

// The class of a step's failure: "" for a step that passed or was skipped; "interrupted"; "tool"
// when the tool could not be started or ended abnormally (a signal, an exit status other than 0
// and 1, or its own usage error); else the class of the last failure line of the tool's output
// that the table knows ("refused", "bootloader_mismatch", "checksum", "unprovable",
// "address_conflict", "no_answer", "link", "image"); "other" for anything else.
std::string_view error_class(const StepResult& result, std::string_view output);

// True for the classes a new try can mend: the board did not answer, the link failed, the
// checksum differed, or a block the checksum cannot see may have been stored twice. Never for a
// board that said no, two boards on one address, a bad image or an interrupt.
bool can_retry(std::string_view error_class);

}  // namespace fleet
