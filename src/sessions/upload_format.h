// The rules of the upload and its completion that need no I/O: the image checksum, the
// end-of-load datagram, the board's completion replies and the bootloader question's text.
#pragma once

#include <array>
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

// True when a block's words sum to 0 modulo 2^32 (an all-zero padding block, most often): the
// checksum cannot see such a block stored twice, nor one left out.
bool block_escapes_checksum(const unsigned char* bytes, std::size_t count);

// What a "<NACK>" for a block means. A board that could not take a block refuses it as fast as it
// would acknowledge it, and holds nothing of it. A board that heard nothing for a while asks again
// after its own silence timer: then either the block was lost (it holds nothing) or its "<ACK>"
// was (it holds the block already), and nothing on the wire tells the two apart.
enum class BlockNack { refusal, after_silence };

// The quickest "<NACK>" taken for one after a silence: below it, a "<NACK>" is a refusal. It is
// kNackRefusalFactor times the upload's typical "<ACK>" time, and never less than
// kNackRefusalFloorMs, which covers the first blocks and a loaded machine. A board whose silence
// timer is shorter than this bound is taken for refusing.
inline constexpr std::uint32_t kNackRefusalFloorMs = 100;
inline constexpr std::uint32_t kNackRefusalFactor = 4;

// Sorts a "<NACK>" that came elapsed_ms after the block was sent, typical_ack_ms being the
// upload's typical time from a block to its "<ACK>".
BlockNack classify_block_nack(std::uint32_t elapsed_ms, std::uint32_t typical_ack_ms);

// How long the upload of an image holding a block the checksum cannot see listens after the last
// block's "<ACK>", before its end-of-load message, for "<ACK>"s beyond one per block: a board that
// queues its replies, or a copy of a block the network delivered late, brings its spare "<ACK>"
// a little after the others, and the board's verdicts would otherwise come first. It is
// kSpareAckGraceFactor times the upload's typical "<ACK>" time, and never less than
// kSpareAckGraceFloorMs.
inline constexpr std::uint32_t kSpareAckGraceFloorMs = 100;
inline constexpr std::uint32_t kSpareAckGraceFactor = 4;

// The listening time after the last block for typical_ack_ms, the upload's typical time from a
// block to its "<ACK>".
std::uint32_t spare_ack_grace_ms(std::uint32_t typical_ack_ms);

// The upload's recent times from a block to its "<ACK>"; typical() is their median (0 before the
// first), so that a single slow block does not move it.
class AckTimes {
  public:
    void add(std::uint32_t ms);
    std::uint32_t typical() const;

  private:
    static constexpr std::size_t kKept = 16;
    std::array<std::uint32_t, kKept> times_{};
    std::size_t count_ = 0;  // times added so far; the latest kKept are kept
};

// The reason of the FAILED line when a block the checksum cannot see was asked for again after a
// silence (block_number counted from 1).
std::string unprovable_block_reason(std::uint64_t block_number, bool all_zero);

// The reason of the FAILED line when the board acknowledged more blocks than were sent and the
// image holds a block the checksum cannot see.
std::string spare_ack_reason(std::uint64_t acks, std::uint64_t blocks);

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
