#include "sessions/upload.h"

#include <algorithm>
#include <cstdio>

#include "link/console.h"
#include "link/link.h"
#include "link/watchdog.h"
#include "platform/platform.h"
#include "sessions/framing.h"
#include "sessions/upload_format.h"

namespace {

// Ends the run when the image cannot be opened for the upload, before anything is sent for it.
void open_image_stream(const std::string& file_name) {
    link_state.image_stream = std::fopen(file_name.c_str(), "rb");
    if (link_state.image_stream == nullptr) {
        print_err("\nERROR: cannot open input file '%s'.\n", file_name.c_str());
        shutdown_and_exit(1);
    }
}

// The block loop's record: bytes sent, what the completion must know, and the times of the
// "<ACK>"s so far.
struct BlockLoop {
    std::uint64_t total = 0;
    UploadSummary summary;
    AckTimes ack_times;
};

// A "<NACK>" after a silence for a block the checksum cannot see: the board may hold the block
// already, and a resend would be stored a second time without the checksum noticing. Nothing more
// is sent; the board is left with an unfinished upload.
[[noreturn]] void refuse_unprovable_block(const unsigned char* block, std::size_t length,
                                          std::uint64_t block_number) {
    bool all_zero = std::all_of(block, block + length, [](unsigned char b) { return b == 0; });
    print_out("FAILED (%s).\n", unprovable_block_reason(block_number, all_zero).c_str());
    shutdown_and_exit(1);
}

// The board acknowledges every block before the next one is read; it asks for a block again with
// "<NACK>". The tool itself never resends a block: a lost one ends in the watchdog's timeout.
void send_block(const unsigned char* block, std::size_t length, BlockLoop& loop) {
    const auto wire_length = static_cast<std::int32_t>(length);
    const bool unseen = block_escapes_checksum(block, length);
    loop.summary.blocks += 1;
    loop.summary.has_unseen_block = loop.summary.has_unseen_block || unseen;
    send_message(block, wire_length);
    std::uint32_t sent_at = platform::tick_ms();
    loop.total += length;
    for (;;) {
        std::string_view reply = receive_reply();
        std::uint32_t elapsed = platform::tick_ms() - sent_at;
        if (has_tag(reply, "<ACK>")) {
            loop.ack_times.add(elapsed);
            if (loop.total % kBlockSize == 0) {
                print_out(".");
            }
            return;
        }
        if (has_tag(reply, "<NACK>")) {
            if (unseen && classify_block_nack(elapsed, loop.ack_times.typical()) ==
                              BlockNack::after_silence) {
                refuse_unprovable_block(block, length, loop.summary.blocks);
            }
            send_message(block, wire_length);
            sent_at = platform::tick_ms();
            print_out("+");
        }
    }
}

// Sends the image from the stream's current position to its end (or its first read error) and
// returns the checksum of the bytes sent.
std::uint32_t send_blocks(std::FILE* stream, BlockLoop& loop) {
    unsigned char block[kBlockSize];
    std::uint32_t checksum = 0;
    for (;;) {
        std::size_t length = std::fread(block, 1, sizeof block, stream);
        if (length == 0) {
            return checksum;
        }
        checksum = image_checksum(block, length, checksum);
        send_block(block, length, loop);
        if (length < sizeof block) {
            return checksum;
        }
    }
}

// Listens grace_ms after the last block's "<ACK>" and returns how many more "<ACK>"s came: a spare
// one that comes only now would otherwise fall after the board's verdicts. Other replies are
// dropped, as while a block waits, and nothing is sent meanwhile.
std::uint64_t count_late_acks(std::uint32_t grace_ms) {
    constexpr std::uint32_t kLongestPollMs = 1000;
    std::uint64_t acks = 0;
    const std::uint32_t start = platform::tick_ms();
    for (std::uint32_t waited = 0; waited < grace_ms; waited = platform::tick_ms() - start) {
        std::size_t received = 0;
        auto poll_ms = static_cast<int>(std::min(grace_ms - waited, kLongestPollMs));
        platform::PollResult result =
            platform::receive_datagram_within(link_state.link_socket.load(), message_buffers.reply,
                                              kMessageBufferSize, received, poll_ms);
        if (result == platform::PollResult::received) {
            terminate_reply(message_buffers.reply, kMessageBufferSize, received);
            acks += has_tag(buffer_text(message_buffers.reply), "<ACK>") ? 1 : 0;
        }
    }
    clear_reply();
    return acks;
}

void send_end_load(std::uint32_t checksum) {
    std::string datagram = format_end_load(checksum);
    // The command buffer keeps the text, so that a "<NACK>" during the completion resends it.
    set_command(std::string_view(datagram).substr(0, datagram.size() - 1));
    send_message(message_buffers.command, static_cast<std::int32_t>(datagram.size()));
}

// Sends the command buffer's text with its terminating zero, as the completion resends on
// "<NACK>".
void resend_command_with_zero() {
    std::size_t length = buffer_text(message_buffers.command).size() + 1;
    send_message(message_buffers.command, static_cast<std::int32_t>(length));
    print_out("+");
}

// Puts the bootloader question to the operator. Only an explicit Yes lets the board write a
// bootloader built for another board type; a question that could not be asked or answered counts
// as No, since writing it can destroy the hardware.
void ask_about_bootloader(std::string_view reply, std::string_view program_name) {
    BoardTypes types = split_board_types(reply);
    std::string warning =
        format_bootloader_warning(escape_board_text(types.stored), escape_board_text(types.update));
    set_command("");
    if (platform::ask_yes_no(program_name, warning) != platform::Answer::yes) {
        set_command("<BREAK>");
        send_command();
        print_out("FAILED (bootloader does not fit for the hardware).\n");
        shutdown_and_exit(1);
    }
    set_command("<CONTINUE>");
    send_command();
}

enum class AnswerFirst { no, with_break };

// Every block had its "<ACK>" before the next was sent, so an "<ACK>" after the last one means the
// board acknowledged a block twice (the network delivered it twice) or the network duplicated an
// "<ACK>". With a block the checksum cannot see, the first cannot be ruled out: the update is not
// reported successful, and a bootloader question is answered "<BREAK>" without asking.
void refuse_spare_acks(const UploadSummary& upload, std::uint64_t spare_acks, AnswerFirst answer) {
    if (!upload.has_unseen_block || spare_acks == 0) {
        return;
    }
    if (answer == AnswerFirst::with_break) {
        set_command("<BREAK>");
        send_command();
    }
    print_out("FAILED (%s).\n",
              spare_ack_reason(upload.blocks + spare_acks, upload.blocks).c_str());
    shutdown_and_exit(1);
}

}  // namespace

