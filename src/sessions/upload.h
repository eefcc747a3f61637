// The image upload of the four update commands and the completion that follows it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "front/command_table.h"

// Announces the upload, sends the image block by block and closes it with the checksummed
// end-of-load message. Returns once that message has been sent.
void upload_image(CommandCode code, const std::string& file_name, std::uint64_t image_size);

// Waits for the board's verdicts on the transfer and the flash update, asking the operator about a
// bootloader built for another board type (program_name is the question's caption). Returns after
// "<UPDATE_OK>"; every other end of it ends the run with status 1.
void complete_update(std::string_view program_name);
