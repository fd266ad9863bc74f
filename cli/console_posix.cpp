// Terminal detection and the operator's interrupts on POSIX: SIGINT and SIGTERM are blocked in
// every thread and taken by one thread in sigwait, so that no work runs in a signal handler.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <system_error>
#include <thread>

#include "cli/cli.h"

namespace plccli {

bool ProgressIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool WatchInterrupts(void (*onInterrupt)(int exitStatus), std::string* error) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // Blocked before any other thread exists, so that every thread inherits the mask.
    int failed = pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (failed != 0) {
        *error = std::string("cannot take over Ctrl-C: ") + std::strerror(failed);
        return false;
    }
    try {
        std::thread([set, onInterrupt] {
            for (;;) {
                int signal = 0;
                if (sigwait(&set, &signal) != 0) continue;
                onInterrupt(signal == SIGINT ? EXIT_INTERRUPTED : EXIT_TERMINATED);
            }
        }).detach();
    } catch (const std::system_error& e) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        *error = std::string("cannot take over Ctrl-C: ") + e.what();
        return false;
    }
    return true;
}

}  // namespace plccli
