// Several ports at once on Windows: one process of this program for each port (CreateProcess),
// each followed through its --events on a pipe. The processes are in a job that ends them with
// this program, so none keeps writing a PLC when nobody reads its report. Each has a process
// group of its own, which keeps a Ctrl-C typed on the console from reaching it directly: this
// program passes it on through an event that every worker inherits and watches from its start
// (it works with or without a console), and each worker ends its run and writes its record: one
// started after the Ctrl-C ends its run as soon as it has begun, before anything goes to its
// PLC. A closed console reaches every process by itself.
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "cli/command/exit_status.h"
#include "cli/command/options.h"
#include "cli/multi/multi.h"
#include "cli/multi/processes.h"
#include "cli/program/io.h"
#include "cli/program/run_end.h"
#include "cli/run/console.h"
#include "cli/run/redraw.h"

namespace plccli {

namespace {

using Clock = PortRow::Clock;

struct Worker {
    PortRow row;
    HANDLE process = nullptr;
    HANDLE pipe = nullptr;  // the read end of its standard output
};

const int MAX_WORKERS = 64;
// A process that has not ended this long after the interrupt was passed on is ended.
const std::chrono::seconds INTERRUPT_GRACE{10};
const DWORD FOLLOW_PAUSE_MS = 50;
// A worker's ending after a closed console: the system ends this program when its handler
// returns, and the job the workers with it, so the handler waits for them at most this long.
const DWORD CLOSE_WAIT_MS = 4000;
std::atomic<DWORD> gWorkerIds[MAX_WORKERS];
HANDLE gWorkerHandles[MAX_WORKERS];  // for the console's handler; never closed
std::atomic<int> gWorkerCount{0};
// From the interrupt event's making to the end of the workers: an interrupt is theirs.
std::atomic<bool> gSeveral{false};
std::atomic<int> gInterrupted{0};
std::atomic<bool> gForwarded{false};
HANDLE gInterruptEvent = nullptr;  // set once on Ctrl-C; the workers inherit it
// The environment variable that names the inherited event to a worker, as a number.
const char INTERRUPT_EVENT_VARIABLE[] = "PLCFW_PARENT_INTERRUPT";
void (*gWorkerOnInterrupt)(int) = nullptr;

// How long a worker that was interrupted before its run began waits for the run to begin, so
// that the interrupt ends it with its record (a run begins within a fraction of a second of the
// start; a station, which begins one only when a unit answers, ends with its tally after it).
const std::chrono::seconds RUN_BEGIN_WAIT{2};

DWORD WINAPI WatchParent(void* event) {
    if (WaitForSingleObject(static_cast<HANDLE>(event), INFINITE) != WAIT_OBJECT_0 ||
        gWorkerOnInterrupt == nullptr)
        return 0;
    TheRunEnd().WaitBegun(RUN_BEGIN_WAIT);
    gWorkerOnInterrupt(EXIT_INTERRUPTED);
    return 0;
}

std::string SystemError(const char* what) {
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

// The job that ends every worker when this program ends, however it ends.
HANDLE MakeJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

// Starts the worker suspended in a process group of its own. It inherits only the handles named
// (its pipe end, NUL, the interrupt event), not whatever else this process holds inheritable (a
// caller's capture pipe would stay open while it runs); where the system cannot name them, it
// inherits as before.
BOOL StartWorkerProcess(const char* exe, std::string* line, STARTUPINFOEXA* si,
                        std::vector<HANDLE>* handles, PROCESS_INFORMATION* pi) {
    const DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED;
    SIZE_T bytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &bytes);
    std::vector<char> storage(bytes);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (bytes == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &bytes))
        return CreateProcessA(exe, line->data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                              &si->StartupInfo, pi);
    BOOL made = FALSE;
    if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles->data(),
                                  handles->size() * sizeof(HANDLE), nullptr, nullptr)) {
        si->StartupInfo.cb = sizeof *si;
        si->lpAttributeList = list;
        made = CreateProcessA(exe, line->data(), nullptr, nullptr, TRUE,
                              flags | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                              &si->StartupInfo, pi);
        si->StartupInfo.cb = sizeof si->StartupInfo;
        si->lpAttributeList = nullptr;
    }
    DeleteProcThreadAttributeList(list);
    if (made) return TRUE;
    return CreateProcessA(exe, line->data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                          &si->StartupInfo, pi);
}

