// Several ports at once: one process of this program for each port, each followed through its
// --events on a pipe. A port that fails, loses its link or hangs holds up none of the others.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "cli/cli.h"
#include "update/update.h"

namespace plccli {

namespace {

using Clock = std::chrono::steady_clock;

struct Worker {
    std::string port;
    pid_t pid = -1;
    int fd = -1;
    std::string pending;  // a line not yet ended
    std::string model, phase = "Starting", step, caption, message;
    int percent = 0, blocks = 0, errors = 0;
    int lastTens = -1;
    int exitStatus = -1;  // -1 while it runs
    bool outcomeSeen = false;
    Clock::time_point started, ended;
};

const int MAX_WORKERS = 256;
std::atomic<pid_t> gWorkerPids[MAX_WORKERS];
std::atomic<int> gWorkerCount{0};
std::atomic<int> gInterrupted{0};

// The child's side: the pipe as its standard output, nothing to read, its text discarded. It
// runs in a session of its own, so that neither the terminal's Ctrl-C (which this process passes
// on) nor its hangup reaches it, and it ignores a hangup: a port's process finishes its PLC and
// writes its record line even when this process dies. Its output never waits for this process:
// once the pipe is full or this process has gone, the output is lost, not the run.
[[noreturn]] void ExecWorker(int writeFd, const std::vector<std::string>& args) {
    setsid();
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    fcntl(writeFd, F_SETFL, fcntl(writeFd, F_GETFL) | O_NONBLOCK);
    dup2(writeFd, STDOUT_FILENO);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDERR_FILENO);
    }
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    std::vector<char*> argv;
    static char name[] = "plcfwupdate";
    argv.push_back(name);
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
}

bool Spawn(Worker* w, const std::vector<std::string>& args, std::string* error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<std::string> workerArgs = WorkerArgs(args, w->port);
    w->started = Clock::now();
    pid_t pid = fork();
    if (pid < 0) {
        *error = std::string("cannot start a process: ") + std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) ExecWorker(fds[1], workerArgs);
    close(fds[1]);
    w->pid = pid;
    w->fd = fds[0];
    return true;
}

std::string Seconds(Clock::duration d) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(d).count());
    return text;
}

bool Succeeded(const Worker& w) {
    return w.exitStatus == EXIT_SUCCESSFUL || w.exitStatus == EXIT_NOT_RECORDED;
}

std::string OutcomeWord(const Worker& w) {
    if (Succeeded(w)) return "succeeded";
    if (w.exitStatus == EXIT_INTERRUPTED || w.exitStatus == EXIT_TERMINATED ||
        w.exitStatus == EXIT_HANGUP)
        return "interrupted";
    return "FAILED";
}

bool Flashing(const Worker& w) {
    return w.phase == PhaseName(ERASE) || w.phase == PhaseName(PROGRAM);
}

// What a running port does: the phase while it erases or writes, before that the step it is in
// (connecting, waiting for the replug...), which the phase word "Idle" does not tell.
std::string RunningState(const Worker& w) {
    return Flashing(w) || w.step.empty() ? w.phase : w.step;
}

std::string LiveLine(const Worker& w) {
    char text[256];
    std::string state = w.exitStatus >= 0 ? OutcomeWord(w) : RunningState(w);
    std::snprintf(text, sizeof text, "%-24s %-10s %-23s %3d%%  errors %d", w.port.c_str(),
                  w.model.c_str(), state.c_str(), w.percent, w.errors);
    return text;
}

// One event line of a worker: its state, and on a plain output the line it prints.
void TakeEvent(Worker* w, const std::string& line, bool terminal, std::ostream& out,
               std::ostream& err) {
    std::string event = EventField(line, "event");
    std::string tag = w->port + ": ";
    if (event == "start") {
        w->model = EventField(line, "model");
    } else if (event == "phase") {
        w->phase = EventField(line, "status");
        // "Idle" says less than the steps that follow it.
        if (!terminal && !w->phase.empty() && w->phase != PhaseName(IDLE))
            err << tag << w->phase << '\n';
    } else if (event == "progress") {
        w->percent = std::atoi(EventField(line, "percent").c_str());
        w->blocks = std::atoi(EventField(line, "blocks").c_str());
        w->errors = std::atoi(EventField(line, "errors").c_str());
        std::string step = EventField(line, "step");
        if (!terminal && !step.empty() && step != w->step && !Flashing(*w))
            err << tag << step << '\n';
        w->step = step;
        if (!terminal && w->percent / 10 != w->lastTens)
            err << tag << w->percent << "% (" << w->blocks << " blocks, errors " << w->errors
                << ")\n";
        w->lastTens = w->percent / 10;
    } else if (event == "prompt") {
        if (!terminal)
            err << tag << "[" << EventField(line, "caption") << "] " << EventField(line, "message")
                << " (answered)\n";
    } else if (event == "outcome") {
        w->outcomeSeen = true;
        w->caption = EventField(line, "caption");
        w->message = EventField(line, "message");
        w->errors = std::atoi(EventField(line, "errors").c_str());
        if (!terminal)
            out << tag
                << (w->caption.empty() ? w->message
                                       : MessageLine(w->caption.c_str(), w->message.c_str()))
                << '\n';
    }
}

