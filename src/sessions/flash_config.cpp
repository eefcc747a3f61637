#include "sessions/flash_config.h"

#include "front/command_table.h"
#include "link/console.h"
#include "link/link.h"
#include "link/watchdog.h"
#include "sessions/flash_table.h"
#include "sessions/framing.h"

namespace {

// Prints one row per area reply until the end reply, then the closing rule and the total, and
// ends the run. Row values carry over, so a reply that parses only partly keeps the previous
// row's other fields.
[[noreturn]] void print_area_rows() {
    AreaRow row;
    for (;;) {
        watchdog_state.quiet = true;
        const std::string_view reply = receive_reply();
        if (has_tag(reply, kFlashConfigDataTag)) {
            parse_area_reply(reply, row);
            print_out("%s", format_area_row(row).c_str());
            continue;
        }
        if (has_tag(reply, kFlashConfigEndTag)) {
            const std::string total_line = format_total_line(read_total_size(reply));
            print_out("%s%s", kFlashTableRule, total_line.c_str());
            shutdown_and_exit(0);
        }
        echo_unexpected(reply);
    }
}

}  // namespace

void report_flash_config() {
    set_command(command_entry(CommandCode::get_config).wire_text);
    await_tag(kFlashConfigStartTag, UpdatingFlash::ignored);
    print_out("%s", kFlashTableHeader);
    print_area_rows();
}
