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

std::string WaitText(int ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

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

bool WriteLine(int fd, const std::string& path, const std::string& line, std::string* error,
               int waitMs = RECORD_WAIT_MS) {
#ifdef _WIN32
    AppendLock lock(fd);
#endif
    const std::string whole = (AtLineStart(fd) ? "" : "\n") + line + '\n';
    size_t done = 0;
    std::string reason;
    switch (WriteFrom(fd, whole, &done, waitMs, &reason)) {
        case WriteResult::Whole:
            return true;
        case WriteResult::Stalled:
            reason = "its reader took nothing for " + WaitText(waitMs);
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

// A file removed or replaced during the run: the line goes to the file at the path now, made
// anew when there is none.
bool RunRecorder::FollowPathLocked() {
    if (StillAt(fd_, path_)) return true;
    std::string reason;
    int fd = OpenOutputFile(path_, true, &reason);
    if (fd < 0) {
        failure_ =
            "cannot write the record file '" + path_ +
            "': it was removed or replaced during the run and cannot be made again: " + reason;
        return false;
    }
    CloseFile(fd_);  // the file no longer at the path
    fd_ = fd;
    return true;
}

bool RunRecorder::Finish(const RunOutcome& outcome, int exitStatus, std::string* error,
                         int waitMs) {
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
        if (FollowPathLocked()) WriteLine(fd_, path_, RecordLine(fields_), &failure_, waitMs);
    }
    if (error != nullptr) *error = failure_;
    return failure_.empty();
}

}  // namespace plcrecord
