// The terminal and the operator's interrupts, as each platform has them (console_posix.cpp,
// console_win.cpp).
#pragma once

#include <cstddef>
#include <string>

namespace plccli {

// Whether the standard error, where the status line goes, is a terminal (the line is redrawn in
// place there).
bool ProgressIsTerminal();
// The columns of the terminal on the standard error, read again on every call so that a resized
// window is followed; the COLUMNS variable where the terminal does not say; 80 when neither does.
size_t TerminalWidth();
// Whether the standard input is a terminal, where an operator can answer a question.
bool InputIsTerminal();
// Whether the standard output, where the table of several ports goes, is a terminal.
bool OutputIsTerminal();
// Whether the standard output and error are one file (the same terminal, pipe or file).
bool OutputAndErrorShareAFile();
// Call first: the standard descriptors (0 to 2) that are closed are opened on the null device,
// so that no link, record or trace takes one of them; a write into a pipe whose reader has gone
// fails instead of ending the process.
void KeepStandardStreams();
// From now on Ctrl-C, a request to end the process, a hangup and the other signals that would
// end it call onInterrupt (EXIT_SIGNAL_BASE + the signal's number) on a thread of its own;
// onInterrupt ends the process. Call it before any other thread starts. Returns false with the
// reason when the interrupts cannot be watched.
bool WatchInterrupts(void (*onInterrupt)(int exitStatus), std::string* error);

}  // namespace plccli
