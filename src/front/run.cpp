#include "front/run.h"

#include <optional>
#include <string>

#include "front/command_table.h"
#include "front/image_check.h"
#include "front/usage.h"
#include "link/console.h"
#include "link/link.h"
#include "platform/platform.h"
#include "sessions/erase.h"
#include "sessions/flash_config.h"
#include "sessions/probe.h"
#include "sessions/upload.h"

namespace {

constexpr std::string_view kDefaultProgramName = "tvflash";

struct Invocation {
    std::string program_name;
    const char* host = nullptr;
    std::uint16_t port = 0;
    std::string word;  // the command word, lower-cased
    CommandCode code = CommandCode::unknown;
    std::optional<std::string> file_name;
    std::uint64_t image_size = 0;  // measured by the image check
};

// The checks of the command line that need no network; ends the process on a refusal.
Invocation read_command_line(int argc, char** argv) {
    Invocation call;
    call.program_name = program_name_from_path(
        argc > 0 && argv[0] != nullptr ? std::string_view(argv[0]) : kDefaultProgramName);
    if (argc == 1) {
        print_err("%s", std::string(kBanner).c_str());
        print_usage_and_exit(call.program_name);
    }
    if (argc != 4 && argc != 5) {
        print_err("\nERROR: invalid number of arguments\n");
        print_usage_and_exit(call.program_name);
    }
    call.host = argv[1];
    call.port = parse_port(argv[2]);
    call.word = to_lower_ascii(argv[3]);
    std::optional<CommandEntry> entry = find_command(call.word);
    if (!entry) {
        print_err("\nERROR: unknown <command> parameter '%s'\n", call.word.c_str());
        print_usage_and_exit(call.program_name);
    }
    call.code = entry->code;
    if (argc == 5) {
        call.file_name = argv[4];
    }
    return call;
}

// The dialogue of the command, after the probe and a fresh connection; version and cyclic_version
// have none of their own.
void run_dialogue(const Invocation& call) {
    if (is_erase_command(call.code)) {
        erase_flash(call.code);
    }
    if (call.code == CommandCode::get_config) {
        report_flash_config();
    }
    if (is_upload_command(call.code)) {
        UploadSummary upload = upload_image(call.code, *call.file_name, call.image_size);
        complete_update(call.program_name, upload);
    }
}

}  // namespace

int run_tool(int argc, char** argv) {
    platform::end_process_on_interrupt();
    Invocation call = read_command_line(argc, argv);
    if (command_needs_file(call.word) && !call.file_name) {
        print_err("\nERROR: missing <filename> parameter\n");
        print_usage_and_exit(call.program_name);
    }
    if (is_upload_command(call.code) && !check_image(call.code, *call.file_name, call.image_size)) {
        return 1;
    }
    if (call.port == 0) {
        print_usage_and_exit(call.program_name);
    }
    start_link(call.host, call.port, call.code == CommandCode::cyclic_version);
    probe_target(call.code, call.host, call.port, call.program_name);
    reconnect_target();
    run_dialogue(call);
    shutdown_and_exit(0);
}
