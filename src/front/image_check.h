// The image checks made before anything is sent to the board.
#pragma once

#include <cstdint>
#include <string>

#include "front/command_table.h"

// Checks that the image of an update command can be read and, for updaterom, that it is a 64 KiB
// bootloader with a known signature. Returns the message that refuses the image, as the tool
// prints it (an empty line, then the ERROR line), or an empty text when it is accepted; stores
// the image's size.
std::string image_refusal(CommandCode code, const std::string& file_name,
                          std::uint64_t& image_size);

// The same, printing the message to standard error; false when the image is refused.
bool check_image(CommandCode code, const std::string& file_name, std::uint64_t& image_size);
