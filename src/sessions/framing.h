// Message framing: one tagged ASCII message per datagram. The command and reply buffers, tag
// matching, number reading at fixed offsets, and the steps the dialogues share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::size_t kMessageBufferSize = 128;

// The two message buffers of a run. The command buffer holds the message awaiting an answer and
// stays unchanged while the watchdog may repeat it; the reply buffer holds one received datagram
// as a zero-terminated text.
struct MessageBuffers {
    char command[kMessageBufferSize] = {};
    char reply[kMessageBufferSize] = {};
    bool updating_notice_shown = false;  // the "updating cached data" notice appears once a run
};

extern MessageBuffers message_buffers;

// The text held in a message buffer: up to its first zero byte, at most kMessageBufferSize - 1.
std::string_view buffer_text(const char* buffer);

// True when the reply begins with the tag, compared case-sensitively.
bool has_tag(std::string_view reply, std::string_view tag);

// The text of the reply from offset on (empty when the reply is shorter).
std::string_view text_from(std::string_view reply, std::size_t offset);

// A decimal number read from offset as atoi reads it (leading white space, optional sign, digits
// up to the first non-digit; 0 when there are none), saturated to the int32 range.
std::int32_t read_int_at(std::string_view reply, std::size_t offset);

// Zero-fills the command buffer and copies text into it.
void set_command(std::string_view text);

// Zero-fills the reply buffer.
void clear_reply();

// Sends the command buffer's text without its terminating zero; the watchdog may repeat it.
void send_command();

// Receives one reply into the cleared reply buffer and returns its text.
std::string_view receive_reply();

// Whether a start wait heeds "<UPDATING_FLASH>" (the erase and upload waits do, getconfig's not).
enum class UpdatingFlash { noticed, ignored };

// Sends the command and waits until a reply begins with tag; "<NACK>" resends it with "+",
// "<UPDATING_FLASH>" shows the updating notice once a run (when noticed), other replies are
// dropped. The watchdog repeats the command each second meanwhile.
void await_tag(std::string_view tag, UpdatingFlash updating = UpdatingFlash::noticed);

// Echoes a reply the dialogue does not know (escaped, no newline added) and restarts the 20-second
// count.
void echo_unexpected(std::string_view reply);
