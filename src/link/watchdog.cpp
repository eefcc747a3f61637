#include "link/watchdog.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "link/console.h"
#include "link/link.h"
#include "platform/platform.h"

WatchdogState watchdog_state;

namespace {

constexpr std::uint32_t kSecondMs = 1000;
constexpr unsigned kCyclicPauseMs = 4000;

thread_local bool is_watchdog = false;

// What the watchdog sleeps on. The main thread rings it when a wait begins while the watchdog
// sleeps without a deadline, and when the run stops. Never destroyed: the process may end on one
// thread while the other sleeps on it.
struct Bell {
    std::mutex mutex;
    std::condition_variable rung;
    std::atomic<bool> idle{false};  // the watchdog sleeps until a wait begins
};

Bell& bell() {
    static Bell* const instance = new Bell;
    return *instance;
}

void ring() {
    Bell& b = bell();
    // Taking the mutex orders the ring after the watchdog's last look at the record, so it cannot
    // fall between that look and the watchdog's sleep.
    { std::lock_guard<std::mutex> lock(b.mutex); }
    b.rung.notify_all();
}

std::uint32_t wait_serial(std::uint64_t mark) {
    return static_cast<std::uint32_t>(mark >> 32);
}

std::uint32_t wait_start(std::uint64_t mark) {
    return static_cast<std::uint32_t>(mark);
}

// Milliseconds from now until tick, 0 when it has come; ticks are compared as 32-bit differences,
// so they stay right when the tick wraps.
std::uint32_t ms_until(std::uint32_t tick) {
    auto ahead = static_cast<std::int32_t>(tick - platform::tick_ms());
    return ahead > 0 ? static_cast<std::uint32_t>(ahead) : 0;
}

// Sleeps until the run stops or, when deadline_ms is given, for that many milliseconds; without
// one, until a wait begins.
void sleep_on_bell(const WatchdogState& state, const std::uint32_t* deadline_ms) {
    Bell& b = bell();
    std::unique_lock<std::mutex> lock(b.mutex);
    if (deadline_ms != nullptr) {
        b.rung.wait_for(lock, std::chrono::milliseconds(*deadline_ms),
                        [&state] { return !state.running; });
        return;
    }
    // Announced before the record is read: a wait that begins after this store rings the bell,
    // one that began before it is seen here.
    b.idle = true;
    b.rung.wait(lock, [&state] { return !state.running || state.waiting; });
    b.idle = false;
}

// The timing of the wait in progress, as the watchdog keeps it.
struct Timing {
    std::uint32_t serial = 0;       // which wait
    std::int32_t counted = 0;       // its whole seconds of silence so far
    std::uint32_t next_second = 0;  // the tick at which its next second is complete
};

// The tick at which the next progress character of the wait that began at start is due.
std::uint32_t progress_due(const WatchdogState& state, std::uint32_t start) {
    std::uint32_t last = state.last_progress_tick;
    return (last != 0 ? last : start) + kSecondMs;
}

// A tick of 0 means "not set" in the record, so a clock reading of 0 is stored as 1.
std::uint32_t nonzero_tick() {
    std::uint32_t now = platform::tick_ms();
    return now == 0 ? 1 : now;
}

[[noreturn]] void time_out(WatchdogState& state) {
    // Claim the end of the run before saying so, so a verdict of the main thread cannot follow the
    // timeout lines with another status.
    if (!claim_shutdown()) {
        clear_watchdog_thread_id();
        wait_for_process_end();
    }
    print_out("%s\n%s\n", state.timeout_line1.load(), state.timeout_line2.load());
    state.running = false;
    clear_watchdog_thread_id();
    if (state.cyclic) {
        platform::sleep_ms(kCyclicPauseMs);
    }
    finish_shutdown(1);
}

// True while the wait that began with mark is still the one in progress.
bool still_waiting(const WatchdogState& state, std::uint64_t mark) {
    return state.running && state.waiting && state.wait_mark == mark;
}

// Does what is due now in the wait that began with mark, then returns how long to sleep until
// the next thing is due.
std::uint32_t serve_wait(WatchdogState& state, std::uint64_t mark, Timing& timing) {
    std::uint32_t start = wait_start(mark);
    if (still_waiting(state, mark) && ms_until(timing.next_second) == 0) {
        // A completed second. The next one ends a second after this one was due, so a wake-up a
        // little late does not shift the beat; after a longer stall (a suspended machine) the
        // count goes on a second at a time from now, without a burst of repeats.
        timing.next_second += kSecondMs;
        if (ms_until(timing.next_second) == 0) {
            timing.next_second = platform::tick_ms() + kSecondMs;
        }
        ++timing.counted;
        state.silent_seconds = timing.counted;
        if (timing.counted >= kReplyTimeoutSeconds) {
            time_out(state);
        }
        if (!state.uploading) {
            repeat_last_message();
        }
    }
    if (!state.quiet && still_waiting(state, mark) && ms_until(progress_due(state, start)) == 0) {
        print_out("%c", state.progress_char.load());
        // Stamped with the tick it was due at, so that the characters keep a one-second beat
        // with the counted seconds instead of drifting a millisecond behind each time; a thread
        // woken very late starts the beat anew.
        std::uint32_t due = progress_due(state, start);
        std::uint32_t late = platform::tick_ms() - due;
        state.last_progress_tick = late < kSecondMs && due != 0 ? due : nonzero_tick();
    }
    std::uint32_t next = ms_until(timing.next_second);
    if (!state.quiet) {
        std::uint32_t to_progress = ms_until(progress_due(state, start));
        next = to_progress < next ? to_progress : next;
    }
    // A deadline reached within the last millisecond of the clock: look again in one.
    return next == 0 ? 1 : next;
}

}  // namespace

