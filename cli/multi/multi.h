// Several ports at once, what both platforms share: one row a port, taken from the --events
// lines of its process, the live lines, the summary table and the exit status. The processes
// themselves are started, read and ended in processes_posix.cpp and processes_win.cpp.
#pragma once

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

namespace plccli {

struct CliOptions;
struct Io;

struct PortRow {
    using Clock = std::chrono::steady_clock;
    std::string port;
    std::string pending;  // output of its process not yet ended by a line end
    std::string model, phase = "Starting", step, caption, message;
    int percent = 0, blocks = 0, errors = 0;
    int lastTens = -1;
    int exitStatus = -1;  // -1 while it runs
    bool outcomeSeen = false;
    Clock::time_point started, ended;
};

// Where the run of several ports reports. With events (--events given) out gets every event of
// every port with a "port" field and nothing else; quiet (-q), only the table; otherwise a
// terminal gets the live lines redrawn in place, a plain output the changes as lines that start
// with the port.
struct SeveralOutput {
    std::ostream& out;
    std::ostream& err;
    bool terminal;
    bool events;
    bool quiet = false;
    // The terminal takes escape sequences (not TERM=dumb): without them the changes are printed
    // as lines, as on a plain output.
    bool controls = true;
    // The columns the table and the live lines fit into; 0: the full text, for a program that
    // reads it.
    size_t width = 0;
    // The live lines redrawn in place.
    bool Live() const { return terminal && controls && !events && !quiet; }
    // The changes printed as lines that start with the port.
    bool Plain() const { return !Live() && !events && !quiet; }
};
// Where a run of several ports reports, for the program's output and options.
SeveralOutput SeveralOutputOf(Io& io, const CliOptions& options);
// An event line of a port's process with the port as its second field.
std::string WithPort(const std::string& eventLine, const std::string& port);

// What the process of a port wrote: each whole line is one event that updates the row and is
// reported as SeveralOutput says.
void TakeOutput(PortRow* row, const char* data, size_t len, const SeveralOutput& o);
// The process has ended with this status (signal: the number of the signal that ended it).
// Without an outcome line it failed whatever its status: the row says why.
void TakeExit(PortRow* row, int exitStatus, int signal, const SeveralOutput& o);
// A port whose process could not be started.
void StartFailed(PortRow* row, const std::string& error, const SeveralOutput& o);
// The rows redrawn in place on a terminal (moved up over the previous drawing when drawn), each
// cut to width.
void DrawLive(const std::vector<PortRow>& rows, bool* drawn, std::ostream& err, size_t width = 0);
// The table at the end (port, model, outcome, duration, errors, the final message); with
// events nothing. With a width its rows fit into it: a long port name loses its start, the
// message what does not fit.
void PrintSummary(const std::vector<PortRow>& rows, const SeveralOutput& o);
// The program's exit status: the interrupt's when there was one, else 0 only when every port
// succeeded, and 3 when they all did but a record line could not be written (said on err).
int SeveralExitStatus(const std::vector<PortRow>& rows, int interruptStatus, std::ostream& err);

}  // namespace plccli
