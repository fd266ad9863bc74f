#include "main/panel_text.h"

#include <cstdio>
#include <cstring>

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

void FormatErrCounter(int32_t errors, int32_t totalErrors, char out[ERR_COUNTER_TEXT_BYTES]) {
    std::snprintf(out, ERR_COUNTER_TEXT_BYTES, "# of Error/Total Error: %d/%d",
                  static_cast<int>(errors), static_cast<int>(totalErrors));
}

namespace {

bool AllDigits(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

int Number(const char* digits, size_t length) {
    int value = 0;
    for (size_t i = 0; i < length; ++i) value = value * 10 + (digits[i] - '0');
    return value;
}

// YYYYMMDD, eight digits.
bool IsCalendarDate(const char* d) {
    static const int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int year = Number(d, 4), month = Number(d + 4, 2), day = Number(d + 6, 2);
    if (month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1]) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month != 2 || day <= 28 || leap;
}

}  // namespace

bool ImageDateText(const char* fwFile, char out[DATE_TEXT_BYTES]) {
    out[0] = '\0';
    // The model stands before the first "_"; the date is one of the fields after it.
    const char* separator = std::strchr(fwFile, '_');
    while (separator != nullptr && *separator != '\0') {
        const char* field = separator + 1;
        const size_t length = std::strcspn(field, "_.");
        if (length == 8 && AllDigits(field, length) && IsCalendarDate(field)) {
            std::snprintf(out, DATE_TEXT_BYTES, "Date: %.4s/%.2s/%.2s", field, field + 4,
                          field + 6);
            return true;
        }
        separator = field + length;
    }
    return false;
}