bool on_watchdog_thread() {
    return is_watchdog;
}

void start_watchdog() {
    watchdog_state.thread_id = 1;
    std::thread(watchdog_thread, &watchdog_state).detach();
}

void begin_timed_wait() {
    WatchdogState& state = watchdog_state;
    std::uint64_t serial = wait_serial(state.wait_mark) + 1ULL;
    // Every wait starts with a full allowance, whatever a late count of the last one left behind.
    state.silent_seconds = 0;
    state.wait_mark = serial << 32 | platform::tick_ms();
    state.waiting = true;
    // A watchdog still asleep until a deadline of an earlier wait wakes before this wait's first
    // second ends, and times this one then; only one asleep without a deadline needs the bell.
    if (bell().idle) {
        ring();
    }
}

void wake_watchdog() {
    ring();
}

void clear_watchdog_thread_id() {
    watchdog_state.thread_id = 0;
    ring();
}

void await_watchdog_end() {
    sleep_until([] { return watchdog_state.thread_id == 0; });
}

void sleep_until(bool (*done)()) {
    Bell& b = bell();
    std::unique_lock<std::mutex> lock(b.mutex);
    b.rung.wait(lock, done);
}

void watchdog_thread(WatchdogState* state) {
    is_watchdog = true;
    Timing timing;
    while (state->running) {
        std::uint64_t mark = state->wait_mark;
        if (!state->waiting) {
            // Between waits (the probe's listening window, the operator's answer to a question)
            // the thread sleeps until the next wait begins or the run stops.
            sleep_on_bell(*state, nullptr);
            continue;
        }
        if (wait_serial(mark) != timing.serial) {
            timing = Timing{wait_serial(mark), 0, wait_start(mark) + kSecondMs};
        }
        // Whatever ends the wait while this thread sleeps is seen when it wakes, before anything
        // of that wait is done: a reply only ends it, so nothing needs waking for it.
        std::uint32_t sleep_ms = serve_wait(*state, mark, timing);
        if (still_waiting(*state, mark)) {
            sleep_on_bell(*state, &sleep_ms);
        }
    }
    clear_watchdog_thread_id();
}
