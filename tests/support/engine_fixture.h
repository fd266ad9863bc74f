// Common ground of the engine's tests: a clean shared state, the virtual clock, no leftover
// links, and the front-end calls recorded in order.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/hooks.h"
#include "platform/resource_image.h"
#include "platform/virtual.h"

namespace plctest {

// One front-end call, in the order the engine made it.
struct FrontEndEvent {
    enum Kind { MessageBox, KillTimer, EnableWindow } kind;
    std::string text;     // MessageBox
    std::string caption;  // MessageBox
    UINT type = 0;        // MessageBox
    UINT_PTR timer = 0;   // KillTimer
    BOOL enable = FALSE;  // EnableWindow
    uint64_t atMs = 0;    // virtual time of the call
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Selects the catalogue model of that name (fails the test when there is none).
    void Select(const char* model);
    // The message boxes shown so far.
    std::vector<FrontEndEvent> Messages() const;
    std::vector<FrontEndEvent> events;
    // Called for each message box before it returns (a test may act "while it is open").
    std::function<void(const FrontEndEvent&)> onMessage;
};

// Resets every shared variable to its value at program start.
void ResetSharedState();

}  // namespace plctest