bool Spawn(Worker* w, const std::vector<std::string>& args, HANDLE job, HANDLE nul,
           std::string* error) {
    char exe[MAX_PATH];
    DWORD len = GetModuleFileNameA(nullptr, exe, sizeof exe);
    if (len == 0 || len >= sizeof exe) {
        *error = SystemError("cannot find this program's file");
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        *error = SystemError("cannot make a pipe");
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::vector<std::string> argv{exe};
    for (const auto& a : WorkerArgs(args, w->row.port)) argv.push_back(a);
    std::string line = WindowsCommandLine(argv);
    STARTUPINFOEXA si{};
    si.StartupInfo.cb = sizeof si.StartupInfo;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = nul;
    si.StartupInfo.hStdOutput = writeEnd;
    si.StartupInfo.hStdError = nul;
    std::vector<HANDLE> inherited{writeEnd};
    if (nul != INVALID_HANDLE_VALUE) inherited.push_back(nul);
    if (gInterruptEvent != nullptr) inherited.push_back(gInterruptEvent);
    PROCESS_INFORMATION pi{};
    w->row.started = Clock::now();
    BOOL made = StartWorkerProcess(exe, &line, &si, &inherited, &pi);
    CloseHandle(writeEnd);
    if (!made) {
        *error = SystemError("cannot start a process");
        CloseHandle(readEnd);
        return false;
    }
    // Without the job (a job of the caller's may refuse it) the interrupt still reaches it.
    if (job != nullptr) AssignProcessToJobObject(job, pi.hProcess);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    w->process = pi.hProcess;
    w->pipe = readEnd;
    return true;
}

// Reads what the worker has written so far; false at the end of its output.
bool ReadWorker(Worker* w, const SeveralOutput& o) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(w->pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available == 0) return true;
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(w->pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &got,
                      nullptr) ||
            got == 0)
            return false;
        TakeOutput(&w->row, buffer, got, o);
    }
}

// The worker's output has ended: how its process ended.
void Reap(Worker* w, const SeveralOutput& o) {
    CloseHandle(w->pipe);
    w->pipe = nullptr;
    WaitForSingleObject(w->process, INFINITE);
    DWORD code = EXIT_FAILED;
    GetExitCodeProcess(w->process, &code);
    CloseHandle(w->process);
    w->process = nullptr;
    TakeExit(&w->row, static_cast<int>(code), 0, o);
}

std::vector<PortRow> Rows(const std::vector<Worker>& workers) {
    std::vector<PortRow> rows;
    for (const auto& w : workers) rows.push_back(w.row);
    return rows;
}

// Ends the processes that outlived the interrupt by its grace time.
void EndStragglers(std::vector<Worker>& workers, Clock::time_point interruptedAt) {
    if (Clock::now() - interruptedAt < INTERRUPT_GRACE) return;
    for (auto& w : workers)
        if (w.process != nullptr) TerminateProcess(w.process, EXIT_TERMINATED);
}

// Follows every worker until each output has ended.
void Follow(std::vector<Worker>& workers, const SeveralOutput& o) {
    bool drawn = false;
    bool live = o.Live();
    Clock::time_point lastDraw{}, interruptedAt{};
    for (;;) {
        bool any = false;
        for (auto& w : workers) {
            if (w.pipe == nullptr) continue;
            if (ReadWorker(&w, o))
                any = true;
            else
                Reap(&w, o);
        }
        if (!any) break;
        if (gForwarded.load() && interruptedAt == Clock::time_point{}) interruptedAt = Clock::now();
        if (interruptedAt != Clock::time_point{}) EndStragglers(workers, interruptedAt);
        if (live && Clock::now() - lastDraw >= std::chrono::milliseconds(200)) {
            DrawLive(Rows(workers), &drawn, o.err, TerminalWidth());
            lastDraw = Clock::now();
        }
        o.out.flush();
        o.err.flush();
        Sleep(FOLLOW_PAUSE_MS);
    }
    if (live) DrawLive(Rows(workers), &drawn, o.err, TerminalWidth());
}

}  // namespace

