// The benchmark's minimal client: the least work the protocol allows for an upload of a system
// image, done over the same loopback link to the same simulator as the tool.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

// Probes the board with "<VERSION>" and listens one second for other boards, as every command
// must, then on a fresh socket sends "<UPDATESYS>", the image in 1024-byte blocks each awaiting
// its "<ACK>", and the end-of-load message, and waits for "<CHECK_OK>" and "<UPDATE_OK>".
// Prints "block_seconds S" (the time from the first block to the end-of-load message) on
// standard output. Returns 0 when the board took the image, 1 otherwise.
int run_bound_client(std::uint16_t port, const std::string& image_path);

// The same probe against a board that may never answer: "<VERSION>" once a second until a reply
// comes, 20 seconds at most. Returns 0 when one board answered, 1 otherwise.
int run_bound_probe(std::uint16_t port);

// The probe, then on a fresh socket "<ERASESYS>" until "<ERASE_START>", then the erase verdict:
// prints "OK." and returns 0 on "<ERASE_OK>", 1 otherwise.
int run_bound_erase(std::uint16_t port);

}  // namespace bench
