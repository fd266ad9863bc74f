// The --trace file: a header, then the link's reads, writes and events, one a line.
//   - TraceWriter: the lines from the link's exchanges and events, a block and its reply in one
//   - LineQueue: the lines written by a thread of their own
//   - OpenTrace / TraceFile: the open file, fed by the link's calls
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "cli/record_names.h"
#include "platform/hooks.h"
#include "platform/platform.h"

namespace plccli {

struct CliOptions;

// Bytes as the trace shows them: a text frame as text with CR, LF and backslash escaped, other
// bytes in hex ("02 9D 62"), a lone control byte with its name ("06 ACK").
std::string EscapeBytes(const uint8_t* data, size_t len);
std::string TraceBytes(const uint8_t* data, size_t len);
// One exchange: "<seconds> W|R <count>[/<requested>] <bytes>", or "<seconds> R timeout (0/n)"
// for a read that brought nothing; seconds from baseMs with milliseconds.
std::string FormatTraceLine(bool write, const uint8_t* data, size_t len, uint32_t requested,
                            uint64_t ms, uint64_t baseMs);
// An event of the link without its time: "open COM3", "line 9600 7E1", "purge input", ...
std::string TraceEventText(const platform::LinkEvent& event);
// The lines that open the file: version, start, port, model, image with size and SHA-256.
std::string TraceHeader(const RecordFields& fields);

// The trace's lines from the link's exchanges and events. A block of the transfer and the reply
// read after it make one line, "block 12/64 261 B -> ACK" (a resend has a line of its own with
// the same number), and the input purge before it is left out; with data the block's bytes are
// written too, and every purge and time-out setting shown.
class TraceWriter {
  public:
    TraceWriter(std::ostream& out, uint32_t blocksTotal, bool data);
    void Exchange(bool write, const uint8_t* data, size_t len, uint32_t requested, uint64_t ms);
    void Event(const platform::LinkEvent& event, uint64_t ms);
    // The writes from now on are requests of this name (the engine's name; nullptr: none).
    void Requests(const char* name);
    // Writes what still waits for its reply.
    void Finish();

  private:
    struct PendingBlock {  // or a named request
        uint64_t ms;
        std::string head;
    };
    void Line(uint64_t ms, const std::string& text);
    void EndPending(bool blockFollows);

    std::ostream& out_;
    uint32_t blocksTotal_;
    bool data_;
    std::optional<uint64_t> base_;
    std::optional<uint64_t> purgeAt_;    // a purge not shown yet
    std::optional<PendingBlock> block_;  // a block written, its reply not read yet
    uint32_t blockNumber_ = 0;
    std::string requestName_;  // the name of the requests being written, if any
    uint32_t namedNumber_ = 0;
    int lastPacket_ = -1;  // the packet number byte of the latest block
    std::optional<COMMTIMEOUTS> lastTimeouts_;
};

// Text handed over by one thread and written to a file by a thread of its own, so that a slow
// or stalled reader of the file never holds up the thread that hands it over. At most
// capacityBytes wait; lines that do not fit are left out, and a line that says how many takes
// their place once there is room again.
class LineQueue {
  public:
    // Takes the descriptor over.
    LineQueue(int fd, size_t capacityBytes);
    ~LineQueue();
    LineQueue(const LineQueue&) = delete;
    LineQueue& operator=(const LineQueue&) = delete;
    // One or more whole lines.
    void Push(const std::string& lines);
    // Writes what waits, giving a reader that takes nothing at most wait, then closes the file.
    // False when the file is not whole: *failure the system's reason when a write failed (or
    // that the reader took nothing), *leftOut the lines that never reached it.
    bool Close(std::chrono::milliseconds wait, std::string* failure, uint64_t* leftOut);

  private:
    void Loop();
    bool WriteOut(const std::string& text, size_t* done);

    int fd_;
    size_t capacityBytes_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    size_t queuedBytes_ = 0;
    uint64_t dropped_ = 0;  // left out since the last line that said so
    uint64_t leftOut_ = 0;
    bool closing_ = false;
    bool closed_ = false;
    std::chrono::steady_clock::time_point deadline_;
    std::string failure_;
    std::thread thread_;
};

// How long the reader of a trace FIFO may take nothing once the run has ended.
constexpr std::chrono::milliseconds TRACE_CLOSE_WAIT{2000};

// The open --trace file: the link's calls hand their lines to a LineQueue. Destroying it stops
// the trace and writes what is pending.
class TraceFile {
  public:
    ~TraceFile();
    // Stops the trace and writes what is pending, giving a reader that takes nothing at most
    // wait. False with what the file lacks, in one line.
    bool Close(std::string* problem, std::chrono::milliseconds wait = TRACE_CLOSE_WAIT);

  private:
    friend bool OpenTrace(const CliOptions&, const RecordFields&, std::unique_ptr<TraceFile>*,
                          std::string*);
    void HandOver();

    std::string path_;
    std::mutex mutex_;
    std::ostringstream lines_;
    std::unique_ptr<TraceWriter> writer_;
    std::unique_ptr<LineQueue> queue_;
    bool closed_ = false;
    bool whole_ = true;
    std::string problem_;
};
// Creates the file of --trace, writes its header and starts tracing the link. A FIFO that no
// program reads is refused.
bool OpenTrace(const CliOptions& options, const RecordFields& fields,
               std::unique_ptr<TraceFile>* trace, std::string* error);

}  // namespace plccli
