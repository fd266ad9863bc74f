// The record file: each line appended in one write, so that processes writing to the same file
// never interleave their lines, and started on a line of its own when an earlier write left a
// line torn.
#include "record/files.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif
#include "record/record.h"

namespace plcrecord {

namespace {

// How long the reader of a record FIFO may take nothing before the line counts as lost.
const int RECORD_WAIT_MS = 2000;

#ifdef _WIN32
// The C runtime's append mode seeks to the end and then writes, so the processes of several
// ports that end at once could write over each other's lines. Each line is written under a lock
// of the file that the other writers wait for (a byte far past any record, so that the lines
// themselves stay writable).
class AppendLock {
  public:
    explicit AppendLock(int fd) : h_(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) {
        at_.OffsetHigh = 0x7FFFFFFF;
        locked_ = h_ != INVALID_HANDLE_VALUE &&
                  LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at_) != FALSE;
    }
    ~AppendLock() {
        if (locked_) UnlockFileEx(h_, 0, 1, 0, &at_);
    }
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;

  private:
    HANDLE h_;
    OVERLAPPED at_{};
    bool locked_ = false;
};
#endif

bool WriteLine(int fd, const std::string& path, const std::string& line, std::string* error) {
#ifdef _WIN32
    AppendLock lock(fd);
#endif
    const std::string whole = (AtLineStart(fd) ? "" : "\n") + line + '\n';
    size_t done = 0;
    std::string reason;
    switch (WriteFrom(fd, whole, &done, RECORD_WAIT_MS, &reason)) {
        case WriteResult::Whole:
            return true;
        case WriteResult::Stalled:
            reason = "its reader took nothing for " + std::to_string(RECORD_WAIT_MS / 1000) + " s";
            break;
        case WriteResult::Failed:
            break;
    }
    if (error != nullptr) *error = "cannot write the record file '" + path + "': " + reason;
    return false;
}

}  // namespace

bool AppendRecordLine(const std::string& path, const std::string& line, std::string* error) {
    std::string reason;
    int fd = OpenOutputFile(path, true, &reason);
    if (fd < 0) {
        *error = "cannot write the record file '" + path + "': " + reason;
        return false;
    }
    bool ok = WriteLine(fd, path, line, error);
    CloseFile(fd);
    return ok;
}

RunRecorder::~RunRecorder() {
    CloseFile(fd_);
}

bool RunRecorder::Open(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    CloseFile(fd_);
    std::string reason;
    fd_ = OpenOutputFile(path, true, &reason);
    if (fd_ < 0) {
        *error = "cannot write the record file '" + path + "': " + reason;
        return false;
    }
    path_ = path;
    return true;
}

void RunRecorder::Start(const RecordFields& fields) {
    std::lock_guard<std::mutex> lock(mutex_);
    fields_ = fields;
    started_ = std::chrono::steady_clock::now();
    written_ = false;
    failure_.clear();
}

bool RunRecorder::Finish(const RunOutcome& outcome, int exitStatus, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) return true;
    if (!written_) {
        written_ = true;
        fields_.plc = TakePlcSeen();
        fields_.caption = outcome.caption;
        fields_.message = outcome.text;
        fields_.errors = outcome.errors;
        fields_.totalErrors = outcome.totalErrors;
        fields_.exitStatus = exitStatus;
        fields_.durationSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        WriteLine(fd_, path_, RecordLine(fields_), &failure_);
    }
    if (error != nullptr) *error = failure_;
    return failure_.empty();
}

}  // namespace plcrecord