UploadSummary upload_image(CommandCode code, const std::string& file_name,
                           std::uint64_t image_size) {
    set_command(command_entry(code).wire_text);
    open_image_stream(file_name);
    await_tag("<OK_LOAD>");
    print_out("OK.\nRead file %s (%llu bytes).\nUploading", to_upper_ascii(file_name).c_str(),
              static_cast<unsigned long long>(image_size));

    watchdog_state.progress_char = '*';
    watchdog_state.timeout_line1 = "timeout while uploading.";
    watchdog_state.timeout_line2 = "Target system no longer responding.";
    watchdog_state.uploading = true;

    BlockLoop loop;
    std::uint32_t checksum = send_blocks(link_state.image_stream, loop);
    if (loop.summary.has_unseen_block) {
        loop.summary.late_acks = count_late_acks(spare_ack_grace_ms(loop.ack_times.typical()));
    }
    send_end_load(checksum);
    print_out("OK.\nTotal of %llu bytes uploaded.\n", static_cast<unsigned long long>(loop.total));
    print_out("File transfer consistency check...");

    watchdog_state.progress_char = '.';
    watchdog_state.timeout_line1 = "timeout.";
    return loop.summary;
}

void complete_update(std::string_view program_name, const UploadSummary& upload) {
    std::uint64_t spare_acks = upload.late_acks;
    for (;;) {
        std::string_view reply = receive_reply();
        switch (classify_completion_reply(reply)) {
            case CompletionReply::check_ok:
                watchdog_state.quiet = true;
                print_out("OK.\nUpdating flash memory...");
                break;
            case CompletionReply::check_failed:
                watchdog_state.quiet = true;
                print_out("FAILED (checksum error).\n");
                shutdown_and_exit(1);
            case CompletionReply::space_error:
                print_out("FAILED (not enough free space left, %ld bytes available).\n",
                          static_cast<long>(available_space(reply)));
                shutdown_and_exit(1);
            case CompletionReply::size_error:
                print_out("FAILED (size of image file too large).\n");
                shutdown_and_exit(1);
            case CompletionReply::update_ok:
                refuse_spare_acks(upload, spare_acks, AnswerFirst::no);
                print_out("OK.\nFlash memory update successful.\n");
                return;
            case CompletionReply::update_error:
                print_out("ERR.\nERROR during flash memory update (code %d).\n",
                          static_cast<int>(update_error_code(reply)));
                shutdown_and_exit(1);
            case CompletionReply::file_system_presence:
                print_out(
                    "FAILED (existing flash file system will be destroyed if this operation "
                    "proceeds).\n");
                shutdown_and_exit(1);
            case CompletionReply::system_file_presence:
                print_out(
                    "FAILED (existing system file will be destroyed if this operation "
                    "proceeds).\n");
                shutdown_and_exit(1);
            case CompletionReply::bootloader_query:
                refuse_spare_acks(upload, spare_acks, AnswerFirst::with_break);
                ask_about_bootloader(reply, program_name);
                break;
            case CompletionReply::nack:
                resend_command_with_zero();
                break;
            case CompletionReply::other:
                spare_acks += has_tag(reply, "<ACK>") ? 1 : 0;
                echo_unexpected(reply);
                break;
        }
    }
}
