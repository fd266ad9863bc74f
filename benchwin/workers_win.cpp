// The bench's processes: one console station a port, in a job, followed through pipes.
//
// The interrupt reaches the workers as it reaches those of the console's several ports
// (cli/multi/processes_win.cpp): an inheritable manual-reset event whose handle value is given
// to each worker in PLCFW_PARENT_INTERRUPT; the worker watches it and, once it is set, ends its
// run as on Ctrl-C, its record and tally written. The few lines that make and pass the event are
// repeated here rather than shared, as that file is the console's own.
#include "benchwin/workers_win.h"

#include <cstdint>

namespace plcbench {

namespace {

// The variable that names the inherited event to a worker, as a number.
const char INTERRUPT_EVENT_VARIABLE[] = "PLCFW_PARENT_INTERRUPT";
// A worker that has not ended this long after the interrupt is ended.
const std::chrono::seconds INTERRUPT_GRACE{10};
const int EXIT_TERMINATED = 143;
// Room in each pipe: a worker never waits for the window's next look at it.
const DWORD PIPE_BYTES = 64 * 1024;

std::string SystemError(const std::string& what) {
    return what + " (error " + std::to_string(GetLastError()) + ")";
}

HANDLE MakeJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

// A pipe whose write end a child inherits and whose read end stays here.
bool MakePipe(HANDLE* readEnd, HANDLE* writeEnd, std::string* error) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(readEnd, writeEnd, &inherit, PIPE_BYTES)) {
        *error = SystemError("cannot make a pipe");
        return false;
    }
    SetHandleInformation(*readEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}

// A process of the console program without a console window, its standard output the write end
// of a new pipe (its read end in *readEnd), its errors those of another (*errorEnd; NUL when
// errorEnd is null), its input NUL.
bool Spawn(const std::string& commandLine, HANDLE job, PROCESS_INFORMATION* pi, HANDLE* readEnd,
           HANDLE* errorEnd, std::string* error) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE writeEnd = nullptr, errorWrite = nullptr;
    if (!MakePipe(readEnd, &writeEnd, error)) return false;
    if (errorEnd != nullptr && !MakePipe(errorEnd, &errorWrite, error)) {
        CloseHandle(*readEnd);
        CloseHandle(writeEnd);
        return false;
    }
    HANDLE nul =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = writeEnd;
    si.hStdError = errorWrite != nullptr ? errorWrite : nul;
    std::string line = commandLine;
    BOOL made = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE,
                               CREATE_NEW_PROCESS_GROUP | CREATE_NO_WINDOW | CREATE_SUSPENDED,
                               nullptr, nullptr, &si, pi);
    if (!made) *error = SystemError("cannot start the console program");
    CloseHandle(writeEnd);
    if (errorWrite != nullptr) CloseHandle(errorWrite);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!made) {
        CloseHandle(*readEnd);
        *readEnd = nullptr;
        if (errorEnd != nullptr) {
            CloseHandle(*errorEnd);
            *errorEnd = nullptr;
        }
        return false;
    }
    if (job != nullptr) AssignProcessToJobObject(job, pi->hProcess);
    ResumeThread(pi->hThread);
    CloseHandle(pi->hThread);
    return true;
}

}  // namespace

Workers::~Workers() {
    Close();
}

void Workers::Close() {
    for (auto& w : workers_) {
        if (w.pipe != nullptr) CloseHandle(w.pipe);
        if (w.errors != nullptr) CloseHandle(w.errors);
        if (w.process != nullptr) CloseHandle(w.process);
    }
    workers_.clear();
    // Closing the job ends every process still in it.
    if (job_ != nullptr) CloseHandle(job_);
    if (interrupt_ != nullptr) CloseHandle(interrupt_);
    job_ = nullptr;
    interrupt_ = nullptr;
    interruptedAt_ = Clock::time_point{};
}

bool Workers::Begin(size_t count, std::string* error) {
    Close();
    workers_.resize(count);
    job_ = MakeJob();
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    interrupt_ = CreateEventA(&inherit, TRUE, FALSE, nullptr);
    if (interrupt_ == nullptr) {
        *error = SystemError("cannot make the interrupt event");
        return false;
    }
    // Every worker started from here on inherits the variable with the handle.
    SetEnvironmentVariableA(INTERRUPT_EVENT_VARIABLE,
                            std::to_string(reinterpret_cast<uintptr_t>(interrupt_)).c_str());
    return true;
}

