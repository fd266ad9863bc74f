// The --trace file: the lines leave the engine's thread through a bounded queue and are written
// by a thread of their own, so that a trace whose reader stalls never stalls the link.
#include <algorithm>

#include "cli/command/options.h"
#include "cli/trace/trace.h"
#include "record/files.h"
#include "update/update.h"

namespace plccli {

namespace {

// What waits for the file at most: a whole transfer's block lines, without its data.
const size_t TRACE_QUEUE_BYTES = 1024 * 1024;
// How often the writer looks whether the queue is being closed while a pipe takes nothing.
const int STALL_POLL_MS = 100;

uint64_t LinesIn(const std::string& text, size_t from = 0) {
    return static_cast<uint64_t>(
        std::count(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), '\n'));
}

std::string LeftOutLine(uint64_t lines) {
    return "# " + std::to_string(lines) + " lines left out here: the trace's reader fell behind\n";
}

}  // namespace

LineQueue::LineQueue(int fd, size_t capacityBytes)
    : fd_(fd), capacityBytes_(capacityBytes), thread_(&LineQueue::Loop, this) {}

LineQueue::~LineQueue() {
    std::string failure;
    uint64_t leftOut = 0;
    Close(std::chrono::milliseconds(0), &failure, &leftOut);
}

void LineQueue::Push(const std::string& lines) {
    if (lines.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_) return;
    if (queuedBytes_ + lines.size() > capacityBytes_) {
        dropped_ += LinesIn(lines);
        return;
    }
    if (dropped_ > 0) {
        std::string note = LeftOutLine(dropped_);
        leftOut_ += dropped_;
        dropped_ = 0;
        queuedBytes_ += note.size();
        queue_.push_back(std::move(note));
    }
    queuedBytes_ += lines.size();
    queue_.push_back(lines);
    wake_.notify_one();
}

// Writes text whole; false when it failed or the reader stalled past the close's deadline.
bool LineQueue::WriteOut(const std::string& text, size_t* done) {
    for (;;) {
        std::string reason;
        auto result = plcrecord::WriteFrom(fd_, text, done, STALL_POLL_MS, &reason);
        if (result == plcrecord::WriteResult::Whole) return true;
        std::lock_guard<std::mutex> lock(mutex_);
        if (result == plcrecord::WriteResult::Failed) {
            failure_ = reason;
            return false;
        }
        if (closing_ && std::chrono::steady_clock::now() >= deadline_) {
            failure_ = "its reader took nothing";
            return false;
        }
    }
}

void LineQueue::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !queue_.empty() || closing_; });
        if (queue_.empty()) return;
        std::string text = std::move(queue_.front());
        queue_.pop_front();
        queuedBytes_ -= text.size();
        if (!failure_.empty()) {
            leftOut_ += LinesIn(text);
            continue;
        }
        lock.unlock();
        size_t done = 0;
        bool whole = WriteOut(text, &done);
        lock.lock();
        if (!whole) leftOut_ += LinesIn(text, done);
    }
}

bool LineQueue::Close(std::chrono::milliseconds wait, std::string* failure, uint64_t* leftOut) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!closed_) {
            if (dropped_ > 0) {
                queue_.push_back(LeftOutLine(dropped_));
                leftOut_ += dropped_;
                dropped_ = 0;
            }
            closing_ = true;
            deadline_ = std::chrono::steady_clock::now() + wait;
            wake_.notify_all();
        }
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!closed_) plcrecord::CloseFile(fd_);
    closed_ = true;
    *failure = failure_;
    *leftOut = leftOut_;
    return failure_.empty() && leftOut_ == 0;
}

void TraceFile::HandOver() {
    std::string text = lines_.str();
    lines_.str("");
    queue_->Push(text);
}

bool TraceFile::Close(std::string* problem, std::chrono::milliseconds wait) {
    platform::SetLinkTrace(nullptr);
    platform::SetLinkEventTrace(nullptr);
    SetRequestNameWatcher(nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!closed_) {
        closed_ = true;
        writer_->Finish();
        HandOver();
        std::string failure;
        uint64_t leftOut = 0;
        whole_ = queue_->Close(wait, &failure, &leftOut);
        if (!failure.empty())
            problem_ = "cannot write the trace file '" + path_ + "': " + failure;
        else if (leftOut > 0)
            problem_ = "the trace file '" + path_ + "' lacks " + std::to_string(leftOut) +
                       " lines: its reader fell behind";
        if (!failure.empty() && leftOut > 0)
            problem_ += " (" + std::to_string(leftOut) + " lines lost)";
    }
    *problem = problem_;
    return whole_;
}

TraceFile::~TraceFile() {
    std::string problem;
    Close(&problem);
}

bool OpenTrace(const CliOptions& options, const RecordFields& fields,
               std::unique_ptr<TraceFile>* trace, std::string* error) {
    std::string reason;
    int fd = plcrecord::OpenOutputFile(*options.trace, false, &reason);
    if (fd < 0) {
        *error = "cannot write the trace file '" + *options.trace + "': " + reason;
        return false;
    }
    auto file = std::make_unique<TraceFile>();
    file->path_ = *options.trace;
    file->queue_ = std::make_unique<LineQueue>(fd, TRACE_QUEUE_BYTES);
    file->queue_->Push(TraceHeader(fields));
    file->writer_ =
        std::make_unique<TraceWriter>(file->lines_, fields.blocksTotal, options.traceData);
    TraceFile* raw = file.get();
    platform::SetLinkTrace([raw](platform::TraceDir dir, const uint8_t* data, size_t len,
                                 uint32_t requested, uint64_t ms) {
        std::lock_guard<std::mutex> lock(raw->mutex_);
        raw->writer_->Exchange(dir == platform::TraceDir::Write, data, len, requested, ms);
        raw->HandOver();
    });
    platform::SetLinkEventTrace([raw](const platform::LinkEvent& event, uint64_t ms) {
        std::lock_guard<std::mutex> lock(raw->mutex_);
        raw->writer_->Event(event, ms);
        raw->HandOver();
    });
    SetRequestNameWatcher([raw](const char* name) {
        std::lock_guard<std::mutex> lock(raw->mutex_);
        raw->writer_->Requests(name);
    });
    *trace = std::move(file);
    return true;
}

}  // namespace plccli
