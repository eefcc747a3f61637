// The rules of the upload and its completion that need no I/O: the image checksum, the
// end-of-load datagram, the board's completion replies and the bootloader question's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The largest image block in one datagram.
inline constexpr std::size_t kBlockSize = 1024;

// Adds count bytes to a running checksum: big-endian 32-bit words summed modulo 2^32, a final
// partial word filled with zero bytes at its low end. Feeding an image in pieces whose lengths,
// all but the last, are multiples of 4 gives the same sum as one call over the whole image.
std::uint32_t image_checksum(const unsigned char* bytes, std::size_t count, std::uint32_t sum);

// The end-of-load datagram for a checksum: "<END_LOAD> %d" with the checksum as a signed 32-bit
// number, a space appended when the text's length is even, then the terminating zero. The
// returned bytes are the whole datagram, the zero included, so its length is always even.
std::string format_end_load(std::uint32_t checksum);

// The board's replies while it checks and writes the image, in the order they are tested.
enum class CompletionReply {
    check_ok,              // "<CHECK_" with "OK>" after it
    check_failed,          // "<CHECK_" with anything else after it
    space_error,           // "<SIZE_ERROR><EXPANDED>" with the free bytes
    size_error,            // "<SIZE_ERROR>"
    update_ok,             // "<UPDATE_OK>"
    update_error,          // "<UPDATE_ERROR>" with an error code
    file_system_presence,  // "<FILE_SYSTEM_PRESENCE_ERROR>"
    system_file_presence,  // "<SYSTEM_FILE_PRESENCE_ERROR>"
    bootloader_query,      // "<DEST_DIFFER_QUERY>" with the two board types
    nack,                  // "<NACK>"
    other,                 // anything else, echoed
};

CompletionReply classify_completion_reply(std::string_view reply);

// The free bytes of a "<SIZE_ERROR><EXPANDED>" reply: white space after the tag, then a signed
// decimal number; 0 when there is none, saturated to the int32 range.
std::int32_t available_space(std::string_view reply);

// The error code of an "<UPDATE_ERROR>" reply, read from offset 15 as atoi reads it.
std::int32_t update_error_code(std::string_view reply);

// The two board types of a "<DEST_DIFFER_QUERY>" reply, as views into it.
struct BoardTypes {
    std::string_view stored;  // of the bootloader on the board
    std::string_view update;  // of the bootloader being written
};

// Splits the text from offset 20 at its first "|": stored before it, update all after it (further
// "|" included). Without a "|" both are empty.
BoardTypes split_board_types(std::string_view reply);

// The warning put to the operator before a bootloader for another board type is written.
std::string format_bootloader_warning(std::string_view stored, std::string_view update);
