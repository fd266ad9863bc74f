// Several ports at once: one process of this program for each port, started, followed and
// ended by processes_posix.cpp and processes_win.cpp.
#pragma once

#include <string>
#include <vector>

namespace plccli {

struct CliOptions;
struct Io;

// Several ports at once: this program once more for each port, with --events, the live status of
// each and a table at the end (options: --events and -q). Exit 0 only when every port succeeded.
int RunMany(Io& io, const CliOptions& options, const std::vector<std::string>& args,
            const std::vector<std::string>& ports);
// The arguments of one port's run: args without its ports, with --port PORT and --events.
std::vector<std::string> WorkerArgs(const std::vector<std::string>& args, const std::string& port);
// Sends the interrupt to the processes of an update of several ports (the same signal); false
// when none runs. A hangup is not passed on: the ports' processes finish their PLCs.
bool ForwardToWorkers(int exitStatus);

// In a worker of several ports on Windows: the parent's Ctrl-C, passed on through an inherited
// event, calls onInterrupt(EXIT_INTERRUPTED) on a thread of its own. Nothing elsewhere.
void WatchParentInterrupt(void (*onInterrupt)(int exitStatus));

// A Windows command line that the C runtime splits back into exactly these arguments: each
// one quoted where it holds a space, a tab or a quote, or is empty, backslashes doubled only
// before a quote.
std::string WindowsCommandLine(const std::vector<std::string>& argv);

}  // namespace plccli
