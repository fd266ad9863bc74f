// The program's output through its writer thread, and the one end of a run.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "catalogue/report.h"
#include "catalogue/state.h"
#include "cli/command/exit_status.h"
#include "cli/program/output.h"
#include "cli/program/run_end.h"
#include "tests/support/engine_fixture.h"

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
    // Until the writer thread is held up in a write.
    void WaitHeldUp() {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::seconds(5), [this] { return heldUp_; });
    }
    std::thread::id writer;

  protected:
    std::streamsize xsputn(const char* text, std::streamsize len) override {
        std::unique_lock<std::mutex> lock(mutex_);
        writer = std::this_thread::get_id();
        heldUp_ = true;
        wake_.notify_all();
        wake_.wait_for(lock, std::chrono::seconds(5), [this] { return open_; });
        return std::stringbuf::xsputn(text, len);
    }

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool open_ = false;
    bool heldUp_ = false;
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

// While the reader takes nothing, what waits stays bounded: a live line redrawn over itself keeps
// its latest text, every whole line stays, and beyond the capacity the oldest lines are left out
// and counted.
TEST(OutputQueue, WhatWaitsForAStalledReaderStaysBounded) {
    struct Case {
        const char* name;
        size_t capacity;
        int redraws;  // live-line redraws between two lines
        int lines;
        size_t maxWritten;
        bool leftOut;
    } cases[] = {
        {"redraws of a live line", 1u << 20, 20000, 3, 400, false},
        {"lines beyond the capacity", 2000, 0, 500, 2000 + 64, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StalledReader stalled;
        std::ostream slow(&stalled);
        plccli::OutputQueue queue(c.capacity);
        plccli::QueuedStream out(queue, slow);
        out << "first\n" << std::flush;  // taken by the writer, which then stalls on it
        stalled.WaitHeldUp();
        for (int l = 0; l < c.lines; ++l) {
            for (int r = 0; r < c.redraws; ++r) out << '\r' << r << "% \x1b[K";
            out << '\r' << "line " << l << '\n';
        }
        out << '\r' << "live 100%" << std::flush;
        stalled.Let();
        queue.Drain();
        const std::string written = stalled.str();
        EXPECT_LE(written.size(), c.maxWritten);
        const std::string end = "\rline " + std::to_string(c.lines - 1) + "\n\rlive 100%";
        ASSERT_GE(written.size(), end.size());
        EXPECT_EQ(written.substr(written.size() - end.size()), end);
        EXPECT_EQ(queue.LeftOutBytes() > 0, c.leftOut);
        for (int l = 0; l < c.lines && !c.leftOut; ++l)
            EXPECT_NE(written.find("\rline " + std::to_string(l) + "\n"), std::string::npos);
    }
}

// Beyond the capacity exactly the oldest whole lines that make the excess are left out: not one
// byte less, and not one line more.
TEST(OutputQueue, BeyondTheCapacityOnlyTheOldestLinesAreLeftOut) {
    StalledReader stalled;
    std::ostream slow(&stalled);
    plccli::OutputQueue queue(70);  // ten lines of seven bytes
    plccli::QueuedStream out(queue, slow);
    out << "first\n" << std::flush;
    stalled.WaitHeldUp();
    std::string kept;
    for (char c = 'a'; c <= 'k'; ++c) {  // eleven: the first is left out
        std::string line = std::string("line ") + c + "\n";
        out << line;
        if (c > 'a') kept += line;
    }
    out << std::flush;
    stalled.Let();
    queue.Drain();
    EXPECT_EQ(stalled.str(), "first\n" + kept);
    EXPECT_EQ(queue.LeftOutBytes(), 7u);
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

// An interrupt that takes the end of a run that already has its outcome keeps it and its exit
// status; before that, it tells where the run stood, with its own.
TEST(RunEnd, AnOutcomeAlreadyReachedStands) {
    plctest::ResetSharedState();
    flashStatus = PROGRAM;
    progress = 42;
    plccli::InterruptEnd cut = plccli::EndOfInterruptedRun(143);
    EXPECT_FALSE(cut.hadOutcome);
    EXPECT_EQ(cut.exitStatus, 143);
    EXPECT_EQ(cut.outcome.text.rfind("terminated during Programming at 42%", 0), 0u);
    for (int32_t outcome : {OUTCOME_SUCCESS, OUTCOME_FAILURE}) {
        SetRunOutcome(outcome, "INFORMATION", "Firmware update is SUCCESSFUL");
        plccli::InterruptEnd kept = plccli::EndOfInterruptedRun(143);
        EXPECT_TRUE(kept.hadOutcome);
        EXPECT_EQ(kept.exitStatus, outcome == OUTCOME_SUCCESS ? 0 : 1);
        EXPECT_EQ(kept.outcome.caption + " " + kept.outcome.text,
                  "INFORMATION Firmware update is SUCCESSFUL");
    }
    plctest::ResetSharedState();
}

}  // namespace