void WatchParentInterrupt(void (*onInterrupt)(int exitStatus)) {
    char text[32];
    DWORD len = GetEnvironmentVariableA(INTERRUPT_EVENT_VARIABLE, text, sizeof text);
    if (len == 0 || len >= sizeof text) return;
    SetEnvironmentVariableA(INTERRUPT_EVENT_VARIABLE, nullptr);
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    HANDLE event = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
    if (end == text || *end != '\0') return;
    // An event already set is the parent's interrupt before this process began: its run ends
    // as soon as it has begun, with its record.
    DWORD state = WaitForSingleObject(event, 0);
    if (state != WAIT_TIMEOUT && state != WAIT_OBJECT_0) return;
    gWorkerOnInterrupt = onInterrupt;
    HANDLE thread = CreateThread(nullptr, 0, &WatchParent, event, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
}

bool ForwardToWorkers(int exitStatus) {
    if (!gSeveral.load()) return false;
    int count = gWorkerCount.load();
    int expected = 0;
    gInterrupted.compare_exchange_strong(expected, exitStatus);
    // A closed console, a log-off or a shutdown reaches every process on the console by
    // itself; a Ctrl-C does not reach the workers' groups, so it is passed on, once.
    if (exitStatus == EXIT_INTERRUPTED) {
        if (!gForwarded.exchange(true) && gInterruptEvent != nullptr) SetEvent(gInterruptEvent);
        return true;
    }
    std::vector<HANDLE> running;
    for (int i = 0; i < count; ++i)
        if (gWorkerHandles[i] != nullptr) running.push_back(gWorkerHandles[i]);
    if (!running.empty())
        WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), TRUE,
                               CLOSE_WAIT_MS);
    return true;
}

int RunMany(Io& io, const CliOptions& options, const std::vector<std::string>& args,
            const std::vector<std::string>& ports) {
    if (ports.size() > static_cast<size_t>(MAX_WORKERS)) {
        io.err << "plcfwupdate: at most " << MAX_WORKERS << " ports at once\n";
        return EXIT_USAGE;
    }
    SeveralOutput o = SeveralOutputOf(io, options);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE nul =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE job = MakeJob();
    gInterruptEvent = CreateEventA(&inherit, TRUE, FALSE, nullptr);
    if (gInterruptEvent != nullptr)
        SetEnvironmentVariableA(
            INTERRUPT_EVENT_VARIABLE,
            std::to_string(reinterpret_cast<uintptr_t>(gInterruptEvent)).c_str());
    // A Ctrl-C from here on sets the event, which every worker watches from its start, whenever
    // it was started: one started after it ends its run at once, with its record.
    gSeveral = gInterruptEvent != nullptr;
    std::vector<Worker> workers(ports.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        workers[i].row.port = ports[i];
        std::string error;
        if (!Spawn(&workers[i], args, job, nul, &error)) {
            StartFailed(&workers[i].row, error, o);
            continue;
        }
        gWorkerIds[i] = GetProcessId(workers[i].process);
        DuplicateHandle(GetCurrentProcess(), workers[i].process, GetCurrentProcess(),
                        &gWorkerHandles[i], SYNCHRONIZE, FALSE, 0);
        gWorkerCount = static_cast<int>(i) + 1;
    }
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    Follow(workers, o);
    gSeveral = false;
    gWorkerCount = 0;
    if (job != nullptr) CloseHandle(job);
    std::vector<PortRow> rows = Rows(workers);
    PrintSummary(rows, o);
    return SeveralExitStatus(rows, gInterrupted.load(), io.err);
}

}  // namespace plccli

#endif  // _WIN32
