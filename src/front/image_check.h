// The image checks made before anything is sent to the board.
#pragma once

#include <cstdint>
#include <string>

#include "front/command_table.h"

// Checks that the image of an update command can be read and, for updaterom, that it is a 64 KiB
// bootloader with a known signature. Prints the reason to standard error and returns false when
// the image is refused; otherwise stores its size.
bool check_image(CommandCode code, const std::string& file_name, std::uint64_t& image_size);
