#include <gtest/gtest.h>

#include "catalogue/state.h"
#include "main/run_cut.h"

namespace {

TEST(RunCut, AbandonedRunSaysWhereItStoodAndWhatCutIt) {
    struct Case {
        RunCut cut;
        int32_t status, progress;
        const char* text;
    };
    const Case cases[] = {
        {RunCut::WINDOW_CLOSED, PROGRAM, 31,
         "abandoned during Programming at 31%: the window was closed"},
        {RunCut::SESSION_ENDED, ERASE, 100,
         "abandoned during Erasing at 100%: the Windows session ended"},
        // Before the erase the progress belongs to no phase and is not told.
        {RunCut::WINDOW_CLOSED, IDLE, 0, "abandoned before erasing began: the window was closed"},
    };
    for (const Case& c : cases) EXPECT_EQ(AbandonedMessage(c.cut, c.status, c.progress), c.text);
}

}  // namespace
