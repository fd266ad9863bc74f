// A station's look at the link: requests that change nothing, and every byte that comes back.
#include <cstring>

#include "applink/applink.h"
#include "applink/frames.h"
#include "update/update.h"

namespace {

// Bytes one look reads at most; what is left waits on the line for the next look.
#define LOOK_READ_BYTES 64

HANDLE gLookLink = INVALID_HANDLE_VALUE;
uint8_t gTail[REPLY_CHARS];  // the latest bytes heard, in which a probe reply is put together
uint32_t gTailBytes = 0;
uint32_t gSilentLooks = 0;

void CloseLookLink() {
    if (gLookLink != INVALID_HANDLE_VALUE) CloseHandle(gLookLink);
    gLookLink = INVALID_HANDLE_VALUE;
    gTailBytes = 0;
    gSilentLooks = 0;
}

bool OpenLookLink() {
    gLookLink = OpenRunLink();
    if (gLookLink == INVALID_HANDLE_VALUE) return false;
    if (SelectedPLCIn(COM_PORT_MODELS)) SetupComLine(gLookLink);
    SetLinkTimeouts(gLookLink, LOOK_READ_MS);
    return true;
}

// True when the bytes complete a whole probe reply.
bool TakeBytes(const uint8_t* bytes, DWORD n) {
    bool answered = false;
    for (DWORD i = 0; i < n; ++i) {
        if (gTailBytes == REPLY_CHARS) {
            std::memmove(gTail, gTail + 1, REPLY_CHARS - 1);
            gTailBytes = REPLY_CHARS - 1;
        }
        gTail[gTailBytes++] = bytes[i];
        if (bytes[i] == '\n' && gTailBytes == REPLY_CHARS && gTail[0] == ':' && IsProbeReply(gTail))
            answered = true;
    }
    return answered;
}

}  // namespace

LinkPresence LookForPlc() {
    // A PLC named by its USB port has gone the moment its device is no longer there, whatever a
    // handle held on its old node still does.
    if (!RunLinkDeviceThere()) {
        CloseLookLink();
        return PRESENCE_NO_LINK;
    }
    if (gLookLink == INVALID_HANDLE_VALUE && !OpenLookLink()) return PRESENCE_NO_LINK;
    if (!SendWakeupFrame(gLookLink) || !SendProbeFrame(gLookLink)) {
        // A device that no longer takes bytes has left; the next look opens the link again.
        CloseLookLink();
        return PRESENCE_NO_LINK;
    }
    uint8_t rxBuf[LOOK_READ_BYTES];
    DWORD got = 0;
    ReadFile(gLookLink, rxBuf, sizeof rxBuf, &got, nullptr);
    if (got > sizeof rxBuf) got = 0;
    bool answered = TakeBytes(rxBuf, got);
    gSilentLooks = got > 0 ? 0 : gSilentLooks + 1;
    // A USB device that has gone may leave a handle that still takes bytes.
    if (SelectedPLCIn(USB_ATTACHED_MODELS) && gSilentLooks >= LOOK_REOPEN_SILENT_LOOKS)
        CloseLookLink();
    if (answered) return PRESENCE_ANSWERED;
    return got > 0 ? PRESENCE_HEARD : PRESENCE_SILENT;
}

void EndLook() {
    CloseLookLink();
}
