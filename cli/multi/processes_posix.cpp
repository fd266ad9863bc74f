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
#include <cstring>
#include <ostream>

#include "cli/command/exit_status.h"
#include "cli/command/options.h"
#include "cli/multi/multi.h"
#include "cli/multi/processes.h"
#include "cli/program/io.h"
#include "cli/run/console.h"
#include "cli/run/redraw.h"

namespace plccli {

namespace {

using Clock = PortRow::Clock;

struct Worker {
    PortRow row;
    pid_t pid = -1;
    int fd = -1;
};

const int MAX_WORKERS = 256;
std::atomic<pid_t> gWorkerPids[MAX_WORKERS];
std::atomic<int> gWorkerCount{0};
std::atomic<int> gInterrupted{0};

// The child's side: the pipe as its standard output, nothing to read, its text discarded. It
// runs in a session of its own, so that neither the terminal's Ctrl-C (which this process passes
// on) nor its hangup reaches it, and it ignores a hangup: a port's process finishes its PLC and
// writes its record line even when this process dies. Its writes into the pipe wait while the
// pipe is full, so that no line, its outcome least of all, is lost: this process reads every
// pipe without pause, and the port's run hands its output to a writer thread, so that the wait
// never holds up its PLC. Once this process has gone the writes fail, and the run goes on.
[[noreturn]] void ExecWorker(int writeFd, const std::vector<std::string>& args) {
    setsid();
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
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
    std::vector<std::string> workerArgs = WorkerArgs(args, w->row.port);
    w->row.started = Clock::now();
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

// The worker's output has ended: how the process ended.
void Reap(Worker* w, const SeveralOutput& o) {
    close(w->fd);
    w->fd = -1;
    int status = 0;
    pid_t got;
    do got = waitpid(w->pid, &status, 0);
    while (got < 0 && errno == EINTR);
    if (got == w->pid && WIFEXITED(status))
        TakeExit(&w->row, WEXITSTATUS(status), 0, o);
    else if (got == w->pid && WIFSIGNALED(status))
        TakeExit(&w->row, EXIT_FAILED, WTERMSIG(status), o);
    else
        TakeExit(&w->row, EXIT_FAILED, 0, o);
}

// Reads what the worker wrote; false at the end of its output.
bool ReadWorker(Worker* w, const SeveralOutput& o) {
    char buffer[4096];
    ssize_t n = read(w->fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n <= 0) return false;
    TakeOutput(&w->row, buffer, static_cast<size_t>(n), o);
    return true;
}

std::vector<PortRow> Rows(const std::vector<Worker>& workers) {
    std::vector<PortRow> rows;
    for (const auto& w : workers) rows.push_back(w.row);
    return rows;
}

// Follows every worker until each output has ended.
void Follow(std::vector<Worker>& workers, const SeveralOutput& o) {
    bool drawn = false;
    bool live = o.Live();
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
            if (fds[i].revents != 0 && !ReadWorker(of[i], o)) Reap(of[i], o);
        if (live && Clock::now() - lastDraw >= std::chrono::milliseconds(200)) {
            DrawLive(Rows(workers), &drawn, o.err, TerminalWidth());
            lastDraw = Clock::now();
        }
        o.out.flush();
        o.err.flush();
    }
    if (live) DrawLive(Rows(workers), &drawn, o.err, TerminalWidth());
}

}  // namespace

bool ForwardToWorkers(int exitStatus) {
    int count = gWorkerCount.load();
    if (count == 0) return false;
    int signal = exitStatus - EXIT_SIGNAL_BASE;
    if (signal == SIGHUP) return true;
    gInterrupted = exitStatus;
    for (int i = 0; i < count; ++i) {
        pid_t pid = gWorkerPids[i].load();
        if (pid > 0) kill(pid, signal);
    }
    return true;
}

int RunMany(Io& io, const CliOptions& options, const std::vector<std::string>& args,
            const std::vector<std::string>& ports) {
    if (ports.size() > static_cast<size_t>(MAX_WORKERS)) {
        io.err << "plcfwupdate: at most " << MAX_WORKERS << " ports at once\n";
        return EXIT_USAGE;
    }
    SeveralOutput o = SeveralOutputOf(io, options);
    std::vector<Worker> workers(ports.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        workers[i].row.port = ports[i];
        std::string error;
        if (!Spawn(&workers[i], args, &error)) {
            StartFailed(&workers[i].row, error, o);
            continue;
        }
        gWorkerPids[i] = workers[i].pid;
        gWorkerCount = static_cast<int>(i) + 1;
    }
    if (gInterrupted.load() != 0) ForwardToWorkers(gInterrupted.load());
    Follow(workers, o);
    gWorkerCount = 0;
    std::vector<PortRow> rows = Rows(workers);
    PrintSummary(rows, o);
    return SeveralExitStatus(rows, gInterrupted.load(), io.err);
}

}  // namespace plccli
