// The reply watchdog: a second thread that gives every blocking receive its sense of time. It
// prints progress characters while the main thread waits, repeats the last unanswered message once
// a second and ends the run after 20 seconds without any reply.
#pragma once

#include <atomic>
#include <cstdint>

// The record the main thread and the watchdog share. Every field is atomic, so each thread sees the
// other's writes without a lock; texts are pointers to constant strings, swapped whole.
struct WatchdogState {
    std::atomic<bool> running{false};         // the run is live
    std::atomic<std::uint32_t> thread_id{0};  // non-zero while the watchdog thread lives
    std::atomic<bool> waiting{false};         // a receive_message is in progress
    std::atomic<std::int32_t> silent_seconds{0};
    std::atomic<bool> quiet{false};  // no progress characters while set
    std::atomic<char> progress_char{'.'};
    std::atomic<const char*> timeout_line1{"timeout."};
    std::atomic<const char*> timeout_line2{"Target system not responding."};
    std::atomic<const unsigned char*> last_message{nullptr};  // what a repeat resends, or none
    std::atomic<std::int32_t> last_length{0};
    std::atomic<std::uint32_t> last_progress_tick{0};  // 0: not yet set in this wait
    std::atomic<bool> uploading{false};                // never repeat while set
    std::atomic<bool> cyclic{false};                   // pause 4 s between timeout lines and exit
    // The wait in progress or last begun: its serial number in the high 32 bits, the tick at which
    // it began in the low ones. Written by the main thread as a wait begins.
    std::atomic<std::uint64_t> wait_mark{0};
};

extern WatchdogState watchdog_state;

// Seconds of silence after which a wait ends the run.
inline constexpr std::int32_t kReplyTimeoutSeconds = 20;

// Starts the watchdog thread on watchdog_state; running must already be set.
void start_watchdog();

// The thread routine. Returns when running is found clear; at a timeout it ends the process.
void watchdog_thread(WatchdogState* state);

// Marks the beginning of a receive's wait (waiting set, a full allowance of seconds) and wakes
// the watchdog if it sleeps between waits. The watchdog never polls: it sleeps until the next
// second or progress character of the wait is due, until a wait begins, or until the run stops.
void begin_timed_wait();

// Wakes the watchdog at once; used when the run stops (running already clear).
void wake_watchdog();

// Says that the watchdog takes no further part in a shutdown (thread_id 0) and wakes the shutdown
// waiting for that.
void clear_watchdog_thread_id();

// Returns once thread_id is 0; sleeps meanwhile.
void await_watchdog_end();

// Sleeps on the watchdog's bell until done() holds; whoever makes it hold calls wake_watchdog().
// std::atomic's own wait is not used anywhere: the C++ library of mingw-w64 can lose its
// wake-ups, which would leave a thread asleep for ever.
void sleep_until(bool (*done)());

// True on the watchdog thread.
bool on_watchdog_thread();
