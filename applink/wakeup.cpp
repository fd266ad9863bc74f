#include "applink/applink.h"
#include "applink/exchange.h"
#include "applink/frames.h"
#include "catalogue/catalogue.h"

#define WAKEUP_WRITES 5
#define WAKEUP_TRAILING_READS 5

// The burst wakes the PLC's serial receiver and drains whatever is still arriving before the
// mode probe; nothing it receives is examined and nothing it does is counted as an error.
void DummyComm(HANDLE hSerial) {
    static const char txBuf[] = FRAME_WAKEUP;
    uint8_t rxBuf[WAKEUP_REPLY_CHARS];
    DWORD rxtxBytes = 0;
    if (SelectedPLCIn(COM_PORT_MODELS)) SetupComLine(hSerial);
    SetLinkTimeouts(hSerial, WAKEUP_TIMEOUT_MS);
    for (int i = 0; i < WAKEUP_WRITES; ++i) {
        WriteFile(hSerial, txBuf, sizeof txBuf - 1, &rxtxBytes, nullptr);
        ReadFile(hSerial, rxBuf, sizeof rxBuf, &rxtxBytes, nullptr);
    }
    for (int i = 0; i < WAKEUP_TRAILING_READS; ++i)
        ReadFile(hSerial, rxBuf, sizeof rxBuf, &rxtxBytes, nullptr);
}

bool SendWakeupFrame(HANDLE hSerial) {
    return WriteFrame(hSerial, FRAME_WAKEUP);
}
