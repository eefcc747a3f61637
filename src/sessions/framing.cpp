#include "sessions/framing.h"

#include <climits>
#include <cstring>

#include "link/console.h"
#include "link/link.h"
#include "link/watchdog.h"
#include "platform/platform.h"

MessageBuffers message_buffers;

namespace {

bool is_atoi_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// After a reply the wait is not over: the command is recorded again, so the watchdog goes on
// repeating it each second, and the reply buffer is cleared for the next one.
void keep_waiting_for_reply_to_command() {
    watchdog_state.last_message = reinterpret_cast<const unsigned char*>(message_buffers.command);
    clear_reply();
}

}  // namespace

std::string_view buffer_text(const char* buffer) {
    const void* end = std::memchr(buffer, '\0', kMessageBufferSize - 1);
    std::size_t length = end == nullptr
                             ? kMessageBufferSize - 1
                             : static_cast<std::size_t>(static_cast<const char*>(end) - buffer);
    return {buffer, length};
}

bool has_tag(std::string_view reply, std::string_view tag) {
    return reply.starts_with(tag);
}

std::string_view text_from(std::string_view reply, std::size_t offset) {
    return offset < reply.size() ? reply.substr(offset) : std::string_view{};
}

std::int32_t read_int_at(std::string_view reply, std::size_t offset) {
    std::string_view text = text_from(reply, offset);
    std::size_t i = 0;
    while (i < text.size() && is_atoi_blank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= static_cast<long long>(INT_MAX) + 1) {
            value = value * 10 + (text[i] - '0');
        }
    }
    value = negative ? -value : value;
    value = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : value;
    return static_cast<std::int32_t>(value);
}

void set_command(std::string_view text) {
    std::memset(message_buffers.command, 0, kMessageBufferSize);
    std::size_t length = text.size() < kMessageBufferSize ? text.size() : kMessageBufferSize - 1;
    std::memcpy(message_buffers.command, text.data(), length);
}

void clear_reply() {
    std::memset(message_buffers.reply, 0, kMessageBufferSize);
}

void send_command() {
    std::string_view text = buffer_text(message_buffers.command);
    send_message(text.data(), static_cast<std::int32_t>(text.size()));
}

std::string_view receive_reply() {
    clear_reply();
    receive_message(message_buffers.reply, kMessageBufferSize);
    return buffer_text(message_buffers.reply);
}

void await_tag(std::string_view tag, UpdatingFlash updating) {
    send_command();
    clear_reply();
    for (;;) {
        receive_message(message_buffers.reply, kMessageBufferSize);
        std::string_view reply = buffer_text(message_buffers.reply);
        if (has_tag(reply, tag)) {
            return;
        }
        if (updating == UpdatingFlash::noticed && has_tag(reply, "<UPDATING_FLASH>")) {
            if (!message_buffers.updating_notice_shown) {
                message_buffers.updating_notice_shown = true;
                print_out("OK.\nTarget is updating cached data to FlashDisk...");
            }
            watchdog_state.last_progress_tick = platform::tick_ms();
        } else if (has_tag(reply, "<NACK>")) {
            send_command();
            print_out("+");
        }
        keep_waiting_for_reply_to_command();
    }
}

void echo_unexpected(std::string_view reply) {
    print_out("%s", escape_board_text(reply).c_str());
    watchdog_state.silent_seconds = 0;
}
