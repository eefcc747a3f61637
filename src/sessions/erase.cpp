#include "sessions/erase.h"

#include "link/console.h"
#include "link/link.h"
#include "link/watchdog.h"
#include "sessions/erase_verdicts.h"
#include "sessions/framing.h"

namespace {

// Waits for the board's verdict and ends the run with it. Erasing takes long, so no progress
// characters interrupt the line; whatever else the board sends meanwhile is shown and keeps the
// run alive.
[[noreturn]] void await_erase_verdict() {
    for (;;) {
        watchdog_state.quiet = true;
        const std::string_view reply = receive_reply();
        if (const auto verdict = find_erase_verdict(reply)) {
            print_out("%s", verdict->text.c_str());
            shutdown_and_exit(verdict->status);
        }
        echo_unexpected(reply);
    }
}

}  // namespace

void erase_flash(CommandCode code) {
    set_command(command_entry(code).wire_text);
    await_tag(kEraseStartTag);
    print_out("%s", kEraseStartedText);
    await_erase_verdict();
}
