// What the window's record says of a run that the program ended under: where the run stood
// and what cut it. Plain code, built and tested everywhere.
#pragma once

#include <cstdint>
#include <string>

// What ended the program while a run could still be cut.
enum class RunCut {
    WINDOW_CLOSED,  // the close question answered Yes
    SESSION_ENDED,  // the Windows session ended (shut down, restarted or logged off)
};

#define RUN_ABANDONED "abandoned"

// "abandoned during Programming at 31%: the window was closed", or "abandoned before erasing
// began: ..." for a run that had not reached the erase; status and progress as flashStatus and
// progress held them.
std::string AbandonedMessage(RunCut cut, int32_t status, int32_t progress);
