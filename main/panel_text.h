// What the status panel shows, apart from drawing it: the layout, the fixed texts, the progress
// bar's fill and the texts made from the shared run state. Plain code, tested on every platform.
#pragma once

#include <cstdint>

// A rectangle of the main window's client area; right and bottom are exclusive.
struct PanelRect {
    int left, top, right, bottom;
};

struct PanelPoint {
    int x, y;
};

// One item of the panel: the mask that erases its previous text, where its label starts and
// where its value is drawn.
struct PanelItem {
    PanelRect mask;
    PanelPoint label;
    PanelPoint value;
};

// Item                                 mask (l, t, r, b)        label       value
inline constexpr PanelItem PANEL_ELAPSED = {{160, 70, 335, 90}, {160, 70}, {270, 70}};
inline constexpr PanelItem PANEL_PROGRESS = {{10, 140, 130, 160}, {10, 140}, {85, 140}};
inline constexpr PanelItem PANEL_STATUS = {{160, 140, 300, 160}, {160, 140}, {209, 140}};
inline constexpr PanelItem PANEL_ERRORS = {{320, 140, 540, 160}, {320, 140}, {320, 140}};

// Drawn without a mask: the bar covers its own area, the date and the logo never change.
inline constexpr PanelRect PROGRESS_BAR_RECT = {10, 105, 520, 125};
inline constexpr PanelPoint DATE_AT = {300, 25};
inline constexpr PanelPoint LOGO_AT = {435, 15};
inline constexpr int LOGO_WIDTH_PX = 87;
inline constexpr int LOGO_HEIGHT_PX = 28;

// The labels keep a run of blanks where the number is drawn separately.
inline constexpr char ELAPSED_LABEL[] = "Elapsed Time:              sec";
inline constexpr char PROGRESS_LABEL[] = "Progress:            %";
inline constexpr char STATUS_LABEL[] = "Status: ";

// Room for "%3d" of any 32-bit value ("-2147483648") and its NUL.
#define COUNTER_TEXT_BYTES 12
// Room for the error counters' text with any two 32-bit values.
#define ERR_COUNTER_TEXT_BYTES 50

// Right edge of the red fill: 10 + 510 * progress / 100, kept within the white bar.
int ProgressBarRight(int32_t progress);
// The red fill of the progress bar (empty when its right edge is its left edge).
PanelRect ProgressFillRect(int32_t progress);

// A counter right-aligned in three characters, wider when it has more digits.
void FormatCounter(int32_t value, char out[COUNTER_TEXT_BYTES]);

// "# of Error/Total Error: <errCounter>/<totalErrCounter>".
void FormatErrCounter(int32_t errors, int32_t totalErrors, char out[ERR_COUNTER_TEXT_BYTES]);

// "Date: 2024/01/03": room for the text and its NUL.
#define DATE_TEXT_BYTES 17

// The panel's date: the first field of the image's file name, after the model, that is eight
// digits making a calendar date ("RP200_v1.14.10_20240103_01.bin" gives "Date: 2024/01/03").
// Fields are separated by "_" and ".". False, and the empty text, when the name carries no date:
// the panel then shows none rather than a wrong one.
bool ImageDateText(const char* fwFile, char out[DATE_TEXT_BYTES]);
