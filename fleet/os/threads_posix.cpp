// Threads without signals on POSIX: the new thread inherits the mask of the thread that starts it.
#include <signal.h>

#include "os/threads.h"

namespace threads {

std::thread start_without_signals(std::function<void()> body) {
    sigset_t all;
    sigfillset(&all);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &all, &before);
    std::thread thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return thread;
}

}  // namespace threads
