#include "main/panel_text.h"

#include <cstdio>

int ProgressBarRight(int32_t progress) {
    const int64_t width = PROGRESS_BAR_RECT.right - PROGRESS_BAR_RECT.left;
    int64_t right = PROGRESS_BAR_RECT.left + width * progress / 100;
    // A progress outside 0..100 must not paint over the rest of the window.
    if (right < PROGRESS_BAR_RECT.left) right = PROGRESS_BAR_RECT.left;
    if (right > PROGRESS_BAR_RECT.right) right = PROGRESS_BAR_RECT.right;
    return static_cast<int>(right);
}

PanelRect ProgressFillRect(int32_t progress) {
    return {PROGRESS_BAR_RECT.left, PROGRESS_BAR_RECT.top, ProgressBarRight(progress),
            PROGRESS_BAR_RECT.bottom};
}

void FormatCounter(int32_t value, char out[COUNTER_TEXT_BYTES]) {
    std::snprintf(out, COUNTER_TEXT_BYTES, "%3d", static_cast<int>(value));
}

const char* StatusWord(int32_t status) {
    // flashStatus   word
    static const char* const kWords[] = {
        "Idle",         // IDLE
        "Erasing",      // ERASE
        "Programming",  // PROGRAM
    };
    if (status < 0 || status >= static_cast<int32_t>(sizeof kWords / sizeof kWords[0]))
        return nullptr;
    return kWords[status];
}

void FormatErrCounter(int32_t errors, int32_t totalErrors, char out[ERR_COUNTER_TEXT_BYTES]) {
    std::snprintf(out, ERR_COUNTER_TEXT_BYTES, "# of Error/Total Error: %d/%d",
                  static_cast<int>(errors), static_cast<int>(totalErrors));
}
