// The record file: whole lines appended, so that processes writing to the same file never
// interleave their lines.
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

#include "record/record.h"

namespace plcrecord {

namespace {

#ifdef _WIN32
// The C runtime's append mode on Windows seeks to the end and then writes, so the processes of
// several ports that end at once write over each other's lines. Each line is written at the end
// under a lock of the file that the other writers wait for (a byte far past any record, so the
// lines themselves stay writable). The wide call: the console program traces the engine's
// CreateFileA, and this file is no link.
bool AppendWhole(const std::string& path, const std::string& whole) {
    int chars = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (chars <= 0) return false;
    std::wstring wide(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), chars);
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED lockAt{};
    lockAt.OffsetHigh = 0x7FFFFFFF;
    bool ok = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockAt) != FALSE;
    DWORD written = 0;
    ok = ok && SetFilePointerEx(h, LARGE_INTEGER{}, nullptr, FILE_END) &&
         WriteFile(h, whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr) &&
         written == whole.size();
    UnlockFileEx(h, 0, 1, 0, &lockAt);
    CloseHandle(h);
    return ok;
}
#endif

bool WriteLine(std::ofstream& file, const std::string& path, const std::string& line) {
    const std::string whole = line + '\n';
#ifdef _WIN32
    (void)file;
    return AppendWhole(path, whole);
#else
    (void)path;
    file.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    file.flush();
    return static_cast<bool>(file);
#endif
}

}  // namespace

bool AppendRecordLine(const std::string& path, const std::string& line, std::string* error) {
    std::ofstream file(path, std::ios::app);
    if (!file || !WriteLine(file, path, line)) {
        *error = "cannot write the record file '" + path + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

bool RunRecorder::Open(const std::string& path, std::string* error) {
    file_ = std::make_unique<std::ofstream>(path, std::ios::app);
    path_ = path;
    if (!*file_) {
        *error = "cannot write the record file '" + path + "': " + std::strerror(errno);
        file_.reset();
        return false;
    }
    return true;
}

void RunRecorder::Start(const RecordFields& fields) {
    std::lock_guard<std::mutex> lock(mutex_);
    fields_ = fields;
    started_ = std::chrono::steady_clock::now();
    written_ = false;
}

void RunRecorder::Finish(const RunOutcome& outcome, int exitStatus) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_ || written_) return;
    written_ = true;
    fields_.plc = TakePlcSeen();
    fields_.caption = outcome.caption;
    fields_.message = outcome.text;
    fields_.errors = outcome.errors;
    fields_.totalErrors = outcome.totalErrors;
    fields_.exitStatus = exitStatus;
    fields_.durationSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    WriteLine(*file_, path_, RecordLine(fields_));
}

}  // namespace plcrecord
