// Terminal detection and the operator's interrupts on POSIX: the signals that end a process
// unless it takes them (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM) are blocked
// in every thread and taken by one thread in sigwait, so that no work runs in a signal handler.
// A hangup that was ignored when the program started (nohup, or the process of one port of
// several) stays ignored.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "cli/command/exit_status.h"
#include "cli/run/console.h"

namespace plccli {

bool ProgressIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool InputIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

bool OutputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

size_t TerminalWidth() {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    const char* columns = std::getenv("COLUMNS");
    long value = columns != nullptr ? std::strtol(columns, nullptr, 10) : 0;
    return value > 0 && value < 10000 ? static_cast<size_t>(value) : 80;
}

bool OutputAndErrorShareAFile() {
    struct stat out {};
    struct stat err {};
    return fstat(STDOUT_FILENO, &out) != 0 || fstat(STDERR_FILENO, &err) != 0 ||
           (out.st_dev == err.st_dev && out.st_ino == err.st_ino);
}

void KeepStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // The lowest free descriptor: this one.
            int null = open("/dev/null", O_RDWR);
            if (null >= 0 && null != fd) close(null);
        }
    // A reader that went away costs the output, never the run.
    signal(SIGPIPE, SIG_IGN);
}

bool WatchInterrupts(void (*onInterrupt)(int exitStatus), std::string* error) {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM})
        sigaddset(&set, signal);
    struct sigaction hangup {};
    if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler != SIG_IGN)
        sigaddset(&set, SIGHUP);
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
                onInterrupt(EXIT_SIGNAL_BASE + signal);
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
