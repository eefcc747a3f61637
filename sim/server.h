// The simulator's network side: one UDP socket, the loop that feeds the board model and sends its
// replies on time, the simulated losses, and the clean end on SIGINT or SIGTERM.
#pragma once

#include "options.h"

namespace sim {

// Serves until SIGINT or SIGTERM; returns the exit status (0 after a signal, 1 when the socket
// could not be set up).
int run_server(const SimOptions& options);

}  // namespace sim
