#include "main/run_cut.h"

#include "catalogue/state.h"

std::string AbandonedMessage(RunCut cut, int32_t status, int32_t progress) {
    std::string text = RUN_ABANDONED;
    if (status == ERASE || status == PROGRAM)
        text +=
            std::string(" during ") + StatusWord(status) + " at " + std::to_string(progress) + "%";
    else
        text += " before erasing began";
    return text + (cut == RunCut::WINDOW_CLOSED ? ": the window was closed"
                                                : ": the Windows session ended");
}