bool Workers::Start(size_t index, const std::string& commandLine, std::string* error) {
    if (index >= workers_.size()) return false;
    PROCESS_INFORMATION pi{};
    HANDLE readEnd = nullptr, errorEnd = nullptr;
    if (!Spawn(commandLine, job_, &pi, &readEnd, &errorEnd, error)) return false;
    workers_[index].process = pi.hProcess;
    workers_[index].pipe = readEnd;
    workers_[index].errors = errorEnd;
    // A Stop while the workers were being started reaches the later ones too: the event stays
    // set, and each sees it as soon as it watches.
    return true;
}

namespace {

// Reads what is in the pipe now, line by line; false once it has ended.
bool ReadPipe(HANDLE pipe, LineBuffer* lines, const std::function<void(const std::string&)>& take) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available == 0) return true;
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &got,
                      nullptr) ||
            got == 0)
            return false;
        for (const auto& line : lines->Take(buffer, got)) take(line);
    }
}

}  // namespace

void Workers::Follow(const std::function<void(size_t, const std::string&)>& onLine,
                     const std::function<void(size_t, const std::string&)>& onSaid,
                     const std::function<void(size_t, int)>& onEnd) {
    for (size_t i = 0; i < workers_.size(); ++i) {
        Worker& w = workers_[i];
        if (w.errors != nullptr &&
            !ReadPipe(w.errors, &w.said, [&](const std::string& line) { onSaid(i, line); })) {
            CloseHandle(w.errors);
            w.errors = nullptr;
        }
        if (w.pipe == nullptr) continue;
        if (ReadPipe(w.pipe, &w.lines, [&](const std::string& line) { onLine(i, line); })) continue;
        // The events have ended: what it still said, and how it ended.
        if (w.errors != nullptr) {
            WaitForSingleObject(w.process, 5000);
            ReadPipe(w.errors, &w.said, [&](const std::string& line) { onSaid(i, line); });
            CloseHandle(w.errors);
            w.errors = nullptr;
        }
        CloseHandle(w.pipe);
        w.pipe = nullptr;
        WaitForSingleObject(w.process, 5000);
        DWORD code = EXIT_TERMINATED;
        GetExitCodeProcess(w.process, &code);
        CloseHandle(w.process);
        w.process = nullptr;
        onEnd(i, static_cast<int>(code));
    }
    if (Interrupted() && Clock::now() - interruptedAt_ >= INTERRUPT_GRACE)
        for (auto& w : workers_)
            if (w.process != nullptr) TerminateProcess(w.process, EXIT_TERMINATED);
}

void Workers::Interrupt() {
    if (Interrupted() || interrupt_ == nullptr) return;
    interruptedAt_ = Clock::now();
    SetEvent(interrupt_);
}

bool Workers::AnyRunning() const {
    for (const auto& w : workers_)
        if (w.pipe != nullptr) return true;
    return false;
}

void Workers::WaitForAll(DWORD ms) const {
    std::vector<HANDLE> running;
    for (const auto& w : workers_)
        if (w.process != nullptr) running.push_back(w.process);
    if (!running.empty())
        WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), TRUE, ms);
}

bool RunConsoleProgram(const std::string& commandLine, DWORD timeoutMs, std::string* output,
                       std::string* error) {
    PROCESS_INFORMATION pi{};
    HANDLE readEnd = nullptr;
    HANDLE job = MakeJob();
    if (!Spawn(commandLine, job, &pi, &readEnd, nullptr, error)) {
        if (job != nullptr) CloseHandle(job);
        return false;
    }
    output->clear();
    DWORD began = GetTickCount();
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) break;
        if (available == 0) {
            if (GetTickCount() - began > timeoutMs) {
                *error = "the console program did not answer within " +
                         std::to_string(timeoutMs / 1000) + " s";
                break;
            }
            Sleep(20);
            continue;
        }
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(readEnd, buffer, available < sizeof buffer ? available : sizeof buffer, &got,
                      nullptr) ||
            got == 0)
            break;
        output->append(buffer, got);
    }
    CloseHandle(readEnd);
    CloseHandle(pi.hProcess);
    // Ends it if it is still running.
    if (job != nullptr) CloseHandle(job);
    return error->empty();
}

}  // namespace plcbench
