// The simulator's network side: one UDP socket, the loop that feeds the board model and sends its
// replies on time, the simulated losses, and the clean end on a stop request (SIGINT or SIGTERM on
// POSIX; Ctrl-C, Ctrl-Break, closing the console or the named stop event on Windows).
#pragma once

#include "options.h"

namespace sim {

// Serves until a stop request; returns the exit status (0 after a stop request, 1 when the socket
// or the capture file could not be set up or waiting for datagrams failed).
int run_server(const SimOptions& options);

}  // namespace sim
