// Process-wide state shared by the window thread (or the command line's panel) and the update
// worker. Counters are Shared<> values (whole, relaxed atomics); the port name is copied under a
// lock so that a worker never opens a torn name.
#pragma once

#include <cstdint>

#include "catalogue/shared.h"
#include "platform/platform.h"

enum Status { IDLE = 0, ERASE = 1, PROGRAM = 2 };

// Parameter handed to the worker: the main window and the "Start Burn" button.
struct ParamStruct {
    HWND hwnd;
    HWND lParam;
};

#define PORT_NAME_BYTES 10  // 9 characters and the NUL

// Selection, written by the window thread.
extern Shared<uint32_t> selectedPLCIdx;
extern Shared<uint16_t> selectedPLCID;
extern char selectedPLC[15];
extern Shared<int32_t> ComSelidx;
extern HWND hComPortList;
extern int32_t totalComPort;
extern ParamStruct paramStruct;
extern Shared<int32_t> isFileChosed;

// selectedComPort: copied in and out whole under a lock.
void SetSelectedComPort(const char* name);
void GetSelectedComPort(char out[PORT_NAME_BYTES]);

// The phase word of flashStatus ("Idle", "Erasing", "Programming"); nullptr for any other value.
const char* StatusWord(int32_t status);

// Run state, written by the worker and read by the panel.
extern HANDLE hSerial;
extern HGLOBAL hGLOBAL;
extern unsigned char* fin;
extern Shared<uint32_t> fileLength;
extern Shared<int32_t> flashStatus;
extern Shared<int32_t> progress;
extern Shared<int32_t> errCounter;
extern Shared<int32_t> totalErrCounter;
extern Shared<int32_t> elapsedTime;
extern Shared<uint8_t> RP_fu_version;

// Run reset at the end of every run that opened its link: elapsedTime, flashStatus, progress,
// errCounter and totalErrCounter back to 0 (IDLE), hSerial closed, then the button enabled.
void ResetRunState(const ParamStruct* param);
