// The update run: the worker that performs one update from "Start Burn" to its final message.
//   - StartBurn: start of a run, size check, link opening, the probe loop, both stages, run end
//   - ONESECONDTIMER: the window's elapsed-time timer, which the worker stops before its final
//     message
#pragma once

#include "catalogue/catalogue.h"

#define ONESECONDTIMER 5

// The worker's entry, started on its own thread with the address of paramStruct.
void StartBurn(void* pParam);

// Front ends that are told a link by path (the command line's --port) open that instead of the
// listed COM port or the USB device; an empty text or nullptr goes back to the normal choice.
void SetLinkOverride(const char* path);
