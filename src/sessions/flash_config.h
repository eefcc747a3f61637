// The flash configuration report of getconfig.
#pragma once

// Asks the board for its flash map, prints it as a table with the total size and ends the run
// with status 0.
[[noreturn]] void report_flash_config();
