// The main window: the program's entry and its window procedure, and the status panel.
//   - WinMain: window class, main window, model list, port list, "Start Burn", message loop
//   - WindowProcedure: repaint, elapsed seconds, port and model changes, "Start Burn", open file,
//     the question before a close abandons a run, the session's end held back during a run
//   - the six painters of the status panel, drawn from the shared run state
//   - command, control and timer ids; the result codes (catalogue/codes.h)
#pragma once

#include "catalogue/codes.h"
#include "platform/platform.h"
#include "update/update.h"  // ONESECONDTIMER

// Command and control ids. OPENFILE, PATHTEXT, FILEPATH and DATATEXT belong to configurations
// with a selectable image; no control of this window carries them.
#define OPENFILE 1
#define STARTBURN 2
#define PATHTEXT 3
#define FILEPATH 4
#define COMPORTLIST 7
#define PLCLIST 8
#define DATATEXT 9

// Repaints the status panel.
#define ONEHUNDREDMSTIMER 6

#define MAIN_WINDOW_TITLE "Korvel PLC Firmware Update Program"

// The window's own messages: the question before a run is abandoned, and a run that could not
// start.
#define CAPTION_CLOSE_DURING_RUN "WARNING"
#define MSG_CLOSE_DURING_RUN                                                                \
    "Firmware update is IN PROGRESS!\n\nIf the program is closed now, the PLC may be left " \
    "without working firmware.\n\nClose the program anyway?"
#define MSG_RUN_NOT_STARTED "CANNOT start the firmware update!!!"
// What the system shows as the reason why the session does not end during a run.
#define SHUTDOWN_BLOCK_REASON L"Firmware update in progress"
#define CAPTION_ERROR "ERROR"

LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Painters of the status panel; each draws one item into hDC from the shared run state.
void DisplayElapsedTime(HWND hwnd, HDC hDC);
void DisplayProgressBar(HWND hwnd, HDC hDC);
void DisplayStatus(HWND hwnd, HDC hDC);
void DisplayErrCounter(HWND hwnd, HDC hDC);
void DisplayDate(HWND hwnd, HDC hDC);
void DisplayLogo(HWND hwnd, HDC hDC);
