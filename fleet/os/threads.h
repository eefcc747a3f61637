// Threads of the fleet's own beside the scheduler (the page's server). They take none of the
// process's signals: the interrupts are the scheduler's, caught while it waits, and a write to a
// connection a browser closed must fail rather than raise SIGPIPE. One implementation per platform
// (threads_posix.cpp, threads_win32.cpp).
#pragma once

#include <functional>
#include <thread>

namespace threads {

// Starts body on a new thread with every signal blocked; threads it starts inherit that.
std::thread start_without_signals(std::function<void()> body);

}  // namespace threads
