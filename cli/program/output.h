// The program's standard output and error, written by threads of their own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>

namespace plccli {

// Text handed over by any thread and written, in the order it came, by a thread of its own: a
// reader that takes nothing (a full pipe, a terminal stopped with Ctrl-S) holds up that thread
// alone, never the update, the status line, the ports' pipes or an interrupt. What waits stays
// bounded: a live line redrawn over itself ("\r" and new text, no line end between) keeps only
// its latest text, which is all a terminal would show; beyond capacityBytes the oldest lines
// are left out and counted.
class OutputQueue {
  public:
    static constexpr size_t DEFAULT_CAPACITY_BYTES = 4u << 20;
    explicit OutputQueue(size_t capacityBytes = DEFAULT_CAPACITY_BYTES);
    // Writes what waits, however long that takes.
    ~OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;
    void Put(std::ostream& to, const char* text, size_t len);
    // Until everything handed over is written and flushed; false when wait passed first.
    bool Drain(std::chrono::milliseconds wait);
    void Drain();
    // Bytes left out so far because the reader took nothing while the capacity was full.
    uint64_t LeftOutBytes();

  private:
    struct Item {
        std::ostream* to;
        std::string text;
    };
    void Loop();
    // The redraws that the back item's last one overwrites, dropped.
    void DropOverwritten();
    // The oldest waiting lines, dropped until what waits fits the capacity.
    void DropOldest();

    std::mutex mutex_;
    std::condition_variable wake_, written_;
    std::deque<Item> items_;
    size_t capacityBytes_;
    size_t queuedBytes_ = 0;
    uint64_t leftOut_ = 0;
    bool writing_ = false;
    bool stop_ = false;
    std::thread thread_;
};

// A stream that hands each piece written to it over to an OutputQueue, for `to`.
class QueuedStream : public std::ostream {
  public:
    QueuedStream(OutputQueue& queue, std::ostream& to);

  private:
    class Buffer : public std::streambuf {
      public:
        Buffer(OutputQueue& queue, std::ostream& to) : queue_(queue), to_(to) {}

      protected:
        int overflow(int c) override;
        std::streamsize xsputn(const char* text, std::streamsize len) override;

      private:
        OutputQueue& queue_;
        std::ostream& to_;
    };
    Buffer buffer_;
};

// The standard output and error as the program writes them: through one queue when they are
// one file (a terminal, 2>&1), so that their lines stay in order; otherwise through one each, so
// that a reader who stalls one of them does not hold up the other.
class ProgramOutput {
  public:
    ProgramOutput();
    // Until everything handed over to either is written; false when wait passed first.
    bool Drain(std::chrono::milliseconds wait);
    void Drain();
    uint64_t LeftOutBytes();

  private:
    std::unique_ptr<OutputQueue> outQueue_, errQueue_;

  public:
    QueuedStream out, err;
};
ProgramOutput& TheProgramOutput();

}  // namespace plccli