// The worker's output has ended: how the process ended.
void Reap(Worker* w) {
    close(w->fd);
    w->fd = -1;
    int status = 0;
    pid_t got;
    do got = waitpid(w->pid, &status, 0);
    while (got < 0 && errno == EINTR);
    w->ended = Clock::now();
    if (got == w->pid && WIFEXITED(status))
        w->exitStatus = WEXITSTATUS(status);
    else
        w->exitStatus = got == w->pid && WIFSIGNALED(status) ? 128 + WTERMSIG(status) : EXIT_FAILED;
    if (!w->outcomeSeen) {
        w->caption = CAPTION_ERROR;
        w->message = w->exitStatus == 127 ? "the worker process could not start"
                     : w->exitStatus > 128
                         ? "the worker process was ended by signal " +
                               std::to_string(w->exitStatus - 128)
                         : "the worker process ended without an outcome";
        if (w->exitStatus == EXIT_SUCCESSFUL) w->exitStatus = EXIT_FAILED;
    }
}

// Reads what the worker wrote; false at the end of its output.
bool ReadWorker(Worker* w, bool terminal, std::ostream& out, std::ostream& err) {
    char buffer[4096];
    ssize_t n = read(w->fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n <= 0) return false;
    w->pending.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = w->pending.find('\n')) != std::string::npos) {
        TakeEvent(w, w->pending.substr(0, end), terminal, out, err);
        w->pending.erase(0, end + 1);
    }
    return true;
}

void DrawLive(const std::vector<Worker>& workers, bool* drawn, std::ostream& err) {
    if (*drawn) err << "\033[" << workers.size() << "A";
    for (const auto& w : workers) err << '\r' << LiveLine(w) << "\033[K\n";
    err.flush();
    *drawn = true;
}

void PrintSummary(const std::vector<Worker>& workers, std::ostream& out) {
    char text[512];
    std::snprintf(text, sizeof text, "%-24s %-10s %-11s %9s %6s  %s\n", "PORT", "MODEL", "OUTCOME",
                  "DURATION", "ERRORS", "MESSAGE");
    out << text;
    for (const auto& w : workers) {
        std::string message = w.caption.empty() ? w.message : "[" + w.caption + "] " + w.message;
        std::snprintf(text, sizeof text, "%-24s %-10s %-11s %9s %6d  %s\n", w.port.c_str(),
                      w.model.c_str(), OutcomeWord(w).c_str(),
                      Seconds(w.ended - w.started).c_str(), w.errors, message.c_str());
        out << text;
    }
    out.flush();
}

// Follows every worker until each output has ended.
void Follow(std::vector<Worker>& workers, Io& io) {
    bool drawn = false;
    Clock::time_point lastDraw{};
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Worker*> of;
        for (auto& w : workers)
            if (w.fd >= 0) {
                fds.push_back(pollfd{w.fd, POLLIN, 0});
                of.push_back(&w);
            }
        if (fds.empty()) break;
        int ready = poll(fds.data(), fds.size(), 200);
        for (size_t i = 0; ready > 0 && i < fds.size(); ++i)
            if (fds[i].revents != 0 && !ReadWorker(of[i], io.terminal, io.out, io.err))
                Reap(of[i]);
        if (io.terminal && Clock::now() - lastDraw >= std::chrono::milliseconds(200)) {
            DrawLive(workers, &drawn, io.err);
            lastDraw = Clock::now();
        }
        io.out.flush();
        io.err.flush();
    }
    if (io.terminal) DrawLive(workers, &drawn, io.err);
}

}  // namespace

bool ForwardToWorkers(int exitStatus) {
    int count = gWorkerCount.load();
    if (count == 0) return false;
    if (exitStatus == EXIT_HANGUP) return true;
    gInterrupted = exitStatus;
    int signal = exitStatus == EXIT_INTERRUPTED ? SIGINT : SIGTERM;
    for (int i = 0; i < count; ++i) {
        pid_t pid = gWorkerPids[i].load();
        if (pid > 0) kill(pid, signal);
    }
    return true;
}

int RunMany(Io& io, const std::vector<std::string>& args, const std::vector<std::string>& ports) {
    if (ports.size() > static_cast<size_t>(MAX_WORKERS)) {
        io.err << "plcfwupdate: at most " << MAX_WORKERS << " ports at once\n";
        return EXIT_USAGE;
    }
    std::vector<Worker> workers(ports.size());
    int failedToStart = 0;
    for (size_t i = 0; i < ports.size(); ++i) {
        workers[i].port = ports[i];
        std::string error;
        if (!Spawn(&workers[i], args, &error)) {
            workers[i].exitStatus = EXIT_FAILED;
            workers[i].caption = CAPTION_ERROR;
            workers[i].message = error;
            workers[i].ended = workers[i].started = Clock::now();
            ++failedToStart;
            continue;
        }
        gWorkerPids[i] = workers[i].pid;
        gWorkerCount = static_cast<int>(i) + 1;
    }
    if (gInterrupted.load() != 0) ForwardToWorkers(gInterrupted.load());
    Follow(workers, io);
    gWorkerCount = 0;
    PrintSummary(workers, io.out);
    if (gInterrupted.load() != 0) return gInterrupted.load();
    bool unrecorded = false;
    for (const auto& w : workers) {
        if (!Succeeded(w)) return EXIT_FAILED;
        if (w.exitStatus == EXIT_NOT_RECORDED) {
            io.err << "plcfwupdate: " << w.port
                   << ": the update succeeded, but its record line could not be written\n";
            unrecorded = true;
        }
    }
    if (failedToStart != 0) return EXIT_FAILED;
    return unrecorded ? EXIT_NOT_RECORDED : EXIT_SUCCESSFUL;
}

}  // namespace plccli
