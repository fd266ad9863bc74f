// The bench's processes (Windows): one console program a port, in a job that ends them with the
// window, each followed through its --events on a pipe; Stop passes them the interrupt through
// an event they inherit, as the console program's several ports do.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "benchwin/event_line.h"

namespace plcbench {

class Workers {
  public:
    Workers() = default;
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;
    ~Workers();

    // A new bench of count ports: the job and a fresh interrupt event. False with the reason.
    bool Begin(size_t count, std::string* error);
    // Starts port index's worker with this command line.
    bool Start(size_t index, const std::string& commandLine, std::string* error);
    // What the workers have written since, line by line (their events, and what they said on
    // standard error), and the workers whose output has ended with their exit status.
    void Follow(const std::function<void(size_t index, const std::string& line)>& onLine,
                const std::function<void(size_t index, const std::string& line)>& onSaid,
                const std::function<void(size_t index, int exitStatus)>& onEnd);
    // Stop: each worker ends its unit in hand cleanly and records it. A worker still running
    // INTERRUPT_GRACE later is ended by Follow.
    void Interrupt();
    bool Interrupted() const { return interruptedAt_ != Clock::time_point{}; }
    bool AnyRunning() const;
    // Waits at most ms for every worker to end.
    void WaitForAll(DWORD ms) const;

  private:
    using Clock = std::chrono::steady_clock;
    struct Worker {
        HANDLE process = nullptr;
        HANDLE pipe = nullptr;    // its events
        HANDLE errors = nullptr;  // its standard error
        LineBuffer lines, said;
    };
    void Close();

    std::vector<Worker> workers_;
    HANDLE job_ = nullptr;
    HANDLE interrupt_ = nullptr;
    Clock::time_point interruptedAt_{};
};

// Runs the console program with these arguments to its end (at most timeoutMs) and gives its
// standard output. False with the reason when it did not run.
bool RunConsoleProgram(const std::string& commandLine, DWORD timeoutMs, std::string* output,
                       std::string* error);

}  // namespace plcbench
