// Whole update runs on the test thread: StartBurn(&paramStruct) against virtual links, with the
// front-end calls recorded together with the state the run had left at each call.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/engine_fixture.h"
#include "tests/support/scripted_peer.h"
#include "update/update.h"

namespace plctest {

// The shared state at the moment of a front-end call.
struct StateAtCall {
    int32_t elapsed;
    int32_t phase;
    int32_t progressPct;
    int32_t errors;
    int32_t totalErrors;
    int openHandles;
    int loadedImages;
};

class UpdateRun : public EngineTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // An image of `size` bytes (deterministic content) behind the resource calls.
    void UseImage(size_t size);
    // A crafted PLC under the link name; with `viaOverride` the run opens that name directly
    // (as the command line's --port does), for USB-attached and COM-port models alike.
    std::shared_ptr<ScriptedPeer> Plc(const std::string& name = "plc", bool viaOverride = true);
    // One whole run, as the worker thread would run it.
    void Run();

    // The last message box, or an empty event when none was shown.
    FrontEndEvent LastMessage() const;
    std::vector<std::string> MessageTexts() const;
    // The front-end calls of the run, one letter each: D(isable) E(nable) K(ill timer) M(essage).
    std::string Trace() const;
    // The state when the button was enabled again (the last EnableWindow TRUE).
    StateAtCall AtEnable() const;

    // Puts non-zero values into the run state so that a run's reset (or its absence) shows.
    void DirtyRunState();

    // After every end but the two early ones: state reset, link closed, image released, and
    // then the button enabled.
    void ExpectFullRunEnd() const;
    // The final message was a failure with this text, shown right after the timer stop.
    void ExpectStoppedWith(const std::string& text) const;

    std::vector<uint8_t> image;
    std::vector<StateAtCall> states;  // parallel to events
    std::atomic<int> enables{0};      // EnableWindow(TRUE) calls, for runs on another thread
};

void ExpectError(const FrontEndEvent& e, const std::string& text);
void ExpectInformation(const FrontEndEvent& e, const std::string& text, const std::string& caption);

}  // namespace plctest
