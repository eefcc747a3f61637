#include "link/watchdog.h"

#include <thread>

#include "link/console.h"
#include "link/link.h"
#include "platform/platform.h"

WatchdogState watchdog_state;

namespace {

constexpr std::uint32_t kSecondMs = 1000;
constexpr unsigned kPollMs = 10;
constexpr unsigned kCyclicPauseMs = 4000;

thread_local bool is_watchdog = false;

std::uint32_t elapsed_since(std::uint32_t tick) {
    return platform::tick_ms() - tick;
}

// A tick of 0 means "not set" in the record, so a clock reading of 0 is stored as 1.
std::uint32_t nonzero_tick() {
    std::uint32_t now = platform::tick_ms();
    return now == 0 ? 1 : now;
}

void print_progress_if_due(WatchdogState& state) {
    if (state.last_progress_tick == 0) {
        state.last_progress_tick = nonzero_tick();
    }
    if (state.quiet || elapsed_since(state.last_progress_tick) < kSecondMs) {
        return;
    }
    print_out("%c", state.progress_char.load());
    state.last_progress_tick = nonzero_tick();
}

// Times one second of a wait in short sleeps. Returns false when the wait ended before the second
// was complete.
bool time_one_second(WatchdogState& state) {
    std::uint32_t start = platform::tick_ms();
    while (elapsed_since(start) < kSecondMs) {
        platform::sleep_ms(kPollMs);
        if (!state.waiting || !state.running) {
            return false;
        }
        print_progress_if_due(state);
    }
    return true;
}

[[noreturn]] void time_out(WatchdogState& state) {
    // Claim the end of the run before saying so, so a verdict of the main thread cannot follow the
    // timeout lines with another status.
    if (!claim_shutdown()) {
        state.thread_id = 0;
        wait_for_process_end();
    }
    print_out("%s\n%s\n", state.timeout_line1.load(), state.timeout_line2.load());
    state.running = false;
    state.thread_id = 0;
    if (state.cyclic) {
        platform::sleep_ms(kCyclicPauseMs);
    }
    finish_shutdown(1);
}

void count_second(WatchdogState& state) {
    if (state.silent_seconds.fetch_add(1) + 1 >= kReplyTimeoutSeconds) {
        time_out(state);
    }
    if (!state.uploading) {
        repeat_last_message();
    }
}

}  // namespace

bool on_watchdog_thread() {
    return is_watchdog;
}

void start_watchdog() {
    watchdog_state.thread_id = 1;
    std::thread(watchdog_thread, &watchdog_state).detach();
}

void wake_watchdog() {
    watchdog_state.wakeups.fetch_add(1);
    watchdog_state.wakeups.notify_one();
}

void watchdog_thread(WatchdogState* state) {
    is_watchdog = true;
    while (state->running) {
        // Between waits the thread sleeps until woken, so an idle run (the probe's listening
        // window, the operator's answer to a question) costs no processor time.
        std::uint32_t seen = state->wakeups.load();
        bool timing = state->waiting && state->silent_seconds < kReplyTimeoutSeconds;
        if (!timing) {
            if (state->running) {
                state->wakeups.wait(seen);
            }
            continue;
        }
        if (time_one_second(*state)) {
            count_second(*state);
        }
    }
    state->thread_id = 0;
}
