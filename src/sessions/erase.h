// The erase dialogue of the six erase commands.
#pragma once

#include "front/command_table.h"

// Sends the erase command of code, waits for the board to start erasing, then for its verdict,
// prints it and ends the run with status 0 (erased) or 1.
[[noreturn]] void erase_flash(CommandCode code);
