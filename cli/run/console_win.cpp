// Terminal detection and the operator's interrupts on Windows: the console's control handler,
// which the system calls on a thread of its own.
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include <windows.h>

#include "cli/command/exit_status.h"
#include "cli/multi/processes.h"
#include "cli/run/console.h"

namespace plccli {

namespace {

void (*gOnInterrupt)(int) = nullptr;

BOOL WINAPI ConsoleControl(DWORD event) {
    if (gOnInterrupt == nullptr) return FALSE;
    gOnInterrupt(event == CTRL_C_EVENT ? EXIT_INTERRUPTED : EXIT_TERMINATED);
    return TRUE;
}

}  // namespace

bool ProgressIsTerminal() {
    HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode)) return false;
    // The status line is redrawn with \r and the escape that clears to the line's end.
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

bool InputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}

bool OutputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

size_t TerminalWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) && info.dwSize.X > 0)
        return static_cast<size_t>(info.dwSize.X);
    return 80;
}

// A console, where the two meet, is the common case; their order is kept.
bool OutputAndErrorShareAFile() {
    return true;
}

void KeepStandardStreams() {}

bool WatchInterrupts(void (*onInterrupt)(int exitStatus), std::string* error) {
    gOnInterrupt = onInterrupt;
    WatchParentInterrupt(onInterrupt);
    if (SetConsoleCtrlHandler(&ConsoleControl, TRUE)) return true;
    *error = "cannot take over Ctrl-C (error " + std::to_string(GetLastError()) + ")";
    return false;
}

}  // namespace plccli

#endif  // _WIN32
