// The program's end: on an interrupt, within a bounded time, or at the end of main.
#pragma once

namespace plccli {

// The process's end on an interrupt, within about a second whatever the readers of its output
// do: the run's last line, its record and its outcome event, then the exit status (that of a run
// that already had its outcome, else exitStatus). During an update of several ports it only
// passes the interrupt on to their processes and returns: the program ends once they have, with
// the table of how each ended.
void OnInterrupt(int exitStatus);
// Whether an interrupt has come.
bool Interrupted();
// The end of main: the program's output written (after an interrupt, as far as its readers take
// it within a bounded time), then status.
int EndProgram(int status);

}  // namespace plccli
