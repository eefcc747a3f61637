#include "sessions/framing.h"

#include <cstring>

#include "link/console.h"
#include "link/link.h"
#include "link/watchdog.h"
#include "platform/platform.h"

MessageBuffers message_buffers;

namespace {

// After a reply the wait is not over: the command is recorded again, so the watchdog goes on
// repeating it each second, and the reply buffer is cleared for the next one.
void keep_waiting_for_reply_to_command() {
    watchdog_state.last_message = reinterpret_cast<const unsigned char*>(message_buffers.command);
    clear_reply();
}

}  // namespace

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
