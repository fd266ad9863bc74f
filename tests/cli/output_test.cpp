// The program's output through its writer thread, and the one end of a run.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "cli/cli.h"

namespace {

// A reader that takes nothing until the test lets it (or five seconds have passed), and notes
// which thread wrote.
class StalledReader : public std::stringbuf {
  public:
    void Let() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        wake_.notify_all();
    }
    std::thread::id writer;

  protected:
    std::streamsize xsputn(const char* text, std::streamsize len) override {
        std::unique_lock<std::mutex> lock(mutex_);
        writer = std::this_thread::get_id();
        wake_.wait_for(lock, std::chrono::seconds(5), [this] { return open_; });
        return std::stringbuf::xsputn(text, len);
    }

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool open_ = false;
};

TEST(OutputQueue, AStalledReaderHoldsUpTheWriterThreadOnly) {
    StalledReader stalled;
    std::ostream slow(&stalled);
    std::ostringstream fast;
    plccli::OutputQueue queue;
    plccli::QueuedStream out(queue, slow), err(queue, fast);
    out << "one " << 1 << '\n';
    err << "two\n";
    out << "three\n" << std::flush;
    EXPECT_FALSE(queue.Drain(std::chrono::milliseconds(0)));
    stalled.Let();
    queue.Drain();
    EXPECT_NE(stalled.writer, std::this_thread::get_id());
    EXPECT_EQ(stalled.str(), "one 1\nthree\n");
    EXPECT_EQ(fast.str(), "two\n");
}

// Whichever of the run and an interrupt comes first writes the run's end; the other learns so.
TEST(RunEnd, WrittenOnceByTheRunOrByAnInterrupt) {
    using plccli::RunEnd;
    RunEnd end;
    plccli::RunFiles files;
    EXPECT_EQ(end.ClaimForInterrupt(&files), RunEnd::NO_RUN);
    end.Open(plccli::RunFiles{nullptr, nullptr, nullptr, ",\"unit\":1"});
    EXPECT_EQ(end.ClaimForInterrupt(&files), RunEnd::INTERRUPT_ENDS_IT);
    EXPECT_EQ(files.stationFields, ",\"unit\":1");
    EXPECT_FALSE(end.ClaimForRun()) << "the interrupt writes the end";
    end.Open(plccli::RunFiles{});  // a station's next unit
    EXPECT_TRUE(end.ClaimForRun());
    EXPECT_EQ(end.ClaimForInterrupt(&files), RunEnd::RUN_ENDS_IT);
    EXPECT_EQ(end.RecordedStatus(std::chrono::milliseconds(0)), -1);
    end.Recorded(plccli::EXIT_NOT_RECORDED);
    EXPECT_EQ(end.RecordedStatus(std::chrono::milliseconds(0)), plccli::EXIT_NOT_RECORDED);
}

}  // namespace
