#include "sessions/upload.h"

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

// The board acknowledges every block before the next one is read; it asks for a block again with
// "<NACK>". The tool itself never resends a block: a lost one ends in the watchdog's timeout.
void send_block(const unsigned char* block, std::size_t length, std::uint64_t& total) {
    const auto wire_length = static_cast<std::int32_t>(length);
    send_message(block, wire_length);
    total += length;
    for (;;) {
        std::string_view reply = receive_reply();
        if (has_tag(reply, "<ACK>")) {
            if (total % kBlockSize == 0) {
                print_out(".");
            }
            return;
        }
        if (has_tag(reply, "<NACK>")) {
            send_message(block, wire_length);
            print_out("+");
        }
    }
}

// Sends the image from the stream's current position to its end (or its first read error) and
// returns the checksum of the bytes sent; total counts them.
std::uint32_t send_blocks(std::FILE* stream, std::uint64_t& total) {
    unsigned char block[kBlockSize];
    std::uint32_t checksum = 0;
    for (;;) {
        std::size_t length = std::fread(block, 1, sizeof block, stream);
        if (length == 0) {
            return checksum;
        }
        checksum = image_checksum(block, length, checksum);
        send_block(block, length, total);
        if (length < sizeof block) {
            return checksum;
        }
    }
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

}  // namespace

void upload_image(CommandCode code, const std::string& file_name, std::uint64_t image_size) {
    set_command(command_entry(code).wire_text);
    open_image_stream(file_name);
    await_tag("<OK_LOAD>");
    print_out("OK.\nRead file %s (%llu bytes).\nUploading", to_upper_ascii(file_name).c_str(),
              static_cast<unsigned long long>(image_size));

    watchdog_state.progress_char = '*';
    watchdog_state.timeout_line1 = "timeout while uploading.";
    watchdog_state.timeout_line2 = "Target system no longer responding.";
    watchdog_state.uploading = true;

    std::uint64_t total = 0;
    std::uint32_t checksum = send_blocks(link_state.image_stream, total);
    send_end_load(checksum);
    print_out("OK.\nTotal of %llu bytes uploaded.\n", static_cast<unsigned long long>(total));
    print_out("File transfer consistency check...");

    watchdog_state.progress_char = '.';
    watchdog_state.timeout_line1 = "timeout.";
}

void complete_update(std::string_view program_name) {
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
                ask_about_bootloader(reply, program_name);
                break;
            case CompletionReply::nack:
                resend_command_with_zero();
                break;
            case CompletionReply::other:
                echo_unexpected(reply);
                break;
        }
    }
}
