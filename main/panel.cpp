// The painters of the status panel. Each one fills its mask with the window's background colour
// and draws its text over it, straight into the window's device context, every 100 ms.
#include <cstring>

#include "catalogue/catalogue.h"
#include "main/main.h"
#include "main/panel_text.h"
#include "resource/resource.h"

namespace {

void FillPanelRect(HDC hDC, const PanelRect& r, HBRUSH brush) {
    RECT rect = {r.left, r.top, r.right, r.bottom};
    FillRect(hDC, &rect, brush);
}

void FillMask(HDC hDC, const PanelItem& item) {
    // The system's brush of the window background; never deleted.
    FillPanelRect(hDC, item.mask, GetSysColorBrush(COLOR_SCROLLBAR));
}

void PutText(HDC hDC, PanelPoint at, const char* text) {
    TextOutA(hDC, at.x, at.y, text, static_cast<int>(std::strlen(text)));
}

}  // namespace

void DisplayElapsedTime(HWND, HDC hDC) {
    SetBkMode(hDC, TRANSPARENT);
    FillMask(hDC, PANEL_ELAPSED);
    char strBuf[COUNTER_TEXT_BYTES];
    FormatCounter(elapsedTime, strBuf);
    PutText(hDC, PANEL_ELAPSED.label, ELAPSED_LABEL);
    PutText(hDC, PANEL_ELAPSED.value, strBuf);
}

void DisplayProgressBar(HWND, HDC hDC) {
    SetBkMode(hDC, TRANSPARENT);
    const int32_t value = progress;
    HBRUSH whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
    FillPanelRect(hDC, PROGRESS_BAR_RECT, whiteBrush);
    HBRUSH redBrush = CreateSolidBrush(RGB(255, 0, 0));
    FillPanelRect(hDC, ProgressFillRect(value), redBrush);
    FillMask(hDC, PANEL_PROGRESS);
    char progress_str[COUNTER_TEXT_BYTES];
    FormatCounter(value, progress_str);
    PutText(hDC, PANEL_PROGRESS.label, PROGRESS_LABEL);
    PutText(hDC, PANEL_PROGRESS.value, progress_str);
    DeleteObject(whiteBrush);
    DeleteObject(redBrush);
}

void DisplayStatus(HWND, HDC hDC) {
    SetBkMode(hDC, TRANSPARENT);
    FillMask(hDC, PANEL_STATUS);
    PutText(hDC, PANEL_STATUS.label, STATUS_LABEL);
    const char* word = StatusWord(flashStatus);
    if (word != nullptr) PutText(hDC, PANEL_STATUS.value, word);
}

void DisplayErrCounter(HWND, HDC hDC) {
    SetBkMode(hDC, TRANSPARENT);
    FillMask(hDC, PANEL_ERRORS);
    char strBuf[ERR_COUNTER_TEXT_BYTES];
    FormatErrCounter(errCounter, totalErrCounter, strBuf);
    PutText(hDC, PANEL_ERRORS.label, strBuf);
}

void DisplayDate(HWND, HDC hDC) {
    SetBkMode(hDC, TRANSPARENT);
    char dateText[DATE_TEXT_BYTES];
    if (ImageDateText(QUOTE(FW_FILE), dateText)) PutText(hDC, DATE_AT, dateText);
}

void DisplayLogo(HWND, HDC hDC) {
    // Loaded, scaled and freed on every call: the logo is small and the panel keeps no state.
    HBITMAP hBitmap2 = static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr),
                                                       MAKEINTRESOURCEA(_LOGO), IMAGE_BITMAP,
                                                       LOGO_WIDTH_PX, LOGO_HEIGHT_PX,
                                                       LR_DEFAULTCOLOR));
    if (hBitmap2 == nullptr) return;
    HDC hDC2 = CreateCompatibleDC(hDC);
    HGDIOBJ oldBitmap = SelectObject(hDC2, hBitmap2);
    BITMAP bm;
    GetObjectA(hBitmap2, sizeof bm, &bm);
    BitBlt(hDC, LOGO_AT.x, LOGO_AT.y, bm.bmWidth, bm.bmHeight, hDC2, 0, 0, SRCCOPY);
    SelectObject(hDC2, oldBitmap);
    DeleteDC(hDC2);
    DeleteObject(hBitmap2);
}
