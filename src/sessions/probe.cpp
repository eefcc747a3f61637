#include "sessions/probe.h"

#include <cstring>

#include "link/console.h"
#include "link/link.h"
#include "platform/platform.h"
#include "sessions/framing.h"

namespace {

constexpr std::string_view kVersionTag = "<VERSION>";
constexpr std::size_t kVersionTextOffset = 10;
constexpr int kCollectionWaits = 20;
constexpr int kCollectionWaitMs = 50;

bool prints_version(CommandCode code) {
    return code == CommandCode::version || code == CommandCode::cyclic_version;
}

// About one second of listening for further boards after the first answer; returns how many
// version replies came in.
int count_further_boards(CommandCode code, bool& ok_printed) {
    int boards = 0;
    for (int i = 0; i < kCollectionWaits; ++i) {
        std::size_t received = 0;
        platform::PollResult result =
            platform::receive_datagram_within(link_state.link_socket.load(), message_buffers.reply,
                                              kMessageBufferSize, received, kCollectionWaitMs);
        if (result == platform::PollResult::timed_out) {
            continue;
        }
        // A failed receive (an over-long datagram, say) leaves nothing of itself to be parsed.
        if (result == platform::PollResult::failed) {
            received = 0;
        }
        terminate_reply(message_buffers.reply, kMessageBufferSize, received);
        if (handle_version_reply(message_buffers.reply, kMessageBufferSize, code, ok_printed)) {
            ++boards;
        }
    }
    return boards;
}

// One attempt: "<VERSION>" until the first version reply, then the collection window.
int probe_once(CommandCode code) {
    bool ok_printed = false;
    for (;;) {
        send_command();
        receive_message(message_buffers.reply, kMessageBufferSize);
        if (handle_version_reply(message_buffers.reply, kMessageBufferSize, code, ok_printed)) {
            break;
        }
    }
    return 1 + count_further_boards(code, ok_printed);
}

[[noreturn]] void report_conflict(CommandCode code, int boards, const char* host,
                                  std::string_view program_name) {
    if (code == CommandCode::cyclic_version) {
        platform::show_notice(program_name, format_conflict_notice(boards, host));
    } else {
        if (code != CommandCode::version) {
            print_out("ERR.\n");
        }
        print_out("%s", format_conflict_line(boards, host).c_str());
    }
    shutdown_and_exit(1);
}

}  // namespace

std::string format_version_line(CommandCode code, std::string_view version_text) {
    std::string text = escape_board_text(version_text);
    if (code == CommandCode::version) {
        return text + "\n";
    }
    if (code == CommandCode::cyclic_version) {
        bool running = version_text.find("Talvium") != std::string_view::npos;
        return "Linked to target " + std::string(running ? "running " : "") + text + "\n";
    }
    return "";
}

std::string format_conflict_line(int boards, std::string_view host) {
    return "ERROR: IP address conflict (" + std::to_string(boards) +
           " target boards use the same\nIP address " + std::string(host) + ").\n";
}

std::string format_conflict_notice(int boards, std::string_view host) {
    return "ERROR: IP address conflict.\n" + std::to_string(boards) +
           " target boards use the same\nIP address " + std::string(host) + ".";
}

bool handle_version_reply(char* reply, std::size_t size, CommandCode code, bool& ok_printed) {
    std::string_view text = buffer_text(reply);
    bool is_version = has_tag(text, kVersionTag);
    if (is_version) {
        if (!ok_printed && prints_version(code)) {
            print_out("OK.\n");
            ok_printed = true;
        }
        std::string line = format_version_line(code, text_from(text, kVersionTextOffset));
        print_out("%s", line.c_str());
    }
    std::memset(reply, 0, size);
    return is_version;
}

void probe_target(CommandCode code, const char* host, std::uint16_t port,
                  std::string_view program_name) {
    set_command(kVersionTag);
    for (;;) {
        int boards = probe_once(code);
        if (code != CommandCode::version && code != CommandCode::cyclic_version) {
            print_out(".");
        }
        if (boards > 1) {
            report_conflict(code, boards, host, program_name);
        }
        if (code != CommandCode::cyclic_version) {
            return;
        }
        reconnect_target();
        print_out("\nConnecting to target %s on port %d...", host, static_cast<int>(port));
    }
}
