// The program's standard output and error: what any thread writes is handed to one writer thread,
// so that a reader that takes nothing holds up that thread alone.
#include <algorithm>
#include <iostream>
#include <system_error>

#include "cli/program/output.h"
#include "cli/run/console.h"

namespace plccli {

OutputQueue::OutputQueue(size_t capacityBytes) : capacityBytes_(capacityBytes) {
    try {
        thread_ = std::thread(&OutputQueue::Loop, this);
    } catch (const std::system_error&) {
        // No thread to spare: the text is written by whoever hands it over.
    }
}

OutputQueue::~OutputQueue() {
    Drain();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

void OutputQueue::Put(std::ostream& to, const char* text, size_t len) {
    if (len == 0) return;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable()) {
        to.write(text, static_cast<std::streamsize>(len));
        to.flush();
        return;
    }
    // Pieces for the same stream make one write.
    if (!items_.empty() && items_.back().to == &to)
        items_.back().text.append(text, len);
    else
        items_.push_back(Item{&to, std::string(text, len)});
    queuedBytes_ += len;
    DropOverwritten();
    if (queuedBytes_ > capacityBytes_) DropOldest();
    wake_.notify_all();
}

void OutputQueue::DropOverwritten() {
    std::string& text = items_.back().text;
    size_t lineStart = text.rfind('\n');
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    // The last carriage return with text after it on the same line: everything from the line's
    // start up to it is drawn over. A return right before a line end is part of that line end.
    size_t cr = text.rfind('\r');
    if (cr == std::string::npos || cr <= lineStart || cr + 1 >= text.size() || text[cr + 1] == '\n')
        return;
    text.erase(lineStart, cr - lineStart);
    queuedBytes_ -= cr - lineStart;
}

void OutputQueue::DropOldest() {
    while (queuedBytes_ > capacityBytes_ && !items_.empty()) {
        std::string& text = items_.front().text;
        size_t excess = queuedBytes_ - capacityBytes_;
        // Whole lines where there are any, so that what follows still starts a line.
        size_t cut = text.size() <= excess ? text.size() : text.find('\n', excess - 1);
        cut = cut == std::string::npos ? text.size() : std::min(cut + 1, text.size());
        text.erase(0, cut);
        queuedBytes_ -= cut;
        leftOut_ += cut;
        if (text.empty()) items_.pop_front();
    }
}

uint64_t OutputQueue::LeftOutBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return leftOut_;
}

void OutputQueue::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !items_.empty() || stop_; });
        if (items_.empty()) return;
        Item item = std::move(items_.front());
        items_.pop_front();
        queuedBytes_ -= item.text.size();
        writing_ = true;
        lock.unlock();
        item.to->write(item.text.data(), static_cast<std::streamsize>(item.text.size()));
        item.to->flush();
        lock.lock();
        writing_ = false;
        written_.notify_all();
    }
}

bool OutputQueue::Drain(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    return written_.wait_for(lock, wait, [this] { return items_.empty() && !writing_; });
}

void OutputQueue::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    written_.wait(lock, [this] { return items_.empty() && !writing_; });
}

int QueuedStream::Buffer::overflow(int c) {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    char byte = static_cast<char>(c);
    queue_.Put(to_, &byte, 1);
    return c;
}

std::streamsize QueuedStream::Buffer::xsputn(const char* text, std::streamsize len) {
    if (len > 0) queue_.Put(to_, text, static_cast<size_t>(len));
    return len;
}

QueuedStream::QueuedStream(OutputQueue& queue, std::ostream& to)
    : std::ostream(nullptr), buffer_(queue, to) {
    rdbuf(&buffer_);
}

ProgramOutput& TheProgramOutput() {
    // Never destroyed: an interrupt may still hand text over while the program ends.
    static ProgramOutput* output = new ProgramOutput();
    return *output;
}

ProgramOutput::ProgramOutput()
    : outQueue_(std::make_unique<OutputQueue>()),
      errQueue_(OutputAndErrorShareAFile() ? nullptr : std::make_unique<OutputQueue>()),
      out(*outQueue_, std::cout),
      err(errQueue_ ? *errQueue_ : *outQueue_, std::cerr) {}

bool ProgramOutput::Drain(std::chrono::milliseconds wait) {
    auto until = std::chrono::steady_clock::now() + wait;
    bool written = outQueue_->Drain(wait);
    if (!errQueue_) return written;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    return errQueue_->Drain(std::max(left, std::chrono::milliseconds(0))) && written;
}

uint64_t ProgramOutput::LeftOutBytes() {
    return outQueue_->LeftOutBytes() + (errQueue_ ? errQueue_->LeftOutBytes() : 0);
}

void ProgramOutput::Drain() {
    outQueue_->Drain();
    if (errQueue_) errQueue_->Drain();
}

}  // namespace plccli
