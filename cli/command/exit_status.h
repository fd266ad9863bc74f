// The program's exit statuses.
#pragma once

namespace plccli {

enum ExitStatus {
    EXIT_SUCCESSFUL = 0,
    EXIT_FAILED = 1,
    EXIT_USAGE = 2,
    // The update succeeded, but its --record line or its --trace could not be written whole.
    EXIT_NOT_RECORDED = 3,
    // --info: the PLC answered, and the update would stop before changing it.
    EXIT_WOULD_STOP = 4,
    // A run ended by a signal: 128 + the signal's number (Windows: Ctrl-C as SIGINT, the console
    // closed as SIGTERM).
    EXIT_SIGNAL_BASE = 128,
    EXIT_INTERRUPTED = 130,  // Ctrl-C (SIGINT)
    EXIT_TERMINATED = 143,   // SIGTERM, or the console closed
};

}  // namespace plccli
