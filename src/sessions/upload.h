// The image upload of the four update commands and the completion that follows it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "front/command_table.h"

// What the completion needs to know of the upload that went before it.
struct UploadSummary {
    std::uint64_t blocks = 0;       // blocks sent, each counted once however often it was sent
    bool has_unseen_block = false;  // a block whose words sum to zero, unseen by the checksum
    std::uint64_t late_acks = 0;    // "<ACK>"s after the last block's, before the end-of-load
};

// Announces the upload, sends the image block by block and closes it with the checksummed
// end-of-load message. Returns once that message has been sent. A block the checksum cannot see
// that the board asks for again after a silence ends the run: the board may hold it twice. An
// image with such a block is closed only after a short grace, in which spare "<ACK>"s are counted
// in late_acks.
UploadSummary upload_image(CommandCode code, const std::string& file_name,
                           std::uint64_t image_size);

// Waits for the board's verdicts on the transfer and the flash update, asking the operator about a
// bootloader built for another board type (program_name is the question's caption). Returns after
// "<UPDATE_OK>"; every other end of it ends the run with status 1. An image with a block the
// checksum cannot see is not reported written when more "<ACK>"s came than blocks were sent, the
// upload's late ones included.
void complete_update(std::string_view program_name, const UploadSummary& upload);
