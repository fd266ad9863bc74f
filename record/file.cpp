// The record file: whole lines appended, so that processes writing to the same file never
// interleave their lines.
#include <cerrno>
#include <cstring>

#include "record/record.h"

namespace plcrecord {

namespace {

bool WriteLine(std::ofstream& file, const std::string& line) {
    const std::string whole = line + '\n';
    file.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    file.flush();
    return static_cast<bool>(file);
}

}  // namespace

bool AppendRecordLine(const std::string& path, const std::string& line, std::string* error) {
    std::ofstream file(path, std::ios::app);
    if (!file || !WriteLine(file, line)) {
        *error = "cannot write the record file '" + path + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

bool RunRecorder::Open(const std::string& path, std::string* error) {
    file_ = std::make_unique<std::ofstream>(path, std::ios::app);
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
    WriteLine(*file_, RecordLine(fields_));
}

}  // namespace plcrecord
