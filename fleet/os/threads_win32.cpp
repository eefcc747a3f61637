// Threads on Windows, where Ctrl-C comes on a thread of the system's own and there is no SIGPIPE.
#include "os/threads.h"

namespace threads {

std::thread start_without_signals(std::function<void()> body) {
    return std::thread(std::move(body));
}

}  // namespace threads
